#include "reader/parallel_count.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "reader/block_guess.h"
#include "reader/parallel_parts.h"
#include "reader/polling_file.h"

namespace quorvel {
namespace {

constexpr std::size_t count_buffer_size = std::size_t{1} << 18;
constexpr std::uint64_t most_guess_bytes = std::uint64_t{8} << 20;

// Feeds `counter` the bytes from `from` to `end` (to the end of the file: nothing); false when a
// read fails.
bool count_stretch(platform::File& file, BlockCounter& counter, std::uint64_t from, std::optional<std::uint64_t> end,
                   platform::InterruptCheck check) {
  PollingFile source(file, check, from);
  if (end) source.end_at(*end);
  auto buffer = std::make_unique_for_overwrite<char[]>(count_buffer_size);
  for (;;) {
    auto got = source.read(std::span<char>(buffer.get(), count_buffer_size));
    if (!got) return got.error().kind() == ErrorKind::BrokenPipe;
    if (*got == 0) return true;
    counter.feed(buffer.get(), *got);
  }
}

}  // namespace

PartsCounted count_in_parts(platform::File& file, BlockCounter& counter, const CountInParts& scope) {
  const std::size_t parts = scope.parts;
  const std::uint64_t bytes = scope.end - scope.from;
  std::vector<std::uint64_t> starts(parts + 1, scope.from);
  for (std::size_t k = 1; k < parts; ++k) {
    const std::uint64_t cut = scope.from + bytes * k / parts;
    const auto block = guess_block_start(file, *scope.preamble, scope.width,
                                         {.from = cut, .floor = scope.data_start,
                                          .most_bytes = std::min(scope.end - cut, most_guess_bytes)});
    if (!block || block->offset <= starts[k - 1]) return PartsCounted::not_split;
    starts[k] = block->offset;
  }

  const std::uint64_t per_block = scope.preamble->lines_per_block();
  const std::size_t entries = BlockIndex::most_entries / parts;
  std::vector<std::optional<BlockCounter>> later(parts);
  std::vector<char> read_whole(parts, 0);
  ParallelParts counting(parts, scope.interrupt);
  counting.run([&](std::size_t k) {
    BlockCounter* into = &counter;
    if (k > 0) into = &later[k].emplace(per_block, 0, starts[k], starts[k], 0, entries);
    const std::optional<std::uint64_t> end = k + 1 < parts ? std::optional(starts[k + 1]) : std::nullopt;
    read_whole[k] = count_stretch(file, *into, starts[k], end, counting.check_for(k)) ? 1 : 0;
  });
  for (std::size_t k = 1; k < parts; ++k) {
    if (!read_whole[k - 1] || counter.offset() != starts[k] || !counter.at_block_start()) return PartsCounted::wrong;
    counter.absorb(*later[k]);
  }
  return read_whole[parts - 1] ? PartsCounted::counted : PartsCounted::wrong;
}

}  // namespace quorvel
