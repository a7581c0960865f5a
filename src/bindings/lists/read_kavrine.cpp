#include "bindings/lists/read_kavrine.h"

#include <array>
#include <string_view>

#include "bindings/lists/arguments.h"
#include "bindings/lists/call_guard.h"
#include "bindings/lists/result_conversion.h"
#include "bindings/lists/signal_check.h"
#include "reader/readers/list_reader.h"

namespace quorvel {
namespace {

constexpr std::array<std::string_view, 2> positional_names{"file_path", "n_digits"};

constexpr ParameterDescription parameters{
    .function_name = "rust_read_kavrine",
    .positional = positional_names,
    .required_positional = 2,
};

}  // namespace

PyObject* read_kavrine_entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) noexcept {
  return call_guarded<PyObject*>(nullptr, [&]() -> std::expected<PyObject*, PythonError> {
    // Borrowed from the caller for the whole call; binding does not touch reference counts.
    std::array<PyObject*, 2> slots{};
    if (auto bound = bind_arguments(parameters, args, nargs, kwnames, slots); !bound) {
      return std::unexpected(std::move(bound.error()));
    }
    std::expected<std::string_view, PythonError> path = convert_text(slots[0]);
    if (!path) return std::unexpected(wrap_with_argument_name("file_path", std::move(path.error())));
    std::expected<std::uint64_t, PythonError> width = convert_u64(slots[1]);
    if (!width) return std::unexpected(wrap_with_argument_name("n_digits", std::move(width.error())));
    // The reader has closed the file by the time it returns or fails; a signal handler that
    // raises ends it with that exception set.
    return columns_to_python(read_plot_file(*path, *width, python_signal_check())).release();
  });
}

}  // namespace quorvel
