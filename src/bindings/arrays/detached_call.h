#pragma once
// A read or a scan run without the interpreter's lock: what it throws is caught into a failure,
// turned into the Python error once the lock is taken back.

#include <Python.h>

#include <expected>
#include <optional>
#include <variant>

#include "bindings/arrays/arguments.h"
#include "bindings/owned_ref.h"
#include "bindings/python_error.h"
#include "failure/caller_error.h"
#include "platform/platform.h"
#include "reader/readers/array_reader.h"
#include "reader/readers/read_stop.h"

namespace quorvel::arrays {

struct OutOfMemory {};
struct Interrupted {};  // a signal handler raised (its exception is set), or the stop token said stop
using Failure = std::variant<OpenError, PlotDefect, SelectionError, NotSeekable, NotYet, OutOfMemory, Interrupted>;

// The read's interrupt check: the stop token's flag, then the interpreter's pending signal
// handlers, run with the lock taken back (on the main thread; elsewhere there are none to run).
struct DetachedCall {
  PyThreadState* state;
  const ReadStop* stop;
};
bool stop_requested(void* context);

// The error of a failure (None for a followed file without a block yet).
std::expected<OwnedRef, PythonError> failure_result(PyObject* module, const PathArgument& path, const Failure& failure);

// Runs `call` and catches what it throws.
template <class Result, class Call>
std::variant<Result, Failure> run_detached(ReadStop* stop, Call&& call) noexcept {
  try {
    std::optional<ReadStop::Reading> reading;
    if (stop != nullptr) {
      reading.emplace(*stop);
      if (stop->requested()) return Failure{Interrupted{}};
    }
    return call();
  } catch (const CallerError&) {
    return Failure{Interrupted{}};
  } catch (const OpenError& error) {
    return Failure{error};
  } catch (const PlotDefect& defect) {
    return Failure{defect};
  } catch (const SelectionError& error) {
    return Failure{error};
  } catch (const NotSeekable& error) {
    return Failure{error};
  } catch (const NotYet& error) {
    return Failure{error};
  } catch (...) {  // std::bad_alloc, or a size beyond what can be allocated
    return Failure{OutOfMemory{}};
  }
}

// Runs `call(interrupt)` without the lock (the token, kept alive by the caller whose argument it
// is, may stop it) and turns its outcome into what `build` makes of the result, or the error.
template <class Result, class Call, class Build>
std::expected<OwnedRef, PythonError> call_detached(PyObject* module, const PathArgument& path, ReadStop* stop,
                                                   Call&& call, Build&& build) {
  DetachedCall detached{PyEval_SaveThread(), stop};
  const platform::InterruptCheck interrupt{.stop = &stop_requested, .context = &detached};
  std::variant<Result, Failure> outcome = run_detached<Result>(stop, [&] { return call(interrupt); });
  PyEval_RestoreThread(detached.state);
  if (auto* result = std::get_if<Result>(&outcome)) return build(std::move(*result));
  return failure_result(module, path, std::get<Failure>(outcome));
}

}  // namespace quorvel::arrays
