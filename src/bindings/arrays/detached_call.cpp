// The interrupt check of a detached call, and its failures as Python errors.

#include "bindings/arrays/detached_call.h"

#include "bindings/arrays/errors.h"

namespace quorvel::arrays {

bool stop_requested(void* context) {
  auto& call = *static_cast<DetachedCall*>(context);
  if (call.stop != nullptr && call.stop->requested()) return true;
  PyEval_RestoreThread(call.state);
  const bool raised = PyErr_CheckSignals() < 0;
  call.state = PyEval_SaveThread();
  return raised;
}

std::expected<OwnedRef, PythonError> failure_result(PyObject* module, const PathArgument& path, const Failure& failure) {
  if (auto* open = std::get_if<OpenError>(&failure)) return std::unexpected(open_error(*open, path.fspath.get()));
  if (auto* defect = std::get_if<PlotDefect>(&failure)) {
    return std::unexpected(defect_error(module, *defect, path.shown.get()));
  }
  if (auto* selection = std::get_if<SelectionError>(&failure)) return std::unexpected(selection_error(module, *selection));
  if (std::holds_alternative<NotSeekable>(failure)) return std::unexpected(not_seekable_error(path.fspath.get()));
  if (std::holds_alternative<NotYet>(failure)) return OwnedRef::steal(Py_NewRef(Py_None));
  if (std::holds_alternative<Interrupted>(failure)) {
    // A signal handler's exception is pending; the stop token's stop has none.
    if (PyErr_Occurred()) return std::unexpected(PythonError::pending());
    return std::unexpected(PythonError::deferred(PythonError::DeferredType::InterruptedError, "the read was stopped"));
  }
  return std::unexpected(out_of_memory());
}

}  // namespace quorvel::arrays
