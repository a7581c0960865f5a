#pragma once
// The file as the readers read it. The file gives Interrupted only when the caller's interrupt
// check said stop: that ends the read with CallerError, the caller's own error, already set.

#include <cstddef>
#include <expected>
#include <span>
#include <utility>

#include "failure/caller_error.h"
#include "platform/platform.h"

namespace quorvel {

class StoppableFile {
 public:
  explicit StoppableFile(platform::File file) noexcept : file_(std::move(file)) {}
  std::expected<std::size_t, IoError> read(std::span<char> into) {
    auto got = file_.read(into);
    if (!got && got.error().kind() == ErrorKind::Interrupted) [[unlikely]] throw CallerError{};
    return got;
  }

 private:
  platform::File file_;
};

}  // namespace quorvel
