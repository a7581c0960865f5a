#pragma once
// The exception type that failures become: pyo3_runtime.PanicException, a direct subclass of
// BaseException. Created the first time it is needed, never at import, and kept for good.

#include <Python.h>

namespace quorvel {

// Borrowed: the process holds the only lasting reference. Creates the type on first use; a
// failure to create it ends the call with "Failed to initialize new exception type.: ...".
PyObject* panic_exception_type();

// Borrowed, or null while the type does not exist. Used to recognise an exception as one of the
// type without creating it: import takes an error from the interpreter (the absent __all__), and
// the type must not come into being there.
PyObject* existing_panic_exception_type() noexcept;

}  // namespace quorvel
