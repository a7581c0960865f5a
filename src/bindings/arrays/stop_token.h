#pragma once
// `_reader.StopToken`: one per pool of reads. Each read given it registers its thread; `stop()`,
// from any thread, ends every such read as soon as it can (a blocked one is woken), and the read
// raises InterruptedError.

#include <Python.h>

#include <expected>

#include "bindings/owned_ref.h"
#include "bindings/python_error.h"
#include "reader/readers/read_stop.h"

namespace quorvel::arrays {

// A new type object for the module.
std::expected<OwnedRef, PythonError> make_stop_token_type(PyObject* module);

// The stop of a StopToken of `type`; TypeError when `object` is something else.
std::expected<ReadStop*, PythonError> read_stop_of(PyObject* object, PyTypeObject* type);

}  // namespace quorvel::arrays
