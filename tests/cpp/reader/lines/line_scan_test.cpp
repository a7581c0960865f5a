// The one-pass line feed and ASCII scan against the plain answer (memchr and a byte loop), on
// every length around the 16-byte steps, with the line feed and a high byte at every place.

#include "reader/lines/line_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace quorvel {
namespace {

LineFeedScan plain_scan(const std::string& bytes) {
  const void* feed = std::memchr(bytes.data(), '\n', bytes.size());
  const std::size_t end = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - bytes.data()) : bytes.size();
  bool ascii = true;
  for (std::size_t i = 0; i < end; ++i) ascii = ascii && static_cast<unsigned char>(bytes[i]) < 0x80;
  return {end, ascii};
}

// The scan must not read past its bytes: each text is copied to the very end of its own
// allocation, so that the sanitizer build catches a read beyond.
LineFeedScan scan(const std::string& bytes) {
  auto copy = std::make_unique<char[]>(bytes.size() + 1);
  char* at = copy.get() + 1;
  std::memcpy(at, bytes.data(), bytes.size());
  return scan_to_line_feed(at, bytes.size());
}

TEST(LineScan, AgreesWithThePlainScanAtEveryPlace) {
  for (std::size_t size = 0; size <= 50; ++size) {
    for (std::size_t feed = 0; feed <= size; ++feed) {      // feed == size: none
      for (std::size_t high = 0; high <= size; ++high) {    // high == size: none
        std::string bytes(size, 'a');
        if (high < size) bytes[high] = '\xC3';
        if (feed < size) bytes[feed] = '\n';
        const LineFeedScan want = plain_scan(bytes);
        const LineFeedScan got = scan(bytes);
        ASSERT_EQ(got.line_feed, want.line_feed) << size << ' ' << feed << ' ' << high;
        ASSERT_EQ(got.ascii, want.ascii) << size << ' ' << feed << ' ' << high;  // only bytes before the feed count
      }
    }
  }
}

TEST(LineScan, AgreesWithThePlainScanOnRandomText) {
  std::mt19937_64 random(808);
  constexpr char alphabet[] = "\n\r 0123456789E+-.\x7F\x80\xBF\xC3\xFF";
  for (int i = 0; i < 100'000; ++i) {
    std::string bytes(random() % 300, ' ');
    for (char& byte : bytes) byte = random() % 16 == 0 ? alphabet[random() % (sizeof alphabet - 1)] : 'x';
    const LineFeedScan want = plain_scan(bytes);
    const LineFeedScan got = scan(bytes);
    ASSERT_EQ(got.line_feed, want.line_feed);
    ASSERT_EQ(got.ascii, want.ascii);
  }
}

}  // namespace
}  // namespace quorvel
