// Parts that start once the lines before their cut are counted: part k (from 1) counts the chunk
// before its cut while the parts before it read, waits for the counts of every chunk before it,
// and starts at the first block that starts at or after its cut.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "failure/caller_error.h"
#include "reader/line_feeds.h"
#include "reader/parallel_parts.h"
#include "reader/plot_defect.h"
#include "reader/region_parts.h"

namespace quorvel {
namespace {

constexpr std::size_t count_buffer_size = std::size_t{1} << 18;

// A part starts parsing only once the line feeds before its cut are counted, while part 0 starts
// at once: so part 0 takes more bytes, as much more as parsing is slower than counting (a count
// runs four to five times as fast as a parse).
constexpr double later_part_share = 0.75;

// The line feeds in [begin, end), and whether the last byte is one.
struct ChunkCount {
  std::uint64_t line_feeds = 0;
  bool ends_line = false;
};

ChunkCount count_chunk(platform::File& file, std::uint64_t begin, std::uint64_t end, platform::InterruptCheck check) {
  ChunkCount count;
  PollingFile source(file, check, begin);
  source.end_at(end);
  auto buffer = std::make_unique_for_overwrite<char[]>(count_buffer_size);
  for (;;) {
    auto got = source.read(std::span<char>(buffer.get(), count_buffer_size));
    if (!got || *got == 0) break;  // the file shrank: the parts find out
    count.line_feeds += count_line_feeds(buffer.get(), *got);
    count.ends_line = buffer[*got - 1] == '\n';
  }
  return count;
}

// The counts of the chunks before each cut, as the parts that need them publish them.
class ChunkCounts {
 public:
  explicit ChunkCounts(std::size_t chunks) : counts_(chunks), ready_(chunks, false) {}

  void publish(std::size_t chunk, ChunkCount count) {
    std::lock_guard lock(mutex_);
    counts_[chunk] = count;
    ready_[chunk] = true;
    changed_.notify_all();
  }

  // The counts of chunks [0, chunks), once all are in; throws CallerError when `check` says stop.
  std::vector<ChunkCount> first(std::size_t chunks, platform::InterruptCheck check) {
    std::unique_lock lock(mutex_);
    while (!std::all_of(ready_.begin(), ready_.begin() + static_cast<std::ptrdiff_t>(chunks), [](bool ready) { return ready; })) {
      changed_.wait_for(lock, std::chrono::milliseconds(20));
      if (check.stop_requested()) throw CallerError{};
    }
    return {counts_.begin(), counts_.begin() + static_cast<std::ptrdiff_t>(chunks)};
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<ChunkCount> counts_;
  std::vector<bool> ready_;
};

// Part k's plan: every part stops before the first block that starts at or after the next cut,
// which the next part starts at.
PartPlan plan_from_cut(platform::File& file, const PlotLayout& layout, const Region& region,
                       const std::vector<std::uint64_t>& cut, std::size_t k, ChunkCounts& counts,
                       platform::InterruptCheck check) {
  const std::uint64_t per_block = layout.preamble.lines_per_block();
  PartPlan plan{.offset = region.begin, .first_block = region.first_block};
  if (k + 1 < cut.size() - 1) plan.before = cut[k + 1];
  if (k == 0) return plan;
  counts.publish(k - 1, count_chunk(file, cut[k - 1], cut[k], check));
  const std::vector<ChunkCount> before = counts.first(k, check);
  std::uint64_t line_feeds = 0;
  bool line_starts = true;  // at the cut
  for (std::size_t j = 0; j < k; ++j) {
    line_feeds += before[j].line_feeds;
    if (cut[j + 1] != cut[j]) line_starts = before[j].ends_line;
  }
  const std::uint64_t first_line = line_starts ? line_feeds : line_feeds + 1;
  const std::uint64_t block = (first_line + per_block - 1) / per_block;
  plan.first_block = region.first_block + block;
  plan.offset = skip_lines(file, cut[k], block * per_block - line_feeds, check);
  return plan;
}

}  // namespace

RowStore read_counting_parts(platform::File& file, const PlotLayout& layout, const Selection& selection,
                             const Region& region, std::size_t parts, platform::InterruptCheck interrupt) {
  const std::vector<std::uint64_t> cut = cuts_of(region, parts, later_part_share);
  const std::size_t row_length = selection.names.size();
  const std::size_t capacity = most_blocks(region.end - region.begin, layout);
  RowStore store(row_length, capacity);
  std::vector<PartPlan> plans(parts);
  std::vector<PartProgress> progress(parts);
  std::vector<std::vector<float>> scratch(parts, std::vector<float>(std::max<std::size_t>(row_length, 1)));
  ChunkCounts counts(parts);
  ParallelParts reading(parts, interrupt);
  reading.run([&](std::size_t k) {
    plans[k] = plan_from_cut(file, layout, region, cut, k, counts, reading.check_for(k));
    const std::uint64_t row = plans[k].first_block - region.first_block;
    const bool inside = row < capacity;
    RowWindow rows(store.data() + (inside ? row : 0) * row_length, row_length,
                   inside ? static_cast<std::size_t>(capacity - row) : 0, scratch[k]);
    read_part(file, layout, selection, plans[k], region.end, rows, progress[k], reading.check_for(k));
  });
  // Each part stops where the next one starts, unless the file changed meanwhile.
  for (std::size_t k = 0; k + 1 < parts; ++k) {
    if (plans[k].first_block + progress[k].blocks != plans[k + 1].first_block) {
      defect("the file changed while it was read", layout.preamble.line_before_block(plans[k + 1].first_block) + 1);
    }
  }
  const std::uint64_t total = plans[parts - 1].first_block + progress[parts - 1].blocks - region.first_block;
  if (total > capacity) defect("the file changed while it was read", layout.preamble.line_before_block(capacity) + 1);
  store.claim_rows(static_cast<std::size_t>(total));
  return store;
}

}  // namespace quorvel
