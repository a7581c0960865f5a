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

}  // namespace quorvel
