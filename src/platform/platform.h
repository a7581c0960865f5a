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
#include <utility>

#include "platform/io_error.h"

namespace quorvel::platform {

// Asked when a signal interrupts an open or a read (a blocking one: a pipe or a FIFO, say):
// false retries it, true ends it with the error kind Interrupted. Without a function, every
// interruption is retried. Never asked otherwise, so it costs nothing on the way of a read.
struct InterruptCheck {
  bool (*stop)(void* context) = nullptr;
  void* context = nullptr;

  bool stop_requested() const { return stop != nullptr && stop(context); }
};

// Which file an open file is: the same for every open of one file, another for a file that
// replaced it under the same name.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// An open file, read-only; closed when the owner goes away.
class File {
 public:
  // Opens for reading, sharing read, write and delete access with other openers; never creates.
  // A directory is refused; a path holding a NUL fails with kind InvalidInput. `check` decides
  // about interruptions of the open and of every read (Interrupted is returned only when it says
  // stop); it must outlive the file.
  static std::expected<File, IoError> open_for_reading(std::string_view utf8_path, InterruptCheck check = {});

  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // One read request. 0 bytes is end of input; a failing read gives its OS error.
  std::expected<std::size_t, IoError> read(std::span<char> into);

  // One read request at `offset`, leaving the file's own position alone, so that several threads
  // can read one open file, from any thread (the interrupt check is never asked: an interrupted
  // read is repeated). Files that cannot seek (pipes, most devices) give an OS error.
  std::expected<std::size_t, IoError> read_at(std::uint64_t offset, std::span<char> into);

  // The size of a regular file when it was asked; nothing for a pipe, a device or the like.
  // Only a hint: the file may grow or shrink while it is read.
  std::optional<std::uint64_t> size_hint() const noexcept;

  std::optional<FileIdentity> identity() const noexcept;

  // For tests: adopt a descriptor or handle that is already open (a pipe, say).
  static File adopt(std::intptr_t native, InterruptCheck check = {}) noexcept { return File(native, check); }

 private:
  explicit File(std::intptr_t native, InterruptCheck check = {}) noexcept : native_(native), check_(check) {}
  void close() noexcept;
  std::intptr_t native_;
  InterruptCheck check_;
};

// Kind and message of an OS error code, as the error renderings need them.
ErrorKind os_error_kind(std::int32_t code) noexcept;
std::string os_error_message(std::int32_t code);

enum class StdStream : std::uint8_t { Output, Error };

// One write request to a standard stream; gives the number of bytes taken. A missing or closed
// stream gives an OS error that `is_missing_stream_error` recognises.
std::expected<std::size_t, IoError> write_std(StdStream stream, std::span<const char> bytes);
bool is_missing_stream_error(const IoError& error) noexcept;

// Anonymous read-write memory in one piece, zero-filled, released when the owner goes away. The
// system is asked to back it with large pages where it offers them on request, so that filling
// megabytes takes a few page faults instead of one per 4 KiB. Nothing when the system refuses.
class BulkMemory {
 public:
  static std::optional<BulkMemory> allocate(std::size_t bytes) noexcept;

  BulkMemory(BulkMemory&& other) noexcept
      : base_(std::exchange(other.base_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  BulkMemory& operator=(BulkMemory&& other) noexcept {
    if (this != &other) {
      release();
      base_ = std::exchange(other.base_, nullptr);
      size_ = std::exchange(other.size_, 0);
    }
    return *this;
  }
  BulkMemory(const BulkMemory&) = delete;
  BulkMemory& operator=(const BulkMemory&) = delete;
  ~BulkMemory() { release(); }

  // To `bytes` (not 0), the contents kept and any new bytes zero, by moving the pages rather than
  // the bytes; false where the system cannot, the memory unchanged.
  bool resize(std::size_t bytes) noexcept;

  // Page-aligned; null once moved from.
  std::byte* data() const noexcept { return base_; }
  std::size_t size() const noexcept { return size_; }

 private:
  BulkMemory(std::byte* base, std::size_t size) noexcept : base_(base), size_(size) {}
  void release() noexcept;
  std::byte* base_;
  std::size_t size_;
};

}  // namespace quorvel::platform
