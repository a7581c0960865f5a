#pragma once
// The call guard: wraps every entry from the interpreter (the function call and the module's
// execution step) so that nothing but a raised Python exception and an error value comes back.
// A failure becomes PanicException with its message; running out of memory becomes MemoryError.

#include <Python.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <utility>

#include "failure/python/py_err.h"

#if defined(_MSC_VER)
#define QUORVEL_NOINLINE __declspec(noinline)
#else
#define QUORVEL_NOINLINE [[gnu::noinline]]
#endif

namespace quorvel {

// A non-owning reference to a guarded body: it stores its own result and gives back nothing on
// success, or the Python error to raise.
class body_ref {
 public:
  template <class Body>
  explicit body_ref(Body& body) noexcept
      : body_(&body), call_([](void* erased) { return (*static_cast<Body*>(erased))(); }) {}
  std::optional<PyErr> operator()() const { return call_(body_); }

 private:
  void* body_;
  std::optional<PyErr> (*call_)(void*);
};

struct GuardedOutcome {
  enum class Kind : std::uint8_t { Returned, PythonError, Failed, OutOfMemory };
  Kind kind = Kind::Returned;
  std::optional<PyErr> error;  // PythonError
  std::string message;         // Failed
};

// Runs the body, catching whatever leaves it. Kept out of line: the failure report trims its
// backtrace at this frame.
QUORVEL_NOINLINE GuardedOutcome run_guarded_body(body_ref body) noexcept;

// Raises what the body left: its Python error, PanicException, or MemoryError. A failure while
// doing so cannot be turned into an exception any more and ends the process.
void raise_outcome(GuardedOutcome&& outcome) noexcept;

// `body` returns std::expected<Result, PyErr>; `error_value` is what the interpreter expects on
// error (null, or -1).
template <class Result, class Body>
Result call_guarded(Result error_value, Body&& body) noexcept {
  Result result = error_value;
  auto erased = [&]() -> std::optional<PyErr> {
    std::expected<Result, PyErr> outcome = body();
    if (!outcome) return std::move(outcome.error());
    result = *outcome;
    return std::nullopt;
  };
  GuardedOutcome outcome = run_guarded_body(body_ref(erased));
  if (outcome.kind == GuardedOutcome::Kind::Returned) return result;
  raise_outcome(std::move(outcome));
  return error_value;
}

}  // namespace quorvel
