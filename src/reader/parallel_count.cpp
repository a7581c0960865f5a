#include "reader/parallel_count.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "reader/block_guess.h"
#include "reader/parallel_parts.h"

namespace quorvel {
namespace {

constexpr std::size_t count_buffer_size = std::size_t{1} << 18;
constexpr std::uint64_t most_guess_bytes = std::uint64_t{8} << 20;

}  // namespace

std::optional<IoError> count_to_end(PollingFile& source, BlockCounter& counter) {
  auto buffer = std::make_unique_for_overwrite<char[]>(count_buffer_size);
  for (;;) {
    auto got = source.read(std::span<char>(buffer.get(), count_buffer_size));
    if (!got) {
      if (got.error().kind() == ErrorKind::BrokenPipe) return std::nullopt;
      return std::move(got.error());
    }
    if (*got == 0) return std::nullopt;
    counter.feed(buffer.get(), *got);
  }
}

PartsCounted count_in_parts(platform::File& file, BlockCounter& counter, const CountInParts& scope) {
  const std::size_t parts = scope.parts;
  const std::uint64_t bytes = scope.end - scope.from;
  std::vector<std::uint64_t> starts(parts + 1, scope.from);
  for (std::size_t k = 1; k < parts; ++k) {
    const std::uint64_t cut = scope.from + bytes * k / parts;
    const auto block = guess_block_start(file, *scope.preamble, scope.width,
                                         {.from = cut, .floor = scope.data_start,
                                          .most_bytes = std::min(scope.end - cut, most_guess_bytes)});
    if (!block || block->offset <= starts[k - 1]) return PartsCounted::not_split;
    starts[k] = block->offset;
  }

  const std::uint64_t per_block = scope.preamble->lines_per_block();
  const std::size_t entries = BlockIndex::most_entries / parts;
  std::vector<std::optional<BlockCounter>> later(parts);
  std::vector<char> read_whole(parts, 0);
  ParallelParts counting(parts, scope.interrupt);
  counting.run([&](std::size_t k) {
    BlockCounter* into = &counter;
    if (k > 0) into = &later[k].emplace(per_block, 0, starts[k], starts[k], 0, entries);
    PollingFile source(file, counting.check_for(k), starts[k]);
    if (k + 1 < parts) source.end_at(starts[k + 1]);
    read_whole[k] = count_to_end(source, *into) ? 0 : 1;
  });
  for (std::size_t k = 1; k < parts; ++k) {
    if (!read_whole[k - 1] || counter.offset() != starts[k] || !counter.at_block_start()) return PartsCounted::wrong;
    counter.absorb(*later[k]);
  }
  return read_whole[parts - 1] ? PartsCounted::counted : PartsCounted::wrong;
}

}  // namespace quorvel
