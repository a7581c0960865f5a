// Selection: which values a read keeps and where each goes, and the problems reported as data.

#include "reader/targets/selection.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace quorvel {
namespace {

const std::vector<std::string> names{"TIME", "X", "V", "X", "TEMP"};

TEST(Selection, NothingAskedKeepsEveryValueInFileOrder) {
  const Selection selection = select_columns(std::nullopt, names);
  EXPECT_TRUE(selection.everything);
  EXPECT_EQ(selection.names, names);
  EXPECT_TRUE(selection.slot_of_value.empty());
}

TEST(Selection, ChoicesTakeSlotsInTheOrderAskedAndARepeatIsCopied) {
  const Selection selection =
      select_columns(std::vector<ColumnChoice>{std::string("TEMP"), std::int64_t{0}, std::int64_t{-1}, std::int64_t{3}},
                     names);
  EXPECT_FALSE(selection.everything);
  EXPECT_EQ(selection.names, (std::vector<std::string>{"TEMP", "TIME", "TEMP", "X"}));
  EXPECT_EQ(selection.slot_of_value, (std::vector<std::int64_t>{1, -1, -1, 3, 0}));
  EXPECT_EQ(selection.copies, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 2}}));
}

struct Problem {
  const char* name;
  std::vector<ColumnChoice> choices;
  std::size_t choice;
  std::vector<std::uint64_t> positions;
};

class SelectionProblems : public testing::TestWithParam<Problem> {};

TEST_P(SelectionProblems, NameTheChoiceAndWhatTheFileHas) {
  try {
    (void)select_columns(GetParam().choices, names);
    FAIL() << "no problem reported";
  } catch (const SelectionError& error) {
    EXPECT_EQ(error.choice, GetParam().choice);
    EXPECT_EQ(error.positions, GetParam().positions);
    EXPECT_EQ(error.parameters, 5u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SelectionProblems,
    testing::Values(Problem{"UnknownName", {std::int64_t{0}, std::string("NOPE")}, 1, {}},
                    Problem{"AmbiguousName", {std::string("X")}, 0, {1, 3}},
                    Problem{"OnePastTheEnd", {std::int64_t{5}}, 0, {}},
                    Problem{"OneBeforeTheStart", {std::string("V"), std::int64_t{-6}}, 1, {}},
                    Problem{"FarthestPosition", {std::numeric_limits<std::int64_t>::min()}, 0, {}},
                    // Only the first problem is reported.
                    Problem{"FirstOfTwo", {std::int64_t{9}, std::string("NOPE")}, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
