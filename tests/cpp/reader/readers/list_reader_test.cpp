#include "reader/readers/list_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "support/case_name.h"
#include "support/failure_cases.h"
#include "support/temp_file.h"

namespace quorvel {
namespace {

using test_support::TempFile;

// A field of the given width holding the text right-aligned.
std::string field(const std::string& text, std::size_t width = 12) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

// A well-formed file: N names, then blocks where value j of block b is b * 100 + j.
std::string plot_file(std::size_t n, std::size_t blocks, std::size_t width = 12, const char* eol = "\n") {
  std::string out = " KAVRINE PLOT FILE " + std::to_string(n) + eol;
  for (std::size_t i = 0; i < n; ++i) out += " PARAM" + std::to_string(i) + eol;
  for (std::size_t b = 0; b < blocks; ++b) {
    out += " TIME STEP " + std::to_string(b) + eol;
    for (std::size_t j = 0; j < n; ++j) {
      out += field(std::to_string(b * 100 + j) + ".5", width);
      if (j % 10 == 9 || j == n - 1) out += eol;
    }
  }
  return out;
}

// The columns as plain vectors, so that they compare with expected values directly.
struct PlainColumns {
  std::vector<float> first;
  std::vector<std::vector<float>> others;
};

std::vector<float> values_of(const Column& column) {
  std::vector<float> values;
  column.for_each_chunk([&](std::span<const float> chunk) { values.insert(values.end(), chunk.begin(), chunk.end()); });
  return values;
}

PlainColumns plain(const ColumnData& data) {
  PlainColumns columns{values_of(data.first), {}};
  for (const Column& other : data.others) columns.others.push_back(values_of(other));
  return columns;
}

struct Outcome {
  std::string failure;  // empty on success
  std::string stdout_text;
  PlainColumns columns;
};

Outcome read(const std::string& bytes, std::uint64_t width = 12) {
  TempFile file(bytes);
  Outcome outcome;
  testing::internal::CaptureStdout();
  try {
    outcome.columns = plain(read_plot_file(file.path(), width));
  } catch (const Failure& failure) {
    outcome.failure = failure.message();
  }
  outcome.stdout_text = testing::internal::GetCapturedStdout();
  return outcome;
}

TEST(Reader, ResultShapes) {
  for (std::size_t n : {1, 2, 9, 10, 11, 13, 20, 21}) {
    const Outcome outcome = read(plot_file(n, 3));
    ASSERT_EQ(outcome.failure, "") << "N = " << n;
    ASSERT_EQ(outcome.columns.first, (std::vector<float>{0.5f, 100.5f, 200.5f}));
    ASSERT_EQ(outcome.columns.others.size(), n - 1);
    for (std::size_t i = 0; i + 1 < n; ++i) {
      EXPECT_EQ(outcome.columns.others[i], (std::vector<float>{i + 1.5f, 101.5f + i, 201.5f + i}))
          << "N = " << n << ", column " << i;
    }
  }
}

TEST(Reader, CrLfFilesEqualLfFiles) {
  for (std::size_t width : {12, 15}) {
    const Outcome lf = read(plot_file(13, 4, width), width);
    const Outcome crlf = read(plot_file(13, 4, width, "\r\n"), width);
    ASSERT_EQ(crlf.failure, "");
    EXPECT_EQ(crlf.columns.first, lf.columns.first);
    EXPECT_EQ(crlf.columns.others, lf.columns.others);
  }
}

TEST(Reader, FileWithoutBlocksGivesEmptyColumns) {
  const Outcome outcome = read("3\na\nb\nc\n");
  ASSERT_EQ(outcome.failure, "");
  EXPECT_TRUE(outcome.columns.first.empty());
  EXPECT_EQ(outcome.columns.others, (std::vector<std::vector<float>>{{}, {}}));
}

TEST(Reader, IgnoresSeparatorContentAndBytesBeyondTheFields) {
  const Outcome outcome = read("x y 2\n\n   \n\xC3\xA9 anything\n" + field("1.5") + field("-2.5") + " trailing\n");
  ASSERT_EQ(outcome.failure, "");
  EXPECT_EQ(outcome.columns.first, std::vector<float>{1.5f});
  EXPECT_EQ(outcome.columns.others, std::vector<std::vector<float>>{{-2.5f}});
}

TEST(Reader, HeaderCountForms) {
  for (const char* header : {"     3", "x y 3", "+3", "0003", "3\t\xE3\x80\x80"}) {
    const Outcome outcome = read(std::string(header) + "\na\nb\nc\n");
    EXPECT_EQ(outcome.failure, "") << header;
    EXPECT_EQ(outcome.columns.others.size(), 2u) << header;
    EXPECT_EQ(outcome.stdout_text, "") << header;
  }
}

struct BadCount {
  std::string header;
  std::string token;  // empty: no stdout line
};

void PrintTo(const BadCount& c, std::ostream* out) { *out << '\'' << c.header << '\''; }

class BadHeaderCount : public testing::TestWithParam<BadCount> {};

TEST_P(BadHeaderCount, PrintsTheTokenAndFailsWithTheHeader) {
  const Outcome outcome = read(GetParam().header + "\r\nname\n");
  EXPECT_EQ(outcome.failure, "The first line should end with the number of parameters:\n'" + GetParam().header + "'");
  EXPECT_EQ(outcome.stdout_text,
            GetParam().token.empty() ? "" : "Error: '" + GetParam().token + "' is not a valid number of parameters!\n");
}

INSTANTIATE_TEST_SUITE_P(Tokens, BadHeaderCount,
                         testing::Values(BadCount{"3 x", "x"}, BadCount{"-3", "-3"}, BadCount{"3.0", "3.0"},
                                         BadCount{"+", "+"}, BadCount{"18446744073709551616", "18446744073709551616"},
                                         BadCount{"count 0", "0"}, BadCount{"  000 ", "000"}, BadCount{"", ""},
                                         BadCount{" \t ", ""}),
                         test_support::named_by(&BadCount::header));

using test_support::FailureCase;


class ReaderFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ReaderFailure, EndsWithItsMessage) {
  const Outcome outcome = read(GetParam().bytes, GetParam().width);
  EXPECT_EQ(outcome.failure, GetParam().message);
  EXPECT_EQ(outcome.stdout_text, "");
}

INSTANTIATE_TEST_SUITE_P(Table, ReaderFailure, testing::ValuesIn(test_support::failure_cases()),
                         [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(Reader, ZeroWidthWithoutBlocksSucceeds) {
  const Outcome outcome = read("2\na\nb\n", 0);
  EXPECT_EQ(outcome.failure, "");
  EXPECT_EQ(outcome.columns.others.size(), 1u);
}

TEST(Reader, ParsesFieldsCorrectlyRounded) {
  const Outcome outcome = read("2\na\nb\nsep\n" + field("-1.23456E-02") + "     0.1    \n");
  ASSERT_EQ(outcome.failure, "");
  EXPECT_EQ(outcome.columns.first, std::vector<float>{-0.0123456f});
  EXPECT_EQ(outcome.columns.others[0], std::vector<float>{0.1f});
}

// Widths with a loop of their own and widths without give the same values, whichever layout
// each field has: one lead character, more blanks, or a form only the general parse reads.
TEST(Reader, EveryWidthGivesTheSameValues) {
  const std::vector<std::string> texts = {"-1.2345E+01", "6.7360E+08", "0.5", "+2.5e-3", "-0.0000E+00", "7"};
  const std::vector<float> values = {-12.345f, 673600000.0f, 0.5f, 2.5e-3f, -0.0f, 7.0f};
  for (std::uint64_t width = 11; width <= 17; ++width) {
    std::string file = "6\na\nb\nc\nd\ne\nf\nsep\n";
    for (const std::string& text : texts) file += field(text, width);
    const Outcome outcome = read(file + "\n", width);
    ASSERT_EQ(outcome.failure, "") << width;
    std::vector<float> got = outcome.columns.first;
    for (const auto& column : outcome.columns.others) got.insert(got.end(), column.begin(), column.end());
    ASSERT_EQ(got.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(got[i]), std::bit_cast<std::uint32_t>(values[i])) << width << ' ' << i;
    }
  }
}

}  // namespace
}  // namespace quorvel
