#pragma once
// The Unicode White_Space set: the 25 code points that split tokens and are trimmed.

namespace quorvel {

bool is_whitespace(char32_t code_point) noexcept;

}  // namespace quorvel
