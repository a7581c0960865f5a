#pragma once
// The spaces that pad a plot-file field on the left, counted a word at a time.

#include <bit>
#include <cstddef>
#include <cstdint>

#include "text/word_load.h"

namespace quorvel {

// Leading spaces of an 8-byte stretch, 0..8, counted at once: signs in the data come at random,
// so "one blank or none" is a coin toss that a byte loop would mispredict half the time.
inline std::size_t leading_spaces_of_eight(const char* p) noexcept {
  const std::uint64_t non_space = load_word<std::uint64_t>(p) ^ 0x2020'2020'2020'2020;
  return static_cast<std::size_t>(std::countr_zero(non_space)) / 8;  // 64 bits of zero: 8
}

}  // namespace quorvel
