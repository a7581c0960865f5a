#pragma once
// compression(first_bytes): which compressed format a file's first bytes name, as the reader
// recognises it, for the Python side's checks that look at the file itself (follow, watch, reads
// in pieces).

#include <Python.h>

#include <expected>

#include "bindings/owned_ref.h"
#include "bindings/python_error.h"

namespace quorvel::arrays {

// "gzip", "bzip2", "xz" or "zstd"; None for a plain file.
std::expected<OwnedRef, PythonError> compression_of(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                                    PyObject* kwnames);

}  // namespace quorvel::arrays
