#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "console/line_writer.h"
#include "support/recording_sink.h"
#include "support/io_errors.h"

namespace quorvel {
namespace {

using test_support::Accept;
using test_support::RecordingSink;

std::string repeat(char c, std::size_t n) { return std::string(n, c); }

struct LineCase {
  std::string name;
  std::vector<std::string> texts;  // printed in turn
  std::vector<RecordingSink::Answer> script;
  std::vector<std::string> requests;  // the write calls the handle saw
  std::string buffered;               // what waits afterwards
  std::optional<std::string> error;   // display rendering of the first error, if any
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << c.name; }

class LineBuffering : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineBuffering, WritesLinesAndKeepsTheRest) {
  const LineCase& c = GetParam();
  RecordingSink sink;
  sink.script.assign(c.script.begin(), c.script.end());
  LineWriter writer(sink);
  std::optional<std::string> error;
  for (const std::string& text : c.texts) {
    if (auto outcome = writer.write_all(text); !outcome && !error) error = outcome.error().display();
  }
  EXPECT_EQ(sink.requests, c.requests);
  EXPECT_EQ(writer.buffered(), c.buffered);
  EXPECT_EQ(error, c.error);
}

const std::string filled = repeat('a', 1000);

INSTANTIATE_TEST_SUITE_P(
    Cases, LineBuffering,
    ::testing::Values(
        LineCase{"TextWithoutLineFeedWaits", {"abc"}, {}, {}, "abc", std::nullopt},
        LineCase{"LineGoesStraightOutWhenBufferEmpty", {"abc\n"}, {}, {"abc\n"}, "", std::nullopt},
        LineCase{"SplitAfterLastLineFeed", {"a\nb\nc"}, {}, {"a\nb\n"}, "c", std::nullopt},
        LineCase{"LineCompletingBufferedTextIsOneWrite", {"ab", "c\nde"}, {}, {"abc\n"}, "de", std::nullopt},
        LineCase{"PiecesOfOneLineComeOutTogether",
                 {"Error: '", "x", "' is not a valid number of parameters!", "\n"},
                 {},
                 {"Error: 'x' is not a valid number of parameters!\n"},
                 "",
                 std::nullopt},
        LineCase{"FillsBufferExactly", {filled, repeat('b', 24)}, {}, {}, filled + repeat('b', 24), std::nullopt},
        LineCase{"OneByteOverFlushesFirst", {filled, repeat('b', 25)}, {}, {filled}, repeat('b', 25),
                 std::nullopt},
        LineCase{"BufferSizedTextIsCopied", {repeat('c', 1024)}, {}, {}, repeat('c', 1024), std::nullopt},
        LineCase{"LargerTextGoesStraightOut", {repeat('c', 1025)}, {}, {repeat('c', 1025)}, "", std::nullopt},
        LineCase{"LargerTextAfterBufferedText", {"x", repeat('c', 1100)}, {}, {"x", repeat('c', 1100)}, "",
                 std::nullopt},
        LineCase{"LargeLinesAfterBufferedText",
                 {"x", repeat('c', 1030) + "\nrest"},
                 {},
                 {"x", repeat('c', 1030) + "\n"},
                 "rest",
                 std::nullopt},
        LineCase{"FlushContinuesAfterPartialWrites", {"ab", "cd\n"}, {Accept{2}, Accept{2}},
                 {"abcd\n", "cd\n", "\n"}, "", std::nullopt},
        LineCase{"FlushRetriesInterrupted", {"ab", "c\n"}, {test_support::error_of_kind(ErrorKind::Interrupted)}, {"abc\n", "abc\n"}, "",
                 std::nullopt},
        LineCase{"FlushWritingNothing", {"ab", "c\n"}, {Accept{1}, Accept{0}}, {"abc\n", "bc\n"}, "bc\n",
                 "failed to write the buffered data"},
        LineCase{"DirectWriteWritingNothing", {"abc\n"}, {Accept{0}}, {"abc\n"}, "",
                 "failed to write whole buffer"},
        LineCase{"DirectWriteError", {"abc\nd"}, {test_support::error_of_kind(ErrorKind::BrokenPipe)}, {"abc\n"}, "",
                 "injected by the test"},
        // A complete line left behind by a failed flush goes out before new text is buffered.
        LineCase{"WaitingLineFlushedBeforeNewText",
                 {"ab", "c\n", "x"},
                 {test_support::error_of_kind(ErrorKind::BrokenPipe)},
                 {"abc\n", "abc\n"},
                 "x",
                 "injected by the test"},
        LineCase{"EmptyTextChangesNothing", {"ab", ""}, {}, {}, "ab", std::nullopt}),
    [](const auto& info) { return info.param.name; });

TEST(LineBuffering, NothingIsWrittenWhenTheWriterGoesAway) {
  RecordingSink sink;
  {
    LineWriter writer(sink);
    ASSERT_TRUE(writer.write_all("pending"));
  }
  EXPECT_TRUE(sink.requests.empty());
}

}  // namespace
}  // namespace quorvel
