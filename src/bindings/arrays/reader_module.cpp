// The extension behind quorvel_arrays: `_reader.read(path, n_digits, columns, stop=None, blocks=None,
// threads=1, count_from=None)` and `_reader.scan(path, n_digits, stop=None, threads=1)`. The arguments are
// converted with the interpreter's lock held, the file is read and parsed without it, and the
// names and the value buffer are built once it is taken back. Nothing is written to the console:
// every problem is raised as the exception a Python user expects.

#include <Python.h>

#if defined(QUORVEL_DEBUG_INTERPRETER) != defined(Py_DEBUG)
#error "the Python headers do not match the interpreter's build (debug or not)"
#endif

#include <cerrno>
#include <expected>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <variant>

#include "failure/caller_error.h"
#include "platform/platform.h"
#include "bindings/arrays/folder_watch.h"
#include "bindings/arrays/stop_token.h"
#include "bindings/arrays/values_buffer.h"
#include "bindings/owned_ref.h"
#include "bindings/python_error.h"
#include "reader/readers/array_reader.h"
#include "reader/readers/read_stop.h"

namespace quorvel::arrays {
namespace {

struct ModuleState {
  PyTypeObject* values_type;
  PyTypeObject* stop_token_type;
  PyTypeObject* folder_watch_type;
  PyObject* plot_file_error;    // quorvel_arrays.PlotFileError, looked up once
  PyObject* selection_problem;  // and the selection problem that quorvel_arrays words
};

ModuleState& state_of(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

// The error of an interpreter call that failed.
std::unexpected<PythonError> pending() { return std::unexpected(PythonError::pending()); }

// What a call without the lock ended with.
struct OutOfMemory {};
struct Interrupted {};  // a signal handler raised (its exception is set), or the stop token said stop
template <class Result>
using Outcome = std::variant<Result, OpenError, PlotDefect, SelectionError, NotSeekable, NotYet, OutOfMemory, Interrupted>;

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
Outcome<Result> run_detached(ReadStop* stop, Call&& call) noexcept {
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
  } catch (const NotYet& error) {
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

// A range of blocks of a pipe or a device: OSError(ESPIPE), with the path as open() names it.
PythonError not_seekable_error(PyObject* filename) {
  OwnedRef exception = OwnedRef::steal(
      PyObject_CallFunction(PyExc_OSError, "isO", ESPIPE, "a range of blocks needs a file that can seek", filename));
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
  OwnedRef next = read.next ? OwnedRef::steal(Py_BuildValue("(KKK)", static_cast<unsigned long long>(read.next->block),
                                                            static_cast<unsigned long long>(read.next->offset),
                                                            static_cast<unsigned long long>(read.next->line)))
                            : OwnedRef::steal(Py_NewRef(Py_None));
  if (!next) return pending();
  OwnedRef file = read.file ? OwnedRef::steal(Py_BuildValue("(KK)", static_cast<unsigned long long>(read.file->device),
                                                            static_cast<unsigned long long>(read.file->index)))
                            : OwnedRef::steal(Py_NewRef(Py_None));
  if (!file) return pending();
  OwnedRef result = OwnedRef::steal(Py_BuildValue("(NNNKKNN)", header.release(), names.release(), values->release(),
                                                  static_cast<unsigned long long>(blocks),
                                                  static_cast<unsigned long long>(read.n_digits), next.release(),
                                                  file.release()));
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

// An int or None, kept at the nearest end of 64 bits.
std::expected<std::optional<std::int64_t>, PythonError> convert_bound(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (value == -1 && PyErr_Occurred()) return pending();
  if (overflow != 0) return overflow > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(value);
}

// (start, stop), each an int or None; or None for every block.
std::expected<std::optional<BlockRange>, PythonError> convert_blocks(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  if (!PyTuple_Check(object) || PyTuple_GET_SIZE(object) != 2) {
    return std::unexpected(PythonError::deferred(PythonError::DeferredType::TypeError, "blocks: a (start, stop) tuple or None"));
  }
  auto start = convert_bound(PyTuple_GET_ITEM(object, 0));
  if (!start) return std::unexpected(std::move(start.error()));
  auto stop = convert_bound(PyTuple_GET_ITEM(object, 1));
  if (!stop) return std::unexpected(std::move(stop.error()));
  return BlockRange{.start = *start, .stop = *stop};
}

// (block, offset) or (block, offset, line) from an earlier read or scan, or None.
std::expected<std::optional<BlockStart>, PythonError> convert_count_from(PyObject* object) {
  if (object == Py_None) return std::nullopt;
  unsigned long long block = 0;
  unsigned long long offset = 0;
  unsigned long long line = 0;
  if (!PyArg_ParseTuple(object, "KK|K", &block, &offset, &line)) return pending();
  return BlockStart{.block = block, .offset = offset, .line = line};
}

std::expected<std::size_t, PythonError> convert_threads(PyObject* object) {
  const Py_ssize_t value = PyLong_AsSsize_t(object);
  if (value == -1 && PyErr_Occurred()) return pending();
  if (value < 1) return std::unexpected(PythonError::deferred(PythonError::DeferredType::ValueError, "threads below 1"));
  return static_cast<std::size_t>(value);
}

std::expected<ReadStop*, PythonError> convert_stop(PyObject* module, PyObject* object) {
  if (object == Py_None) return nullptr;
  return read_stop_of(object, state_of(module).stop_token_type);
}

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

std::expected<PathArgument, PythonError> convert_path(PyObject* object) {
  PyObject* encoded_raw = nullptr;
  if (!PyUnicode_FSConverter(object, &encoded_raw)) return pending();
  PathArgument path{.encoded = OwnedRef::steal(encoded_raw), .fspath = OwnedRef::steal(PyOS_FSPath(object)), .shown = {}};
  if (!path.fspath) return pending();
  path.shown = display_path(path.fspath.get());
  if (!path.shown) return pending();
  return path;
}

// Runs `call(interrupt)` without the lock (the token, kept alive by the caller whose argument it
// is, may stop it) and turns its outcome into what `build` makes of the result, or the error.
template <class Result, class Call, class Build>
std::expected<OwnedRef, PythonError> call_detached(PyObject* module, const PathArgument& path, ReadStop* stop,
                                                   Call&& call, Build&& build) {
  DetachedCall detached{PyEval_SaveThread(), stop};
  const platform::InterruptCheck interrupt{.stop = &stop_requested, .context = &detached};
  Outcome<Result> outcome = run_detached<Result>(stop, [&] { return call(interrupt); });
  PyEval_RestoreThread(detached.state);

  if (auto* result = std::get_if<Result>(&outcome)) return build(std::move(*result));
  if (auto* open = std::get_if<OpenError>(&outcome)) return std::unexpected(open_error(*open, path.fspath.get()));
  if (auto* defect = std::get_if<PlotDefect>(&outcome)) {
    return std::unexpected(defect_error(module, *defect, path.shown.get()));
  }
  if (auto* selection = std::get_if<SelectionError>(&outcome)) return std::unexpected(selection_error(module, *selection));
  if (std::holds_alternative<NotSeekable>(outcome)) return std::unexpected(not_seekable_error(path.fspath.get()));
  if (std::holds_alternative<NotYet>(outcome)) return OwnedRef::steal(Py_NewRef(Py_None));
  if (std::holds_alternative<Interrupted>(outcome)) {
    // A signal handler's exception is pending; the stop token's stop has none.
    if (PyErr_Occurred()) return pending();
    return std::unexpected(PythonError::deferred(PythonError::DeferredType::InterruptedError, "the read was stopped"));
  }
  return std::unexpected(out_of_memory());
}

std::expected<OwnedRef, PythonError> read_plot(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs < 3 || nargs > 8) {
    return std::unexpected(PythonError::deferred(
        PythonError::DeferredType::TypeError,
        "read() takes 3 to 8 positional arguments but " + std::to_string(nargs) + " were given"));
  }
  auto stop = nargs > 3 ? convert_stop(module, args[3]) : nullptr;
  if (!stop) return std::unexpected(std::move(stop.error()));
  auto path = convert_path(args[0]);
  if (!path) return std::unexpected(std::move(path.error()));

  // The request's texts are owned by `path` and the request itself, not by objects that another
  // thread could change while the lock is released.
  ArrayRequest request;
  request.path = path->bytes();
  auto n_digits = convert_n_digits(args[1]);
  if (!n_digits) return std::unexpected(std::move(n_digits.error()));
  request.n_digits = *n_digits;
  auto columns = convert_columns(args[2]);
  if (!columns) return std::unexpected(std::move(columns.error()));
  request.columns = std::move(*columns);
  if (nargs > 4) {
    auto blocks = convert_blocks(args[4]);
    if (!blocks) return std::unexpected(std::move(blocks.error()));
    request.blocks = *blocks;
  }
  if (nargs > 5) {
    auto threads = convert_threads(args[5]);
    if (!threads) return std::unexpected(std::move(threads.error()));
    request.threads = *threads;
  }
  if (nargs > 6) {
    auto count_from = convert_count_from(args[6]);
    if (!count_from) return std::unexpected(std::move(count_from.error()));
    request.count_from = *count_from;
  }
  if (nargs > 7) {
    const int follow = PyObject_IsTrue(args[7]);
    if (follow < 0) return pending();
    request.follow = follow != 0;
  }
  return call_detached<ArrayRead>(
      module, *path, *stop,
      [&](platform::InterruptCheck interrupt) {
        request.interrupt = interrupt;
        return read_plot_arrays(request);
      },
      [&](ArrayRead&& read) { return build_result(module, std::move(read)); });
}

// The numbers as a tuple of ints.
std::expected<OwnedRef, PythonError> tuple_of(const std::vector<std::uint64_t>& numbers) {
  OwnedRef tuple = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(numbers.size())));
  if (!tuple) return pending();
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    PyObject* number = PyLong_FromUnsignedLongLong(numbers[i]);
    if (number == nullptr) return pending();
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), number);
  }
  return tuple;
}

// (header, names, n_digits or None, blocks, size, (noted blocks, their offsets)).
std::expected<OwnedRef, PythonError> build_scan(PlotLayout&& layout) {
  OwnedRef header = text_object(layout.preamble.header);
  if (!header) return pending();
  OwnedRef names = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(layout.preamble.names.size())));
  if (!names) return pending();
  for (std::size_t i = 0; i < layout.preamble.names.size(); ++i) {
    OwnedRef name = text_object(layout.preamble.names[i]);
    if (!name) return pending();
    PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i), name.release());
  }
  auto noted = tuple_of(layout.index.blocks);
  if (!noted) return std::unexpected(std::move(noted.error()));
  auto offsets = tuple_of(layout.index.starts);
  if (!offsets) return std::unexpected(std::move(offsets.error()));
  OwnedRef width = layout.width == 0 ? OwnedRef::steal(Py_NewRef(Py_None))
                                     : OwnedRef::steal(PyLong_FromUnsignedLongLong(layout.width));
  if (!width) return pending();
  OwnedRef result = OwnedRef::steal(Py_BuildValue(
      "(NNNKK(NN))", header.release(), names.release(), width.release(), static_cast<unsigned long long>(layout.blocks),
      static_cast<unsigned long long>(layout.size), noted->release(), offsets->release()));
  if (!result) return pending();
  return result;
}

std::expected<OwnedRef, PythonError> scan_plot(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs < 2 || nargs > 4) {
    return std::unexpected(PythonError::deferred(
        PythonError::DeferredType::TypeError,
        "scan() takes 2 to 4 positional arguments but " + std::to_string(nargs) + " were given"));
  }
  auto stop = nargs > 2 ? convert_stop(module, args[2]) : nullptr;
  if (!stop) return std::unexpected(std::move(stop.error()));
  auto path = convert_path(args[0]);
  if (!path) return std::unexpected(std::move(path.error()));
  ScanRequest request{.path = path->bytes()};
  auto n_digits = convert_n_digits(args[1]);
  if (!n_digits) return std::unexpected(std::move(n_digits.error()));
  request.n_digits = *n_digits;
  if (nargs > 3) {
    auto threads = convert_threads(args[3]);
    if (!threads) return std::unexpected(std::move(threads.error()));
    request.threads = *threads;
  }
  return call_detached<PlotLayout>(
      module, *path, *stop,
      [&](platform::InterruptCheck interrupt) {
        request.interrupt = interrupt;
        return scan_plot_file(request);
      },
      [](PlotLayout&& layout) { return build_scan(std::move(layout)); });
}

std::expected<OwnedRef, PythonError> watch_folder_of(PyObject* module, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs != 1) {
    return std::unexpected(PythonError::deferred(PythonError::DeferredType::TypeError, "watch_folder() takes one argument"));
  }
  return watch_folder(state_of(module).folder_watch_type, args[0]);
}

// The entries: the one place where an error becomes the raised exception.
template <std::expected<OwnedRef, PythonError> (*Call)(PyObject*, PyObject* const*, Py_ssize_t)>
PyObject* entry(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  try {
    std::expected<OwnedRef, PythonError> result = Call(module, args, nargs);
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
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<&read_plot>)), METH_FASTCALL,
     "read(path, n_digits, columns, stop=None, blocks=None, threads=1, count_from=None, follow=False, /)\n"
     "-> (header, names, values, blocks, n_digits, next, file) or None\n\n"
     "Reads a plot file without the interpreter's lock; quorvel_arrays.read is the public face. A "
     "read that its StopToken stops raises InterruptedError. None: a followed file has no block yet."},
    {"watch_folder", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<&watch_folder_of>)), METH_FASTCALL,
     "watch_folder(path, /) -> FolderWatch or None\n\nA watch on the folder of `path`; None where the system has none."},
    {"scan", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&entry<&scan_plot>)), METH_FASTCALL,
     "scan(path, n_digits, stop=None, threads=1, /) -> (header, names, n_digits, blocks, size, (noted blocks, offsets))\n\n"
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
  Py_VISIT(state_of(module).plot_file_error);
  Py_VISIT(state_of(module).selection_problem);
  return 0;
}

int clear(PyObject* module) {
  Py_CLEAR(state_of(module).values_type);
  Py_CLEAR(state_of(module).stop_token_type);
  Py_CLEAR(state_of(module).folder_watch_type);
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
