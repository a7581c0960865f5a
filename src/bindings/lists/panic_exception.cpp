#include "bindings/lists/panic_exception.h"

#include <atomic>
#include <mutex>
#include <string>

#include "failure/failure.h"
#include "bindings/lists/once_detached.h"
#include "bindings/lists/python_error.h"

namespace quorvel {
namespace {

// Callers name and match the type by this name: keep it letter for letter.
constexpr const char* type_name = "pyo3_runtime.PanicException";
constexpr const char* type_doc =
    "\n"
    "The exception raised when Rust code called from Python panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Filled once with a strong reference that is never released, also not at unload.
std::atomic<PyObject*> type_cell{nullptr};
std::once_flag type_once;

void create_type() {
  PyObject* created = PyErr_NewExceptionWithDoc(type_name, type_doc, PyExc_BaseException, nullptr);
  if (created == nullptr) {
    PythonError error = fetch_error_or_missing();
    std::string message = "Failed to initialize new exception type.: ";
    append_debug(message, error);
    fail(std::move(message));
  }
  type_cell.store(created, std::memory_order_release);
}

}  // namespace

PyObject* panic_exception_type() {
  if (PyObject* type = type_cell.load(std::memory_order_acquire)) return type;
  call_once_detached(type_once, create_type);
  return type_cell.load(std::memory_order_acquire);
}

PyObject* existing_panic_exception_type() noexcept {
  return type_cell.load(std::memory_order_acquire);
}

}  // namespace quorvel
