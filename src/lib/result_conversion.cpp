#include "lib/result_conversion.h"

#include <utility>
#include <vector>

#include "failure/python/py_err.h"

namespace quorvel {
namespace {

// A list created at its final size and filled by slot stores; the column's storage is freed
// before returning, on success and on failure alike.
owned_ref column_to_list(std::vector<float>&& column) {
  const std::vector<float> values = std::move(column);
  owned_ref list = owned_ref::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) fail_null_object();
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyObject* item = PyFloat_FromDouble(static_cast<double>(values[i]));  // exact widening
    if (item == nullptr) fail_null_object();
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list;
}

}  // namespace

owned_ref columns_to_python(ColumnData&& columns) {
  // Owns the columns from here on; each is released as soon as its list is built.
  ColumnData data = std::move(columns);
  owned_ref first = column_to_list(std::move(data.first));
  owned_ref others = owned_ref::steal(PyList_New(static_cast<Py_ssize_t>(data.others.size())));
  if (!others) fail_null_object();
  for (std::size_t i = 0; i < data.others.size(); ++i) {
    PyList_SET_ITEM(others.get(), static_cast<Py_ssize_t>(i),
                    column_to_list(std::move(data.others[i])).release());
  }
  std::vector<std::vector<float>>().swap(data.others);
  owned_ref tuple = owned_ref::steal(PyTuple_New(2));
  if (!tuple) fail_null_object();
  PyTuple_SET_ITEM(tuple.get(), 0, first.release());
  PyTuple_SET_ITEM(tuple.get(), 1, others.release());
  return tuple;
}

}  // namespace quorvel
