#include "bindings/lists/object_text.h"

#include <optional>

#include "bindings/owned_ref.h"
#include "bindings/lists/python_error.h"

namespace quorvel {
namespace {

void append_utf8_bytes(std::string& out, PyObject* bytes) {
  out.append(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
}

}  // namespace

void append_str_utf8(std::string& out, PyObject* text) {
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) {
    out.append(utf8, static_cast<std::size_t>(size));
    return;
  }
  (void)fetch_error();  // the lone surrogates' encode error, dropped
  // Owns: the surrogate-carrying bytes and their replaced decoding.
  OwnedRef raw = OwnedRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  if (!raw) fail_null_object();
  OwnedRef replaced = OwnedRef::steal(
      PyUnicode_DecodeUTF8(PyBytes_AS_STRING(raw.get()), PyBytes_GET_SIZE(raw.get()), "replace"));
  if (!replaced) fail_null_object();
  OwnedRef bytes = OwnedRef::steal(PyUnicode_AsUTF8String(replaced.get()));
  if (!bytes) fail_null_object();
  append_utf8_bytes(out, bytes.get());
}

void append_object(std::string& out, PyObject* object, Rendering rendering) {
  // Owns: the rendered string, or the type's name on the fallback path.
  OwnedRef text = OwnedRef::steal(rendering == Rendering::Display ? PyObject_Str(object)
                                                                    : PyObject_Repr(object));
  if (text) {
    append_str_utf8(out, text.get());
    return;
  }
  if (std::optional<PythonError> error = fetch_error()) raise_error(std::move(*error));
  PyErr_WriteUnraisable(object);
  OwnedRef name = OwnedRef::steal(PyType_GetName(Py_TYPE(object)));
  if (!name) {
    (void)fetch_error();
    out += "<unprintable object>";
    return;
  }
  out += "<unprintable ";
  append_str_utf8(out, name.get());
  out += " object>";
}

}  // namespace quorvel
