#pragma once
// The operating system, as the rest of the system sees it. This folder is the only code that
// includes an OS header; each OS has its own implementation folder, chosen at build time.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "failure/io_error.h"

namespace quorvel::platform {

// An open file, read-only; closed when the owner goes away.
class File {
 public:
  // Opens for reading, sharing read, write and delete access with other openers; never creates.
  // A directory is refused; a path holding a NUL fails with kind InvalidInput.
  static std::expected<File, IoError> open_for_reading(std::string_view utf8_path);

  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // One read request. 0 bytes is end of input; a failing read gives its OS error.
  std::expected<std::size_t, IoError> read(std::span<char> into);

  // For tests: adopt a descriptor or handle that is already open (a pipe, say).
  static File adopt(std::intptr_t native) noexcept { return File(native); }

 private:
  explicit File(std::intptr_t native) noexcept : native_(native) {}
  void close() noexcept;
  std::intptr_t native_;
};

// Kind and message of an OS error code, as the error renderings need them.
ErrorKind os_error_kind(std::int32_t code) noexcept;
std::string os_error_message(std::int32_t code);

enum class StdStream : std::uint8_t { Output, Error };

// One write request to a standard stream; gives the number of bytes taken. A missing or closed
// stream gives an OS error that `is_missing_stream_error` recognises.
std::expected<std::size_t, IoError> write_std(StdStream stream, std::span<const char> bytes);
bool is_missing_stream_error(const IoError& error) noexcept;

}  // namespace quorvel::platform
