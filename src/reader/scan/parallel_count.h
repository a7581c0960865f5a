#pragma once
// A file's blocks counted on several threads. The bytes left are cut into parts; each later part
// counts from a block start guessed after its cut, as a parallel read's later parts start, and
// the count before it confirms the guess when it ends on a block boundary exactly there.

#include <cstddef>
#include <cstdint>

#include <optional>

#include "platform/platform.h"
#include "reader/lines/plot_input.h"
#include "reader/layout/plot_preamble.h"
#include "reader/scan/block_counter.h"

namespace quorvel {

struct CountInParts {
  const Preamble* preamble = nullptr;
  std::uint64_t width = 0;
  std::uint64_t data_start = 0;  // where block 0 starts
  std::uint64_t from = 0;        // `counter` has counted the bytes before
  std::uint64_t end = 0;         // the file's size when the count began
  std::size_t parts = 1;
  platform::InterruptCheck interrupt{};
};

enum class PartsCounted {
  not_split,  // a cut had no block start to guess: nothing was counted
  counted,    // `counter` holds the count to the end of the file
  wrong,      // a guess was wrong, or a part could not read: count again from the start
};

PartsCounted count_in_parts(PlotInput& file, BlockCounter& counter, const CountInParts& scope);

}  // namespace quorvel
