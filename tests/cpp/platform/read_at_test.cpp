// File::read_at: the bytes at an offset, on several threads at once, leaving the position the
// next plain read starts from where it was.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/temp_file.h"

namespace quorvel {
namespace {

using test_support::TempFile;

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  return bytes;
}

// Reads `want` bytes at `offset`; what came.
std::string read_at(platform::File& file, std::uint64_t offset, std::size_t want) {
  std::string into(want, '\0');
  auto got = file.read_at(offset, into);
  if (!got) {
    ADD_FAILURE() << got.error().display();
    return {};
  }
  into.resize(*got);
  return into;
}

std::string read(platform::File& file, std::size_t want) {
  std::string into(want, '\0');
  auto got = file.read(into);
  if (!got) return "error: " + got.error().display();
  into.resize(*got);
  return into;
}

TEST(ReadAt, LeavesThePositionOfPlainReadsAlone) {
  const std::string bytes = pattern(70000);
  const TempFile temp(bytes);
  auto file = platform::File::open_for_reading(temp.path());
  ASSERT_TRUE(file) << file.error().display();
  EXPECT_EQ(read(*file, 10), bytes.substr(0, 10));
  EXPECT_EQ(read_at(*file, 65536, 100), bytes.substr(65536, 100));
  EXPECT_EQ(read_at(*file, 0, 5), bytes.substr(0, 5));
  EXPECT_EQ(read(*file, 10), bytes.substr(10, 10));
  // Across the end, and past it.
  EXPECT_EQ(read_at(*file, 69990, 100), bytes.substr(69990));
  EXPECT_EQ(read_at(*file, 70000, 10), "");
  EXPECT_EQ(read_at(*file, 1u << 30, 10), "");
  EXPECT_EQ(read(*file, 10), bytes.substr(20, 10));
}

TEST(ReadAt, ThreadsReadingOneFileEachGetTheirBytes) {
  const std::string bytes = pattern(1 << 18);
  const TempFile temp(bytes);
  auto file = platform::File::open_for_reading(temp.path());
  ASSERT_TRUE(file) << file.error().display();
  std::vector<int> wrong(4, 0);
  {
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < wrong.size(); ++t) {
      threads.emplace_back([&, t] {
        for (std::size_t i = 0; i < 200; ++i) {
          const std::size_t offset = (i * 4099 + t * 65537) % (bytes.size() - 1000);
          if (read_at(*file, offset, 1000) != bytes.substr(offset, 1000)) ++wrong[t];
        }
      });
    }
  }
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
  EXPECT_EQ(read(*file, 10), bytes.substr(0, 10));
}

}  // namespace
}  // namespace quorvel
