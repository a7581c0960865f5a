#include "failure/failure.h"

#include "failure/report.h"
#include "platform/process.h"

namespace quorvel {

// Kept out of line: the short backtrace hides every frame up to and including this one.
[[gnu::noinline]] void fail(std::string message, std::source_location where) {
  write_failure_report({.message = message, .where = Location::of(where), .may_unwind = true});
  throw Failure(std::move(message));
}

[[gnu::noinline]] void fail_non_unwinding(std::string_view message, std::source_location where) noexcept {
  write_failure_report({.message = message, .where = Location::of(where), .may_unwind = false});
  // write_failure_report ends the process for a failure that may not unwind.
  platform::terminate_process();
}

}  // namespace quorvel
