// The guess of where a block starts, from every byte offset of small files: the first block at
// or after the offset when the line lengths fit one laying of blocks only and two blocks' lines
// follow, else nothing.

#include "reader/scan/block_guess.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/temp_file.h"

namespace quorvel {
namespace {

using test_support::TempFile;

struct GuessCase {
  const char* name;
  int parameters;
  std::string separator;
  const char* line_end;
  bool fits_once;  // the separator is told from every value line by its length
};

void PrintTo(const GuessCase& c, std::ostream* out) { *out << c.name; }

struct Built {
  std::string text;
  std::uint64_t data_start = 0;
  std::vector<std::uint64_t> block_starts;
};

Built build(const GuessCase& c, int blocks) {
  Built built;
  built.text = "PLOT " + std::to_string(c.parameters) + c.line_end;
  for (int j = 0; j < c.parameters; ++j) built.text += " P" + std::string(c.line_end);
  built.data_start = built.text.size();
  for (int b = 0; b < blocks; ++b) {
    built.block_starts.push_back(built.text.size());
    built.text += c.separator + c.line_end;
    for (int j = 0; j < c.parameters; ++j) {
      built.text += "  1.00000E+00";
      if (j % 10 == 9 || j + 1 == c.parameters) built.text += c.line_end;
    }
  }
  return built;
}

// The case's file of five blocks, written and open.
class BlockGuess : public testing::TestWithParam<GuessCase> {
 protected:
  void SetUp() override {
    preamble.parameters = static_cast<std::uint64_t>(GetParam().parameters);
    auto opened = platform::File::open_for_reading(temp.path());
    ASSERT_TRUE(opened) << opened.error().display();
    file.emplace(std::move(*opened));
  }

  const Built built = build(GetParam(), 5);
  const TempFile temp{built.text};
  std::optional<PlotInput> file;
  Preamble preamble;
};

TEST_P(BlockGuess, FindsTheFirstBlockAtOrAfterEveryOffset) {
  const GuessCase& c = GetParam();
  const std::uint64_t per_block = preamble.lines_per_block();
  const std::uint64_t size = built.text.size();
  for (std::uint64_t from = built.data_start; from <= size; ++from) {
    std::optional<std::uint64_t> expected;
    std::uint64_t expected_bytes = 0;
    std::uint64_t line_start = from;
    if (from > built.data_start) line_start = built.text.find('\n', from - 1) + 1;
    std::uint64_t whole_lines = 0;
    for (std::uint64_t at = line_start; at < size; ++at) whole_lines += built.text[at] == '\n' ? 1 : 0;
    if (c.fits_once && whole_lines >= 2 * per_block - 1) {
      for (std::size_t b = 0; b < built.block_starts.size(); ++b) {
        if (built.block_starts[b] >= from) {
          expected = built.block_starts[b];
          expected_bytes = (b + 1 < built.block_starts.size() ? built.block_starts[b + 1] : size) - built.block_starts[b];
          break;
        }
      }
    }
    const auto got = guess_block_start(*file, preamble, 13, {.from = from, .floor = built.data_start, .most_bytes = size});
    ASSERT_EQ(got.has_value(), expected.has_value()) << "from " << from;
    if (got) {
      EXPECT_EQ(got->offset, *expected) << "from " << from;
      EXPECT_EQ(got->bytes, expected_bytes) << "from " << from;
    }
  }
}

TEST_P(BlockGuess, GivesNothingWhenTheBytesAllowedHoldOneBlock) {
  const std::uint64_t one_block = built.block_starts[2] - built.block_starts[1];
  const GuessScope scope{.from = built.block_starts[1], .floor = built.data_start, .most_bytes = one_block};
  EXPECT_FALSE(guess_block_start(*file, preamble, 13, scope).has_value());
}

// Two blocks of 6,000 values are some 160 KB: more than the first window read.
TEST(BlockGuessWindow, GrowsUntilTwoLongBlocksFit) {
  const GuessCase c{"long_blocks", 6000, " STEP", "\n", true};
  const Built built = build(c, 4);
  const TempFile temp(built.text);
  auto opened = platform::File::open_for_reading(temp.path());
  ASSERT_TRUE(opened) << opened.error().display();
  PlotInput file(std::move(*opened));
  Preamble preamble;
  preamble.parameters = 6000;
  for (const std::uint64_t from : {built.block_starts[1] - 100, built.block_starts[1] + 1}) {
    const auto got = guess_block_start(file, preamble, 13, {.from = from, .floor = built.data_start, .most_bytes = 1u << 20});
    ASSERT_TRUE(got.has_value()) << "from " << from;
    const std::size_t block = from < built.block_starts[1] ? 1 : 2;
    EXPECT_EQ(got->offset, built.block_starts[block]);
    EXPECT_EQ(got->bytes, built.block_starts[block + 1] - built.block_starts[block]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, BlockGuess,
    testing::Values(GuessCase{"one_parameter", 1, " STEP", "\n", true},
                    GuessCase{"ten_and_one_crlf", 11, " TIME STEP 7", "\r\n", true},
                    GuessCase{"twenty_five", 25, "", "\n", true},
                    // All value lines are as long as the separator: every laying fits.
                    GuessCase{"ten_long_separator", 10, std::string(130, '='), "\n", false}),
    [](const testing::TestParamInfo<GuessCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
