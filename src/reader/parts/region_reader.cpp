#include "reader/parts/region_reader.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "reader/layout/plot_defect.h"
#include "reader/parts/guessing_parts.h"
#include "reader/parts/part_reader.h"
#include "reader/scan/block_seek.h"
#include "reader/scan/parallel_parts.h"

namespace quorvel {
namespace {

// The blocks of a range: parts of about equal block counts, each found from the index.
RowStore read_counted(PlotInput& file, const PlotLayout& layout, const Selection& selection, const Region& region,
                      std::size_t parts, platform::InterruptCheck interrupt) {
  const std::uint64_t blocks = *region.blocks;
  parts = static_cast<std::size_t>(std::clamp<std::uint64_t>(blocks, 1, parts));
  const std::size_t row_length = selection.names.size();
  RowStore store(row_length, static_cast<std::size_t>(blocks));
  store.claim_rows(static_cast<std::size_t>(blocks));
  std::vector<std::vector<float>> scratch(parts, std::vector<float>(std::max<std::size_t>(row_length, 1)));
  ParallelParts reading(parts, interrupt);
  reading.run([&](std::size_t k) {
    const std::uint64_t from = blocks * k / parts;
    PartPlan plan{.first_block = region.first_block + from, .blocks = blocks * (k + 1) / parts - from,
                  .tail = k + 1 == parts && region.to_end};
    const platform::InterruptCheck check = reading.check_for(k);
    plan.offset = k == 0 ? region.begin : block_offset(file, layout, plan.first_block, check);
    RowWindow rows(store.data() + from * row_length, row_length, static_cast<std::size_t>(*plan.blocks), scratch[k]);
    PartProgress progress;
    read_part(file, layout, selection, plan, region.to_end ? region.end : UINT64_MAX, rows, progress, check);
  });
  return store;
}

// Every block of the stretch on this thread, into rows sized from its bytes.
RowStore read_in_one_part(PlotInput& file, const PlotLayout& layout, const Selection& selection,
                          const Region& region, platform::InterruptCheck interrupt) {
  const std::size_t row_length = selection.names.size();
  const std::size_t capacity = most_blocks(region.end - region.begin, layout);
  RowStore store(row_length, capacity);
  std::vector<float> scratch(std::max<std::size_t>(row_length, 1));
  RowWindow rows(store.data(), row_length, capacity, scratch);
  PartProgress progress;
  read_part(file, layout, selection, {.offset = region.begin, .first_block = region.first_block}, region.end, rows,
            progress, interrupt);
  if (progress.blocks > capacity) defect("the file changed while it was read", layout.preamble.line_before_block(capacity) + 1);
  store.claim_rows(static_cast<std::size_t>(progress.blocks));
  return store;
}

}  // namespace

RowStore read_region(PlotInput& file, const PlotLayout& layout, const Selection& selection, const Region& region,
                     std::size_t parts, platform::InterruptCheck interrupt) {
  parts = std::max<std::size_t>(parts, 1);
  if (region.blocks) return read_counted(file, layout, selection, region, parts, interrupt);
  if (parts == 1) return read_in_one_part(file, layout, selection, region, interrupt);
  if (auto store = read_guessing_parts(file, layout, selection, region, parts, interrupt)) return std::move(*store);
  // No block start could be guessed after some cut (separators as long as value lines, say): the
  // count, at memory speed, gives every part its first block, and the read goes as a range's.
  PlotLayout counted = layout;
  count_from_start(file, counted, region.end, interrupt);
  return read_counted(file, counted, selection,
                      {.begin = region.begin, .end = counted.size, .first_block = region.first_block,
                       .blocks = counted.blocks, .to_end = true},
                      parts, interrupt);
}

}  // namespace quorvel
