#include "reader/lines/line_reader.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <variant>
#include <vector>

#include "platform/platform.h"

#include "support/case_name.h"
#include "support/io_errors.h"
#include "support/line_reading.h"

namespace quorvel {
namespace {

// A source that delivers a scripted sequence of chunks and errors, then end of input.
struct ScriptedSource {
  std::deque<std::variant<std::string, IoError>> script;
  int reads = 0;

  std::expected<std::size_t, IoError> read(std::span<char> into) {
    ++reads;
    if (script.empty()) return 0;
    auto next = std::move(script.front());
    script.pop_front();
    if (auto* error = std::get_if<IoError>(&next)) return std::unexpected(*error);
    auto& chunk = std::get<std::string>(next);
    const std::size_t n = std::min(chunk.size(), into.size());
    chunk.copy(into.data(), n);
    if (n < chunk.size()) script.push_front(chunk.substr(n));
    return n;
  }
};

// Every outcome until end of input: lines as text, errors as their debug rendering.
std::vector<std::string> read_all(BasicLineReader<ScriptedSource>& reader) {
  std::vector<std::string> outcomes;
  std::string line;
  for (int guard = 0; guard < 100000; ++guard) {
    auto got = test_support::read_line_into(reader, line);
    if (!got) {
      std::string rendered = "error ";
      got.error().append_debug(rendered);
      outcomes.push_back(rendered);
    } else if (*got == LineOutcome::EndOfInput) {
      return outcomes;
    } else {
      outcomes.push_back(line);
    }
  }
  ADD_FAILURE() << "no end of input";
  return outcomes;
}

std::vector<std::string> lines_of(const std::string& bytes, std::size_t chunk_size) {
  ScriptedSource source;
  for (std::size_t at = 0; at < bytes.size(); at += chunk_size) source.script.push_back(bytes.substr(at, chunk_size));
  BasicLineReader<ScriptedSource> reader(std::move(source));
  return read_all(reader);
}

const std::string invalid = "error Error { kind: InvalidData, message: \"stream did not contain valid UTF-8\" }";

struct LineCase {
  std::string bytes;
  std::vector<std::string> lines;
};

void PrintTo(const LineCase& c, std::ostream* out) { *out << testing::PrintToString(c.bytes); }

class LineRules : public testing::TestWithParam<LineCase> {};

TEST_P(LineRules, SameLinesWhateverTheReadSizes) {
  for (std::size_t chunk : {1, 2, 3, 7, 8192}) {
    EXPECT_EQ(lines_of(GetParam().bytes, chunk), GetParam().lines) << "reads of " << chunk << " bytes";
  }
}

// Every other line passed over: the outcome of each skipped line is read_line's (a line, or the
// same error), and the lines after it start where they would.
TEST_P(LineRules, SkippedLinesEndWhereReadLinesEnd) {
  const std::vector<std::string> read = lines_of(GetParam().bytes, 8192);
  for (std::size_t chunk : {1, 2, 3, 7, 8192}) {
    ScriptedSource source;
    for (std::size_t at = 0; at < GetParam().bytes.size(); at += chunk) source.script.push_back(GetParam().bytes.substr(at, chunk));
    BasicLineReader<ScriptedSource> reader(std::move(source));
    std::vector<std::string> outcomes;
    std::string line;
    for (bool skip = true;; skip = !skip) {
      auto got = skip ? reader.skip_line() : test_support::read_line_into(reader, line);
      if (got && *got == LineOutcome::EndOfInput) break;
      std::string rendered = "error ";
      if (!got) got.error().append_debug(rendered);
      outcomes.push_back(!got ? rendered : skip ? "skipped" : line);
    }
    std::vector<std::string> expected = read;
    for (std::size_t k = 0; k < expected.size(); k += 2) {
      if (!expected[k].starts_with("error ")) expected[k] = "skipped";
    }
    EXPECT_EQ(outcomes, expected) << "reads of " << chunk << " bytes";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Terminators, LineRules,
    testing::Values(LineCase{"abc\r\n", {"abc"}}, LineCase{"abc\r\r\n", {"abc\r"}},
                    LineCase{"a\rb\n", {"a\rb"}}, LineCase{"abc\n\n", {"abc", ""}},
                    LineCase{"abc", {"abc"}}, LineCase{"abc\r", {"abc\r"}}, LineCase{"", {}},
                    LineCase{"\r\n\n", {"", ""}}, LineCase{"\r", {"\r"}},
                    LineCase{std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
                    LineCase{"\xEF\xBB\xBFx\n", {"\xEF\xBB\xBFx"}},
                    // Ill-formed lines are consumed whole; the reader goes on after them.
                    LineCase{"ok\n\xFF\nnext\n", {"ok", invalid, "next"}},
                    LineCase{"ab\xC3\n\xA9\n", {invalid, invalid}},
                    LineCase{"tail \xE2\x82", {invalid}}),
    test_support::named_by(&LineCase::bytes));

// Lines wholly in the buffer are views into it; a line read with a refill (the first one too) is
// assembled in the spill. Either way the byte just past the line can be read and is ASCII.
TEST(LineReader, ViewsIntoTheBufferOrTheSpill) {
  ScriptedSource source;
  source.script = {std::string("one\r\ntw"), std::string("o\nthree\n\xC3\xA9\nlast")};
  BasicLineReader<ScriptedSource> reader(std::move(source));
  std::string spill;
  std::string_view line;
  struct Expected {
    std::string_view text;
    bool in_spill;
    bool known_ascii;  // known only for lines read in place
  };
  for (const Expected want : {Expected{"one", true, false}, Expected{"two", true, false}, Expected{"three", false, true},
                              Expected{"\xC3\xA9", false, false}, Expected{"last", true, false}}) {
    ASSERT_EQ(reader.read_line(spill, line).value(), LineOutcome::Line) << want.text;
    EXPECT_EQ(line, want.text);
    EXPECT_EQ(line.data() == spill.data(), want.in_spill) << want.text;
    EXPECT_EQ(reader.line_known_ascii(), want.known_ascii) << want.text;
    EXPECT_LT(static_cast<unsigned char>(line.data()[line.size()]), 0x80) << want.text;
  }
  EXPECT_EQ(reader.read_line(spill, line).value(), LineOutcome::EndOfInput);
}

TEST(LineReader, DeliversLinesLongerThanTheBuffer) {
  const std::string long_line(20000, 'x');
  EXPECT_EQ(lines_of(long_line + "\nshort\n", 8192), (std::vector<std::string>{long_line, "short"}));
  EXPECT_EQ(lines_of(long_line, 8192), std::vector<std::string>{long_line});
}

// A line passed over is never assembled: however long, it leaves the spill as it was.
TEST(LineReader, SkipsALineLongerThanTheBufferWithoutHoldingIt) {
  ScriptedSource source;
  source.script = {std::string("first\n") + std::string(20000, '\0'), std::string(20000, 'x') + "\xC3", std::string("\xA9\nnext\n")};
  BasicLineReader<ScriptedSource> reader(std::move(source));
  std::string spill;
  std::string_view line;
  ASSERT_EQ(reader.read_line(spill, line).value(), LineOutcome::Line);
  const std::size_t capacity = spill.capacity();
  EXPECT_EQ(reader.skip_line().value(), LineOutcome::Line);
  EXPECT_EQ(spill.capacity(), capacity);
  ASSERT_EQ(reader.read_line(spill, line).value(), LineOutcome::Line);
  EXPECT_EQ(line, "next");
  EXPECT_EQ(reader.skip_line().value(), LineOutcome::EndOfInput);
}

TEST(LineReader, ReadErrorWinsOverTheUtf8CheckOfASkippedLine) {
  ScriptedSource source;
  source.script = {std::string("\xFF partial"), test_support::error_of_kind(ErrorKind::PermissionDenied), std::string("rest\n")};
  BasicLineReader<ScriptedSource> reader(std::move(source));
  auto got = reader.skip_line();
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error().kind(), ErrorKind::PermissionDenied);
  std::string line;
  ASSERT_EQ(test_support::read_line_into(reader, line).value(), LineOutcome::Line);
  EXPECT_EQ(line, "rest");
}

TEST(LineReader, TakesABrokenPipeAsTheEnd) {
  ScriptedSource source;
  source.script = {std::string("ab"), std::string("c\nd"),
                   test_support::error_of_kind(ErrorKind::BrokenPipe), test_support::error_of_kind(ErrorKind::BrokenPipe),
                   std::string("after\n")};
  BasicLineReader<ScriptedSource> reader(std::move(source));
  std::string line;
  ASSERT_EQ(test_support::read_line_into(reader, line).value(), LineOutcome::Line);
  EXPECT_EQ(line, "abc");
  ASSERT_EQ(test_support::read_line_into(reader, line).value(), LineOutcome::Line);  // the pipe's end closes the last line
  EXPECT_EQ(line, "d");
  EXPECT_EQ(test_support::read_line_into(reader, line).value(), LineOutcome::EndOfInput);
  ASSERT_EQ(test_support::read_line_into(reader, line).value(), LineOutcome::Line);
  EXPECT_EQ(line, "after");
}

TEST(LineReader, ReadErrorWinsOverTheUtf8CheckAndLeavesTheReaderUsable) {
  ScriptedSource source;
  source.script = {std::string("\xFF partial"), test_support::error_of_kind(ErrorKind::PermissionDenied), std::string("rest\n")};
  BasicLineReader<ScriptedSource> reader(std::move(source));
  EXPECT_EQ(read_all(reader), (std::vector<std::string>{"error Error { kind: PermissionDenied, message: \"injected by the test\" }", "rest"}));
}

// A limited read: at most `limit` bytes before the terminator, in the buffer or across refills
// (an 8-byte buffer here); a longer line is TooLong after reading no more than the limit, two
// bytes and one refill. The source never ends: a limited read must not need its end.
struct LimitCase {
  const char* name;
  std::string line;  // before an endless run of 'z'
  std::size_t limit;
  bool too_long;
};

class LimitedLine : public testing::TestWithParam<LimitCase> {};

struct EndlessSource {
  std::string start;
  std::size_t* delivered;
  std::expected<std::size_t, IoError> read(std::span<char> into) {
    for (char& byte : into) {
      byte = *delivered < start.size() ? start[*delivered] : 'z';
      ++*delivered;
    }
    return into.size();
  }
};

TEST_P(LimitedLine, ReadsAtMostTheLimit) {
  const LimitCase& param = GetParam();
  std::size_t delivered = 0;
  BasicLineReader<EndlessSource, 8> reader(EndlessSource{param.line, &delivered});
  std::string spill;
  std::string_view line;
  const auto got = reader.read_line_within(spill, line, param.limit);
  ASSERT_TRUE(got.has_value());
  if (param.too_long) {
    EXPECT_EQ(*got, LineOutcome::TooLong);
    EXPECT_LE(delivered, param.limit + 2 + 8);
  } else {
    ASSERT_EQ(*got, LineOutcome::Line);
    EXPECT_EQ(line, param.line.substr(0, param.line.find_first_of("\r\n")));
  }
}

INSTANTIATE_TEST_SUITE_P(Limits, LimitedLine, testing::Values(
    LimitCase{"InBufferAtTheLimit", "abcd\n", 4, false},
    LimitCase{"InBufferOneOver", "abcde\n", 4, true},
    LimitCase{"InBufferCrLfAtTheLimit", "abcd\r\n", 4, false},
    LimitCase{"SpilledAtTheLimit", std::string(20, 'a') + "\n", 20, false},
    LimitCase{"SpilledCrLfAtTheLimit", std::string(20, 'a') + "\r\n", 20, false},
    LimitCase{"SpilledOneOver", std::string(21, 'a') + "\n", 20, true},
    LimitCase{"SpilledCrLfOneOver", std::string(21, 'a') + "\r\n", 20, true},
    LimitCase{"NoLineEndAtAll", "", 100, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineReader, EveryReadAfterTheEndAsksTheSourceAgain) {
  ScriptedSource source;
  source.script = {std::string("x\n")};
  BasicLineReader<ScriptedSource> reader(std::move(source));
  std::string line;
  ASSERT_EQ(test_support::read_line_into(reader, line).value(), LineOutcome::Line);
  EXPECT_EQ(test_support::read_line_into(reader, line).value(), LineOutcome::EndOfInput);
  EXPECT_EQ(test_support::read_line_into(reader, line).value(), LineOutcome::EndOfInput);
}

}  // namespace
}  // namespace quorvel
