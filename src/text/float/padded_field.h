#pragma once
// The value of a fixed-width field as plot files write it: blanks, a sign or none, one digit, a
// point, four to eight digits, an exponent letter, a sign and two digits, filling the field to its
// end (" 1.23456E+03", "-1.23456789E-07"). Such a field is read with a handful of word operations
// and no branch that depends on the data; anything else is left to the general trim and parse.
// Files write one such layout throughout, one character (a blank or the sign) before the digits,
// so a reader that knows the width tries that exact layout first, with every position fixed.

#include <array>
#include <bit>
#include <cstdint>

#include "text/float/binary32.h"
#include "text/float/decimal_scan.h"
#include "text/float/eight_digits.h"
#include "text/float/fast_path.h"
#include "text/leading_spaces.h"
#include "text/word_load.h"

namespace quorvel {
namespace detail {

// The checks and the value once the digits' place is known. `digits` points at "d.", followed by
// `fraction_digits` (4..8) digits and "E±dd"; `wrong` is non-zero when what came before was
// already wrong; `sign_bit` is the binary32 sign bit the value takes (1 << 31 for '-', else 0).
[[gnu::always_inline]] inline bool padded_digits_value(const char* digits, std::uint64_t fraction_digits,
                                                       std::uint64_t wrong, std::uint32_t sign_bit,
                                                       float& value) noexcept {
  using float_parse::non_digit_bytes;
  // The first digit and the point, each less its expected character: a digit value and 0 (a
  // borrow out of the digit marks a byte that is wrong already).
  // (Loaded as a whole word: a 16-bit value kept on the stack may be read back wider, which the
  // processor cannot forward from the store.)
  const std::uint32_t head = (load_word<std::uint32_t>(digits) & 0xFFFFu) - 0x2E30u;
  // The fraction digits as values; the bytes past them are not looked at.
  const std::uint64_t fraction = load_word<std::uint64_t>(digits + 2) ^ 0x3030'3030'3030'3030;
  const std::uint64_t fraction_mask = ~std::uint64_t{0} >> (64 - 8 * fraction_digits);
  // The exponent part less "e+00" (the letter's case folded first): 0, 0 or 2 for the sign, and
  // two digit values. A byte that borrows here was already wrong, so no wrong field passes.
  const std::uint32_t tail = (load_word<std::uint32_t>(digits + 2 + fraction_digits) | 0x20u) - 0x3030'2B65u;
  wrong |= (head & 0xFFFF'FF00u) | (non_digit_bytes(head) & 0xF0u) | (non_digit_bytes(fraction) & fraction_mask) |
           (tail & 0x0000'FDFFu) | (non_digit_bytes(tail) & 0xF0F0'0000u);
  if (wrong != 0) return false;

  const std::uint64_t significand =
      (head & 0xFu) * float_parse::powers_of_ten_to_eight[fraction_digits] +
      float_parse::eight_digit_values(fraction << (8 * (8 - fraction_digits)));
  // Both exponent digits at once: (d1 + 256·d2) · 2561 = 2560·d1 + d1 + 256·2561·d2, which shifted
  // down by 8 and cut to a byte is 10·d1 + d2 (as 2561 leaves 1 modulo 256).
  const auto written_exponent = static_cast<std::int64_t>((((tail >> 16) * 2561) >> 8) & 0xFF);
  const std::int64_t exponent_sign = 1 - static_cast<std::int64_t>((tail >> 8) & 2);  // sign byte less '+' is 0 or 2
  const std::int64_t exponent = written_exponent * exponent_sign - static_cast<std::int64_t>(fraction_digits);
  if (!float_parse::exact_fast_path(significand, exponent, value)) return false;
  value = std::bit_cast<float>(std::bit_cast<std::uint32_t>(value) | sign_bit);
  return true;
}

// What a byte means as the single lead character: the binary32 sign bit for '-', nothing for a
// blank or '+', and 1 (wrong) for any other byte.
inline constexpr auto single_lead_meanings = [] {
  std::array<std::uint32_t, 256> meanings{};
  meanings.fill(1);
  meanings[' '] = 0;
  meanings['+'] = 0;
  meanings['-'] = float_parse::sign_bit;
  return meanings;
}();

}  // namespace detail

// Gives true and the correctly rounded value when the field has the form above and its value is
// within reach of the exact fast path; false otherwise, without having decided anything. Reads
// only the `width` bytes at `field`; needs `width` >= 10.
[[gnu::always_inline]] inline bool parse_padded_field(const char* field, std::size_t width, float& value) noexcept {
  // Leading blanks, up to eight, counted at once (a ninth is then no digit and fails the form).
  const char* p = field + leading_spaces_of_eight(field);
  const bool negative = *p == '-';
  p += static_cast<int>(negative) | static_cast<int>(*p == '+');
  // What is left is "d.", the fraction digits and "E±dd".
  const std::uint64_t fraction_digits = static_cast<std::uint64_t>(field + width - p) - 6;
  if (fraction_digits - 4 > 4) return false;
  return detail::padded_digits_value(p, fraction_digits, 0, static_cast<std::uint32_t>(negative) << 31, value);
}

// The single-lead layout of a known width: one lead character (a blank, '+' or '-'), then "d.",
// Width - 7 fraction digits and "E±dd". Gives true and the same value as the general parse when
// the field has that layout and its value is within the exact fast path; false otherwise.
template <std::size_t Width>
  requires(Width >= 11 && Width <= 15)  // four to eight fraction digits
[[gnu::always_inline]] inline bool parse_single_lead_field(const char* field, float& value) noexcept {
  const std::uint32_t lead = detail::single_lead_meanings[static_cast<unsigned char>(field[0])];
  return detail::padded_digits_value(field + 1, Width - 7, lead & 1, lead & float_parse::sign_bit, value);
}

}  // namespace quorvel
