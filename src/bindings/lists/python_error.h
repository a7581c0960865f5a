#pragma once
// A Python error held by the module: deferred (the exception object does not exist yet; only its
// type and message are known) or realised (one strong reference to the exception object).

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>

#include "bindings/owned_ref.h"

namespace quorvel {

class PythonError {
 public:
  // The types a deferred error can have; each instance gets the message as its one argument.
  enum class DeferredType : std::uint8_t { Panic, TypeError, SystemError };

  static PythonError deferred(DeferredType type, std::string message) noexcept;
  static PythonError realised(OwnedRef exception) noexcept;

  // Takes the interpreter's pending exception, or nothing when none is pending. An exception whose
  // type is exactly PanicException comes back from Python code as the failure it was: its
  // traceback is printed and the failure continues (throws Failure) with its message.
  static std::optional<PythonError> fetch();
  // As fetch, with a SystemError standing in when nothing is pending.
  static PythonError fetch_or_missing();

  PythonError(PythonError&&) noexcept = default;
  PythonError& operator=(PythonError&&) noexcept = default;

  // Raises the error into the interpreter's error indicator, consuming it.
  void restore() &&;
  // The exception object (borrowed from this error); realises a deferred error first.
  PyObject* value();
  // Appends `PythonError { type: …, value: …, traceback: … }`.
  void append_debug(std::string& out);

 private:
  enum class State : std::uint8_t { Deferred, Realised, Taken };
  PythonError() noexcept = default;
  void restore_deferred();

  State state_ = State::Taken;
  bool realising_ = false;
  DeferredType type_ = DeferredType::Panic;
  std::string message_;  // deferred only
  OwnedRef value_;      // realised only
};

// When an interpreter call returned null: a pending MemoryError ends the call as it stands
// (throws CallerError); any other pending error is reported as unraisable (no object) and the
// call ends with the failure "PyObject pointer is null".
[[noreturn]] void fail_null_object();

}  // namespace quorvel
