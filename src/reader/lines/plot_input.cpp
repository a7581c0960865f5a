#include "reader/lines/plot_input.h"

#include <array>

namespace quorvel {

std::expected<void, IoError> PlotInput::recognise() {
  std::array<char, codec::magic_bytes> first{};
  std::size_t got = 0;
  while (got < first.size()) {
    auto read = file_.read_at(got, std::span<char>(first).subspan(got));
    if (!read || *read == 0) break;
    got += *read;
  }
  const codec::Format format = codec::recognise(std::span<const char>(first.data(), got));
  if (format == codec::Format::Plain) return {};
  auto stream = codec::DecodedStream::open(file_, format);
  if (!stream) return std::unexpected(stream.error());
  decoded_.emplace(std::move(*stream));
  return {};
}

void PlotInput::decode_ahead() {
  if (decoded_ && !ahead_) ahead_ = std::make_unique<codec::DecodeAhead>(std::move(*decoded_));
}

std::expected<std::size_t, IoError> PlotInput::read_decoded(std::span<char> into) {
  if (ahead_) return ahead_->read(into);
  return decoded_->read(into);
}

std::expected<std::size_t, IoError> PlotInput::read_decoded_at(std::uint64_t offset, std::span<char> into) {
  // Reads ahead are sequential only; the one-pass read that asks for them never reads elsewhere.
  if (ahead_) return std::unexpected(IoError::simple_message(ErrorKind::NotSeekable, "decoding ahead reads in order"));
  return decoded_->read_at(offset, into);
}

}  // namespace quorvel
