#pragma once
// The one loop that reads a file a chunk at a time for a count: the line-feed counts and
// searches of a scan, a parallel count's parts and the seeks to a block all go through it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>

#include "reader/lines/file_source.h"
#include "reader/scan/block_counter.h"

namespace quorvel {

// Large enough that a read costs little beside the count, small enough to stay in the cache.
inline constexpr std::size_t count_chunk_bytes = std::size_t{1} << 18;

// Hands `take(bytes, size)` what `source` gives, a chunk at a time, until the end or until
// `take` gives true (it has what it wanted). Gives the error of a read that failed; a broken pipe
// ends the file.
template <class Take>
std::optional<IoError> read_chunks(FileSource& source, Take&& take) {
  auto buffer = std::make_unique_for_overwrite<char[]>(count_chunk_bytes);
  for (;;) {
    auto got = source.read(std::span<char>(buffer.get(), count_chunk_bytes));
    if (!got) {
      if (got.error().kind() == ErrorKind::BrokenPipe) return std::nullopt;
      return std::move(got.error());
    }
    if (*got == 0 || take(static_cast<const char*>(buffer.get()), *got)) return std::nullopt;
  }
}

// Feeds `counter` what `source` gives, to its end or, with `enough_line_feeds`, until the counter
// has seen that many (nothing is read when it has already).
std::optional<IoError> count_chunks(FileSource& source, BlockCounter& counter,
                                    std::optional<std::uint64_t> enough_line_feeds = std::nullopt);

}  // namespace quorvel
