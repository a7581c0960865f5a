// bzip2 through libbz2, stream after stream (as a concatenation of files gives them).

#include "codec/decoder.h"

#if QUORVEL_HAVE_BZIP2
#include <bzlib.h>

#include <algorithm>
#include <climits>
#include <new>

namespace quorvel::codec {
namespace {

// One stream's decompression state; a new one for each stream of the file.
class Bzip2Stream {
 public:
  Bzip2Stream() {
    if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) throw std::bad_alloc();
  }
  Bzip2Stream(const Bzip2Stream&) = delete;
  Bzip2Stream& operator=(const Bzip2Stream&) = delete;
  ~Bzip2Stream() { BZ2_bzDecompressEnd(&stream_); }
  bz_stream& get() noexcept { return stream_; }

 private:
  bz_stream stream_{};
};

class Bzip2Decoder final : public Decoder {
 public:
  Bzip2Decoder() : stream_(std::make_unique<Bzip2Stream>()) {}

  Step decode(std::span<const char> in, std::span<char> out, bool) override {
    if (ended_ && !in.empty()) {
      stream_ = std::make_unique<Bzip2Stream>();
      ended_ = false;
    }
    if (ended_) return Step{.between_streams = true};
    bz_stream& stream = stream_->get();
    stream.next_in = const_cast<char*>(in.data());
    stream.avail_in = static_cast<unsigned>(std::min<std::size_t>(in.size(), UINT_MAX));
    stream.next_out = out.data();
    stream.avail_out = static_cast<unsigned>(std::min<std::size_t>(out.size(), UINT_MAX));
    const unsigned in_before = stream.avail_in;
    const unsigned out_before = stream.avail_out;
    const int status = BZ2_bzDecompress(&stream);
    if (status == BZ_MEM_ERROR) throw std::bad_alloc();
    ended_ = status == BZ_STREAM_END;
    Step step{.consumed = in_before - stream.avail_in, .produced = out_before - stream.avail_out,
              .between_streams = ended_};
    if (status != BZ_OK && status != BZ_STREAM_END) step.error = corrupt_data();
    return step;
  }

 private:
  std::unique_ptr<Bzip2Stream> stream_;
  bool ended_ = false;
};

}  // namespace

template <>
std::unique_ptr<Decoder> decoder_of<Format::Bzip2>() { return std::make_unique<Bzip2Decoder>(); }

}  // namespace quorvel::codec
#endif
