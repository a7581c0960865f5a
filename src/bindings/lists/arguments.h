#pragma once
// Binding a call's arguments to the function's parameters, and converting them to the values the
// reader needs. Every problem is an ordinary Python error with a fixed message.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "bindings/lists/python_error.h"

namespace quorvel {

// A function's parameters, as binding sees them: positional or keyword, the first few required.
// Extra positional or keyword arguments are not accepted.
struct ParameterDescription {
  std::string_view function_name;
  std::span<const std::string_view> positional;
  std::size_t required_positional;
};

// Fills `slots` (one per parameter) with borrowed references from the fast-call arguments, or
// gives the TypeError to raise.
std::expected<void, PythonError> bind_arguments(const ParameterDescription& description,
                                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                    std::span<PyObject*> slots);

// A str's UTF-8 text, borrowed from the string's cached UTF-8 form.
std::expected<std::string_view, PythonError> convert_text(PyObject* object);
std::expected<std::uint64_t, PythonError> convert_u64(PyObject* object);

// The error to raise for a conversion error of one argument: an exact TypeError gets the
// argument's name in front; anything else passes unchanged.
PythonError wrap_with_argument_name(std::string_view parameter, PythonError inner);

// "'T' object is not an instance of 'target'", or "'None' is not an instance of 'target'".
PythonError type_mismatch(PyObject* object, std::string_view target);

}  // namespace quorvel
