#include "reader/layout/plot_preamble.h"

#include <algorithm>

#include "reader/layout/header_count.h"
#include "reader/layout/plot_defect.h"
#include "text/tokens.h"

namespace quorvel {
namespace {

// No header or name line is this long; a longer one is refused before it fills the memory (a file
// without line ends would be read whole as the first line).
constexpr std::size_t longest_short_line = std::size_t{1} << 20;

// The header (line 1) and the name lines after it, which are short.
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

}  // namespace

bool read_numbered_line(ArrayLineReader& lines, CurrentLine& line, std::uint64_t number) {
  auto got = lines.read_line(line.spill, line.text);
  if (!got) line_unreadable(got.error(), number);
  return *got == LineOutcome::Line;
}

bool skip_numbered_line(ArrayLineReader& lines, std::uint64_t number) {
  auto got = lines.skip_line();
  if (!got) line_unreadable(got.error(), number);
  return *got == LineOutcome::Line;
}

std::optional<Preamble> read_preamble(ArrayLineReader& lines, CurrentLine& line, bool may_end_early) {
  Preamble preamble;
  if (!read_short_line(lines, line, 1)) {
    if (may_end_early) return std::nullopt;
    defect("the file is empty", 1);
  }
  preamble.header = line.text;
  const std::uint64_t count = parameter_count(line.text);
  for (std::uint64_t i = 0; i < count; ++i) {
    if (!read_short_line(lines, line, i + 2)) {
      if (may_end_early) return std::nullopt;
      defect("the file ends before parameter name " + std::to_string(i + 1) + " of " + std::to_string(count), i + 2);
    }
    preamble.names.emplace_back(trim(line.text));
  }
  preamble.parameters = count;
  return preamble;
}

std::uint64_t width_of(std::string_view first_value_line, std::uint64_t parameters, std::uint64_t line_number) {
  const std::uint64_t fields = std::min(fields_per_line, parameters);
  const std::uint64_t length = first_value_line.size();
  if (length >= fields && length % fields == 0) return length / fields;
  defect("the field width cannot be found: the first value line has " + std::to_string(length) +
             " bytes for " + std::to_string(fields) + " fields; give n_digits",
         line_number);
}

}  // namespace quorvel
