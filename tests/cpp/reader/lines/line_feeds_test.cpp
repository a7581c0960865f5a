// The line feed count and search against a byte-by-byte oracle: every length around the vector
// widths and the 255-vector sums, every alignment, and densities from none to all line feeds.

#include "reader/lines/line_feeds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quorvel {
namespace {

std::string random_bytes(std::mt19937_64& random, std::size_t size, double line_feed_share) {
  std::bernoulli_distribution line_feed(line_feed_share);
  std::uniform_int_distribution<int> other(0, 255);
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    int value = other(random);
    if (value == '\n') value = 'x';
    c = line_feed(random) ? '\n' : static_cast<char>(value);
  }
  return bytes;
}

std::vector<std::size_t> sizes_to_try() {
  std::vector<std::size_t> sizes;
  for (std::size_t size = 0; size <= 130; ++size) sizes.push_back(size);
  for (std::size_t vectors : {255u, 256u, 511u}) {
    for (std::size_t width : {16u, 32u}) {
      for (std::size_t more : {0u, 1u, 2u}) sizes.push_back(vectors * width - 1 + more);
    }
  }
  sizes.push_back(100'003);
  return sizes;
}

class LineFeedCount : public testing::TestWithParam<double> {};

TEST_P(LineFeedCount, AgreesWithEveryByteCountedAtEveryAlignment) {
  std::mt19937_64 random(20261209);
  for (const std::size_t size : sizes_to_try()) {
    const std::string bytes = random_bytes(random, size + 31, GetParam());
    for (std::size_t shift = 0; shift < 32; shift += size > 1000 ? 7 : 1) {
      const char* p = bytes.data() + shift;
      const auto expected = static_cast<std::uint64_t>(std::count(p, p + size, '\n'));
      ASSERT_EQ(line_feeds_detail::count_portable(p, size), expected) << "size " << size << " shift " << shift;
      ASSERT_EQ(count_line_feeds(p, size), expected) << "size " << size << " shift " << shift;
      if (line_feeds_detail::wide_vectors()) {
        ASSERT_EQ(line_feeds_detail::count_wide(p, size), expected) << "size " << size << " shift " << shift;
      }
    }
  }
}

TEST_P(LineFeedCount, FindsTheNthLineFeedOrCountsThoseSeen) {
  std::mt19937_64 random(7);
  for (const std::size_t size : sizes_to_try()) {
    const std::string bytes = random_bytes(random, size, GetParam());
    std::vector<std::size_t> feeds;
    for (std::size_t i = 0; i < size; ++i) {
      if (bytes[i] == '\n') feeds.push_back(i);
    }
    for (std::uint64_t n : {std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{63}, std::uint64_t{64}, std::uint64_t{65},
                            static_cast<std::uint64_t>(feeds.size()), static_cast<std::uint64_t>(feeds.size() + 1)}) {
      if (n == 0) continue;
      const LineFeedSearch search = nth_line_feed(bytes.data(), size, n);
      if (n <= feeds.size()) {
        ASSERT_EQ(search.at, feeds[n - 1]) << "size " << size << " n " << n;
      } else {
        ASSERT_FALSE(search.at) << "size " << size << " n " << n;
        ASSERT_EQ(search.seen, feeds.size()) << "size " << size << " n " << n;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Densities, LineFeedCount, testing::Values(0.0, 0.01, 0.3, 1.0),
                         [](const testing::TestParamInfo<double>& info) {
                           return "share_" + std::to_string(static_cast<int>(info.param * 100));
                         });

}  // namespace
}  // namespace quorvel
