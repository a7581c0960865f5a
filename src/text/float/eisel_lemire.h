#pragma once
// Eisel–Lemire: the significand times a 128-bit power of five gives the top bits of the exact
// product, and with them the rounded binary32, unless the truncation of the table or of the
// product leaves the rounding open; then the answer is "undecided" and a slower tier decides.

#include <bit>
#include <cstdint>

#include "text/float/binary32.h"
#include "text/float/powers_of_five.h"
#include "text/float/wide_multiply.h"

namespace quorvel::float_parse {

// What eisel_lemire gives when the truncated product cannot settle the rounding. A plain integer
// rather than an optional keeps the result in a register on the hot path.
inline constexpr std::int64_t undecided = -1;

namespace detail {

// With the significand normalised to [2^63, 2^64) the product's top word lies in [2^62, 2^64);
// 25 of its bits (24 for the significand, one to round with) stand above this many.
inline constexpr int dropped_bits = 64 - (explicit_mantissa_bits + 1) - 2;
inline constexpr std::uint64_t carry_mask = (std::uint64_t{1} << dropped_bits) - 1;

// For q < 0 the entry lies just below 5^q, so a value that is itself a binary fraction (0.5,
// 1234.5625, any exact halfway point) leaves the truncated product just under a rounding
// boundary, which the product alone cannot tell from a value truly below it. Such values are
// common in the data, so they are settled here exactly: 5^-q divides the significand, and the
// value is n · 2^q with n an integer, rounded from its own bits.
inline std::int64_t exact_binary_fraction(std::uint64_t significand, std::int64_t q) noexcept {
  // 5^27 is the largest power of five below 2^64; beyond it nothing divides.
  if (q < -27 || q >= 0) return undecided;
  std::uint64_t power = 1;
  for (std::int64_t i = 0; i < -q; ++i) power *= 5;
  if (significand % power != 0) return undecided;
  const std::uint64_t n = significand / power;
  const int width = std::bit_width(n);
  // The top 25 bits of n (significand and round bit) and whether anything lies below them.
  const std::uint64_t kept = width >= 25 ? n >> (width - 25) : n << (25 - width);
  const bool below_nonzero = width > 25 && (n & ((std::uint64_t{1} << (width - 25)) - 1)) != 0;
  const std::uint64_t rounded = kept >> 1;
  const bool round_up = (kept & 1) != 0 && (below_nonzero || (rounded & 1) != 0);
  // The value is kept · 2^(width - 25 + q), and kept · 2^(E - 151) has biased exponent E; with
  // n >= 1 and q >= -27, E is at least 100, never subnormal.
  return assemble(width - 25 + q + 151, rounded + round_up);
}

}  // namespace detail

// The bits of the correctly rounded, non-negative binary32 nearest significand × 10^q, or
// `undecided`.
[[gnu::always_inline]] inline std::int64_t eisel_lemire(std::uint64_t significand, std::int64_t q) noexcept {
  if (significand == 0 || q < smallest_power_of_ten) return 0;
  if (q > largest_power_of_ten) return infinity_bits;

  const int leading_zeros = std::countl_zero(significand);
  const std::uint64_t normalized = significand << leading_zeros;
  const Words128& power = power_of_five_entry(q);

  // The exact product P lies within one unit of the top word of normalized × power.high (times
  // 2^128); only when the bits under the kept ones are all ones can that unit carry into them.
  Words128 product = multiply_full(normalized, power.high);
  if ((product.high & detail::carry_mask) == detail::carry_mask) {
    const Words128 lower = multiply_full(normalized, power.low);
    product.low += lower.high;
    product.high += product.low < lower.high;
    // Now P/2^64 is at most one unit above the two words; if that unit can still carry, give up.
    if ((product.high & detail::carry_mask) == detail::carry_mask && product.low == ~std::uint64_t{0}) {
      return detail::exact_binary_fraction(significand, q);
    }
  }

  const int upper_bit = static_cast<int>(product.high >> 63);
  const int shift = detail::dropped_bits + upper_bit;
  const std::uint64_t kept = product.high >> shift;  // in [2^24, 2^25): significand and round bit
  // P = normalized × 5^q · 2^(127 - floor(log2 5^q)), so the value is P · 2^(floor(q·log2 10) - 127
  // - leading_zeros) = kept · 2^(floor(q·log2 10) + 1 + shift - leading_zeros), and the binary32
  // with biased exponent E and this significand is kept · 2^(E - 151).
  const std::int64_t biased =
      floor_log2_pow10(static_cast<int>(q)) + 1 + shift - leading_zeros + 151;

  if (biased <= 0) {
    // Subnormal or zero. No value this small is exactly halfway (that would need 5^38 to divide a
    // 64-bit significand), so a set round bit always rounds up.
    const std::int64_t extra_shift = 1 - biased;
    if (extra_shift >= 64) return 0;
    const std::uint64_t with_round_bit = kept >> extra_shift;
    return assemble(1, (with_round_bit + (with_round_bit & 1)) >> 1);
  }

  // Round bits are random in the data: the rounding is arithmetic, not a branch.
  const std::uint64_t rounded = kept >> 1;
  const bool round_bit = (kept & 1) != 0;
  const bool below_nonzero = ((product.high & ((std::uint64_t{1} << shift) - 1)) | product.low) != 0;
  // The computed product is a lower bound: what it shows below the round bit is really there.
  // If it shows nothing, the value is exactly halfway only when the product is exact and so is
  // the entry: for 0 <= q <= 10 (5^10 < 2^24 fills only the entry's top word). For larger q no
  // value is halfway (5^q would have to divide a 25-bit odd number); for q < 0 the entry is
  // below 5^q, so the product is strictly below the value, and an exact halfway value shows as
  // all ones under the round bit and is settled above.
  const bool halfway = !below_nonzero & (q >= 0) & (q <= 10);
  const bool round_up = round_bit & (!halfway | ((rounded & 1) != 0));
  return assemble(biased, rounded + round_up);
}

}  // namespace quorvel::float_parse
