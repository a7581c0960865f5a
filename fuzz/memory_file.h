#pragma once
// The file a reader target reads: kept in memory (a memfd, reopened through /proc by its path),
// refilled with each input's bytes after the first, which chooses the field width.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "codec/format.h"

namespace quorvel::fuzz {

// Whether a file of these bytes would be taken for a compressed one: this build has no decoders
// and refuses it, which says nothing of the parse, so the array targets pass such inputs over.
inline bool looks_compressed(const std::uint8_t* data, std::size_t size) {
  return codec::recognise({reinterpret_cast<const char*>(data), size}) != codec::Format::Plain;
}

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
    fill(data + 1, size - 1);
    return data[0] % 20 + 1;
  }

  // The file becomes these bytes.
  void fill(const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(descriptor_, 0) != 0) std::abort();
    if (size != 0 && ::pwrite(descriptor_, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
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
