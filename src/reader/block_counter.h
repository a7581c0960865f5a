#pragma once
// Counts the lines of a plot file's blocks, as bytes come, and notes where some blocks start:
// every `stride`-th block from the first one counted, the stride doubling whenever the notes
// would pass `most_entries`, so that the index stays small for any file. Lines are what the line
// reader reads: each line feed ends one, and bytes after the last line feed make one more.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel {

// Where blocks start: `starts[i]` is the byte offset of block `first_block + i * stride`.
struct BlockIndex {
  std::uint64_t first_block = 0;
  std::uint64_t stride = 1;
  std::vector<std::uint64_t> starts;

  // The last noted block at or before `block` (which is at or after `first_block`), and its offset.
  std::pair<std::uint64_t, std::uint64_t> nearest(std::uint64_t block) const noexcept;
};

class BlockCounter {
 public:
  static constexpr std::size_t most_entries = 4096;

  // Block `first_block` starts at byte `block_offset`; counting goes on at `offset`, past
  // `lines_already` of its lines that were read some other way.
  BlockCounter(std::uint64_t lines_per_block, std::uint64_t first_block, std::uint64_t block_offset,
               std::uint64_t offset, std::uint64_t lines_already);

  // The next bytes of the file, in order.
  void feed(const char* bytes, std::size_t size);

  // Lines seen so far, the last one perhaps not ended yet.
  std::uint64_t lines() const noexcept { return line_feeds_ + (mid_line_ ? 1 : 0); }
  std::uint64_t line_feeds() const noexcept { return line_feeds_; }
  std::uint64_t offset() const noexcept { return offset_; }
  const BlockIndex& index() const noexcept { return index_; }

 private:
  void note(std::uint64_t offset);

  std::uint64_t lines_per_block_;
  std::uint64_t line_feeds_ = 0;
  std::uint64_t offset_;
  bool mid_line_ = false;
  std::uint64_t next_note_;  // the line feed count after which the next noted block starts
  BlockIndex index_;
};

}  // namespace quorvel
