#include "bindings/arrays/values_buffer.h"

#include <new>
#include <utility>

namespace quorvel::arrays {
namespace {

struct ValuesObject {
  PyObject_HEAD
  RowStore store;
  Py_ssize_t length;  // values
  Py_ssize_t item_size;
};

char float32_format[] = "f";

int get_buffer(PyObject* self, Py_buffer* view, int flags) {
  auto* values = reinterpret_cast<ValuesObject*>(self);
  view->obj = Py_NewRef(self);
  view->buf = values->store.data();
  view->len = values->length * values->item_size;
  view->readonly = 0;
  view->itemsize = values->item_size;
  view->format = (flags & PyBUF_FORMAT) ? float32_format : nullptr;
  view->ndim = 1;
  view->shape = (flags & PyBUF_ND) ? &values->length : nullptr;
  view->strides = (flags & PyBUF_STRIDES) ? &values->item_size : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  return 0;
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&reinterpret_cast<ValuesObject*>(self)->store);
  type->tp_free(self);
  Py_DECREF(type);
}

PyType_Slot values_slots[] = {
    {Py_bf_getbuffer, reinterpret_cast<void*>(&get_buffer)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_doc, const_cast<char*>("The float32 values of one read, lent through the buffer protocol.")},
    {0, nullptr},
};

PyType_Spec values_spec{
    "quorvel_arrays._reader.Values",
    sizeof(ValuesObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    values_slots,
};

}  // namespace

std::expected<OwnedRef, PythonError> make_values_type(PyObject* module) {
  OwnedRef type = OwnedRef::steal(PyType_FromModuleAndSpec(module, &values_spec, nullptr));
  if (!type) return std::unexpected(PythonError::pending());
  return type;
}

std::expected<OwnedRef, PythonError> make_values(PyTypeObject* type, RowStore&& store) {
  auto* values = PyObject_New(ValuesObject, type);
  if (values == nullptr) return std::unexpected(PythonError::pending());
  const auto length = static_cast<Py_ssize_t>(store.rows() * store.row_length());
  std::construct_at(&values->store, std::move(store));
  values->length = length;
  values->item_size = sizeof(float);
  return OwnedRef::steal(reinterpret_cast<PyObject*>(values));
}

}  // namespace quorvel::arrays
