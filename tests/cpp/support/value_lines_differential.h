#pragma once
// The value lines of blocks read twice: through the block loop as every reader runs it (the line
// parser first, taking lines from the buffer ahead, then the per-field parse for what it leaves)
// and through the loop's general per-field path alone. Both must give the same values, bit for
// bit, and stop at the same defect (kind, value, bytes, text). Shared by the C++ test and the
// fuzz target.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/io_error.h"
#include "reader/layout/block_loop.h"
#include "reader/lines/line_reader.h"

namespace quorvel::test_support {

// Bytes held in memory, given a few at a time when `chunk` is set (so that lines span refills).
class MemorySource {
 public:
  MemorySource(std::string_view bytes, std::size_t chunk) : bytes_(bytes), chunk_(chunk) {}
  std::expected<std::size_t, IoError> read(std::span<char> into) {
    std::size_t n = std::min(into.size(), bytes_.size() - at_);
    if (chunk_ != 0) n = std::min(n, chunk_);
    std::memcpy(into.data(), bytes_.data() + at_, n);
    at_ += n;
    return n;
  }
  bool exhausted() const noexcept { return at_ == bytes_.size(); }

 private:
  std::string_view bytes_;
  std::size_t chunk_;
  std::size_t at_ = 0;
};

struct ValueLinesOutcome {
  std::vector<std::uint64_t> stored;  // (value index << 32 | float bits), in the order stored
  std::string defect;                 // empty when every block was read

  bool operator==(const ValueLinesOutcome&) const = default;
};

struct StopAtDefect {};

// Stores into `outcome`; `skip` > 0 leaves every skip-th value unwanted, `first_lines_unwanted` every
// value of a block's first, third, ... line. With `Rows`, every value is kept in a row, as the
// array readers keep them, which the block loop may parse whole lines into; the row's values go
// to `outcome` when the block ends, or as far as they were stored when a defect stops it.
template <class Lines, bool Rows = false>
class RecordingTarget {
 public:
  RecordingTarget(ValueLinesOutcome& outcome, std::uint64_t skip, bool first_lines_unwanted, std::uint64_t count = 0)
      : outcome_(outcome), skip_(skip), first_lines_unwanted_(first_lines_unwanted), row_(Rows ? count : 0) {}

  void read_value_line(Lines& lines, CurrentLine& line) {
    auto got = lines.read_line(line.spill, line.text);
    if (!got) stop("unreadable line: " + got.error().display());
    if (*got == LineOutcome::EndOfInput) stop("a value line is missing");
  }
  bool may_take_line() const noexcept { return true; }
  void took_value_line(std::string_view) noexcept {}
  bool wants_line(std::uint64_t j) const noexcept { return !first_lines_unwanted_ || j / 10 % 2 == 1; }
  bool wants(std::uint64_t j) const noexcept { return wants_line(j) && (skip_ == 0 || j % skip_ != 1); }
  void store(std::uint64_t j, float value) {
    if constexpr (Rows) {
      row_[j] = value;
      stored_ = j + 1;
    } else {
      outcome_.stored.push_back(j << 32 | std::bit_cast<std::uint32_t>(value));
    }
  }
  float* line_values(std::uint64_t j)
    requires Rows
  {
    line_start_ = j;
    return row_.data() + j;
  }
  void took_value_lines(std::uint64_t lines)
    requires Rows
  {
    stored_ = line_start_ + 10 * lines;
  }
  void finish_block() {
    for (std::uint64_t j = 0; j < stored_; ++j) outcome_.stored.push_back(j << 32 | std::bit_cast<std::uint32_t>(row_[j]));
    stored_ = 0;
  }
  [[noreturn]] void field_out_of_bounds(std::uint64_t j, std::uint64_t start, std::uint64_t end, std::string_view line) {
    stop("out of bounds: value " + std::to_string(j) + " bytes " + std::to_string(start) + ".." + std::to_string(end) +
         " of " + std::to_string(line.size()));
  }
  [[noreturn]] void field_inside_char(std::uint64_t j, std::uint64_t start, std::uint64_t end, std::string_view line) {
    stop("inside a character: value " + std::to_string(j) + " bytes " + std::to_string(start) + ".." +
         std::to_string(end) + " of " + std::to_string(line.size()));
  }
  [[noreturn]] void field_refused(std::uint64_t j, std::uint64_t start, std::string_view field, ParseFloatError error) {
    stop("refused: value " + std::to_string(j) + " at " + std::to_string(start) + " '" + std::string(field) +
         "' kind " + std::to_string(static_cast<int>(error.kind)));
  }

 private:
  [[noreturn]] void stop(std::string message) {
    finish_block();
    outcome_.defect = std::move(message);
    throw StopAtDefect{};
  }
  ValueLinesOutcome& outcome_;
  std::uint64_t skip_;
  bool first_lines_unwanted_;
  std::vector<float> row_;
  std::uint64_t stored_ = 0;      // the row's values stored, from its first
  std::uint64_t line_start_ = 0;  // where the block loop parses whole lines into
};

// Blocks of `count` values each from `text` (value lines only) until it ends or a defect; with
// `general`, through the per-field path alone; with `Rows`, into rows (every value wanted). A
// line reader of 256 bytes (1 KiB for rows, so that it holds runs of lines), refilled `chunk`
// bytes at a time (0: as many as fit), so that lines lie in the buffer, at its end, or across
// refills.
template <bool Rows = false>
ValueLinesOutcome read_value_lines_of(std::string_view text, std::uint64_t width, std::uint64_t count,
                                      std::uint64_t skip, bool general, std::size_t chunk,
                                      bool first_lines_unwanted = false) {
  using Lines = BasicLineReader<MemorySource, Rows ? 1024 : 256>;
  ValueLinesOutcome outcome;
  Lines lines(MemorySource(text, chunk));
  CurrentLine line;
  RecordingTarget<Lines, Rows> target(outcome, Rows ? 0 : skip, Rows ? false : first_lines_unwanted, count);
  try {
    while (!(lines.unread().empty() && lines.source().exhausted())) {
      if (general) {
        block_loop::read_value_lines<0>(lines, line, width, count, target);
      } else {
        read_block_values(lines, line, width, count, target);
      }
      target.finish_block();
    }
  } catch (const StopAtDefect&) {
  }
  return outcome;
}

}  // namespace quorvel::test_support
