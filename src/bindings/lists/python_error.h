#pragma once
// The shared PythonError as the module quorvel uses it: an exception taken from the interpreter
// whose type is exactly PanicException comes back from Python code as the failure it was, and an
// error that cannot be raised as itself is a failure too.

#include <Python.h>

#include <optional>
#include <string>

#include "bindings/python_error.h"

namespace quorvel {

// Takes the interpreter's pending exception, or nothing when none is pending. A PanicException's
// traceback is printed and the failure continues (throws Failure) with its message.
std::optional<PythonError> fetch_error();
// As fetch_error, with a SystemError standing in when nothing is pending.
PythonError fetch_error_or_missing();

// Raises the error into the interpreter's error indicator; when its message cannot be made into a
// str, ends as fail_null_object does.
void raise_error(PythonError&& error);
// The error's exception object (borrowed from it), realised first; fails as raise_error does.
PyObject* exception_of(PythonError& error);
// Raises PanicException with the failure's message.
void raise_panic(std::string message);

// Appends `PythonError { type: …, value: …, traceback: … }`.
void append_debug(std::string& out, PythonError& error);

// When an interpreter call returned null: a pending MemoryError ends the call as it stands
// (throws CallerError); any other pending error is reported as unraisable (no object) and the
// call ends with the failure "PyObject pointer is null".
[[noreturn]] void fail_null_object();

}  // namespace quorvel
