#pragma once
// One part of a read in parts: what it reads and how, and the sizes the parts are planned with.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/platform.h"
#include "reader/lines/plot_input.h"
#include "reader/parts/region.h"
#include "reader/scan/plot_scan.h"
#include "reader/targets/row_target.h"
#include "reader/targets/selection.h"

namespace quorvel {

// What one part reads: from block `first_block` at `offset`, `blocks` blocks or (`before`) the
// blocks that start before that offset; then, with `tail`, the block the file ends inside.
struct PartPlan {
  std::uint64_t offset = 0;
  std::uint64_t first_block = 0;
  std::optional<std::uint64_t> blocks{};
  std::optional<std::uint64_t> before{};
  bool tail = false;
};

// How far a part got: the blocks it finished, where the block after them starts (the one it was
// reading, when it threw), and where it stopped.
struct PartProgress {
  std::uint64_t blocks = 0;
  std::uint64_t block_offset = 0;
  std::uint64_t end = 0;
};

// Reads the part's blocks into `rows`, keeping `progress` up to date as it goes.
void read_part(PlotInput& file, const PlotLayout& layout, const Selection& selection, const PartPlan& plan,
               std::uint64_t end, RowWindow& rows, PartProgress& progress, platform::InterruptCheck check);

// Rows enough for every block that starts in `bytes` bytes: a block's values take at least their
// width each.
std::size_t most_blocks(std::uint64_t bytes, const PlotLayout& layout);

// Where the stretch is cut for `parts` parts of equal bytes.
std::vector<std::uint64_t> cuts_of(const Region& region, std::size_t parts);

}  // namespace quorvel
