// The decoders against the libraries' own encoders: generated text in several members or frames
// comes back whole, sequentially, at offsets forward and back, and through the decode thread (run
// under TSan by the test command); a truncated or corrupt stream is an error, after its text.

#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <string>

#include "codec/decode_ahead.h"
#include "codec/decoded_stream.h"
#include "support/temp_file.h"

namespace quorvel::codec {
namespace {

std::string gzip_member(const std::string& text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, text.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string zstd_frame(const std::string& text) {
  std::string out(ZSTD_compressBound(text.size()), '\0');
  out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
  return out;
}

struct Gzip {
  static constexpr Format format = Format::Gzip;
  static std::string pack(const std::string& text) { return gzip_member(text); }
};
struct Zstd {
  static constexpr Format format = Format::Zstd;
  static std::string pack(const std::string& text) { return zstd_frame(text); }
};

std::string generated_text() {
  std::string text;
  for (int i = 0; i < 60000; ++i) text += " STEP " + std::to_string(i * 7919 % 100003) + "\n";
  return text;
}

template <class Codec>
class DecodedStreamTest : public ::testing::Test {
 protected:
  const std::string text = generated_text();
  // Two members or frames, the cut inside a line.
  const std::string first = Codec::pack(text.substr(0, 12345));
  const std::string packed = first + Codec::pack(text.substr(12345));

  template <class Stream>
  static std::expected<std::string, IoError> read_all(Stream& stream) {
    std::string got;
    char buffer[4096];
    for (;;) {
      auto read = stream.read(std::span<char>(buffer));
      if (!read) return std::unexpected(read.error());
      if (*read == 0) return got;
      got.append(buffer, *read);
    }
  }
  static DecodedStream opened(platform::File& file) {
    auto stream = DecodedStream::open(file, Codec::format);
    EXPECT_TRUE(stream.has_value());
    return std::move(*stream);
  }
  static platform::File file_of(const test_support::TempFile& temp) { return *platform::File::open_for_reading(temp.path()); }
};

using Codecs = ::testing::Types<Gzip, Zstd>;
TYPED_TEST_SUITE(DecodedStreamTest, Codecs);

TYPED_TEST(DecodedStreamTest, RecognisedByItsFirstBytes) {
  EXPECT_EQ(recognise(std::span<const char>(this->packed.data(), magic_bytes)), TypeParam::format);
  EXPECT_EQ(recognise(std::span<const char>(this->text.data(), magic_bytes)), Format::Plain);
}

TYPED_TEST(DecodedStreamTest, EveryMemberComesBackInOrderOnOneThreadAndTwo) {
  test_support::TempFile temp(this->packed);
  platform::File file = this->file_of(temp);
  DecodedStream stream = this->opened(file);
  EXPECT_EQ(this->read_all(stream), this->text);
  DecodeAhead ahead(this->opened(file));
  EXPECT_EQ(this->read_all(ahead), this->text);
}

TYPED_TEST(DecodedStreamTest, ReadsAtOffsetsForwardAndBack) {
  test_support::TempFile temp(this->packed);
  platform::File file = this->file_of(temp);
  DecodedStream stream = this->opened(file);
  char buffer[64];
  for (const std::uint64_t offset : {std::uint64_t{300000}, std::uint64_t{12340}, std::uint64_t{12340}, std::uint64_t{0}}) {
    auto got = stream.read_at(offset, std::span<char>(buffer));
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(std::string(buffer, *got), this->text.substr(offset, *got));
  }
  auto past = stream.read_at(this->text.size() + 10, std::span<char>(buffer));
  EXPECT_EQ(past, std::size_t{0});
}

TYPED_TEST(DecodedStreamTest, TruncatedAndCorruptStreamsFailAfterTheirText) {
  // The second member's or frame's magic number broken: its first byte is where decoding fails.
  std::string corrupt = this->packed;
  corrupt[this->first.size()] ^= 0x5a;
  const std::string truncated = this->packed.substr(0, this->packed.size() - 7);
  for (const auto& [bytes, kind] : {std::pair{truncated, ErrorKind::UnexpectedEof}, std::pair{corrupt, ErrorKind::InvalidInput}}) {
    test_support::TempFile temp(bytes);
    platform::File file = this->file_of(temp);
    DecodedStream stream = this->opened(file);
    std::string got;
    char buffer[4096];
    std::expected<std::size_t, IoError> read;
    while ((read = stream.read(std::span<char>(buffer))) && *read != 0) got.append(buffer, *read);
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().kind(), kind);
    if (kind == ErrorKind::InvalidInput) {
      EXPECT_EQ(got, this->text.substr(0, 12345));
    }
    EXPECT_EQ(got, this->text.substr(0, got.size()));
    DecodeAhead ahead(this->opened(file));
    auto whole = this->read_all(ahead);
    ASSERT_FALSE(whole.has_value());
    EXPECT_EQ(whole.error().kind(), read.error().kind());
  }
}

}  // namespace
}  // namespace quorvel::codec
