#pragma once
// The error value both bindings return (std::expected<…, PythonError>) until their entry point
// raises it: deferred (only a built-in type and a message are known; the exception object does not
// exist yet) or realised (one strong reference to the exception object).

#include <Python.h>

#include <cstdint>
#include <string>

#include "bindings/owned_ref.h"

namespace quorvel {

class PythonError {
 public:
  // The types a deferred error can have; each instance gets the message as its one argument.
  enum class DeferredType : std::uint8_t { TypeError, ValueError, OSError, InterruptedError, SystemError };

  static PythonError deferred(DeferredType type, std::string message) noexcept;
  // An exception taken from the interpreter: restored as it was, with its context and traceback.
  static PythonError realised(OwnedRef exception) noexcept;
  // An exception object made here and not raised yet: raised as `raise` does, so that the exception
  // being handled becomes its context.
  static PythonError created(OwnedRef exception) noexcept;
  // Takes the interpreter's pending exception as it is, with a SystemError standing in when none is
  // pending (an API call that failed without saying why).
  static PythonError pending();

  PythonError(PythonError&&) noexcept = default;
  PythonError& operator=(PythonError&&) noexcept = default;

  // Raises the error into the interpreter's error indicator, consuming it. False when a deferred
  // error's message could not be made into a str: the exception that stopped it is set instead.
  bool restore() &&;
  // The exception object (borrowed from this error); realises a deferred error first. Null when
  // that fails as restore can: the exception that stopped it is then pending.
  PyObject* value();

 private:
  enum class State : std::uint8_t { Deferred, Realised, Taken };
  PythonError() noexcept = default;
  bool restore_deferred();

  State state_ = State::Taken;
  bool realising_ = false;
  bool raise_as_new_ = false;  // realised only: made by created()
  DeferredType type_ = DeferredType::TypeError;
  std::string message_;  // deferred only
  OwnedRef value_;       // realised only
};

}  // namespace quorvel
