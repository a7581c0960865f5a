// Unsigned decimal parse of a token: an optional '+', then ASCII digits, within 64 bits.

#include "text/unsigned_parse.h"

#include <limits>

#include "text/digits.h"

namespace quorvel {
namespace {

// Sixteen decimal digits stay below 10^16 < 2^64, so they need no overflow check.
constexpr std::size_t unchecked_digits = 16;

}  // namespace

std::optional<std::uint64_t> parse_unsigned_decimal(std::string_view text) noexcept {
  if (text.empty()) return std::nullopt;
  if (text == "+" || text == "-") return std::nullopt;
  // Only '+' is skipped; a leading '-' fails below as a non-digit.
  if (text.front() == '+') text.remove_prefix(1);

  std::uint64_t value = 0;
  if (text.size() <= unchecked_digits) {
    for (char c : text) {
      const unsigned digit = digit_value(c);
      if (digit > 9) return std::nullopt;
      value = value * 10 + digit;
    }
    return value;
  }
  for (char c : text) {
    const unsigned digit = digit_value(c);
    if (digit > 9) return std::nullopt;
    if (value > std::numeric_limits<std::uint64_t>::max() / 10) return std::nullopt;
    value *= 10;
    if (value > std::numeric_limits<std::uint64_t>::max() - digit) return std::nullopt;
    value += digit;
  }
  return value;
}

}  // namespace quorvel
