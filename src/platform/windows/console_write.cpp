#include "platform/windows/console_write.h"

#include <algorithm>

#include "failure/failure.h"
#include "platform/windows/windows_headers.h"

namespace quorvel::platform::windows {
namespace {

constexpr unsigned utf8_code_page = 65001;

IoError not_utf8() noexcept {
  return IoError::simple_message(ErrorKind::InvalidData, io_messages::console_non_utf8);
}

// The length of the sequence a lead byte starts; 0 for a byte that starts none.
std::size_t sequence_length(unsigned char lead) noexcept {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// The length of the longest well-formed UTF-8 prefix of `bytes`.
std::size_t valid_prefix(std::span<const char> bytes) noexcept {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    const std::size_t length = sequence_length(lead);
    if (length == 0 || at + length > bytes.size()) return at;
    const auto second = static_cast<unsigned char>(length > 1 ? bytes[at + 1] : 0x80);
    // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
    const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (length > 1 && (second < low || second > high)) return at;
    for (std::size_t i = 2; i < length; ++i) {
      if (!is_continuation(static_cast<unsigned char>(bytes[at + i]))) return at;
    }
    at += length;
  }
  return at;
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
  if (converted == 0) fail("Unexpected error in MultiByteToWideChar");
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
  if (carry.count > 3) fail("Unexpected number of bytes for incomplete UTF-8 codepoint.");
  if (!is_continuation(static_cast<unsigned char>(bytes[0]))) {
    carry.count = 0;
    return std::unexpected(not_utf8());
  }
  carry.bytes[carry.count++] = bytes[0];
  const std::size_t needed = sequence_length(static_cast<unsigned char>(carry.bytes[0]));
  if (carry.count < needed) return 1;
  const std::span<const char> character(carry.bytes.data(), carry.count);
  carry.count = 0;
  if (valid_prefix(character) != character.size()) return std::unexpected(not_utf8());
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
  const std::size_t valid = valid_prefix(piece);
  if (valid > 0) return write_valid(console, piece.first(valid));
  // Nothing valid at the start: either a character whose remaining bytes come with a later
  // write, or bytes that are not UTF-8.
  const std::size_t needed = sequence_length(static_cast<unsigned char>(bytes[0]));
  if (needed > 1 && bytes.size() < needed) {
    carry.bytes[0] = bytes[0];
    carry.count = 1;
    return 1;
  }
  return std::unexpected(not_utf8());
}

}  // namespace quorvel::platform::windows
