// The named results of read and scan.

#include "bindings/arrays/results.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bindings/arrays/module_state.h"
#include "bindings/arrays/values_buffer.h"

namespace quorvel::arrays {
namespace {

std::unexpected<PythonError> pending() { return std::unexpected(PythonError::pending()); }

PyStructSequence_Field read_fields[] = {
    {"header", "the file's first line"},
    {"names", "the names of the selected parameters"},
    {"values", "the float32 values, one row per block"},
    {"blocks", "the rows read"},
    {"n_digits", "the field width read with"},
    {"next", "(block, offset, line before it) after a range that ends before the file, or None"},
    {"file", "(device, index) of the file a range read, or None"},
    {"start", "(block, offset, line before it) of a range's first block, or None"},
    {"counted", "the blocks counted to find the range"},
    {nullptr, nullptr},
};

PyStructSequence_Field scan_fields[] = {
    {"header", "the file's first line"},
    {"names", "the parameter names"},
    {"n_digits", "the field width, or None when the file has no value line"},
    {"blocks", "the complete blocks"},
    {"size", "the bytes counted"},
    {"noted", "(some blocks, their offsets)"},
    {"counted", "the blocks counted by this scan"},
    {"first_values", "each block's first value as float32 bytes, when asked and every one was kept; or None"},
    {nullptr, nullptr},
};

PyStructSequence_Desc read_description{"quorvel_arrays._reader.ReadResult", "What read gives.", read_fields, 7};
PyStructSequence_Desc scan_description{"quorvel_arrays._reader.ScanResult", "What scan gives.", scan_fields, 6};

std::expected<OwnedRef, PythonError> new_type(PyStructSequence_Desc& description) {
  OwnedRef type = OwnedRef::steal(reinterpret_cast<PyObject*>(PyStructSequence_NewType(&description)));
  if (!type) return pending();
  return type;
}

OwnedRef text_object(std::string_view text) {
  return OwnedRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
}

std::expected<OwnedRef, PythonError> texts(const std::vector<std::string>& items) {
  OwnedRef tuple = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  if (!tuple) return pending();
  for (std::size_t i = 0; i < items.size(); ++i) {
    OwnedRef text = text_object(items[i]);
    if (!text) return pending();
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), text.release());
  }
  return tuple;
}

std::expected<OwnedRef, PythonError> numbers(const std::vector<std::uint64_t>& items) {
  OwnedRef tuple = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  if (!tuple) return pending();
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyObject* number = PyLong_FromUnsignedLongLong(items[i]);
    if (number == nullptr) return pending();
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), number);
  }
  return tuple;
}

OwnedRef block_start(const std::optional<BlockStart>& start) {
  if (!start) return OwnedRef::steal(Py_NewRef(Py_None));
  return OwnedRef::steal(Py_BuildValue("(KKK)", static_cast<unsigned long long>(start->block),
                                       static_cast<unsigned long long>(start->offset),
                                       static_cast<unsigned long long>(start->line)));
}

OwnedRef identity(const std::optional<platform::FileIdentity>& file) {
  if (!file) return OwnedRef::steal(Py_NewRef(Py_None));
  return OwnedRef::steal(Py_BuildValue("(KK)", static_cast<unsigned long long>(file->device),
                                       static_cast<unsigned long long>(file->index)));
}

// A struct sequence of `type` holding `items` (each may be null when its making failed).
std::expected<OwnedRef, PythonError> filled(PyTypeObject* type, std::vector<OwnedRef>&& items) {
  for (const OwnedRef& item : items) {
    if (!item) return pending();
  }
  OwnedRef result = OwnedRef::steal(PyStructSequence_New(type));
  if (!result) return pending();
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyStructSequence_SetItem(result.get(), static_cast<Py_ssize_t>(i), items[i].release());
  }
  return result;
}

OwnedRef count(std::uint64_t number) { return OwnedRef::steal(PyLong_FromUnsignedLongLong(number)); }

}  // namespace

std::expected<OwnedRef, PythonError> make_read_result_type() { return new_type(read_description); }
std::expected<OwnedRef, PythonError> make_scan_result_type() { return new_type(scan_description); }

std::expected<OwnedRef, PythonError> build_read_result(PyObject* module, ArrayRead&& read) {
  auto names = texts(read.names);
  if (!names) return std::unexpected(std::move(names.error()));
  const std::size_t blocks = read.values.rows();
  auto values = make_values(state_of(module).values_type, std::move(read.values));
  if (!values) return std::unexpected(std::move(values.error()));
  std::vector<OwnedRef> items;
  items.push_back(text_object(read.header));
  items.push_back(std::move(*names));
  items.push_back(std::move(*values));
  items.push_back(count(blocks));
  items.push_back(count(read.n_digits));
  items.push_back(block_start(read.next));
  items.push_back(identity(read.file));
  items.push_back(block_start(read.start));
  items.push_back(count(read.counted));
  return filled(state_of(module).read_result_type, std::move(items));
}

std::expected<OwnedRef, PythonError> build_scan_result(PyObject* module, PlotLayout&& layout, std::uint64_t counted) {
  auto names = texts(layout.preamble.names);
  if (!names) return std::unexpected(std::move(names.error()));
  auto noted = numbers(layout.index.blocks);
  if (!noted) return std::unexpected(std::move(noted.error()));
  auto offsets = numbers(layout.index.starts);
  if (!offsets) return std::unexpected(std::move(offsets.error()));
  std::vector<OwnedRef> items;
  items.push_back(text_object(layout.preamble.header));
  items.push_back(std::move(*names));
  items.push_back(layout.width == 0 ? OwnedRef::steal(Py_NewRef(Py_None)) : count(layout.width));
  items.push_back(count(layout.blocks));
  items.push_back(count(layout.size));
  items.push_back(OwnedRef::steal(Py_BuildValue("(NN)", noted->release(), offsets->release())));
  items.push_back(count(counted));
  items.push_back(layout.first_values
                      ? OwnedRef::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(layout.first_values->data()),
                                                                  static_cast<Py_ssize_t>(layout.first_values->size() * sizeof(float))))
                      : OwnedRef::steal(Py_NewRef(Py_None)));
  return filled(state_of(module).scan_result_type, std::move(items));
}

}  // namespace quorvel::arrays
