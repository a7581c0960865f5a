// The 32-bit float parse: syntax scan, then the cheapest of three tiers that can decide the
// correctly rounded value — Clinger's fast path, Eisel–Lemire, the big decimal.

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

float with_sign(std::uint32_t bits, bool negative) noexcept {
  return std::bit_cast<float>(negative ? bits | float_parse::sign_bit : bits);
}

// Eisel–Lemire on the significand, and when digits were dropped also on the significand plus one:
// the exact value lies between the two, so if both round alike that is its rounding.
std::optional<std::uint32_t> eisel_lemire_bits(const DecimalScan& scan) noexcept {
  const auto bits = float_parse::eisel_lemire(scan.significand, scan.exponent);
  if (!bits || !scan.digits_dropped) return bits;
  const auto above = float_parse::eisel_lemire(scan.significand + 1, scan.exponent);
  if (above != bits) return std::nullopt;
  return bits;
}

// Rare: only near a halfway point does the truncated product leave the rounding open.
[[gnu::noinline, gnu::cold]] std::uint32_t big_decimal_bits(std::string_view text) noexcept {
  return float_parse::BigDecimal(text).to_binary32_bits();
}

}  // namespace

std::expected<float, ParseFloatError> parse_float32(std::string_view text) noexcept {
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
  if (!scan.digits_dropped) {
    if (const auto value = float_parse::clinger_fast_path(scan.significand, scan.exponent)) {
      return scan.negative ? -*value : *value;
    }
  }
  if (const auto bits = eisel_lemire_bits(scan)) return with_sign(*bits, scan.negative);
  return with_sign(big_decimal_bits(text), scan.negative);
}

}  // namespace quorvel
