#pragma once
// The file as both readers read it. The file gives Interrupted only when the caller's interrupt
// check said stop: that ends the read with CallerError, the caller's own error, already set.
// Besides, the check this source is given is asked every 16 MiB read, whatever the lines are: a
// line of hundreds of megabytes (a file without line ends, /dev/zero) is assembled in one call of
// the line reader, and Ctrl-C must not wait for its end. Reads go on from where the file stands,
// or from an offset with positional reads, so that several readers can share one open file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <utility>

#include "failure/caller_error.h"
#include "platform/platform.h"
#include "reader/lines/plot_input.h"

namespace quorvel {

class FileSource {
 public:
  // Reads `file`, which outlives this source.
  FileSource(PlotInput& file, platform::InterruptCheck check, std::optional<std::uint64_t> offset = std::nullopt) noexcept
      : file_(&file), check_(check), offset_(offset), position_(offset.value_or(0)) {}
  // Owns `file` and reads it from where it stands (the list reader's way): only the file's own
  // check can stop it.
  explicit FileSource(platform::File file) noexcept : owned_(std::move(file)) {}

  // Reads end at byte `end` (the end of the last line a growing file has finished, say).
  void end_at(std::uint64_t end) noexcept { end_ = end; }

  std::expected<std::size_t, IoError> read(std::span<char> into) {
    if (end_) into = into.first(static_cast<std::size_t>(std::min<std::uint64_t>(into.size(), *end_ - std::min(*end_, position_))));
    if (into.empty() && end_) return 0;
    auto got = owned_ ? owned_->read(into) : offset_ ? file_->read_at(*offset_, into) : file_->read(into);
    if (!got) {
      if (got.error().kind() == ErrorKind::Interrupted) [[unlikely]] throw CallerError{};
      return got;
    }
    position_ += *got;
    if (offset_) *offset_ += *got;
    unchecked_ += *got;
    if (unchecked_ >= bytes_between_checks) [[unlikely]] {
      unchecked_ = 0;
      if (check_.stop_requested()) throw CallerError{};
    }
    return got;
  }

  // The offset of the next byte a read gives (for a file read from where it stood: the bytes
  // read so far).
  std::uint64_t position() const noexcept { return position_; }

 private:
  static constexpr std::uint64_t bytes_between_checks = std::uint64_t{16} << 20;
  std::optional<platform::File> owned_;
  PlotInput* file_ = nullptr;  // when nothing is owned
  platform::InterruptCheck check_{};
  std::optional<std::uint64_t> offset_;
  std::optional<std::uint64_t> end_;
  std::uint64_t position_ = 0;
  std::uint64_t unchecked_ = 0;
};

}  // namespace quorvel
