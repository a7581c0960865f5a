#include "bindings/arrays/folder_watch.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/folder_watch.h"

namespace quorvel::arrays {
namespace {

struct FolderWatchObject {
  PyObject_HEAD
  std::optional<platform::FolderWatch> watch;
};

std::optional<platform::FolderWatch>& watch_of(PyObject* self) { return reinterpret_cast<FolderWatchObject*>(self)->watch; }

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&watch_of(self));
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* wait(PyObject* self, PyObject* seconds) {
  const double limit = PyFloat_AsDouble(seconds);
  if (limit == -1.0 && PyErr_Occurred()) return nullptr;
  if (!(limit >= 0.0)) {
    PyErr_SetString(PyExc_ValueError, "wait: seconds must be 0 or more");
    return nullptr;
  }
  const int milliseconds = static_cast<int>(std::ceil(std::min(limit, 86400.0) * 1000.0));
  bool changed = false;
  Py_BEGIN_ALLOW_THREADS
  changed = watch_of(self)->wait(milliseconds);
  Py_END_ALLOW_THREADS
  return PyBool_FromLong(changed);
}

PyMethodDef watch_methods[] = {
    {"wait", &wait, METH_O,
     "wait(seconds)\n\nWaits up to `seconds` for a file in the folder to change; True when one did."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot watch_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_methods, watch_methods},
    {Py_tp_doc, const_cast<char*>("A watch on the folder of a file; made by watch_folder().")},
    {0, nullptr},
};

PyType_Spec watch_spec{
    "quorvel_arrays._reader.FolderWatch",
    sizeof(FolderWatchObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    watch_slots,
};

}  // namespace

std::expected<OwnedRef, PythonError> make_folder_watch_type(PyObject* module) {
  OwnedRef type = OwnedRef::steal(PyType_FromModuleAndSpec(module, &watch_spec, nullptr));
  if (!type) return std::unexpected(PythonError::pending());
  return type;
}

std::expected<OwnedRef, PythonError> watch_folder(PyTypeObject* type, PyObject* path) {
  PyObject* encoded_raw = nullptr;
  if (!PyUnicode_FSConverter(path, &encoded_raw)) return std::unexpected(PythonError::pending());
  OwnedRef encoded = OwnedRef::steal(encoded_raw);
  std::optional<platform::FolderWatch> watch = platform::FolderWatch::of_path(
      std::string_view(PyBytes_AS_STRING(encoded.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get()))));
  if (!watch) return OwnedRef::steal(Py_NewRef(Py_None));
  OwnedRef self = OwnedRef::steal(type->tp_alloc(type, 0));
  if (!self) return std::unexpected(PythonError::pending());
  std::construct_at(&watch_of(self.get()), std::move(watch));
  return self;
}

}  // namespace quorvel::arrays
