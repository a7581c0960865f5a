#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "console/shared_writer.h"
#include "failure/failure.h"
#include "failure/std_writers.h"
#include "support/recording_sink.h"

namespace quorvel {
namespace {

// A sink that runs a hook inside the write, as a print made while printing would.
class HookSink final : public RawSink {
 public:
  std::function<void()> hook;
  std::string output;
  std::expected<std::size_t, IoError> write(std::span<const char> bytes) override {
    if (hook) std::exchange(hook, nullptr)();
    output.append(bytes.data(), bytes.size());
    return bytes.size();
  }
};

template <class Inner>
void expect_nested_write_fails() {
  HookSink sink;
  SharedWriter<Inner> writer(sink, &fail_writer_reentered);
  sink.hook = [&] { (void)writer.write_all("inner\n"); };
  try {
    (void)writer.write_all("outer\n");
    ADD_FAILURE() << "a write from inside a write went through";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message(), "RefCell already borrowed");
  }
  // The borrow ended with the failed write: the writer works again.
  EXPECT_TRUE(writer.write_all("after\n"));
  EXPECT_EQ(sink.output, "after\n");
}

TEST(SharedWriter, WriteInsideWriteIsAFaultUnbuffered) { expect_nested_write_fails<UnbufferedWriter>(); }
TEST(SharedWriter, WriteInsideWriteIsAFaultLineBuffered) { expect_nested_write_fails<LineWriter>(); }

TEST(SharedWriter, UnbufferedWritesEachTextInFull) {
  test_support::RecordingSink sink;
  sink.script.push_back(test_support::Accept{2});
  SharedWriter<UnbufferedWriter> writer(sink, &fail_writer_reentered);
  ASSERT_TRUE(writer.write_all("abc"));
  ASSERT_TRUE(writer.write_all("de"));
  EXPECT_EQ(sink.requests, (std::vector<std::string>{"abc", "c", "de"}));
}

TEST(SharedWriter, LineBufferedKeepsTheTailBehindTheLock) {
  test_support::RecordingSink sink;
  SharedWriter<LineWriter> writer(sink, &fail_writer_reentered);
  ASSERT_TRUE(writer.write_all("one\ntw"));
  std::string waiting;
  writer.inspect([&](const LineWriter& inner) { waiting = inner.buffered(); });
  EXPECT_EQ(sink.output, "one\n");
  EXPECT_EQ(waiting, "tw");
}

}  // namespace
}  // namespace quorvel
