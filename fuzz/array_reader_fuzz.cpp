// The array reader against the list reader on any bytes: the first byte chooses the field width
// (1 to 20), the rest is the file. Both readers refuse the same files, except that the array reader
// also refuses value lines that do not fit the width given (the list reader ignores what follows
// the fields); where both read one, the matrix holds the list reader's columns bit for bit, row
// after row. A crash, a sanitizer report,
// a leak, a hang or a disagreement is a finding.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "memory_file.h"
#include "quiet_output.h"
#include "reader/readers/array_reader.h"
#include "reader/readers/list_reader.h"

namespace {


// The list reader's values, row after row; nothing when it refuses the file.
std::optional<std::vector<float>> list_rows(std::uint64_t width, std::size_t& parameters) {
  try {
    const quorvel::ColumnData columns = quorvel::read_plot_file(quorvel::fuzz::plot_file().path(), width);
    parameters = columns.others.size() + 1;
    std::vector<std::vector<float>> flat(parameters);
    const auto collect = [](std::vector<float>& into, const quorvel::Column& column) {
      column.for_each_chunk([&](auto values) { into.insert(into.end(), values.begin(), values.end()); });
    };
    collect(flat[0], columns.first);
    for (std::size_t j = 1; j < parameters; ++j) collect(flat[j], columns.others[j - 1]);
    std::vector<float> rows;
    for (std::size_t b = 0; b < flat[0].size(); ++b) {
      for (std::size_t j = 0; j < parameters; ++j) rows.push_back(flat[j][b]);
    }
    return rows;
  } catch (const quorvel::Failure&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  quorvel::fuzz::quiet_standard_streams(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || quorvel::fuzz::looks_compressed(data + 1, size - 1)) return -1;  // not kept in the corpus
  quorvel::fuzz::MemoryFile& file = quorvel::fuzz::plot_file();
  const std::uint64_t width = file.hold(data, size);

  std::size_t parameters = 0;
  const std::optional<std::vector<float>> expected = list_rows(width, parameters);
  try {
    const quorvel::ArrayRead read = quorvel::read_plot_arrays({.path = file.path(), .n_digits = width});
    if (!expected || read.names.size() != parameters) std::abort();
    const std::size_t count = read.values.rows() * parameters;
    if (count != expected->size()) std::abort();
    for (std::size_t i = 0; i < count; ++i) {
      if (std::bit_cast<std::uint32_t>(read.values.data()[i]) != std::bit_cast<std::uint32_t>((*expected)[i])) {
        std::abort();
      }
    }
  } catch (const quorvel::PlotDefect& defect) {
    const bool misfit = defect.reason.starts_with("the field width " + std::to_string(width) + " does not fit this file: ");
    if ((expected && !misfit) || defect.line == 0) std::abort();
  }
  return 0;
}
