#include "reader/targets/row_store.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace quorvel {
namespace {

std::size_t bytes_of(std::size_t rows, std::size_t row_length) {
  // A row of no value takes no memory, yet rows are counted: one byte stands in for the piece.
  const std::size_t limit = std::numeric_limits<std::size_t>::max() / sizeof(float);
  if (row_length != 0 && rows > limit / row_length) throw std::bad_alloc();
  return std::max<std::size_t>(rows * row_length * sizeof(float), 1);
}

platform::BulkMemory allocate_rows(std::size_t rows, std::size_t row_length) {
  auto memory = platform::BulkMemory::allocate(bytes_of(rows, row_length));
  if (!memory) throw std::bad_alloc();
  return std::move(*memory);
}

}  // namespace

RowStore::RowStore(std::size_t row_length, std::size_t expected_rows)
    : row_length_(row_length), capacity_rows_(std::max<std::size_t>(expected_rows, 1)) {
  memory_ = allocate_rows(capacity_rows_, row_length_);
}

void RowStore::claim_rows(std::size_t rows) {
  if (rows > capacity_rows_ - rows_) reserve(rows_ + rows);
  rows_ += rows;
}

void RowStore::grow() { reserve(std::max<std::size_t>(capacity_rows_ * 2, 16)); }

void RowStore::reserve(std::size_t rows) {
  // Where the system can, the pages move instead of the bytes: a read whose size is not known
  // beforehand (a compressed file's) then costs no copy and holds no second matrix.
  if (memory_ && memory_->resize(bytes_of(rows, row_length_))) {
    capacity_rows_ = rows;
    return;
  }
  platform::BulkMemory bigger = allocate_rows(rows, row_length_);
  if (memory_) std::memcpy(bigger.data(), memory_->data(), size_bytes());
  memory_ = std::move(bigger);
  capacity_rows_ = rows;
}

}  // namespace quorvel
