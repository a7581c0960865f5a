#include "bindings/lists/result_conversion.h"

#include <span>
#include <utility>

#include "bindings/lists/python_error.h"

namespace quorvel {
namespace {

// A list created at its final size and filled by slot stores. The column's storage belongs to
// the read's arena, released with the column data after the last list.
OwnedRef column_to_list(const Column& values) {
  OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) fail_null_object();
  Py_ssize_t next = 0;
  values.for_each_chunk([&](std::span<const float> chunk) {
    for (const float value : chunk) {
      PyObject* item = PyFloat_FromDouble(static_cast<double>(value));  // exact widening
      if (item == nullptr) fail_null_object();
      PyList_SET_ITEM(list.get(), next++, item);
    }
  });
  return list;
}

}  // namespace

OwnedRef columns_to_python(ColumnData&& columns) {
  // Owns the columns from here on; their storage goes all at once, when this returns or fails.
  ColumnData data = std::move(columns);
  OwnedRef first = column_to_list(data.first);
  OwnedRef others = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(data.others.size())));
  if (!others) fail_null_object();
  for (std::size_t i = 0; i < data.others.size(); ++i) {
    PyList_SET_ITEM(others.get(), static_cast<Py_ssize_t>(i),
                    column_to_list(data.others[i]).release());
  }
  OwnedRef tuple = OwnedRef::steal(PyTuple_New(2));
  if (!tuple) fail_null_object();
  PyTuple_SET_ITEM(tuple.get(), 0, first.release());
  PyTuple_SET_ITEM(tuple.get(), 1, others.release());
  return tuple;
}

}  // namespace quorvel
