// A count in parts against the count on one thread, and a guess that a short line turns wrong:
// separator lines as long as value lines, and a block whose first value line holds one field,
// which then passes for a block's last value line.

#include "reader/scan/parallel_count.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_file.h"

namespace quorvel {
namespace {

using test_support::TempFile;

constexpr std::uint64_t parameters = 11;  // three lines a block: a separator and 10 + 1 fields

struct Plot {
  std::string text;
  std::uint64_t data_start = 0;
  std::vector<std::uint64_t> block_starts;
};

Plot plot(const std::string& separator, int blocks, int short_block) {
  Plot p;
  p.text = "PLOT 11\n";
  for (std::uint64_t j = 0; j < parameters; ++j) p.text += " P\n";
  p.data_start = p.text.size();
  for (int b = 0; b < blocks; ++b) {
    p.block_starts.push_back(p.text.size());
    p.text += separator + "\n";
    p.text += b == short_block ? "  0.00000E+00\n" : std::string(120, '1') + "\n";
    p.text += "  1.00000E+00\n";
  }
  return p;
}

struct Counted {
  PartsCounted outcome;
  BlockCounter counter;
};

// The count in two parts cut at `cut`.
Counted count_cut_at(const Plot& p, std::uint64_t cut) {
  const std::uint64_t end = 2 * cut - p.data_start;
  const TempFile temp(p.text);
  auto file = platform::File::open_for_reading(temp.path());
  EXPECT_TRUE(file) << file.error().display();
  PlotInput input(std::move(*file));
  Preamble preamble;
  preamble.parameters = parameters;
  BlockCounter counter(preamble.lines_per_block(), 0, p.data_start, p.data_start, 0);
  const PartsCounted outcome = count_in_parts(input, counter,
                                              {.preamble = &preamble, .width = 12, .data_start = p.data_start,
                                               .from = p.data_start, .end = end, .parts = 2});
  return {outcome, counter};
}

TEST(ParallelCount, CountsWhatOneThreadCounts) {
  const Plot p = plot(" STEP", 40, -1);
  const std::uint64_t cut = p.block_starts[17] + 5;
  const Counted two = count_cut_at(p, cut);
  ASSERT_EQ(two.outcome, PartsCounted::counted);

  BlockCounter serial(3, 0, p.data_start, p.data_start, 0);
  serial.feed(p.text.data() + p.data_start, p.text.size() - p.data_start);
  EXPECT_EQ(two.counter.line_feeds(), serial.line_feeds());
  EXPECT_EQ(two.counter.offset(), serial.offset());
  for (std::uint64_t block = 0; block < 40; ++block) {
    const auto [noted, offset] = two.counter.index().nearest(block);
    EXPECT_LE(noted, block);
    EXPECT_EQ(offset, p.block_starts[noted]) << "block " << block;
  }
}

TEST(ParallelCount, AWrongGuessAsksForTheCountAgain) {
  const Plot p = plot(std::string(130, '2'), 40, 20);
  const std::uint64_t cut = p.block_starts[20];
  EXPECT_EQ(count_cut_at(p, cut).outcome, PartsCounted::wrong);
}

}  // namespace
}  // namespace quorvel
