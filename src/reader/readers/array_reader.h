#pragma once
// The plot-file reader behind the array module: the names, and the values of the selected
// parameters as one row-major float32 matrix. Unlike the list reader it never writes to the
// console: every problem is thrown as a value that says where the file is bad.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/io_error.h"
#include "platform/platform.h"
#include "reader/layout/plot_defect.h"
#include "reader/scan/plot_scan.h"
#include "reader/targets/row_store.h"
#include "reader/targets/selection.h"

namespace quorvel {

// Blocks `[start, stop)` as a slice of step 1 takes them: a negative bound counts from the end of
// the complete blocks, a bound past either end is moved to it, nothing is that end.
struct BlockRange {
  std::optional<std::int64_t> start{};
  std::optional<std::int64_t> stop{};
};

struct ArrayRequest {
  std::string_view path;
  std::optional<std::uint64_t> n_digits{};            // nothing: found from the first value line
  std::optional<std::vector<ColumnChoice>> columns{};  // nothing: every parameter, in file order
  // Nothing: every block. A range needs a file that can seek (else NotSeekable). Only the header,
  // the names, block 0's first value line (when the width is to be found) and the chosen blocks
  // are parsed; a range that reaches the end takes in a block the file ends inside, as a defect.
  std::optional<BlockRange> blocks{};
  std::optional<BlockStart> count_from{};  // where an earlier scan found a block at or before the range
  // Where the range's stop block starts, from an earlier read: with `count_from` at the range's
  // start (both bounds from 0) nothing is counted.
  std::optional<BlockStart> count_to{};
  // Parts read at once, split at block boundaries; a file that cannot seek is read in one.
  std::size_t threads = 1;
  std::uint64_t least_part_bytes = 4096;  // a small file is read in fewer parts
  // A file still being written: only its finished lines are read and only its complete blocks
  // kept (with a range, whose end is never the file's); `next` is always given. A file without
  // its header, names and first value line yet throws NotYet; one shorter than `count_from`'s
  // offset has shrunk, a defect.
  bool follow = false;
  // Asked when a signal interrupts the open or a read, and every few million values besides (a
  // long read of a regular file is never interrupted); stopping throws CallerError.
  platform::InterruptCheck interrupt{};
};

struct ArrayRead {
  std::uint64_t first_block = 0;  // the block of the first row
  std::string header;
  std::vector<std::string> names;  // of the selected parameters, in the order asked
  RowStore values;                 // one row per block, names.size() values each
  std::uint64_t n_digits = 0;      // 0 when it was to be found and the file has no block
  // For a range that ends before the end of the file: where the blocks after it start, so that a
  // read of the next range counts from there.
  std::optional<BlockStart> next{};
  std::optional<platform::FileIdentity> file{};  // of the file read, for a range
  std::optional<BlockStart> start{};             // where the range's first block starts
  std::uint64_t counted = 0;                     // blocks counted to find the range
};

// The file could not be opened.
struct OpenError {
  IoError error;
};

// A range of blocks was asked of a file that cannot seek (a pipe, say).
struct NotSeekable {};

// A file followed as it is written does not hold its first block yet.
struct NotYet {};

// Throws OpenError, NotSeekable, PlotDefect, SelectionError, CallerError or std::bad_alloc; the
// file is closed and all memory but the result's released when it returns or throws.
ArrayRead read_plot_arrays(const ArrayRequest& request);

// What `scan_plot` finds (the values unparsed), with the file opened by path.
struct ScanRequest {
  std::string_view path;
  std::optional<std::uint64_t> n_digits{};
  std::optional<BlockStart> count_from{};  // a block an earlier scan found: counted on from there
  std::size_t threads = 1;                // the count, split at block boundaries
  std::uint64_t least_part_bytes = 4096;  // as a read's, for its parts
  bool first_values = false;              // each block's first value too
  platform::InterruptCheck interrupt{};
};
// Throws OpenError, PlotDefect (a block the file ends inside too), CallerError or std::bad_alloc.
PlotLayout scan_plot_file(const ScanRequest& request);

}  // namespace quorvel
