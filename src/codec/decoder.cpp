#include "codec/decoder.h"

namespace quorvel::codec {

std::expected<std::unique_ptr<Decoder>, IoError> make_decoder(Format format) {
  std::unique_ptr<Decoder> decoder;
  std::string_view missing;
  switch (format) {
    case Format::Gzip: decoder = make_gzip_decoder(), missing = codec_messages::no_gzip; break;
    case Format::Bzip2: decoder = make_bzip2_decoder(), missing = codec_messages::no_bzip2; break;
    case Format::Xz: decoder = make_xz_decoder(), missing = codec_messages::no_xz; break;
    case Format::Zstd: decoder = make_zstd_decoder(), missing = codec_messages::no_zstd; break;
    case Format::Plain: break;
  }
  if (!decoder) return std::unexpected(IoError::simple_message(ErrorKind::Unsupported, missing));
  return decoder;
}

}  // namespace quorvel::codec
