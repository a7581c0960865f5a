#pragma once
// One column of values: a growable sequence of floats kept in chunks from the read's arena.
// Appending never moves what is stored; the chunks double in size up to a cap, so a short column
// takes little and a long one wastes at most the unfilled end of its last chunk.

#include <cstddef>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "reader/targets/column_arena.h"

namespace quorvel {

class Column {
 public:
  explicit Column(ColumnArena& arena) noexcept : arena_(&arena) {}
  Column(Column&& other) noexcept
      : arena_(other.arena_),
        chunks_(std::move(other.chunks_)),
        next_(std::exchange(other.next_, nullptr)),
        end_(std::exchange(other.end_, nullptr)),
        earlier_(std::exchange(other.earlier_, 0)) {
    other.chunks_.clear();
  }
  Column& operator=(Column&&) = delete;
  Column(const Column&) = delete;
  Column& operator=(const Column&) = delete;

  void push_back(float value) {
    if (next_ == end_) grow();
    *next_++ = value;
  }

  std::size_t size() const noexcept {
    return chunks_.empty() ? 0 : earlier_ + static_cast<std::size_t>(next_ - chunks_.back().data());
  }
  bool empty() const noexcept { return size() == 0; }

  // Calls `visit` with the stored values, chunk by chunk, in order.
  template <class Visit>
  void for_each_chunk(Visit&& visit) const {
    for (std::size_t i = 0; i + 1 < chunks_.size(); ++i) visit(std::span<const float>(chunks_[i]));
    if (!chunks_.empty()) visit(std::span<const float>(chunks_.back().data(), next_));
  }

 private:
  void grow();

  ColumnArena* arena_;
  std::vector<std::span<float>> chunks_;
  float* next_ = nullptr;     // where the next value goes, in the last chunk
  float* end_ = nullptr;      // the end of the last chunk
  std::size_t earlier_ = 0;   // values in the chunks before the last
};

// The columns of one read: the first (the time axis) and the others, all in one arena.
struct ColumnData {
  // Empty columns, `other_count` besides the first, in storage from a new arena.
  explicit ColumnData(std::size_t other_count) : arena(std::make_unique<ColumnArena>()), first(*arena) {
    others.reserve(other_count);
    for (std::size_t i = 0; i < other_count; ++i) others.emplace_back(*arena);
  }

  std::unique_ptr<ColumnArena> arena;  // declared first, so that it outlives the columns
  Column first;                        // value 0 of each block: the time axis
  std::vector<Column> others;          // other column i holds value i + 1 of each block
};

}  // namespace quorvel
