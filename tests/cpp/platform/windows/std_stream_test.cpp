// Writes to the standard handles: fetched on every write, a missing handle dropped silently,
// bytes passed unchanged to anything that is not a console.

#include "platform/windows/windows_headers.h"

#include <gtest/gtest.h>

#include <string>

#include "failure/failure.h"
#include "failure/std_writers.h"
#include "platform/platform.h"
#include "platform/windows/unique_handle.h"
#include "pipe.h"
#include "support/io_errors.h"

namespace quorvel {
namespace {

using platform::StdStream;
using platform::windows::UniqueHandle;

// Puts `handle` in place of a standard handle for the test's duration.
class StdHandleSwap {
 public:
  StdHandleSwap(DWORD which, HANDLE handle) : which_(which), saved_(::GetStdHandle(which)) {
    ::SetStdHandle(which, handle);
  }
  StdHandleSwap(const StdHandleSwap&) = delete;
  StdHandleSwap& operator=(const StdHandleSwap&) = delete;
  ~StdHandleSwap() { ::SetStdHandle(which_, saved_); }

 private:
  DWORD which_;
  HANDLE saved_;
};

struct StreamCase {
  std::string name;
  StdStream stream;
  DWORD which;
};

void PrintTo(const StreamCase& c, std::ostream* out) { *out << c.name; }

class MissingStdHandle : public ::testing::TestWithParam<StreamCase> {};

TEST_P(MissingStdHandle, IsErrorSixWhichCountsAsSuccess) {
  StdHandleSwap swap(GetParam().which, nullptr);
  const auto written = platform::write_std(GetParam().stream, std::string("dropped"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().form(), IoError::Form::Os);
  EXPECT_EQ(written.error().os_code(), 6);
  EXPECT_TRUE(platform::is_missing_stream_error(written.error()));
  // The writers above take it as everything written.
  if (GetParam().stream == StdStream::Output) {
    EXPECT_NO_THROW(print_stdout("dropped\n"));
  } else {
    EXPECT_NO_THROW(print_stderr("dropped\n"));
  }
}

INSTANTIATE_TEST_SUITE_P(Streams, MissingStdHandle,
                         ::testing::Values(StreamCase{"Output", StdStream::Output, STD_OUTPUT_HANDLE},
                                           StreamCase{"Error", StdStream::Error, STD_ERROR_HANDLE}),
                         [](const auto& info) { return info.param.name; });

TEST(StdHandles, OnlyErrorSixIsAMissingStream) {
  EXPECT_TRUE(platform::is_missing_stream_error(IoError::os(6)));
  EXPECT_FALSE(platform::is_missing_stream_error(IoError::os(9)));
  EXPECT_FALSE(platform::is_missing_stream_error(IoError::os(232)));
  EXPECT_FALSE(platform::is_missing_stream_error(test_support::error_of_kind(ErrorKind::NotFound)));
}

TEST(StdHandles, AnEmptyWriteSucceedsWithoutAHandle) {
  StdHandleSwap swap(STD_OUTPUT_HANDLE, nullptr);
  EXPECT_EQ(platform::write_std(StdStream::Output, {}).value_or(99), 0u);
}

using test_support::Pipe;

// Room for everything a test writes, so that no write waits for a reader.
Pipe make_pipe() { return test_support::make_pipe(1 << 16); }

std::string drain(const Pipe& pipe) {
  std::string out;
  DWORD available = 0;
  while (::PeekNamedPipe(pipe.read_end.get(), nullptr, 0, nullptr, &available, nullptr) && available > 0) {
    std::string chunk(available, '\0');
    DWORD got = 0;
    if (!::ReadFile(pipe.read_end.get(), chunk.data(), available, &got, nullptr)) break;
    out.append(chunk, 0, got);
  }
  return out;
}

TEST_P(MissingStdHandle, APipeGetsTheBytesUnchangedAndTheHandleIsFetchedPerWrite) {
  const Pipe first = make_pipe();
  const Pipe second = make_pipe();
  const std::string bytes = "caf\xC3\xA9 \xFF\xFE not UTF-8\n";
  {
    StdHandleSwap swap(GetParam().which, first.write_end.get());
    EXPECT_EQ(platform::write_std(GetParam().stream, bytes).value_or(0), bytes.size());
  }
  {
    StdHandleSwap swap(GetParam().which, second.write_end.get());
    EXPECT_EQ(platform::write_std(GetParam().stream, std::string("next")).value_or(0), 4u);
  }
  EXPECT_EQ(drain(first), bytes);
  EXPECT_EQ(drain(second), "next");
}

TEST(StdHandles, APipeWithoutReaderFailsThePrintWithItsOsError) {
  Pipe pipe = make_pipe();
  pipe.read_end.reset();
  StdHandleSwap swap(STD_ERROR_HANDLE, pipe.write_end.get());
  const auto written = platform::write_std(StdStream::Error, std::string("x"));
  ASSERT_FALSE(written);
  EXPECT_EQ(written.error().kind(), ErrorKind::BrokenPipe) << written.error().os_code();
  try {
    print_stderr("lost\n");  // its report goes to the same closed pipe and is lost too
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    const std::string code = std::to_string(written.error().os_code());
    EXPECT_EQ(failure.message().rfind("failed printing to stderr: ", 0), 0u) << failure.message();
    EXPECT_TRUE(failure.message().ends_with(" (os error " + code + ")")) << failure.message();
  }
}

}  // namespace
}  // namespace quorvel
