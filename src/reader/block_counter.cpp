#include "reader/block_counter.h"

#include <algorithm>

#include "reader/line_feeds.h"

namespace quorvel {

std::pair<std::uint64_t, std::uint64_t> BlockIndex::nearest(std::uint64_t block) const noexcept {
  std::uint64_t entry = (block - first_block) / stride;
  if (entry >= starts.size()) entry = starts.size() - 1;
  return {first_block + entry * stride, starts[entry]};
}

BlockCounter::BlockCounter(std::uint64_t lines_per_block, std::uint64_t first_block, std::uint64_t block_offset,
                           std::uint64_t offset, std::uint64_t lines_already)
    : lines_per_block_(lines_per_block),
      line_feeds_(lines_already),
      offset_(offset),
      next_note_(lines_per_block) {
  index_.first_block = first_block;
  index_.starts.push_back(block_offset);
  // Blocks are two lines or more, so the lines read already can end the first block at most.
  if (line_feeds_ >= next_note_) note(offset);
}

void BlockCounter::note(std::uint64_t offset) {
  index_.starts.push_back(offset);
  if (index_.starts.size() == most_entries) {
    // Every other entry goes, and the stride doubles.
    for (std::size_t i = 0; 2 * i < index_.starts.size(); ++i) index_.starts[i] = index_.starts[2 * i];
    index_.starts.resize(most_entries / 2);
    index_.stride *= 2;
  }
  next_note_ = index_.starts.size() * index_.stride * lines_per_block_;
}

void BlockCounter::feed(const char* bytes, std::size_t size) {
  if (size == 0) return;
  // Counted a segment at a time; a segment a noted block starts in is searched again for it, so
  // segments are small: a page, where the count's own sums fall anyway.
  constexpr std::size_t segment = 4096;
  for (std::size_t begin = 0; begin < size; begin += segment) {
    const std::size_t end = std::min(size, begin + segment);
    const std::uint64_t here = count_line_feeds(bytes + begin, end - begin);
    if (line_feeds_ + here < next_note_) {
      line_feeds_ += here;
      continue;
    }
    std::size_t at = begin;
    for (;;) {
      const LineFeedSearch search = nth_line_feed(bytes + at, end - at, next_note_ - line_feeds_);
      if (!search.at) {
        line_feeds_ += search.seen;
        break;
      }
      line_feeds_ = next_note_;
      at += *search.at + 1;
      note(offset_ + at);
    }
  }
  offset_ += size;
  mid_line_ = bytes[size - 1] != '\n';
}

}  // namespace quorvel
