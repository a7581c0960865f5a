#include "failure/thread_failures.h"

#include <exception>

namespace quorvel {
namespace {

thread_local std::size_t in_progress = 0;
thread_local bool reporting = false;

}  // namespace

std::size_t failures_in_progress() noexcept { return in_progress; }
void count_failure() noexcept { ++in_progress; }

// A failure object ending on another thread than the one that raised it must not wrap the count.
void uncount_failure() noexcept {
  if (in_progress > 0) --in_progress;
}

bool report_in_progress() noexcept { return reporting; }
void set_report_in_progress(bool on) noexcept { reporting = on; }

void prepare_thread_state() noexcept {
  // Volatile, so that neither read is optimised away (the runtime declares its query pure).
  [[maybe_unused]] volatile bool own = reporting;
  [[maybe_unused]] volatile int runtime = std::uncaught_exceptions();
}

}  // namespace quorvel
