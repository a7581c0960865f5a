#include "reader/block_guess.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace quorvel {
namespace {

// The bytes at [begin, begin + size), fewer where the file ends or a read fails.
std::vector<char> bytes_at(platform::File& file, std::uint64_t begin, std::size_t size) {
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

}  // namespace

std::optional<GuessedBlock> guess_block_start(platform::File& file, const Preamble& preamble, std::uint64_t width,
                                              const GuessScope& scope) {
  // The byte before `from` too: a line starts at `from` when it is a line feed.
  const std::uint64_t begin = scope.from > scope.floor ? scope.from - 1 : scope.from;
  const std::vector<char> bytes = bytes_at(file, begin, static_cast<std::size_t>(scope.most_bytes + (scope.from - begin)));
  std::size_t first = 0;
  if (scope.from > scope.floor) {
    const void* feed = std::memchr(bytes.data(), '\n', bytes.size());
    if (feed == nullptr) return std::nullopt;
    first = static_cast<std::size_t>(static_cast<const char*>(feed) - bytes.data()) + 1;
  }
  const std::uint64_t per_block = preamble.lines_per_block();
  // Two blocks' worth of whole lines but one: every laying of a block over them is then whole.
  // Where the line after them starts too, for the length of the last block laid.
  const std::uint64_t wanted = 2 * per_block - 1;
  std::vector<std::size_t> starts;
  std::vector<std::uint64_t> lengths;
  std::size_t at = first;
  while (starts.size() < wanted) {
    const void* feed = std::memchr(bytes.data() + at, '\n', bytes.size() - at);
    if (feed == nullptr) return std::nullopt;
    const auto end = static_cast<std::size_t>(static_cast<const char*>(feed) - bytes.data());
    starts.push_back(at);
    lengths.push_back(end - at - (end > at && bytes[end - 1] == '\r' ? 1 : 0));
    at = end + 1;
  }
  starts.push_back(at);
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
