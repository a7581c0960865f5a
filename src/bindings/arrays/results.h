#pragma once
// What read and scan give back: struct sequences, tuples whose items also have names (the later
// fields by name only), so that a new field is added here and nowhere else.

#include <Python.h>

#include <expected>

#include "bindings/owned_ref.h"
#include "bindings/python_error.h"
#include "reader/readers/array_reader.h"

namespace quorvel::arrays {

// The module's ReadResult and ScanResult types.
std::expected<OwnedRef, PythonError> make_read_result_type();
std::expected<OwnedRef, PythonError> make_scan_result_type();

// (header, names, values, blocks, n_digits, next, file), and by name `start` and `counted`.
std::expected<OwnedRef, PythonError> build_read_result(PyObject* module, ArrayRead&& read);
// (header, names, n_digits, blocks, size, (noted blocks, offsets)), and by name `counted`.
std::expected<OwnedRef, PythonError> build_scan_result(PyObject* module, PlotLayout&& layout, std::uint64_t counted);

}  // namespace quorvel::arrays
