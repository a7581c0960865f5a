// Binding and converting the arguments of read and scan.

#include "bindings/arrays/arguments.h"

#include <array>
#include <limits>
#include <string>

#include "bindings/arrays/module_state.h"
#include "bindings/arrays/stop_token.h"

namespace quorvel::arrays {
namespace {

std::unexpected<PythonError> pending() { return std::unexpected(PythonError::pending()); }

std::unexpected<PythonError> type_error(std::string message) {
  return std::unexpected(PythonError::deferred(PythonError::DeferredType::TypeError, std::move(message)));
}

bool absent(PyObject* object) { return object == nullptr || object == Py_None; }

// An int kept at the nearest end of 64 bits.
std::expected<std::int64_t, PythonError> clamped(PyObject* object) {
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (value == -1 && PyErr_Occurred()) return pending();
  if (overflow != 0) return overflow > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

std::expected<std::optional<std::int64_t>, PythonError> convert_bound(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  return clamped(object);
}

// The slot of a keyword, or the TypeError of one the function does not take.
std::expected<std::size_t, PythonError> keyword_slot(const Signature& signature, PyObject* name) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
  if (utf8 == nullptr) {
    // A name no function takes (one that is not UTF-8): the same TypeError as any other.
    PyErr_Clear();
    return type_error(std::string(signature.name) + "() got an unexpected keyword argument");
  }
  const std::string_view keyword(utf8, static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < signature.parameters.size(); ++i) {
    if (signature.parameters[i] == keyword) return i;
  }
  return type_error(std::string(signature.name) + "() got an unexpected keyword argument '" + std::string(keyword) + "'");
}

}  // namespace

std::expected<void, PythonError> bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                                                PyObject* kwnames, std::span<PyObject*> slots) {
  const std::size_t positional = static_cast<std::size_t>(nargs);
  const bool keywords = kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0;
  if (positional > signature.most_positional || (positional < signature.required && !keywords)) {
    return type_error(std::string(signature.name) + "() takes " + std::to_string(signature.required) + " to " +
                      std::to_string(signature.most_positional) + " positional arguments but " +
                      std::to_string(nargs) + " were given");
  }
  for (std::size_t i = 0; i < positional; ++i) slots[i] = args[i];
  for (Py_ssize_t k = 0; keywords && k < PyTuple_GET_SIZE(kwnames); ++k) {
    auto slot = keyword_slot(signature, PyTuple_GET_ITEM(kwnames, k));
    if (!slot) return std::unexpected(std::move(slot.error()));
    if (slots[*slot] != nullptr) {
      return type_error(std::string(signature.name) + "() got multiple values for argument '" +
                        std::string(signature.parameters[*slot]) + "'");
    }
    slots[*slot] = args[nargs + k];
  }
  for (std::size_t i = 0; i < signature.required; ++i) {
    if (slots[i] == nullptr) {
      return type_error(std::string(signature.name) + "() missing argument '" + std::string(signature.parameters[i]) + "'");
    }
  }
  return {};
}

std::expected<std::optional<std::uint64_t>, PythonError> convert_n_digits(PyObject* object) {
  if (absent(object)) return std::nullopt;
  const long long value = PyLong_AsLongLong(object);
  if (value == -1 && PyErr_Occurred()) return pending();
  if (value < 1) return std::unexpected(PythonError::deferred(PythonError::DeferredType::ValueError, "n_digits below 1"));
  return static_cast<std::uint64_t>(value);
}

std::expected<std::optional<std::vector<ColumnChoice>>, PythonError> convert_columns(PyObject* object) {
  if (absent(object)) return std::nullopt;
  if (!PyTuple_Check(object)) return type_error("columns: a tuple or None");
  std::vector<ColumnChoice> choices;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(object); ++i) {
    PyObject* item = PyTuple_GET_ITEM(object, i);
    if (PyUnicode_Check(item)) {
      Py_ssize_t size = 0;
      const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
      if (utf8 == nullptr) return pending();
      choices.emplace_back(std::string(utf8, static_cast<std::size_t>(size)));
    } else if (PyLong_Check(item)) {
      // A position beyond 64 bits is out of range all the same: kept at the nearest end.
      auto position = clamped(item);
      if (!position) return std::unexpected(std::move(position.error()));
      choices.emplace_back(*position);
    } else {
      return type_error("columns: str names and int positions");
    }
  }
  return choices;
}

// (start, stop), each an int or None; or None for every block.
std::expected<std::optional<BlockRange>, PythonError> convert_blocks(PyObject* object) {
  if (absent(object)) return std::nullopt;
  if (!PyTuple_Check(object) || PyTuple_GET_SIZE(object) != 2) return type_error("blocks: a (start, stop) tuple or None");
  auto start = convert_bound(PyTuple_GET_ITEM(object, 0));
  if (!start) return std::unexpected(std::move(start.error()));
  auto stop = convert_bound(PyTuple_GET_ITEM(object, 1));
  if (!stop) return std::unexpected(std::move(stop.error()));
  return BlockRange{.start = *start, .stop = *stop};
}

// (block, offset) or (block, offset, line) from an earlier read or scan, or None.
std::expected<std::optional<BlockStart>, PythonError> convert_block_start(PyObject* object) {
  if (absent(object)) return std::nullopt;
  const Py_ssize_t size = PyTuple_Check(object) ? PyTuple_GET_SIZE(object) : 0;
  if (size != 2 && size != 3) return type_error("a block start: a (block, offset[, line]) tuple or None");
  std::array<unsigned long long, 3> fields{};
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyObject* item = PyTuple_GET_ITEM(object, i);
    if (!PyLong_Check(item)) return type_error("a block start: ints");
    // Refuses a negative number (OverflowError) where a wrap would give a far block or offset.
    fields[static_cast<std::size_t>(i)] = PyLong_AsUnsignedLongLong(item);
    if (PyErr_Occurred()) return pending();
  }
  return BlockStart{.block = fields[0], .offset = fields[1], .line = fields[2]};
}

std::expected<std::size_t, PythonError> convert_threads(PyObject* object) {
  if (object == nullptr) return 1;
  const Py_ssize_t value = PyLong_AsSsize_t(object);
  if (value == -1 && PyErr_Occurred()) return pending();
  if (value < 1) return std::unexpected(PythonError::deferred(PythonError::DeferredType::ValueError, "threads below 1"));
  return static_cast<std::size_t>(value);
}

std::expected<ReadStop*, PythonError> convert_stop(PyObject* module, PyObject* object) {
  if (absent(object)) return nullptr;
  return read_stop_of(object, state_of(module).stop_token_type);
}

std::expected<bool, PythonError> convert_flag(PyObject* object) {
  if (object == nullptr) return false;
  const int flag = PyObject_IsTrue(object);
  if (flag < 0) return pending();
  return flag != 0;
}

namespace {

// The path for messages: a str as given, or bytes decoded as the file system does.
OwnedRef display_path(PyObject* fspath) {
  if (PyUnicode_Check(fspath)) return OwnedRef::borrow(fspath);
  return OwnedRef::steal(PyUnicode_DecodeFSDefaultAndSize(PyBytes_AS_STRING(fspath), PyBytes_GET_SIZE(fspath)));
}

}  // namespace

std::expected<PathArgument, PythonError> convert_path(PyObject* object) {
  PyObject* encoded_raw = nullptr;
  if (!PyUnicode_FSConverter(object, &encoded_raw)) return pending();
  PathArgument path{.encoded = OwnedRef::steal(encoded_raw), .fspath = OwnedRef::steal(PyOS_FSPath(object)), .shown = {}};
  if (!path.fspath) return pending();
  path.shown = display_path(path.fspath.get());
  if (!path.shown) return pending();
  return path;
}

}  // namespace quorvel::arrays
