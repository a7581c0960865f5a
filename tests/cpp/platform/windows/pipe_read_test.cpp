// Reading through the native read call from an anonymous pipe: the writer's close ends the input.

#include "platform/windows/windows_headers.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/windows/unique_handle.h"
#include "pipe.h"
#include "reader/lines/line_reader.h"
#include "support/line_reading.h"

namespace quorvel {
namespace {

using platform::windows::UniqueHandle;

using test_support::make_pipe;
using test_support::Pipe;

TEST(PipeRead, LinesArriveAsTheyAreWrittenAndTheWritersCloseEndsThem) {
  Pipe pipe = make_pipe();
  std::thread writer([end = std::move(pipe.write_end)] {
    const std::string pieces[] = {"first li", "ne\r\nsecond\n", std::string(9000, 'z') + "\n", "last"};
    for (const auto& piece : pieces) {
      DWORD written = 0;
      EXPECT_TRUE(::WriteFile(end.get(), piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr));
      EXPECT_EQ(written, piece.size());
    }
  });  // the write end closes with the thread's copy
  BasicLineReader<platform::File> reader(
      platform::File::adopt(reinterpret_cast<std::intptr_t>(pipe.read_end.release())));
  std::vector<std::string> lines;
  std::string line;
  while (test_support::read_line_into(reader, line).value() == LineOutcome::Line) lines.push_back(line);
  writer.join();
  EXPECT_EQ(lines, (std::vector<std::string>{"first line", "second", std::string(9000, 'z'), "last"}));
}

TEST(PipeRead, AClosedWriterIsABrokenPipe) {
  Pipe pipe = make_pipe();
  pipe.write_end.reset();
  platform::File file = platform::File::adopt(reinterpret_cast<std::intptr_t>(pipe.read_end.release()));
  char buffer[16];
  const auto got = file.read(buffer);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().os_code(), 109);  // ERROR_BROKEN_PIPE
  EXPECT_EQ(got.error().kind(), ErrorKind::BrokenPipe);
}

TEST(FileRead, EndOfFileIsZeroBytes) {
  const std::wstring path = L"quorvel-eof-test.tmp";
  {
    UniqueHandle handle(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(handle);
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(handle.get(), "abc", 3, &written, nullptr));
  }
  {
    auto file = platform::File::open_for_reading("quorvel-eof-test.tmp");
    ASSERT_TRUE(file);
    char buffer[8];
    EXPECT_EQ(file->read(buffer).value_or(99), 3u);
    EXPECT_EQ(file->read(buffer).value_or(99), 0u);
    EXPECT_EQ(file->read(buffer).value_or(99), 0u);
  }
  ::DeleteFileW(path.c_str());
}

}  // namespace
}  // namespace quorvel
