#pragma once
// Finding an offset in a plot file without parsing: where a block starts (from a scan's index and
// a count of the lines after the nearest note), where the last finished line ends, where the line
// `n` lines on starts.

#include <cstdint>

#include "platform/platform.h"
#include "reader/lines/plot_input.h"
#include "reader/scan/plot_scan.h"

namespace quorvel {

// The offset just past the last line feed of the first `size` bytes, looked for back to `floor`
// (which is given when none lies above it).
std::uint64_t last_line_end(PlotInput& file, std::uint64_t size, std::uint64_t floor);

// The offset where `block` starts (at most the blocks counted), found from the index; the end of
// the file, when it shrank since.
std::uint64_t block_offset(PlotInput& file, const PlotLayout& layout, std::uint64_t block,
                           platform::InterruptCheck interrupt);

// The offset after the `n`-th line feed from `offset` on; the end of the file when there are fewer.
std::uint64_t skip_lines(PlotInput& file, std::uint64_t offset, std::uint64_t n, platform::InterruptCheck interrupt);

}  // namespace quorvel
