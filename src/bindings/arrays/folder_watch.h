#pragma once
// `_reader.watch_folder(path)`: a FolderWatch on the folder of a path, whose `wait(seconds)` waits
// without the lock for a change there; None where the system offers no watch.

#include <Python.h>

#include <expected>

#include "bindings/owned_ref.h"
#include "bindings/python_error.h"

namespace quorvel::arrays {

// A new type object for the module.
std::expected<OwnedRef, PythonError> make_folder_watch_type(PyObject* module);

// The watch of the path in args[0] (str, bytes or path-like), or None.
std::expected<OwnedRef, PythonError> watch_folder(PyTypeObject* type, PyObject* path);

}  // namespace quorvel::arrays
