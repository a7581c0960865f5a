#pragma once
// A Python error held by the module: deferred (the exception object does not exist yet; only its
// type and message are known) or realised (one strong reference to the exception object).

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>

#include "binding/owned_ref.h"

namespace quorvel {

class PyErr {
 public:
  // The types a deferred error can have; each instance gets the message as its one argument.
  enum class DeferredType : std::uint8_t { Panic, TypeError, SystemError };

  static PyErr deferred(DeferredType type, std::string message) noexcept;
  static PyErr realised(owned_ref exception) noexcept;

  // Takes the interpreter's pending exception, or nothing when none is pending. An exception whose
  // type is exactly PanicException comes back from Python code as the failure it was: its
  // traceback is printed and the failure continues (throws Failure) with its message.
  static std::optional<PyErr> fetch();
  // As fetch, with a SystemError standing in when nothing is pending.
  static PyErr fetch_or_missing();

  PyErr(PyErr&&) noexcept = default;
  PyErr& operator=(PyErr&&) noexcept = default;

  // Raises the error into the interpreter's error indicator, consuming it.
  void restore() &&;
  // The exception object (borrowed from this error); realises a deferred error first.
  PyObject* value();
  // Appends `PyErr { type: …, value: …, traceback: … }`.
  void append_debug(std::string& out);

 private:
  enum class State : std::uint8_t { Deferred, Realised, Taken };
  PyErr() noexcept = default;
  void restore_deferred();

  State state_ = State::Taken;
  bool realising_ = false;
  DeferredType type_ = DeferredType::Panic;
  std::string message_;  // deferred only
  owned_ref value_;      // realised only
};

// When an interpreter call returned null: reports the pending error, if any, as unraisable (no
// object) and ends the call with the failure "PyObject pointer is null".
[[noreturn]] void fail_null_object();

}  // namespace quorvel
