#include "platform/platform.h"
#include "platform/windows/console_write.h"
#include "platform/windows/nt_io.h"
#include "platform/windows/windows_headers.h"

namespace quorvel::platform {
namespace {

constexpr std::int32_t error_invalid_handle = 6;

// The console behind a standard handle.
class HandleConsole final : public windows::ConsoleOutput {
 public:
  explicit HandleConsole(HANDLE handle) noexcept : handle_(handle) {}
  std::expected<std::size_t, IoError> write_units(std::span<const wchar_t> units) override {
    DWORD written = 0;
    if (!::WriteConsoleW(handle_, units.data(), static_cast<DWORD>(units.size()), &written, nullptr)) {
      return std::unexpected(IoError::os(static_cast<std::int32_t>(::GetLastError())));
    }
    return written;
  }

 private:
  HANDLE handle_;
};

// One carry per standard stream, process-wide; each is used only under its stream's writer lock.
windows::Utf8Carry& carry_of(StdStream stream) noexcept {
  static windows::Utf8Carry output_carry;
  static windows::Utf8Carry error_carry;
  return stream == StdStream::Output ? output_carry : error_carry;
}

}  // namespace

std::expected<std::size_t, IoError> write_std(StdStream stream, std::span<const char> bytes) {
  if (bytes.empty()) return 0;
  // Fetched on every write: the process may change its standard handles at any time.
  const HANDLE handle = ::GetStdHandle(stream == StdStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == nullptr) return std::unexpected(IoError::os(error_invalid_handle));
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(IoError::os(static_cast<std::int32_t>(::GetLastError())));
  DWORD mode = 0;
  const bool is_console = ::GetConsoleMode(handle, &mode) != 0;
  if (windows::takes_utf16_path(is_console, is_console ? ::GetConsoleOutputCP() : 0)) {
    HandleConsole console(handle);
    return windows::write_console_utf8(console, carry_of(stream), bytes);
  }
  return windows::write_handle(handle, bytes);
}

bool is_missing_stream_error(const IoError& error) noexcept {
  return error.form() == IoError::Form::Os && error.os_code() == error_invalid_handle;
}

}  // namespace quorvel::platform
