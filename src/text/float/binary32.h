#pragma once
// The binary32 layout and the one place where a sign, an exponent and a significand become bits.

#include <cstdint>

namespace quorvel::float_parse {

inline constexpr int explicit_mantissa_bits = 23;
inline constexpr std::uint32_t sign_bit = 0x8000'0000;
inline constexpr std::uint32_t infinity_bits = 0x7F80'0000;
inline constexpr std::uint32_t quiet_nan_bits = 0x7FC0'0000;

// Joins a biased exponent (at least 1) with a rounded significand in [0, 2^24] that still carries
// its implicit bit. Adding the significand to (exponent - 1) << 23 lets a round-up to 2^24 carry
// into the exponent, and lets a subnormal (exponent 1, significand below 2^23) that rounded up
// to 2^23 become the smallest normal. Anything at or past the top is infinity.
constexpr std::uint32_t assemble(std::int64_t biased_exponent, std::uint64_t significand) noexcept {
  const std::uint64_t bits =
      (static_cast<std::uint64_t>(biased_exponent - 1) << explicit_mantissa_bits) + significand;
  return bits >= infinity_bits ? infinity_bits : static_cast<std::uint32_t>(bits);
}

static_assert(assemble(127, std::uint64_t{1} << 23) == 0x3F80'0000);    // 1.0
static_assert(assemble(127, std::uint64_t{1} << 24) == 0x4000'0000);    // carry into the exponent
static_assert(assemble(1, 1) == 0x0000'0001);                           // smallest subnormal
static_assert(assemble(254, (std::uint64_t{1} << 24)) == infinity_bits);  // overflow by rounding

}  // namespace quorvel::float_parse
