// xz through liblzma, which decodes concatenated streams (and their padding) itself.

#include "codec/decoder.h"

#if QUORVEL_HAVE_LZMA
#include <lzma.h>

#include <cstdint>
#include <new>

namespace quorvel::codec {
namespace {

class XzDecoder final : public Decoder {
  lzma_stream stream_ = LZMA_STREAM_INIT;
  bool ended_ = false;  // only at the input's end: liblzma goes on to the next stream itself

 public:
  XzDecoder() {
    if (lzma_stream_decoder(&stream_, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) throw std::bad_alloc();
  }
  XzDecoder(const XzDecoder&) = delete;
  XzDecoder& operator=(const XzDecoder&) = delete;
  ~XzDecoder() override { lzma_end(&stream_); }

  Step decode(std::span<const char> in, std::span<char> out, bool last) override {
    if (ended_) return Step{.between_streams = true};
    stream_.next_in = reinterpret_cast<const std::uint8_t*>(in.data());
    stream_.avail_in = in.size();
    stream_.next_out = reinterpret_cast<std::uint8_t*>(out.data());
    stream_.avail_out = out.size();
    // Only told to finish with the input's last bytes: the decoder then knows no stream follows.
    const lzma_ret status = lzma_code(&stream_, last ? LZMA_FINISH : LZMA_RUN);
    if (status == LZMA_MEM_ERROR) throw std::bad_alloc();
    ended_ = status == LZMA_STREAM_END;
    const bool failed = status != LZMA_OK && !ended_ && status != LZMA_BUF_ERROR;
    return Step{.consumed = in.size() - stream_.avail_in, .produced = out.size() - stream_.avail_out,
                .between_streams = ended_, .error = failed ? std::optional(corrupt_data()) : std::nullopt};
  }
};

}  // namespace

template <>
std::unique_ptr<Decoder> decoder_of<Format::Xz>() { return std::make_unique<XzDecoder>(); }

}  // namespace quorvel::codec
#endif
