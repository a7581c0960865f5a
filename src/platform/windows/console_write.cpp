#include "platform/windows/console_write.h"

#include <algorithm>

#include "platform/windows/windows_headers.h"
#include "text/utf8.h"

namespace quorvel::platform::windows {
namespace {

constexpr unsigned utf8_code_page = 65001;

IoError not_utf8() noexcept {
  return IoError::simple_message(ErrorKind::InvalidData, io_messages::console_non_utf8);
}

// Faults of this code rather than of the text: the caller's failure names them.
constexpr std::string_view multi_byte_failed = "Unexpected error in MultiByteToWideChar";
constexpr std::string_view carry_too_long = "Unexpected number of bytes for incomplete UTF-8 codepoint.";
IoError internal_fault(std::string_view message) noexcept {
  return IoError::simple_message(ErrorKind::Other, message);
}

bool is_low_surrogate(wchar_t unit) noexcept { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The number of UTF-8 bytes that the first `count` units stand for. A surrogate pair stands for
// four: three are counted for its high half and one for its low half.
std::size_t utf8_length_of(std::span<const wchar_t> units) noexcept {
  std::size_t bytes = 0;
  for (const wchar_t unit : units) {
    if (unit < 0x80) bytes += 1;
    else if (unit < 0x800) bytes += 2;
    else if (is_low_surrogate(unit)) bytes += 1;
    else bytes += 3;
  }
  return bytes;
}

// Writes well-formed UTF-8 of at most one piece; gives the number of its bytes the console took.
std::expected<std::size_t, IoError> write_valid(ConsoleOutput& console, std::span<const char> utf8) {
  std::array<wchar_t, console_piece_bytes> buffer;
  const int converted = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                              static_cast<int>(utf8.size()), buffer.data(),
                                              static_cast<int>(buffer.size()));
  if (converted == 0) return std::unexpected(internal_fault(multi_byte_failed));
  const std::span<const wchar_t> units(buffer.data(), static_cast<std::size_t>(converted));
  auto accepted = console.write_units(units);
  if (!accepted) return std::unexpected(accepted.error());
  std::size_t written = std::min(*accepted, units.size());
  if (written == units.size()) return utf8.size();
  // Never leave half a surrogate pair behind: the caller cannot come back for its low half, as
  // its byte count would fall inside a character.
  if (is_low_surrogate(units[written])) {
    (void)console.write_units(units.subspan(written, 1));
    ++written;
  }
  return utf8_length_of(units.first(written));
}

// A write while the carry holds the start of a character: its next byte, one byte per write.
std::expected<std::size_t, IoError> continue_carry(ConsoleOutput& console, Utf8Carry& carry,
                                                   std::span<const char> bytes) {
  if (carry.count > 3) return std::unexpected(internal_fault(carry_too_long));
  if (!is_continuation_byte(static_cast<unsigned char>(bytes[0]))) {
    carry.count = 0;
    return std::unexpected(not_utf8());
  }
  carry.bytes[carry.count++] = bytes[0];
  const std::size_t needed = sequence_length_of_lead(static_cast<unsigned char>(carry.bytes[0]));
  if (carry.count < needed) return 1;
  const std::span<const char> character(carry.bytes.data(), carry.count);
  carry.count = 0;
  if (!is_valid_utf8(std::string_view(character.data(), character.size()))) return std::unexpected(not_utf8());
  if (auto written = write_valid(console, character); !written) return std::unexpected(written.error());
  return 1;
}

}  // namespace

bool takes_utf16_path(bool is_console, unsigned output_code_page) noexcept {
  return is_console && output_code_page != utf8_code_page;
}

std::expected<std::size_t, IoError> write_console_utf8(ConsoleOutput& console, Utf8Carry& carry,
                                                       std::span<const char> bytes) {
  if (bytes.empty()) return 0;
  if (carry.count > 0) return continue_carry(console, carry, bytes);
  // A piece cut back to a character boundary: the valid prefix ends at one.
  const auto piece = bytes.first(std::min(bytes.size(), console_piece_bytes));
  const std::size_t valid = valid_utf8_prefix(std::string_view(piece.data(), piece.size()));
  if (valid > 0) return write_valid(console, piece.first(valid));
  // Nothing valid at the start: either a character whose remaining bytes come with a later
  // write, or bytes that are not UTF-8.
  const std::size_t needed = sequence_length_of_lead(static_cast<unsigned char>(bytes[0]));
  if (needed > 1 && bytes.size() < needed) {
    carry.bytes[0] = bytes[0];
    carry.count = 1;
    return 1;
  }
  return std::unexpected(not_utf8());
}

}  // namespace quorvel::platform::windows
