#pragma once
// Whether this test binary carries the line information that backtraces read. The Windows
// cross-build leaves it out: Wine's symbol library crashes while loading some layouts of it.

#include "platform/process.h"

namespace quorvel::test_support {

inline bool has_line_information() {
  for (const auto& frame : platform::capture_stack(8)) {
    for (const auto& symbol : frame.symbols) {
      if (symbol.line > 0) return true;
    }
  }
  return false;
}

}  // namespace quorvel::test_support
