"""quorvel_arrays.dask.read_array against the reads concatenated bit for bit, its chunks as ranged
reads, its refusals, and its tasks pickled with the files' block index."""

import pickle

import numpy as np
import pytest

import quorvel_arrays as qa
from test_arrays_api import plot_with_names

pytest.importorskip("dask.array")
from quorvel_arrays import dask as qd  # noqa: E402

NAMES = ["TIME", "X", "TEMP"]


@pytest.fixture
def files(tmp_path):
    paths = []
    for k, blocks in enumerate([30, 0, 47, 1]):
        path = tmp_path / f"run{k}.plt"
        path.write_text(plot_with_names(NAMES, [[k + b, b * 0.5, -k / 7] for b in range(blocks)]))
        paths.append(str(path))
    return paths


def expected(paths, columns=None):
    return np.concatenate([qa.read(p, columns=columns).values for p in paths])


@pytest.mark.parametrize("chunks, rows", [
    (None, (30, 47, 1)), (10, (10, 10, 10, 10, 10, 10, 10, 7, 1)), (64, (30, 47, 1)),
])
@pytest.mark.parametrize("columns", [None, ["TEMP", 0], [-1]])
def test_array_is_the_reads_concatenated(files, chunks, rows, columns):
    array = qd.read_array(files, columns=columns, chunks=chunks)
    assert array.chunks[0] == rows and array.dtype == np.float32
    got = array.compute(scheduler="threads")
    assert got.shape == expected(files, columns).shape
    assert got.tobytes() == expected(files, columns).tobytes()
    assert array[-5:, 0].compute(scheduler="sync").tobytes() == expected(files, columns)[-5:, 0].tobytes()


def test_one_path_and_empty_files(files):
    assert qd.read_array(files[0]).compute().tobytes() == qa.read(files[0]).values.tobytes()
    empty = qd.read_array([files[1], files[1]])
    assert empty.shape == (0, 3) and empty.compute().shape == (0, 3)


@pytest.mark.parametrize("call, error, message", [
    (lambda f, o: qd.read_array([f[0], o]), qd.NamesDifferError, "{o}: parameter 2 is 'TEMPERATURE', where {f} has 'TEMP'"),
    (lambda f, o: qd.read_array([]), ValueError, "paths must name at least one file"),
    (lambda f, o: qd.read_array(f, chunks=0), ValueError, "chunks must be an int >= 1 or None, not 0"),
    (lambda f, o: qd.read_array(f, columns=["NOPE"]), KeyError, "\"'NOPE' is not a parameter name of {f}\""),
])
def test_refusals_when_built(files, tmp_path, call, error, message):
    other = tmp_path / "other.plt"
    other.write_text(plot_with_names(["TIME", "X", "TEMPERATURE"], [[1, 2, 3]]))
    with pytest.raises(error) as caught:
        call(files, str(other))
    if message is not None:
        assert str(caught.value) == message.format(o=other, f=files[0])


def test_tasks_pickle_with_the_index(files):
    array = qd.read_array(files, chunks=10)
    graph = dict(array.__dask_graph__())
    tasks = [key for key in graph if key[0] == array.name]
    handles = [value for key, value in graph.items() if key[0] != array.name]
    assert len(tasks) == 9 and len(handles) == len(files)  # each file's handle once, not once a task
    handle = pickle.loads(pickle.dumps(handles[2]))
    assert handle._counted == 0  # nothing counted on unpickling
    assert handle[40:47].values.tobytes() == qa.read(files[2]).values[40:47].tobytes()
    assert handle._counted == 0 and handle._blocks_parsed == 7
