#pragma once
// Counts the lines of a plot file's blocks, as bytes come, and notes where some blocks start:
// every `stride`-th block from the first one counted, the stride doubling whenever the notes
// would pass the most entries allowed, so that the index stays small for any file. Lines are what
// the line reader reads: each line feed ends one, and bytes after the last line feed make one more.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// Where some blocks start: block `blocks[i]` at byte offset `starts[i]`, the blocks increasing
// (several counts, each of a part of the file, join theirs).
struct BlockIndex {
  static constexpr std::size_t most_entries = 4096;

  std::vector<std::uint64_t> blocks;
  std::vector<std::uint64_t> starts;

  // The last noted block at or before `block` (which is at or after the first noted), and its offset.
  std::pair<std::uint64_t, std::uint64_t> nearest(std::uint64_t block) const noexcept;

  // The notes of a count that began at block `first` of the file (its own block 0) go on these;
  // then every other entry goes until at most `most_entries` are left.
  void join(const BlockIndex& later, std::uint64_t first);
};

class BlockCounter {
 public:
  // Block `first_block` starts at byte `block_offset`; counting goes on at `offset`, past
  // `lines_already` of its lines that were read some other way. The index keeps at most
  // `most_entries` notes (at least 2).
  BlockCounter(std::uint64_t lines_per_block, std::uint64_t first_block, std::uint64_t block_offset,
               std::uint64_t offset, std::uint64_t lines_already,
               std::size_t most_entries = BlockIndex::most_entries);

  // Keeps the first value of each block from the counter's first one on: the first `width` bytes
  // of the block's first value line (its second line), parsed as a read parses a field. Keeping
  // stops at the first that is not a printable field ending on a character boundary. Called
  // before the first feed.
  void keep_first_values(std::uint64_t width);
  // The first block's first value line, when it was read before the count began.
  void first_value_line(std::string_view text);
  // The first values of the first `blocks` blocks counted, when each was kept.
  std::optional<std::vector<float>> first_values(std::uint64_t blocks) const;
  std::uint64_t first_value_width() const noexcept { return value_width_; }  // 0: none kept

  // The next bytes of the file, in order.
  void feed(const char* bytes, std::size_t size);

  // Takes on the count of the bytes after this one's, made by a counter that began there at its
  // own block 0: this count must end on a block boundary. Afterwards this counter is read, not fed.
  // The first values go on only when both kept them, and this one one for each of its blocks.
  void absorb(const BlockCounter& later);

  // Whether the count ends where a block starts.
  bool at_block_start() const noexcept { return !mid_line_ && line_feeds_ % lines_per_block_ == 0; }

  // Lines seen so far, the last one perhaps not ended yet.
  std::uint64_t lines() const noexcept { return line_feeds_ + (mid_line_ ? 1 : 0); }
  std::uint64_t line_feeds() const noexcept { return line_feeds_; }
  std::uint64_t offset() const noexcept { return offset_; }
  const BlockIndex& index() const noexcept { return index_; }

 private:
  void note(std::uint64_t offset);
  void keep_field(const char* bytes, std::size_t size);
  void field_kept();

  static constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();

  std::uint64_t lines_per_block_;
  std::uint64_t line_feeds_ = 0;
  std::uint64_t offset_;
  bool mid_line_ = false;
  std::uint64_t next_note_;  // the line feed count after which the next noted block starts
  std::uint64_t first_block_;
  std::uint64_t stride_ = 1;
  std::size_t most_entries_;
  BlockIndex index_;
  // The first values kept, and the one whose bytes are still coming (`field_` has fewer than its
  // width and the byte after it).
  std::uint64_t value_width_ = 0;  // 0: none kept
  std::uint64_t next_value_line_ = never;  // the line feed count after which the next one starts
  bool keeping_field_ = false;
  std::string field_;
  std::vector<float> first_values_;
};

}  // namespace quorvel
