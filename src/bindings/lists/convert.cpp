#include <string>

#include "bindings/lists/arguments.h"
#include "bindings/owned_ref.h"
#include "bindings/lists/object_text.h"

namespace quorvel {

PythonError type_mismatch(PyObject* object, std::string_view target) {
  std::string message;
  if (object == Py_None) {
    message = "'None' is not an instance of '";
  } else {
    message = "'";
    // Owns: the qualified name of the object's type.
    OwnedRef name = OwnedRef::steal(PyType_GetQualName(Py_TYPE(object)));
    if (name) {
      append_str_utf8(message, name.get());
    } else {
      (void)fetch_error();
      message += "<failed to extract type name>";
    }
    message += "' object is not an instance of '";
  }
  message += target;
  message += '\'';
  return PythonError::deferred(PythonError::DeferredType::TypeError, std::move(message));
}

std::expected<std::string_view, PythonError> convert_text(PyObject* object) {
  if (!PyType_HasFeature(Py_TYPE(object), Py_TPFLAGS_UNICODE_SUBCLASS)) {
    return std::unexpected(type_mismatch(object, "str"));
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
  if (utf8 == nullptr) return std::unexpected(fetch_error_or_missing());
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

std::expected<std::uint64_t, PythonError> convert_u64(PyObject* object) {
  unsigned long long value = 0;
  if (PyType_HasFeature(Py_TYPE(object), Py_TPFLAGS_LONG_SUBCLASS)) {
    value = PyLong_AsUnsignedLongLong(object);
  } else {
    // Owns: the integer that __index__ gave.
    OwnedRef index = OwnedRef::steal(PyNumber_Index(object));
    if (!index) return std::unexpected(fetch_error_or_missing());
    value = PyLong_AsUnsignedLongLong(index.get());
  }
  // All ones is also a value: an error only when one is pending.
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    return std::unexpected(fetch_error_or_missing());
  }
  return static_cast<std::uint64_t>(value);
}

PythonError wrap_with_argument_name(std::string_view parameter, PythonError inner) {
  PyObject* inner_exception = exception_of(inner);
  if (Py_TYPE(inner_exception) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) return inner;
  std::string message = "argument '";
  message += parameter;
  message += "': ";
  append_object(message, inner_exception, Rendering::Display);
  PythonError wrapped = PythonError::deferred(PythonError::DeferredType::TypeError, std::move(message));
  // Setting the cause, even to nothing, marks the context as suppressed.
  PyException_SetCause(exception_of(wrapped), PyException_GetCause(inner_exception));
  return wrapped;
}

}  // namespace quorvel
