#pragma once
// Whether text given in pieces is well-formed UTF-8, without holding more than the few bytes of
// a character cut between two pieces: a line of any length can be checked as it streams past.

#include <cstddef>
#include <string_view>

namespace quorvel {

class Utf8Stream {
 public:
  void feed(std::string_view piece) noexcept;

  // The text fed so far is well-formed and ends on a character boundary.
  bool well_formed() const noexcept { return !ill_formed_ && held_ == 0; }

 private:
  char held_bytes_[4] = {};  // the start of a character the last piece cut
  std::size_t held_ = 0;
  bool ill_formed_ = false;
};

}  // namespace quorvel
