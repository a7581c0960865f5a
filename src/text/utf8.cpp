// UTF-8 checking and decoding.
//
// The checker follows the table of well-formed byte sequences of the Unicode Standard: the second
// byte's range depends on the lead byte, which is how overlongs (E0, F0), surrogates (ED) and code
// points above U+10FFFF (F4) are excluded without decoding the value.

#include "text/utf8.h"

#include <cstdint>

#include "text/word_load.h"

namespace quorvel {
namespace {

constexpr std::uint64_t high_bits = 0x8080'8080'8080'8080ULL;

// Byte order does not matter here: the words are only or-ed and tested for high bits.
std::uint64_t word_at(const unsigned char* p) noexcept {
  return load_word<std::uint64_t>(reinterpret_cast<const char*>(p));
}

// Length of the well-formed multi-byte sequence at p (lead byte >= 0x80), or 0 when it is not.
std::size_t multi_byte_length(const unsigned char* p, std::size_t remaining) noexcept {
  const unsigned char lead = p[0];
  const std::size_t length = sequence_length_of_lead(lead);
  if (length < 2 || remaining < length) return 0;
  unsigned char second_min = 0x80;
  unsigned char second_max = 0xBF;
  if (lead == 0xE0) second_min = 0xA0;       // below: overlong
  else if (lead == 0xED) second_max = 0x9F;  // above: surrogates
  else if (lead == 0xF0) second_min = 0x90;  // below: overlong
  else if (lead == 0xF4) second_max = 0x8F;  // above: beyond U+10FFFF
  if (p[1] < second_min || p[1] > second_max) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!is_continuation_byte(p[i])) return 0;
  }
  return length;
}

}  // namespace

// No byte of 0x80 or more: one pass that ORs whole words together, with the last word
// overlapping the one before it rather than a byte loop for the tail.
bool is_ascii(std::string_view bytes) noexcept {
  const auto* const data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::uint64_t seen = 0;
  if (size < 8) {
    for (std::size_t i = 0; i < size; ++i) seen |= data[i];
    return (seen & 0x80) == 0;
  }
  std::size_t i = 0;
  for (; i + 32 <= size; i += 32) {
    seen |= word_at(data + i) | word_at(data + i + 8) | word_at(data + i + 16) | word_at(data + i + 24);
  }
  for (; i + 8 <= size; i += 8) seen |= word_at(data + i);
  seen |= word_at(data + size - 8);
  return (seen & high_bits) == 0;
}

bool is_valid_utf8(std::string_view bytes) noexcept {
  // Plot-file lines are ASCII throughout; only a line with other bytes is walked sequence by
  // sequence.
  return is_ascii(bytes) || valid_utf8_prefix(bytes) == bytes.size();
}

std::size_t valid_utf8_prefix(std::string_view bytes) noexcept {
  const auto* const data = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  std::size_t i = 0;
  while (i < size) {
    if (i + 8 <= size && (word_at(data + i) & high_bits) == 0) {
      i += 8;
      continue;
    }
    if (data[i] < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = multi_byte_length(data + i, size - i);
    if (length == 0) return i;
    i += length;
  }
  return size;
}

DecodedChar decode_char_at(std::string_view text, std::size_t at) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + at;
  const unsigned char lead = p[0];
  if (lead < 0x80) return {lead, 1};
  if (lead < 0xE0) return {static_cast<char32_t>(((lead & 0x1F) << 6) | (p[1] & 0x3F)), 2};
  if (lead < 0xF0) {
    return {static_cast<char32_t>(((lead & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F)), 3};
  }
  return {static_cast<char32_t>(((lead & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) |
                                (p[3] & 0x3F)),
          4};
}

DecodedChar decode_char_before(std::string_view text, std::size_t end) noexcept {
  // Well-formed text: at most three continuation bytes precede the character's end.
  std::size_t start = end - 1;
  while (start > 0 && end - start < 4 && is_continuation_byte(static_cast<unsigned char>(text[start]))) {
    --start;
  }
  return decode_char_at(text, start);
}

}  // namespace quorvel
