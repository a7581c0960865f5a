#include "reader/reader.h"

#include <algorithm>
#include <source_location>
#include <string>

#include "failure/caller_error.h"
#include "failure/failure.h"
#include "text/debug_text.h"
#include "failure/std_writers.h"
#include "platform/platform.h"
#include "text/float_parse.h"
#include "reader/line_reader.h"
#include "reader/padded_field.h"
#include "text/tokens.h"
#include "text/unsigned_parse.h"
#include "text/utf8.h"

namespace quorvel {
namespace {

// The file as the line reader reads it. The file gives Interrupted only when the caller's check
// said stop: that ends the call with the caller's own error.
class StoppableFile {
 public:
  explicit StoppableFile(platform::File file) noexcept : file_(std::move(file)) {}
  std::expected<std::size_t, IoError> read(std::span<char> into) {
    auto got = file_.read(into);
    if (!got && got.error().kind() == ErrorKind::Interrupted) [[unlikely]] throw CallerError{};
    return got;
  }

 private:
  platform::File file_;
};

using LineReader = BasicLineReader<StoppableFile>;

constexpr std::uint64_t fields_per_line = 10;

// The header's last token is the parameter count. A count of 0 cannot describe a block (there
// would be no time column), so it is refused like a count that is not a number.
std::uint64_t parameter_count(std::string_view header) {
  const std::vector<std::string_view> tokens = whitespace_tokens(header);
  if (!tokens.empty()) {
    const std::string_view token = tokens.back();
    if (auto count = parse_unsigned_decimal(token); count && *count > 0) return *count;
    std::string notice = "Error: '";
    notice += token;
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
  std::size_t first = end;
  while (!is_char_boundary(line, first)) --first;
  const DecodedChar inside = decode_char_at(line, first);
  std::string message = "end byte index " + std::to_string(end) + " is not a char boundary; it is inside '";
  append_escaped_char(message, inside.code_point, '\'');
  message += "' (bytes " + std::to_string(first) + ".." + std::to_string(first + inside.length) +
             " of string)";
  fail(std::move(message));
}

// Fails unless the field ending at `end` lies in the current value line and ends on a character
// boundary. Fields are cut in increasing order from byte 0, so their start has already passed as
// the end of the field before.
void check_field_end(std::string_view line, std::uint64_t end) {
  if (end > line.size()) fail_field_out_of_bounds(end, line.size());
  // A continuation byte is the only kind that is not a boundary; the ASCII byte the line reader
  // keeps just past every line makes its end one without a separate test.
  if (is_continuation_byte(static_cast<unsigned char>(line.data()[end]))) fail_field_inside_char(line, end);
}

// Any field but the plot files' own layout: the general trim and parse, which give the same value
// for that layout too. Out of line, with its failure, so that the loop around the short path
// stays small.
[[gnu::noinline]] float general_field_value(const char* field, std::uint64_t width) {
  auto parsed = parse_float32(trim(std::string_view(field, width)));
  if (!parsed) fail_with("Could not parse line", parsed.error());
  return *parsed;
}

float field_value(const char* field, std::uint64_t width) {
  float value;
  if (width >= 10 && parse_padded_field(field, width, value)) [[likely]] return value;
  return general_field_value(field, width);
}

// The same for a width known when compiling, whose single-lead layout is tried first.
template <std::uint64_t Width>
float field_value(const char* field) {
  float value;
  if (parse_single_lead_field<Width>(field, value)) [[likely]] return value;
  return field_value(field, Width);
}

// The line being looked at: a view into the line reader's buffer, or into `spill` for a line
// that spanned refills.
struct CurrentLine {
  std::string spill;
  std::string_view text;
};

// A line that must be there; the failure names the caller's line of the file's layout.
void read_line_or_fail(LineReader& lines, CurrentLine& line, const char* end_of_input_message,
                       std::source_location where = std::source_location::current()) {
  auto got = lines.read_line(line.spill, line.text);
  if (!got) fail_with("Failed to read line!", got.error(), where);
  if (*got == LineOutcome::EndOfInput) fail(end_of_input_message, where);
}

// The value lines of one block: value j goes to the first column for j = 0, else to other column
// j - 1. `Width` is the field width when it is fixed at compile time, else 0.
template <std::uint64_t Width>
void read_value_lines(LineReader& lines, CurrentLine& line, std::uint64_t width, ColumnData& columns) {
  const std::uint64_t count = columns.others.size() + 1;
  Column* column = &columns.first;
  for (std::uint64_t j = 0; j < count;) {
    read_line_or_fail(lines, line, "Error reading line");
    const std::uint64_t fields = std::min(fields_per_line, count - j);
    // An ASCII line long enough for all its fields has every field end on a boundary.
    bool ends_checked = false;
    if constexpr (Width != 0) ends_checked = lines.line_known_ascii() && line.text.size() >= fields * Width;
    std::uint64_t start = 0;
    for (std::uint64_t k = 0; k < fields; ++k, ++j) {
      if (!ends_checked) check_field_end(line.text, start + width);
      if constexpr (Width != 0) {
        column->push_back(field_value<Width>(line.text.data() + start));
      } else {
        column->push_back(field_value(line.text.data() + start, width));
      }
      column = columns.others.data() + j;
      start += width;
    }
  }
}

// The widths plot files are written with get a loop of their own; any other width is served too.
void read_block(LineReader& lines, CurrentLine& line, std::uint64_t width, ColumnData& columns) {
  switch (width) {
    case 11: return read_value_lines<11>(lines, line, width, columns);
    case 12: return read_value_lines<12>(lines, line, width, columns);
    case 13: return read_value_lines<13>(lines, line, width, columns);
    case 14: return read_value_lines<14>(lines, line, width, columns);
    case 15: return read_value_lines<15>(lines, line, width, columns);
    default: return read_value_lines<0>(lines, line, width, columns);
  }
}

}  // namespace

ColumnData read_plot_file(std::string_view path, std::uint64_t n_digits, platform::InterruptCheck interrupt) {
  auto file = platform::File::open_for_reading(path, interrupt);
  if (!file) {
    if (file.error().kind() == ErrorKind::Interrupted) throw CallerError{};
    fail_with("Plot file not found!", file.error());
  }
  LineReader lines(StoppableFile(std::move(*file)));
  CurrentLine line;

  // "ot" as callers match it: keep the message letter for letter.
  read_line_or_fail(lines, line, "Failed ot read line!");
  const std::uint64_t count = parameter_count(line.text);

  // The parameter names are not part of the result; their lines only have to be there.
  for (std::uint64_t name = 0; name < count; ++name) read_line_or_fail(lines, line, "Failed to read line!");

  ColumnData columns(count - 1);

  for (;;) {
    auto separator = lines.read_line(line.spill, line.text);
    if (!separator) fail_with("Failed to read line!", separator.error());
    if (*separator == LineOutcome::EndOfInput) break;  // the only normal end of the file

    read_block(lines, line, n_digits, columns);
  }
  return columns;
}

}  // namespace quorvel
