#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace quorvel::platform {

std::expected<File, IoError> File::open_for_reading(std::string_view utf8_path, InterruptCheck check) {
  if (utf8_path.find('\0') != std::string_view::npos) {
    return std::unexpected(IoError::simple_message(ErrorKind::InvalidInput, io_messages::nul_in_path));
  }
  const std::string path(utf8_path);
  int fd;
  for (;;) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != EINTR) break;
    if (check.stop_requested()) return std::unexpected(IoError::os(EINTR));
  }
  if (fd < 0) return std::unexpected(IoError::os(errno));
  File file(fd, check);
  // Directories open fine for reading here; refuse them at open, as the file must be a file.
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::unexpected(IoError::os(errno));
  if (S_ISDIR(status.st_mode)) return std::unexpected(IoError::os(EISDIR));
  return file;
}

File::File(File&& other) noexcept : native_(other.native_), check_(other.check_) { other.native_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    native_ = other.native_;
    check_ = other.check_;
    other.native_ = -1;
  }
  return *this;
}

File::~File() { close(); }

void File::close() noexcept {
  if (native_ >= 0) ::close(static_cast<int>(native_));
  native_ = -1;
}

std::optional<std::uint64_t> File::size_hint() const noexcept {
  struct stat status {};
  if (::fstat(static_cast<int>(native_), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
}

std::optional<FileIdentity> File::identity() const noexcept {
  struct stat status {};
  if (::fstat(static_cast<int>(native_), &status) != 0) return std::nullopt;
  return FileIdentity{.device = static_cast<std::uint64_t>(status.st_dev), .index = static_cast<std::uint64_t>(status.st_ino)};
}

std::expected<std::size_t, IoError> File::read(std::span<char> into) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(native_), into.data(), into.size());
    if (got >= 0) [[likely]] return static_cast<std::size_t>(got);
    const int error = errno;  // the check may change errno
    if (error != EINTR || check_.stop_requested()) return std::unexpected(IoError::os(error));
  }
}

std::expected<std::size_t, IoError> File::read_at(std::uint64_t offset, std::span<char> into) {
  for (;;) {
    const ssize_t got = ::pread(static_cast<int>(native_), into.data(), into.size(), static_cast<off_t>(offset));
    if (got >= 0) [[likely]] return static_cast<std::size_t>(got);
    // Positional reads are of files that can seek, which do not wait for a writer; they may run on
    // threads of their own, where the caller's check is not to be asked.
    if (errno != EINTR) return std::unexpected(IoError::os(errno));
  }
}

}  // namespace quorvel::platform
