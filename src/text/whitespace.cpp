// The White_Space test, tuned for text that is almost all ASCII.

#include "text/whitespace.h"

#include <array>
#include <cstdint>

namespace quorvel {
namespace {

// Tab, line feed, vertical tab, form feed, carriage return (U+0009..U+000D) and space.
constexpr std::uint64_t ascii_whitespace = 0b1'1111ULL << 0x09 | 1ULL << 0x20;

constexpr unsigned char latin1_bit = 1;   // U+0085..U+00FF
constexpr unsigned char general_bit = 2;  // U+2000..U+20FF

// Indexed by the low byte of the code point; one bit per 256-code-point page that holds
// whitespace beyond U+0084. Built here at compile time from the code point lists below.
constexpr std::array<unsigned char, 256> page_table = [] {
  std::array<unsigned char, 256> table{};
  for (unsigned low : {0x85u, 0xA0u}) table[low] |= latin1_bit;
  for (unsigned low = 0x00; low <= 0x0A; ++low) table[low] |= general_bit;
  for (unsigned low : {0x28u, 0x29u, 0x2Fu, 0x5Fu}) table[low] |= general_bit;
  return table;
}();

}  // namespace

bool is_whitespace(char32_t code_point) noexcept {
  if (code_point <= 0x20) return (ascii_whitespace >> code_point) & 1;
  if (code_point < 0x85) return false;
  const unsigned char bits = page_table[code_point & 0xFF];
  switch (code_point >> 8) {
    case 0x00: return bits & latin1_bit;
    case 0x20: return bits & general_bit;
    default: return code_point == 0x1680 || code_point == 0x3000;
  }
}

}  // namespace quorvel
