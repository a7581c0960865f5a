#pragma once
// Counting line feeds at memory speed: blocks of a plot file are found purely by counting lines,
// so a scan of a file is a count of its line feeds, with no per-byte branch. Sixteen bytes at a
// time where the processor has 16-byte vectors, eight (as one word) elsewhere.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace quorvel {

// The line feeds among the `size` bytes at `p`.
std::uint64_t count_line_feeds(const char* p, std::size_t size) noexcept;

struct LineFeedSearch {
  std::optional<std::size_t> at;  // the index of the line feed sought; nothing when there are fewer
  std::uint64_t seen = 0;         // the line feeds passed when there are fewer
};

// The `n`-th line feed (from 1, `n` at least 1) among the `size` bytes at `p`.
LineFeedSearch nth_line_feed(const char* p, std::size_t size, std::uint64_t n) noexcept;

}  // namespace quorvel
