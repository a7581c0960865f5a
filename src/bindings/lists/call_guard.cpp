#include "bindings/lists/call_guard.h"

#include <new>
#include <source_location>
#include <stdexcept>

#include "failure/caller_error.h"
#include "failure/failure.h"
#include "failure/report.h"
#include "failure/thread_failures.h"

namespace quorvel {
namespace {

// A failure reached the boundary outside the guard's catch: it cannot be converted, and it must
// not unwind into the interpreter. The trap reports a failure of its own while the first is still
// in flight, then ends the process.
[[noreturn]] void abort_at_boundary() noexcept {
  write_failure_report({.message = "uncaught panic at ffi boundary",
                        .where = Location::of(std::source_location::current())});
  fail_non_unwinding("panic in a function that cannot unwind");
}

GuardedOutcome failed(const Failure& failure) noexcept {
  GuardedOutcome outcome;
  try {
    outcome.message = failure.message();
    outcome.kind = GuardedOutcome::Kind::Failed;
  } catch (...) {  // no memory left for a copy of the message
    outcome.kind = GuardedOutcome::Kind::OutOfMemory;
  }
  return outcome;
}

}  // namespace

GuardedOutcome run_guarded_body(BodyRef body) noexcept {
  prepare_thread_state();
  GuardedOutcome outcome;
  try {
    if (auto returned = body(); !returned) {
      outcome.error = std::move(returned.error());
      outcome.kind = GuardedOutcome::Kind::PythonError;
    }
  } catch (const Failure& failure) {
    return failed(failure);
  } catch (const CallerError&) {  // the interpreter's exception is set: nothing to add
    outcome.kind = GuardedOutcome::Kind::AlreadySet;
  } catch (const std::bad_alloc&) {
    outcome.kind = GuardedOutcome::Kind::OutOfMemory;
  } catch (const std::length_error&) {  // a size beyond what can ever be allocated
    outcome.kind = GuardedOutcome::Kind::OutOfMemory;
  } catch (...) {
    // Any other escaping exception is an internal fault: a failure without a message of its own.
    outcome.kind = GuardedOutcome::Kind::Failed;
    try {
      outcome.message = "panic from Rust code";  // matched by callers as it stands
    } catch (...) {
      outcome.kind = GuardedOutcome::Kind::OutOfMemory;
    }
  }
  return outcome;
}

void raise_outcome(GuardedOutcome&& outcome) noexcept {
  try {
    switch (outcome.kind) {
      case GuardedOutcome::Kind::Returned:
        break;
      case GuardedOutcome::Kind::PythonError:
        raise_error(std::move(*outcome.error));
        break;
      case GuardedOutcome::Kind::Failed:
        raise_panic(std::move(outcome.message));
        break;
      case GuardedOutcome::Kind::OutOfMemory:
        PyErr_NoMemory();
        break;
      case GuardedOutcome::Kind::AlreadySet:
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
        break;
    }
  } catch (const CallerError&) {
    // Raising the outcome ran out of memory: the interpreter's MemoryError is set, and is raised.
  } catch (...) {
    abort_at_boundary();
  }
}

}  // namespace quorvel
