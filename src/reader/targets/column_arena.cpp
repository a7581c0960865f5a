#include "reader/targets/column_arena.h"

#include <algorithm>
#include <new>

namespace quorvel {
namespace {

// A small file takes one small piece; after that each piece is as large as all before it, up to
// a cap, so a large file needs few pieces and wastes at most the unused end of the last.
constexpr std::size_t first_piece = std::size_t{256} << 10;
constexpr std::size_t largest_piece = std::size_t{64} << 20;
constexpr std::size_t alignment = 16;

}  // namespace

void* ColumnArena::allocate(std::size_t bytes) {
  const std::size_t rounded = (bytes + alignment - 1) & ~(alignment - 1);
  if (rounded < bytes) throw std::bad_alloc();
  if (rounded > left_) {
    const std::size_t piece_size = std::max(rounded, std::clamp(reserved_, first_piece, largest_piece));
    auto piece = platform::BulkMemory::allocate(piece_size);
    if (!piece) throw std::bad_alloc();
    pieces_.push_back(std::move(*piece));  // first: if this throws, the piece goes back at once
    next_ = pieces_.back().data();
    left_ = pieces_.back().size();
    reserved_ += pieces_.back().size();
  }
  void* taken = next_;
  next_ += rounded;
  left_ -= rounded;
  return taken;
}

}  // namespace quorvel
