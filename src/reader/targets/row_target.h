#pragma once
// The block loop's target for the array readers: the values of each block go into one row, every
// value in file order or (when `Everything` is false) the selected ones in their slots. Lines are
// counted as they are read, so that a defect names its line, and blocks from the first one read,
// so that a read of a part of the file names the block a read of the whole would.
//
// `Rows` gives room for the next row (`float* append_row()`) and counts the rows given
// (`rows()`): the growing RowStore, or a RowWindow into a matrix shared by several parts.

#include <algorithm>
#include <cstring>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "failure/caller_error.h"
#include "reader/layout/block_loop.h"
#include "reader/layout/plot_defect.h"
#include "reader/layout/plot_preamble.h"
#include "reader/layout/width_fit.h"
#include "reader/targets/selection.h"
#include "text/debug_text.h"
#include "text/utf8.h"

namespace quorvel {

// Rows `[0, rows)` of a matrix that others fill around; rows past them go on in `overflow`, when
// one is given, else to a scratch row (the block after a part, read only to report its defect).
class RowWindow {
 public:
  RowWindow(float* first_row, std::size_t row_length, std::size_t rows, std::span<float> scratch) noexcept
      : first_row_(first_row), row_length_(row_length), rows_(rows), scratch_(scratch) {}
  RowWindow(float* first_row, std::size_t row_length, std::size_t rows, std::vector<float>& overflow) noexcept
      : first_row_(first_row), row_length_(row_length), rows_(rows), overflow_(&overflow) {}

  float* append_row() {
    float* row;
    if (given_ < rows_) {
      row = first_row_ + given_ * row_length_;
    } else if (overflow_ == nullptr) {
      row = scratch_.data();
    } else {
      overflow_->resize(overflow_->size() + row_length_);
      row = overflow_->data() + (overflow_->size() - row_length_);
    }
    ++given_;
    return row;
  }
  std::size_t rows() const noexcept { return given_; }

 private:
  float* first_row_;
  std::size_t row_length_;
  std::size_t rows_;
  std::span<float> scratch_;
  std::vector<float>* overflow_ = nullptr;
  std::size_t given_ = 0;
};

template <bool Everything, class Rows>
class RowTarget {
 public:
  // `line_number`: the line before the first block's separator; `first_block`: that block's index
  // in the file. `given_width`: the width the caller gave, which every value line must fit; 0 when
  // it was found from the first value line.
  RowTarget(const Selection& selection, Rows& rows, std::uint64_t line_number, std::uint64_t first_block,
            platform::InterruptCheck interrupt, std::uint64_t values_per_block, std::uint64_t given_width)
      : selection_(selection),
        rows_(rows),
        line_number_(line_number),
        first_block_(first_block),
        interrupt_(interrupt),
        values_per_block_(values_per_block),
        given_width_(given_width) {
    if constexpr (!Everything) {
      line_wanted_.assign((selection.slot_of_value.size() + fields_per_line - 1) / fields_per_line, false);
      for (std::size_t j = 0; j < selection.slot_of_value.size(); ++j) {
        if (selection.slot_of_value[j] >= 0) line_wanted_[j / fields_per_line] = true;
      }
    }
  }

  std::uint64_t line_number() const noexcept { return line_number_; }

  // The separator line, passed over; false at the end of the file.
  bool next_block(ArrayLineReader& lines) {
    if (!skip_numbered_line(lines, ++line_number_)) return false;
    values_since_check_ += values_per_block_;
    if (values_since_check_ >= values_between_checks) {
      values_since_check_ = 0;
      if (interrupt_.stop_requested()) throw CallerError{};
    }
    row_ = rows_.append_row();
    values_left_ = values_per_block_;
    return true;
  }

  // A value line already read (the one the width was found from) is taken first.
  void hold_first_line() noexcept { held_ = true; }

  void read_value_line(ArrayLineReader& lines, CurrentLine& line) {
    if (held_) {
      held_ = false;
      return;
    }
    if (!read_numbered_line(lines, line, ++line_number_)) {
      defect("the file ends inside block " + std::to_string(first_block_ + rows_.rows()) + ": a value line is missing",
             line_number_);
    }
    const std::uint64_t fields = std::min(fields_per_line, values_left_);
    values_left_ -= fields;
    if (given_width_ != 0) check_width_fits(line.text, given_width_, fields, line_number_);
  }

  bool may_take_line() const noexcept { return !held_; }

  // A line of ten fields the block loop took from the line reader's buffer itself.
  void took_value_line(std::string_view text) {
    ++line_number_;
    values_left_ -= fields_per_line;
    if (given_width_ != 0) check_width_fits(text, given_width_, fields_per_line, line_number_);
  }

  // Where values j .. of the block go, when every value is kept in file order.
  float* line_values(std::uint64_t j) const noexcept
    requires Everything
  {
    return row_ + j;
  }
  // `lines` lines of ten fields, each exactly ten widths long, parsed there.
  void took_value_lines(std::uint64_t lines) noexcept
    requires Everything
  {
    line_number_ += lines;
    values_left_ -= lines * fields_per_line;
  }

  bool wants(std::uint64_t j) const noexcept {
    if constexpr (Everything) return true;
    return selection_.slot_of_value[j] >= 0;
  }

  // Whether any value of the line that starts at value j is kept.
  bool wants_line(std::uint64_t j) const noexcept {
    if constexpr (Everything) return true;
    return line_wanted_[j / fields_per_line];
  }

  void store(std::uint64_t j, float value) noexcept {
    if constexpr (Everything) {
      row_[j] = value;
    } else {
      row_[static_cast<std::size_t>(selection_.slot_of_value[j])] = value;
    }
  }

  // Values j .. j + 9, all wanted, in file order.
  void store_ten(std::uint64_t j, const float* values) noexcept
    requires Everything
  {
    std::memcpy(row_ + j, values, fields_per_line * sizeof(float));
  }

  void finish_block() noexcept {
    if constexpr (!Everything) {
      for (const auto& [from, to] : selection_.copies) row_[to] = row_[from];
    }
  }

  [[noreturn]] void field_out_of_bounds(std::uint64_t j, std::uint64_t start, std::uint64_t end,
                                        std::string_view line) const {
    field_beyond_line(j % fields_per_line + 1, start, end, line.size(), line_number_);
  }
  [[noreturn]] void field_inside_char(std::uint64_t j, std::uint64_t start, std::uint64_t end,
                                      std::string_view line) const {
    std::string inside;
    append_escaped_char(inside, decode_char_at(line, char_start(line, end)).code_point, '\'');
    defect(field_label(j) + " ends inside the character '" + inside + "'",
           line_number_, start + 1);
  }
  [[noreturn]] void field_refused(std::uint64_t j, std::uint64_t start, std::string_view field,
                                  ParseFloatError error) const {
    if (error.kind == ParseFloatError::Kind::Empty) defect(field_label(j) + " is empty", line_number_, start + 1);
    defect(field_label(j) + " is not a number: " + quoted_excerpt(field), line_number_, start + 1);
  }

 private:
  // Value j of a block as the line shows it: "field 1" to "field 10".
  static std::string field_label(std::uint64_t j) { return "field " + std::to_string(j % fields_per_line + 1); }

  const Selection& selection_;
  Rows& rows_;
  std::uint64_t line_number_;
  std::uint64_t first_block_;
  float* row_ = nullptr;
  bool held_ = false;
  // About 50 MB of a width-12 file between two looks at the caller's signals.
  static constexpr std::uint64_t values_between_checks = std::uint64_t{1} << 22;
  platform::InterruptCheck interrupt_;
  std::uint64_t values_per_block_;
  std::uint64_t values_since_check_ = 0;
  std::uint64_t given_width_;
  std::uint64_t values_left_ = 0;  // in the block, on the value lines not yet read
  std::vector<bool> line_wanted_;  // by value line of a block, when only some values are kept
};

// Blocks into rows until `blocks` were read or the file ends (a block the file ends inside is a
// defect). Gives the blocks read.
template <bool Everything, class Rows>
std::uint64_t read_blocks(ArrayLineReader& lines, CurrentLine& line, RowTarget<Everything, Rows>& target,
                          std::uint64_t width, std::uint64_t parameters, std::uint64_t blocks) {
  std::uint64_t read = 0;
  while (read < blocks && target.next_block(lines)) {
    read_block_values(lines, line, width, parameters, target);
    target.finish_block();
    ++read;
  }
  return read;
}

}  // namespace quorvel
