#pragma once
// The error value of the 32-bit float parse.

#include <cstdint>
#include <string>

namespace quorvel {

struct ParseFloatError {
  enum class Kind : std::uint8_t { Empty, Invalid };
  Kind kind;

  friend bool operator==(ParseFloatError, ParseFloatError) = default;
};

inline void append_debug(std::string& out, const ParseFloatError& error) {
  out += error.kind == ParseFloatError::Kind::Empty ? "ParseFloatError { kind: Empty }"
                                                    : "ParseFloatError { kind: Invalid }";
}

}  // namespace quorvel
