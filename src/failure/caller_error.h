#pragma once
// Ends a call without a failure and without a report: the reason is an error that the caller
// already holds. The reader throws it when the caller's interrupt check asks it to stop; the
// bindings throw it when the interpreter has set the exception to raise (a signal handler's,
// or MemoryError). Like a Failure it unwinds, releasing everything on the way, to the call guard.

namespace quorvel {

// Deliberately not derived from std::exception, for the same reason as Failure.
class CallerError {};

}  // namespace quorvel
