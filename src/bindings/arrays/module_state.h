#pragma once
// What the _reader module keeps per interpreter: its types and the package's error types.

#include <Python.h>

namespace quorvel::arrays {

struct ModuleState {
  PyTypeObject* values_type;
  PyTypeObject* stop_token_type;
  PyTypeObject* folder_watch_type;
  PyTypeObject* read_result_type;
  PyTypeObject* scan_result_type;
  PyObject* plot_file_error;    // quorvel_arrays.PlotFileError, looked up once
  PyObject* selection_problem;  // and the selection problem that quorvel_arrays words
};

inline ModuleState& state_of(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

}  // namespace quorvel::arrays
