#pragma once
// The object that owns a read's value matrix and lends it through the buffer protocol as one
// writable run of float32 ('f'), so that numpy wraps it without a copy and keeps it alive.

#include <Python.h>

#include <expected>

#include "bindings/owned_ref.h"
#include "bindings/python_error.h"
#include "reader/targets/row_store.h"

namespace quorvel::arrays {

// A new type object for the module (a heap type: one per module, as multi-phase init wants).
std::expected<OwnedRef, PythonError> make_values_type(PyObject* module);

// A new Values object of `type` taking over `store`.
std::expected<OwnedRef, PythonError> make_values(PyTypeObject* type, RowStore&& store);

}  // namespace quorvel::arrays
