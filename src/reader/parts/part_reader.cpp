#include "reader/parts/part_reader.h"

#include <algorithm>
#include <string>

#include "reader/layout/plot_defect.h"
#include "reader/targets/row_store.h"

namespace quorvel {
namespace {

// The offset of the next line the line reader gives.
std::uint64_t next_line_offset(ArrayLineReader& lines) { return lines.source().position() - lines.unread().size(); }

}  // namespace

void read_part(PlotInput& file, const PlotLayout& layout, const Selection& selection, const PartPlan& plan,
               std::uint64_t end, RowWindow& rows, PartProgress& progress, platform::InterruptCheck check) {
  ArrayLineReader lines(FileSource(file, check, plan.offset));
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
  return static_cast<std::size_t>(std::min<std::uint64_t>(bytes / least_block + 2, most_sized_rows));
}

std::vector<std::uint64_t> cuts_of(const Region& region, std::size_t parts) {
  const std::uint64_t bytes = region.end - region.begin;
  std::vector<std::uint64_t> cut(parts + 1);
  for (std::size_t k = 0; k < parts; ++k) {
    const double share = static_cast<double>(k) / static_cast<double>(parts);
    cut[k] = region.begin + static_cast<std::uint64_t>(static_cast<double>(bytes) * share);
  }
  cut[parts] = region.end;
  return cut;
}

}  // namespace quorvel
