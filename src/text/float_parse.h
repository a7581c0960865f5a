#pragma once
// The 32-bit float parse: the whole text must be a decimal number or a special name; the result
// is correctly rounded (nearest, ties to even) whatever the number of digits. Allocates nothing.

#include <expected>
#include <string_view>

#include "text/parse_float_error.h"

namespace quorvel {

std::expected<float, ParseFloatError> parse_float32(std::string_view text) noexcept;

}  // namespace quorvel
