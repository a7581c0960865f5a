#pragma once
// Up to eight ASCII digits at once from an 8-byte word (first character in the lowest byte): how
// many digits the word starts with, and their value, so that a digit run costs one step instead
// of one per digit.

#include <bit>
#include <cstdint>
#include <cstring>

#include "text/word_load.h"

namespace quorvel::float_parse {

inline std::uint64_t load_eight(const char* p) noexcept { return load_word<std::uint64_t>(p); }

// Fewer than eight bytes: the missing ones read as zero, which is never a digit.
inline std::uint64_t load_fewer_than_eight(const char* p, std::size_t count) noexcept {
  unsigned char bytes[8] = {};
  std::memcpy(bytes, p, count);
  return load_eight(reinterpret_cast<const char*>(bytes));
}

// XOR with '0' turns a digit byte into its value 0..9. Any other byte then has a non-zero high
// nibble, or a low nibble above 9, which adding 6 carries into the high nibble. Such a carry may
// spill into the next byte, but only after the first non-digit, which is all that is asked.
constexpr std::uint64_t digit_offsets = 0x3030'3030'3030'3030;

// Per byte of digit values (a byte less '0'), a non-zero high nibble where the byte is above 9.
constexpr std::uint64_t non_digit_bytes(std::uint64_t values) noexcept {
  return (values | (values + 0x0606'0606'0606'0606)) & 0xF0F0'F0F0'F0F0'F0F0;
}

constexpr unsigned leading_digit_count(std::uint64_t word) noexcept {
  const std::uint64_t non_digits = non_digit_bytes(word ^ digit_offsets);
  return non_digits == 0 ? 8 : static_cast<unsigned>(std::countr_zero(non_digits)) / 8;
}

// The value of eight digit values 0..9, byte 0 the most significant. Pairs first (byte i becomes
// 10·d[i] + d[i+1], at most 99, no carries), then the four pairs at bytes 0, 2, 4, 6 are weighted
// 10^6, 10^4, 10^2, 1 by two multiplications whose upper halves hold the sums; every partial sum
// stays below 2^32.
constexpr std::uint32_t eight_digit_values(std::uint64_t values) noexcept {
  constexpr std::uint64_t pair_mask = 0x0000'00FF'0000'00FF;
  values = values * 10 + (values >> 8);
  const std::uint64_t outer = (values & pair_mask) * (100 + (std::uint64_t{1'000'000} << 32));
  const std::uint64_t inner = ((values >> 16) & pair_mask) * (1 + (std::uint64_t{10'000} << 32));
  return static_cast<std::uint32_t>((outer + inner) >> 32);
}

// The value of the first `count` (1..8) digits of the word: they are moved to the top bytes, so
// that the bytes below them read as leading zeros.
constexpr std::uint32_t leading_digits_value(std::uint64_t word, unsigned count) noexcept {
  return eight_digit_values((word ^ digit_offsets) << (8 * (8 - count)));
}

namespace detail {
constexpr std::uint64_t word_of(const char (&text)[9]) noexcept {
  std::uint64_t word = 0;
  for (int i = 7; i >= 0; --i) word = (word << 8) | static_cast<unsigned char>(text[i]);
  return word;
}
}  // namespace detail

static_assert(leading_digit_count(detail::word_of("12345678")) == 8);
static_assert(leading_digit_count(detail::word_of("1.234567")) == 1);
static_assert(leading_digit_count(detail::word_of("23456E+0")) == 5);
static_assert(leading_digit_count(detail::word_of(".2345678")) == 0);
static_assert(leading_digit_count(detail::word_of("1234567:")) == 7);
static_assert(leading_digit_count(detail::word_of("/2345678")) == 0);
static_assert(leading_digit_count(detail::word_of("12\xFA" "45678")) == 2);
static_assert(leading_digit_count(detail::word_of("9\xFF" "999999")) == 1);
static_assert(leading_digits_value(detail::word_of("12345678"), 8) == 12'345'678);
static_assert(leading_digits_value(detail::word_of("99999999"), 8) == 99'999'999);
static_assert(leading_digits_value(detail::word_of("00000001"), 8) == 1);
static_assert(leading_digits_value(detail::word_of("23456E+0"), 5) == 23'456);
static_assert(leading_digits_value(detail::word_of("7.......") , 1) == 7);

}  // namespace quorvel::float_parse
