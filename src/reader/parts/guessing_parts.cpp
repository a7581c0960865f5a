// Parts that start at once. Each later part starts at the block start a guess from the lengths
// of the lines after its cut gives, and fills rows from where the bytes before it put its first
// block, when the blocks there are as long as the one guessed; the rows past its share go on
// aside. The part before confirms the guess where it stops: it reads the blocks that start
// before the cut, so it stops at the first block at or after the cut, where the next part must
// have started. A part whose start was wrong is read again from where the part before stopped,
// and one that met a defect from the block it met it in, in file order, so that every message is
// the whole read's. Then each part's rows move to follow the rows before them, which for blocks
// of one length is no move at all.

#include "reader/parts/guessing_parts.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "reader/layout/plot_defect.h"
#include "reader/parts/part_reader.h"
#include "reader/scan/block_guess.h"
#include "reader/scan/parallel_parts.h"

namespace quorvel {
namespace {

struct GuessedPart {
  std::uint64_t start = 0;       // where the part started
  std::size_t first_row = 0;     // the rows it fills start here
  std::size_t rows = 0;          // this many (the next part's rows follow), or any number for the last
  std::vector<float> overflow;   // the rows past them
  PartProgress progress;
  bool met_defect = false;
};

class GuessingRead {
 public:
  GuessingRead(PlotInput& file, const PlotLayout& layout, const Selection& selection, const Region& region,
               std::size_t parts, platform::InterruptCheck interrupt)
      : file_(file), layout_(layout), selection_(selection), region_(region), parts_(parts), interrupt_(interrupt),
        cut_(cuts_of(region, parts)), guessed_(parts), row_length_(selection.names.size()) {}

  // Where every later part starts, and where its rows go; false when a cut has no block start
  // that can be guessed.
  bool guess_starts() {
    guessed_[0].start = region_.begin;
    std::size_t most_rows = 0;  // every part's blocks, at most
    for (std::size_t k = 0; k < parts_; ++k) {
      most_rows += most_blocks(cut_[k + 1] - cut_[k], layout_);
      if (k == 0) continue;
      const std::uint64_t most_bytes = std::min(region_.end - cut_[k], most_guess_bytes);
      const auto block = guess_block_start(file_, layout_.preamble, layout_.width,
                                           {.from = cut_[k], .floor = region_.begin, .most_bytes = most_bytes});
      if (!block) return false;
      GuessedPart& part = guessed_[k];
      part.start = block->offset;
      const double blocks_before = std::round(static_cast<double>(block->offset - region_.begin) / static_cast<double>(block->bytes));
      part.first_row = std::max(guessed_[k - 1].first_row, static_cast<std::size_t>(std::min(blocks_before, static_cast<double>(most_rows))));
      guessed_[k - 1].rows = part.first_row - guessed_[k - 1].first_row;
    }
    GuessedPart& last = guessed_[parts_ - 1];
    last.rows = most_blocks(cut_[parts_] - cut_[parts_ - 1], layout_);
    capacity_ = std::max(most_rows, last.first_row + last.rows);
    store_ = RowStore(row_length_, capacity_);
    return true;
  }

  // Every part at once. A later part's block numbers are not known yet: a defect it meets is
  // read again, and its message made, once they are.
  void read_parts() {
    ParallelParts reading(parts_, interrupt_);
    reading.run([&](std::size_t k) {
      GuessedPart& part = guessed_[k];
      RowWindow rows = rows_of(k, 0);
      const PartPlan plan = plan_of(k, part.start, k == 0 ? region_.first_block : 0);
      if (k == 0) return read_part(file_, layout_, selection_, plan, region_.end, rows, part.progress, reading.check_for(k));
      try {
        read_part(file_, layout_, selection_, plan, region_.end, rows, part.progress, reading.check_for(k));
      } catch (const PlotDefect&) {
        part.met_defect = true;
      }
    });
  }

  // In file order, what a part read is confirmed or read again; then where its rows go is known.
  void confirm() {
    final_row_.assign(parts_ + 1, 0);
    std::uint64_t next_block = region_.first_block;
    for (std::size_t k = 0; k < parts_; ++k) {
      GuessedPart& part = guessed_[k];
      if (k > 0) {
        const std::uint64_t stopped = guessed_[k - 1].progress.end;
        const bool confirmed = part.start == stopped;
        if (!confirmed || part.met_defect) {
          const std::uint64_t kept = confirmed ? part.progress.blocks : 0;
          RowWindow rows = rows_of(k, static_cast<std::size_t>(kept));
          const PartPlan plan = plan_of(k, confirmed ? part.progress.block_offset : stopped, next_block + kept);
          read_part(file_, layout_, selection_, plan, region_.end, rows, part.progress, interrupt_);
          part.progress.blocks += kept;
        }
      }
      next_block += part.progress.blocks;
      final_row_[k + 1] = final_row_[k] + static_cast<std::size_t>(part.progress.blocks);
    }
    if (final_row_[parts_] > capacity_) {
      defect("the file changed while it was read", layout_.preamble.line_before_block(capacity_) + 1);
    }
  }

  // Every part's rows where they go. Rows that move up go first, the last part first, so that
  // none lands on rows not moved yet; then the others, the first part first.
  RowStore place_rows() {
    for (std::size_t k = parts_; k-- > 0;) {
      if (final_row_[k] > guessed_[k].first_row) place(k);
    }
    for (std::size_t k = 0; k < parts_; ++k) {
      if (final_row_[k] <= guessed_[k].first_row) place(k);
    }
    store_.claim_rows(final_row_[parts_]);
    return std::move(store_);
  }

 private:
  PartPlan plan_of(std::size_t k, std::uint64_t offset, std::uint64_t first_block) const {
    PartPlan plan{.offset = offset, .first_block = first_block};
    if (k + 1 < parts_) plan.before = cut_[k + 1];
    return plan;
  }

  // Part k's rows from its `kept`-th on.
  RowWindow rows_of(std::size_t k, std::size_t kept) {
    GuessedPart& part = guessed_[k];
    const std::size_t inside = std::min(kept, part.rows);
    part.overflow.resize((kept - inside) * row_length_);
    return RowWindow(store_.data() + (part.first_row + inside) * row_length_, row_length_, part.rows - inside, part.overflow);
  }

  // A part's rows, moved up or down to where they go, then the rows it put aside.
  void place(std::size_t k) {
    GuessedPart& part = guessed_[k];
    const std::size_t blocks = final_row_[k + 1] - final_row_[k];
    const std::size_t inside = std::min(blocks, part.rows);
    float* const to = store_.data() + final_row_[k] * row_length_;
    if (final_row_[k] != part.first_row && inside > 0) {
      std::memmove(to, store_.data() + part.first_row * row_length_, inside * row_length_ * sizeof(float));
    }
    if (blocks > inside && row_length_ > 0) {
      std::memcpy(to + inside * row_length_, part.overflow.data(), (blocks - inside) * row_length_ * sizeof(float));
    }
  }

  PlotInput& file_;
  const PlotLayout& layout_;
  const Selection& selection_;
  const Region& region_;
  const std::size_t parts_;
  const platform::InterruptCheck interrupt_;
  const std::vector<std::uint64_t> cut_;
  std::vector<GuessedPart> guessed_;
  const std::size_t row_length_;
  std::size_t capacity_ = 0;
  RowStore store_;
  std::vector<std::size_t> final_row_;
};

}  // namespace

std::optional<RowStore> read_guessing_parts(PlotInput& file, const PlotLayout& layout, const Selection& selection,
                                            const Region& region, std::size_t parts, platform::InterruptCheck interrupt) {
  GuessingRead read(file, layout, selection, region, parts, interrupt);
  if (!read.guess_starts()) return std::nullopt;
  read.read_parts();
  read.confirm();
  return read.place_rows();
}

}  // namespace quorvel
