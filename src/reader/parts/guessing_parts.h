#pragma once
// Every block of a stretch in parts that all start at once, each later one where a guess from
// the lines after its cut puts its first block.

#include <cstddef>
#include <optional>

#include "platform/platform.h"
#include "reader/lines/plot_input.h"
#include "reader/parts/region.h"
#include "reader/scan/plot_scan.h"
#include "reader/targets/row_store.h"
#include "reader/targets/selection.h"

namespace quorvel {

// Nothing when a cut has no block start that can be guessed.
std::optional<RowStore> read_guessing_parts(PlotInput& file, const PlotLayout& layout, const Selection& selection,
                                            const Region& region, std::size_t parts, platform::InterruptCheck interrupt);

}  // namespace quorvel
