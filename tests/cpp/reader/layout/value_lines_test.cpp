// The block loop with its line parser against its per-field path alone, on the same text: the
// same values, bit for bit, and the same defect, whatever is damaged, at the widths plot files
// write and the widths around them (support/value_lines_differential.h).

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/value_lines_differential.h"

namespace quorvel {
namespace {

using test_support::read_value_lines_of;

std::string layout_field(std::mt19937_64& random, std::size_t width) {
  std::string field(1, " +-"[random() % 3]);
  field += static_cast<char>('0' + random() % 10);
  field += '.';
  for (std::size_t i = 0; i + 7 < width; ++i) field += static_cast<char>('0' + random() % 10);
  field += random() % 2 ? "E+" : "E-";
  const unsigned exponent = random() % 4 == 0 ? static_cast<unsigned>(random() % 100) : static_cast<unsigned>(random() % 16);
  field += static_cast<char>('0' + exponent / 10);
  field += static_cast<char>('0' + exponent % 10);
  return field;
}

// The value lines of `blocks` blocks of `count` values.
std::string value_lines(std::mt19937_64& random, std::size_t width, std::size_t count, std::size_t blocks) {
  std::string text;
  for (std::size_t b = 0; b < blocks; ++b) {
    for (std::size_t j = 0; j < count; ++j) {
      text += layout_field(random, width);
      if (j % 10 == 9 || j + 1 == count) text += '\n';
    }
  }
  return text;
}

void expect_same(const std::string& text, std::size_t width, std::size_t count, std::uint64_t skip, std::size_t chunk,
                 int& failures, bool first_lines_unwanted = false) {
  const auto general = read_value_lines_of(text, width, count, skip, true, chunk, first_lines_unwanted);
  const auto check = [&](const test_support::ValueLinesOutcome& fast, const char* how) {
    if (fast != general && ++failures <= 10) {
      ADD_FAILURE() << how << ", width " << width << ", " << count << " values a block, chunk " << chunk
                    << (first_lines_unwanted ? ", first lines unwanted" : "") << ": " << fast.stored.size()
                    << " values and '" << fast.defect << "' against " << general.stored.size() << " values and '"
                    << general.defect << "' on:\n" << text;
    }
  };
  check(read_value_lines_of(text, width, count, skip, false, chunk, first_lines_unwanted), "values one by one");
  // Every value kept in rows: whole lines are parsed straight into them.
  if (skip == 0 && !first_lines_unwanted) check(read_value_lines_of<true>(text, width, count, 0, false, chunk), "rows");
}

const std::string replacements[] = {"7", "0", "+", "-", ".", "E", "e", " ", std::string(1, '\0'), "\n", "\r",
                                    "\xC3\xA9", "\xE2\x82\xAC", "\x80", "\t", ""};

// Every byte of two lines of ten fields replaced in turn (and removed), at each width from 10 to
// 16; with every value wanted, and with the damaged line's values all unwanted (passed over).
TEST(ValueLines, EveryByteDamagedReadsAsThePerFieldPath) {
  std::mt19937_64 random(28);
  int failures = 0;
  for (std::size_t width = 10; width <= 16; ++width) {
    const std::string text = value_lines(random, width, 20, 1);
    for (std::size_t at = 0; at < text.size(); ++at) {
      for (const std::string& replacement : replacements) {
        std::string damaged = text;
        damaged.replace(at, 1, replacement);
        expect_same(damaged, width, 20, 0, 0, failures);
        expect_same(damaged, width, 20, 0, 0, failures, true);
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

// Random blocks (a last line of fewer than ten fields among them), some damaged, some lines longer
// or shorter, read through buffers refilled whole or a few bytes at a time, every value wanted or
// not every one, some lines wanted not at all.
TEST(ValueLines, RandomBlocksReadAsThePerFieldPath) {
  std::mt19937_64 random(2828);
  int failures = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::size_t width = 10 + random() % 7;
    const std::size_t count = 1 + random() % 35;
    std::string text = value_lines(random, width, count, 1 + random() % 4);
    for (int damage = static_cast<int>(random() % 5) - 2; damage > 0; --damage) {
      text.replace(random() % text.size(), 1, replacements[random() % std::size(replacements)]);
    }
    const std::size_t first_line_end = text.find('\n');  // the damage may have taken every line feed
    if (random() % 4 == 0 && first_line_end != std::string::npos) text.insert(first_line_end, random() % 2 ? "  " : "\r");
    const std::size_t chunk = random() % 3 == 0 ? 1 + random() % 200 : 0;
    expect_same(text, width, count, random() % 3, chunk, failures, random() % 2 == 0);
  }
  EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace quorvel
