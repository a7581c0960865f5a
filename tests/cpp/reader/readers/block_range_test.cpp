// Ranged and parallel reads against the whole read of the same bytes: the rows of the chosen
// blocks bit for bit, and a defect only when it lies in a chosen block (or in the block the file
// ends inside, for a range that reaches the end), with the whole read's message, line and column.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "reader/readers/array_reader.h"
#include "reader/scan/block_seek.h"
#include "reader/scan/plot_scan.h"
#include "support/temp_file.h"

namespace quorvel {
namespace {

using test_support::TempFile;

struct Layout {
  int parameters;
  int blocks;       // complete blocks
  int tail_lines;   // lines of a block the file ends inside
  int bad_block;    // -1: none; a bad field in this block (== blocks: in the tail's value line)
  bool crlf;
  bool final_line_feed;
  // The separator line: short, short of lengths that vary (so blocks do), as long as a value line
  // (so that no laying of blocks over the lines can be told from another by their lengths), or
  // made of numbers like one.
  enum class Separator { plain, varying, long_text, numbers, longer_first } separator = Separator::plain;
  bool bad_is_short_line = false;  // the bad block's first value line ends after one field
};

std::string plot_text(const Layout& l) {
  const std::string end = l.crlf ? "\r\n" : "\n";
  std::string text = "PLOT " + std::to_string(l.parameters) + end;
  for (int j = 0; j < l.parameters; ++j) text += " P" + std::to_string(j % 4) + end;
  const int per_block = 1 + (l.parameters + 9) / 10;
  auto block = [&](int b, int lines) {
    for (int line = 0; line < lines; ++line) {
      if (line == 0) {
        if (l.separator == Layout::Separator::plain) text += " STEP";
        if (l.separator == Layout::Separator::varying) text += " STEP" + std::string(static_cast<std::size_t>(b * 7 % 10), '.');
        // Blocks longer in the first half of the file than in the second.
        if (l.separator == Layout::Separator::longer_first) text += " STEP" + std::string(2 * b < l.blocks ? 90 : 0, '.');
        if (l.separator == Layout::Separator::long_text) text += std::string(120, '=');
        if (l.separator == Layout::Separator::numbers) {
          for (int j = 0; j < 10; ++j) text += "  1.00000E+00";
        }
        text += end;
        continue;
      }
      if (line == 1 && b == l.bad_block && l.bad_is_short_line) {
        text += "  0.00000E+00" + end;
        continue;
      }
      for (int j = (line - 1) * 10; j < std::min(l.parameters, line * 10); ++j) {
        char field[32];
        std::snprintf(field, sizeof field, "%12.5E", b * 100.0 + j);
        if (b == l.bad_block && j == 0) std::memcpy(field, "  1.2.3E+00 ", 12);
        text += field;
      }
      text += end;
    }
  };
  for (int b = 0; b < l.blocks; ++b) block(b, per_block);
  if (l.tail_lines > 0) block(l.blocks, l.tail_lines);
  if (!l.final_line_feed && !text.empty() && text.back() == '\n') text.resize(text.size() - end.size());
  return text;
}

// The case, for a failure's message.
std::string describe(const Layout& l, int round, bool given) {
  return "round " + std::to_string(round) + ": " + std::to_string(l.parameters) + " parameters, " +
         std::to_string(l.blocks) + " blocks, tail " + std::to_string(l.tail_lines) + ", bad block " +
         std::to_string(l.bad_block) + (l.bad_is_short_line ? " (short line)" : "") + ", separator " +
         std::to_string(static_cast<int>(l.separator)) + (l.crlf ? ", CR LF" : "") +
         (l.final_line_feed ? "" : ", no final line feed") + (given ? ", width given" : "");
}

using Outcome = std::variant<ArrayRead, PlotDefect>;

Outcome outcome_of(const ArrayRequest& request) {
  try {
    return read_plot_arrays(request);
  } catch (const PlotDefect& defect) {
    return defect;
  } catch (const OpenError& error) {
    ADD_FAILURE() << "open error " << error.error.display();
  } catch (const std::exception& error) {
    ADD_FAILURE() << "exception " << error.what();
  } catch (...) {
    ADD_FAILURE() << "other";
  }
  return PlotDefect{"unexpected", 0, {}};
}

std::vector<float> rows_of(const ArrayRead& read, std::size_t first, std::size_t last) {
  const std::size_t n = read.values.row_length();
  return {read.values.data() + first * n, read.values.data() + last * n};
}

// The whole read's answer for blocks [start, stop) of a file of `total` blocks.
void expect_like_whole(const Outcome& whole, const Outcome& part, std::uint64_t start, std::uint64_t stop,
                       std::uint64_t total, const Layout& l, const std::string& what) {
  if (const auto* defect = std::get_if<PlotDefect>(&whole)) {
    const int per_block = 1 + (l.parameters + 9) / 10;
    const std::uint64_t data_line = static_cast<std::uint64_t>(l.parameters) + 2;
    const bool in_preamble = defect->line < data_line;
    const std::uint64_t block = in_preamble ? 0 : (defect->line - data_line) / per_block;
    const bool tail_chosen = l.tail_lines > 0 && stop == total;
    if (!in_preamble && block < start && tail_chosen) {
      // A defect before the range, and the block the file ends inside after it.
      const auto* got = std::get_if<PlotDefect>(&part);
      ASSERT_NE(got, nullptr) << what << ": no defect";
      EXPECT_EQ(got->line, data_line + total * per_block + (l.bad_block == l.blocks ? 1 : l.tail_lines)) << what;
      return;
    }
    if (in_preamble || (start <= block && block < stop) || (block >= total && stop == total)) {
      const auto* got = std::get_if<PlotDefect>(&part);
      ASSERT_NE(got, nullptr) << what << ": no defect";
      EXPECT_EQ(got->reason, defect->reason) << what;
      EXPECT_EQ(got->line, defect->line) << what;
      EXPECT_EQ(got->column, defect->column) << what;
      return;
    }
  }
  const auto* got = std::get_if<ArrayRead>(&part);
  ASSERT_NE(got, nullptr) << what << ": " << std::get<PlotDefect>(part).reason << " at " << std::get<PlotDefect>(part).line;
  ASSERT_EQ(got->values.rows(), stop - start) << what;
  EXPECT_EQ(got->first_block, start) << what;
  if (const auto* read = std::get_if<ArrayRead>(&whole)) {
    EXPECT_EQ(rows_of(*got, 0, stop - start), rows_of(*read, start, stop)) << what;
  } else {
    for (std::uint64_t b = start; b < stop; ++b) {
      EXPECT_EQ(got->values.data()[(b - start) * got->values.row_length()], static_cast<float>(b * 100)) << what;
    }
  }
}

TEST(BlockRanges, EveryRangeAndThreadCountReadsWhatTheWholeReadReads) {
  std::mt19937 random(20261208);
  const int parameter_counts[] = {1, 3, 10, 11, 25};
  for (int round = 0; round < 240; ++round) {
    Layout l{};
    l.parameters = parameter_counts[random() % 5];
    const int per_block = 1 + (l.parameters + 9) / 10;
    l.blocks = static_cast<int>(random() % 9);
    l.tail_lines = random() % 3 == 0 ? static_cast<int>(random() % per_block) : 0;
    l.bad_block = random() % 3 == 0 ? static_cast<int>(random() % (l.blocks + 1)) : -1;
    if (l.bad_block == l.blocks && l.tail_lines < 2) l.bad_block = -1;
    l.crlf = random() % 4 == 0;
    l.final_line_feed = random() % 4 != 0;
    l.separator = static_cast<Layout::Separator>(random() % 4);
    l.bad_is_short_line = random() % 2 == 0;
    const TempFile file(plot_text(l));
    const bool given = random() % 2 == 0;
    const std::string path = file.path();
    ArrayRequest request{.path = path};
    if (given || l.bad_block == 0) request.n_digits = 12;  // a bad block 0 would hide the width
    const Outcome whole = outcome_of(request);
    const auto total = static_cast<std::int64_t>(l.blocks);

    for (int each = 0; each < 12; ++each) {
      BlockRange range;
      if (random() % 4 != 0) range.start = static_cast<std::int64_t>(random() % (2 * total + 5)) - total - 2;
      if (random() % 4 != 0) range.stop = static_cast<std::int64_t>(random() % (2 * total + 5)) - total - 2;
      auto bound = [&](std::optional<std::int64_t> b, std::int64_t absent) {
        if (!b) return absent;
        return std::clamp(*b < 0 ? *b + total : *b, std::int64_t{0}, total);
      };
      const auto start = static_cast<std::uint64_t>(bound(range.start, 0));
      const auto stop = std::max(start, static_cast<std::uint64_t>(bound(range.stop, total)));
      ArrayRequest ranged = request;
      ranged.blocks = range;
      ranged.threads = 1 + random() % 8;
      ranged.least_part_bytes = 1;
      const std::string what = describe(l, round, given) + " range [" + std::to_string(start) + ", " +
                               std::to_string(stop) + ") threads " + std::to_string(ranged.threads);
      expect_like_whole(whole, outcome_of(ranged), start, stop, static_cast<std::uint64_t>(total), l, what);
    }
    for (std::size_t threads = 2; threads <= 8; threads += 3) {
      ArrayRequest parallel = request;
      parallel.threads = threads;
      parallel.least_part_bytes = 1;
      const std::string what = describe(l, round, given) + " threads " + std::to_string(threads);
      expect_like_whole(whole, outcome_of(parallel), 0, static_cast<std::uint64_t>(total), static_cast<std::uint64_t>(total), l, what);
    }
  }
}

TEST(BlockRanges, ParallelReadsOfLongFilesWithBlocksOfManyLengths) {
  std::mt19937 random(9);
  const int parameter_counts[] = {11, 25, 40};
  for (int round = 0; round < 24; ++round) {
    Layout l{};
    l.parameters = parameter_counts[random() % 3];
    l.blocks = 40 + static_cast<int>(random() % 260);
    l.tail_lines = random() % 3 == 0 ? 1 : 0;
    l.bad_block = random() % 2 == 0 ? static_cast<int>(random() % l.blocks) : -1;
    l.bad_is_short_line = random() % 2 == 0;
    l.separator = random() % 2 == 0 ? Layout::Separator::varying : Layout::Separator::longer_first;
    l.final_line_feed = true;
    const TempFile file(plot_text(l));
    const std::string path = file.path();
    ArrayRequest request{.path = path, .n_digits = 12};
    const Outcome whole = outcome_of(request);
    for (std::size_t threads = 2; threads <= 8; threads += 2) {
      ArrayRequest parallel = request;
      parallel.threads = threads;
      parallel.least_part_bytes = 1;
      const std::string what = describe(l, round, true) + " threads " + std::to_string(threads);
      const auto total = static_cast<std::uint64_t>(l.blocks);
      expect_like_whole(whole, outcome_of(parallel), 0, total, total, l, what);
    }
  }
}

// Where every block starts, found from a scan's index, or the scan's defect.
std::variant<std::vector<std::uint64_t>, PlotDefect> scanned_starts(const std::string& path, std::size_t threads) {
  try {
    const PlotLayout layout = scan_plot_file({.path = path, .threads = threads, .least_part_bytes = 1});
    auto file = platform::File::open_for_reading(path);
    if (!file) return PlotDefect{"cannot open", 0, {}};
    PlotInput input(std::move(*file));
    std::vector<std::uint64_t> starts;
    for (std::uint64_t b = 0; b <= layout.blocks; ++b) starts.push_back(block_offset(input, layout, b, {}));
    starts.push_back(layout.size);
    return starts;
  } catch (const PlotDefect& defect) {
    return defect;
  }
}

TEST(BlockRanges, ScansOnSeveralThreadsFindWhatOneThreadFinds) {
  // The line reader's first read takes 64 KiB: most of these files are longer, so that the rest
  // is counted in parts.
  std::mt19937 random(17);
  const int parameter_counts[] = {1, 11, 25, 40};
  for (int round = 0; round < 30; ++round) {
    Layout l{};
    l.parameters = parameter_counts[random() % 4];
    l.blocks = 200 + static_cast<int>(random() % 1000);
    l.tail_lines = random() % 4 == 0 ? 1 : 0;
    l.separator = static_cast<Layout::Separator>(random() % 5);
    l.crlf = random() % 4 == 0;
    l.final_line_feed = random() % 4 != 0;
    l.bad_block = -1;
    const TempFile file(plot_text(l));
    const std::string path = file.path();
    const auto one = scanned_starts(path, 1);
    for (std::size_t threads = 2; threads <= 8; threads += 3) {
      const auto several = scanned_starts(path, threads);
      const std::string what = describe(l, round, false) + " threads " + std::to_string(threads);
      ASSERT_EQ(one.index(), several.index()) << what;
      if (const auto* starts = std::get_if<std::vector<std::uint64_t>>(&one)) {
        EXPECT_EQ(*starts, std::get<std::vector<std::uint64_t>>(several)) << what;
      } else {
        EXPECT_EQ(std::get<PlotDefect>(one).reason, std::get<PlotDefect>(several).reason) << what;
        EXPECT_EQ(std::get<PlotDefect>(one).line, std::get<PlotDefect>(several).line) << what;
      }
    }
  }
}

TEST(BlockRanges, ScanCountsBlocksAndNotesWhereTheyStart) {
  const Layout l{.parameters = 11, .blocks = 7, .tail_lines = 0, .bad_block = 3, .crlf = true, .final_line_feed = true};
  const TempFile file(plot_text(l));
  const std::string path = file.path();
  const PlotLayout layout = scan_plot_file({.path = path});
  EXPECT_EQ(layout.blocks, 7u);
  EXPECT_EQ(layout.width, 12u);
  EXPECT_EQ(layout.preamble.names.size(), 11u);
  EXPECT_EQ(layout.index.starts.size(), 8u);  // the bad field is not parsed; block 7 starts at the end
  EXPECT_EQ(layout.index.starts.back(), layout.size);

  const TempFile cut(plot_text({.parameters = 11, .blocks = 2, .tail_lines = 2, .bad_block = -1, .crlf = false, .final_line_feed = false}));
  try {
    const std::string cut_path = cut.path();
    (void)scan_plot_file({.path = cut_path});
    FAIL() << "no defect";
  } catch (const PlotDefect& defect) {
    EXPECT_EQ(defect.reason, "the file ends inside block 3: a value line is missing");
    EXPECT_EQ(defect.line, 13u + 2 * 3 + 2);
  }
}

}  // namespace
}  // namespace quorvel
