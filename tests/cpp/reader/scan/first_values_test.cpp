// The first value of each block, kept by a scan as it counts: bit for bit the first column of a
// whole read, whatever the layout, line ends and pieces the bytes come in; and none at all when a
// complete block's first field is not one a read parses the same way.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "reader/readers/array_reader.h"
#include "reader/scan/block_counter.h"
#include "reader/scan/plot_scan.h"
#include "support/temp_file.h"

namespace quorvel {
namespace {

using test_support::TempFile;

struct Plot {
  int parameters;
  int width;  // 12 or 15
  int blocks;
  bool crlf = false;
  int tail_lines = 0;  // lines of a block the file ends inside
  bool final_line_feed = true;
};

std::string field(float value, int width) {
  char text[32];
  std::snprintf(text, sizeof text, width == 15 ? "% .8E" : "% .5E", static_cast<double>(value));
  return text;
}

// The data (after the names) and the whole text; `bad` replaces the first field of that block.
std::string plot_text(const Plot& p, std::size_t* data_start = nullptr, int bad_block = -1,
                      const std::string& bad = "") {
  const std::string end = p.crlf ? "\r\n" : "\n";
  std::string text = " RUN PARAMETERS " + std::to_string(p.parameters) + end;
  for (int j = 0; j < p.parameters; ++j) text += "  P" + std::to_string(j) + end;
  if (data_start != nullptr) *data_start = text.size();
  std::mt19937 random(static_cast<unsigned>(p.parameters * 31 + p.blocks));
  std::uniform_real_distribution<float> value(-1e6f, 1e6f);
  const int per_block = 1 + (p.parameters + 9) / 10;
  for (int b = 0; b <= p.blocks; ++b) {
    const int lines = b < p.blocks ? per_block : p.tail_lines;
    for (int line = 0; line < lines; ++line) {
      if (line == 0) {
        text += " TIME STEP " + std::to_string(b) + end;
        continue;
      }
      for (int j = (line - 1) * 10; j < std::min(p.parameters, line * 10); ++j) {
        text += (j == 0 && b == bad_block) ? bad : field(j == 0 ? 1e-3f * static_cast<float>(b + 1) : value(random), p.width);
      }
      text += end;
    }
  }
  if (!p.final_line_feed) text.resize(text.size() - end.size());
  return text;
}

// As a scan from the start finds them (a file that ends inside a block too).
std::optional<std::vector<float>> scanned_first_values(const std::string& path, std::size_t threads = 1) {
  auto file = platform::File::open_for_reading(path);
  if (!file) throw std::runtime_error(file.error().display());
  PlotInput input(std::move(*file));
  return scan_plot(input, {.check_width = true, .first_values = true, .threads = threads, .least_part_bytes = 64})
      ->first_values;
}

std::vector<float> first_column(const std::string& path) {
  const ArrayRead read = read_plot_arrays({.path = path});
  std::vector<float> column;
  for (std::size_t b = 0; b < read.values.rows(); ++b) column.push_back(read.values.data()[b * read.names.size()]);
  return column;
}

class FirstValues : public testing::TestWithParam<Plot> {};

// A whole read's first column (of the file without its tail), kept alike by a scan on one thread
// and on two, by a counter fed in pieces of every small size, and by two counters cut at a block
// start and joined as a count in parts joins them.
TEST_P(FirstValues, AreTheWholeReadsFirstColumnHoweverCounted) {
  const Plot& p = GetParam();
  Plot whole = p;
  whole.tail_lines = 0;
  whole.final_line_feed = true;
  std::size_t data_start = 0;
  const std::string text = plot_text(p, &data_start);
  const TempFile temp(text), complete(plot_text(whole));
  const std::vector<float> expected = first_column(complete.path());
  const std::uint64_t per_block = 1 + static_cast<std::uint64_t>(p.parameters + 9) / 10;
  auto counter_from = [&](std::size_t offset) {
    BlockCounter counter(per_block, 0, offset, offset, 0);
    counter.keep_first_values(static_cast<std::uint64_t>(p.width));
    return counter;
  };
  auto check = [&](const std::optional<std::vector<float>>& kept, const std::string& how) {
    ASSERT_TRUE(kept) << how;
    ASSERT_EQ(kept->size(), expected.size()) << how;
    EXPECT_EQ(std::memcmp(kept->data(), expected.data(), expected.size() * sizeof(float)), 0) << how;
  };
  check(scanned_first_values(temp.path()), "one thread");
  check(scanned_first_values(temp.path(), 2), "two threads");
  for (std::size_t piece : {1, 2, 7, 13, 16, 4097}) {
    BlockCounter counter = counter_from(data_start);
    for (std::size_t at = data_start; at < text.size(); at += piece) {
      counter.feed(text.data() + at, std::min(piece, text.size() - at));
    }
    check(counter.first_values(expected.size()), "pieces of " + std::to_string(piece));
  }
  std::vector<std::size_t> block_starts;
  for (std::size_t at = data_start, lines = 0; at < text.size(); ++at) {
    if (lines % per_block == 0 && (at == data_start || text[at - 1] == '\n')) block_starts.push_back(at);
    if (text[at] == '\n') ++lines;
  }
  for (std::size_t cut : {block_starts[1], block_starts.back()}) {
    BlockCounter first = counter_from(data_start), later = counter_from(cut);
    first.feed(text.data() + data_start, cut - data_start);
    later.feed(text.data() + cut, text.size() - cut);
    first.absorb(later);
    check(first.first_values(expected.size()), "cut at " + std::to_string(cut));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FirstValues,
    testing::Values(Plot{.parameters = 1, .width = 12, .blocks = 40}, Plot{.parameters = 10, .width = 12, .blocks = 30},
                    Plot{.parameters = 23, .width = 15, .blocks = 25},
                    Plot{.parameters = 7, .width = 12, .blocks = 20, .crlf = true, .tail_lines = 1},
                    Plot{.parameters = 1, .width = 15, .blocks = 9, .tail_lines = 1, .final_line_feed = false},
                    Plot{.parameters = 12, .width = 15, .blocks = 5000 / 12, .tail_lines = 2, .final_line_feed = false}));

struct BadField {
  const char* name;
  std::string text;  // the first field of the bad block, followed by the rest of the line
};

// A complete block whose first field a read would refuse, or read differently as part of its
// line, keeps nothing; the same field in the block the file ends inside leaves the rest kept.
class FirstValuesRefused : public testing::TestWithParam<BadField> {};

TEST_P(FirstValuesRefused, WhenACompleteBlocksFieldIsNotInTheLayout) {
  const Plot p{.parameters = 12, .width = 12, .blocks = 6, .tail_lines = 2};
  for (int bad_block : {1, 3, 5}) {  // on two threads, in the first part or the second
    const TempFile inside(plot_text(p, nullptr, bad_block, GetParam().text));
    EXPECT_FALSE(scanned_first_values(inside.path()));
    EXPECT_FALSE(scanned_first_values(inside.path(), 2));
  }
  const TempFile in_tail(plot_text(p, nullptr, p.blocks, GetParam().text));
  for (std::size_t threads : {1, 2}) {
    const auto kept = scanned_first_values(in_tail.path(), threads);
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->size(), 6U);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirstValuesRefused,
    testing::Values(BadField{"Letters", " 1.0000XE+01"}, BadField{"Tab", "\t1.00000E+01"},
                    BadField{"ContinuationAfter", " 1.00000E+01\x80"}),
    [](const testing::TestParamInfo<BadField>& info) { return info.param.name; });

struct Unended {
  const char* name;
  Plot plot;
  std::size_t cut;  // bytes taken off the end
};

// A file that ends inside the last line of its last block counted (being written, or cut) keeps
// none, whole or not: a read parses that line and may refuse it.
class FirstValuesUnended : public testing::TestWithParam<Unended> {};

TEST_P(FirstValuesUnended, KeepNoneForTheReadToParseTheLine) {
  const Unended& u = GetParam();
  std::string text = plot_text(u.plot);
  text.resize(text.size() - u.cut);
  const TempFile temp(text);
  for (std::size_t threads : {1, 2}) EXPECT_FALSE(scanned_first_values(temp.path(), threads)) << threads;
}

INSTANTIATE_TEST_SUITE_P(
    Table, FirstValuesUnended,
    testing::Values(Unended{"WholeField", Plot{.parameters = 1, .width = 12, .blocks = 80, .final_line_feed = false}, 0},
                    Unended{"AfterTheFirstField", Plot{.parameters = 10, .width = 12, .blocks = 40}, 40},
                    Unended{"SecondValueLine", Plot{.parameters = 12, .width = 15, .blocks = 30}, 10},
                    Unended{"OnlyBlock", Plot{.parameters = 12, .width = 12, .blocks = 1}, 5},
                    Unended{"BeforeTheLineFeed", Plot{.parameters = 3, .width = 12, .blocks = 50, .crlf = true}, 1}),
    [](const testing::TestParamInfo<Unended>& info) { return info.param.name; });

}  // namespace
}  // namespace quorvel
