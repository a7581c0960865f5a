#include "reader/layout/width_fit.h"

#include <string>

#include "reader/layout/block_loop.h"
#include "reader/layout/plot_defect.h"

namespace quorvel {
namespace {

// Spaces and tabs, and the CR of a CR LF whose LF is missing (the file's last line).
constexpr std::string_view blanks = " \t\r";

bool blank(std::string_view text) noexcept { return text.find_first_not_of(blanks) == std::string_view::npos; }

[[noreturn]] void misfit(std::string_view text, std::uint64_t width, std::uint64_t fields, std::uint64_t line_number) {
  const std::uint64_t length = text.find_last_not_of(blanks) + 1;  // npos + 1 == 0
  std::string reason = "the field width " + std::to_string(width) + " does not fit this file: ";
  if (length > 0 && length % fields == 0) {
    reason += "its value lines suggest " + std::to_string(length / fields) + " (" + std::to_string(length) +
              " bytes for " + std::to_string(fields) + " fields)";
  } else {
    reason += "this value line has " + std::to_string(length) + " bytes for " + std::to_string(fields) + " fields";
  }
  defect(std::move(reason), line_number);
}

}  // namespace

void check_line_misfit(std::string_view text, std::uint64_t width, std::uint64_t fields, std::uint64_t line_number) {
  std::uint64_t needed;
  if (__builtin_mul_overflow(width, fields, &needed)) needed = UINT64_MAX;
  if (text.size() == needed) return;
  if (text.size() > needed ? !blank(text.substr(needed)) : fields == fields_per_line) misfit(text, width, fields, line_number);
}

void check_first_line_fits(std::string_view text, std::uint64_t width, std::uint64_t fields, std::uint64_t line_number) {
  check_width_fits(text, width, fields, line_number);
  if (width == 0) return;
  const std::uint64_t reached = text.size() / width;  // whole fields the line holds
  if (reached < fields) field_beyond_line(reached + 1, reached * width, reached * width + width, text.size(), line_number);
}

}  // namespace quorvel
