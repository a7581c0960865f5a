// The module's face towards the interpreter: its definition, the execution step that adds the
// function, and the one exported symbol.

#include <Python.h>

#if defined(QUORVEL_DEBUG_INTERPRETER) != defined(Py_DEBUG)
#error "the Python headers do not match the interpreter's build (debug or not)"
#endif

#include "bindings/lists/arguments.h"
#include "bindings/owned_ref.h"
#include "failure/failure.h"
#include "bindings/lists/call_guard.h"
#include "bindings/lists/docstring.h"
#include "bindings/lists/interned_names.h"
#include "bindings/lists/read_kavrine.h"

namespace quorvel {
namespace {

// Used on its own with PyCMethod_New, never as a module method table (which refuses
// METH_STATIC); PyCMethod_New ignores the flag.
PyMethodDef read_kavrine_method{
    "rust_read_kavrine",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&read_kavrine_entry)),
    METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
    read_kavrine_doc,
};

std::expected<int, PythonError> pending() { return std::unexpected(fetch_error_or_missing()); }

// Owns: the module's name, the function object, and the __name__ and __all__ values.
std::expected<int, PythonError> exec_module(PyObject* module) {
  if (!PyModule_Check(module)) return std::unexpected(type_mismatch(module, "module"));
  OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return pending();
  OwnedRef function =
      OwnedRef::steal(PyCMethod_New(&read_kavrine_method, module, module_name.get(), nullptr));
  module_name = OwnedRef();
  if (!function) return pending();

  OwnedRef name = OwnedRef::steal(PyObject_GetAttr(function.get(), name_attribute()));
  if (!name) return pending();
  if (!PyUnicode_Check(name.get())) return std::unexpected(type_mismatch(name.get(), "str"));

  OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module, all_attribute()));
  if (!all) {
    PythonError error = fetch_error_or_missing();
    if (!PyErr_GivenExceptionMatches(exception_of(error), PyExc_AttributeError)) {
      return std::unexpected(std::move(error));
    }
    all = OwnedRef::steal(PyList_New(0));
    if (!all) return pending();
    if (PyObject_SetAttr(module, all_attribute(), all.get()) < 0) return pending();
  } else if (!PyList_Check(all.get())) {
    return std::unexpected(type_mismatch(all.get(), "list"));
  }

  if (PyList_Append(all.get(), name.get()) < 0) {
    PythonError error = fetch_error_or_missing();
    std::string message = "could not append __name__ to __all__: ";
    append_debug(message, error);
    fail(std::move(message));
  }
  all = OwnedRef();
  if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return pending();
  return 0;
}

int exec_slot(PyObject* module) noexcept {
  return call_guarded<int>(-1, [module] { return exec_module(module); });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_slot)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition{
    PyModuleDef_HEAD_INIT,
    "quorvel",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace quorvel

PyMODINIT_FUNC PyInit_quorvel() noexcept { return PyModuleDef_Init(&quorvel::module_definition); }
