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
#include "reader/reader.h"

namespace {

quorvel::fuzz::MemoryFile* memory_file = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  quorvel::fuzz::quiet_standard_streams(argc, argv);
  static quorvel::fuzz::MemoryFile file;
  memory_file = &file;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return -1;  // not kept in the corpus
  const std::uint64_t width = memory_file->hold(data, size);
  try {
    const quorvel::ColumnData columns = quorvel::read_plot_file(memory_file->path(), width);
    // Every column as long as the first.
    for (const auto& column : columns.others) {
      if (column.size() != columns.first.size()) std::abort();
    }
  } catch (const quorvel::Failure&) {
  }
  return 0;
}
