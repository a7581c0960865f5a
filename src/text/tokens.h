#pragma once
// Whitespace tokens and trim, as views into the text they came from.

#include <string_view>
#include <vector>

namespace quorvel {

// The maximal runs of non-whitespace characters, in order. Storage for 4 views is taken when the
// first token is found and doubles when full; no token, no allocation.
std::vector<std::string_view> whitespace_tokens(std::string_view text);

// The last whitespace token, or an empty view when there is none. Allocates nothing.
std::string_view last_whitespace_token(std::string_view text) noexcept;

// The text without leading and trailing whitespace (multi-byte whitespace removed whole).
std::string_view trim(std::string_view text) noexcept;

}  // namespace quorvel
