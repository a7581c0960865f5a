#include "reader/scan/parallel_count.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "reader/scan/block_guess.h"
#include "reader/scan/chunk_count.h"
#include "reader/scan/parallel_parts.h"

namespace quorvel {

PartsCounted count_in_parts(PlotInput& file, BlockCounter& counter, const CountInParts& scope) {
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
  std::vector<char> reached_end(parts, 0);  // the part read its bytes without a failure
  ParallelParts counting(parts, scope.interrupt);
  counting.run([&](std::size_t k) {
    BlockCounter* into = &counter;
    if (k > 0) {
      into = &later[k].emplace(per_block, 0, starts[k], starts[k], 0, entries);
      if (counter.first_value_width() != 0) into->keep_first_values(counter.first_value_width());
    }
    FileSource source(file, counting.check_for(k), starts[k]);
    if (k + 1 < parts) source.end_at(starts[k + 1]);
    reached_end[k] = count_chunks(source, *into) ? 0 : 1;
  });
  for (std::size_t k = 1; k < parts; ++k) {
    if (!reached_end[k - 1] || counter.offset() != starts[k] || !counter.at_block_start()) return PartsCounted::wrong;
    counter.absorb(*later[k]);
  }
  return reached_end[parts - 1] ? PartsCounted::counted : PartsCounted::wrong;
}

}  // namespace quorvel
