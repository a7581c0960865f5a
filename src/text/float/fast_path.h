#pragma once
// The fast path: a significand below 2^53 and a power of ten of at most 10^22 are both exact
// binary64 values, so one correctly rounded binary64 multiplication or division gives the value
// to 53 bits. Narrowing that to binary32 rounds a second time, which is still the correct
// binary32 rounding unless the first rounding landed exactly on a point halfway between two
// binary32 values; that case is left to the slower tiers.
//
// Why: every halfway point h between adjacent binary32 values (normal or subnormal) is itself a
// binary64 value. Rounding is monotonic, so x < h gives d <= h and x > h gives d >= h for the
// binary64 rounding d of the exact value x; with d != h, d lies strictly on the same side of
// every halfway point as x, and so rounds to the same binary32.

#include <array>
#include <bit>
#include <cfloat>
#include <cstdint>

namespace quorvel::float_parse {

// Each operation must round once, in binary64 itself, not in a wider register format.
static_assert(FLT_EVAL_METHOD == 0);

inline constexpr std::uint64_t max_exact_integer = std::uint64_t{1} << 53;
inline constexpr int max_exact_power = 22;  // 10^22 = 2^22 · 5^22 and 5^22 < 2^53

// 10^0 .. 10^22, each exact in binary64 (checked below against integer powers where they fit).
inline constexpr std::array<double, max_exact_power + 1> exact_powers_of_ten = [] {
  std::array<double, max_exact_power + 1> powers{};
  double power = 1.0;
  for (double& entry : powers) {
    entry = power;
    power *= 10.0;
  }
  return powers;
}();

static_assert([] {
  std::uint64_t power = 1;
  for (int e = 0; e <= 19; ++e, power *= 10) {
    if (static_cast<std::uint64_t>(exact_powers_of_ten[e]) != power) return false;
  }
  return exact_powers_of_ten[22] == 1e22;
}());

// Multiplier and divisor for exponents -22..22, one of the pair always 1 (which is exact), so
// that only one operation rounds and the exponent's sign costs no branch.
inline constexpr int exact_exponent_count = 2 * max_exact_power + 1;
inline constexpr std::array<double, exact_exponent_count> fast_multipliers = [] {
  std::array<double, exact_exponent_count> factors{};
  for (int e = -max_exact_power; e <= max_exact_power; ++e) {
    factors[e + max_exact_power] = e > 0 ? exact_powers_of_ten[e] : 1.0;
  }
  return factors;
}();
inline constexpr std::array<double, exact_exponent_count> fast_divisors = [] {
  std::array<double, exact_exponent_count> factors{};
  for (int e = -max_exact_power; e <= max_exact_power; ++e) {
    factors[e + max_exact_power] = e < 0 ? exact_powers_of_ten[-e] : 1.0;
  }
  return factors;
}();

// The 29 binary64 significand bits that narrowing drops; a binary64 in the normal binary32 range
// lies halfway between two binary32 values exactly when they read 1 followed by zeros. With
// significand < 2^53 and |exponent| <= 22 every non-zero result lies between 10^-22 and 2^53 · 10^22,
// inside the normal binary32 range (2^-126 .. 2^128), so no other case arises.
inline constexpr std::uint64_t dropped_bits_mask = (std::uint64_t{1} << 29) - 1;
inline constexpr std::uint64_t halfway_pattern = std::uint64_t{1} << 28;

// A halfway result is still decided when the binary64 operation was exact: the value then is the
// halfway point itself, and narrowing rounds it once, to even, as it must. A product below 2^53 is
// an integer below 2^53, hence exact (a rounded product below 2^53 has an exact one below it too,
// 2^53 being representable); such ties are common (673604000 lies halfway between two binary32
// values). Quotients are not told apart and are always left to the slower tiers.
inline constexpr double first_inexact_product = 0x1p53;

// Only for a significand that lost no digits. Returns false when the path does not apply (an
// out-parameter rather than an optional keeps the value in a register).
[[gnu::always_inline]] inline bool exact_fast_path(std::uint64_t significand, std::int64_t exponent,
                                                   float& value) noexcept {
  if (significand >= max_exact_integer || exponent < -max_exact_power || exponent > max_exact_power) {
    return false;
  }
  const auto index = static_cast<std::size_t>(exponent + max_exact_power);
  const double rounded = static_cast<double>(significand) * fast_multipliers[index] / fast_divisors[index];
  if ((std::bit_cast<std::uint64_t>(rounded) & dropped_bits_mask) == halfway_pattern) [[unlikely]] {
    if (exponent < 0 || !(rounded < first_inexact_product)) return false;
  }
  value = static_cast<float>(rounded);
  return true;
}

}  // namespace quorvel::float_parse
