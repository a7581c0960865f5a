#pragma once
// The call guard: wraps every entry from the interpreter (the function call and the module's
// execution step) so that nothing but a raised Python exception and an error value comes back.
// A failure becomes PanicException with its message; running out of memory becomes MemoryError;
// a CallerError leaves the exception that the interpreter has set.

#include <Python.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <utility>

#include "bindings/lists/python_error.h"

namespace quorvel {

// A non-owning reference to a guarded body: it stores its own result and gives back nothing on
// success, or the Python error to raise.
class BodyRef {
 public:
  template <class Body>
  explicit BodyRef(Body& body) noexcept
      : body_(&body), call_([](void* erased) { return (*static_cast<Body*>(erased))(); }) {}
  std::expected<void, PythonError> operator()() const { return call_(body_); }

 private:
  void* body_;
  std::expected<void, PythonError> (*call_)(void*);
};

struct GuardedOutcome {
  enum class Kind : std::uint8_t { Returned, PythonError, Failed, OutOfMemory, AlreadySet };
  Kind kind = Kind::Returned;
  std::optional<PythonError> error;  // PythonError
  std::string message;         // Failed
};

// Runs the body, catching whatever leaves it. Kept out of line: the failure report trims its
// backtrace at this frame.
[[gnu::noinline]] GuardedOutcome run_guarded_body(BodyRef body) noexcept;

// Raises what the body left: its Python error, PanicException, or MemoryError. A failure while
// doing so cannot be turned into an exception any more and ends the process.
void raise_outcome(GuardedOutcome&& outcome) noexcept;

// `body` returns std::expected<Result, PythonError>; `error_value` is what the interpreter expects on
// error (null, or -1).
template <class Result, class Body>
Result call_guarded(Result error_value, Body&& body) noexcept {
  Result result = error_value;
  auto erased = [&]() -> std::expected<void, PythonError> {
    std::expected<Result, PythonError> outcome = body();
    if (!outcome) return std::unexpected(std::move(outcome.error()));
    result = *outcome;
    return {};
  };
  GuardedOutcome outcome = run_guarded_body(BodyRef(erased));
  if (outcome.kind == GuardedOutcome::Kind::Returned) return result;
  raise_outcome(std::move(outcome));
  return error_value;
}

}  // namespace quorvel
