#pragma once
// Unsigned decimal parse: an optional '+', then ASCII digits only, fitting 64 bits.

#include <cstdint>
#include <optional>
#include <string_view>

namespace quorvel {

std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view text) noexcept;

}  // namespace quorvel
