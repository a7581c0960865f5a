#pragma once
// The arguments of read and scan: bound by position or keyword, then converted to what the reader
// takes. quorvel_arrays checks them and words every message a user reads; what reaches this
// private entry is only kept from doing harm, with terse errors.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "bindings/owned_ref.h"
#include "bindings/python_error.h"
#include "reader/readers/array_reader.h"
#include "reader/readers/read_stop.h"

namespace quorvel::arrays {

// The parameters in order; the first `required` must be given, at most `most_positional` by position.
struct Signature {
  std::string_view name;
  std::span<const std::string_view> parameters;
  std::size_t required;
  std::size_t most_positional;
};

// Fills `slots` (one per parameter, nullptr when not given) with borrowed references.
std::expected<void, PythonError> bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                                                PyObject* kwnames, std::span<PyObject*> slots);

// Each takes nullptr (not given) or None as its default.
std::expected<std::optional<std::uint64_t>, PythonError> convert_n_digits(PyObject* object);
std::expected<std::optional<std::vector<ColumnChoice>>, PythonError> convert_columns(PyObject* object);
std::expected<std::optional<BlockRange>, PythonError> convert_blocks(PyObject* object);
std::expected<std::optional<BlockStart>, PythonError> convert_block_start(PyObject* object);
std::expected<std::size_t, PythonError> convert_threads(PyObject* object);
std::expected<ReadStop*, PythonError> convert_stop(PyObject* module, PyObject* object);
std::expected<bool, PythonError> convert_flag(PyObject* object);

// The path as the reader takes it (bytes as the file system encodes them), as open()'s errors
// name it (its str or bytes form), and as messages show it (a str).
struct PathArgument {
  OwnedRef encoded;
  OwnedRef fspath;
  OwnedRef shown;

  std::string_view bytes() const {
    return {PyBytes_AS_STRING(encoded.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get()))};
  }
};

std::expected<PathArgument, PythonError> convert_path(PyObject* object);

}  // namespace quorvel::arrays
