#include "reader/scan/block_seek.h"

#include <algorithm>
#include <memory>
#include <span>

#include "reader/lines/line_feeds.h"
#include "reader/scan/chunk_count.h"

namespace quorvel {

std::uint64_t last_line_end(PlotInput& file, std::uint64_t size, std::uint64_t floor) {
  constexpr std::size_t step = std::size_t{1} << 16;
  auto buffer = std::make_unique_for_overwrite<char[]>(step);
  std::uint64_t end = size;
  while (end > floor) {
    const std::uint64_t begin = end - std::min<std::uint64_t>(step, end - floor);
    auto got = file.read_at(begin, std::span<char>(buffer.get(), static_cast<std::size_t>(end - begin)));
    if (!got) return floor;
    for (std::size_t at = *got; at > 0; --at) {
      if (buffer[at - 1] == '\n') return begin + at;
    }
    end = begin;
  }
  return floor;
}

std::uint64_t skip_lines(PlotInput& file, std::uint64_t offset, std::uint64_t n, platform::InterruptCheck interrupt) {
  if (n == 0) return offset;
  FileSource source(file, interrupt, offset);
  std::uint64_t found = offset;  // where the search ended: the end of the file until the line feed is met
  // A read that fails ends the search where the bytes read end, as the end of the file would.
  (void)read_chunks(source, [&](const char* bytes, std::size_t size) {
    const LineFeedSearch search = nth_line_feed(bytes, size, n);
    if (search.at) {
      found = source.position() - size + *search.at + 1;
      return true;
    }
    n -= search.seen;
    found = source.position();
    return false;
  });
  return found;
}

std::uint64_t block_offset(PlotInput& file, const PlotLayout& layout, std::uint64_t block,
                           platform::InterruptCheck interrupt) {
  const auto [noted, offset] = layout.index.nearest(block);
  return skip_lines(file, offset, (block - noted) * layout.preamble.lines_per_block(), interrupt);
}

}  // namespace quorvel
