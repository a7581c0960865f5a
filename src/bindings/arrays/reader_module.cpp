// The extension behind quorvel_arrays: `_reader.read(path, n_digits, columns, stop=None)`. The arguments are
// converted with the interpreter's lock held, the file is read and parsed without it, and the
// names and the value buffer are built once it is taken back. Nothing is written to the console:
// every problem is raised as the exception a Python user expects.

#include <Python.h>

#if defined(QUORVEL_DEBUG_INTERPRETER) != defined(Py_DEBUG)
#error "the Python headers do not match the interpreter's build (debug or not)"
#endif

#include <expected>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <variant>

#include "failure/caller_error.h"
#include "platform/platform.h"
#include "bindings/arrays/stop_token.h"
#include "bindings/arrays/values_buffer.h"
#include "bindings/owned_ref.h"
#include "bindings/python_error.h"
#include "reader/array_reader.h"
#include "reader/read_stop.h"

namespace quorvel::arrays {
namespace {

struct ModuleState {
  PyTypeObject* values_type;
  PyTypeObject* stop_token_type;
  PyObject* plot_file_error;    // quorvel_arrays.PlotFileError, looked up once
  PyObject* selection_problem;  // and the selection problem that quorvel_arrays words
};

ModuleState& state_of(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

// The error of an interpreter call that failed.
std::unexpected<PythonError> pending() { return std::unexpected(PythonError::pending()); }

// What the read without the lock ended with.
struct OutOfMemory {};
struct Interrupted {};  // a signal handler raised (its exception is set), or the stop token said stop
using Outcome = std::variant<ArrayRead, OpenError, PlotDefect, SelectionError, OutOfMemory, Interrupted>;

// The read's interrupt check: the stop token's flag, then the interpreter's pending signal
// handlers, run with the lock taken back (on the main thread; elsewhere there are none to run).
struct DetachedCall {
  PyThreadState* state;
  const ReadStop* stop;
};

bool stop_requested(void* context) {
  auto& call = *static_cast<DetachedCall*>(context);
  if (call.stop != nullptr && call.stop->requested()) return true;
  PyEval_RestoreThread(call.state);
  const bool raised = PyErr_CheckSignals() < 0;
  call.state = PyEval_SaveThread();
  return raised;
}

Outcome read_detached(const ArrayRequest& request, ReadStop* stop) noexcept {
  try {
    std::optional<ReadStop::Reading> reading;
    if (stop != nullptr) {
      reading.emplace(*stop);
      if (stop->requested()) return Interrupted{};
    }
    return read_plot_arrays(request);
  } catch (const CallerError&) {
    return Interrupted{};
  } catch (const OpenError& error) {
    return error;
  } catch (const PlotDefect& defect) {
    return defect;
  } catch (const SelectionError& error) {
    return error;
  } catch (...) {  // std::bad_alloc, or a size beyond what can be allocated
    return OutOfMemory{};
  }
}

// The path for messages: a str as given, or bytes decoded as the file system does.
OwnedRef display_path(PyObject* fspath) {
  if (PyUnicode_Check(fspath)) return OwnedRef::borrow(fspath);
  return OwnedRef::steal(PyUnicode_DecodeFSDefaultAndSize(PyBytes_AS_STRING(fspath), PyBytes_GET_SIZE(fspath)));
}

PythonError open_error(const OpenError& open, PyObject* filename) {
  const IoError& error = open.error;
  if (error.form() != IoError::Form::Os) {
    return PythonError::deferred(PythonError::DeferredType::OSError, error.display());
  }
  // OSError picks its subclass (FileNotFoundError, PermissionError, …) from the code.
  const std::string text = platform::os_error_message(error.os_code());
  OwnedRef exception = OwnedRef::steal(
      PyObject_CallFunction(PyExc_OSError, "isO", static_cast<int>(error.os_code()), text.c_str(), filename));
  if (!exception) return PythonError::pending();
  return PythonError::created(std::move(exception));
}

PythonError defect_error(PyObject* module, const PlotDefect& defect, PyObject* path) {
  PyObject* type = state_of(module).plot_file_error;
  OwnedRef column = defect.column ? OwnedRef::steal(PyLong_FromUnsignedLongLong(*defect.column))
                                  : OwnedRef::steal(Py_NewRef(Py_None));
  if (!column) return PythonError::pending();
  OwnedRef exception = OwnedRef::steal(PyObject_CallFunction(
      type, "s#OKO", defect.reason.data(), static_cast<Py_ssize_t>(defect.reason.size()), path,
      static_cast<unsigned long long>(defect.line), column.get()));
  if (!exception) return PythonError::pending();
  return PythonError::created(std::move(exception));
}

// The problem as data: which choice, the positions a name names, the file's parameter count.
PythonError selection_error(PyObject* module, const SelectionError& error) {
  OwnedRef positions = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(error.positions.size())));
  if (!positions) return PythonError::pending();
  for (std::size_t i = 0; i < error.positions.size(); ++i) {
    PyObject* position = PyLong_FromUnsignedLongLong(error.positions[i]);
    if (position == nullptr) return PythonError::pending();
    PyTuple_SET_ITEM(positions.get(), static_cast<Py_ssize_t>(i), position);
  }
  PyObject* type = state_of(module).selection_problem;
  OwnedRef exception = OwnedRef::steal(PyObject_CallFunction(type, "nOK", static_cast<Py_ssize_t>(error.choice),
                                                             positions.get(),
                                                             static_cast<unsigned long long>(error.parameters)));
  if (!exception) return PythonError::pending();
  return PythonError::created(std::move(exception));
}

// MemoryError, as the interpreter raises it when it runs out.
PythonError out_of_memory() {
  PyErr_NoMemory();
  return PythonError::pending();
}

OwnedRef text_object(std::string_view text) {
  return OwnedRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
}

std::expected<OwnedRef, PythonError> build_result(PyObject* module, ArrayRead&& read) {
  OwnedRef header = text_object(read.header);
  if (!header) return pending();
  OwnedRef names = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(read.names.size())));
  if (!names) return pending();
  for (std::size_t i = 0; i < read.names.size(); ++i) {
    OwnedRef name = text_object(read.names[i]);
    if (!name) return pending();
    PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), name.release());
  }
  const std::size_t blocks = read.values.rows();
  std::expected<OwnedRef, PythonError> values = make_values(state_of(module).values_type, std::move(read.values));
  if (!values) return std::unexpected(std::move(values.error()));
  OwnedRef result = OwnedRef::steal(Py_BuildValue("(NNNKK)", header.release(), names.release(), values->release(),
                                                  static_cast<unsigned long long>(blocks),
                                                  static_cast<unsigned long long>(read.n_digits)));
  if (!result) return pending();
  return result;
}

// quorvel_arrays checks the arguments and words every message a user reads; what reaches this
// private entry is only kept from doing harm, with terse errors.
std::expected<std::optional<std::uint64_t>, PythonError> convert_n_digits(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  const long long value = PyLong_AsLongLong(object);
  if (value == -1 && PyErr_Occurred()) return pending();
  if (value < 1) return std::unexpected(PythonError::deferred(PythonError::DeferredType::ValueError, "n_digits below 1"));
  return static_cast<std::uint64_t>(value);
}

std::expected<std::optional<std::vector<ColumnChoice>>, PythonError> convert_columns(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  if (!PyTuple_Check(object)) {
    return std::unexpected(PythonError::deferred(PythonError::DeferredType::TypeError, "columns: a tuple or None"));
  }
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
      int overflow = 0;
      const long long position = PyLong_AsLongLongAndOverflow(item, &overflow);
      if (position == -1 && PyErr_Occurred()) return pending();
      choices.emplace_back(overflow == 0 ? static_cast<std::int64_t>(position)
                                         : (overflow > 0 ? std::numeric_limits<std::int64_t>::max()
                                                        : std::numeric_limits<std::int64_t>::min()));
    } else {
      return std::unexpected(
          PythonError::deferred(PythonError::DeferredType::TypeError, "columns: str names and int positions"));
    }
  }
  return choices;
}

std::expected<OwnedRef, PythonError> read_plot(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 3 && nargs != 4) {
    return std::unexpected(PythonError::deferred(
        PythonError::DeferredType::TypeError,
        "read() takes 3 or 4 positional arguments but " + std::to_string(nargs) + " were given"));
  }
  ReadStop* stop = nullptr;
  if (nargs == 4 && args[3] != Py_None) {
    std::expected<ReadStop*, PythonError> token = read_stop_of(args[3], state_of(module).stop_token_type);
    if (!token) return std::unexpected(std::move(token.error()));
    stop = *token;
  }
  PyObject* encoded_raw = nullptr;
  if (!PyUnicode_FSConverter(args[0], &encoded_raw)) return pending();
  OwnedRef encoded = OwnedRef::steal(encoded_raw);
  // As open() does: the error's filename is the path's str or bytes form.
  OwnedRef fspath = OwnedRef::steal(PyOS_FSPath(args[0]));
  if (!fspath) return pending();
  OwnedRef path = display_path(fspath.get());
  if (!path) return pending();

  ArrayRequest request;
  request.path = std::string_view(PyBytes_AS_STRING(encoded.get()),
                                  static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get())));
  std::expected<std::optional<std::uint64_t>, PythonError> n_digits = convert_n_digits(args[1]);
  if (!n_digits) return std::unexpected(std::move(n_digits.error()));
  request.n_digits = *n_digits;
  std::expected<std::optional<std::vector<ColumnChoice>>, PythonError> columns = convert_columns(args[2]);
  if (!columns) return std::unexpected(std::move(columns.error()));
  request.columns = std::move(*columns);

  // The request's texts are owned by `encoded` and the request itself, not by objects that
  // another thread could change while the lock is released.
  // The token is kept alive by the caller, whose argument it is.
  DetachedCall call{PyEval_SaveThread(), stop};
  request.interrupt = {.stop = &stop_requested, .context = &call};
  Outcome outcome = read_detached(request, stop);
  PyEval_RestoreThread(call.state);

  if (auto* read = std::get_if<ArrayRead>(&outcome)) return build_result(module, std::move(*read));
  if (auto* open = std::get_if<OpenError>(&outcome)) return std::unexpected(open_error(*open, fspath.get()));
  if (auto* defect = std::get_if<PlotDefect>(&outcome)) return std::unexpected(defect_error(module, *defect, path.get()));
  if (auto* selection = std::get_if<SelectionError>(&outcome)) return std::unexpected(selection_error(module, *selection));
  if (std::holds_alternative<Interrupted>(outcome)) {
    // A signal handler's exception is pending; the stop token's stop has none.
    if (PyErr_Occurred()) return pending();
    return std::unexpected(PythonError::deferred(PythonError::DeferredType::InterruptedError, "the read was stopped"));
  }
  return std::unexpected(out_of_memory());
}

// The entry: the one place where an error becomes the raised exception.
PyObject* read(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  try {
    std::expected<OwnedRef, PythonError> result = read_plot(module, args, nargs);
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
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&read)), METH_FASTCALL,
     "read(path, n_digits, columns, stop=None, /) -> (header, names, values, blocks, n_digits)\n\n"
     "Reads a plot file without the interpreter's lock; quorvel_arrays.read is the public face. A "
     "read that its StopToken stops raises InterruptedError."},
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
  Py_VISIT(state_of(module).plot_file_error);
  Py_VISIT(state_of(module).selection_problem);
  return 0;
}

int clear(PyObject* module) {
  Py_CLEAR(state_of(module).values_type);
  Py_CLEAR(state_of(module).stop_token_type);
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
