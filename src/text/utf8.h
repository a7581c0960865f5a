#pragma once
// UTF-8 well-formedness and character decoding over text already known to be well-formed.

#include <cstddef>
#include <string_view>

namespace quorvel {

// No byte of 0x80 or more (ASCII text is well-formed UTF-8).
bool is_ascii(std::string_view bytes) noexcept;

// Well-formed as the Unicode Standard defines it: no overlongs, no surrogates, nothing above
// U+10FFFF, no stray continuation bytes, no truncated sequences.
bool is_valid_utf8(std::string_view bytes) noexcept;

// On well-formed text: the code point starting at `at`, and its length in bytes.
struct DecodedChar {
  char32_t code_point;
  std::size_t length;
};
DecodedChar decode_char_at(std::string_view text, std::size_t at) noexcept;
// On well-formed text: the code point ending just before `end`, and its length in bytes.
DecodedChar decode_char_before(std::string_view text, std::size_t end) noexcept;

inline bool is_char_boundary(std::string_view text, std::size_t at) noexcept {
  if (at == 0 || at == text.size()) return true;
  if (at > text.size()) return false;
  return (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80;
}

}  // namespace quorvel
