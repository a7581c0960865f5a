#include "reader/scan/block_guess.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace quorvel {
namespace {

// The bytes at [begin, begin + size), fewer where the file ends or a read fails.
std::vector<char> bytes_at(PlotInput& file, std::uint64_t begin, std::size_t size) {
  std::vector<char> bytes(size);
  std::size_t got = 0;
  while (got < size) {
    auto read = file.read_at(begin + got, std::span<char>(bytes.data() + got, size - got));
    if (!read || *read == 0) break;
    got += *read;
  }
  bytes.resize(got);
  return bytes;
}

std::uint64_t times_saturated(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product;
  return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}

// Whole lines read from byte `begin` on: where each starts (and where the line after the last
// starts), and its length without its line end.
struct Lines {
  std::uint64_t begin = 0;
  std::vector<std::size_t> starts{};
  std::vector<std::uint64_t> lengths{};
};

// The first `wanted` whole lines of `bytes`, after the line it starts inside when `mid_line`.
std::optional<Lines> whole_lines(const std::vector<char>& bytes, std::uint64_t begin, bool mid_line, std::uint64_t wanted) {
  Lines lines{.begin = begin};
  std::size_t at = 0;
  if (mid_line) {
    const void* feed = std::memchr(bytes.data(), '\n', bytes.size());
    if (feed == nullptr) return std::nullopt;
    at = static_cast<std::size_t>(static_cast<const char*>(feed) - bytes.data()) + 1;
  }
  while (lines.starts.size() < wanted) {
    const void* feed = std::memchr(bytes.data() + at, '\n', bytes.size() - at);
    if (feed == nullptr) return std::nullopt;
    const auto end = static_cast<std::size_t>(static_cast<const char*>(feed) - bytes.data());
    lines.starts.push_back(at);
    lines.lengths.push_back(end - at - (end > at && bytes[end - 1] == '\r' ? 1 : 0));
    at = end + 1;
  }
  lines.starts.push_back(at);
  return lines;
}

// The first `wanted` whole lines that start at or after `scope.from`, read a growing window at a
// time: two blocks are usually far fewer bytes than the guess may read.
std::optional<Lines> lines_after(PlotInput& file, const GuessScope& scope, std::uint64_t wanted) {
  // The byte before `from` too: a line starts at `from` when it is a line feed.
  const bool mid_line = scope.from > scope.floor;
  const std::uint64_t begin = mid_line ? scope.from - 1 : scope.from;
  const std::uint64_t limit = scope.most_bytes + (scope.from - begin);
  for (std::uint64_t size = std::min<std::uint64_t>(limit, 65536);; size = std::min(limit, 2 * size)) {
    const std::vector<char> bytes = bytes_at(file, begin, static_cast<std::size_t>(size));
    if (auto lines = whole_lines(bytes, begin, mid_line, wanted)) return lines;
    if (size == limit || bytes.size() < size) return std::nullopt;
  }
}

}  // namespace

std::optional<GuessedBlock> guess_block_start(PlotInput& file, const Preamble& preamble, std::uint64_t width,
                                              const GuessScope& scope) {
  const std::uint64_t per_block = preamble.lines_per_block();
  // Two blocks' worth of whole lines but one: every laying of a block over them is then whole.
  const std::optional<Lines> lines = lines_after(file, scope, 2 * per_block - 1);
  if (!lines) return std::nullopt;
  const std::uint64_t begin = lines->begin;
  const std::vector<std::size_t>& starts = lines->starts;
  const std::vector<std::uint64_t>& lengths = lines->lengths;
  // Every line is a block's separator.
  if (per_block == 1) return GuessedBlock{.offset = begin + starts[0], .bytes = starts[1] - starts[0]};

  const std::uint64_t full = times_saturated(width, fields_per_line);
  const std::uint64_t left = preamble.parameters % fields_per_line;
  const std::uint64_t last = times_saturated(width, left == 0 ? fields_per_line : left);
  // short_before[i]: lines before line i too short for ten fields.
  std::vector<std::uint64_t> short_before(lengths.size() + 1, 0);
  for (std::size_t i = 0; i < lengths.size(); ++i) short_before[i + 1] = short_before[i] + (lengths[i] < full ? 1 : 0);
  const auto is_short = [&](std::size_t i) -> std::uint64_t { return lengths[i] < full ? 1 : 0; };

  // Separator at line p: the lines before it end the block before (line p - 1 its last value
  // line), lines p + 1 to p + per_block - 1 are this block's value lines (the last one the shorter).
  std::optional<std::size_t> fitting;
  for (std::size_t p = 0; p < per_block; ++p) {
    const std::size_t last_line = p + per_block - 1;
    std::uint64_t short_full_lines = short_before[last_line + 1] - is_short(p) - is_short(last_line);
    if (p > 0) short_full_lines -= is_short(p - 1);
    const bool fits = short_full_lines == 0 && lengths[last_line] >= last && (p == 0 || lengths[p - 1] >= last);
    if (!fits) continue;
    if (fitting) return std::nullopt;
    fitting = p;
  }
  if (!fitting) return std::nullopt;
  return GuessedBlock{.offset = begin + starts[*fitting], .bytes = starts[*fitting + per_block] - starts[*fitting]};
}

}  // namespace quorvel
