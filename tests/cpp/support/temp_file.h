#pragma once
// A file in the test's temporary directory, removed when the test is done with it.

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace quorvel::test_support {

class TempFile {
 public:
  explicit TempFile(const std::string& bytes) {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("quorvel-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".plt");
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { std::filesystem::remove(path_); }

  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace quorvel::test_support
