// The console's UTF-16 path, with a stand-in for the console call.

#include "platform/windows/console_write.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "console/raw_sink.h"
#include "support/io_errors.h"

namespace quorvel::platform::windows {
namespace {

// Records each WriteConsoleW call; accepts at most the scripted number of units, then all.
class FakeConsole final : public ConsoleOutput {
 public:
  std::vector<std::wstring> calls;
  std::deque<std::size_t> accept;
  std::optional<IoError> error;

  std::expected<std::size_t, IoError> write_units(std::span<const wchar_t> units) override {
    calls.emplace_back(units.begin(), units.end());
    if (error) return std::unexpected(*error);
    std::size_t taken = units.size();
    if (!accept.empty()) {
      taken = std::min(taken, accept.front());
      accept.pop_front();
    }
    shown.append(units.data(), taken);
    return taken;
  }

  std::wstring shown;  // what the console accepted, in order
};

// A standard stream whose handle is the fake console: the write loop above the console path.
class ConsoleSink final : public RawSink {
 public:
  explicit ConsoleSink(FakeConsole& console) : console_(console) {}
  std::expected<std::size_t, IoError> write(std::span<const char> bytes) override {
    return write_console_utf8(console_, carry, bytes);
  }
  Utf8Carry carry;

 private:
  FakeConsole& console_;
};

const std::string refusal =
    "Error { kind: InvalidData, message: \"Windows stdio in console mode does not support writing "
    "non-UTF-8 byte sequences\" }";

struct PathCase {
  bool is_console;
  unsigned code_page;
  bool utf16;
};

void PrintTo(const PathCase& c, std::ostream* out) {
  *out << (c.is_console ? "console" : "not a console") << ", code page " << c.code_page;
}

class Utf16PathChoice : public ::testing::TestWithParam<PathCase> {};

TEST_P(Utf16PathChoice, OnlyConsolesOutsideTheUtf8CodePage) {
  EXPECT_EQ(takes_utf16_path(GetParam().is_console, GetParam().code_page), GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(Cases, Utf16PathChoice,
                         ::testing::Values(PathCase{true, 437, true}, PathCase{true, 1252, true},
                                           PathCase{true, 65000, true}, PathCase{true, 65001, false},
                                           PathCase{false, 437, false}, PathCase{false, 65001, false}),
                         [](const ::testing::TestParamInfo<PathCase>& info) {
                           return (info.param.is_console ? "Console" : "NotAConsole") +
                                  std::string("_code_page_") + std::to_string(info.param.code_page);
                         });

struct PieceCase {
  std::string name;
  std::string text;
  std::size_t taken;       // bytes the first write reports
  std::size_t units;       // units in its one console call
};

void PrintTo(const PieceCase& c, std::ostream* out) { *out << c.name; }

class PieceCutting : public ::testing::TestWithParam<PieceCase> {};

TEST_P(PieceCutting, AtMost4096BytesCutBackToACharacter) {
  FakeConsole console;
  Utf8Carry carry;
  const auto taken = write_console_utf8(console, carry, GetParam().text);
  ASSERT_TRUE(taken) << test_support::debug_text(taken.error());
  EXPECT_EQ(*taken, GetParam().taken);
  ASSERT_EQ(console.calls.size(), 1u);
  EXPECT_EQ(console.calls[0].size(), GetParam().units);
  EXPECT_EQ(carry.count, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PieceCutting,
    ::testing::Values(PieceCase{"Short", "hello", 5, 5},
                      PieceCase{"ExactlyOnePiece", std::string(4096, 'a'), 4096, 4096},
                      PieceCase{"LongerTakesOnePiece", std::string(5000, 'a'), 4096, 4096},
                      PieceCase{"TwoByteCharacterAcrossTheCut", std::string(4095, 'a') + "\xC3\xA9", 4095, 4095},
                      PieceCase{"ThreeByteCharacterAcrossTheCut", std::string(4094, 'a') + "\xE2\x82\xAC", 4094, 4094},
                      PieceCase{"FourByteCharacterEndingAtTheCut", std::string(4092, 'a') + "\xF0\x9F\x98\x80x", 4096, 4094},
                      PieceCase{"ValidPrefixBeforeBadBytes", "abc\xFF" "def", 3, 3},
                      PieceCase{"ValidPrefixBeforeAnIncompleteEnd", "ab\xE2\x82", 2, 2},
                      PieceCase{"MultiByteText", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 9, 4}),
    [](const auto& info) { return info.param.name; });

TEST(ConsoleCarry, ACharacterSplitBetweenTwoWritesComesOutWhole) {
  FakeConsole console;
  ConsoleSink sink(console);
  ASSERT_TRUE(write_all(sink, "price \xE2\x82"));
  EXPECT_EQ(console.shown, L"price ");
  EXPECT_EQ(sink.carry.count, 2u);
  ASSERT_TRUE(write_all(sink, "\xAC 5\n"));
  EXPECT_EQ(console.shown, L"price \u20AC 5\n");
  // The character went to the console in one call of its own.
  ASSERT_EQ(console.calls.size(), 3u);
  EXPECT_EQ(console.calls[1], L"\u20AC");
  EXPECT_EQ(sink.carry.count, 0u);
}

TEST(ConsoleCarry, EachHeldByteReportsOneByteWritten) {
  FakeConsole console;
  Utf8Carry carry;
  const std::string bytes = "\xF0\x9F\x98\x80";
  for (std::size_t i = 0; i < 4; ++i) {
    const auto taken = write_console_utf8(console, carry, std::string_view(bytes).substr(i, i == 0 ? 3 : 1));
    ASSERT_TRUE(taken);
    EXPECT_EQ(*taken, 1u) << i;
    EXPECT_EQ(carry.count, i < 3 ? i + 1 : 0u) << i;
    EXPECT_EQ(console.calls.size(), i < 3 ? 0u : 1u) << i;
  }
  EXPECT_EQ(console.shown, L"\U0001F600");
}

struct RefusalCase {
  std::string name;
  std::vector<std::string> writes;  // all but the last succeed
};

void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class ConsoleRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ConsoleRefusal, BytesThatAreNotUtf8AreRefusedAndTheCarryDropped) {
  FakeConsole console;
  Utf8Carry carry;
  const auto& writes = GetParam().writes;
  for (std::size_t i = 0; i + 1 < writes.size(); ++i) {
    const auto taken = write_console_utf8(console, carry, writes[i]);
    ASSERT_TRUE(taken) << i;
    EXPECT_EQ(*taken, 1u) << i;
  }
  const auto refused = write_console_utf8(console, carry, writes.back());
  ASSERT_FALSE(refused);
  EXPECT_EQ(test_support::debug_text(refused.error()), refusal);
  EXPECT_EQ(carry.count, 0u);
  EXPECT_TRUE(console.calls.empty());
  // The writer goes on afterwards.
  EXPECT_EQ(write_console_utf8(console, carry, std::string("ok")).value_or(0), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConsoleRefusal,
    ::testing::Values(RefusalCase{"InvalidLeadByte", {"\xFF"}},
                      RefusalCase{"StrayContinuation", {"\x80" "abc"}},
                      RefusalCase{"IncompleteButNotAtTheEnd", {"\xE2\x82" "A"}},
                      RefusalCase{"Overlong", {"\xC0\xAF"}},
                      RefusalCase{"EncodedSurrogate", {"\xED\xA0\x80"}},
                      RefusalCase{"CarryFollowedByANonContinuation", {"\xE2", "A"}},
                      RefusalCase{"CarryFollowedByANewLead", {"\xC3", "\xC3\xA9"}},
                      RefusalCase{"CarryCompletingASurrogate", {"\xED", "\xA0", "\x80"}},
                      RefusalCase{"CarryCompletingAnOverlongForm", {"\xE0", "\x80", "\x80"}}),
    [](const auto& info) { return info.param.name; });

struct SurrogateCase {
  std::string name;
  std::string text;
  std::size_t accepted_units;
  std::size_t taken;
  std::size_t calls;
};

void PrintTo(const SurrogateCase& c, std::ostream* out) { *out << c.name; }

class SurrogatePairs : public ::testing::TestWithParam<SurrogateCase> {};

TEST_P(SurrogatePairs, NeverLeftHalfWritten) {
  FakeConsole console;
  console.accept = {GetParam().accepted_units};
  Utf8Carry carry;
  const auto taken = write_console_utf8(console, carry, GetParam().text);
  ASSERT_TRUE(taken);
  EXPECT_EQ(*taken, GetParam().taken);
  ASSERT_EQ(console.calls.size(), GetParam().calls);
  if (GetParam().calls == 2) {
    // The low half alone, straight after.
    ASSERT_EQ(console.calls[1].size(), 1u);
    EXPECT_GE(console.calls[1][0], 0xDC00);
    EXPECT_LE(console.calls[1][0], 0xDFFF);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SurrogatePairs,
    ::testing::Values(
        // U+1F600 is D83D DE00; U+10000 is D800 DC00, the lowest low half.
        SurrogateCase{"HighHalfOnly", "\xF0\x9F\x98\x80", 1, 4, 2},
        SurrogateCase{"LowestLowHalf", "\xF0\x90\x80\x80" "b", 1, 4, 2},
        SurrogateCase{"AfterOtherText", "a\xC3\xA9\xF0\x9F\x98\x80z", 3, 7, 2},
        SurrogateCase{"WholePairAccepted", "\xF0\x9F\x98\x80z", 2, 4, 1},
        SurrogateCase{"BmpCharactersCountTheirBytes", "a\xC3\xA9\xE2\x82\xAC" "b", 3, 6, 1},
        SurrogateCase{"NothingAccepted", "abc", 0, 0, 1}),
    [](const auto& info) { return info.param.name; });

TEST(ConsoleWrite, AConsoleErrorPassesThrough) {
  FakeConsole console;
  console.error = IoError::os(6);
  Utf8Carry carry;
  const auto taken = write_console_utf8(console, carry, std::string("x"));
  ASSERT_FALSE(taken);
  EXPECT_EQ(taken.error().os_code(), 6);
}

TEST(ConsoleWrite, ACarryLongerThanThreeBytesIsAnInternalFault) {
  FakeConsole console;
  Utf8Carry carry;
  carry.count = 4;
  const auto taken = write_console_utf8(console, carry, std::string("\x80"));
  ASSERT_FALSE(taken);
  EXPECT_EQ(taken.error().display(), "Unexpected number of bytes for incomplete UTF-8 codepoint.");
}

}  // namespace
}  // namespace quorvel::platform::windows
