#pragma once
// The syntax scan: checks the whole text against the accepted forms and reads a decimal number
// into a significand of at most 19 significant digits and a decimal exponent.

#include <cstdint>
#include <string_view>

#include "text/digits.h"
#include "text/float/eight_digits.h"

namespace quorvel::float_parse {

// 19 digits always fit 64 bits (10^19 - 1 < 2^64); a 20th might not.
inline constexpr std::int64_t max_significand_digits = 19;

// Exponent digits stop counting once the value reaches this (2^62). The digit count of a text in
// memory stays far below it (under 2^48), so the sum of the written exponent and a shift by the
// digit count is always on the same side of every limit as the exact one; and the sum stays
// within 64 bits.
inline constexpr std::int64_t exponent_saturation = std::int64_t{1} << 62;

struct DecimalScan {
  enum class Form : std::uint8_t { Number, Infinity, NotANumber, Invalid };

  Form form = Form::Invalid;
  bool negative = false;
  // Set when significant digits beyond the nineteenth were cut off the significand.
  bool digits_dropped = false;
  std::uint64_t significand = 0;
  // The number is significand × 10^exponent (plus whatever the dropped digits held).
  std::int64_t exponent = 0;
};

inline constexpr std::uint64_t powers_of_ten_to_eight[9] = {1,         10,         100,
                                                          1'000,     10'000,     100'000,
                                                          1'000'000, 10'000'000, 100'000'000};

// Reads a run of digits into `value`, up to eight per step (which wraps silently past 19 digits;
// the caller re-reads).
[[gnu::always_inline]] inline const char* read_digits(const char* p, const char* end, std::uint64_t& value) noexcept {
  for (;;) {
    const auto available = static_cast<std::size_t>(end - p);
    if (available == 0) return p;
    const std::uint64_t word = available >= 8 ? load_eight(p) : load_fewer_than_eight(p, available);
    const unsigned count = leading_digit_count(word);
    if (count == 0) return p;
    // A lone digit (the integer part of a number in exponent form) needs no word arithmetic.
    value = value * powers_of_ten_to_eight[count] +
            (count == 1 ? digit_value(*p) : leading_digits_value(word, count));
    p += count;
    if (count < 8 || p == end || !is_digit(*p)) return p;
  }
}

// After the exponent letter: an optional sign and at least one digit. Returns nullptr when that
// does not match; otherwise the end of the digits and, in `exponent`, the signed value.
[[gnu::always_inline]] constexpr const char* read_exponent(const char* p, const char* end, std::int64_t& exponent) noexcept {
  // Signs come in random order in the data, so they are taken without a branch.
  const bool negative = p != end && *p == '-';
  p += negative || (p != end && *p == '+');
  if (p == end || !is_digit(*p)) return nullptr;
  // The usual two-digit exponent, without the loop.
  if (end - p == 2 && is_digit(p[1])) {
    const std::int64_t two_digits = digit_value(p[0]) * 10 + digit_value(p[1]);
    exponent = negative ? -two_digits : two_digits;
    return end;
  }
  std::int64_t value = 0;
  for (; p != end && is_digit(*p); ++p) {
    if (value < exponent_saturation / 10) value = value * 10 + digit_value(*p);
  }
  exponent = negative ? -value : value;
  return p;
}

// Matches `name` (lower case) without regard to the case of ASCII letters. Or-ing 0x20 maps only
// the upper-case letter onto its lower-case one among the letters compared here.
constexpr bool equals_ignoring_case(std::string_view text, std::string_view name) noexcept {
  if (text.size() != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if ((text[i] | 0x20) != name[i]) return false;
  }
  return true;
}

constexpr DecimalScan::Form special_name(std::string_view text) noexcept {
  if (equals_ignoring_case(text, "inf") || equals_ignoring_case(text, "infinity")) {
    return DecimalScan::Form::Infinity;
  }
  if (equals_ignoring_case(text, "nan")) return DecimalScan::Form::NotANumber;
  return DecimalScan::Form::Invalid;
}

// More than 19 digits were read, so the significand may have wrapped: skip the leading zeros,
// and if more than 19 significant digits remain, keep the first 19 and move the exponent.
inline void keep_leading_digits(const char* digits_begin, const char* end, std::int64_t digit_count,
                                DecimalScan& scan) noexcept {
  const char* p = digits_begin;
  for (; p != end && (*p == '0' || *p == '.'); ++p) {
    if (*p == '0') --digit_count;
  }
  if (digit_count <= max_significand_digits) return;  // only leading zeros: nothing wrapped
  std::uint64_t significand = 0;
  for (std::int64_t kept = 0; kept < max_significand_digits; ++p) {
    if (*p == '.') continue;
    significand = significand * 10 + digit_value(*p);
    ++kept;
  }
  scan.significand = significand;
  scan.exponent += digit_count - max_significand_digits;
  scan.digits_dropped = true;
}

// '+' or '-' and nothing else: the two differ only in the bit 0x02 of their distance from '+'.
constexpr bool is_sign(char c) noexcept { return (static_cast<unsigned char>(c - '+') & 0xFD) == 0; }

static_assert([] {
  for (int byte = 0; byte < 256; ++byte) {
    if (is_sign(static_cast<char>(byte)) != (byte == '+' || byte == '-')) return false;
  }
  return true;
}());

// The form in which plot files write every value: a sign or none, one digit, a point, up to
// eight digits and a signed two-digit exponent ("1.23456E+03", "-1.23456789E-07"). Settled in
// straight-line code when at least eight bytes follow the point; anything else is left to the
// general scan. At most nine digits: none is dropped. Both signs come at random in the data, so
// they are read arithmetically and the checks are joined without branching between them.
[[gnu::always_inline]] inline bool scan_exponent_form(std::string_view text, DecimalScan& scan) noexcept {
  if (text.size() < 10) return false;
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool negative = *p == '-';
  p += static_cast<int>(negative) | static_cast<int>(*p == '+');
  if (end - p < 10) return false;
  const std::uint64_t word = load_eight(p + 2);
  const unsigned fraction_digits = leading_digit_count(word);
  const char* const e = p + 2 + fraction_digits;
  if (end - e != 4) return false;
  const bool matches = is_digit(p[0]) & (p[1] == '.') & ((e[0] | 0x20) == 'e') & is_sign(e[1]) &
                       is_digit(e[2]) & is_digit(e[3]);
  if (!matches) return false;
  // At least four fraction digits: ten bytes from the digit on, of which the exponent takes four.
  const std::uint64_t fraction = leading_digits_value(word, fraction_digits);
  const std::int64_t written_exponent = digit_value(e[2]) * 10 + digit_value(e[3]);
  const std::int64_t flip = -static_cast<std::int64_t>(e[1] == '-');  // all ones for '-'
  scan.form = DecimalScan::Form::Number;
  scan.negative = negative;
  scan.significand = digit_value(p[0]) * powers_of_ten_to_eight[fraction_digits] + fraction;
  scan.exponent = ((written_exponent ^ flip) - flip) - fraction_digits;
  return true;
}

// The whole of `text` (not empty) must match; otherwise the form is Invalid.
[[gnu::always_inline]] inline DecimalScan scan_decimal(std::string_view text) noexcept {
  // Locals, not the result's members, so the hot loops keep them in registers.
  const char* p = text.data();
  const char* const end = p + text.size();
  const bool negative = *p == '-';
  p += negative || *p == '+';
  const char* const digits_begin = p;
  std::uint64_t significand = 0;
  p = read_digits(p, end, significand);
  std::int64_t digit_count = p - digits_begin;
  std::int64_t exponent = 0;
  if (p != end && *p == '.') {
    const char* const fraction_begin = ++p;
    p = read_digits(p, end, significand);
    exponent = -(p - fraction_begin);
    digit_count += p - fraction_begin;
  }
  DecimalScan scan;
  scan.negative = negative;
  if (digit_count == 0) {
    // No digit at all: a special name, unless a point was taken (".", ".e1", "-.").
    if (p == digits_begin) scan.form = special_name({p, end});
    return scan;
  }
  if (p != end && (*p == 'e' || *p == 'E')) {
    std::int64_t written_exponent = 0;
    p = read_exponent(p + 1, end, written_exponent);
    if (p == nullptr) return scan;
    exponent += written_exponent;
  }
  if (p != end) return scan;
  scan.form = DecimalScan::Form::Number;
  scan.significand = significand;
  scan.exponent = exponent;
  if (digit_count > max_significand_digits) keep_leading_digits(digits_begin, end, digit_count, scan);
  return scan;
}

}  // namespace quorvel::float_parse
