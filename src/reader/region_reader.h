#pragma once
// The blocks of one stretch of a plot file into a matrix, on one thread or split at block
// boundaries into parts read at once. A part starts at its first block's offset with that
// block's line number, so that every message is the one a whole read gives.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/platform.h"
#include "reader/plot_scan.h"
#include "reader/row_store.h"
#include "reader/selection.h"

namespace quorvel {

struct Region {
  std::uint64_t begin = 0;  // where block `first_block` starts
  std::uint64_t end = 0;    // where the stretch ends
  std::uint64_t first_block = 0;
  std::optional<std::uint64_t> blocks{};  // nothing: as many as the stretch holds (counted first)
  // The stretch ends with the file: a block the file ends inside is read too (and is a defect).
  bool to_end = false;
};

// Throws PlotDefect, CallerError, std::bad_alloc; with parts, the first of them in file order.
RowStore read_region(platform::File& file, const PlotLayout& layout, const Selection& selection, const Region& region,
                     std::size_t parts, platform::InterruptCheck interrupt);

}  // namespace quorvel
