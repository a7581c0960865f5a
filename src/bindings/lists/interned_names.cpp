#include "bindings/lists/interned_names.h"

#include <atomic>
#include <mutex>
#include <string_view>

#include "bindings/lists/once_detached.h"
#include "bindings/lists/python_error.h"

namespace quorvel {
namespace {

struct InternedName {
  explicit constexpr InternedName(std::string_view name) noexcept : text(name) {}
  std::string_view text;
  std::atomic<PyObject*> value{nullptr};
  std::once_flag once;
};

InternedName name_cell("__name__");
InternedName all_cell("__all__");

PyObject* get(InternedName& cell) {
  if (PyObject* value = cell.value.load(std::memory_order_acquire)) return value;
  call_once_detached(cell.once, [&cell] {
    PyObject* text = PyUnicode_FromStringAndSize(cell.text.data(),
                                                 static_cast<Py_ssize_t>(cell.text.size()));
    if (text == nullptr) fail_null_object();
    PyUnicode_InternInPlace(&text);
    cell.value.store(text, std::memory_order_release);  // never released
  });
  return cell.value.load(std::memory_order_acquire);
}

}  // namespace

PyObject* name_attribute() { return get(name_cell); }
PyObject* all_attribute() { return get(all_cell); }

}  // namespace quorvel
