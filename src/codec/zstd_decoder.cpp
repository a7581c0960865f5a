// zstd through libzstd's streaming decoder, which goes on from one frame to the next itself.

#include "codec/decoder.h"

#if QUORVEL_HAVE_ZSTD
#include <zstd.h>

#include <new>

namespace quorvel::codec {
namespace {

struct ContextRelease {
  void operator()(ZSTD_DCtx* context) const noexcept { ZSTD_freeDCtx(context); }
};

class ZstdDecoder final : public Decoder {
  std::unique_ptr<ZSTD_DCtx, ContextRelease> context_;
  bool between_ = false;  // the last frame ended and was given out whole

 public:
  ZstdDecoder() : context_(ZSTD_createDCtx()) {
    if (!context_) throw std::bad_alloc();
  }

  Step decode(std::span<const char> in, std::span<char> out, bool) override {
    ZSTD_inBuffer input{in.data(), in.size(), 0};
    ZSTD_outBuffer output{out.data(), out.size(), 0};
    const std::size_t hint = ZSTD_decompressStream(context_.get(), &output, &input);
    if (ZSTD_isError(hint)) {
      if (ZSTD_getErrorCode(hint) == ZSTD_error_memory_allocation) throw std::bad_alloc();
      return Step{.consumed = input.pos, .produced = output.pos, .error = corrupt_data()};
    }
    // 0: a frame ended and all of it was given out.
    between_ = hint == 0 || (between_ && input.pos == 0 && output.pos == 0);
    return Step{.consumed = input.pos, .produced = output.pos, .between_streams = between_};
  }
};

}  // namespace

template <>
std::unique_ptr<Decoder> decoder_of<Format::Zstd>() { return std::make_unique<ZstdDecoder>(); }

}  // namespace quorvel::codec
#endif
