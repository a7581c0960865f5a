#include "platform/windows/wide_text.h"

#include <climits>
#include <stdexcept>

#include "platform/windows/windows_headers.h"

namespace quorvel::platform::windows {
namespace {

int checked_length(std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX)) throw std::length_error("capacity overflow");
  return static_cast<int>(size);
}

std::optional<std::string> narrow(std::wstring_view utf16, DWORD flags) {
  if (utf16.empty()) return std::string();
  const int units = checked_length(utf16.size());
  const int bytes = ::WideCharToMultiByte(CP_UTF8, flags, utf16.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes == 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, flags, utf16.data(), units, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace

std::optional<std::wstring> to_wide_c_string(std::string_view utf8) {
  if (utf8.find('\0') != std::string_view::npos) return std::nullopt;
  std::wstring out;
  if (!utf8.empty()) {
    const int bytes = checked_length(utf8.size());
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, nullptr, 0);
    out.resize(static_cast<std::size_t>(units));
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), bytes, out.data(), units);
  }
  return out;  // c_str() supplies the terminating NUL
}

std::optional<std::string> to_utf8(std::wstring_view utf16) { return narrow(utf16, WC_ERR_INVALID_CHARS); }

std::string to_utf8_lossy(std::wstring_view utf16) { return narrow(utf16, 0).value_or(std::string()); }

}  // namespace quorvel::platform::windows
