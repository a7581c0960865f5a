#include "bindings/lists/python_error.h"

#include <utility>

#include "text/debug_text.h"
#include "failure/caller_error.h"
#include "failure/failure.h"
#include "bindings/lists/object_text.h"
#include "bindings/lists/panic_exception.h"
#include "failure/std_writers.h"

namespace quorvel {
namespace {

// The failure that left the module as a PanicException, went through Python code and came back:
// print where it has been and continue it with the same message. No new report is written.
[[noreturn]] void resume_panic(OwnedRef exception) {
  std::string message;
  if (OwnedRef text = OwnedRef::steal(PyObject_Str(exception.get()))) {
    append_str_utf8(message, text.get());
  } else {
    (void)PythonError::fetch();  // dropped
    message = "Unwrapped panic from Python code";
  }
  // Texts that callers match as they stand: keep them letter for letter.
  print_stderr("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n");
  print_stderr("Python stack trace below:\n");
  PyErr_SetRaisedException(exception.release());
  PyErr_PrintEx(0);
  throw Failure(std::move(message));
}

// Borrowed built-in type, or the PanicException type.
PyObject* type_object(PythonError::DeferredType type) {
  switch (type) {
    case PythonError::DeferredType::Panic: return panic_exception_type();
    case PythonError::DeferredType::TypeError: return PyExc_TypeError;
    case PythonError::DeferredType::SystemError: return PyExc_SystemError;
  }
  return nullptr;
}

void append_traceback(std::string& out, PyObject* traceback) {
  // Owns: the io module, its StringIO type, the stream and the text read back.
  auto format = [traceback]() -> std::optional<std::string> {
    OwnedRef io = OwnedRef::steal(PyImport_ImportModule("io"));
    if (!io) return std::nullopt;
    OwnedRef string_io = OwnedRef::steal(PyObject_GetAttrString(io.get(), "StringIO"));
    if (!string_io) return std::nullopt;
    OwnedRef stream = OwnedRef::steal(PyObject_CallNoArgs(string_io.get()));
    if (!stream || PyTraceBack_Print(traceback, stream.get()) < 0) return std::nullopt;
    OwnedRef text = OwnedRef::steal(PyObject_CallMethod(stream.get(), "getvalue", nullptr));
    if (!text) return std::nullopt;
    if (!PyUnicode_Check(text.get())) {
      PyErr_SetString(PyExc_TypeError, "getvalue() did not return a str");
      return std::nullopt;
    }
    std::string formatted;
    append_str_utf8(formatted, text.get());
    return formatted;
  };
  std::optional<std::string> formatted = format();
  if (!formatted) {
    if (std::optional<PythonError> error = PythonError::fetch()) std::move(*error).restore();
    PyErr_WriteUnraisable(traceback);
    formatted.emplace("<unformattable ");
    append_object(*formatted, traceback, Rendering::Debug);
    *formatted += '>';
  }
  out += "Some(";
  append_debug_text(out, *formatted);
  out += ')';
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

std::optional<PythonError> PythonError::fetch() {
  OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
  if (!exception) return std::nullopt;
  // While the type does not exist, no exception can be of it.
  PyObject* panic_type = existing_panic_exception_type();
  if (panic_type != nullptr && Py_TYPE(exception.get()) == reinterpret_cast<PyTypeObject*>(panic_type)) {
    resume_panic(std::move(exception));
  }
  return realised(std::move(exception));
}

PythonError PythonError::fetch_or_missing() {
  if (std::optional<PythonError> error = fetch()) return std::move(*error);
  return deferred(DeferredType::SystemError, "attempted to fetch exception but none was set");
}

void PythonError::restore() && {
  switch (state_) {
    case State::Realised:
      PyErr_SetRaisedException(value_.release());
      break;
    case State::Deferred:
      restore_deferred();
      break;
    case State::Taken:
      fail("PythonError state should never be invalid outside of normalization");
  }
  state_ = State::Taken;
}

void PythonError::restore_deferred() {
  // Owns: the type and the argument until the interpreter has built the instance from them.
  OwnedRef type = OwnedRef::borrow(type_object(type_));
  OwnedRef text = OwnedRef::steal(PyUnicode_FromStringAndSize(message_.data(),
                                                                static_cast<Py_ssize_t>(message_.size())));
  if (!text) fail_null_object();
  OwnedRef argument;
  if (type_ == DeferredType::Panic) {
    argument = OwnedRef::steal(PyTuple_New(1));
    if (!argument) fail_null_object();
    PyTuple_SET_ITEM(argument.get(), 0, text.release());
  } else {
    argument = std::move(text);
  }
  std::string().swap(message_);
  if (type && PyType_Check(type.get()) &&
      PyType_FastSubclass(reinterpret_cast<PyTypeObject*>(type.get()), Py_TPFLAGS_BASE_EXC_SUBCLASS)) {
    PyErr_SetObject(type.get(), argument.get());
  } else {
    PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
  }
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
  restore_deferred();
  OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
  if (!exception) fail("exception missing after writing to the interpreter");
  value_ = std::move(exception);
  state_ = State::Realised;
  return value_.get();
}

void PythonError::append_debug(std::string& out) {
  PyObject* exception = value();
  out += "PythonError { type: ";
  append_object(out, reinterpret_cast<PyObject*>(Py_TYPE(exception)), Rendering::Debug);
  out += ", value: ";
  append_object(out, exception, Rendering::Debug);
  out += ", traceback: ";
  OwnedRef traceback = OwnedRef::steal(PyException_GetTraceback(exception));
  if (traceback && traceback.get() != Py_None) {
    append_traceback(out, traceback.get());
  } else {
    out += "None";
  }
  out += " }";
}

void fail_null_object() {
  // Out of memory is not a defect of the file: the interpreter's MemoryError ends the call as it
  // stands, without a report.
  if (PyErr_ExceptionMatches(PyExc_MemoryError)) throw CallerError{};
  if (std::optional<PythonError> error = PythonError::fetch()) {
    std::move(*error).restore();
    PyErr_WriteUnraisable(nullptr);
  }
  fail("PyObject pointer is null");
}

}  // namespace quorvel
