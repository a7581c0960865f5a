#pragma once
// The open plot file as the array reader reads it: the file itself, or, for a compressed file,
// its decoded text. A plain file goes straight to the file, as if this were not here.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>

#include "codec/decode_ahead.h"
#include "codec/decoded_stream.h"
#include "platform/platform.h"

namespace quorvel {

class PlotInput {
 public:
  explicit PlotInput(platform::File file) noexcept : file_(std::move(file)) {}
  // The decoder points into this object.
  PlotInput(const PlotInput&) = delete;
  PlotInput& operator=(const PlotInput&) = delete;

  // Reads the file's first bytes (positionally: its position stays) and decodes what follows
  // when they name a compressed format. A file that cannot seek (a pipe) is taken as it is.
  std::expected<void, IoError> recognise();

  // Sequential reads of a compressed file decode on a thread of their own from here on.
  void decode_ahead();

  [[gnu::always_inline]] std::expected<std::size_t, IoError> read(std::span<char> into) {
    if (!decoded_) [[likely]] return file_.read(into);
    return read_decoded(into);
  }
  [[gnu::always_inline]] std::expected<std::size_t, IoError> read_at(std::uint64_t offset, std::span<char> into) {
    if (!decoded_) [[likely]] return file_.read_at(offset, into);
    return read_decoded_at(offset, into);
  }

  // A compressed file is read positionally (by decoding) though its text has no known size.
  bool compressed() const noexcept { return decoded_.has_value(); }
  bool seekable() const noexcept { return compressed() || file_.size_hint().has_value(); }
  // Of the file itself; nothing for a compressed one (its text's size is not known beforehand).
  std::optional<std::uint64_t> size_hint() const noexcept {
    return compressed() ? std::nullopt : file_.size_hint();
  }
  std::optional<platform::FileIdentity> identity() const noexcept { return file_.identity(); }

 private:
  std::expected<std::size_t, IoError> read_decoded(std::span<char> into);
  std::expected<std::size_t, IoError> read_decoded_at(std::uint64_t offset, std::span<char> into);

  platform::File file_;
  std::optional<codec::DecodedStream> decoded_;
  std::unique_ptr<codec::DecodeAhead> ahead_;  // when sequential reads decode ahead
};

}  // namespace quorvel
