#include "codec/decoded_stream.h"

#include <algorithm>
#include <utility>

namespace quorvel::codec {

std::expected<DecodedStream, IoError> DecodedStream::open(platform::File& file, Format format) {
  auto decoder = make_decoder(format);
  if (!decoder) return std::unexpected(decoder.error());
  return DecodedStream(file, format, std::move(*decoder));
}

DecodedStream::DecodedStream(platform::File& file, Format format, std::unique_ptr<Decoder> decoder)
    : file_(&file), format_(format), decoder_(std::move(decoder)),
      input_(std::make_unique_for_overwrite<char[]>(input_size)) {}

std::expected<void, IoError> DecodedStream::refill() {
  auto got = file_->read_at(raw_offset_, std::span<char>(input_.get(), input_size));
  if (!got) return std::unexpected(got.error());
  raw_offset_ += *got;
  input_at_ = 0;
  input_filled_ = *got;
  input_ended_ = *got == 0;
  return {};
}

std::expected<std::size_t, IoError> DecodedStream::read(std::span<char> into) {
  if (into.empty()) return 0;
  if (failed_) return std::unexpected(*failed_);
  for (;;) {
    if (input_at_ == input_filled_ && !input_ended_) {
      if (auto refilled = refill(); !refilled) return std::unexpected(refilled.error());
    }
    const std::span<const char> in(input_.get() + input_at_, input_filled_ - input_at_);
    Step step = decoder_->decode(in, into, input_ended_);
    input_at_ += step.consumed;
    position_ += step.produced;
    // The text before a corruption is given first, so that the error names the line it reached.
    if (step.error) failed_ = std::move(step.error);
    if (step.produced != 0) return step.produced;
    if (failed_) return std::unexpected(*failed_);
    // Input there and room for text, yet no progress: the decoder cannot go on.
    if (step.consumed == 0 && !in.empty()) return std::unexpected(corrupt_data());
    if (input_ended_ && step.consumed == 0) {
      if (step.between_streams) return 0;
      return std::unexpected(IoError::simple_message(ErrorKind::UnexpectedEof, codec_messages::truncated));
    }
  }
}

std::expected<void, IoError> DecodedStream::skip_to(std::uint64_t offset) {
  if (offset < position_) {
    auto fresh = make_decoder(format_);
    if (!fresh) return std::unexpected(fresh.error());
    decoder_ = std::move(*fresh);
    input_at_ = input_filled_ = 0;
    raw_offset_ = position_ = 0;
    input_ended_ = false;
    failed_.reset();
  }
  char discard[16384];
  while (position_ < offset) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof discard, offset - position_));
    auto got = read(std::span<char>(discard, want));
    if (!got) return std::unexpected(got.error());
    if (*got == 0) break;  // the text ends before the offset: the read there gives nothing
  }
  return {};
}

std::expected<std::size_t, IoError> DecodedStream::read_at(std::uint64_t offset, std::span<char> into) {
  if (offset != position_) {
    if (auto skipped = skip_to(offset); !skipped) return std::unexpected(skipped.error());
    if (position_ != offset) return 0;
  }
  return read(into);
}

}  // namespace quorvel::codec
