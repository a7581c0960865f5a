#pragma once
// Whitespace tokens and trim, as views into the text they came from.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "text/word_load.h"

namespace quorvel {

// The maximal runs of non-whitespace characters, in order. Storage for 4 views is taken when the
// first token is found and doubles when full; no token, no allocation.
std::vector<std::string_view> whitespace_tokens(std::string_view text);

namespace detail {
std::string_view trim_any_whitespace(std::string_view text) noexcept;

// Leading spaces of an 8-byte stretch, 0..8, counted at once: signs in the data come at random,
// so "one blank or none" is a coin toss that a byte loop would mispredict half the time.
inline std::size_t leading_spaces_of_eight(const char* p) noexcept {
  const std::uint64_t non_space = load_word<std::uint64_t>(p) ^ 0x2020'2020'2020'2020;
  return static_cast<std::size_t>(std::countr_zero(non_space)) / 8;  // 64 bits of zero: 8
}
}  // namespace detail

// The text without leading and trailing whitespace (multi-byte whitespace removed whole).
// Inline for the reader's fields, which are padded with spaces around printable ASCII: that case
// is settled here, anything else goes through the general scan.
inline std::string_view trim(std::string_view text) noexcept {
  std::size_t start = text.size() >= 8 ? detail::leading_spaces_of_eight(text.data()) : 0;
  std::size_t end = text.size();
  while (start < end && text[start] == ' ') ++start;
  while (end > start && text[end - 1] == ' ') --end;
  const auto printable_ascii = [](char c) { return static_cast<unsigned char>(c) - 0x21u < 0x5Eu; };
  if (start == end || (printable_ascii(text[start]) && printable_ascii(text[end - 1]))) {
    return text.substr(start, end - start);
  }
  return detail::trim_any_whitespace(text.substr(start, end - start));
}

}  // namespace quorvel
