// Ranged and parallel reads of the array reader against its serial whole read of the same bytes.
// The first nine bytes choose the request (see `Choice`): the field width, given or found, a range
// of blocks whose bounds may be absent or negative, 1 to 8 threads, perhaps columns, and a second
// range that counts from where the first ended; the rest is the file.
//
// The whole range (no bounds, or threads without a range) gives the whole read's outcome: the
// same rows bit for bit, or the same exception with the same fields. A part of the file gives the
// whole read's rows of its blocks; it fails exactly as the whole read does when that read's first
// defect lies in a chosen block, or in the block the file ends inside and the range reaches the
// end. When the whole read fails before the range, the part succeeds or fails at or after its
// first block; when it fails after the range, the part reads what a whole read of the file cut
// before its stop reads. Blocks are found by counting line feeds here, independently of the
// reader's own count. A crash, a sanitizer report, a leak, a hang or a disagreement is a finding.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "memory_file.h"
#include "quiet_output.h"
#include "reader/readers/array_reader.h"
#include "reader/scan/plot_scan.h"

namespace {

using quorvel::ArrayRead;
using quorvel::ArrayRequest;
using quorvel::BlockRange;

constexpr std::size_t header_bytes = 9;

// What the input's first bytes ask for.
struct Choice {
  std::optional<std::uint64_t> width;  // byte 0: 0 mod 21 is found, else given
  BlockRange range;                    // byte 1 bits 0, 1: bounds present; bytes 2, 3: them
  std::size_t threads = 1;             // byte 1 bits 3 to 5
  std::optional<std::vector<quorvel::ColumnChoice>> columns;  // byte 1 bit 2; bytes 4 to 7
  bool follow = false;                 // byte 1 bit 6: then read on from the range's end,
  std::optional<std::int64_t> follow_stop;  // byte 1 bit 7 and byte 8: to this stop
};

Choice choice_of(const std::uint8_t* data) {
  Choice c;
  if (data[0] % 21 != 0) c.width = data[0] % 21;
  const std::uint8_t flags = data[1];
  if (flags & 1) c.range.start = static_cast<std::int8_t>(data[2]);
  if (flags & 2) c.range.stop = static_cast<std::int8_t>(data[3]);
  c.threads = ((flags >> 3) & 7) + 1;
  if (flags & 4) {
    static const char* const names[] = {"a", "b", "c", "x"};
    std::vector<quorvel::ColumnChoice> columns;
    for (int k = 0; k <= data[4] % 3; ++k) {
      const auto value = static_cast<std::int8_t>(data[5 + k]);
      if (data[4] & (4 << k)) {
        columns.emplace_back(std::string(names[static_cast<std::uint8_t>(value) % 4]));
      } else {
        columns.emplace_back(std::int64_t{value % 8});
      }
    }
    c.columns = std::move(columns);
  }
  c.follow = (flags & 64) != 0;
  if (flags & 128) c.follow_stop = static_cast<std::int8_t>(data[8]);
  return c;
}

[[noreturn]] void disagree(const char* what) {
  std::fprintf(stderr, "block_range: %s\n", what);  // seen when run with -close_fd_mask=0
  std::abort();
}

void require(bool holds, const char* what) {
  if (!holds) disagree(what);
}

struct Outcome {
  std::optional<ArrayRead> read;
  std::optional<quorvel::PlotDefect> defect;
  std::optional<quorvel::SelectionError> selection;
};

Outcome outcome_of(const ArrayRequest& request) {
  Outcome outcome;
  try {
    outcome.read = quorvel::read_plot_arrays(request);
  } catch (const quorvel::PlotDefect& defect) {
    outcome.defect = defect;
  } catch (const quorvel::SelectionError& error) {
    outcome.selection = error;
  }
  return outcome;
}

bool same_defect(const quorvel::PlotDefect& a, const quorvel::PlotDefect& b) {
  return a.reason == b.reason && a.line == b.line && a.column == b.column;
}

// Rows [from, from + n) of `a` against rows [at, at + n) of `b`, bit for bit.
bool same_rows(const ArrayRead& a, std::size_t from, const ArrayRead& b, std::size_t at, std::size_t n) {
  const std::size_t length = a.values.row_length();
  if (b.values.row_length() != length || a.values.rows() < from + n || b.values.rows() < at + n) return false;
  for (std::size_t i = 0; i < n * length; ++i) {
    if (std::bit_cast<std::uint32_t>(a.values.data()[from * length + i]) !=
        std::bit_cast<std::uint32_t>(b.values.data()[at * length + i])) {
      return false;
    }
  }
  return true;
}

// The whole range read another way: exactly the whole read's outcome.
void expect_whole(const Outcome& whole, const Outcome& other) {
  require(whole.read.has_value() == other.read.has_value(), "whole range: read or not");
  require(whole.defect.has_value() == other.defect.has_value(), "whole range: defect or not");
  require(whole.selection.has_value() == other.selection.has_value(), "whole range: selection error or not");
  if (whole.defect) require(same_defect(*whole.defect, *other.defect), "whole range: another defect");
  if (whole.selection) {
    require(whole.selection->choice == other.selection->choice && whole.selection->positions == other.selection->positions &&
                whole.selection->parameters == other.selection->parameters,
            "whole range: another selection error");
  }
  if (whole.read) {
    const ArrayRead& a = *whole.read;
    const ArrayRead& b = *other.read;
    require(a.header == b.header && a.names == b.names && a.n_digits == b.n_digits, "whole range: header, names or width");
    require(b.first_block == 0 && !b.next, "whole range: first block or next");
    require(a.values.rows() == b.values.rows() && same_rows(a, 0, b, 0, a.values.rows()), "whole range: rows");
  }
}

// The file's bytes and where its blocks lie, counted from line feeds.
struct Blocks {
  const std::uint8_t* bytes;
  std::size_t size;
  std::uint64_t per_block;
  std::uint64_t data_line;  // block 0's separator (lines from 1)
  std::uint64_t total;      // complete blocks
  bool tail;                // the file ends inside a block

  // The offset after the `n`-th line feed; the end of the file when there are fewer.
  std::uint64_t after_lines(std::uint64_t n) const {
    std::uint64_t at = 0;
    for (; n > 0; --n) {
      const void* feed = at < size ? std::memchr(bytes + at, '\n', size - at) : nullptr;
      if (feed == nullptr) return size;
      at = static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(feed) - bytes) + 1;
    }
    return at;
  }
  std::uint64_t block_offset(std::uint64_t block) const { return after_lines(data_line - 1 + block * per_block); }
};

Blocks blocks_of(const std::uint8_t* bytes, std::size_t size, const quorvel::Preamble& preamble) {
  Blocks b{.bytes = bytes, .size = size, .per_block = preamble.lines_per_block(),
           .data_line = preamble.line_before_block(0) + 1, .total = 0, .tail = false};
  const std::uint64_t data_start = b.after_lines(b.data_line - 1);
  std::uint64_t lines = 0;
  for (std::uint64_t at = data_start; at < size; ++at) lines += bytes[at] == '\n';
  if (data_start < size && bytes[size - 1] != '\n') ++lines;
  b.total = lines / b.per_block;
  b.tail = lines % b.per_block != 0;
  return b;
}

std::uint64_t resolve(std::optional<std::int64_t> bound, std::uint64_t total, std::uint64_t absent) {
  if (!bound) return absent;
  const auto signed_total = static_cast<std::int64_t>(total);
  return static_cast<std::uint64_t>(std::clamp(*bound < 0 ? *bound + signed_total : *bound, std::int64_t{0}, signed_total));
}

// A read of blocks [start, stop) against the whole read; gives the part's outcome.
Outcome check_part(const ArrayRequest& request, const Outcome& whole, const Blocks& blocks, const Choice& choice) {
  const BlockRange range = *request.blocks;
  const std::uint64_t start = resolve(range.start, blocks.total, 0);
  const std::uint64_t stop = std::max(start, resolve(range.stop, blocks.total, blocks.total));
  const bool to_end = stop == blocks.total;
  Outcome part = outcome_of(request);
  require(!part.selection, "part: a selection error the scan did not give");

  auto expect_rows_like = [&](const ArrayRead& reference) {
    require(part.read.has_value(), "part: a defect outside the range");
    const ArrayRead& got = *part.read;
    require(got.first_block == start && got.values.rows() == stop - start, "part: first block or rows");
    require(got.header == reference.header && got.names == reference.names, "part: header or names");
    require(same_rows(reference, start, got, 0, stop - start), "part: rows");
    if (to_end) {
      require(!got.next, "part: next at the end");
    } else {
      require(got.next && got.next->block == stop && got.next->offset == blocks.block_offset(stop), "part: next");
    }
  };

  if (whole.read) {
    expect_rows_like(*whole.read);
    require(part.read->n_digits == whole.read->n_digits, "part: width");
    return part;
  }
  require(whole.defect.has_value(), "whole: neither read nor defect after a clean scan");
  const quorvel::PlotDefect& defect = *whole.defect;
  require(defect.line >= blocks.data_line, "whole: a defect before the blocks after a clean scan");
  const std::uint64_t block = (defect.line - blocks.data_line) / blocks.per_block;
  if ((start <= block && block < stop) || (block >= blocks.total && to_end)) {
    require(part.defect && same_defect(*part.defect, defect), "part: not the whole read's defect");
  } else if (block < start) {
    if (part.defect) {
      require(part.defect->line >= blocks.data_line + start * blocks.per_block, "part: a defect before the range");
    } else {
      require(part.read->first_block == start && part.read->values.rows() == stop - start, "part: rows after a defect");
    }
  } else {
    // The defect lies after the range: the file cut before block `stop` reads cleanly.
    static quorvel::fuzz::MemoryFile cut;
    cut.fill(blocks.bytes, static_cast<std::size_t>(blocks.block_offset(stop)));
    const Outcome shorter = outcome_of({.path = cut.path(), .n_digits = choice.width, .columns = choice.columns});
    require(shorter.read && shorter.read->values.rows() == stop, "the cut file does not read");
    expect_rows_like(*shorter.read);
  }
  return part;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  quorvel::fuzz::quiet_standard_streams(argc, argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < header_bytes || quorvel::fuzz::looks_compressed(data + header_bytes, size - header_bytes)) {
    return -1;  // not kept in the corpus
  }
  const Choice choice = choice_of(data);
  const std::uint8_t* bytes = data + header_bytes;
  const std::size_t length = size - header_bytes;
  quorvel::fuzz::MemoryFile& file = quorvel::fuzz::plot_file();
  file.fill(bytes, length);

  const ArrayRequest serial{.path = file.path(), .n_digits = choice.width, .columns = choice.columns};
  const Outcome whole = outcome_of(serial);

  ArrayRequest request = serial;
  request.least_part_bytes = 1;  // small files split too
  request.threads = choice.threads;
  request.blocks = BlockRange{};
  expect_whole(whole, outcome_of(request));
  request.blocks.reset();
  request.threads = std::max<std::size_t>(choice.threads, 2);
  expect_whole(whole, outcome_of(request));

  // What the reader's own scan finds before the blocks; when it fails, so does every read, alike.
  std::optional<quorvel::PlotLayout> layout;
  {
    auto opened = quorvel::platform::File::open_for_reading(file.path());
    if (!opened) disagree("the memory file does not open");
    try {
      quorvel::PlotInput input(std::move(*opened));
      layout = quorvel::scan_plot(input, {.n_digits = choice.width, .columns = &choice.columns, .count = false});
    } catch (const quorvel::PlotDefect&) {
    } catch (const quorvel::SelectionError&) {
    }
  }
  request.threads = choice.threads;
  request.blocks = choice.range;
  if (!layout) {
    require(!whole.read, "whole: read a file the scan refuses");
    expect_whole(whole, outcome_of(request));
    return 0;
  }
  const Blocks blocks = blocks_of(bytes, length, layout->preamble);
  const Outcome part = check_part(request, whole, blocks, choice);
  if (choice.follow && part.read && part.read->next) {
    request.blocks = BlockRange{.start = static_cast<std::int64_t>(part.read->next->block), .stop = choice.follow_stop};
    request.count_from = part.read->next;
    (void)check_part(request, whole, blocks, choice);
  }
  return 0;
}
