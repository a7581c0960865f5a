#include "reader/scan/plot_scan.h"

#include <algorithm>
#include <string>

#include "reader/layout/plot_defect.h"
#include "reader/layout/width_fit.h"
#include "reader/scan/chunk_count.h"
#include "reader/scan/parallel_count.h"
#include "reader/scan/parallel_parts.h"

namespace quorvel {
namespace {

// The first lines of the data: the width, found from block 0's first value line, or given and
// with `check_width` checked against it as a read checks it. Gives the lines read past `data_start` (0 to 2).
std::uint64_t find_width(ArrayLineReader& lines, CurrentLine& line, PlotLayout& layout,
                         const ScanOptions& options) {
  if (options.n_digits) {
    layout.width = *options.n_digits;
    layout.width_given = true;
    if (!options.check_width) return 0;
  }
  const std::uint64_t separator = layout.preamble.line_before_block(0) + 1;
  if (!skip_numbered_line(lines, separator)) return 0;
  if (!read_numbered_line(lines, line, separator + 1)) return 1;
  const std::uint64_t fields = std::min(fields_per_line, layout.preamble.parameters);
  if (options.n_digits) {
    check_first_line_fits(line.text, layout.width, fields, separator + 1);
  } else {
    layout.width = width_of(line.text, layout.preamble.parameters, separator + 1);
  }
  return 2;
}

// Whether a whole file counted from its start goes on several threads, and on how many.
std::size_t parts_to_count(PlotInput& file, ArrayLineReader& lines, const ScanOptions& options) {
  if (options.threads <= 1 || options.count_from || options.enough_blocks || options.end) return 1;
  const std::optional<std::uint64_t> size = file.size_hint();
  const std::uint64_t from = lines.source().position();
  if (!size || *size <= from) return 1;
  return parts_for(*size - from, options.least_part_bytes, options.threads);
}

// What a count found, into `layout`; a read that failed is a defect at the line after the lines counted.
void settle(PlotLayout& layout, const BlockCounter& counter, const std::optional<IoError>& failed) {
  const std::uint64_t per_block = layout.preamble.lines_per_block();
  const std::uint64_t first = counter.index().blocks.front();
  if (failed) line_unreadable(*failed, layout.preamble.line_before_block(first) + counter.lines() + 1);
  const std::uint64_t counted = layout.counted_to_end ? counter.lines() : counter.line_feeds();
  layout.blocks = first + counted / per_block;
  layout.tail_lines = layout.counted_to_end ? counted % per_block : 0;
  layout.size = counter.offset();
  layout.index = counter.index();
}

// Counts from the line reader's unread bytes on, or from `count_from` with reads of its own.
// `first_line`: block 0's first value line, when it was read (`lines_read` 2).
void count_blocks(PlotInput& file, ArrayLineReader& lines, PlotLayout& layout, std::uint64_t lines_read,
                  std::string_view first_line, const ScanOptions& options) {
  const std::uint64_t per_block = layout.preamble.lines_per_block();
  std::optional<FileSource> own_source;
  std::optional<BlockCounter> counter;
  if (options.count_from) {
    own_source.emplace(file, options.interrupt, options.count_from->offset);
    if (options.end) own_source->end_at(*options.end);
    counter.emplace(per_block, options.count_from->block, options.count_from->offset, options.count_from->offset, 0);
  } else {
    const std::string_view unread = lines.unread();
    counter.emplace(per_block, 0, layout.data_start, lines.source().position() - unread.size(), lines_read);
    if (options.first_values && layout.width != 0) {
      counter->keep_first_values(layout.width);
      if (lines_read == 2) counter->first_value_line(first_line);
    }
    counter->feed(unread.data(), unread.size());
  }
  FileSource& source = own_source ? *own_source : lines.source();
  const std::uint64_t first = counter->index().blocks.front();
  std::optional<std::uint64_t> enough_line_feeds;
  if (options.enough_blocks) enough_line_feeds = (*options.enough_blocks > first ? *options.enough_blocks - first : 0) * per_block;

  layout.counted_to_end = true;
  const std::size_t parts = parts_to_count(file, lines, options);
  PartsCounted split = PartsCounted::not_split;
  if (parts > 1) {
    split = count_in_parts(file, *counter,
                           {.preamble = &layout.preamble, .width = layout.width, .data_start = layout.data_start,
                            .from = source.position(), .end = *file.size_hint(), .parts = parts, .interrupt = options.interrupt});
  }
  if (split == PartsCounted::wrong) {
    // Counted again on one thread, from block 0, so that a read that fails names its line.
    count_from_start(file, layout, std::nullopt, options.interrupt);
    return;
  }
  std::optional<IoError> failed;
  if (split == PartsCounted::not_split) {
    failed = count_chunks(source, *counter, enough_line_feeds);
    if (enough_line_feeds) layout.counted_to_end = counter->line_feeds() < *enough_line_feeds;
  }
  settle(layout, *counter, failed);
  if (options.first_values && !options.count_from) layout.first_values = counter->first_values(layout.blocks);
}

}  // namespace

std::optional<PlotLayout> scan_plot(PlotInput& file, const ScanOptions& options) {
  const bool seekable = file.seekable();
  ArrayLineReader lines(FileSource(file, options.interrupt, seekable ? std::optional<std::uint64_t>(0) : std::nullopt));
  if (options.end) lines.source().end_at(*options.end);
  CurrentLine line;
  PlotLayout layout;
  std::optional<Preamble> preamble = read_preamble(lines, line, options.end.has_value());
  if (!preamble) return std::nullopt;
  layout.preamble = std::move(*preamble);
  if (options.columns != nullptr) layout.selection = select_columns(*options.columns, layout.preamble.names);
  layout.data_start = lines.source().position() - lines.unread().size();
  const std::uint64_t lines_read = find_width(lines, line, layout, options);
  if (options.end && layout.width == 0) return std::nullopt;
  if (options.count) count_blocks(file, lines, layout, lines_read, line.text, options);
  return layout;
}

void count_from_start(PlotInput& file, PlotLayout& layout, std::optional<std::uint64_t> end,
                      platform::InterruptCheck interrupt) {
  BlockCounter counter(layout.preamble.lines_per_block(), 0, layout.data_start, layout.data_start, 0);
  FileSource source(file, interrupt, layout.data_start);
  if (end) source.end_at(*end);
  layout.counted_to_end = true;
  settle(layout, counter, count_chunks(source, counter));
}

void tail_defect(const PlotLayout& layout) {
  defect("the file ends inside block " + std::to_string(layout.blocks + 1) + ": a value line is missing",
         layout.preamble.line_before_block(layout.blocks) + layout.tail_lines + 1);
}

}  // namespace quorvel
