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

#include "failure/python/py_err.h"

namespace quorvel {

struct KeywordOnlyParameter {
  std::string_view name;
  bool required;
};

// A function's parameters, as binding sees them: positional (some of them positional-only, the
// first few required) and keyword-only. Extra positional or keyword arguments are not accepted.
struct ParameterDescription {
  std::string_view function_name;
  std::string_view owner_class;  // empty when the function belongs to no class
  std::span<const std::string_view> positional;
  std::size_t positional_only;
  std::size_t required_positional;
  std::span<const KeywordOnlyParameter> keyword_only;
};

// Fills `slots` (one per positional parameter, then one per keyword-only parameter) with borrowed
// references from the fast-call arguments, or gives the TypeError to raise.
std::optional<PyErr> bind_arguments(const ParameterDescription& description,
                                    PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                    std::span<PyObject*> slots);

// A str's UTF-8 text, borrowed from the string's cached UTF-8 form.
std::expected<std::string_view, PyErr> convert_text(PyObject* object);
std::expected<std::uint64_t, PyErr> convert_u64(PyObject* object);

// The error to raise for a conversion error of one argument: an exact TypeError gets the
// argument's name in front; anything else passes unchanged.
PyErr wrap_with_argument_name(std::string_view parameter, PyErr inner);

// "'T' object is not an instance of 'target'", or "'None' is not an instance of 'target'".
PyErr type_mismatch(PyObject* object, std::string_view target);

}  // namespace quorvel
