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
    (void)fetch_error();  // dropped
    message = "Unwrapped panic from Python code";
  }
  // Texts that callers match as they stand: keep them letter for letter.
  print_stderr("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n");
  print_stderr("Python stack trace below:\n");
  PyErr_SetRaisedException(exception.release());
  PyErr_PrintEx(0);
  throw Failure(std::move(message));
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
    if (std::optional<PythonError> error = fetch_error()) raise_error(std::move(*error));
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

std::optional<PythonError> fetch_error() {
  if (PyErr_Occurred() == nullptr) return std::nullopt;
  return fetch_error_or_missing();
}

PythonError fetch_error_or_missing() {
  // While the type does not exist, no exception can be of it.
  PyObject* panic_type = existing_panic_exception_type();
  if (panic_type != nullptr && PyErr_Occurred() == panic_type) {
    resume_panic(OwnedRef::steal(PyErr_GetRaisedException()));
  }
  return PythonError::pending();
}

void raise_error(PythonError&& error) {
  if (!std::move(error).restore()) fail_null_object();
}

PyObject* exception_of(PythonError& error) {
  if (PyObject* exception = error.value()) return exception;
  fail_null_object();
}

void raise_panic(std::string message) {
  // Owns: the type and the argument until the interpreter has built the instance from them.
  OwnedRef type = OwnedRef::borrow(panic_exception_type());
  OwnedRef text = OwnedRef::steal(PyUnicode_FromStringAndSize(message.data(),
                                                                static_cast<Py_ssize_t>(message.size())));
  if (!text) fail_null_object();
  OwnedRef argument = OwnedRef::steal(PyTuple_New(1));
  if (!argument) fail_null_object();
  PyTuple_SET_ITEM(argument.get(), 0, text.release());
  std::string().swap(message);
  if (type && PyType_Check(type.get()) &&
      PyType_FastSubclass(reinterpret_cast<PyTypeObject*>(type.get()), Py_TPFLAGS_BASE_EXC_SUBCLASS)) {
    PyErr_SetObject(type.get(), argument.get());
  } else {
    PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
  }
}

void append_debug(std::string& out, PythonError& error) {
  PyObject* exception = exception_of(error);
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
  if (std::optional<PythonError> error = fetch_error()) {
    raise_error(std::move(*error));
    PyErr_WriteUnraisable(nullptr);
  }
  fail("PyObject pointer is null");
}

}  // namespace quorvel
