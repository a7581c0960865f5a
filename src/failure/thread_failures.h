#pragma once
// Per-thread bookkeeping of failures: how many are in progress (raised and not yet caught and
// converted), and whether this thread is writing a failure report right now. Both detect a
// failure inside a failure.

#include <cstddef>

namespace quorvel {

std::size_t failures_in_progress() noexcept;
void count_failure() noexcept;
void uncount_failure() noexcept;

bool report_in_progress() noexcept;
void set_report_in_progress(bool on) noexcept;

// Makes this thread's per-thread state exist now: the module's own (the counts above and the
// report's stand-in thread number, one block for the whole library) and the C++ runtime's
// exception globals. In a library loaded at run time each thread gets that state on its first
// touch, by an allocation that ends the process when it fails; a failure path (a throw, a failure
// raised) touches it. Called at the start of every entry, before anything is allocated, so that
// a failure path under exhausted memory never touches it first.
void prepare_thread_state() noexcept;

}  // namespace quorvel
