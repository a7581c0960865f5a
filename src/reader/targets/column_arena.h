#pragma once
// Storage for the columns of one read. The columns grow side by side, a value each per block, so
// their storage is taken by bump allocation out of a few large pieces of bulk memory rather than
// one heap block per column: few page faults while they fill, nothing copied as they grow, and
// all of it released at once when the arena goes.

#include <cstddef>
#include <vector>

#include "platform/platform.h"

namespace quorvel {

class ColumnArena {
 public:
  ColumnArena() = default;
  ColumnArena(const ColumnArena&) = delete;
  ColumnArena& operator=(const ColumnArena&) = delete;

  // `bytes` of storage aligned to 16; throws std::bad_alloc when the system refuses.
  void* allocate(std::size_t bytes);

  // Bytes of bulk memory held.
  std::size_t reserved() const noexcept { return reserved_; }

 private:
  std::vector<platform::BulkMemory> pieces_;
  std::byte* next_ = nullptr;
  std::size_t left_ = 0;
  std::size_t reserved_ = 0;
};

}  // namespace quorvel
