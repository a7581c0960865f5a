#pragma once
// One compressed format's decoder, behind a common face: bytes in, text out, in steps of any
// size. Members, streams or frames that follow one another in a file are decoded one after the
// other as one text, as the formats' own tools do.

#include <cstddef>
#include <expected>
#include <memory>
#include <optional>
#include <span>

#include "codec/format.h"
#include "platform/io_error.h"

namespace quorvel::codec {

struct Step {
  std::size_t consumed = 0;
  std::size_t produced = 0;
  // Every stream begun has ended: the input may end here.
  bool between_streams = false;
  // A corrupt stream: kind InvalidInput (never InvalidData, which means text that is not UTF-8).
  // The text produced before it was found is still given.
  std::optional<IoError> error{};
};

class Decoder {
 public:
  virtual ~Decoder() = default;
  // Decodes from `in` into `out`; `last` says that no input follows `in`.
  virtual Step decode(std::span<const char> in, std::span<char> out, bool last) = 0;
};

// A fresh decoder, or an error of kind Unsupported when this build has no library for `format`.
std::expected<std::unique_ptr<Decoder>, IoError> make_decoder(Format format);

// The decoders themselves, one file each, defined only where the build has the library.
template <Format F>
std::unique_ptr<Decoder> decoder_of();

namespace codec_messages {
inline constexpr std::string_view corrupt = "the compressed data is corrupt";
inline constexpr std::string_view truncated = "the compressed data ends early: the file is truncated";
inline constexpr std::string_view no_gzip = "gzip files cannot be read: this build of quorvel has no zlib";
inline constexpr std::string_view no_bzip2 = "bzip2 files cannot be read: this build of quorvel has no libbz2";
inline constexpr std::string_view no_xz = "xz files cannot be read: this build of quorvel has no liblzma";
inline constexpr std::string_view no_zstd = "zstd files cannot be read: this build of quorvel has no libzstd";
}  // namespace codec_messages

inline IoError corrupt_data() { return IoError::simple_message(ErrorKind::InvalidInput, codec_messages::corrupt); }

}  // namespace quorvel::codec
