#pragma once
// The I/O error value carried by the reader's messages, and its debug and display renderings.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quorvel {

// In this order: the order is the kinds' numbering.
enum class ErrorKind : std::uint8_t {
  NotFound, PermissionDenied, ConnectionRefused, ConnectionReset, HostUnreachable,
  NetworkUnreachable, ConnectionAborted, NotConnected, AddrInUse, AddrNotAvailable, NetworkDown,
  BrokenPipe, AlreadyExists, WouldBlock, NotADirectory, IsADirectory, DirectoryNotEmpty,
  ReadOnlyFilesystem, FilesystemLoop, StaleNetworkFileHandle, InvalidInput, InvalidData, TimedOut,
  WriteZero, StorageFull, NotSeekable, QuotaExceeded, FileTooLarge, ResourceBusy,
  ExecutableFileBusy, Deadlock, CrossesDevices, TooManyLinks, InvalidFilename,
  ArgumentListTooLong, Interrupted, Unsupported, UnexpectedEof, OutOfMemory, InProgress, Other,
  Uncategorized,
};

std::string_view kind_name(ErrorKind kind) noexcept;

class IoError {
 public:
  // An operating-system error: the platform's own code; its kind and message are looked up.
  static IoError os(std::int32_t code) noexcept;
  // `message` must outlive the error: the messages this form carries are fixed texts.
  static IoError simple_message(ErrorKind kind, std::string_view message) noexcept;

  enum class Form : std::uint8_t { Os, SimpleMessage };
  Form form() const noexcept { return form_; }
  ErrorKind kind() const noexcept;
  std::int32_t os_code() const noexcept { return code_; }

  void append_debug(std::string& out) const;
  void append_display(std::string& out) const;
  std::string display() const;

 private:
  Form form_ = Form::SimpleMessage;
  ErrorKind kind_ = ErrorKind::Other;
  std::int32_t code_ = 0;
  std::string_view message_;
};

// The simple messages this system produces.
namespace io_messages {
inline constexpr std::string_view invalid_utf8 = "stream did not contain valid UTF-8";
// The Windows wording on every system: callers match it as it stands, keep it letter for letter.
inline constexpr std::string_view nul_in_path = "strings passed to WinAPI cannot contain NULs";
inline constexpr std::string_view console_non_utf8 =
    "Windows stdio in console mode does not support writing non-UTF-8 byte sequences";
inline constexpr std::string_view write_zero = "failed to write whole buffer";
inline constexpr std::string_view flush_write_zero = "failed to write the buffered data";
}  // namespace io_messages

void append_debug(std::string& out, const IoError& error);

}  // namespace quorvel
