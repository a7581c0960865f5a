#pragma once
// The exact fallback: the number as a decimal of up to 768 significant digits (and a flag for any
// non-zero digit beyond), scaled by powers of two until its binary32 significand can be read off
// and rounded half to even. Slow but always decides; it lives in a fixed local area.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "text/float/binary32.h"
#include "text/float/decimal_scan.h"

namespace quorvel::float_parse {

class BigDecimal {
 public:
  // Enough for any binary32 (and binary64) decision: no halfway point needs more digits.
  static constexpr int max_digits = 768;
  // One shift multiplies or divides by at most 2^60, so a digit times 2^60 plus a carry below
  // 2^60 stays within 64 bits.
  static constexpr int max_shift = 60;

  // Re-reads a text that the syntax scan accepted as a number; the sign is ignored.
  explicit BigDecimal(std::string_view text) noexcept {
    const char* p = text.data();
    const char* const end = p + text.size();
    if (*p == '+' || *p == '-') ++p;
    bool seen_nonzero = false;
    for (; p != end && is_digit(*p); ++p) {
      seen_nonzero = seen_nonzero || *p != '0';
      if (!seen_nonzero) continue;
      append(digit_value(*p));
      ++point_;
    }
    if (p != end && *p == '.') {
      for (++p; p != end && is_digit(*p); ++p) {
        seen_nonzero = seen_nonzero || *p != '0';
        if (seen_nonzero) {
          append(digit_value(*p));
        } else {
          --point_;
        }
      }
    }
    if (p != end) {  // the exponent letter
      std::int64_t exponent = 0;
      read_exponent(p + 1, end, exponent);
      point_ += exponent;
    }
    trim();
  }

  // The bits of the correctly rounded, non-negative binary32.
  std::uint32_t to_binary32_bits() noexcept {
    // The value is 0.d1d2… × 10^point_.
    if (count_ == 0 || point_ < -324) return 0;
    if (point_ >= 310) return infinity_bits;

    // Bring the value into [1/2, 1), keeping value × 2^exponent2 unchanged. A value of at least
    // 10^(point-1) survives division by 8^(point-1); one below 10^point stays below 1 when
    // multiplied by 8^-point.
    std::int64_t exponent2 = 0;
    while (point_ > 0) {
      const int shift = static_cast<int>(std::clamp<std::int64_t>(3 * (point_ - 1), 1, max_shift));
      shift_right(shift);
      exponent2 += shift;
    }
    while (point_ < 0 || (point_ == 0 && digits_[0] < 5)) {
      // At point 0 the value is in [0.1, 0.5): doubling, or for [0.1, 0.2) quadrupling, stays below 1.
      const int shift = point_ < 0 ? static_cast<int>(std::min<std::int64_t>(3 * -point_, max_shift))
                                   : (digits_[0] < 2 ? 2 : 1);
      shift_left(shift);
      exponent2 -= shift;
    }

    // The number is (2 × value) · 2^(exponent2 - 1) with 2 × value in [1, 2).
    if (exponent2 - 1 > 127) return infinity_bits;
    // Below the normal range the exponent stays at -126 and the value shrinks instead.
    while (exponent2 - 1 < -126) {
      const int shift = static_cast<int>(std::min<std::int64_t>(-126 - (exponent2 - 1), max_shift));
      shift_right(shift);
      exponent2 += shift;
    }
    shift_left(explicit_mantissa_bits + 1);
    return assemble(exponent2 + 126, rounded_integer());
  }

 private:
  // A left shift writes the digits this far up first: the carry out of the last digit is below
  // 2^60 < 10^19, so it needs at most 19 new leading digits.
  static constexpr int carry_room = 19;

  void append(unsigned digit) noexcept {
    if (count_ < max_digits) {
      digits_[count_++] = static_cast<std::uint8_t>(digit);
    } else if (digit != 0) {
      truncated_ = true;
    }
  }

  void trim() noexcept {
    while (count_ > 0 && digits_[count_ - 1] == 0) --count_;
  }

  // Multiplies by 2^shift, from the last digit up.
  void shift_left(int shift) noexcept {
    if (count_ == 0) return;
    std::uint64_t carry = 0;
    int write = count_ + carry_room;
    for (int read = count_ - 1; read >= 0; --read) {
      const std::uint64_t n = (std::uint64_t{digits_[read]} << shift) + carry;
      carry = n / 10;
      digits_[--write] = static_cast<std::uint8_t>(n % 10);
    }
    for (; carry != 0; carry /= 10) digits_[--write] = static_cast<std::uint8_t>(carry % 10);
    const int new_leading = carry_room - write;
    int count = count_ + new_leading;
    std::memmove(digits_.data(), digits_.data() + write, static_cast<std::size_t>(count));
    if (count > max_digits) {
      truncated_ = truncated_ || std::any_of(digits_.begin() + max_digits, digits_.begin() + count,
                                             [](std::uint8_t d) { return d != 0; });
      count = max_digits;
    }
    count_ = count;
    point_ += new_leading;
    trim();
  }

  // Divides by 2^shift, long division from the first digit down.
  void shift_right(int shift) noexcept {
    const std::uint64_t mask = (std::uint64_t{1} << shift) - 1;
    std::uint64_t n = 0;
    int read = 0;
    // Take digits (zeros past the end) until the first quotient digit is non-zero.
    while ((n >> shift) == 0) {
      n = n * 10 + (read < count_ ? digits_[read] : 0);
      ++read;
    }
    point_ -= read - 1;
    int write = 0;
    for (; read < count_; ++read) {
      digits_[write++] = static_cast<std::uint8_t>(n >> shift);
      n = (n & mask) * 10 + digits_[read];
    }
    for (; n != 0; n = (n & mask) * 10) {
      const auto digit = static_cast<std::uint8_t>(n >> shift);
      if (write < max_digits) {
        digits_[write++] = digit;
      } else if (digit != 0) {
        truncated_ = true;
      }
    }
    count_ = write;
    trim();
  }

  // The integer part, rounded half to even; the digits after it and the flag say what is left.
  std::uint64_t rounded_integer() const noexcept {
    std::uint64_t integer = 0;
    for (std::int64_t i = 0; i < point_; ++i) integer = integer * 10 + (i < count_ ? digits_[i] : 0);
    if (point_ < 0 || point_ >= count_) return integer;  // below 0.1, or nothing after the point
    const unsigned next = digits_[point_];
    // Trailing zeros are trimmed, so any digit after `next` is a non-zero remainder.
    const bool more = point_ + 1 < count_ || truncated_;
    const bool round_up = next > 5 || (next == 5 && (more || (integer & 1) != 0));
    return integer + (round_up ? 1 : 0);
  }

  std::array<std::uint8_t, max_digits + carry_room> digits_{};
  int count_ = 0;
  // The decimal point's position: the value is 0.d1d2… × 10^point_.
  std::int64_t point_ = 0;
  // A non-zero digit was dropped beyond max_digits.
  bool truncated_ = false;
};

}  // namespace quorvel::float_parse
