#pragma once
// The file as the array reader reads it: as StoppableFile, and besides, the caller's interrupt
// check is asked every 16 MiB read, whatever the lines are. A line of hundreds of megabytes (a
// file without line ends, /dev/zero) is assembled in one call of the line reader, and Ctrl-C
// must not wait for its end.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <utility>

#include "failure/caller_error.h"
#include "platform/platform.h"

namespace quorvel {

class PollingFile {
 public:
  PollingFile(platform::File file, platform::InterruptCheck check) noexcept : file_(std::move(file)), check_(check) {}

  std::expected<std::size_t, IoError> read(std::span<char> into) {
    auto got = file_.read(into);
    if (!got) {
      if (got.error().kind() == ErrorKind::Interrupted) [[unlikely]] throw CallerError{};
      return got;
    }
    unchecked_ += *got;
    if (unchecked_ >= bytes_between_checks) [[unlikely]] {
      unchecked_ = 0;
      if (check_.stop_requested()) throw CallerError{};
    }
    return got;
  }

 private:
  static constexpr std::uint64_t bytes_between_checks = std::uint64_t{16} << 20;
  platform::File file_;
  platform::InterruptCheck check_;
  std::uint64_t unchecked_ = 0;
};

}  // namespace quorvel
