#pragma once
// The function entry of rust_read_kavrine, called by the interpreter in the fast-call convention.

#include <Python.h>

namespace quorvel {

// `self` is the module. New reference to (first column, other columns), or null with an
// exception set.
PyObject* read_kavrine_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) noexcept;

}  // namespace quorvel
