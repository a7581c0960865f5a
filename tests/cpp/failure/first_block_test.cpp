#include <gtest/gtest.h>

#include <string>

#include "failure/report.h"
#include "support/recording_sink.h"
#include "support/io_errors.h"

namespace quorvel {
namespace {

const Location where{"src/reader.cpp", 123, 45};

std::string expected_block(const std::string& message) {
  return "\nthread '<unnamed>' (4242) panicked at src/reader.cpp:123:45:\n" + message + "\n";
}

// The block without a message is this long; the message makes up the rest.
const std::size_t frame_size = expected_block("").size();

struct BlockCase {
  std::string name;
  std::size_t total;  // length of the whole block
  bool one_write;
};

void PrintTo(const BlockCase& c, std::ostream* out) { *out << c.name; }

class FirstBlock : public ::testing::TestWithParam<BlockCase> {};

TEST_P(FirstBlock, WholeWhenItFitsInPiecesOtherwise) {
  const BlockCase& c = GetParam();
  const std::string message(c.total - frame_size, 'm');
  test_support::RecordingSink sink;
  ASSERT_TRUE(write_first_block(sink, "<unnamed>", 4242, where, message));
  EXPECT_EQ(sink.output, expected_block(message));
  EXPECT_EQ(sink.output.size(), c.total);
  if (c.one_write) {
    EXPECT_EQ(sink.requests.size(), 1u);
  } else {
    EXPECT_GT(sink.requests.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FirstBlock,
                         ::testing::Values(BlockCase{"Short", 100, true}, BlockCase{"OneUnder", 511, true},
                                           BlockCase{"Exactly512", 512, true}, BlockCase{"OneOver", 513, false},
                                           BlockCase{"Long", 700, false}, BlockCase{"VeryLong", 5000, false}),
                         [](const auto& info) { return info.param.name; });

TEST(FirstBlock, ThreadIdentifierAndLocationInDecimal) {
  test_support::RecordingSink sink;
  ASSERT_TRUE(write_first_block(sink, "<unnamed>", 18446744073709551615u, {"a.cpp", 4294967295u, 0}, "m"));
  EXPECT_EQ(sink.output,
            "\nthread '<unnamed>' (18446744073709551615) panicked at a.cpp:4294967295:0:\nm\n");
}

TEST(FirstBlock, PartialWritesStillDeliverTheWholeBlock) {
  test_support::RecordingSink sink;
  sink.script = {test_support::Accept{10}, test_support::Accept{10}};
  ASSERT_TRUE(write_first_block(sink, "<unnamed>", 4242, where, "message"));
  EXPECT_EQ(sink.output, expected_block("message"));
}

TEST(FirstBlock, WriteErrorStopsThePieces) {
  test_support::RecordingSink sink;
  sink.script = {test_support::error_of_kind(ErrorKind::BrokenPipe)};
  EXPECT_FALSE(write_first_block(sink, "<unnamed>", 4242, where, std::string(600, 'm')));
  EXPECT_EQ(sink.requests.size(), 1u);
  EXPECT_EQ(sink.output, "");
}

}  // namespace
}  // namespace quorvel
