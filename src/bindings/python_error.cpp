#include "bindings/python_error.h"

#include <utility>

#include "failure/failure.h"

namespace quorvel {
namespace {

// Borrowed: the built-in types live as long as the interpreter.
PyObject* type_object(PythonError::DeferredType type) {
  switch (type) {
    case PythonError::DeferredType::TypeError: return PyExc_TypeError;
    case PythonError::DeferredType::ValueError: return PyExc_ValueError;
    case PythonError::DeferredType::OSError: return PyExc_OSError;
    case PythonError::DeferredType::InterruptedError: return PyExc_InterruptedError;
    case PythonError::DeferredType::SystemError: return PyExc_SystemError;
  }
  return PyExc_SystemError;
}

}  // namespace

PythonError PythonError::deferred(DeferredType type, std::string message) noexcept {
  PythonError error;
  error.state_ = State::Deferred;
  error.type_ = type;
  error.message_ = std::move(message);
  return error;
}

PythonError PythonError::realised(OwnedRef exception) noexcept {
  PythonError error;
  error.state_ = State::Realised;
  error.value_ = std::move(exception);
  return error;
}

PythonError PythonError::created(OwnedRef exception) noexcept {
  PythonError error = realised(std::move(exception));
  error.raise_as_new_ = true;
  return error;
}

PythonError PythonError::pending() {
  OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
  if (!exception) return deferred(DeferredType::SystemError, "attempted to fetch exception but none was set");
  return realised(std::move(exception));
}

bool PythonError::restore() && {
  bool raised = true;
  switch (state_) {
    case State::Realised:
      if (raise_as_new_) {
        PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(value_.get())), value_.get());
        value_ = OwnedRef();
      } else {
        PyErr_SetRaisedException(value_.release());
      }
      break;
    case State::Deferred:
      raised = restore_deferred();
      break;
    case State::Taken:
      fail("PythonError state should never be invalid outside of normalization");
  }
  state_ = State::Taken;
  return raised;
}

bool PythonError::restore_deferred() {
  OwnedRef text = OwnedRef::steal(PyUnicode_FromStringAndSize(message_.data(),
                                                                static_cast<Py_ssize_t>(message_.size())));
  if (!text) return false;
  std::string().swap(message_);
  PyErr_SetObject(type_object(type_), text.get());
  return true;
}

PyObject* PythonError::value() {
  if (state_ == State::Realised) return value_.get();
  if (realising_) fail("Re-entrant normalization of PyErrState detected");
  if (state_ == State::Taken) fail("Cannot normalize a PythonError while already normalizing it.");
  // Realising is a point where other threads may take the interpreter.
  PyEval_RestoreThread(PyEval_SaveThread());
  realising_ = true;
  struct done { bool& flag; ~done() { flag = false; } } mark{realising_};
  state_ = State::Taken;  // stays so if raising it fails part-way
  if (!restore_deferred()) return nullptr;
  OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
  if (!exception) fail("exception missing after writing to the interpreter");
  value_ = std::move(exception);
  state_ = State::Realised;
  return value_.get();
}

}  // namespace quorvel
