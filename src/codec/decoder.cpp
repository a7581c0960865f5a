#include "codec/decoder.h"

namespace quorvel::codec {
namespace {

// CMake defines each as 1 or 0, whether it found the library or not.
constexpr bool built(Format format) {
  switch (format) {
    case Format::Gzip: return QUORVEL_HAVE_ZLIB;
    case Format::Bzip2: return QUORVEL_HAVE_BZIP2;
    case Format::Xz: return QUORVEL_HAVE_LZMA;
    case Format::Zstd: return QUORVEL_HAVE_ZSTD;
    case Format::Plain: break;
  }
  return false;
}

// Names a format's decoder only where it was built, so that a build without it still links.
template <Format F>
std::unique_ptr<Decoder> decoder_if_built() {
  if constexpr (built(F)) {
    return decoder_of<F>();
  } else {
    return nullptr;
  }
}

}  // namespace

std::expected<std::unique_ptr<Decoder>, IoError> make_decoder(Format format) {
  std::unique_ptr<Decoder> decoder;
  std::string_view missing;
  switch (format) {
    case Format::Gzip: decoder = decoder_if_built<Format::Gzip>(), missing = codec_messages::no_gzip; break;
    case Format::Bzip2: decoder = decoder_if_built<Format::Bzip2>(), missing = codec_messages::no_bzip2; break;
    case Format::Xz: decoder = decoder_if_built<Format::Xz>(), missing = codec_messages::no_xz; break;
    case Format::Zstd: decoder = decoder_if_built<Format::Zstd>(), missing = codec_messages::no_zstd; break;
    case Format::Plain: break;
  }
  if (!decoder) return std::unexpected(IoError::simple_message(ErrorKind::Unsupported, missing));
  return decoder;
}

}  // namespace quorvel::codec
