#include "platform/windows/windows_headers.h"

#include "platform/platform.h"

namespace quorvel::platform {

// Committed at once: the system hands out zeroed pages as they are first touched. Large pages
// would need a privilege that ordinary accounts lack, so none are asked for.
std::optional<BulkMemory> BulkMemory::allocate(std::size_t bytes) noexcept {
  if (bytes == 0) return std::nullopt;
  void* base = ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (base == nullptr) return std::nullopt;
  return BulkMemory(static_cast<std::byte*>(base), bytes);
}

// Reserved memory cannot be moved, only copied: the caller copies.
bool BulkMemory::resize(std::size_t) noexcept { return false; }

void BulkMemory::release() noexcept {
  if (base_ != nullptr) ::VirtualFree(base_, 0, MEM_RELEASE);
}

}  // namespace quorvel::platform
