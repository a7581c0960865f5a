#pragma once
// What a plot file holds, found without parsing a value: the header and names, the field width,
// and the blocks, counted by their lines at memory speed, with an index of where they start.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/platform.h"
#include "reader/lines/plot_input.h"
#include "reader/layout/plot_preamble.h"
#include "reader/scan/block_counter.h"
#include "reader/targets/selection.h"

namespace quorvel {

// Where a block starts, as an earlier scan of the same file found it.
struct BlockStart {
  std::uint64_t block = 0;
  std::uint64_t offset = 0;
  std::uint64_t line = 0;  // the line before the block (0: not known)
};

struct ScanOptions {
  std::optional<std::uint64_t> n_digits{};  // nothing: found from the first value line
  // A given width is checked to fit the first value line. (A ranged read leaves it to the lines
  // it reads, so that its message names one of them, as before.)
  bool check_width = false;
  // Selected right after the names, as a whole read selects, so that a selection problem comes
  // before a defect of the blocks.
  const std::optional<std::vector<ColumnChoice>>* columns = nullptr;
  bool count = true;                          // false: the preamble and the width only
  std::optional<BlockStart> count_from{};     // for a file that can seek: count from there on
  std::optional<std::uint64_t> enough_blocks{};  // stop counting once this many blocks are known
  // A count from the start also keeps each block's first value (its time), when every one is a
  // field in the layout a read parses.
  bool first_values = false;
  // A file still being written: read up to `end` only (the end of its last finished line), and a
  // file that ends before its first value line is not a defect (the scan gives nothing).
  std::optional<std::uint64_t> end{};
  // A whole file counted from its start may be counted on this many threads, parts of at least
  // `least_part_bytes`.
  std::size_t threads = 1;
  std::uint64_t least_part_bytes = std::uint64_t{1} << 18;
  platform::InterruptCheck interrupt{};
};

struct PlotLayout {
  Preamble preamble;
  std::optional<Selection> selection;  // when `columns` were given to select from
  std::uint64_t width = 0;             // given, or found; 0: the file has no value line to find it from
  bool width_given = false;
  std::uint64_t data_start = 0;        // the offset of block 0
  // What the count found: complete blocks, and the lines after them (a block the file ends
  // inside). When counting stopped early, `blocks` is `enough_blocks` or more and there is no tail.
  std::uint64_t blocks = 0;
  std::uint64_t tail_lines = 0;
  bool counted_to_end = false;
  std::uint64_t size = 0;  // bytes up to where the count stopped
  BlockIndex index;
  std::optional<std::vector<float>> first_values;  // one for each of `blocks`, when asked and kept
};

// Reads the file from where it stands (for a file that can seek: from its start). Throws
// PlotDefect for a defect of the header, the names or the first value line (when the width is
// found from it), SelectionError, CallerError.
std::optional<PlotLayout> scan_plot(PlotInput& file, const ScanOptions& options);

// Counts the blocks from block 0 on, on this thread, up to `end` (nothing: the end of the file),
// into `layout`: its blocks, tail, size and index. Throws PlotDefect for a read that failed.
void count_from_start(PlotInput& file, PlotLayout& layout, std::optional<std::uint64_t> end,
                      platform::InterruptCheck interrupt);

// The message and line a whole read gives for the block the file ends inside.
[[noreturn]] void tail_defect(const PlotLayout& layout);

}  // namespace quorvel
