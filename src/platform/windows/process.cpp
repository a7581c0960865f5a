#include <string>

#include "platform/process.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_headers.h"

namespace quorvel::platform {

std::uint64_t current_thread_id() noexcept { return ::GetCurrentThreadId(); }

std::optional<std::string_view> environment_variable(const char* name) noexcept {
  // The value is handed out as UTF-8, kept per thread until the thread's next look-up.
  thread_local std::string value;
  try {
    const auto wide_name = windows::to_wide_c_string(name);
    if (!wide_name) return std::nullopt;
    std::wstring units(64, L'\0');
    for (;;) {
      ::SetLastError(ERROR_SUCCESS);
      const DWORD length = ::GetEnvironmentVariableW(wide_name->c_str(), units.data(), static_cast<DWORD>(units.size()));
      if (length == 0) {
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        units.clear();
        break;
      }
      // Too small a buffer gives the size needed, terminating NUL included.
      if (length < units.size()) {
        units.resize(length);
        break;
      }
      units.resize(length);
    }
    value = windows::to_utf8_lossy(units);
    return std::string_view(value);
  } catch (...) {
    return std::nullopt;
  }
}

void terminate_process() noexcept { __fastfail(FAST_FAIL_FATAL_APP_EXIT); }

}  // namespace quorvel::platform
