#include <array>
#include <string>

#include "platform/platform.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_headers.h"

namespace quorvel::platform {

ErrorKind os_error_kind(std::int32_t code) noexcept {
  switch (code) {
    case 2: case 3: case 15: case 53: case 67: return ErrorKind::NotFound;
    case 5: case 10013: return ErrorKind::PermissionDenied;
    case 10061: return ErrorKind::ConnectionRefused;
    case 10054: return ErrorKind::ConnectionReset;
    case 1232: case 10065: return ErrorKind::HostUnreachable;
    case 1231: case 10051: return ErrorKind::NetworkUnreachable;
    case 10053: return ErrorKind::ConnectionAborted;
    case 10057: return ErrorKind::NotConnected;
    case 10048: return ErrorKind::AddrInUse;
    case 10049: return ErrorKind::AddrNotAvailable;
    case 10050: return ErrorKind::NetworkDown;
    case 109: case 232: case 10058: return ErrorKind::BrokenPipe;
    case 80: case 183: return ErrorKind::AlreadyExists;
    case 10035: return ErrorKind::WouldBlock;
    case 267: return ErrorKind::NotADirectory;
    case 336: return ErrorKind::IsADirectory;
    case 145: return ErrorKind::DirectoryNotEmpty;
    case 19: return ErrorKind::ReadOnlyFilesystem;
    case 1921: return ErrorKind::FilesystemLoop;
    case 87: case 10022: return ErrorKind::InvalidInput;
    case 121: case 258: case 594: case 995: case 1053: case 1121: case 1460: case 5910: case 7012:
    case 7040: case 8014: case 8226: case 9705: case 10060: case 13805: case 15402: case 15403:
      return ErrorKind::TimedOut;
    case 39: case 112: return ErrorKind::StorageFull;
    case 132: return ErrorKind::NotSeekable;
    case 1295: case 10069: return ErrorKind::QuotaExceeded;
    case 223: return ErrorKind::FileTooLarge;
    case 170: return ErrorKind::ResourceBusy;
    case 1131: return ErrorKind::Deadlock;
    case 17: return ErrorKind::CrossesDevices;
    case 1142: return ErrorKind::TooManyLinks;
    case 123: case 161: case 206: return ErrorKind::InvalidFilename;
    case 120: return ErrorKind::Unsupported;
    case 8: case 14: return ErrorKind::OutOfMemory;
    default: return ErrorKind::Uncategorized;
  }
}

std::string os_error_message(std::int32_t code) {
  DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  HMODULE source = nullptr;
  auto lookup_code = static_cast<DWORD>(code);
  // An NT status carried as an error code: its text is in ntdll's message table.
  constexpr DWORD nt_status_bit = 0x10000000;
  if ((lookup_code & nt_status_bit) != 0) {
    if (HMODULE ntdll = ::GetModuleHandleW(L"NTDLL.DLL"); ntdll != nullptr) {
      lookup_code &= ~nt_status_bit;
      flags |= FORMAT_MESSAGE_FROM_HMODULE;
      source = ntdll;
    }
  }
  std::array<wchar_t, 2048> units{};
  const DWORD length = ::FormatMessageW(flags, source, lookup_code, 0, units.data(),
                                        static_cast<DWORD>(units.size()), nullptr);
  if (length == 0) {
    const DWORD lookup_error = ::GetLastError();
    return "OS Error " + std::to_string(code) + " (FormatMessageW() returned error " +
           std::to_string(lookup_error) + ")";
  }
  auto message = windows::to_utf8(std::wstring_view(units.data(), length));
  if (!message) return "OS Error " + std::to_string(code) + " (FormatMessageW() returned invalid UTF-16)";
  // The lookup ends its texts with a line break.
  while (!message->empty() && std::string_view(" \t\n\f\r").find(message->back()) != std::string_view::npos) {
    message->pop_back();
  }
  return std::move(*message);
}

}  // namespace quorvel::platform
