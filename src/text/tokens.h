#pragma once
// Whitespace tokens and trim, as views into the text they came from.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "text/leading_spaces.h"

namespace quorvel {

// The maximal runs of non-whitespace characters, in order. Storage for 4 views is taken when the
// first token is found and doubles when full; no token, no allocation.
std::vector<std::string_view> whitespace_tokens(std::string_view text);

namespace detail {
std::string_view trim_any_whitespace(std::string_view text) noexcept;
}  // namespace detail

// The text without leading and trailing whitespace (multi-byte whitespace removed whole).
// Inline for the reader's fields, which are padded with spaces around printable ASCII: that case
// is settled here, anything else goes through the general scan.
inline std::string_view trim(std::string_view text) noexcept {
  std::size_t start = text.size() >= 8 ? leading_spaces_of_eight(text.data()) : 0;
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
