#pragma once
// A compressed file read as its text: through bounded buffers, never whole. Sequential reads
// decode as they go; a read at an offset ahead decodes and discards up to it, one behind starts
// again from the file's first byte (the formats have no index to seek with).

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>

#include "codec/decoder.h"
#include "platform/platform.h"

namespace quorvel::codec {

class DecodedStream {
 public:
  // Reads `file`, which outlives this stream, with positional reads: its own position is never moved.
  static std::expected<DecodedStream, IoError> open(platform::File& file, Format format);

  // The next bytes of the text; 0 at its end. A corrupt stream, or one the file ends inside, gives
  // an error of kind InvalidInput or UnexpectedEof; a failing read, its OS error.
  std::expected<std::size_t, IoError> read(std::span<char> into);
  // The text from byte `offset` on.
  std::expected<std::size_t, IoError> read_at(std::uint64_t offset, std::span<char> into);

  std::uint64_t position() const noexcept { return position_; }
  Format format() const noexcept { return format_; }

 private:
  DecodedStream(platform::File& file, Format format, std::unique_ptr<Decoder> decoder);
  std::expected<void, IoError> refill();
  std::expected<void, IoError> skip_to(std::uint64_t offset);

  static constexpr std::size_t input_size = std::size_t{1} << 18;
  platform::File* file_;
  Format format_;
  std::unique_ptr<Decoder> decoder_;
  std::unique_ptr<char[]> input_;
  std::size_t input_at_ = 0;
  std::size_t input_filled_ = 0;
  std::uint64_t raw_offset_ = 0;  // of the next compressed byte to read
  bool input_ended_ = false;
  std::optional<IoError> failed_;  // met after the text given last
  std::uint64_t position_ = 0;  // in the text
};

}  // namespace quorvel::codec
