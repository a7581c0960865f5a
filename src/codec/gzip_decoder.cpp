// gzip through zlib's inflate, member after member.

#include "codec/decoder.h"

#if QUORVEL_HAVE_ZLIB
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

namespace quorvel::codec {
namespace {

class GzipDecoder final : public Decoder {
  z_stream stream_{};
  bool ended_ = false;  // a member ended: the next bytes start another

 public:
  GzipDecoder() {
    // 16 + the largest window: gzip framing only, any window size.
    if (inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  GzipDecoder(const GzipDecoder&) = delete;
  GzipDecoder& operator=(const GzipDecoder&) = delete;
  ~GzipDecoder() override { inflateEnd(&stream_); }

  Step decode(std::span<const char> in, std::span<char> out, bool) override {
    if (ended_ && !in.empty()) {
      inflateReset(&stream_);
      ended_ = false;
    }
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    stream_.avail_in = static_cast<uInt>(std::min<std::size_t>(in.size(), UINT_MAX));
    stream_.next_out = reinterpret_cast<Bytef*>(out.data());
    stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size(), UINT_MAX));
    const uInt in_before = stream_.avail_in;
    const uInt out_before = stream_.avail_out;
    const int status = ended_ ? Z_STREAM_END : inflate(&stream_, Z_NO_FLUSH);
    if (status == Z_MEM_ERROR) throw std::bad_alloc();
    ended_ = status == Z_STREAM_END;
    Step step{.consumed = in_before - stream_.avail_in, .produced = out_before - stream_.avail_out,
              .between_streams = ended_};
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) step.error = corrupt_data();
    return step;
  }
};

}  // namespace

template <>
std::unique_ptr<Decoder> decoder_of<Format::Gzip>() { return std::make_unique<GzipDecoder>(); }

}  // namespace quorvel::codec
#endif
