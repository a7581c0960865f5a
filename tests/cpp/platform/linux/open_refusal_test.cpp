#include <dirent.h>
#include <gtest/gtest.h>

#include <string>

#include "failure/failure.h"
#include "reader/readers/list_reader.h"
#include "support/temp_file.h"

// Opening refusals and file closing, with this system's error codes and texts.

namespace quorvel {
namespace {

// Reads a plot file holding `bytes`; failures and the count line are expected and dropped.
void read_bytes(const std::string& bytes) {
  test_support::TempFile file(bytes);
  testing::internal::CaptureStdout();
  try {
    read_plot_file(file.path(), 12);
  } catch (const Failure&) {
  }
  testing::internal::GetCapturedStdout();
}

TEST(Reader, MissingFileNamesTheOsError) {
  try {
    read_plot_file("/nonexistent-quorvel-dir/missing.plt", 12);
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message(),
              "Plot file not found!: Os { code: 2, kind: NotFound, message: \"No such file or directory\" }");
  }
}

TEST(Reader, OpenRefusals) {
  struct Refusal {
    std::string path;
    std::string message;
  };
  const Refusal refusals[] = {
      {"/", "Plot file not found!: Os { code: 21, kind: IsADirectory, message: \"Is a directory\" }"},
      {std::string("/tmp/a\0b", 8),
       "Plot file not found!: Error { kind: InvalidInput, message: \"strings passed to WinAPI cannot contain NULs\" }"},
      {"/etc/passwd/x", "Plot file not found!: Os { code: 20, kind: NotADirectory, message: \"Not a directory\" }"},
      {"/" + std::string(5000, 'a'), "Plot file not found!: Os { code: 36, kind: InvalidFilename, message: \"File name too long\" }"},
  };
  for (const auto& refusal : refusals) {
    try {
      read_plot_file(refusal.path, 12);
      ADD_FAILURE() << "no failure for " << refusal.path;
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.message(), refusal.message);
    }
  }
}

std::size_t open_descriptors() {
  std::size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
  }
  return count;
}

TEST(Reader, ClosesTheFileOnEveryPath) {
  const std::size_t before = open_descriptors();
  for (int i = 0; i < 50; ++i) {
    for (const char* bytes : {"1\na\nsep\n         1.5\n", "1\na\nsep\n         bad\n", "3 x\n"}) {
      read_bytes(bytes);
    }
  }
  EXPECT_EQ(open_descriptors(), before);
}

}  // namespace
}  // namespace quorvel
