#include "text/utf8_stream.h"

#include <algorithm>

#include "text/utf8.h"

namespace quorvel {

void Utf8Stream::feed(std::string_view piece) noexcept {
  if (ill_formed_) return;
  if (held_ != 0) {
    // The held bytes start a sequence (they were cut after its lead): complete it first.
    const std::size_t length = sequence_length_of_lead(static_cast<unsigned char>(held_bytes_[0]));
    const std::size_t taken = std::min(length - held_, piece.size());
    piece.copy(held_bytes_ + held_, taken);
    held_ += taken;
    piece.remove_prefix(taken);
    if (held_ < length) return;
    held_ = 0;
    if (!is_valid_utf8(std::string_view(held_bytes_, length))) {
      ill_formed_ = true;
      return;
    }
  }
  const std::size_t valid = valid_utf8_prefix(piece);
  if (valid == piece.size()) return;
  // Either an ill-formed sequence, or one the piece ends inside: only the latter may go on.
  const std::size_t rest = piece.size() - valid;
  const std::size_t length = sequence_length_of_lead(static_cast<unsigned char>(piece[valid]));
  if (length == 0 || rest >= length) {
    ill_formed_ = true;
    return;
  }
  held_ = piece.copy(held_bytes_, rest, valid);
}

}  // namespace quorvel
