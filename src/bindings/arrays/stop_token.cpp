#include "bindings/arrays/stop_token.h"

#include <memory>

namespace quorvel::arrays {
namespace {

struct StopTokenObject {
  PyObject_HEAD
  ReadStop stop;
};

ReadStop& stop_of(PyObject* self) { return reinterpret_cast<StopTokenObject*>(self)->stop; }

PyObject* new_token(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  if (PyTuple_GET_SIZE(args) != 0 || (kwargs != nullptr && PyDict_GET_SIZE(kwargs) != 0)) {
    PyErr_SetString(PyExc_TypeError, "StopToken() takes no arguments");
    return nullptr;
  }
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  std::construct_at(&stop_of(self));
  return self;
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&stop_of(self));
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* stop(PyObject* self, PyObject*) {
  // Without the lock: waking a thread needs nothing of the interpreter.
  Py_BEGIN_ALLOW_THREADS
  stop_of(self).request();
  Py_END_ALLOW_THREADS
  Py_RETURN_NONE;
}

PyObject* stopped(PyObject* self, void*) { return PyBool_FromLong(stop_of(self).requested()); }

PyMethodDef token_methods[] = {
    {"stop", &stop, METH_NOARGS,
     "stop()\n\nEnds every read given this token as soon as it can; call it again while reads go on (a "
     "read about to block can miss one call)."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef token_getset[] = {
    {"stopped", &stopped, nullptr, "Whether stop() was called.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot token_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&new_token)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
    {Py_tp_methods, token_methods},
    {Py_tp_getset, token_getset},
    {Py_tp_doc, const_cast<char*>("StopToken()\n\nStops the reads it is given, from any thread.")},
    {0, nullptr},
};

PyType_Spec token_spec{
    "quorvel_arrays._reader.StopToken",
    sizeof(StopTokenObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    token_slots,
};

}  // namespace

std::expected<OwnedRef, PythonError> make_stop_token_type(PyObject* module) {
  OwnedRef type = OwnedRef::steal(PyType_FromModuleAndSpec(module, &token_spec, nullptr));
  if (!type) return std::unexpected(PythonError::pending());
  return type;
}

std::expected<ReadStop*, PythonError> read_stop_of(PyObject* object, PyTypeObject* type) {
  if (!PyObject_TypeCheck(object, type)) {
    // The interpreter's formatting: the type's name cut at 100 bytes, as its own messages do.
    PyErr_Format(PyExc_TypeError, "stop must be a StopToken or None, not %.100s", Py_TYPE(object)->tp_name);
    return std::unexpected(PythonError::pending());
  }
  return &stop_of(object);
}

}  // namespace quorvel::arrays
