// The chunk loop every count reads through: it stops after the chunk that brings the counter to
// enough line feeds, reads nothing when the counter has them already, and counts to the end
// otherwise; an owned file and a shared one read alike.

#include "reader/scan/chunk_count.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/temp_file.h"

namespace quorvel {
namespace {

using test_support::TempFile;

// Lines of 64 bytes: 4,096 line feeds a chunk; two and a half chunks.
constexpr std::uint64_t feeds_per_chunk = count_chunk_bytes / 64;
const std::string text(count_chunk_bytes * 5 / 2 / 64 * 64, 'x');

std::string lines() {
  std::string bytes = text;
  for (std::size_t at = 63; at < bytes.size(); at += 64) bytes[at] = '\n';
  return bytes;
}

struct StopCase {
  const char* name;
  std::optional<std::uint64_t> enough;
  std::uint64_t counted;  // line feeds the counter saw
  std::uint64_t read;     // bytes read
};

class ChunkCount : public testing::TestWithParam<StopCase> {};

TEST_P(ChunkCount, StopsAfterTheChunkThatBringsEnough) {
  const StopCase& c = GetParam();
  const TempFile temp(lines());
  auto file = platform::File::open_for_reading(temp.path());
  ASSERT_TRUE(file) << file.error().display();
  PlotInput input(std::move(*file));
  FileSource source(input, {}, 0);
  BlockCounter counter(2, 0, 0, 0, 0);
  EXPECT_FALSE(count_chunks(source, counter, c.enough));
  EXPECT_EQ(counter.line_feeds(), c.counted);
  EXPECT_EQ(source.position(), c.read);
}

const std::uint64_t all_feeds = text.size() / 64;

INSTANTIATE_TEST_SUITE_P(
    Table, ChunkCount,
    testing::Values(StopCase{"ToTheEnd", std::nullopt, all_feeds, text.size()},
                    StopCase{"AlreadyEnough", 0, 0, 0},
                    StopCase{"WithinTheFirstChunk", 1, feeds_per_chunk, count_chunk_bytes},
                    StopCase{"AtTheFirstChunksLastFeed", feeds_per_chunk, feeds_per_chunk, count_chunk_bytes},
                    StopCase{"OneFeedIntoTheSecond", feeds_per_chunk + 1, 2 * feeds_per_chunk, 2 * count_chunk_bytes},
                    StopCase{"MoreThanTheFileHolds", all_feeds + 1, all_feeds, text.size()}),
    [](const testing::TestParamInfo<StopCase>& info) { return info.param.name; });

TEST(ChunkCount, AnOwnedFileReadsFromWhereItStands) {
  const TempFile temp(lines());
  auto file = platform::File::open_for_reading(temp.path());
  ASSERT_TRUE(file) << file.error().display();
  FileSource source(std::move(*file));
  BlockCounter counter(2, 0, 0, 0, 0);
  EXPECT_FALSE(count_chunks(source, counter));
  EXPECT_EQ(counter.line_feeds(), all_feeds);
  EXPECT_EQ(source.position(), text.size());
}

}  // namespace
}  // namespace quorvel
