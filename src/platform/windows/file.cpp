#include "platform/platform.h"
#include "platform/windows/nt_io.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_headers.h"

#include <array>
#include <cstdint>
#include <mutex>

namespace quorvel::platform {
namespace {

constexpr std::intptr_t no_handle = -1;

HANDLE as_handle(std::intptr_t native) noexcept { return reinterpret_cast<HANDLE>(native); }

// A positional read of a handle opened for synchronous I/O moves its position to where the read
// ended, and read_at must leave it alone: the position is put back, with the positional reads of
// one handle kept apart meanwhile (the system runs the reads of such a handle one at a time
// anyway). A few locks are shared among all handles.
std::mutex& position_lock(HANDLE handle) noexcept {
  static std::array<std::mutex, 16> locks;
  return locks[(reinterpret_cast<std::uintptr_t>(handle) >> 2) % locks.size()];
}

}  // namespace

// Opens and reads are not interrupted by signals here; the check is asked only about a read that
// a wake cancelled.
std::expected<File, IoError> File::open_for_reading(std::string_view utf8_path, InterruptCheck check) {
  const auto wide_path = windows::to_wide_c_string(utf8_path);
  if (!wide_path) {
    return std::unexpected(IoError::simple_message(ErrorKind::InvalidInput, io_messages::nul_in_path));
  }
  // No backup-semantics flag: a directory is refused here, as the file must be a file.
  const HANDLE handle = ::CreateFileW(wide_path->c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::unexpected(IoError::os(static_cast<std::int32_t>(::GetLastError())));
  return File(reinterpret_cast<std::intptr_t>(handle), check);
}

File::File(File&& other) noexcept : native_(other.native_), check_(other.check_) { other.native_ = no_handle; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    native_ = other.native_;
    check_ = other.check_;
    other.native_ = no_handle;
  }
  return *this;
}

File::~File() { close(); }

void File::close() noexcept {
  if (native_ != no_handle && native_ != 0) ::CloseHandle(as_handle(native_));
  native_ = no_handle;
}

std::optional<std::uint64_t> File::size_hint() const noexcept {
  LARGE_INTEGER size{};
  if (::GetFileType(as_handle(native_)) != FILE_TYPE_DISK || !::GetFileSizeEx(as_handle(native_), &size)) {
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<FileIdentity> File::identity() const noexcept {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(as_handle(native_), &information)) return std::nullopt;
  return FileIdentity{.device = information.dwVolumeSerialNumber,
                      .index = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

std::expected<std::size_t, IoError> File::read(std::span<char> into) {
  auto got = windows::read_handle(as_handle(native_), into);
  // A read cancelled by a wake (platform/thread_wake.h) is an interruption when the check says
  // stop; any other cancelled read is the error it was.
  if (!got && got.error().form() == IoError::Form::Os && got.error().os_code() == ERROR_OPERATION_ABORTED &&
      check_.stop_requested()) {
    return std::unexpected(IoError::simple_message(ErrorKind::Interrupted, "the read was stopped"));
  }
  return got;
}

std::expected<std::size_t, IoError> File::read_at(std::uint64_t offset, std::span<char> into) {
  // A positional read of a pipe or a console would read from where it stands: refuse it.
  const HANDLE handle = as_handle(native_);
  if (::GetFileType(handle) != FILE_TYPE_DISK) return std::unexpected(IoError::os(ERROR_SEEK_ON_DEVICE));
  const std::lock_guard lock(position_lock(handle));
  LARGE_INTEGER position{};
  if (!::SetFilePointerEx(handle, LARGE_INTEGER{}, &position, FILE_CURRENT)) {
    return std::unexpected(IoError::os(static_cast<std::int32_t>(::GetLastError())));
  }
  auto got = windows::read_handle_at(handle, offset, into);
  if (!::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) && got) {
    return std::unexpected(IoError::os(static_cast<std::int32_t>(::GetLastError())));
  }
  return got;
}

}  // namespace quorvel::platform
