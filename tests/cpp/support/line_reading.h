#pragma once
// A line reader's next line as a string of its own, for tests that collect lines.

#include <expected>
#include <string>
#include <string_view>

#include "platform/io_error.h"
#include "reader/lines/line_reader.h"

namespace quorvel::test_support {

template <class Reader>
std::expected<LineOutcome, IoError> read_line_into(Reader& reader, std::string& line) {
  std::string_view view;
  auto got = reader.read_line(line, view);
  if (got && *got == LineOutcome::Line && view.data() != line.data()) line.assign(view);
  return got;
}

}  // namespace quorvel::test_support
