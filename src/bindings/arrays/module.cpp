// The extension behind quorvel_arrays: `_reader.read` and `_reader.scan`, their arguments by
// position or keyword, their results named. The arguments are converted with the interpreter's
// lock held, the file is read and parsed without it, and the results are built once it is taken
// back. Nothing is written to the console: every problem is raised as the exception a Python user
// expects. A new read option is a field of ArrayRequest, a parameter below and a line in read_plot.

#include <Python.h>

#if defined(QUORVEL_DEBUG_INTERPRETER) != defined(Py_DEBUG)
#error "the Python headers do not match the interpreter's build (debug or not)"
#endif

#include <array>
#include <expected>
#include <new>
#include <span>
#include <string_view>

#include "bindings/arrays/arguments.h"
#include "bindings/arrays/compression.h"
#include "bindings/arrays/detached_call.h"
#include "bindings/arrays/folder_watch.h"
#include "bindings/arrays/module_state.h"
#include "bindings/arrays/results.h"
#include "bindings/arrays/stop_token.h"
#include "bindings/arrays/values_buffer.h"
#include "bindings/owned_ref.h"
#include "bindings/python_error.h"
#include "reader/readers/array_reader.h"

namespace quorvel::arrays {
namespace {

std::unexpected<PythonError> pending() { return std::unexpected(PythonError::pending()); }

// Moves a conversion's value into `target`, or gives its error.
template <class Value, class Target>
bool take(std::expected<Value, PythonError>&& converted, Target& target, std::optional<PythonError>& error) {
  if (!converted) {
    error.emplace(std::move(converted.error()));
    return false;
  }
  target = std::move(*converted);
  return true;
}

// A call's arguments bound, its stop token and path converted first (so their errors come first).
struct BoundCall {
  ReadStop* stop;
  PathArgument path;
};

std::expected<BoundCall, PythonError> bind_call(PyObject* module, const Signature& signature, PyObject* const* args,
                                                Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> given,
                                                std::size_t stop_slot) {
  if (auto bound = bind_arguments(signature, args, nargs, kwnames, given); !bound) {
    return std::unexpected(std::move(bound.error()));
  }
  auto stop = convert_stop(module, given[stop_slot]);
  if (!stop) return std::unexpected(std::move(stop.error()));
  auto path = convert_path(given[0]);
  if (!path) return std::unexpected(std::move(path.error()));
  return BoundCall{.stop = *stop, .path = std::move(*path)};
}

constexpr std::array<std::string_view, 9> read_parameters{"path",  "n_digits",   "columns", "stop",    "blocks",
                                                          "threads", "count_from", "follow", "count_to"};
constexpr Signature read_signature{.name = "read", .parameters = read_parameters, .required = 3, .most_positional = 8};

std::expected<OwnedRef, PythonError> read_plot(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                               PyObject* kwnames) {
  std::array<PyObject*, read_parameters.size()> given{};
  auto call = bind_call(module, read_signature, args, nargs, kwnames, given, 3);
  if (!call) return std::unexpected(std::move(call.error()));
  // The request's texts are owned by the call's path and the request itself, not by objects that
  // another thread could change while the lock is released.
  ArrayRequest request;
  request.path = call->path.bytes();
  std::optional<PythonError> error;
  const bool converted = take(convert_n_digits(given[1]), request.n_digits, error) &&
                         take(convert_columns(given[2]), request.columns, error) &&
                         take(convert_blocks(given[4]), request.blocks, error) &&
                         take(convert_threads(given[5]), request.threads, error) &&
                         take(convert_block_start(given[6]), request.count_from, error) &&
                         take(convert_flag(given[7]), request.follow, error) &&
                         take(convert_block_start(given[8]), request.count_to, error);
  if (!converted) return std::unexpected(std::move(*error));
  return call_detached<ArrayRead>(
      module, call->path, call->stop,
      [&](platform::InterruptCheck interrupt) {
        request.interrupt = interrupt;
        return read_plot_arrays(request);
      },
      [&](ArrayRead&& read) { return build_read_result(module, std::move(read)); });
}

constexpr std::array<std::string_view, 6> scan_parameters{"path", "n_digits", "stop", "threads", "count_from",
                                                         "first_values"};
constexpr Signature scan_signature{.name = "scan", .parameters = scan_parameters, .required = 2, .most_positional = 4};

std::expected<OwnedRef, PythonError> scan_plot(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                               PyObject* kwnames) {
  std::array<PyObject*, scan_parameters.size()> given{};
  auto call = bind_call(module, scan_signature, args, nargs, kwnames, given, 2);
  if (!call) return std::unexpected(std::move(call.error()));
  ScanRequest request{.path = call->path.bytes()};
  std::optional<PythonError> error;
  const bool converted = take(convert_n_digits(given[1]), request.n_digits, error) &&
                         take(convert_threads(given[3]), request.threads, error) &&
                         take(convert_block_start(given[4]), request.count_from, error) &&
                         take(convert_flag(given[5]), request.first_values, error);
  if (!converted) return std::unexpected(std::move(*error));
  const std::uint64_t counted_from = request.count_from ? request.count_from->block : 0;
  return call_detached<PlotLayout>(
      module, call->path, call->stop,
      [&](platform::InterruptCheck interrupt) {
        request.interrupt = interrupt;
        return scan_plot_file(request);
      },
      [&](PlotLayout&& layout) {
        const std::uint64_t counted = layout.blocks - std::min(counted_from, layout.blocks);
        return build_scan_result(module, std::move(layout), counted);
      });
}

std::expected<OwnedRef, PythonError> watch_folder_of(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                                     PyObject* kwnames) {
  if (nargs != 1 || (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0)) {
    return std::unexpected(PythonError::deferred(PythonError::DeferredType::TypeError, "watch_folder() takes one argument"));
  }
  return watch_folder(state_of(module).folder_watch_type, args[0]);
}

// The entries: the one place where an error becomes the raised exception.
template <std::expected<OwnedRef, PythonError> (*Call)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  try {
    std::expected<OwnedRef, PythonError> result = Call(module, args, nargs, kwnames);
    if (result) return result->release();
    std::move(result.error()).restore();
    return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "quorvel_arrays: unexpected internal error");
    return nullptr;
  }
}

PyMethodDef methods[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<&read_plot>)), METH_FASTCALL | METH_KEYWORDS,
     "read(path, n_digits, columns, stop=None, blocks=None, threads=1, count_from=None, follow=False, *, count_to=None)\n"
     "-> ReadResult or None\n\n"
     "Reads a plot file without the interpreter's lock; quorvel_arrays.read is the public face. A "
     "read that its StopToken stops raises InterruptedError. None: a followed file has no block yet."},
    {"watch_folder", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<&watch_folder_of>)), METH_FASTCALL | METH_KEYWORDS,
     "watch_folder(path, /) -> FolderWatch or None\n\nA watch on the folder of `path`; None where the system has none."},
    {"compression", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<&compression_of>)), METH_FASTCALL | METH_KEYWORDS,
     "compression(first_bytes, /) -> str or None\n\nThe compressed format a file's first bytes name; None for a plain file."},
    {"scan", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<&scan_plot>)), METH_FASTCALL | METH_KEYWORDS,
     "scan(path, n_digits, stop=None, threads=1, *, count_from=None, first_values=False) -> ScanResult\n\n"
     "Counts the blocks of a plot file without parsing a value; quorvel_arrays.scan is the public face."},
    {nullptr, nullptr, 0, nullptr},
};

std::expected<void, PythonError> exec_module(PyObject* module) {
  std::expected<OwnedRef, PythonError> type = make_values_type(module);
  if (!type) return std::unexpected(std::move(type.error()));
  state_of(module).values_type = reinterpret_cast<PyTypeObject*>(type->release());
  if (PyModule_AddObjectRef(module, "Values", reinterpret_cast<PyObject*>(state_of(module).values_type)) < 0) {
    return pending();
  }
  std::expected<OwnedRef, PythonError> token = make_stop_token_type(module);
  if (!token) return std::unexpected(std::move(token.error()));
  state_of(module).stop_token_type = reinterpret_cast<PyTypeObject*>(token->release());
  if (PyModule_AddObjectRef(module, "StopToken", reinterpret_cast<PyObject*>(state_of(module).stop_token_type)) < 0) {
    return pending();
  }
  std::expected<OwnedRef, PythonError> watch = make_folder_watch_type(module);
  if (!watch) return std::unexpected(std::move(watch.error()));
  state_of(module).folder_watch_type = reinterpret_cast<PyTypeObject*>(watch->release());
  std::expected<OwnedRef, PythonError> read_result = make_read_result_type();
  if (!read_result) return std::unexpected(std::move(read_result.error()));
  state_of(module).read_result_type = reinterpret_cast<PyTypeObject*>(read_result->release());
  std::expected<OwnedRef, PythonError> scan_result = make_scan_result_type();
  if (!scan_result) return std::unexpected(std::move(scan_result.error()));
  state_of(module).scan_result_type = reinterpret_cast<PyTypeObject*>(scan_result->release());
  // The package imports its errors before this module, so the lookup finds them loaded.
  OwnedRef errors = OwnedRef::steal(PyImport_ImportModule("quorvel_arrays._errors"));
  if (!errors) return pending();
  state_of(module).plot_file_error = PyObject_GetAttrString(errors.get(), "PlotFileError");
  if (state_of(module).plot_file_error == nullptr) return pending();
  state_of(module).selection_problem = PyObject_GetAttrString(errors.get(), "SelectionProblem");
  if (state_of(module).selection_problem == nullptr) return pending();
  return {};
}

// The module's execution step, an entry as read is.
int exec_slot(PyObject* module) noexcept {
  try {
    std::expected<void, PythonError> done = exec_module(module);
    if (done) return 0;
    std::move(done.error()).restore();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "quorvel_arrays: unexpected internal error");
  }
  return -1;
}

int traverse(PyObject* module, visitproc visit, void* arg) {
  Py_VISIT(state_of(module).values_type);
  Py_VISIT(state_of(module).stop_token_type);
  Py_VISIT(state_of(module).folder_watch_type);
  Py_VISIT(state_of(module).read_result_type);
  Py_VISIT(state_of(module).scan_result_type);
  Py_VISIT(state_of(module).plot_file_error);
  Py_VISIT(state_of(module).selection_problem);
  return 0;
}

int clear(PyObject* module) {
  Py_CLEAR(state_of(module).values_type);
  Py_CLEAR(state_of(module).stop_token_type);
  Py_CLEAR(state_of(module).folder_watch_type);
  Py_CLEAR(state_of(module).read_result_type);
  Py_CLEAR(state_of(module).scan_result_type);
  Py_CLEAR(state_of(module).plot_file_error);
  Py_CLEAR(state_of(module).selection_problem);
  return 0;
}

void free_module(void* module) { (void)clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_slot)},
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef definition{
    PyModuleDef_HEAD_INIT,
    "quorvel_arrays._reader",
    "The compiled reader behind quorvel_arrays.",
    sizeof(ModuleState),
    methods,
    slots,
    traverse,
    clear,
    free_module,
};

}  // namespace
}  // namespace quorvel::arrays

PyMODINIT_FUNC PyInit__reader() noexcept { return PyModuleDef_Init(&quorvel::arrays::definition); }
