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

// The length of the longest well-formed prefix of `bytes`.
std::size_t valid_utf8_prefix(std::string_view bytes) noexcept;

// 10xxxxxx: a byte inside a multi-byte character, never the start of one.
constexpr bool is_continuation_byte(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// The length of the sequence a lead byte starts (1 to 4), or 0 for a byte that starts none.
constexpr std::size_t sequence_length_of_lead(unsigned char lead) noexcept {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;  // stray continuation, C0/C1 overlong leads, F5..FF
}

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
  return !is_continuation_byte(static_cast<unsigned char>(text[at]));
}

// On well-formed text: where the character holding byte `at` starts.
inline std::size_t char_start(std::string_view text, std::size_t at) noexcept {
  while (!is_char_boundary(text, at)) --at;
  return at;
}

}  // namespace quorvel
