#include "platform/windows/nt_io.h"

#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "platform/process.h"
#include "platform/windows/library_lookup.h"

namespace quorvel::platform::windows {
namespace {

// Status values, spelled out here: the status header clashes with the general Windows headers.
constexpr NTSTATUS status_pending = 0x00000103;
constexpr NTSTATUS status_end_of_file = static_cast<NTSTATUS>(0xC0000011);

using NtReadFileFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                      ULONG, PLARGE_INTEGER, PULONG);
using NtWriteFileFn = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID,
                                       ULONG, PLARGE_INTEGER, PULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);

// The native calls have no import library in every toolchain; ntdll is in every process, so
// they are looked up once, by name.
struct NativeCalls {
  NtReadFileFn read = nullptr;
  NtWriteFileFn write = nullptr;
  RtlNtStatusToDosErrorFn to_dos_error = nullptr;
};

const NativeCalls& native() noexcept {
  static const NativeCalls calls = [] {
    NativeCalls found;
    if (HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll"); ntdll != nullptr) {
      found.read = lookup_function<NtReadFileFn>(ntdll, "NtReadFile");
      found.write = lookup_function<NtWriteFileFn>(ntdll, "NtWriteFile");
      found.to_dos_error = lookup_function<RtlNtStatusToDosErrorFn>(ntdll, "RtlNtStatusToDosError");
    }
    if (found.read == nullptr || found.write == nullptr || found.to_dos_error == nullptr) {
      terminate_process();
    }
    return found;
  }();
  return calls;
}

// The common tail of a read and a write: wait out a pending operation, then settle the status.
std::expected<std::size_t, IoError> settle(HANDLE handle, NTSTATUS status, IO_STATUS_BLOCK& io) {
  if (status == status_pending) {
    ::WaitForSingleObject(handle, INFINITE);
    status = io.Status;
  }
  if (status == status_pending) fail_pending_operation();
  if (status == status_end_of_file) return 0;
  if (NT_SUCCESS(status)) return static_cast<std::size_t>(io.Information);
  return std::unexpected(IoError::os(static_cast<std::int32_t>(native().to_dos_error(status))));
}

ULONG request_length(std::size_t size) noexcept {
  return static_cast<ULONG>(std::min<std::size_t>(size, 0xFFFFFFFFu));
}

}  // namespace

std::expected<std::size_t, IoError> read_handle(HANDLE handle, std::span<char> into) {
  IO_STATUS_BLOCK io{};
  io.Status = status_pending;
  const NTSTATUS status = native().read(handle, nullptr, nullptr, nullptr, &io, into.data(),
                                        request_length(into.size()), nullptr, nullptr);
  return settle(handle, status, io);
}

std::expected<std::size_t, IoError> read_handle_at(HANDLE handle, std::uint64_t offset, std::span<char> into) {
  IO_STATUS_BLOCK io{};
  io.Status = status_pending;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  const NTSTATUS status = native().read(handle, nullptr, nullptr, nullptr, &io, into.data(),
                                        request_length(into.size()), &at, nullptr);
  return settle(handle, status, io);
}

std::expected<std::size_t, IoError> write_handle(HANDLE handle, std::span<const char> bytes) {
  IO_STATUS_BLOCK io{};
  io.Status = status_pending;
  const NTSTATUS status = native().write(handle, nullptr, nullptr, nullptr, &io, const_cast<char*>(bytes.data()),
                                         request_length(bytes.size()), nullptr, nullptr);
  return settle(handle, status, io);
}

void fail_pending_operation() noexcept {
  constexpr std::string_view message =
      "fatal runtime error: I/O error: operation failed to complete synchronously, aborting\n";
  // Straight to the handle: the writers may be what is stuck.
  if (HANDLE standard_error = ::GetStdHandle(STD_ERROR_HANDLE);
      standard_error != nullptr && standard_error != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    ::WriteFile(standard_error, message.data(), static_cast<DWORD>(message.size()), &written, nullptr);
  }
  terminate_process();
}

}  // namespace quorvel::platform::windows
