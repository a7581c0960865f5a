#include <string>
#include <vector>

#include "bindings/lists/arguments.h"
#include "bindings/lists/object_text.h"

namespace quorvel {
namespace {

std::string display_name(const ParameterDescription& description) {
  return std::string(description.function_name) + "()";
}

// 'a' / 'a' and 'b' / 'a', 'b', and 'c'
void append_parameter_list(std::string& out, std::span<const std::string_view> names) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? " and " : " ";
    out += '\'';
    out += names[i];
    out += '\'';
    if (names.size() > 2 && i + 1 < names.size()) out += ',';
  }
}

PythonError type_error(std::string message) {
  return PythonError::deferred(PythonError::DeferredType::TypeError, std::move(message));
}

PythonError too_many_positional(const ParameterDescription& d, Py_ssize_t given) {
  std::string message = display_name(d);
  message += " takes ";
  if (d.required_positional < d.positional.size()) {
    message += "from " + std::to_string(d.required_positional) + " to ";
  }
  message += std::to_string(d.positional.size());
  message += " positional arguments but " + std::to_string(given);
  message += given == 1 ? " was given" : " were given";
  return type_error(std::move(message));
}

PythonError unexpected_keyword(const ParameterDescription& d, PyObject* keyword) {
  std::string message = display_name(d) + " got an unexpected keyword argument '";
  append_object(message, keyword, Rendering::Display);
  message += '\'';
  return type_error(std::move(message));
}

PythonError multiple_values(const ParameterDescription& d, std::string_view parameter) {
  std::string message = display_name(d) + " got multiple values for argument '";
  message += parameter;
  message += '\'';
  return type_error(std::move(message));
}

PythonError missing(const ParameterDescription& d, std::span<const std::string_view> names) {
  std::string message = display_name(d) + " missing " + std::to_string(names.size()) + " required positional";
  message += names.size() == 1 ? " argument: " : " arguments: ";
  append_parameter_list(message, names);
  return type_error(std::move(message));
}

// Declaration order; names match by their exact bytes.
std::optional<std::size_t> find_name(std::span<const std::string_view> names, std::string_view wanted) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == wanted) return i;
  }
  return std::nullopt;
}

}  // namespace

std::expected<void, PythonError> bind_arguments(const ParameterDescription& d, PyObject* const* args,
                                                Py_ssize_t nargs, PyObject* kwnames,
                                                std::span<PyObject*> slots) {
  const std::size_t count = d.positional.size();
  const std::size_t given = static_cast<std::size_t>(nargs);
  for (std::size_t i = 0; i < std::min(given, count); ++i) slots[i] = args[i];
  if (given > count) return std::unexpected(too_many_positional(d, nargs));

  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (utf8 == nullptr) {
      (void)fetch_error();  // a name that cannot be UTF-8 matches no parameter
      return std::unexpected(unexpected_keyword(d, keyword));
    }
    const auto j = find_name(d.positional, std::string_view(utf8, static_cast<std::size_t>(size)));
    if (!j) return std::unexpected(unexpected_keyword(d, keyword));
    if (slots[*j] != nullptr) return std::unexpected(multiple_values(d, d.positional[*j]));
    slots[*j] = args[nargs + k];
  }

  if (given < d.required_positional) {
    std::vector<std::string_view> absent;
    for (std::size_t i = 0; i < d.required_positional; ++i) {
      if (slots[i] == nullptr) absent.push_back(d.positional[i]);
    }
    if (!absent.empty()) return std::unexpected(missing(d, absent));
  }
  return {};
}

}  // namespace quorvel
