#include "reader/readers/array_reader.h"

#include <algorithm>
#include <string>
#include <utility>

#include "failure/caller_error.h"
#include "reader/layout/block_loop.h"
#include "reader/layout/plot_preamble.h"
#include "reader/parts/region_reader.h"
#include "reader/scan/block_seek.h"
#include "reader/scan/parallel_parts.h"
#include "reader/targets/row_target.h"

namespace quorvel {
namespace {

// A count goes several times as fast as a parse: its parts are larger than a read's.
std::uint64_t least_count_part_bytes(std::uint64_t least_read_part_bytes) {
  constexpr std::uint64_t factor = 64;
  return least_read_part_bytes > UINT64_MAX / factor ? UINT64_MAX : least_read_part_bytes * factor;
}

// The blocks into rows; gives the width read with (0 when it was to be found and no block came).
template <bool Everything>
std::uint64_t read_rows(ArrayLineReader& lines, CurrentLine& line, const ArrayRequest& request, std::uint64_t count,
                        const Selection& selection, RowStore& store) {
  RowTarget<Everything, RowStore> target(selection, store, count + 1, 0, request.interrupt, count,
                                         request.n_digits.value_or(0));
  std::uint64_t width = request.n_digits.value_or(0);
  if (!request.n_digits && target.next_block(lines)) {
    target.read_value_line(lines, line);
    width = width_of(line.text, count, target.line_number());
    target.hold_first_line();
    read_block_values(lines, line, width, count, target);
    target.finish_block();
  }
  while (target.next_block(lines)) {
    read_block_values(lines, line, width, count, target);
    target.finish_block();
  }
  return width;
}

platform::File open_plot(std::string_view path, platform::InterruptCheck interrupt) {
  auto file = platform::File::open_for_reading(path, interrupt);
  if (!file) {
    if (file.error().kind() == ErrorKind::Interrupted) throw CallerError{};
    throw OpenError{file.error()};
  }
  return std::move(*file);
}

// A compressed file is read through its decoder; one this build cannot decode fails as an open.
void recognise_plot(PlotInput& input) {
  if (auto recognised = input.recognise(); !recognised) throw OpenError{recognised.error()};
}

// Every block, in one pass from where the file stands.
ArrayRead read_in_one_pass(PlotInput& file, const ArrayRequest& request) {
  const std::optional<std::uint64_t> file_size = file.size_hint();
  ArrayLineReader lines(FileSource(file, request.interrupt));
  CurrentLine line;

  ArrayRead result;
  Preamble preamble = *read_preamble(lines, line);
  result.header = std::move(preamble.header);
  const std::uint64_t count = preamble.parameters;
  Selection selection = select_columns(request.columns, std::move(preamble.names));

  // A field takes at least its width in bytes (one, when the width is still to be found).
  const std::uint64_t least_width = std::max<std::uint64_t>(request.n_digits.value_or(1), 1);
  const std::uint64_t most_rows = file_size ? *file_size / least_width / count + 1 : 0;
  RowStore store(selection.names.size(), static_cast<std::size_t>(std::min<std::uint64_t>(most_rows, most_sized_rows)));
  const std::uint64_t width = selection.everything
                                  ? read_rows<true>(lines, line, request, count, selection, store)
                                  : read_rows<false>(lines, line, request, count, selection, store);

  result.values = std::move(store);
  result.names = std::move(selection.names);
  result.n_digits = width;
  return result;
}

// The file is shorter than where an earlier read of it stopped.
[[noreturn]] void shrank(std::uint64_t size, BlockStart reached) {
  defect("the file shrank to " + grouped(size) + " bytes while it was followed: block " + std::to_string(reached.block + 1) +
             " was to start at byte " + grouped(reached.offset),
         reached.line + 1);
}

// A bound of a slice of step 1 over `total` items, as an index in [0, total].
std::uint64_t slice_bound(std::optional<std::int64_t> bound, std::uint64_t total, std::uint64_t absent) {
  if (!bound) return absent;
  if (*bound < 0) {
    const std::uint64_t back = static_cast<std::uint64_t>(-(*bound + 1)) + 1;
    return back >= total ? 0 : total - back;
  }
  return std::min(static_cast<std::uint64_t>(*bound), total);
}

ArrayRead result_of(PlotLayout& layout, RowStore&& store, std::uint64_t first_block) {
  ArrayRead result;
  result.first_block = first_block;
  result.header = std::move(layout.preamble.header);
  result.names = std::move(layout.selection->names);
  result.values = std::move(store);
  result.n_digits = layout.width;
  return result;
}

// Both ends of a range from 0 given by earlier reads: the range's start and its stop's start.
bool ends_given(const ArrayRequest& request, const BlockRange& range) {
  return request.count_from && request.count_to && range.start && range.stop &&
         request.count_from->block == static_cast<std::uint64_t>(*range.start) &&
         request.count_to->block == static_cast<std::uint64_t>(*range.stop) &&
         request.count_to->offset >= request.count_from->offset;
}

// The stretch to read, from the count: the range's blocks, or the whole file.
Region counted_region(PlotInput& file, const PlotLayout& layout, const ArrayRequest& request) {
  Region region{.begin = layout.data_start, .first_block = 0, .to_end = true};
  if (!request.blocks) {
    region.end = file.size_hint().value_or(layout.data_start);
    return region;
  }
  const std::uint64_t total = layout.blocks;
  const std::uint64_t start = slice_bound(request.blocks->start, total, 0);
  const std::uint64_t stop = std::max(start, slice_bound(request.blocks->stop, total, total));
  region.first_block = start;
  region.blocks = stop - start;
  region.to_end = !request.follow && layout.counted_to_end && stop == total;
  region.begin = block_offset(file, layout, start, request.interrupt);
  region.end = region.to_end ? layout.size : block_offset(file, layout, stop, request.interrupt);
  return region;
}

// The blocks of a range, or every block in parts: the file's stretch is found first (counted, for
// a range), then read.
ArrayRead read_stretch(PlotInput& file, const ArrayRequest& request) {
  if (!file.seekable()) {
    if (request.blocks) throw NotSeekable{};
    return read_in_one_pass(file, request);
  }
  ScanOptions options{.n_digits = request.n_digits, .columns = &request.columns, .threads = request.threads,
                      .least_part_bytes = least_count_part_bytes(request.least_part_bytes), .interrupt = request.interrupt};
  const BlockRange range = request.blocks.value_or(BlockRange{});
  options.count = request.blocks.has_value();
  // Bounds from the start need the count only as far as one block past the range: then the
  // range does not reach the end.
  const bool from_start = range.start.value_or(0) >= 0 && range.stop.has_value() && *range.stop >= 0;
  if (from_start) options.enough_blocks = static_cast<std::uint64_t>(std::max(*range.stop, range.start.value_or(0))) + 1;
  if (request.count_from && range.start.value_or(0) >= 0 &&
      request.count_from->block <= static_cast<std::uint64_t>(range.start.value_or(0))) {
    options.count_from = request.count_from;
  }
  // Parts are cut at counted blocks: a read on several threads counts even when both ends are given.
  const bool ends_known = from_start && !request.follow && request.threads <= 1 && ends_given(request, range);
  if (ends_known) options.count = false;
  if (request.follow) {
    const std::uint64_t size = file.size_hint().value_or(0);
    const std::uint64_t floor = request.count_from ? request.count_from->offset : 0;
    if (floor > size) shrank(size, *request.count_from);
    options.end = last_line_end(file, size, floor);
  }
  std::optional<PlotLayout> scanned = scan_plot(file, options);
  if (!scanned) throw NotYet{};
  PlotLayout& layout = *scanned;
  if (layout.width == 0) {
    // No value line to find the width from: the file holds a block it ends inside at most, and
    // every range reaches the end.
    return read_in_one_pass(file, request);
  }

  const Region region = ends_known ? Region{.begin = request.count_from->offset, .end = request.count_to->offset,
                                            .first_block = request.count_from->block,
                                            .blocks = request.count_to->block - request.count_from->block}
                                    : counted_region(file, layout, request);
  const std::size_t parts = parts_for(region.end - region.begin, request.least_part_bytes, request.threads);
  RowStore store = read_region(file, layout, *layout.selection, region, parts, request.interrupt);
  ArrayRead result = result_of(layout, std::move(store), region.first_block);
  if (request.blocks && !region.to_end) {
    const std::uint64_t next = region.first_block + *region.blocks;
    result.next = BlockStart{.block = next, .offset = region.end, .line = layout.preamble.line_before_block(next)};
  }
  result.file = file.identity();
  result.start = BlockStart{.block = region.first_block, .offset = region.begin,
                            .line = layout.preamble.line_before_block(region.first_block)};
  if (options.count) result.counted = layout.blocks - (options.count_from ? options.count_from->block : 0);
  return result;
}

// A compressed file's text can only be decoded from its start: one part, and every range found by
// decoding up to it. Two threads or more overlap the decoding with the parse of a whole read.
ArrayRead read_compressed(PlotInput& file, const ArrayRequest& request) {
  if (request.follow) defect("a compressed file cannot be followed: its end is not where the text ends", 1);
  if (!request.blocks) {
    if (request.threads >= 2) file.decode_ahead();
    return read_in_one_pass(file, request);
  }
  ArrayRequest in_order = request;
  in_order.threads = 1;
  return read_stretch(file, in_order);
}

}  // namespace

ArrayRead read_plot_arrays(const ArrayRequest& request) {
  PlotInput file(open_plot(request.path, request.interrupt));
  recognise_plot(file);
  if (file.compressed()) return read_compressed(file, request);
  if (!request.blocks && request.threads <= 1) return read_in_one_pass(file, request);
  return read_stretch(file, request);
}

PlotLayout scan_plot_file(const ScanRequest& request) {
  PlotInput file(open_plot(request.path, request.interrupt));
  recognise_plot(file);
  PlotLayout layout = *scan_plot(file, {.n_digits = request.n_digits, .check_width = true,
                                        .count_from = request.count_from,
                                        .first_values = request.first_values,
                                        .threads = file.compressed() ? 1 : request.threads,
                                        .least_part_bytes = least_count_part_bytes(request.least_part_bytes),
                                        .interrupt = request.interrupt});
  if (layout.tail_lines != 0) tail_defect(layout);
  return layout;
}

}  // namespace quorvel
