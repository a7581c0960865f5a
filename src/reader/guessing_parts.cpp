// Parts that start at once. Each later part starts at the block start a guess from the lengths
// of the lines after its cut gives, and fills rows from where the bytes before it put its first
// block, when the blocks there are as long as the one guessed; the rows past its share go on
// aside. The part before confirms the guess where it stops: it reads the blocks that start
// before the cut, so it stops at the first block at or after the cut, where the next part must
// have started. A part whose start was wrong is read again from where the part before stopped,
// and one that met a defect from the block it met it in, in file order, so that every message is
// the whole read's. Then each part's rows move to follow the rows before them, which for blocks
// of one length is no move at all.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "reader/block_guess.h"
#include "reader/parallel_parts.h"
#include "reader/plot_defect.h"
#include "reader/region_parts.h"

namespace quorvel {
namespace {

// A guess reads two blocks' worth of lines after the cut, from at most this many bytes.
constexpr std::uint64_t most_guess_bytes = std::uint64_t{8} << 20;

struct GuessedPart {
  std::uint64_t start = 0;       // where the part started
  std::size_t first_row = 0;     // the rows it fills start here
  std::size_t rows = 0;          // this many (the next part's rows follow), or any number for the last
  std::vector<float> overflow;   // the rows past them
  PartProgress progress;
  bool met_defect = false;
};

}  // namespace

std::optional<RowStore> read_guessing_parts(platform::File& file, const PlotLayout& layout, const Selection& selection,
                                            const Region& region, std::size_t parts, platform::InterruptCheck interrupt) {
  const std::vector<std::uint64_t> cut = cuts_of(region, parts, 1.0);
  std::vector<GuessedPart> guessed(parts);
  guessed[0].start = region.begin;
  std::size_t most_rows = 0;  // every part's blocks, at most
  for (std::size_t k = 0; k < parts; ++k) {
    most_rows += most_blocks(cut[k + 1] - cut[k], layout);
    if (k == 0) continue;
    const std::uint64_t most_bytes = std::min(region.end - cut[k], most_guess_bytes);
    const auto block = guess_block_start(file, layout.preamble, layout.width,
                                         {.from = cut[k], .floor = region.begin, .most_bytes = most_bytes});
    if (!block) return std::nullopt;
    guessed[k].start = block->offset;
    const double blocks_before = std::round(static_cast<double>(block->offset - region.begin) / static_cast<double>(block->bytes));
    guessed[k].first_row = std::max(guessed[k - 1].first_row, static_cast<std::size_t>(std::min(blocks_before, static_cast<double>(most_rows))));
    guessed[k - 1].rows = guessed[k].first_row - guessed[k - 1].first_row;
  }
  guessed[parts - 1].rows = most_blocks(cut[parts] - cut[parts - 1], layout);
  const std::size_t capacity = std::max(most_rows, guessed[parts - 1].first_row + guessed[parts - 1].rows);

  const std::size_t row_length = selection.names.size();
  RowStore store(row_length, capacity);
  const auto plan_of = [&](std::size_t k, std::uint64_t offset, std::uint64_t first_block) {
    PartPlan plan{.offset = offset, .first_block = first_block};
    if (k + 1 < parts) plan.before = cut[k + 1];
    return plan;
  };
  // Part k's rows from its `kept`-th on.
  const auto rows_of = [&](std::size_t k, std::size_t kept) {
    GuessedPart& part = guessed[k];
    const std::size_t inside = std::min(kept, part.rows);
    part.overflow.resize((kept - inside) * row_length);
    return RowWindow(store.data() + (part.first_row + inside) * row_length, row_length, part.rows - inside, part.overflow);
  };

  ParallelParts reading(parts, interrupt);
  reading.run([&](std::size_t k) {
    GuessedPart& part = guessed[k];
    RowWindow rows = rows_of(k, 0);
    // A later part's block numbers are not known yet: a defect it meets is read again, and its
    // message made, once they are.
    const PartPlan plan = plan_of(k, part.start, k == 0 ? region.first_block : 0);
    if (k == 0) return read_part(file, layout, selection, plan, region.end, rows, part.progress, reading.check_for(k));
    try {
      read_part(file, layout, selection, plan, region.end, rows, part.progress, reading.check_for(k));
    } catch (const PlotDefect&) {
      part.met_defect = true;
    }
  });

  // In file order, what a part read is confirmed or read again; then where its rows go is known.
  std::vector<std::size_t> final_row(parts + 1, 0);
  std::uint64_t next_block = region.first_block;
  for (std::size_t k = 0; k < parts; ++k) {
    GuessedPart& part = guessed[k];
    if (k > 0) {
      const std::uint64_t stopped = guessed[k - 1].progress.end;
      const bool confirmed = part.start == stopped;
      if (!confirmed || part.met_defect) {
        const std::uint64_t kept = confirmed ? part.progress.blocks : 0;
        RowWindow rows = rows_of(k, static_cast<std::size_t>(kept));
        const PartPlan plan = plan_of(k, confirmed ? part.progress.block_offset : stopped, next_block + kept);
        read_part(file, layout, selection, plan, region.end, rows, part.progress, interrupt);
        part.progress.blocks += kept;
      }
    }
    next_block += part.progress.blocks;
    final_row[k + 1] = final_row[k] + static_cast<std::size_t>(part.progress.blocks);
  }
  if (final_row[parts] > capacity) defect("the file changed while it was read", layout.preamble.line_before_block(capacity) + 1);

  // A part's rows, moved up or down to where they go, then the rows it put aside.
  const auto place = [&](std::size_t k) {
    GuessedPart& part = guessed[k];
    const std::size_t blocks = final_row[k + 1] - final_row[k];
    const std::size_t inside = std::min(blocks, part.rows);
    float* const to = store.data() + final_row[k] * row_length;
    if (final_row[k] != part.first_row && inside > 0) {
      std::memmove(to, store.data() + part.first_row * row_length, inside * row_length * sizeof(float));
    }
    if (blocks > inside && row_length > 0) std::memcpy(to + inside * row_length, part.overflow.data(), (blocks - inside) * row_length * sizeof(float));
  };
  // Rows that move up go first, the last part first, so that none lands on rows not moved yet;
  // then the others, the first part first.
  for (std::size_t k = parts; k-- > 0;) {
    if (final_row[k] > guessed[k].first_row) place(k);
  }
  for (std::size_t k = 0; k < parts; ++k) {
    if (final_row[k] <= guessed[k].first_row) place(k);
  }
  store.claim_rows(final_row[parts]);
  return store;
}

}  // namespace quorvel
