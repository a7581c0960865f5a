#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "reader/lines/line_reader.h"
#include "support/line_reading.h"

namespace quorvel {
namespace {

TEST(LineReader, ReadsFromAPipeAsItIsWritten) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  std::thread writer([fd = ends[1]] {
    const std::string pieces[] = {"first li", "ne\r\nsecond\n", std::string(9000, 'z') + "\n", "last"};
    for (const auto& piece : pieces) EXPECT_EQ(::write(fd, piece.data(), piece.size()), ssize_t(piece.size()));
    ::close(fd);
  });
  BasicLineReader<platform::File> reader(platform::File::adopt(ends[0]));
  std::vector<std::string> lines;
  std::string line;
  while (test_support::read_line_into(reader, line).value() == LineOutcome::Line) lines.push_back(line);
  writer.join();
  EXPECT_EQ(lines, (std::vector<std::string>{"first line", "second", std::string(9000, 'z'), "last"}));
}

}  // namespace
}  // namespace quorvel
