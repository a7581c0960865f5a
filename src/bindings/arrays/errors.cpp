// The reader's errors as Python exceptions.

#include "bindings/arrays/errors.h"

#include <cerrno>
#include <string>

#include "bindings/arrays/module_state.h"
#include "bindings/owned_ref.h"
#include "platform/platform.h"

namespace quorvel::arrays {

PythonError open_error(const OpenError& open, PyObject* filename) {
  const IoError& error = open.error;
  if (error.form() != IoError::Form::Os) {
    return PythonError::deferred(PythonError::DeferredType::OSError, error.display());
  }
  const std::string text = platform::os_error_message(error.os_code());
  OwnedRef exception = OwnedRef::steal(
      PyObject_CallFunction(PyExc_OSError, "isO", static_cast<int>(error.os_code()), text.c_str(), filename));
  if (!exception) return PythonError::pending();
  return PythonError::created(std::move(exception));
}

PythonError defect_error(PyObject* module, const PlotDefect& defect, PyObject* path) {
  PyObject* type = state_of(module).plot_file_error;
  OwnedRef column = defect.column ? OwnedRef::steal(PyLong_FromUnsignedLongLong(*defect.column))
                                  : OwnedRef::steal(Py_NewRef(Py_None));
  if (!column) return PythonError::pending();
  OwnedRef exception = OwnedRef::steal(PyObject_CallFunction(
      type, "s#OKO", defect.reason.data(), static_cast<Py_ssize_t>(defect.reason.size()), path,
      static_cast<unsigned long long>(defect.line), column.get()));
  if (!exception) return PythonError::pending();
  return PythonError::created(std::move(exception));
}

PythonError selection_error(PyObject* module, const SelectionError& error) {
  OwnedRef positions = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(error.positions.size())));
  if (!positions) return PythonError::pending();
  for (std::size_t i = 0; i < error.positions.size(); ++i) {
    PyObject* position = PyLong_FromUnsignedLongLong(error.positions[i]);
    if (position == nullptr) return PythonError::pending();
    PyTuple_SET_ITEM(positions.get(), static_cast<Py_ssize_t>(i), position);
  }
  PyObject* type = state_of(module).selection_problem;
  OwnedRef exception = OwnedRef::steal(PyObject_CallFunction(type, "nOK", static_cast<Py_ssize_t>(error.choice),
                                                             positions.get(),
                                                             static_cast<unsigned long long>(error.parameters)));
  if (!exception) return PythonError::pending();
  return PythonError::created(std::move(exception));
}

PythonError not_seekable_error(PyObject* filename) {
  OwnedRef exception = OwnedRef::steal(
      PyObject_CallFunction(PyExc_OSError, "isO", ESPIPE, "a range of blocks needs a file that can seek", filename));
  if (!exception) return PythonError::pending();
  return PythonError::created(std::move(exception));
}

PythonError out_of_memory() {
  PyErr_NoMemory();
  return PythonError::pending();
}

}  // namespace quorvel::arrays
