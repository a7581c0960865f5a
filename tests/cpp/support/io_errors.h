#pragma once
// I/O errors for tests: one of a given kind to inject into a fake sink or source, and the debug
// rendering as a string.

#include <string>

#include "platform/io_error.h"

namespace quorvel::test_support {

inline IoError error_of_kind(ErrorKind kind) { return IoError::simple_message(kind, "injected by the test"); }

inline std::string debug_text(const IoError& error) {
  std::string out;
  error.append_debug(out);
  return out;
}

}  // namespace quorvel::test_support
