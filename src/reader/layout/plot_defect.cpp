#include "reader/layout/plot_defect.h"

#include <utility>

#include "text/debug_text.h"
#include "text/utf8.h"

namespace quorvel {
namespace {

// Of a text from the file, at most this many bytes go into a message, then the text's length.
constexpr std::size_t longest_quote = 200;

std::string quoted(std::string_view text) {
  std::string out;
  append_quoted_text(out, text, '\'');
  return out;
}

}  // namespace

void defect(std::string reason, std::uint64_t line, std::optional<std::uint64_t> column) {
  throw PlotDefect{std::move(reason), line, column};
}

void field_beyond_line(std::uint64_t field, std::uint64_t start, std::uint64_t end, std::uint64_t line_size,
                       std::uint64_t line) {
  defect("field " + std::to_string(field) + " needs bytes " + std::to_string(start + 1) + " to " +
             std::to_string(end) + ", but the line has " + std::to_string(line_size),
         line, start + 1);
}

void line_unreadable(const IoError& error, std::uint64_t line) {
  if (error.kind() == ErrorKind::InvalidData) defect("the line is not valid UTF-8", line);
  defect("the line cannot be read: " + error.display(), line);
}

std::string grouped(std::uint64_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
  return digits;
}

std::string quoted_excerpt(std::string_view text) {
  if (text.size() <= longest_quote) return quoted(text);
  return quoted(text.substr(0, char_start(text, longest_quote))) + "\u2026 (" + grouped(text.size()) + " bytes)";
}

}  // namespace quorvel
