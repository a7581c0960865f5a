#include "reader/scan/chunk_count.h"

namespace quorvel {

std::optional<IoError> count_chunks(FileSource& source, BlockCounter& counter, std::optional<std::uint64_t> enough_line_feeds) {
  const auto enough = [&] { return enough_line_feeds && counter.line_feeds() >= *enough_line_feeds; };
  if (enough()) return std::nullopt;
  return read_chunks(source, [&](const char* bytes, std::size_t size) {
    counter.feed(bytes, size);
    return enough();
  });
}

}  // namespace quorvel
