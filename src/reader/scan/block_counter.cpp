#include "reader/scan/block_counter.h"

#include <algorithm>

#include "reader/lines/line_feeds.h"
#include "text/float/padded_field.h"
#include "text/float_parse.h"
#include "text/tokens.h"
#include "text/utf8.h"

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

// A block's first value from the start of its first value line (`width` bytes and the one after,
// or only `width` at the end of the line or file): a field a read gives the same value for, or
// nothing. Printable ASCII only, so that no line ends inside it, and not cut inside a character.
std::optional<float> kept_value(std::string_view kept, std::uint64_t width) {
  if (width == 0 || kept.size() < width) return std::nullopt;
  for (std::uint64_t i = 0; i < width; ++i) {
    if (kept[i] < ' ' || kept[i] > '~') return std::nullopt;
  }
  if (kept.size() > width && is_continuation_byte(static_cast<unsigned char>(kept[width]))) return std::nullopt;
  float value;
  if (width >= 10 && parse_padded_field(kept.data(), width, value)) return value;
  auto parsed = parse_float32(trim(kept.substr(0, width)));
  if (!parsed) return std::nullopt;
  return *parsed;
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

void BlockCounter::keep_first_values(std::uint64_t width) {
  value_width_ = width;
  // The first block's value line starts after its title's line feed: still to come, where the
  // count goes on, or read before it (given by first_value_line).
  if (line_feeds_ == 0) {
    next_value_line_ = 1;
    return;
  }
  if (line_feeds_ == 1 && !mid_line_) {
    field_.clear();
    keeping_field_ = true;
  }
  next_value_line_ = 1 + lines_per_block_;
}

void BlockCounter::first_value_line(std::string_view text) {
  field_.assign(text.substr(0, value_width_ + 1));
  field_kept();
}

std::optional<std::vector<float>> BlockCounter::first_values(std::uint64_t blocks) const {
  // A file that ends inside the last line of its last block (still being written, or cut) has that
  // line parsed by a read, which may refuse it: no first values stand in for the read.
  if (value_width_ == 0 || (mid_line_ && lines() % lines_per_block_ == 0)) return std::nullopt;
  if (first_values_.size() < blocks) return std::nullopt;
  return std::vector<float>(first_values_.begin(), first_values_.begin() + static_cast<std::ptrdiff_t>(blocks));
}

void BlockCounter::keep_field(const char* bytes, std::size_t size) {
  const std::size_t wanted = static_cast<std::size_t>(value_width_ + 1 - field_.size());
  field_.append(bytes, std::min(wanted, size));
  if (field_.size() == value_width_ + 1) field_kept();
}

void BlockCounter::field_kept() {
  keeping_field_ = false;
  if (auto value = kept_value(field_, value_width_)) {
    first_values_.push_back(*value);
  } else {
    next_value_line_ = never;  // the later ones are of no use without this one
  }
}

void BlockCounter::absorb(const BlockCounter& later) {
  if (value_width_ != 0) {
    const bool whole = later.value_width_ == value_width_ && !keeping_field_ &&
                       first_values_.size() == line_feeds_ / lines_per_block_;
    if (whole) {
      first_values_.insert(first_values_.end(), later.first_values_.begin(), later.first_values_.end());
      keeping_field_ = later.keeping_field_;
      field_ = later.field_;
      next_value_line_ = later.next_value_line_ == never ? never : line_feeds_ + later.next_value_line_;
    } else {
      next_value_line_ = never;
      keeping_field_ = false;
    }
  }
  index_.join(later.index_, first_block_ + line_feeds_ / lines_per_block_);
  line_feeds_ += later.line_feeds_;
  offset_ = later.offset_;
  mid_line_ = later.mid_line_;
}

void BlockCounter::feed(const char* bytes, std::size_t size) {
  if (size == 0) return;
  if (keeping_field_) keep_field(bytes, size);
  // Counted a segment at a time; a segment a noted block starts in is searched again for it, so
  // segments are small: a page, where the count's own sums fall anyway.
  constexpr std::size_t segment = 4096;
  for (std::size_t begin = 0; begin < size; begin += segment) {
    const std::size_t end = std::min(size, begin + segment);
    const std::uint64_t here = count_line_feeds(bytes + begin, end - begin);
    if (line_feeds_ + here < std::min(next_note_, next_value_line_)) {
      line_feeds_ += here;
      continue;
    }
    std::size_t at = begin;
    for (;;) {
      const std::uint64_t stop = std::min(next_note_, next_value_line_);
      const LineFeedSearch search = nth_line_feed(bytes + at, end - at, stop - line_feeds_);
      if (!search.at) {
        line_feeds_ += search.seen;
        break;
      }
      line_feeds_ = stop;
      at += *search.at + 1;
      if (stop == next_note_) note(offset_ + at);
      if (stop == next_value_line_) {
        next_value_line_ += lines_per_block_;
        field_.clear();
        keeping_field_ = true;
        keep_field(bytes + at, size - at);
      }
    }
  }
  offset_ += size;
  mid_line_ = bytes[size - 1] != '\n';
}

}  // namespace quorvel
