#pragma once
// The text of the report's backtrace, from the frames of a stack walk.
//
// Short form: only the frames between the two marker functions are shown, the failure
// machinery (everything up to and including `quorvel::fail`) and the interpreter's side
// (`quorvel::run_guarded_body` and beyond) are left out, and at most the first 101 frames of
// the walk are looked at. Full form: every frame, with its address.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/process.h"

namespace quorvel {

enum class BacktraceForm : std::uint8_t { Short, Full };

inline constexpr std::size_t short_backtrace_frame_limit = 101;

inline constexpr std::string_view short_backtrace_note =
    "note: Some details are omitted, run with `RUST_BACKTRACE=full` for a verbose backtrace.\n";

// True when `symbol_name` (demangled) is the function `qualified_name` itself, not a function
// local to it such as a lambda.
bool names_function(std::string_view symbol_name, std::string_view qualified_name) noexcept;

std::string format_backtrace(std::span<const platform::StackFrame> frames, BacktraceForm form);

}  // namespace quorvel
