#pragma once
// Counting line feeds at memory speed: blocks of a plot file are found purely by counting lines,
// so a scan of a file is a count of its line feeds, with no per-byte branch. Sixteen bytes at a
// time where the processor has 16-byte vectors (32 where it has those too), eight (as one word)
// elsewhere.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace quorvel {

// The line feeds among the `size` bytes at `p`.
std::uint64_t count_line_feeds(const char* p, std::size_t size) noexcept;

// x86-64 compilers that can build code for 32-byte vectors beside the baseline, chosen when the
// program runs.
#if defined(__x86_64__) && defined(__GNUC__)
#define QUORVEL_WIDE_VECTORS 1
#else
#define QUORVEL_WIDE_VECTORS 0
#endif

// The two ways of counting, each testable on any processor that runs it.
namespace line_feeds_detail {
std::uint64_t count_portable(const char* p, std::size_t size) noexcept;
std::uint64_t count_wide(const char* p, std::size_t size) noexcept;  // the portable one without wide vectors
bool wide_vectors() noexcept;
}  // namespace line_feeds_detail

struct LineFeedSearch {
  std::optional<std::size_t> at;  // the index of the line feed sought; nothing when there are fewer
  std::uint64_t seen = 0;         // the line feeds passed when there are fewer
};

// The `n`-th line feed (from 1, `n` at least 1) among the `size` bytes at `p`.
LineFeedSearch nth_line_feed(const char* p, std::size_t size, std::uint64_t n) noexcept;

}  // namespace quorvel
