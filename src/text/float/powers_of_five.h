#pragma once
// 128-bit powers of five for the decimal exponents that binary32 can reach, computed at compile
// time. Entry q holds floor(5^q · 2^s) for the one s that puts it in [2^127, 2^128): exact for
// q >= 0 (5^38 < 2^89), truncated for q < 0.

#include <array>
#include <bit>
#include <cstdint>

#include "text/float/wide_multiply.h"

namespace quorvel::float_parse {

// Below 10^-65 every significand of 19 digits is under half the smallest subnormal; above 10^38
// every non-zero significand overflows.
inline constexpr int smallest_power_of_ten = -65;
inline constexpr int largest_power_of_ten = 38;

namespace detail {

// Just enough unsigned arithmetic to build the table: 5^65 < 2^151 fits three words.
struct Unsigned192 {
  std::array<std::uint64_t, 3> word{};  // least significant first

  constexpr int bit_width() const noexcept {
    for (int i = 2; i >= 0; --i) {
      if (word[i] != 0) return 64 * i + std::bit_width(word[i]);
    }
    return 0;
  }
  constexpr void times_five() noexcept {
    std::uint64_t carry = 0;
    for (auto& w : word) {
      const Words128 product = multiply_full(w, 5);
      w = product.low + carry;
      carry = product.high + (w < carry);
    }
  }
  constexpr void twice_plus(std::uint64_t bit) noexcept {
    for (int i = 2; i > 0; --i) word[i] = (word[i] << 1) | (word[i - 1] >> 63);
    word[0] = (word[0] << 1) | bit;
  }
  constexpr void shift_left(int bits) noexcept {
    for (int i = 0; i < bits; ++i) twice_plus(0);
  }
  constexpr bool at_least(const Unsigned192& other) const noexcept {
    for (int i = 2; i >= 0; --i) {
      if (word[i] != other.word[i]) return word[i] > other.word[i];
    }
    return true;
  }
  constexpr void subtract(const Unsigned192& other) noexcept {
    std::uint64_t borrow = 0;
    for (int i = 0; i < 3; ++i) {
      const std::uint64_t difference = word[i] - other.word[i] - borrow;
      borrow = (word[i] < other.word[i]) || (word[i] - other.word[i] < borrow);
      word[i] = difference;
    }
  }
};

constexpr Unsigned192 power_of_five(int n) noexcept {
  Unsigned192 power;
  power.word[0] = 1;
  for (int i = 0; i < n; ++i) power.times_five();
  return power;
}

constexpr Words128 normalized_power_of_five(int q) noexcept {
  if (q >= 0) {
    Unsigned192 power = power_of_five(q);
    power.shift_left(128 - power.bit_width());
    return {power.word[1], power.word[0]};
  }
  // 2^s / 5^n by binary long division, with s = 127 + bit_width(5^n): as 5^n is no power of two,
  // the quotient lies strictly between 2^127 and 2^128.
  const Unsigned192 divisor = power_of_five(-q);
  const int s = 127 + divisor.bit_width();
  Unsigned192 remainder;
  Words128 quotient{0, 0};
  for (int bit = s; bit >= 0; --bit) {
    remainder.twice_plus(bit == s ? 1 : 0);
    quotient = {(quotient.high << 1) | (quotient.low >> 63), quotient.low << 1};
    if (remainder.at_least(divisor)) {
      remainder.subtract(divisor);
      quotient.low |= 1;
    }
  }
  return quotient;
}

// floor(q · log2 10), exactly: q + floor(log2 5^q).
constexpr int exact_floor_log2_pow10(int q) noexcept {
  const int width = power_of_five(q < 0 ? -q : q).bit_width();
  return q >= 0 ? q + width - 1 : q - width;
}

}  // namespace detail

inline constexpr std::array<Words128, largest_power_of_ten - smallest_power_of_ten + 1>
    powers_of_five = [] {
      std::array<Words128, largest_power_of_ten - smallest_power_of_ten + 1> table{};
      for (int q = smallest_power_of_ten; q <= largest_power_of_ten; ++q) {
        table[q - smallest_power_of_ten] = detail::normalized_power_of_five(q);
      }
      return table;
    }();

constexpr const Words128& power_of_five_entry(std::int64_t q) noexcept {
  return powers_of_five[static_cast<std::size_t>(q - smallest_power_of_ten)];
}

// floor(q · log2 10) for the table's range; 217706 / 2^16 is log2 10 to within 2^-17.
constexpr int floor_log2_pow10(int q) noexcept { return (q * 217706) >> 16; }

static_assert([] {
  for (int q = smallest_power_of_ten; q <= largest_power_of_ten; ++q) {
    if (floor_log2_pow10(q) != detail::exact_floor_log2_pow10(q)) return false;
  }
  return true;
}());
static_assert(power_of_five_entry(0) == Words128{0x8000'0000'0000'0000, 0});
static_assert(power_of_five_entry(1) == Words128{0xA000'0000'0000'0000, 0});
static_assert(power_of_five_entry(-1) == Words128{0xCCCC'CCCC'CCCC'CCCC, 0xCCCC'CCCC'CCCC'CCCC});
static_assert(power_of_five_entry(38).high >> 63 == 1 && power_of_five_entry(-65).high >> 63 == 1);

}  // namespace quorvel::float_parse
