#pragma once
// The exceptions a Python user expects for what the reader throws.

#include <Python.h>

#include "bindings/python_error.h"
#include "reader/readers/array_reader.h"
#include "reader/layout/plot_defect.h"
#include "reader/targets/selection.h"

namespace quorvel::arrays {

// OSError with the subclass its code picks (FileNotFoundError, …), naming `filename`.
PythonError open_error(const OpenError& open, PyObject* filename);
// PlotFileError(reason, path, line, column).
PythonError defect_error(PyObject* module, const PlotDefect& defect, PyObject* path);
// SelectionProblem(choice, positions, parameters), for quorvel_arrays to word.
PythonError selection_error(PyObject* module, const SelectionError& error);
// A range of blocks of a pipe or a device: OSError(ESPIPE), with the path as open() names it.
PythonError not_seekable_error(PyObject* filename);
// MemoryError, as the interpreter raises it when it runs out.
PythonError out_of_memory();

}  // namespace quorvel::arrays
