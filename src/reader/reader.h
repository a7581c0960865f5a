#pragma once
// The plot-file reader: opens the file, reads the header, the parameter names and the blocks, and
// builds the columns. Every defect of the file ends the call with a Failure.

#include <cstdint>
#include <string_view>

#include "reader/column.h"

namespace quorvel {

// The file is closed, and everything else the reader held released, before this returns or fails.
ColumnData read_plot_file(std::string_view path, std::uint64_t n_digits);

}  // namespace quorvel
