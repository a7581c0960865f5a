#pragma once
// Unaligned word loads from text, little-endian: the first byte lands in the lowest byte of the
// word on every machine, so that byte-wise word arithmetic reads the text in order.

#include <bit>
#include <cstring>

namespace quorvel {

template <class Word>
Word load_word(const char* p) noexcept {
  Word word;
  std::memcpy(&word, p, sizeof word);  // compiles to one load
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  return word;
}

}  // namespace quorvel
