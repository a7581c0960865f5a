#pragma once
// The list reader: opens the plot file, reads the header, the parameter names and the blocks, and
// builds the columns. Every defect of the file ends the call with a Failure.

#include <cstdint>
#include <string_view>

#include "platform/platform.h"
#include "reader/targets/column.h"

namespace quorvel {

// The file is closed, and everything else the reader held released, before this returns or fails.
// A signal interrupting the open or a read asks `interrupt`: when it says stop, the call ends by
// throwing CallerError (no failure, no report); by default every interruption is retried.
ColumnData read_plot_file(std::string_view path, std::uint64_t n_digits, platform::InterruptCheck interrupt = {});

}  // namespace quorvel
