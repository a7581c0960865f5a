#pragma once
// Writing UTF-8 to a console that is not in the UTF-8 code page: the text goes to the console as
// UTF-16, a character split between two writes is held back until its last byte arrives, and
// bytes that are not UTF-8 are refused.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "platform/io_error.h"

namespace quorvel::platform::windows {

// The console call the UTF-16 path makes; tests stand in for the console with their own.
class ConsoleOutput {
 public:
  virtual ~ConsoleOutput() = default;
  // One write of UTF-16 units; the number of units the console accepted.
  virtual std::expected<std::size_t, IoError> write_units(std::span<const wchar_t> units) = 0;
};

// The start of a UTF-8 sequence that a previous write ended in the middle of. One per standard
// stream, used under that stream's writer lock.
struct Utf8Carry {
  std::array<char, 4> bytes{};
  std::uint8_t count = 0;
};

// At most this many bytes are converted per write, into as many UTF-16 units.
inline constexpr std::size_t console_piece_bytes = 4096;

// Whether writes to a handle take the UTF-16 path: a console whose output code page is not UTF-8.
bool takes_utf16_path(bool is_console, unsigned output_code_page) noexcept;

// One write request of `bytes` (not empty) to the console; gives the number of bytes taken.
std::expected<std::size_t, IoError> write_console_utf8(ConsoleOutput& console, Utf8Carry& carry,
                                                       std::span<const char> bytes);

}  // namespace quorvel::platform::windows
