#include "reader/region_reader.h"

#include <algorithm>
#include <vector>

#include "reader/parallel_parts.h"
#include "reader/plot_defect.h"
#include "reader/region_parts.h"

namespace quorvel {
namespace {

// The offset of the next line the line reader gives.
std::uint64_t next_line_offset(ArrayLineReader& lines) { return lines.source().position() - lines.unread().size(); }

// The blocks of a range: parts of about equal block counts, each found from the index.
RowStore read_counted(platform::File& file, const PlotLayout& layout, const Selection& selection, const Region& region,
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

}  // namespace

void read_part(platform::File& file, const PlotLayout& layout, const Selection& selection, const PartPlan& plan,
               std::uint64_t end, RowWindow& rows, PartProgress& progress, platform::InterruptCheck check) {
  ArrayLineReader lines(PollingFile(file, check, plan.offset));
  lines.source().end_at(end);
  CurrentLine line;
  const Preamble& preamble = layout.preamble;
  progress = PartProgress{.block_offset = plan.offset, .end = plan.offset};
  auto go = [&]<bool Everything>() {
    RowTarget<Everything, RowWindow> target(selection, rows, preamble.line_before_block(plan.first_block),
                                            plan.first_block, check, preamble.parameters,
                                            layout.width_given ? layout.width : 0);
    if (plan.blocks) {
      progress.blocks = read_blocks(lines, line, target, layout.width, preamble.parameters, *plan.blocks);
      if (progress.blocks < *plan.blocks) {
        defect("the file changed while it was read: it ends before block " + std::to_string(plan.first_block + progress.blocks + 1),
               target.line_number());
      }
      if (plan.tail) (void)read_blocks(lines, line, target, layout.width, preamble.parameters, 1);
    } else {
      while ((!plan.before || progress.block_offset < *plan.before) && target.next_block(lines)) {
        read_block_values(lines, line, layout.width, preamble.parameters, target);
        target.finish_block();
        ++progress.blocks;
        progress.block_offset = next_line_offset(lines);
      }
    }
    progress.end = next_line_offset(lines);
  };
  if (selection.everything) {
    go.template operator()<true>();
  } else {
    go.template operator()<false>();
  }
}

std::size_t most_blocks(std::uint64_t bytes, const PlotLayout& layout) {
  std::uint64_t least_block;
  if (__builtin_mul_overflow(layout.preamble.parameters, std::max<std::uint64_t>(layout.width, 1), &least_block)) return 2;
  return static_cast<std::size_t>(std::min<std::uint64_t>(bytes / least_block + 2, std::uint64_t{1} << 40));
}

std::vector<std::uint64_t> cuts_of(const Region& region, std::size_t parts, double later_share) {
  const std::uint64_t bytes = region.end - region.begin;
  const double total_share = 1.0 + later_share * static_cast<double>(parts - 1);
  std::vector<std::uint64_t> cut(parts + 1);
  for (std::size_t k = 0; k < parts; ++k) {
    const double share = k == 0 ? 0.0 : (1.0 + later_share * static_cast<double>(k - 1)) / total_share;
    cut[k] = region.begin + static_cast<std::uint64_t>(static_cast<double>(bytes) * share);
  }
  cut[parts] = region.end;
  return cut;
}

RowStore read_region(platform::File& file, const PlotLayout& layout, const Selection& selection, const Region& region,
                     std::size_t parts, platform::InterruptCheck interrupt) {
  parts = std::max<std::size_t>(parts, 1);
  if (region.blocks) return read_counted(file, layout, selection, region, parts, interrupt);
  if (parts > 1) {
    if (auto store = read_guessing_parts(file, layout, selection, region, parts, interrupt)) return std::move(*store);
  }
  return read_counting_parts(file, layout, selection, region, parts, interrupt);
}

}  // namespace quorvel
