#include "lib/read_kavrine.h"

#include <array>
#include <string_view>

#include "binding/arguments.h"
#include "failure/python/call_guard.h"
#include "lib/result_conversion.h"
#include "reader.h"

namespace quorvel {
namespace {

constexpr std::array<std::string_view, 2> positional_names{"file_path", "n_digits"};

constexpr ParameterDescription parameters{
    .function_name = "rust_read_kavrine",
    .owner_class = {},
    .positional = positional_names,
    .positional_only = 0,
    .required_positional = 2,
    .keyword_only = {},
};

}  // namespace

PyObject* read_kavrine_entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) noexcept {
  return call_guarded<PyObject*>(nullptr, [&]() -> std::expected<PyObject*, PyErr> {
    // Borrowed from the caller for the whole call; binding does not touch reference counts.
    std::array<PyObject*, 2> slots{};
    if (std::optional<PyErr> error = bind_arguments(parameters, args, nargs, kwnames, slots)) {
      return std::unexpected(std::move(*error));
    }
    std::expected<std::string_view, PyErr> path = convert_text(slots[0]);
    if (!path) return std::unexpected(wrap_with_argument_name("file_path", std::move(path.error())));
    std::expected<std::uint64_t, PyErr> width = convert_u64(slots[1]);
    if (!width) return std::unexpected(wrap_with_argument_name("n_digits", std::move(width.error())));
    // The reader has closed the file by the time it returns or fails.
    return columns_to_python(read_plot_file(*path, *width)).release();
  });
}

}  // namespace quorvel
