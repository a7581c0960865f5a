#include "bindings/arrays/compression.h"

#include <span>
#include <string>

#include "codec/format.h"

namespace quorvel::arrays {

std::expected<OwnedRef, PythonError> compression_of(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                                    PyObject* kwnames) {
  if (nargs != 1 || (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0) || !PyBytes_Check(args[0])) {
    return std::unexpected(
        PythonError::deferred(PythonError::DeferredType::TypeError, "compression() takes one bytes argument"));
  }
  const std::span<const char> first(PyBytes_AS_STRING(args[0]), static_cast<std::size_t>(PyBytes_GET_SIZE(args[0])));
  const codec::Format format = codec::recognise(first);
  if (format == codec::Format::Plain) return OwnedRef::steal(Py_NewRef(Py_None));
  const std::string_view name = codec::format_name(format);
  OwnedRef text = OwnedRef::steal(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
  if (!text) return std::unexpected(PythonError::pending());
  return text;
}

}  // namespace quorvel::arrays
