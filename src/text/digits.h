#pragma once
// One ASCII digit's value, for every parse of decimal text.

namespace quorvel {

// Wraps to a large value for bytes below '0', so one comparison tells a digit.
constexpr unsigned digit_value(char c) noexcept { return static_cast<unsigned char>(c) - 0x30u; }

constexpr bool is_digit(char c) noexcept { return digit_value(c) < 10; }

}  // namespace quorvel
