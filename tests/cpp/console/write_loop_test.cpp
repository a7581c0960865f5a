#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "console/raw_sink.h"
#include "os_codes.h"
#include "support/recording_sink.h"
#include "support/io_errors.h"

namespace quorvel {
namespace {

using test_support::Accept;
using test_support::RecordingSink;

struct WriteLoopCase {
  std::string name;
  std::string text;
  std::vector<RecordingSink::Answer> script;
  std::vector<std::string> requests;
  std::string output;
  std::optional<std::string> error;  // display rendering of the error, if the loop fails
};

void PrintTo(const WriteLoopCase& c, std::ostream* out) { *out << c.name; }

class WriteLoop : public ::testing::TestWithParam<WriteLoopCase> {};

TEST_P(WriteLoop, WritesEverythingOrReportsTheError) {
  const WriteLoopCase& c = GetParam();
  RecordingSink sink;
  sink.script.assign(c.script.begin(), c.script.end());
  const auto outcome = write_all(sink, c.text);
  EXPECT_EQ(sink.requests, c.requests);
  EXPECT_EQ(sink.output, c.output);
  if (c.error) {
    ASSERT_FALSE(outcome);
    EXPECT_EQ(outcome.error().display(), *c.error);
  } else {
    EXPECT_TRUE(outcome);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteLoop,
    ::testing::Values(
        WriteLoopCase{"EmptyTextWritesNothing", "", {}, {}, "", std::nullopt},
        WriteLoopCase{"OneWrite", "abc\n", {}, {"abc\n"}, "abc\n", std::nullopt},
        WriteLoopCase{"PartialWritesContinue", "abcdefgh", {Accept{3}, Accept{3}},
                      {"abcdefgh", "defgh", "gh"}, "abcdefgh", std::nullopt},
        WriteLoopCase{"InterruptedIsRetried", "abc", {test_support::error_of_kind(ErrorKind::Interrupted), test_support::error_of_kind(ErrorKind::Interrupted)},
                      {"abc", "abc", "abc"}, "abc", std::nullopt},
        WriteLoopCase{"ZeroBytesIsWriteZero", "abcdef", {Accept{2}, Accept{0}}, {"abcdef", "cdef"}, "ab",
                      "failed to write whole buffer"},
        WriteLoopCase{"OtherErrorsEndTheLoop", "abc", {Accept{1}, test_support::error_of_kind(ErrorKind::BrokenPipe), Accept{5}},
                      {"abc", "bc"}, "a", "injected by the test"}),
    [](const auto& info) { return info.param.name; });

TEST(WriteLoop, ZeroBytesGivesTheWriteZeroKind) {
  RecordingSink sink;
  sink.script.push_back(Accept{0});
  const auto outcome = write_all(sink, "x");
  ASSERT_FALSE(outcome);
  EXPECT_EQ(outcome.error().kind(), ErrorKind::WriteZero);
  EXPECT_EQ(outcome.error().form(), IoError::Form::SimpleMessage);
}

struct MissingStreamCase {
  std::string name;
  RecordingSink::Answer answer;
  std::optional<std::size_t> written;  // nothing: the error passes through
};

void PrintTo(const MissingStreamCase& c, std::ostream* out) { *out << c.name; }

class MissingStream : public ::testing::TestWithParam<MissingStreamCase> {};

TEST_P(MissingStream, OnlyAMissingStreamCountsAsDone) {
  const MissingStreamCase& c = GetParam();
  RecordingSink inner;
  inner.script.push_back(c.answer);
  MissingStreamAsDone sink(inner);
  const std::string text = "0123456789";
  const auto written = sink.write(text);
  if (c.written) {
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, *c.written);
  } else {
    EXPECT_FALSE(written);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MissingStream,
                         ::testing::Values(MissingStreamCase{"Missing", IoError::os(os_codes::missing_stream), 10},
                                           MissingStreamCase{"Partial", Accept{4}, 4},
                                           MissingStreamCase{"BrokenPipe", IoError::os(os_codes::broken_pipe), std::nullopt},
                                           MissingStreamCase{"Interrupted", test_support::error_of_kind(ErrorKind::Interrupted), std::nullopt}),
                         [](const auto& info) { return info.param.name; });

TEST(MissingStream, WholeTextToAMissingStreamIsDoneInOneRequest) {
  RecordingSink inner;
  inner.script.push_back(IoError::os(os_codes::missing_stream));
  MissingStreamAsDone sink(inner);
  EXPECT_TRUE(write_all(sink, "dropped\n"));
  EXPECT_EQ(inner.requests.size(), 1u);
  EXPECT_EQ(inner.output, "");
}

}  // namespace
}  // namespace quorvel
