#pragma once
// The full 128-bit product of two 64-bit words.

#include <cstdint>

#ifndef __SIZEOF_INT128__
#error "the float parse needs a compiler with a 128-bit integer type"
#endif

namespace quorvel::float_parse {

struct Words128 {
  std::uint64_t high;
  std::uint64_t low;

  friend constexpr bool operator==(Words128, Words128) = default;
};

constexpr Words128 multiply_full(std::uint64_t a, std::uint64_t b) noexcept {
  __extension__ using Wide = unsigned __int128;
  const Wide product = static_cast<Wide>(a) * b;
  return {static_cast<std::uint64_t>(product >> 64), static_cast<std::uint64_t>(product)};
}

static_assert(multiply_full(~std::uint64_t{0}, ~std::uint64_t{0}) == Words128{~std::uint64_t{1}, 1});

}  // namespace quorvel::float_parse
