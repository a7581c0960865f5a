#pragma once
// The rows of the value matrix in one piece of bulk memory, so that the whole matrix can be
// handed over as one buffer. Sized from the file's size up front (a field takes at least its
// width in bytes, so the file bounds the values it holds); pages never written are never made
// resident. A file that grows while it is read doubles the piece.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/platform.h"

namespace quorvel {

// The most rows a matrix is sized for up front from a file's size: more than any file holds, and
// small enough that rows times their length stays far from overflowing.
inline constexpr std::uint64_t most_sized_rows = std::uint64_t{1} << 40;

class RowStore {
 public:
  RowStore() = default;
  // Room for `expected_rows` rows of `row_length` values, more as they come.
  RowStore(std::size_t row_length, std::size_t expected_rows);

  RowStore(RowStore&&) noexcept = default;
  RowStore& operator=(RowStore&&) noexcept = default;

  // Room for one more row, its values left to the caller; throws std::bad_alloc.
  float* append_row() {
    if (rows_ == capacity_rows_) grow();
    return data() + rows_++ * row_length_;
  }

  // `rows` rows at once, their values left to the caller (who may fill them on several threads);
  // throws std::bad_alloc.
  void claim_rows(std::size_t rows);

  float* data() const noexcept { return reinterpret_cast<float*>(memory_ ? memory_->data() : nullptr); }
  std::size_t rows() const noexcept { return rows_; }
  std::size_t row_length() const noexcept { return row_length_; }
  std::size_t size_bytes() const noexcept { return rows_ * row_length_ * sizeof(float); }

 private:
  void grow();
  void reserve(std::size_t rows);

  std::optional<platform::BulkMemory> memory_;
  std::size_t row_length_ = 0;
  std::size_t rows_ = 0;
  std::size_t capacity_rows_ = 0;
};

}  // namespace quorvel
