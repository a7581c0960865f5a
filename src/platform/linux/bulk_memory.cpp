#include <sys/mman.h>

#include "platform/platform.h"

namespace quorvel::platform {

std::optional<BulkMemory> BulkMemory::allocate(std::size_t bytes) noexcept {
  if (bytes == 0) return std::nullopt;
  void* base = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return std::nullopt;
  // Only advice: where transparent huge pages are off, small pages serve as well.
  ::madvise(base, bytes, MADV_HUGEPAGE);
  return BulkMemory(static_cast<std::byte*>(base), bytes);
}

bool BulkMemory::resize(std::size_t bytes) noexcept {
  if (base_ == nullptr || bytes == 0) return false;
  void* moved = ::mremap(base_, size_, bytes, MREMAP_MAYMOVE);
  if (moved == MAP_FAILED) return false;
  base_ = static_cast<std::byte*>(moved);
  size_ = bytes;
  return true;
}

void BulkMemory::release() noexcept {
  if (base_ != nullptr) ::munmap(base_, size_);
}

}  // namespace quorvel::platform
