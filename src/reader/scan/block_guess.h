#pragma once
// Where a block starts near a byte offset, guessed from the lengths of the lines there and not
// from counting the lines before them. Value lines are long (ten fields, the last of a block the
// fields left) and a separator line is usually short: one way of laying a block's lines over the
// ones found fits, and gives the guess. A guess is only that: whoever uses it confirms it.

#include <cstdint>
#include <optional>

#include "platform/platform.h"
#include "reader/lines/plot_input.h"
#include "reader/layout/plot_preamble.h"

namespace quorvel {

// A guess reads two blocks' worth of lines after the cut, from at most this many bytes.
inline constexpr std::uint64_t most_guess_bytes = std::uint64_t{8} << 20;

struct GuessScope {
  std::uint64_t from = 0;        // the first line starting at or after this offset is looked at
  std::uint64_t floor = 0;       // a line starts here (the offset of block 0, or of a known block)
  std::uint64_t most_bytes = 0;  // the bytes after `from` the guess may read
};

struct GuessedBlock {
  std::uint64_t offset = 0;  // where it starts
  std::uint64_t bytes = 0;   // its length, lines and their ends
};

// The first block that starts at or after `scope.from`, when exactly one laying of blocks over
// the lines read fits: nothing when several do, none does, or too few lines were read.
std::optional<GuessedBlock> guess_block_start(PlotInput& file, const Preamble& preamble, std::uint64_t width,
                                              const GuessScope& scope);

}  // namespace quorvel
