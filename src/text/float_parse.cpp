// The 32-bit float parse: syntax scan, then the cheapest of three tiers that can decide the
// correctly rounded value — an exact binary64 operation, Eisel–Lemire, the big decimal.

#include "text/float_parse.h"

#include <bit>
#include <cstdint>

#include "text/float/big_decimal.h"
#include "text/float/binary32.h"
#include "text/float/decimal_scan.h"
#include "text/float/eisel_lemire.h"
#include "text/float/fast_path.h"

namespace quorvel {
namespace {

using float_parse::DecimalScan;

// Signs are random in the data: set the bit arithmetically, not behind a branch.
float with_sign(std::uint32_t bits, bool negative) noexcept {
  return std::bit_cast<float>(bits | static_cast<std::uint32_t>(negative) << 31);
}

// Eisel–Lemire on the significand, and when digits were dropped also on the significand plus one:
// the exact value lies between the two, so if both round alike that is its rounding.
std::int64_t eisel_lemire_bits(const DecimalScan& scan) noexcept {
  const std::int64_t bits = float_parse::eisel_lemire(scan.significand, scan.exponent);
  if (bits == float_parse::undecided || !scan.digits_dropped) return bits;
  const std::int64_t above = float_parse::eisel_lemire(scan.significand + 1, scan.exponent);
  return above == bits ? bits : float_parse::undecided;
}

// Rare: only near a halfway point does the truncated product leave the rounding open.
[[gnu::noinline, gnu::cold]] std::uint32_t big_decimal_bits(std::string_view text) noexcept {
  return float_parse::BigDecimal(text).to_binary32_bits();
}

// The cheapest tier that decides: one binary64 operation, then Eisel–Lemire, then the big
// decimal on the text.
[[gnu::always_inline]] inline float number_value(const DecimalScan& scan, std::string_view text) noexcept {
  float value;
  if (!scan.digits_dropped && float_parse::exact_fast_path(scan.significand, scan.exponent, value)) {
    return with_sign(std::bit_cast<std::uint32_t>(value), scan.negative);
  }
  const std::int64_t bits = eisel_lemire_bits(scan);
  if (bits != float_parse::undecided) return with_sign(static_cast<std::uint32_t>(bits), scan.negative);
  return with_sign(big_decimal_bits(text), scan.negative);
}

// The whole syntax; out of line, so that the common form's path stays small.
[[gnu::noinline]] std::expected<float, ParseFloatError> parse_any_form(std::string_view text) noexcept {
  if (text.empty()) return std::unexpected(ParseFloatError{ParseFloatError::Kind::Empty});
  const DecimalScan scan = float_parse::scan_decimal(text);
  switch (scan.form) {
    case DecimalScan::Form::Invalid:
      return std::unexpected(ParseFloatError{ParseFloatError::Kind::Invalid});
    case DecimalScan::Form::Infinity:
      return with_sign(float_parse::infinity_bits, scan.negative);
    case DecimalScan::Form::NotANumber:
      return with_sign(float_parse::quiet_nan_bits, scan.negative);
    case DecimalScan::Form::Number:
      break;
  }
  return number_value(scan, text);
}

}  // namespace

std::expected<float, ParseFloatError> parse_float32(std::string_view text) noexcept {
  if (DecimalScan scan; float_parse::scan_exponent_form(text, scan)) return number_value(scan, text);
  return parse_any_form(text);
}

}  // namespace quorvel
