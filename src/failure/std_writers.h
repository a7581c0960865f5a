#pragma once
// Printing to the process's standard output and standard error, bypassing sys.stdout/sys.stderr.
// Standard output is line-buffered (1024 bytes, never flushed at exit); standard error is not
// buffered. Output to a missing stream is dropped. A write error ends the call with the failure
// "failed printing to stdout: " (or "stderr: ") followed by the error's display rendering; a
// print from inside a print on the same thread with "RefCell already borrowed".

#include <string_view>

namespace quorvel {

inline constexpr std::string_view already_borrowed_message = "RefCell already borrowed";

// The shared writers' reaction to a write from inside a write.
[[noreturn]] void fail_writer_reentered();

void print_stdout(std::string_view text);
void print_stderr(std::string_view text);

}  // namespace quorvel
