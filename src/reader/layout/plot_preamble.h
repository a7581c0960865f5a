#pragma once
// The lines before the first block, as every reader of the array module reads them: the header,
// whose last token is the parameter count, and one name line per parameter.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reader/layout/block_loop.h"
#include "reader/lines/file_source.h"
#include "reader/lines/line_reader.h"

namespace quorvel {

// Reads of 64 KiB: an eighth of the system calls of the list reader's 8 KiB, whose size that
// reader keeps.
using ArrayLineReader = BasicLineReader<FileSource, 65536>;

struct Preamble {
  std::string header;
  std::vector<std::string> names;  // trimmed, one per parameter
  std::uint64_t parameters = 0;

  // Each block is a separator line and ten values a line.
  std::uint64_t lines_per_block() const noexcept { return 1 + (parameters + fields_per_line - 1) / fields_per_line; }
  // The line before block `block`'s separator (lines from 1).
  std::uint64_t line_before_block(std::uint64_t block) const noexcept { return parameters + 1 + block * lines_per_block(); }
};

// Throws PlotDefect for a header or name that is missing, too long or not a count. With
// `may_end_early`, a file that ends before its last name gives nothing (it is still being written).
std::optional<Preamble> read_preamble(ArrayLineReader& lines, CurrentLine& line, bool may_end_early = false);

// Reads line `number` into `line`; false at the end of the file. Throws PlotDefect for a line
// that cannot be read.
bool read_numbered_line(ArrayLineReader& lines, CurrentLine& line, std::uint64_t number);
// The same for a line that is only passed over (a separator), which is never held whole.
bool skip_numbered_line(ArrayLineReader& lines, std::uint64_t number);

// The field width: the first value line's length over its field count, when that divides exactly;
// else throws PlotDefect.
std::uint64_t width_of(std::string_view first_value_line, std::uint64_t parameters, std::uint64_t line_number);

}  // namespace quorvel
