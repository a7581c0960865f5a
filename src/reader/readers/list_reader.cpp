#include "reader/readers/list_reader.h"

#include <algorithm>
#include <source_location>
#include <string>

#include "failure/caller_error.h"
#include "failure/failure.h"
#include "failure/std_writers.h"
#include "reader/layout/block_loop.h"
#include "reader/layout/header_count.h"
#include "text/debug_text.h"
#include "text/utf8.h"

namespace quorvel {
namespace {

std::uint64_t parameter_count(std::string_view header) {
  const HeaderCount found = header_count(header);
  if (found.count) return *found.count;
  if (found.last_token) {
    std::string notice = "Error: '";
    notice += *found.last_token;
    notice += "' is not a valid number of parameters!\n";
    print_stdout(notice);
  }
  std::string message = "The first line should end with the number of parameters:\n'";
  message += header;
  message += '\'';
  fail(std::move(message));
}

[[noreturn]] void fail_field_out_of_bounds(std::uint64_t end, std::size_t length) {
  fail("end byte index " + std::to_string(end) + " is out of bounds for string of length " +
       std::to_string(length));
}

[[noreturn]] void fail_field_inside_char(std::string_view line, std::size_t end) {
  const std::size_t first = char_start(line, end);
  const DecodedChar inside = decode_char_at(line, first);
  std::string message = "end byte index " + std::to_string(end) + " is not a char boundary; it is inside '";
  append_escaped_char(message, inside.code_point, '\'');
  message += "' (bytes " + std::to_string(first) + ".." + std::to_string(first + inside.length) +
             " of string)";
  fail(std::move(message));
}

// A line that must be there; the failure names the caller's line of the file's layout.
void read_line_or_fail(LineReader& lines, CurrentLine& line, const char* end_of_input_message,
                       std::source_location where = std::source_location::current()) {
  auto got = lines.read_line(line.spill, line.text);
  if (!got) fail_with("Failed to read line!", got.error(), where);
  if (*got == LineOutcome::EndOfInput) fail(end_of_input_message, where);
}

// Every value of a block goes to its column: value 0 to the first, value j to other column j - 1.
class ColumnTarget {
 public:
  explicit ColumnTarget(ColumnData& columns) noexcept : columns_(columns) {}

  void start_block() noexcept { column_ = &columns_.first; }

  void read_value_line(LineReader& lines, CurrentLine& line) { read_line_or_fail(lines, line, "Error reading line"); }

  static constexpr bool may_take_line() noexcept { return true; }
  static void took_value_line(std::string_view) noexcept {}

  static constexpr bool wants(std::uint64_t) noexcept { return true; }

  void store(std::uint64_t j, float value) {
    column_->push_back(value);
    column_ = columns_.others.data() + j;
  }

  [[noreturn]] static void field_out_of_bounds(std::uint64_t, std::uint64_t, std::uint64_t end,
                                               std::string_view line) {
    fail_field_out_of_bounds(end, line.size());
  }
  [[noreturn]] static void field_inside_char(std::uint64_t, std::uint64_t, std::uint64_t end,
                                             std::string_view line) {
    fail_field_inside_char(line, end);
  }
  [[noreturn]] static void field_refused(std::uint64_t, std::uint64_t, std::string_view,
                                         ParseFloatError error) {
    fail_with("Could not parse line", error);
  }

 private:
  ColumnData& columns_;
  Column* column_ = nullptr;
};

}  // namespace

ColumnData read_plot_file(std::string_view path, std::uint64_t n_digits, platform::InterruptCheck interrupt) {
  auto file = platform::File::open_for_reading(path, interrupt);
  if (!file) {
    if (file.error().kind() == ErrorKind::Interrupted) throw CallerError{};
    fail_with("Plot file not found!", file.error());
  }
  LineReader lines(FileSource(std::move(*file)));
  CurrentLine line;

  // "ot" as callers match it: keep the message letter for letter.
  read_line_or_fail(lines, line, "Failed ot read line!");
  const std::uint64_t count = parameter_count(line.text);

  // The parameter names are not part of the result; their lines only have to be there.
  for (std::uint64_t name = 0; name < count; ++name) read_line_or_fail(lines, line, "Failed to read line!");

  ColumnData columns(count - 1);
  ColumnTarget target(columns);

  for (;;) {
    auto separator = lines.read_line(line.spill, line.text);
    if (!separator) fail_with("Failed to read line!", separator.error());
    if (*separator == LineOutcome::EndOfInput) break;  // the only normal end of the file

    target.start_block();
    read_block_values(lines, line, n_digits, count, target);
  }
  return columns;
}

}  // namespace quorvel
