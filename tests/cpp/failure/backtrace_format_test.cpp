#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "failure/backtrace_format.h"

namespace quorvel {
namespace {

using platform::StackFrame;
using platform::SymbolInfo;

StackFrame frame(std::uintptr_t address, std::vector<SymbolInfo> symbols) { return {address, std::move(symbols)}; }
SymbolInfo fn(std::string name, std::string file = "", std::uint32_t line = 0, std::uint32_t column = 0) {
  return {std::move(name), std::move(file), line, column};
}

// A stack as the report sees it: machinery, our code, the call guard, the interpreter.
std::vector<StackFrame> report_stack() {
  return {
      frame(0x10, {fn("quorvel::platform::capture_stack(unsigned long)", "/q/backtrace.cpp", 9)}),
      frame(0x20, {fn("quorvel::write_failure_report(quorvel::ReportRequest const&)", "/q/report.cpp", 5),
                   fn("quorvel::fail(std::string, std::source_location)", "/q/failure.cpp", 8)}),
      frame(0x30, {fn("quorvel::read_plot_file(std::basic_string_view<char, std::char_traits<char> >, unsigned long)",
                      "/q/reader.cpp", 120)}),
      frame(0x40, {fn("quorvel::convert()", "/q/binding.cpp", 7, 9), fn("quorvel::entry()", "/q/entry.cpp", 3)}),
      frame(0x50, {}),
      frame(0x60, {fn("", "/q/anonymous.cpp", 11)}),
      frame(0x70, {fn("quorvel::run_guarded_body(_object*)", "/q/guard.cpp", 30)}),
      frame(0x80, {fn("_PyEval_EvalFrameDefault")}),
  };
}

constexpr std::string_view note =
    "note: Some details are omitted, run with `RUST_BACKTRACE=full` for a verbose backtrace.\n";

TEST(BacktraceFormat, ShortShowsOnlyTheFramesBetweenTheMarkers) {
  const auto frames = report_stack();
  EXPECT_EQ(format_backtrace(frames, BacktraceForm::Short),
            "stack backtrace:\n"
            "   0: quorvel::read_plot_file(std::basic_string_view<char, std::char_traits<char> >, unsigned long)\n"
            "             at /q/reader.cpp:120\n"
            "   1: quorvel::convert()\n"
            "             at /q/binding.cpp:7:9\n"
            "      quorvel::entry()\n"
            "             at /q/entry.cpp:3\n"
            "   2: <unknown>\n"
            "   3: <unknown>\n"
            "             at /q/anonymous.cpp:11\n" +
                std::string(note));
}

TEST(BacktraceFormat, FullShowsEveryFrameWithItsAddress) {
  const std::vector<StackFrame> frames{
      frame(0x7f00aa, {fn("quorvel::fail(std::string, std::source_location)", "/q/failure.cpp", 8)}),
      frame(0x7f00bb, {fn("inlined()", "/q/a.cpp", 1, 2), fn("outer()")}),
      frame(0x7f00cc, {}),
      frame(0x7f00dd, {fn("quorvel::run_guarded_body(_object*)")}),
  };
  EXPECT_EQ(format_backtrace(frames, BacktraceForm::Full),
            "stack backtrace:\n"
            "   0: 0x7f00aa - quorvel::fail(std::string, std::source_location)\n"
            "                        at /q/failure.cpp:8\n"
            "   1: 0x7f00bb - inlined()\n"
            "                        at /q/a.cpp:1:2\n"
            "      0x7f00bb - outer()\n"
            "   2: 0x7f00cc - <unknown>\n"
            "   3: 0x7f00dd - quorvel::run_guarded_body(_object*)\n");
}

std::vector<StackFrame> numbered(std::size_t count) {
  std::vector<StackFrame> frames;
  for (std::size_t i = 0; i < count; ++i) frames.push_back(frame(i, {fn("f" + std::to_string(i) + "()")}));
  return frames;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

struct IndexCase {
  std::size_t index;
  std::string line;
};

void PrintTo(const IndexCase& c, std::ostream* out) { *out << "frame " << c.index; }

class IndexColumn : public ::testing::TestWithParam<IndexCase> {};

TEST_P(IndexColumn, RightAlignedInFourColumns) {
  static const std::vector<std::string> lines = lines_of(format_backtrace(numbered(10001), BacktraceForm::Full));
  const IndexCase& c = GetParam();
  ASSERT_LT(c.index + 1, lines.size());
  EXPECT_EQ(lines[c.index + 1], c.line);  // after "stack backtrace:"
}

INSTANTIATE_TEST_SUITE_P(Cases, IndexColumn,
                         ::testing::Values(IndexCase{0, "   0: 0x0 - f0()"}, IndexCase{9, "   9: 0x9 - f9()"},
                                           IndexCase{10, "  10: 0xa - f10()"}, IndexCase{99, "  99: 0x63 - f99()"},
                                           IndexCase{100, " 100: 0x64 - f100()"},
                                           IndexCase{9999, "9999: 0x270f - f9999()"},
                                           IndexCase{10000, "10000: 0x2710 - f10000()"}),
                         [](const auto& info) { return "frame_" + std::to_string(info.param.index); });

struct CutCase {
  std::string name;
  std::vector<StackFrame> frames;
  std::string first_shown;
  std::string last_shown;
  std::size_t shown;
};

void PrintTo(const CutCase& c, std::ostream* out) { *out << c.name; }

class ShortCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(ShortCut, LooksAtTheFirst101FramesOfTheWalk) {
  const CutCase& c = GetParam();
  const auto lines = lines_of(format_backtrace(c.frames, BacktraceForm::Short));
  ASSERT_EQ(lines.size(), c.shown + 2);
  EXPECT_EQ(lines.front(), "stack backtrace:");
  EXPECT_EQ(lines[1], c.first_shown);
  EXPECT_EQ(lines[lines.size() - 2], c.last_shown);
  EXPECT_EQ(lines.back() + "\n", note);
}

std::vector<StackFrame> with_fail_at(std::size_t position, std::size_t count) {
  auto frames = numbered(count);
  frames[position].symbols = {fn("quorvel::fail(std::string, std::source_location)")};
  return frames;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ShortCut,
    ::testing::Values(CutCase{"Exactly101", numbered(101), "   0: f0()", " 100: f100()", 101},
                      CutCase{"Cut102", numbered(102), "   0: f0()", " 100: f100()", 101},
                      CutCase{"Cut500", numbered(500), "   0: f0()", " 100: f100()", 101},
                      CutCase{"HiddenFramesCount", with_fail_at(2, 300), "   0: f3()", "  97: f100()", 98},
                      CutCase{"Few", numbered(3), "   0: f0()", "   2: f2()", 3}),
    [](const auto& info) { return info.param.name; });

TEST(BacktraceFormat, FullIsNotCut) {
  const auto lines = lines_of(format_backtrace(numbered(150), BacktraceForm::Full));
  ASSERT_EQ(lines.size(), 151u);
  EXPECT_EQ(lines.back(), " 149: 0x95 - f149()");
}

TEST(BacktraceFormat, ShortWithoutMarkersShowsEverything) {
  const std::vector<StackFrame> frames{frame(1, {fn("a()")}), frame(2, {fn("b()")})};
  EXPECT_EQ(format_backtrace(frames, BacktraceForm::Short),
            "stack backtrace:\n   0: a()\n   1: b()\n" + std::string(note));
}

TEST(BacktraceFormat, InlinedCodeInTheGuardFrameIsShownUpToTheMarker) {
  const std::vector<StackFrame> frames{
      frame(1, {fn("quorvel::fail(std::string, std::source_location)")}),
      frame(2, {fn("quorvel::body()"), fn("quorvel::run_guarded_body(_object*)"), fn("caller()")}),
      frame(3, {fn("python()")}),
  };
  EXPECT_EQ(format_backtrace(frames, BacktraceForm::Short),
            "stack backtrace:\n   0: quorvel::body()\n" + std::string(note));
}

TEST(BacktraceFormat, MarkersAreMatchedOnceEach) {
  // The machinery ends at the first fail; the shown part ends at the first guard after it.
  const std::vector<StackFrame> frames{
      frame(1, {fn("quorvel::run_guarded_body(int)")}),
      frame(2, {fn("quorvel::fail(std::string, std::source_location)")}),
      frame(3, {fn("quorvel::fail(std::string, std::source_location)")}),
      frame(4, {fn("quorvel::run_guarded_body(int)")}),
      frame(5, {fn("x()")}),
  };
  EXPECT_EQ(format_backtrace(frames, BacktraceForm::Short),
            "stack backtrace:\n   0: quorvel::fail(std::string, std::source_location)\n" + std::string(note));
}

struct NameCase {
  std::string name;
  std::string symbol;
  std::string function;
  bool matches;
};

void PrintTo(const NameCase& c, std::ostream* out) { *out << c.symbol; }

class MarkerNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(MarkerNames, MatchOnlyTheFunctionItself) {
  const NameCase& c = GetParam();
  EXPECT_EQ(names_function(c.symbol, c.function), c.matches) << c.symbol;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MarkerNames,
    ::testing::Values(
        NameCase{"WithParameters", "quorvel::fail(std::string, std::source_location)", "quorvel::fail", true},
        NameCase{"NameAlone", "quorvel::fail", "quorvel::fail", true},
        NameCase{"LongerNameWithTemplateArguments",
                 "quorvel::fail_with<quorvel::IoError>(std::basic_string_view<char>, quorvel::IoError const&)",
                 "quorvel::fail", false},
        NameCase{"LongerName", "quorvel::failures_in_progress()", "quorvel::fail", false},
        NameCase{"NonUnwinding", "quorvel::fail_non_unwinding(std::basic_string_view<char>)",
                 "quorvel::fail_non_unwinding", true},
        NameCase{"Guard", "quorvel::run_guarded_body(_object*)", "quorvel::run_guarded_body", true},
        NameCase{"GuardTemplateWithReturnType", "_object* quorvel::run_guarded_body<Body>(Body&&)",
                 "quorvel::run_guarded_body", true},
        NameCase{"LambdaInsideTheGuard", "quorvel::run_guarded_body(_object*)::{lambda()#1}::operator()() const",
                 "quorvel::run_guarded_body", false},
        NameCase{"OtherNamespace", "other::quorvel::run_guarded_body(int)", "quorvel::run_guarded_body", false},
        NameCase{"AsAParameterType", "void f(quorvel::run_guarded_body)", "quorvel::run_guarded_body", false},
        NameCase{"EmptySymbol", "", "quorvel::fail", false}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvel
