// The extension behind quorvel_arrays: `_reader.read(path, n_digits, columns, stop=None, blocks=None,
// threads=1, count_from=None)` and `_reader.scan(path, n_digits, stop=None)`. The arguments are
// converted with the interpreter's lock held, the file is read and parsed without it, and the
// names and the value buffer are built once it is taken back. Nothing is written to the console:
// every problem is raised as the exception a Python user expects.

#include <Python.h>

#if defined(QUORVEL_DEBUG_INTERPRETER) != defined(Py_DEBUG)
#error "the Python headers do not match the interpreter's build (debug or not)"
#endif

#include <cerrno>
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

// What the read without the lock ended with.
struct OutOfMemory {};
struct Interrupted {};  // a signal handler raised (its exception is set), or the stop token said stop

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

// Runs `call` (the read or the scan) and catches what it throws into the outcome.
template <class Result, class Call>
auto run_detached(ReadStop* stop, Call&& call) noexcept
    -> std::variant<Result, OpenError, PlotDefect, SelectionError, NotSeekable, OutOfMemory, Interrupted> {
  try {
    std::optional<ReadStop::Reading> reading;
    if (stop != nullptr) {
      reading.emplace(*stop);
      if (stop->requested()) return Interrupted{};
    }
    return call();
  } catch (const CallerError&) {
    return Interrupted{};
  } catch (const OpenError& error) {
    return error;
  } catch (const PlotDefect& defect) {
    return defect;
  } catch (const SelectionError& error) {
    return error;
  } catch (const NotSeekable& error) {
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

PyObject* raise_open_error(const OpenError& open, PyObject* filename) {
  const IoError& error = open.error;
  if (error.form() != IoError::Form::Os) {
    PyErr_SetString(PyExc_OSError, error.display().c_str());
    return nullptr;
  }
  // OSError picks its subclass (FileNotFoundError, PermissionError, …) from the code.
  const std::string text = platform::os_error_message(error.os_code());
  OwnedRef exception = OwnedRef::steal(
      PyObject_CallFunction(PyExc_OSError, "isO", static_cast<int>(error.os_code()), text.c_str(), filename));
  if (exception) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())), exception.get());
  return nullptr;
}

PyObject* raise_defect(PyObject* module, const PlotDefect& defect, PyObject* path) {
  PyObject* type = state_of(module).plot_file_error;
  OwnedRef column = defect.column ? OwnedRef::steal(PyLong_FromUnsignedLongLong(*defect.column))
                                  : OwnedRef::steal(Py_NewRef(Py_None));
  if (!column) return nullptr;
  OwnedRef exception = OwnedRef::steal(PyObject_CallFunction(
      type, "s#OKO", defect.reason.data(), static_cast<Py_ssize_t>(defect.reason.size()), path,
      static_cast<unsigned long long>(defect.line), column.get()));
  if (exception) PyErr_SetObject(type, exception.get());
  return nullptr;
}

// The problem as data: which choice, the positions a name names, the file's parameter count.
PyObject* raise_selection_error(PyObject* module, const SelectionError& error) {
  OwnedRef positions = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(error.positions.size())));
  if (!positions) return nullptr;
  for (std::size_t i = 0; i < error.positions.size(); ++i) {
    PyObject* position = PyLong_FromUnsignedLongLong(error.positions[i]);
    if (position == nullptr) return nullptr;
    PyTuple_SET_ITEM(positions.get(), static_cast<Py_ssize_t>(i), position);
  }
  PyObject* type = state_of(module).selection_problem;
  OwnedRef exception = OwnedRef::steal(PyObject_CallFunction(type, "nOK", static_cast<Py_ssize_t>(error.choice),
                                                             positions.get(),
                                                             static_cast<unsigned long long>(error.parameters)));
  if (exception) PyErr_SetObject(type, exception.get());
  return nullptr;
}

OwnedRef text_object(std::string_view text) {
  return OwnedRef::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
}

PyObject* build_result(PyObject* module, ArrayRead&& read) {
  OwnedRef header = text_object(read.header);
  if (!header) return nullptr;
  OwnedRef names = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(read.names.size())));
  if (!names) return nullptr;
  for (std::size_t i = 0; i < read.names.size(); ++i) {
    OwnedRef name = text_object(read.names[i]);
    if (!name) return nullptr;
    PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), name.release());
  }
  const std::size_t blocks = read.values.rows();
  OwnedRef values = OwnedRef::steal(make_values(state_of(module).values_type, std::move(read.values)));
  if (!values) return nullptr;
  OwnedRef next = read.next ? OwnedRef::steal(Py_BuildValue("(KK)", static_cast<unsigned long long>(read.next->block),
                                                            static_cast<unsigned long long>(read.next->offset)))
                            : OwnedRef::steal(Py_NewRef(Py_None));
  if (!next) return nullptr;
  return Py_BuildValue("(NNNKKN)", header.release(), names.release(), values.release(),
                       static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(read.n_digits),
                       next.release());
}

// quorvel_arrays checks the arguments and words every message a user reads; what reaches this
// private entry is only kept from doing harm, with terse errors.
bool convert_n_digits(PyObject* object, std::optional<std::uint64_t>& n_digits) {
  if (object == Py_None) return true;
  const long long value = PyLong_AsLongLong(object);
  if (value == -1 && PyErr_Occurred()) return false;
  if (value < 1) {
    PyErr_SetString(PyExc_ValueError, "n_digits below 1");
    return false;
  }
  n_digits = static_cast<std::uint64_t>(value);
  return true;
}

bool convert_columns(PyObject* object, std::optional<std::vector<ColumnChoice>>& columns) {
  if (object == Py_None) return true;
  if (!PyTuple_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "columns: a tuple or None");
    return false;
  }
  std::vector<ColumnChoice> choices;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(object); ++i) {
    PyObject* item = PyTuple_GET_ITEM(object, i);
    if (PyUnicode_Check(item)) {
      Py_ssize_t size = 0;
      const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
      if (utf8 == nullptr) return false;
      choices.emplace_back(std::string(utf8, static_cast<std::size_t>(size)));
    } else if (PyLong_Check(item)) {
      // A position beyond 64 bits is out of range all the same: kept at the nearest end.
      int overflow = 0;
      const long long position = PyLong_AsLongLongAndOverflow(item, &overflow);
      if (position == -1 && PyErr_Occurred()) return false;
      choices.emplace_back(overflow == 0 ? static_cast<std::int64_t>(position)
                                         : (overflow > 0 ? std::numeric_limits<std::int64_t>::max()
                                                        : std::numeric_limits<std::int64_t>::min()));
    } else {
      PyErr_SetString(PyExc_TypeError, "columns: str names and int positions");
      return false;
    }
  }
  columns = std::move(choices);
  return true;
}

// An int or None, kept at the nearest end of 64 bits.
bool convert_bound(PyObject* object, std::optional<std::int64_t>& bound) {
  if (object == Py_None) return true;
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (value == -1 && PyErr_Occurred()) return false;
  bound = overflow == 0 ? static_cast<std::int64_t>(value)
                        : (overflow > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min());
  return true;
}

// (start, stop), each an int or None; or None for every block.
bool convert_blocks(PyObject* object, std::optional<BlockRange>& blocks) {
  if (object == Py_None) return true;
  if (!PyTuple_Check(object) || PyTuple_GET_SIZE(object) != 2) {
    PyErr_SetString(PyExc_TypeError, "blocks: a (start, stop) tuple or None");
    return false;
  }
  BlockRange range;
  if (!convert_bound(PyTuple_GET_ITEM(object, 0), range.start)) return false;
  if (!convert_bound(PyTuple_GET_ITEM(object, 1), range.stop)) return false;
  blocks = range;
  return true;
}

// (block, offset) from an earlier scan, or None.
bool convert_count_from(PyObject* object, std::optional<BlockStart>& start) {
  if (object == Py_None) return true;
  unsigned long long block = 0;
  unsigned long long offset = 0;
  if (!PyArg_ParseTuple(object, "KK", &block, &offset)) return false;
  start = BlockStart{.block = block, .offset = offset};
  return true;
}

bool convert_threads(PyObject* object, std::size_t& threads) {
  const Py_ssize_t value = PyLong_AsSsize_t(object);
  if (value == -1 && PyErr_Occurred()) return false;
  if (value < 1) {
    PyErr_SetString(PyExc_ValueError, "threads below 1");
    return false;
  }
  threads = static_cast<std::size_t>(value);
  return true;
}

PyObject* raise_not_seekable(PyObject* filename) {
  OwnedRef exception = OwnedRef::steal(PyObject_CallFunction(
      PyExc_OSError, "isO", ESPIPE, "a range of blocks needs a file that can seek", filename));
  if (exception) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())), exception.get());
  return nullptr;
}

// What a call ended with, without the lock.
template <class Result>
using Outcome = std::variant<Result, OpenError, PlotDefect, SelectionError, NotSeekable, OutOfMemory, Interrupted>;

// The path argument as the reader takes it (bytes as the file system encodes them), as open()'s
// errors name it (its str or bytes form), and as messages show it (a str).
struct PathArgument {
  OwnedRef encoded;
  OwnedRef fspath;
  OwnedRef shown;

  std::string_view bytes() const {
    return {PyBytes_AS_STRING(encoded.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(encoded.get()))};
  }
};

std::optional<PathArgument> convert_path(PyObject* object) {
  PyObject* encoded_raw = nullptr;
  if (!PyUnicode_FSConverter(object, &encoded_raw)) return std::nullopt;
  PathArgument path{.encoded = OwnedRef::steal(encoded_raw), .fspath = OwnedRef::steal(PyOS_FSPath(object)), .shown = {}};
  if (!path.fspath) return std::nullopt;
  path.shown = display_path(path.fspath.get());
  if (!path.shown) return std::nullopt;
  return path;
}

// Runs `call(interrupt)` without the lock (the token, kept alive by the caller whose argument it
// is, may stop it) and turns its outcome into the result `build` makes or the matching exception.
template <class Result, class Call, class Build>
PyObject* call_detached(PyObject* module, const PathArgument& path, ReadStop* stop, Call&& call, Build&& build) {
  DetachedCall detached{PyEval_SaveThread(), stop};
  const platform::InterruptCheck interrupt{.stop = &stop_requested, .context = &detached};
  Outcome<Result> outcome = run_detached<Result>(stop, [&] { return call(interrupt); });
  PyEval_RestoreThread(detached.state);

  if (auto* result = std::get_if<Result>(&outcome)) return build(std::move(*result));
  if (auto* open = std::get_if<OpenError>(&outcome)) return raise_open_error(*open, path.fspath.get());
  if (auto* defect = std::get_if<PlotDefect>(&outcome)) return raise_defect(module, *defect, path.shown.get());
  if (auto* selection = std::get_if<SelectionError>(&outcome)) return raise_selection_error(module, *selection);
  if (std::holds_alternative<NotSeekable>(outcome)) return raise_not_seekable(path.fspath.get());
  if (std::holds_alternative<Interrupted>(outcome)) {
    // Stopped by the token, not by a signal handler's exception.
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_InterruptedError, "the read was stopped");
    return nullptr;
  }
  return PyErr_NoMemory();
}

bool convert_stop(PyObject* module, PyObject* object, ReadStop*& stop) {
  if (object == Py_None) return true;
  stop = read_stop_of(object, state_of(module).stop_token_type);
  return stop != nullptr;
}

PyObject* read(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  try {
    if (nargs < 3 || nargs > 7) {
      PyErr_Format(PyExc_TypeError, "read() takes 3 to 7 positional arguments but %zd were given", nargs);
      return nullptr;
    }
    ReadStop* stop = nullptr;
    if (nargs > 3 && !convert_stop(module, args[3], stop)) return nullptr;
    std::optional<PathArgument> path = convert_path(args[0]);
    if (!path) return nullptr;

    // The request's texts are owned by `path` and the request itself, not by objects that
    // another thread could change while the lock is released.
    ArrayRequest request;
    request.path = path->bytes();
    if (!convert_n_digits(args[1], request.n_digits)) return nullptr;
    if (!convert_columns(args[2], request.columns)) return nullptr;
    if (nargs > 4 && !convert_blocks(args[4], request.blocks)) return nullptr;
    if (nargs > 5 && !convert_threads(args[5], request.threads)) return nullptr;
    if (nargs > 6 && !convert_count_from(args[6], request.count_from)) return nullptr;
    return call_detached<ArrayRead>(
        module, *path, stop,
        [&](platform::InterruptCheck interrupt) {
          request.interrupt = interrupt;
          return read_plot_arrays(request);
        },
        [&](ArrayRead&& read) { return build_result(module, std::move(read)); });
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "quorvel_arrays: unexpected internal error");
    return nullptr;
  }
}

// (header, names, n_digits or None, blocks, size, (stride, offsets)).
PyObject* build_scan(PlotLayout&& layout) {
  OwnedRef header = text_object(layout.preamble.header);
  if (!header) return nullptr;
  OwnedRef names = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(layout.preamble.names.size())));
  if (!names) return nullptr;
  for (std::size_t i = 0; i < layout.preamble.names.size(); ++i) {
    OwnedRef name = text_object(layout.preamble.names[i]);
    if (!name) return nullptr;
    PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), name.release());
  }
  OwnedRef offsets = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(layout.index.starts.size())));
  if (!offsets) return nullptr;
  for (std::size_t i = 0; i < layout.index.starts.size(); ++i) {
    PyObject* offset = PyLong_FromUnsignedLongLong(layout.index.starts[i]);
    if (offset == nullptr) return nullptr;
    PyTuple_SET_ITEM(offsets.get(), static_cast<Py_ssize_t>(i), offset);
  }
  OwnedRef width = layout.width == 0 ? OwnedRef::steal(Py_NewRef(Py_None))
                                     : OwnedRef::steal(PyLong_FromUnsignedLongLong(layout.width));
  if (!width) return nullptr;
  return Py_BuildValue("(NNNKK(KN))", header.release(), names.release(), width.release(),
                       static_cast<unsigned long long>(layout.blocks), static_cast<unsigned long long>(layout.size),
                       static_cast<unsigned long long>(layout.index.stride), offsets.release());
}

PyObject* scan(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  try {
    if (nargs < 2 || nargs > 3) {
      PyErr_Format(PyExc_TypeError, "scan() takes 2 or 3 positional arguments but %zd were given", nargs);
      return nullptr;
    }
    ReadStop* stop = nullptr;
    if (nargs > 2 && !convert_stop(module, args[2], stop)) return nullptr;
    std::optional<PathArgument> path = convert_path(args[0]);
    if (!path) return nullptr;
    ScanRequest request{.path = path->bytes()};
    if (!convert_n_digits(args[1], request.n_digits)) return nullptr;
    return call_detached<PlotLayout>(
        module, *path, stop,
        [&](platform::InterruptCheck interrupt) {
          request.interrupt = interrupt;
          return scan_plot_file(request);
        },
        [](PlotLayout&& layout) { return build_scan(std::move(layout)); });
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "quorvel_arrays: unexpected internal error");
    return nullptr;
  }
}

PyMethodDef methods[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&read)), METH_FASTCALL,
     "read(path, n_digits, columns, stop=None, blocks=None, threads=1, count_from=None, /)\n"
     "-> (header, names, values, blocks, n_digits, next)\n\n"
     "Reads a plot file without the interpreter's lock; quorvel_arrays.read is the public face. A "
     "read that its StopToken stops raises InterruptedError."},
    {"scan", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&scan)), METH_FASTCALL,
     "scan(path, n_digits, stop=None, /) -> (header, names, n_digits, blocks, size, (stride, offsets))\n\n"
     "Counts the blocks of a plot file without parsing a value; quorvel_arrays.scan is the public face."},
    {nullptr, nullptr, 0, nullptr},
};

int exec_module(PyObject* module) noexcept {
  PyObject* type = make_values_type(module);
  if (type == nullptr) return -1;
  state_of(module).values_type = reinterpret_cast<PyTypeObject*>(type);
  if (PyModule_AddObjectRef(module, "Values", type) < 0) return -1;
  PyObject* token = make_stop_token_type(module);
  if (token == nullptr) return -1;
  state_of(module).stop_token_type = reinterpret_cast<PyTypeObject*>(token);
  if (PyModule_AddObjectRef(module, "StopToken", token) < 0) return -1;
  // The package imports its errors before this module, so the lookup finds them loaded.
  OwnedRef errors = OwnedRef::steal(PyImport_ImportModule("quorvel_arrays._errors"));
  if (!errors) return -1;
  state_of(module).plot_file_error = PyObject_GetAttrString(errors.get(), "PlotFileError");
  if (state_of(module).plot_file_error == nullptr) return -1;
  state_of(module).selection_problem = PyObject_GetAttrString(errors.get(), "SelectionProblem");
  return state_of(module).selection_problem == nullptr ? -1 : 0;
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
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
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
