#pragma once
// The plot-file reader behind the array module: the names, and the values of the selected
// parameters as one row-major float32 matrix. Unlike the list reader it never writes to the
// console: every problem is thrown as a value that says where the file is bad.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/io_error.h"
#include "platform/platform.h"
#include "reader/row_store.h"
#include "reader/selection.h"

namespace quorvel {

struct ArrayRequest {
  std::string_view path;
  std::optional<std::uint64_t> n_digits{};            // nothing: found from the first value line
  std::optional<std::vector<ColumnChoice>> columns{};  // nothing: every parameter, in file order
  // Asked when a signal interrupts the open or a read, and every few million values besides (a
  // long read of a regular file is never interrupted); stopping throws CallerError.
  platform::InterruptCheck interrupt{};
};

struct ArrayRead {
  std::string header;
  std::vector<std::string> names;  // of the selected parameters, in the order asked
  RowStore values;                 // one row per block, names.size() values each
  std::uint64_t n_digits = 0;      // 0 when it was to be found and the file has no block
};

// The file could not be opened.
struct OpenError {
  IoError error;
};

// A defect of the file, at a 1-based line and, where it lies in a field, 1-based byte column.
struct PlotDefect {
  std::string reason;
  std::uint64_t line = 0;
  std::optional<std::uint64_t> column;
};

// Throws OpenError, PlotDefect, SelectionError, CallerError or std::bad_alloc; the file is closed and all
// memory but the result's released when it returns or throws.
ArrayRead read_plot_arrays(const ArrayRequest& request);

}  // namespace quorvel
