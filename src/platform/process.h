#pragma once
// Process and thread services for the failure report: the thread identifier, the environment,
// termination, and the walk of the current thread's stack with symbol names and source lines.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::platform {

// The operating system's identifier of the calling thread; 0 where it has none.
std::uint64_t current_thread_id() noexcept;

// The value of an environment variable, or nothing when it is not set. The text stays valid
// until the environment is changed; read it at once.
std::optional<std::string_view> environment_variable(const char* name) noexcept;

// Ends the process at once: no unwinding, no clean-up, buffered output is lost.
[[noreturn]] void terminate_process() noexcept;

// One function at a frame's address: its demangled name (empty when unknown) and, where the
// debug information has them, the source file, line and column (0 when unknown).
struct SymbolInfo {
  std::string name;
  std::string file;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

// One frame of the stack. `symbols` lists inlined functions innermost first; the function that
// owns the frame comes last. Empty when nothing is known about the address.
struct StackFrame {
  std::uintptr_t address = 0;
  std::vector<SymbolInfo> symbols;
};

// The calling thread's stack from the caller's own frame outward, at most `max_frames` frames.
// The walk ends at a frame without unwind information, a zero return address, or a frame that
// repeats the previous one.
std::vector<StackFrame> capture_stack(std::size_t max_frames);

}  // namespace quorvel::platform
