#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace quorvel::platform {

std::expected<std::size_t, IoError> write_std(StdStream stream, std::span<const char> bytes) {
  const int fd = stream == StdStream::Output ? STDOUT_FILENO : STDERR_FILENO;
  const ssize_t written = ::write(fd, bytes.data(), bytes.size());
  if (written < 0) return std::unexpected(IoError::os(errno));
  return static_cast<std::size_t>(written);
}

bool is_missing_stream_error(const IoError& error) noexcept {
  return error.form() == IoError::Form::Os && error.os_code() == EBADF;
}

}  // namespace quorvel::platform
