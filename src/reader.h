#pragma once
// The plot-file reader: opens the file, reads the header, the parameter names and the blocks, and
// builds the columns. Every defect of the file ends the call with a Failure.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "column.h"
#include "column_arena.h"

namespace quorvel {

struct ColumnData {
  // Empty columns, `other_count` besides the first, in storage from a new arena.
  explicit ColumnData(std::size_t other_count) : arena(std::make_unique<ColumnArena>()), first(*arena) {
    others.reserve(other_count);
    for (std::size_t i = 0; i < other_count; ++i) others.emplace_back(*arena);
  }

  std::unique_ptr<ColumnArena> arena;  // declared first, so that it outlives the columns
  Column first;                        // value 0 of each block: the time axis
  std::vector<Column> others;          // other column i holds value i + 1 of each block
};

// The file is closed, and everything else the reader held released, before this returns or fails.
ColumnData read_plot_file(std::string_view path, std::uint64_t n_digits);

}  // namespace quorvel
