#pragma once
// Clinger's fast path: a significand of at most 2^24 and a power of ten of at most 10^10 are both
// exact binary32 values, so one correctly rounded multiplication or division gives the answer.

#include <array>
#include <cfloat>
#include <cstdint>

namespace quorvel::float_parse {

// The single rounding must happen in binary32 itself, not in a wider register format.
static_assert(FLT_EVAL_METHOD == 0);

inline constexpr std::uint64_t max_exact_integer = std::uint64_t{1} << 24;
inline constexpr int max_exact_power = 10;  // 10^10 = 2^10 · 5^10 and 5^10 < 2^24

// 10^0 .. 10^10, each product exact in binary32 (checked below against integer powers).
inline constexpr std::array<float, max_exact_power + 1> exact_powers_of_ten = [] {
  std::array<float, max_exact_power + 1> powers{};
  float power = 1.0f;
  for (float& entry : powers) {
    entry = power;
    power *= 10.0f;
  }
  return powers;
}();

inline constexpr std::array<std::uint64_t, 8> small_integer_powers_of_ten = [] {
  std::array<std::uint64_t, 8> powers{};
  std::uint64_t power = 1;
  for (std::uint64_t& entry : powers) {
    entry = power;
    power *= 10;
  }
  return powers;
}();

static_assert([] {
  std::uint64_t power = 1;
  for (float entry : exact_powers_of_ten) {
    if (static_cast<std::uint64_t>(entry) != power) return false;
    power *= 10;
  }
  return true;
}());

// Multiplier and divisor for exponents -10..10, one of the pair always 1, so that only one
// operation rounds and the exponent's sign costs no branch.
inline constexpr int exact_exponent_count = 2 * max_exact_power + 1;
inline constexpr std::array<float, exact_exponent_count> fast_multipliers = [] {
  std::array<float, exact_exponent_count> factors{};
  for (int e = -max_exact_power; e <= max_exact_power; ++e) {
    factors[e + max_exact_power] = e > 0 ? exact_powers_of_ten[e] : 1.0f;
  }
  return factors;
}();
inline constexpr std::array<float, exact_exponent_count> fast_divisors = [] {
  std::array<float, exact_exponent_count> factors{};
  for (int e = -max_exact_power; e <= max_exact_power; ++e) {
    factors[e + max_exact_power] = e < 0 ? exact_powers_of_ten[-e] : 1.0f;
  }
  return factors;
}();

// Only for a significand that lost no digits. Returns false when the path does not apply (an
// out-parameter rather than an optional keeps the value in a register).
[[gnu::always_inline]] inline bool clinger_fast_path(std::uint64_t significand, std::int64_t exponent,
                                                     float& value) noexcept {
  if (significand > max_exact_integer || exponent < -max_exact_power) return false;
  if (exponent <= max_exact_power) {
    const auto index = static_cast<std::size_t>(exponent + max_exact_power);
    value = static_cast<float>(significand) * fast_multipliers[index] / fast_divisors[index];
    return true;
  }
  // 10^11 .. 10^17: the surplus power goes into the integer first if that stays exact.
  const std::int64_t surplus = exponent - max_exact_power;
  if (surplus >= static_cast<std::int64_t>(small_integer_powers_of_ten.size())) return false;
  const std::uint64_t scale = small_integer_powers_of_ten[surplus];
  if (significand > max_exact_integer / scale) return false;
  value = static_cast<float>(significand * scale) * exact_powers_of_ten[max_exact_power];
  return true;
}

}  // namespace quorvel::float_parse
