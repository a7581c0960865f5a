"""quorvel_arrays as a library: values against the plain model of the format, selection, names,
errors, pickling, read_many and the conversions to pandas and xarray."""

import os
import pickle
import sys
import threading
import time

import numpy
import pytest

import quorvel_arrays as qa
from quorvel_arrays._optional import MissingLibrary
from conftest import plot_text
from plot_model import read_model


def plot_with_names(names, rows, width=12):
    """A plot file's text with these names and rows of values (as `%E` fields of `width`)."""
    lines = plot_text(len(names), [[f"{v:{width}.{width - 7}E}" for v in row] for row in rows], width).split("\n")
    lines[1 : 1 + len(names)] = names
    return "\n".join(lines)


def same_bits(a, b):
    return a.shape == b.shape and a.dtype == b.dtype and numpy.array_equal(a.view(numpy.uint32), b.view(numpy.uint32))


@pytest.mark.parametrize("n, blocks, width", [(1, 1, 12), (3, 5, 15), (10, 4, 12), (11, 3, 12), (23, 6, 15)])
@pytest.mark.parametrize("columns", [None, (-1, 0), (0, 0)])
def test_values_and_selection_agree_with_the_model(plot_file, n, blocks, width, columns):
    rng = numpy.random.default_rng(n * 100 + blocks)
    rows = rng.standard_normal((blocks, n)) * 10.0 ** rng.integers(-12, 12, (blocks, n))
    path = plot_file(plot_with_names([f"P{i}" for i in range(n)], rows, width))
    with open(path, "rb") as f:
        (first, others), _ = read_model(f.read(), width)
    picked = list(range(n)) if columns is None else [c % n for c in columns]
    plot = qa.read(path, columns=columns)
    assert same_bits(plot.values, numpy.array([first, *others], dtype=numpy.float32).T.reshape(blocks, n)[:, picked])
    assert (plot.names, plot.n_digits, len(plot), plot.path) == (tuple(f"P{i}" for i in picked), width, blocks, path)
    assert plot.values.flags.c_contiguous and plot.values.flags.writeable
    assert numpy.shares_memory(plot.time, plot.values)


def sample(tmp_path):
    """Names with surrounding blanks and a repeated X; two blocks."""
    path = tmp_path / "run42.plt"
    path.write_text(plot_with_names(["  TIME", "X ", "V", "\tX", "TEMP"], [[0, 1, 2, 3, 4], [0.5, 5, 6, 7, 8]]))
    return path


def test_names_columns_and_views(tmp_path):
    path = sample(tmp_path)
    plot = qa.read(path, 12)
    assert (plot.path, plot.header, plot.names) == (str(path), "PLOT FILE 5", ("TIME", "X", "V", "X", "TEMP"))
    assert [plot["TEMP"].tolist(), plot[-2].tolist(), plot[numpy.int64(2)].tolist()] == [[4, 8], [3, 7], [2, 6]]
    plot["V"][1] = -1  # a view: writes reach values
    assert plot.values[1, 2] == -1
    picked = qa.read(os.fsencode(path), columns=["TEMP", 0, -4])
    assert picked.names == ("TEMP", "TIME", "X") and picked.values.tolist() == [[4, 0, 1], [8, 0.5, 5]]
    assert picked.time.tolist() == [4, 8]  # the first column, whichever it is
    assert repr(plot) == f"Plot({str(path)!r}, parameters=5, blocks=2, n_digits=12)"


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda p: qa.read(p)["NOPE"], KeyError, "'NOPE' is not a parameter name of {p}"),
        (lambda p: qa.read(p)["X"], KeyError, "'X' names 2 parameters of {p} (positions 1 and 3): select it by position"),
        (lambda p: qa.read(p)[5], IndexError, "position 5 is out of range for the 5 parameters of {p}"),
        (lambda p: qa.read(p)[-6], IndexError, "position -6 is out of range for the 5 parameters of {p}"),
        (lambda p: qa.read(p)[True], TypeError, "a plot is indexed by a parameter name or position, not bool"),
        (lambda p: qa.read(p)[0:2], TypeError, "a plot is indexed by a parameter name or position, not slice"),
        (lambda p: iter(qa.read(p)), TypeError, "'Plot' object is not iterable"),  # len() counts blocks
        (lambda p: qa.read(p, True), TypeError, "n_digits must be an int >= 1 or None, not bool"),
        (lambda p: qa.read(p, 12.0), TypeError, "n_digits must be an int >= 1 or None, not float"),
        (lambda p: qa.read(p, 0), ValueError, "n_digits must be an int >= 1 or None, not 0"),
        (lambda p: qa.read(p, 2**70), ValueError, "n_digits must be at most 9223372036854775807, not 1180591620717411303424"),
        # The reader finds these in the file; the words are those of indexing a plot.
        (lambda p: qa.read(p, columns=[0, "NOPE"]), KeyError, "'NOPE' is not a parameter name of {p}"),
        (lambda p: qa.read(p, columns=["TIME", "X"]), KeyError,
         "'X' names 2 parameters of {p} (positions 1 and 3): select it by position"),
        (lambda p: qa.read(p, columns=[-6]), IndexError, "position -6 is out of range for the 5 parameters of {p}"),
        (lambda p: qa.read(p, columns=["TIME", 2**70]), IndexError,
         "position 1180591620717411303424 is out of range for the 5 parameters of {p}"),
        (lambda p: qa.read(p, columns="TIME"), TypeError, "columns must be an iterable of names and positions, not a bare str"),
        (lambda p: qa.read(p, columns=3), TypeError, "columns must be an iterable of names and positions, not int"),
        (lambda p: qa.read(p, columns=["TIME", 1.5]), TypeError, "columns[1] must be a str or an int, not float"),
        (lambda p: qa.read(p, columns=[False]), TypeError, "columns[0] must be a str or an int, not bool"),
        (lambda p: qa.read(p, columns=[]), ValueError, "columns must select at least one parameter"),
        (lambda p: qa.read(3), TypeError, "path must be a str, bytes or os.PathLike object, not int"),
        (lambda p: qa.read_many(p), TypeError, "paths must be an iterable of paths, not a single path"),
        (lambda p: qa.read_many([p], threads=0), ValueError, "threads must be an int >= 1 or None, not 0"),
        (lambda p: qa.read_many([p], threads=True), TypeError, "threads must be an int >= 1 or None, not bool"),
        (lambda p: qa.read_many([p, 3]), TypeError, "path must be a str, bytes or os.PathLike object, not int"),
    ],
)
def test_argument_errors(tmp_path, call, error, message):
    path = str(sample(tmp_path))
    with pytest.raises(error) as caught:
        call(path)
    assert caught.value.args == (message.format(p=path),)


def test_errors_found_in_the_file(tmp_path, plot_file):
    path = sample(tmp_path)
    for columns, error, words in [(["TIME", "NOPE"], KeyError, "'NOPE'"), (["X"], KeyError, "position"), ([5], IndexError, "5")]:
        with pytest.raises(error, match=words):
            qa.read(path, columns=columns)
    bad = plot_file("H 2\nA\nB\n--\n 1.00000E+00 2.0000XE+00\n")
    with pytest.raises(qa.PlotFileError) as caught:
        qa.read(bad, 12)
    error = caught.value
    assert isinstance(error, ValueError) and (error.path, error.line, error.column) == (bad, 5, 13)
    assert str(error) == f"{bad}:5:13: field 2 is not a number: ' 2.0000XE+00'"
    with pytest.raises(qa.PlotFileError, match="n_digits"):  # 25 bytes: no width fits two fields
        qa.read(plot_file("H 2\nA\nB\n--\n 1.00000E+00 2.00000E+000\n"))
    with pytest.raises(FileNotFoundError) as missing:
        qa.read(bad + ".nope")
    assert missing.value.filename == bad + ".nope"


@pytest.mark.parametrize("column, place", [(7, "run42.plt:15:7"), (None, "run42.plt:15")])
def test_plot_file_error_text_and_pickle(column, place):
    error = qa.PlotFileError("field 2 is not a number: ' 1.2E+0x'", "run42.plt", 15, column)
    error.add_note("while reading the batch")
    assert str(error) == f"{place}: field 2 is not a number: ' 1.2E+0x'"
    again = pickle.loads(pickle.dumps(error))
    assert (type(again), str(again), again.reason, again.path, again.line, again.column, again.__notes__) == (
        qa.PlotFileError, str(error), error.reason, "run42.plt", 15, column, ["while reading the batch"])


def test_pickle_round_trip(tmp_path):
    plot = qa.read(sample(tmp_path))
    again = pickle.loads(pickle.dumps(plot))
    assert same_bits(again.values, plot.values) and again.values.flags.writeable
    assert (again.names, again.path, again.header, again.n_digits) == (plot.names, plot.path, plot.header, 12)
    again.values[0, 0] = 9
    assert plot.values[0, 0] == 0
    with pytest.raises(KeyError, match="select it by position"):
        again["X"]


def test_read_many_keeps_order(plot_file):
    paths = [plot_file(plot_with_names(["T", "Y"], [[k, k * 2]] * (k + 1))) for k in range(7)]
    plots = qa.read_many(paths, 12, threads=3, columns=["Y"])
    assert [(p.path, p.values[:, 0].tolist()) for p in plots] == [(paths[k], [k * 2] * (k + 1)) for k in range(7)]
    assert qa.read_many([]) == []


@pytest.mark.parametrize("order", [("missing", "bad", "slow"), ("bad", "slow", "missing")])
def test_read_many_raises_the_first_failure_after_all_finished(tmp_path, order):
    """`slow` is a pipe whose content arrives late: the failure is raised only once it is read."""
    (tmp_path / "bad.plt").write_text("H 1\nA\n--\n     x\n")
    os.mkfifo(tmp_path / "slow.plt")

    def feed():
        time.sleep(0.3)
        with open(tmp_path / "slow.plt", "w") as pipe:
            pipe.write(plot_with_names(["T"], [[1]]))

    feeder = threading.Thread(target=feed)
    start = time.monotonic()
    feeder.start()
    try:
        with pytest.raises((OSError, qa.PlotFileError)) as caught:
            qa.read_many([tmp_path / f"{name}.plt" for name in order], 12, threads=3)
        assert time.monotonic() - start >= 0.3
        failed = caught.value.filename if order[0] == "missing" else caught.value.path
        assert (type(caught.value), failed) == ((FileNotFoundError, qa.PlotFileError)[order[0] == "bad"], str(tmp_path / f"{order[0]}.plt"))
    finally:
        if feeder.is_alive():  # the reader never opened the pipe: open it so that the feeder ends
            os.close(os.open(tmp_path / "slow.plt", os.O_RDONLY | os.O_NONBLOCK))
        feeder.join()


def test_to_pandas(tmp_path):
    pytest.importorskip("pandas")
    plot = qa.read(sample(tmp_path))
    frame = plot.to_pandas()
    assert (frame.index.name, frame.index.tolist(), frame.columns.tolist()) == ("TIME", [0, 0.5], ["X", "V", "X", "TEMP"])
    assert (frame.dtypes == numpy.float32).all() and frame.to_numpy().tolist() == plot.values[:, 1:].tolist()
    frame.iloc[0, 0] = 99  # the frame holds its own copy
    assert plot.values[0, 1] == 1


def test_to_xarray(tmp_path):
    pytest.importorskip("xarray")
    path = tmp_path / "d.plt"
    path.write_text(plot_with_names(["T", "X", "time", "X", "X@3", "V"], [[0, 1, 2, 3, 4, 5], [1, 6, 7, 8, 9, 10]]))
    dataset = qa.read(path).to_xarray()
    assert dataset["time"].values.tolist() == [0, 1] and dataset["time"].attrs["parameter"] == "T"
    assert {v: dataset[v].values.tolist() for v in dataset.data_vars} == {
        "X@1": [1, 6], "time@2": [2, 7], "X@3@": [3, 8], "X@3": [4, 9], "V": [5, 10]}
    assert dataset["X@1"].attrs == {
        "parameter": "X", "position": 1, "comment": "renamed from 'X', which names the parameters at positions 1, 3"}
    assert dataset["V"].attrs == {"parameter": "V", "position": 5} and dataset.attrs["n_digits"] == 12


@pytest.mark.parametrize(
    "module, call, message",
    [
        ("pandas", lambda plot: plot.to_pandas(), "to_pandas() needs pandas: pip install 'quorvel[pandas]'"),
        ("xarray", lambda plot: plot.to_xarray(), "to_xarray() needs xarray: pip install 'quorvel[xarray]'"),
        ("dask", lambda plot: __import__("quorvel_arrays.dask").dask.read_dataframe([plot.path]),
         "read_dataframe() needs dask: pip install 'quorvel[dask]'"),
    ],
)
def test_missing_library_says_which_extra(tmp_path, monkeypatch, module, call, message):
    plot = qa.read(sample(tmp_path))
    for name in [m for m in sys.modules if m == module or m.startswith(module + ".")]:
        monkeypatch.delitem(sys.modules, name)
    monkeypatch.setitem(sys.modules, module, None)  # its import raises ImportError
    with pytest.raises(MissingLibrary) as caught:
        call(plot)
    assert str(caught.value) == message
