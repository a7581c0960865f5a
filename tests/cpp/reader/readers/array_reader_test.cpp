// The array reader on files written here: the matrix of the values asked for, the width found,
// and each kind of problem with its place.

#include "reader/readers/array_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_file.h"

namespace quorvel {
namespace {

using test_support::TempFile;

// Three parameters, two blocks; value j of block b is b * 10 + j, in fields of 12.
const std::string good =
    "PLOT FILE 3\nTIME\nX\nV\n STEP 0\n 0.00000E+00 1.00000E+00 2.00000E+00\n"
    " STEP 1\n 1.00000E+01 1.10000E+01 1.20000E+01\n";

std::vector<float> values_of(const ArrayRead& read) {
  return {read.values.data(), read.values.data() + read.values.rows() * read.values.row_length()};
}

TEST(ArrayReader, ReadsEveryValueRowByRowAndFindsTheWidth) {
  const TempFile file(good);
  const ArrayRead read = read_plot_arrays({.path = file.path()});
  EXPECT_EQ(read.header, "PLOT FILE 3");
  EXPECT_EQ(read.names, (std::vector<std::string>{"TIME", "X", "V"}));
  EXPECT_EQ(read.n_digits, 12u);
  EXPECT_EQ(values_of(read), (std::vector<float>{0, 1, 2, 10, 11, 12}));
}

TEST(ArrayReader, KeepsTheChosenParametersInTheOrderAsked) {
  const TempFile file(good);
  const ArrayRead read = read_plot_arrays(
      {.path = file.path(), .n_digits = 12, .columns = std::vector<ColumnChoice>{std::string("V"), std::int64_t{0}}});
  EXPECT_EQ(read.names, (std::vector<std::string>{"V", "TIME"}));
  EXPECT_EQ(values_of(read), (std::vector<float>{2, 0, 12, 10}));
}

struct DefectCase {
  const char* name;
  std::string content;
  std::uint64_t n_digits;
  std::string reason;
  std::uint64_t line;
  std::optional<std::uint64_t> column;
};

class ArrayReaderDefects : public testing::TestWithParam<DefectCase> {};

TEST_P(ArrayReaderDefects, SayWhatAndWhere) {
  const TempFile file(GetParam().content);
  try {
    (void)read_plot_arrays({.path = file.path(), .n_digits = GetParam().n_digits});
    FAIL() << "no defect reported";
  } catch (const PlotDefect& defect) {
    EXPECT_EQ(defect.reason, GetParam().reason);
    EXPECT_EQ(defect.line, GetParam().line);
    EXPECT_EQ(defect.column, GetParam().column);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArrayReaderDefects,
    testing::Values(
        DefectCase{"Empty", "", 12, "the file is empty", 1, std::nullopt},
        DefectCase{"NotANumber", "H 2\nA\nB\n--\n 1.00000E+00 2.0000XE+00\n", 12,
                   "field 2 is not a number: ' 2.0000XE+00'", 5, 13},
        DefectCase{"CutShort", "H 2\nA\nB\n--\n 1.00000E+00 2.00\n", 12, "field 2 needs bytes 13 to 24, but the line has 17",
                   5, 13},
        DefectCase{"BlockCut", "H 11\nA\nB\nC\nD\nE\nF\nG\nH\nI\nJ\nK\n--\n" + std::string(120, '1') + "\n", 12,
                   "the file ends inside block 1: a value line is missing", 15, std::nullopt},
        DefectCase{"WidthDoesNotFit", "H 2\nA\nB\n--\n 1.00000E+00 2.00000E+00\n", 6,
                   "the field width 6 does not fit this file: its value lines suggest 12 (24 bytes for 2 fields)", 5,
                   std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ArrayReader, AMissingFileIsAnOpenError) {
  EXPECT_THROW((void)read_plot_arrays({.path = "/nonexistent-quorvel-dir/x.plt"}), OpenError);
}

}  // namespace
}  // namespace quorvel
