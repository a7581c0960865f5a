#pragma once
// The blocks of one stretch of a plot file into a matrix, on one thread or split at block
// boundaries into parts read at once. A part starts at its first block's offset with that
// block's line number, so that every message is the one a whole read gives.

#include <cstddef>

#include "platform/platform.h"
#include "reader/lines/plot_input.h"
#include "reader/parts/region.h"
#include "reader/scan/plot_scan.h"
#include "reader/targets/row_store.h"
#include "reader/targets/selection.h"

namespace quorvel {

// Throws PlotDefect, CallerError, std::bad_alloc; with parts, the first of them in file order.
RowStore read_region(PlotInput& file, const PlotLayout& layout, const Selection& selection, const Region& region,
                     std::size_t parts, platform::InterruptCheck interrupt);

}  // namespace quorvel
