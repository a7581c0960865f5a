#include "reader/targets/column.h"

#include <algorithm>

namespace quorvel {
namespace {

// A column's chunks: 4 values, doubling up to 2048 values (8 KiB): a file of many parameters
// and few blocks takes little more than its values.
constexpr std::size_t first_chunk = 4;
constexpr std::size_t largest_chunk = 2048;

}  // namespace

void Column::grow() {
  const std::size_t count = chunks_.empty() ? first_chunk : std::min(chunks_.back().size() * 2, largest_chunk);
  // Room in the chunk list first, so that a refusal leaves the column as it was.
  if (chunks_.size() == chunks_.capacity()) chunks_.reserve(std::max<std::size_t>(4, 2 * chunks_.capacity()));
  auto* chunk = static_cast<float*>(arena_->allocate(count * sizeof(float)));
  if (!chunks_.empty()) earlier_ += chunks_.back().size();
  chunks_.emplace_back(chunk, count);
  next_ = chunk;
  end_ = chunk + count;
}

}  // namespace quorvel
