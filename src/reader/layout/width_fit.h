#pragma once
// Whether a value line fits the field width the caller gave. A line read with a width that is not
// the file's still cuts into fields that may parse (a width-12 line read with 6 gives twenty half
// fields): so a line must end with its fields, blanks aside, and a line of ten fields must reach
// the end of its tenth. A read checks every value line; a scan, the first.

#include <cstdint>
#include <string_view>

namespace quorvel {

// Throws PlotDefect for a line, of `fields` fields, that the width does not fit; what it says
// is left to the out-of-line part.
void check_line_misfit(std::string_view text, std::uint64_t width, std::uint64_t fields, std::uint64_t line_number);

// As check_width_fits, for the first value line of a scan, which parses no field: a line too short
// for its fields also fails, as the read of its fields would (the first field past its end).
void check_first_line_fits(std::string_view text, std::uint64_t width, std::uint64_t fields, std::uint64_t line_number);

inline void check_width_fits(std::string_view text, std::uint64_t width, std::uint64_t fields,
                             std::uint64_t line_number) {
  std::uint64_t needed;
  if (!__builtin_mul_overflow(width, fields, &needed) && text.size() == needed) [[likely]] return;
  check_line_misfit(text, width, fields, line_number);
}

}  // namespace quorvel
