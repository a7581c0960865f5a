// Debug rendering of text: quoted, with escapes that keep every character visible.

#include "text/debug_text.h"

#include <algorithm>

#include "text/unicode_tables.h"
#include "text/utf8.h"

namespace quorvel {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// \u{...}: lowercase hexadecimal, no leading zeros (zero itself is "0").
void append_unicode_escape(std::string& out, char32_t cp) {
  out += "\\u{";
  int shift = 20;
  while (shift > 0 && (cp >> shift) == 0) shift -= 4;
  for (; shift >= 0; shift -= 4) out.push_back(hex_digits[(cp >> shift) & 0xF]);
  out.push_back('}');
}

}  // namespace

bool is_printable(char32_t code_point) noexcept {
  // Most rendered text is printable ASCII; skip the search for it.
  if (code_point >= 0x20 && code_point < 0x7F) return true;
  const auto& table = unicode::not_printable;
  // The first range whose end reaches the code point is the only one that can hold it.
  const auto range = std::ranges::lower_bound(table, code_point, {}, &unicode::CodePointRange::last);
  return range == table.end() || code_point < range->first;
}

void append_escaped_char(std::string& out, char32_t code_point, char quote) {
  switch (code_point) {
    case U'\0': out += "\\0"; return;
    case U'\t': out += "\\t"; return;
    case U'\r': out += "\\r"; return;
    case U'\n': out += "\\n"; return;
    case U'\\': out += "\\\\"; return;
    case U'"':
    case U'\'':
      if (code_point == static_cast<unsigned char>(quote)) out.push_back('\\');
      out.push_back(static_cast<char>(code_point));
      return;
    default: break;
  }
  if (is_printable(code_point)) {
    append_utf8(out, code_point);
  } else {
    append_unicode_escape(out, code_point);
  }
}

void append_quoted_text(std::string& out, std::string_view text, char quote) {
  out.push_back(quote);
  std::size_t at = 0;
  while (at < text.size()) {
    const DecodedChar c = decode_char_at(text, at);
    append_escaped_char(out, c.code_point, quote);
    at += c.length;
  }
  out.push_back(quote);
}

}  // namespace quorvel
