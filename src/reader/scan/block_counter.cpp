#include "reader/scan/block_counter.h"

#include <algorithm>

#include "reader/lines/line_feeds.h"

namespace quorvel {

namespace {

// Every other entry goes, the first one staying.
void halve(BlockIndex& index) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < index.starts.size(); i += 2, ++kept) {
    index.blocks[kept] = index.blocks[i];
    index.starts[kept] = index.starts[i];
  }
  index.blocks.resize(kept);
  index.starts.resize(kept);
}

}  // namespace

std::pair<std::uint64_t, std::uint64_t> BlockIndex::nearest(std::uint64_t block) const noexcept {
  const auto after = std::upper_bound(blocks.begin(), blocks.end(), block);
  const auto entry = static_cast<std::size_t>(after == blocks.begin() ? 0 : after - blocks.begin() - 1);
  return {blocks[entry], starts[entry]};
}

void BlockIndex::join(const BlockIndex& later, std::uint64_t first) {
  for (std::size_t i = 0; i < later.blocks.size(); ++i) {
    const std::uint64_t block = first + later.blocks[i];
    if (!blocks.empty() && block <= blocks.back()) continue;
    blocks.push_back(block);
    starts.push_back(later.starts[i]);
  }
  while (starts.size() > most_entries) halve(*this);
}

BlockCounter::BlockCounter(std::uint64_t lines_per_block, std::uint64_t first_block, std::uint64_t block_offset,
                           std::uint64_t offset, std::uint64_t lines_already, std::size_t most_entries)
    : lines_per_block_(lines_per_block),
      line_feeds_(lines_already),
      offset_(offset),
      next_note_(lines_per_block),
      first_block_(first_block),
      most_entries_(std::max<std::size_t>(most_entries, 2)) {
  index_.blocks.push_back(first_block);
  index_.starts.push_back(block_offset);
  // Blocks are two lines or more, so the lines read already can end the first block at most.
  if (line_feeds_ >= next_note_) note(offset);
}

void BlockCounter::note(std::uint64_t offset) {
  index_.blocks.push_back(first_block_ + index_.starts.size() * stride_);
  index_.starts.push_back(offset);
  if (index_.starts.size() >= most_entries_) {
    // Every other entry goes, and the stride doubles.
    halve(index_);
    stride_ *= 2;
  }
  next_note_ = index_.starts.size() * stride_ * lines_per_block_;
}

void BlockCounter::absorb(const BlockCounter& later) {
  index_.join(later.index_, first_block_ + line_feeds_ / lines_per_block_);
  line_feeds_ += later.line_feeds_;
  offset_ = later.offset_;
  mid_line_ = later.mid_line_;
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
