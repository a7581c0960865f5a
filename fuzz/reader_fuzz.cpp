// The plot-file reader on any bytes: the first byte chooses the field width (1 to 20), the rest is
// the file. A defect of the file (a Failure) is a correct answer; a crash, a sanitizer report, a
// leak or a hang is not. The file lives in memory (a memfd reopened through /proc for each input).

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "failure/failure.h"
#include "quiet_output.h"
#include "reader/reader.h"

namespace {

int memory_file = -1;
std::string memory_path;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  quorvel::fuzz::quiet_standard_streams(argc, argv);
  memory_file = ::memfd_create("plot", MFD_CLOEXEC);
  if (memory_file < 0) std::abort();
  memory_path = "/proc/self/fd/" + std::to_string(memory_file);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return -1;  // not kept in the corpus
  const std::uint64_t width = data[0] % 20 + 1;
  if (::ftruncate(memory_file, 0) != 0) std::abort();
  const auto body = static_cast<std::size_t>(size - 1);
  if (body != 0 && ::pwrite(memory_file, data + 1, body, 0) != static_cast<ssize_t>(body)) std::abort();
  try {
    const quorvel::ColumnData columns = quorvel::read_plot_file(memory_path, width);
    // Every column as long as the first.
    for (const auto& column : columns.others) {
      if (column.size() != columns.first.size()) std::abort();
    }
  } catch (const quorvel::Failure&) {
  }
  return 0;
}
