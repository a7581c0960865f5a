#pragma once
// Eight ASCII digits at once: the test and the value of an 8-byte word (first character in the
// lowest byte), so that the common long digit runs cost one step instead of eight.

#include <bit>
#include <cstdint>
#include <cstring>

namespace quorvel::float_parse {

inline std::uint64_t load_eight(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  return word;
}

// Every byte in 0x30..0x39: its high nibble is 3, and still 3 after adding 6 (each byte's second
// nibble is moved into its low half, so one comparison checks both). A byte that carries into
// its neighbour is itself at least 0xFA and fails on its own nibble.
constexpr bool is_eight_digits(std::uint64_t word) noexcept {
  constexpr std::uint64_t high_nibbles = 0xF0F0'F0F0'F0F0'F0F0;
  const std::uint64_t after_six = (word + 0x0606'0606'0606'0606) & high_nibbles;
  return ((word & high_nibbles) | (after_six >> 4)) == 0x3333'3333'3333'3333;
}

// Pairs first (byte i becomes 10·d[i] + d[i+1], at most 99, no carries), then the four pairs at
// bytes 0, 2, 4, 6 are weighted 10^6, 10^4, 10^2, 1 by two multiplications whose upper halves
// hold the sums; every partial sum stays below 2^32.
constexpr std::uint32_t eight_digits_value(std::uint64_t word) noexcept {
  constexpr std::uint64_t pair_mask = 0x0000'00FF'0000'00FF;
  word -= 0x3030'3030'3030'3030;
  word = word * 10 + (word >> 8);
  const std::uint64_t outer = (word & pair_mask) * (100 + (std::uint64_t{1'000'000} << 32));
  const std::uint64_t inner = ((word >> 16) & pair_mask) * (1 + (std::uint64_t{10'000} << 32));
  return static_cast<std::uint32_t>((outer + inner) >> 32);
}

namespace detail {
constexpr std::uint64_t word_of(const char (&text)[9]) noexcept {
  std::uint64_t word = 0;
  for (int i = 7; i >= 0; --i) word = (word << 8) | static_cast<unsigned char>(text[i]);
  return word;
}
}  // namespace detail

static_assert(eight_digits_value(detail::word_of("12345678")) == 12'345'678);
static_assert(eight_digits_value(detail::word_of("99999999")) == 99'999'999);
static_assert(eight_digits_value(detail::word_of("00000001")) == 1);
static_assert(is_eight_digits(detail::word_of("09876543")));
static_assert(!is_eight_digits(detail::word_of("1234567.")));
static_assert(!is_eight_digits(detail::word_of("1234567:")));
static_assert(!is_eight_digits(detail::word_of("/2345678")));
static_assert(!is_eight_digits(detail::word_of("1234\xFA" "678")));
static_assert(!is_eight_digits(detail::word_of("12E45678")));

}  // namespace quorvel::float_parse
