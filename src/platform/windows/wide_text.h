#pragma once
// Conversions between the system's UTF-8 text and the UTF-16 that the wide Windows calls take.

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::platform::windows {

// UTF-8 to UTF-16 with a terminating NUL; nothing when the text holds a NUL itself, which a
// NUL-terminated wide string cannot carry. Ill-formed bytes become U+FFFD.
std::optional<std::wstring> to_wide_c_string(std::string_view utf8);

// UTF-16 to UTF-8; nothing when the units are not well-formed UTF-16 (a lone surrogate).
std::optional<std::string> to_utf8(std::wstring_view utf16);

// UTF-16 to UTF-8 where a lone surrogate becomes U+FFFD.
std::string to_utf8_lossy(std::wstring_view utf16);

}  // namespace quorvel::platform::windows
