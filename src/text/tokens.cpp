// Whitespace tokens and trim over well-formed UTF-8.
//
// Plot files are almost all ASCII, so each scan tests single bytes first and decodes a character
// only when it meets a byte of 0x80 or more.

#include "text/tokens.h"

#include <cstddef>

#include "text/utf8.h"
#include "text/whitespace.h"

namespace quorvel {
namespace {

struct CharAt {
  bool whitespace;
  std::size_t length;
};

CharAt char_at(std::string_view text, std::size_t at) noexcept {
  const auto byte = static_cast<unsigned char>(text[at]);
  if (byte < 0x80) return {is_whitespace(byte), 1};
  const DecodedChar c = decode_char_at(text, at);
  return {is_whitespace(c.code_point), c.length};
}

CharAt char_before(std::string_view text, std::size_t end) noexcept {
  const auto byte = static_cast<unsigned char>(text[end - 1]);
  if (byte < 0x80) return {is_whitespace(byte), 1};
  const DecodedChar c = decode_char_before(text, end);
  return {is_whitespace(c.code_point), c.length};
}

}  // namespace

std::vector<std::string_view> whitespace_tokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t at = 0;
  while (at < text.size()) {
    // Skip separators.
    CharAt c = char_at(text, at);
    if (c.whitespace) {
      at += c.length;
      continue;
    }
    // A token runs to the next separator or the end.
    const std::size_t start = at;
    do {
      at += c.length;
    } while (at < text.size() && !(c = char_at(text, at)).whitespace);
    // Growth is fixed here rather than left to the library: 4 views first, then doubling.
    if (tokens.size() == tokens.capacity()) tokens.reserve(tokens.empty() ? 4 : tokens.capacity() * 2);
    tokens.push_back(text.substr(start, at - start));
  }
  return tokens;
}

std::string_view detail::trim_any_whitespace(std::string_view text) noexcept {
  std::size_t start = 0;
  std::size_t end = text.size();
  while (start < end) {
    const CharAt c = char_at(text, start);
    if (!c.whitespace) break;
    start += c.length;
  }
  while (end > start) {
    const CharAt c = char_before(text, end);
    if (!c.whitespace) break;
    end -= c.length;
  }
  return text.substr(start, end - start);
}

}  // namespace quorvel
