#pragma once
// Synchronous reads and writes through the native file calls, which report end of file as a
// status of its own and leave pending operations for the caller to wait out.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "platform/io_error.h"
#include "platform/windows/windows_headers.h"

namespace quorvel::platform::windows {

// One read request; 0 bytes at end of file. A failing status gives its Windows error code.
std::expected<std::size_t, IoError> read_handle(HANDLE handle, std::span<char> into);
// The same at a byte offset; the handle's own position is not used.
std::expected<std::size_t, IoError> read_handle_at(HANDLE handle, std::uint64_t offset, std::span<char> into);

// One write request of at most 4294967295 bytes; gives the number of bytes taken.
std::expected<std::size_t, IoError> write_handle(HANDLE handle, std::span<const char> bytes);

// Writes the fatal runtime error for an operation the system left pending, and ends the process.
[[noreturn]] void fail_pending_operation() noexcept;

}  // namespace quorvel::platform::windows
