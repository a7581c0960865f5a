#pragma once
// A stretch of a plot file that a read takes its blocks from.

#include <cstdint>
#include <optional>

namespace quorvel {

struct Region {
  std::uint64_t begin = 0;  // where block `first_block` starts
  std::uint64_t end = 0;    // where the stretch ends
  std::uint64_t first_block = 0;
  std::optional<std::uint64_t> blocks{};  // nothing: as many as the stretch holds
  // The stretch ends with the file: a block the file ends inside is read too (and is a defect).
  bool to_end = false;
};

}  // namespace quorvel
