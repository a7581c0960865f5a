#pragma once
// The file a reader target reads: kept in memory (a memfd, reopened through /proc by its path),
// refilled with each input's bytes after the first, which chooses the field width.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace quorvel::fuzz {

class MemoryFile {
 public:
  MemoryFile() : descriptor_(::memfd_create("plot", MFD_CLOEXEC)) {
    if (descriptor_ < 0) std::abort();
    path_ = "/proc/self/fd/" + std::to_string(descriptor_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile() { ::close(descriptor_); }

  const std::string& path() const noexcept { return path_; }

  // The file becomes `data` without its first byte; that byte gives the width, 1 to 20.
  std::uint64_t hold(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(descriptor_, 0) != 0) std::abort();
    const std::size_t body = size - 1;
    if (body != 0 && ::pwrite(descriptor_, data + 1, body, 0) != static_cast<ssize_t>(body)) std::abort();
    return data[0] % 20 + 1;
  }

 private:
  int descriptor_;
  std::string path_;
};

// The one plot file of a fuzzing process, made on first use.
inline MemoryFile& plot_file() {
  static MemoryFile file;
  return file;
}

}  // namespace quorvel::fuzz
