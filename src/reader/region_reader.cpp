#include "reader/region_reader.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "reader/line_feeds.h"
#include "reader/parallel_parts.h"
#include "reader/plot_defect.h"
#include "reader/row_target.h"

namespace quorvel {
namespace {

constexpr std::size_t count_buffer_size = std::size_t{1} << 18;

// Where one part starts and what it reads: `blocks` blocks from `first_block` at `offset`, then
// (`tail`) the block the file ends inside.
struct PartPlan {
  std::uint64_t offset = 0;
  std::uint64_t first_block = 0;
  std::uint64_t blocks = 0;
  bool tail = false;
};

void read_part(platform::File& file, const PlotLayout& layout, const Selection& selection, const PartPlan& plan,
               RowWindow& rows, platform::InterruptCheck check) {
  ArrayLineReader lines(PollingFile(file, check, plan.offset));
  CurrentLine line;
  const Preamble& preamble = layout.preamble;
  auto go = [&]<bool Everything>() {
    RowTarget<Everything, RowWindow> target(selection, rows, preamble.line_before_block(plan.first_block),
                                            plan.first_block, check, preamble.parameters,
                                            layout.width_given ? layout.width : 0);
    const std::uint64_t read = read_blocks(lines, line, target, layout.width, preamble.parameters, plan.blocks);
    if (read < plan.blocks) {
      defect("the file changed while it was read: it ends before block " + std::to_string(plan.first_block + read + 1),
             target.line_number());
    }
    if (plan.tail) (void)read_blocks(lines, line, target, layout.width, preamble.parameters, 1);
  };
  if (selection.everything) {
    go.template operator()<true>();
  } else {
    go.template operator()<false>();
  }
}

// The line feeds in [begin, end), and whether the last byte is one.
struct ChunkCount {
  std::uint64_t line_feeds = 0;
  bool ends_line = false;
};

ChunkCount count_chunk(platform::File& file, std::uint64_t begin, std::uint64_t end, platform::InterruptCheck check) {
  ChunkCount count;
  PollingFile source(file, check, begin);
  auto buffer = std::make_unique_for_overwrite<char[]>(count_buffer_size);
  while (source.position() < end) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(count_buffer_size, end - source.position()));
    auto got = source.read(std::span<char>(buffer.get(), want));
    if (!got || *got == 0) break;  // the file shrank: the parts find out
    count.line_feeds += count_line_feeds(buffer.get(), *got);
    count.ends_line = buffer[*got - 1] == '\n';
  }
  return count;
}

// Splits the stretch into parts of about equal bytes; each part takes the blocks that start in it.
std::vector<PartPlan> plan_parts(platform::File& file, const PlotLayout& layout, const Region& region, std::size_t parts,
                                 platform::InterruptCheck interrupt) {
  const std::uint64_t per_block = layout.preamble.lines_per_block();
  const std::uint64_t bytes = region.end - region.begin;
  std::vector<std::uint64_t> cut(parts + 1);
  for (std::size_t k = 0; k <= parts; ++k) {
    cut[k] = region.begin + static_cast<std::uint64_t>(static_cast<unsigned __int128>(bytes) * k / parts);
  }
  std::vector<ChunkCount> counts(parts);
  ParallelParts counting(parts, interrupt);
  counting.run([&](std::size_t k) { counts[k] = count_chunk(file, cut[k], cut[k + 1], counting.check_for(k)); });

  // Line feeds before each cut, and whether a line starts right at it.
  std::vector<std::uint64_t> before(parts + 1, 0);
  std::vector<bool> line_starts(parts + 1, true);
  for (std::size_t k = 0; k < parts; ++k) {
    before[k + 1] = before[k] + counts[k].line_feeds;
    line_starts[k + 1] = cut[k + 1] == cut[k] ? line_starts[k] : counts[k].ends_line;
  }
  const std::uint64_t lines = before[parts] + (line_starts[parts] ? 0 : 1);
  const std::uint64_t blocks = region.blocks.value_or(lines / per_block);
  const bool tail = region.to_end && lines % per_block != 0;

  std::vector<std::uint64_t> first(parts + 1);
  for (std::size_t k = 0; k < parts; ++k) {
    const std::uint64_t first_line = line_starts[k] ? before[k] : before[k] + 1;
    first[k] = k == 0 ? 0 : std::min(blocks, (first_line + per_block - 1) / per_block);
  }
  first[parts] = blocks;

  std::vector<PartPlan> plans(parts);
  std::size_t last_with_blocks = 0;
  for (std::size_t k = 0; k < parts; ++k) {
    plans[k].first_block = region.first_block + first[k];
    plans[k].blocks = first[k + 1] - first[k];
    if (plans[k].blocks > 0) last_with_blocks = k;
  }
  plans[last_with_blocks].tail = tail;
  // Each part finds its first block from its cut: the line feeds between are counted again.
  ParallelParts locating(parts, interrupt);
  locating.run([&](std::size_t k) {
    if (k == 0) {
      plans[k].offset = region.begin;
    } else if (plans[k].blocks > 0) {
      plans[k].offset = skip_lines(file, cut[k], first[k] * per_block - before[k], locating.check_for(k));
    }
  });
  return plans;
}

}  // namespace

RowStore read_region(platform::File& file, const PlotLayout& layout, const Selection& selection, const Region& region,
                     std::size_t parts, platform::InterruptCheck interrupt) {
  std::vector<PartPlan> plans;
  if (parts <= 1 && region.blocks) {
    plans.push_back({.offset = region.begin, .first_block = region.first_block, .blocks = *region.blocks, .tail = region.to_end});
  } else {
    plans = plan_parts(file, layout, region, std::max<std::size_t>(parts, 1), interrupt);
  }
  std::uint64_t blocks = 0;
  for (const PartPlan& plan : plans) blocks += plan.blocks;

  const std::size_t row_length = selection.names.size();
  RowStore store(row_length, static_cast<std::size_t>(blocks));
  store.claim_rows(static_cast<std::size_t>(blocks));
  std::vector<std::vector<float>> scratch(plans.size(), std::vector<float>(std::max<std::size_t>(row_length, 1)));
  ParallelParts reading(plans.size(), interrupt);
  reading.run([&](std::size_t k) {
    const PartPlan& plan = plans[k];
    if (plan.blocks == 0 && !plan.tail) return;
    RowWindow rows(store.data() + (plan.first_block - region.first_block) * row_length, row_length,
                   static_cast<std::size_t>(plan.blocks), scratch[k]);
    read_part(file, layout, selection, plan, rows, reading.check_for(k));
  });
  return store;
}

}  // namespace quorvel
