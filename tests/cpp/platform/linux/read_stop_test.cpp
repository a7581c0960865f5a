// A stop asked for on another thread ends an open or a read blocked on a FIFO: the reading
// thread is woken, its check sees the flag, and the call fails as interrupted. The stopping
// thread asks again until the reader has ended, as a wake can come just before the call blocks.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <expected>
#include <optional>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "reader/readers/read_stop.h"
#include "support/temp_file.h"

namespace quorvel {
namespace {

enum class Blocked { InOpen, InRead };

struct StopCase {
  const char* name;
  Blocked where;
};

class ReadStopWake : public testing::TestWithParam<StopCase> {};

TEST_P(ReadStopWake, EndsTheBlockedCallAsInterrupted) {
  test_support::TempFile placeholder("");
  const std::string fifo = placeholder.path() + ".fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // For a read that blocks, someone holds the FIFO open for writing and writes nothing.
  int writer = -1;
  if (GetParam().where == Blocked::InRead) {
    writer = ::open(fifo.c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
  }

  ReadStop stop;
  const platform::InterruptCheck check{
      .stop = [](void* context) { return static_cast<ReadStop*>(context)->requested(); }, .context = &stop};
  std::atomic<bool> ended{false};
  std::optional<ErrorKind> kind;
  std::thread reader([&] {
    const ReadStop::Reading reading(stop);
    auto file = platform::File::open_for_reading(fifo, check);
    if (!file) {
      kind = file.error().kind();
    } else {
      char byte = 0;
      auto got = file->read(std::span<char>(&byte, 1));
      kind = got ? ErrorKind::Other : got.error().kind();
    }
    ended = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // most often blocked by then
  EXPECT_FALSE(ended);
  int asks = 0;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ended && std::chrono::steady_clock::now() < give_up) {
    stop.request();
    ++asks;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const bool stopped_in_time = ended;
  if (!ended) {  // never woken: end the call the ordinary way, so that the test can report it
    if (writer < 0) writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    EXPECT_EQ(::write(writer, "x", 1), 1);
  }
  reader.join();
  if (writer >= 0) ::close(writer);
  EXPECT_TRUE(stopped_in_time);
  ::unlink(fifo.c_str());

  EXPECT_TRUE(stop.requested());
  EXPECT_EQ(kind, ErrorKind::Interrupted);
  EXPECT_GE(asks, 1);
}

INSTANTIATE_TEST_SUITE_P(Fifo, ReadStopWake, testing::Values(
    StopCase{"OpenWithoutWriter", Blocked::InOpen},
    StopCase{"ReadWithoutData", Blocked::InRead}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
