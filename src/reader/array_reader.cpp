#include "reader/array_reader.h"

#include <algorithm>
#include <string>
#include <utility>

#include "failure/caller_error.h"
#include "reader/block_loop.h"
#include "reader/header_count.h"
#include "reader/polling_file.h"
#include "text/debug_text.h"
#include "text/tokens.h"
#include "text/utf8.h"

namespace quorvel {
namespace {

// Reads of 64 KiB: an eighth of the system calls of the list reader's 8 KiB, whose size that
// reader keeps.
using ArrayLineReader = BasicLineReader<PollingFile, 65536>;

// No header or name line is this long; a longer one is refused before it fills the memory (a file
// without line ends would be read whole as the first line).
constexpr std::size_t longest_short_line = std::size_t{1} << 20;

// Of a text from the file, at most this many bytes go into a message, then the text's length.
constexpr std::size_t longest_quote = 200;

std::string quoted(std::string_view text) {
  std::string out;
  append_quoted_text(out, text, '\'');
  return out;
}

// 1048576 as "1,048,576".
std::string grouped(std::uint64_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

// The text quoted, or its first bytes (whole characters) quoted, then "… (N bytes)".
std::string quoted_excerpt(std::string_view text) {
  if (text.size() <= longest_quote) return quoted(text);
  return quoted(text.substr(0, char_start(text, longest_quote))) + "\u2026 (" + grouped(text.size()) + " bytes)";
}

[[noreturn]] void defect(std::string reason, std::uint64_t line,
                         std::optional<std::uint64_t> column = std::nullopt) {
  throw PlotDefect{std::move(reason), line, column};
}

[[noreturn]] void line_unreadable(const IoError& error, std::uint64_t line) {
  if (error.kind() == ErrorKind::InvalidData) defect("the line is not valid UTF-8", line);
  defect("the line cannot be read: " + error.display(), line);
}

// Reads line `number` into `line`; false at the end of the file.
bool read_numbered_line(ArrayLineReader& lines, CurrentLine& line, std::uint64_t number) {
  auto got = lines.read_line(line.spill, line.text);
  if (!got) line_unreadable(got.error(), number);
  return *got == LineOutcome::Line;
}

// The same for the header (line 1) and the name lines after it, which are short.
bool read_short_line(ArrayLineReader& lines, CurrentLine& line, std::uint64_t number) {
  auto got = lines.read_line_within(line.spill, line.text, longest_short_line);
  if (!got) line_unreadable(got.error(), number);
  if (*got == LineOutcome::TooLong) {
    const std::string what = number == 1 ? "the first line" : "the line of parameter name " + std::to_string(number - 1);
    defect(what + " is longer than " + grouped(longest_short_line) + " bytes: this is not a plot file", number);
  }
  return *got == LineOutcome::Line;
}

std::uint64_t parameter_count(std::string_view header) {
  if (auto count = header_count(header).count) return *count;
  defect("the first line does not end with the number of parameters: " + quoted_excerpt(header), 1);
}

// The values of each block go into one row of the store: every value in file order, or (when
// `Everything` is false) the selected ones in their slots. Lines are counted as they are read, so
// that a defect names its line.
template <bool Everything>
class RowTarget {
 public:
  // `given_width`: the width the caller gave, which every value line must fit; 0 when it was found
  // from the first value line.
  RowTarget(const Selection& selection, RowStore& store, std::uint64_t line_number,
            platform::InterruptCheck interrupt, std::uint64_t values_per_block, std::uint64_t given_width)
      : selection_(selection),
        store_(store),
        line_number_(line_number),
        interrupt_(interrupt),
        values_per_block_(values_per_block),
        given_width_(given_width) {}

  std::uint64_t line_number() const noexcept { return line_number_; }

  // The separator line; false at the end of the file.
  bool next_block(ArrayLineReader& lines, CurrentLine& line) {
    if (!read_numbered_line(lines, line, ++line_number_)) return false;
    values_since_check_ += values_per_block_;
    if (values_since_check_ >= values_between_checks) {
      values_since_check_ = 0;
      if (interrupt_.stop_requested()) throw CallerError{};
    }
    row_ = store_.append_row();
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
      defect("the file ends inside block " + std::to_string(store_.rows()) + ": a value line is missing",
             line_number_);
    }
    const std::uint64_t fields = std::min(fields_per_line, values_left_);
    values_left_ -= fields;
    if (given_width_ != 0) check_fit(line.text, fields);
  }

  bool wants(std::uint64_t j) const noexcept {
    if constexpr (Everything) return true;
    return selection_.slot_of_value[j] >= 0;
  }

  void store(std::uint64_t j, float value) noexcept {
    if constexpr (Everything) {
      row_[j] = value;
    } else {
      row_[static_cast<std::size_t>(selection_.slot_of_value[j])] = value;
    }
  }

  void finish_block() noexcept {
    if constexpr (!Everything) {
      for (const auto& [from, to] : selection_.copies) row_[to] = row_[from];
    }
  }

  [[noreturn]] void field_out_of_bounds(std::uint64_t j, std::uint64_t start, std::uint64_t end,
                                        std::string_view line) const {
    defect(field_label(j) + " needs bytes " + std::to_string(start + 1) +
               " to " + std::to_string(end) + ", but the line has " + std::to_string(line.size()),
           line_number_, start + 1);
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
  // A line read with a width that is not the file's still cuts into fields that may parse (a
  // width-12 line read with 6 gives twenty half fields): so a line must end with its fields,
  // blanks aside, and a line of ten fields must reach the end of its tenth.
  void check_fit(std::string_view text, std::uint64_t fields) const {
    std::uint64_t needed;
    if (__builtin_mul_overflow(given_width_, fields, &needed)) needed = UINT64_MAX;
    if (text.size() == needed) [[likely]] return;
    if (text.size() > needed ? !blank(text.substr(needed)) : fields == fields_per_line) misfit(text, fields);
  }

  // Spaces and tabs, and the CR of a CR LF whose LF is missing (the file's last line).
  static constexpr std::string_view blanks = " \t\r";
  static bool blank(std::string_view text) noexcept { return text.find_first_not_of(blanks) == std::string_view::npos; }

  [[noreturn]] void misfit(std::string_view text, std::uint64_t fields) const {
    const std::uint64_t length = text.find_last_not_of(blanks) + 1;  // npos + 1 == 0
    std::string reason = "the field width " + std::to_string(given_width_) + " does not fit this file: ";
    if (length > 0 && length % fields == 0) {
      reason += "its value lines suggest " + std::to_string(length / fields) + " (" + std::to_string(length) +
                " bytes for " + std::to_string(fields) + " fields)";
    } else {
      reason += "this value line has " + std::to_string(length) + " bytes for " + std::to_string(fields) + " fields";
    }
    defect(std::move(reason), line_number_);
  }

  // Value j of a block as the line shows it: "field 1" to "field 10".
  static std::string field_label(std::uint64_t j) { return "field " + std::to_string(j % fields_per_line + 1); }

  const Selection& selection_;
  RowStore& store_;
  std::uint64_t line_number_;
  float* row_ = nullptr;
  bool held_ = false;
  // About 50 MB of a width-12 file between two looks at the caller's signals.
  static constexpr std::uint64_t values_between_checks = std::uint64_t{1} << 22;
  platform::InterruptCheck interrupt_;
  std::uint64_t values_per_block_;
  std::uint64_t values_since_check_ = 0;
  std::uint64_t given_width_;
  std::uint64_t values_left_ = 0;  // in the block, on the value lines not yet read
};

// The first value line's length over its field count, when that divides exactly.
std::uint64_t width_of(std::string_view first_value_line, std::uint64_t count, std::uint64_t line_number) {
  const std::uint64_t fields = std::min(fields_per_line, count);
  const std::uint64_t length = first_value_line.size();
  if (length >= fields && length % fields == 0) return length / fields;
  defect("the field width cannot be found: the first value line has " + std::to_string(length) +
             " bytes for " + std::to_string(fields) + " fields; give n_digits",
         line_number);
}

// The blocks into rows; gives the width read with (0 when it was to be found and no block came).
template <bool Everything>
std::uint64_t read_rows(ArrayLineReader& lines, CurrentLine& line, const ArrayRequest& request, std::uint64_t count,
                        const Selection& selection, RowStore& store) {
  RowTarget<Everything> target(selection, store, count + 1, request.interrupt, count, request.n_digits.value_or(0));
  std::uint64_t width = request.n_digits.value_or(0);
  if (!request.n_digits && target.next_block(lines, line)) {
    target.read_value_line(lines, line);
    width = width_of(line.text, count, target.line_number());
    target.hold_first_line();
    read_block_values(lines, line, width, count, target);
    target.finish_block();
  }
  while (target.next_block(lines, line)) {
    read_block_values(lines, line, width, count, target);
    target.finish_block();
  }
  return width;
}

}  // namespace

ArrayRead read_plot_arrays(const ArrayRequest& request) {
  auto file = platform::File::open_for_reading(request.path, request.interrupt);
  if (!file) {
    if (file.error().kind() == ErrorKind::Interrupted) throw CallerError{};
    throw OpenError{file.error()};
  }
  const std::optional<std::uint64_t> file_size = file->size_hint();
  ArrayLineReader lines(PollingFile(std::move(*file), request.interrupt));
  CurrentLine line;

  ArrayRead result;
  if (!read_short_line(lines, line, 1)) defect("the file is empty", 1);
  result.header = line.text;
  const std::uint64_t count = parameter_count(line.text);

  std::vector<std::string> names;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (!read_short_line(lines, line, i + 2)) {
      defect("the file ends before parameter name " + std::to_string(i + 1) + " of " + std::to_string(count), i + 2);
    }
    names.emplace_back(trim(line.text));
  }
  Selection selection = select_columns(request.columns, std::move(names));

  // A field takes at least its width in bytes (one, when the width is still to be found).
  const std::uint64_t least_width = std::max<std::uint64_t>(request.n_digits.value_or(1), 1);
  const std::uint64_t most_rows = file_size ? *file_size / least_width / count + 1 : 0;
  RowStore store(selection.names.size(), static_cast<std::size_t>(std::min<std::uint64_t>(most_rows, 1ULL << 40)));
  const std::uint64_t width = selection.everything
                                  ? read_rows<true>(lines, line, request, count, selection, store)
                                  : read_rows<false>(lines, line, request, count, selection, store);

  result.values = std::move(store);
  result.names = std::move(selection.names);
  result.n_digits = width;
  return result;
}

}  // namespace quorvel
