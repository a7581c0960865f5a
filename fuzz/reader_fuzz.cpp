// The plot-file reader on any bytes: the first byte chooses the field width (1 to 20), the rest is
// the file. A defect of the file (a Failure) is a correct answer; a crash, a sanitizer report, a
// leak or a hang is not.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "failure/failure.h"
#include "memory_file.h"
#include "quiet_output.h"
#include "reader/readers/list_reader.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  quorvel::fuzz::quiet_standard_streams(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return -1;  // not kept in the corpus
  quorvel::fuzz::MemoryFile& file = quorvel::fuzz::plot_file();
  const std::uint64_t width = file.hold(data, size);
  try {
    const quorvel::ColumnData columns = quorvel::read_plot_file(file.path(), width);
    // Every column as long as the first.
    for (const auto& column : columns.others) {
      if (column.size() != columns.first.size()) std::abort();
    }
  } catch (const quorvel::Failure&) {
  }
  return 0;
}
