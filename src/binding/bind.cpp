#include <string>
#include <vector>

#include "binding/arguments.h"
#include "failure/python/object_text.h"

namespace quorvel {
namespace {

std::string display_name(const ParameterDescription& description) {
  std::string name;
  if (!description.owner_class.empty()) {
    name += description.owner_class;
    name += '.';
  }
  name += description.function_name;
  name += "()";
  return name;
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

PyErr type_error(std::string message) {
  return PyErr::deferred(PyErr::DeferredType::TypeError, std::move(message));
}

PyErr too_many_positional(const ParameterDescription& d, Py_ssize_t given) {
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

PyErr unexpected_keyword(const ParameterDescription& d, PyObject* keyword) {
  std::string message = display_name(d) + " got an unexpected keyword argument '";
  append_object(message, keyword, Rendering::Display);
  message += '\'';
  return type_error(std::move(message));
}

PyErr multiple_values(const ParameterDescription& d, std::string_view parameter) {
  std::string message = display_name(d) + " got multiple values for argument '";
  message += parameter;
  message += '\'';
  return type_error(std::move(message));
}

PyErr missing(const ParameterDescription& d, std::string_view kind,
              std::span<const std::string_view> names) {
  std::string message = display_name(d) + " missing " + std::to_string(names.size()) + " required ";
  message += kind;
  message += names.size() == 1 ? " argument: " : " arguments: ";
  append_parameter_list(message, names);
  return type_error(std::move(message));
}

// Declaration order; names match by their exact bytes.
std::optional<std::size_t> find_name(auto const& names, std::string_view wanted, auto name_of) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (name_of(names[i]) == wanted) return i;
  }
  return std::nullopt;
}

}  // namespace

std::optional<PyErr> bind_arguments(const ParameterDescription& d, PyObject* const* args,
                                    Py_ssize_t nargs, PyObject* kwnames,
                                    std::span<PyObject*> slots) {
  const std::size_t count = d.positional.size();
  const std::size_t given = static_cast<std::size_t>(nargs);
  for (std::size_t i = 0; i < std::min(given, count); ++i) slots[i] = args[i];
  if (given > count) return too_many_positional(d, nargs);

  std::vector<std::string_view> positional_only_named;
  const Py_ssize_t keywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
    PyObject* value = args[nargs + k];
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (utf8 == nullptr) {
      (void)PyErr::fetch();  // a name that cannot be UTF-8 matches no parameter
      return unexpected_keyword(d, keyword);
    }
    const std::string_view name(utf8, static_cast<std::size_t>(size));
    if (auto i = find_name(d.keyword_only, name, [](const KeywordOnlyParameter& p) { return p.name; })) {
      PyObject*& slot = slots[count + *i];
      if (slot != nullptr) return multiple_values(d, d.keyword_only[*i].name);
      slot = value;
    } else if (auto j = find_name(d.positional, name, [](std::string_view p) { return p; })) {
      if (*j < d.positional_only) {
        positional_only_named.push_back(d.positional[*j]);
      } else if (slots[*j] != nullptr) {
        return multiple_values(d, d.positional[*j]);
      } else {
        slots[*j] = value;
      }
    } else {
      return unexpected_keyword(d, keyword);
    }
  }

  if (!positional_only_named.empty()) {
    std::string message =
        display_name(d) + " got some positional-only arguments passed as keyword arguments: ";
    append_parameter_list(message, positional_only_named);
    return type_error(std::move(message));
  }

  if (given < d.required_positional) {
    std::vector<std::string_view> absent;
    for (std::size_t i = 0; i < d.required_positional; ++i) {
      if (slots[i] == nullptr) absent.push_back(d.positional[i]);
    }
    if (!absent.empty()) return missing(d, "positional", absent);
  }

  std::vector<std::string_view> absent_keywords;
  for (std::size_t i = 0; i < d.keyword_only.size(); ++i) {
    if (d.keyword_only[i].required && slots[count + i] == nullptr) {
      absent_keywords.push_back(d.keyword_only[i].name);
    }
  }
  if (!absent_keywords.empty()) return missing(d, "keyword", absent_keywords);
  return std::nullopt;
}

}  // namespace quorvel
