"""The xarray engine against read(...).to_xarray() bit for bit (whole, indexed, chunked, many
files), its laziness by the handle's counters, its pickle, a file changed after opening, what it
leaves open, and which files it claims."""

import os
import pickle
import random
import subprocess
import sys
import tomllib
from pathlib import Path

import numpy as np
import pytest

import quorvel_arrays as qa
from test_arrays_api import plot_with_names

xr = pytest.importorskip("xarray")
from quorvel_arrays._xarray_backend import PlotBackend  # noqa: E402

NAMES = ["TIME", "X", "TEMP", "X", "time"]  # a repeated name, and one that is the coordinate's
BLOCKS = 300


def rows(count, shift=0.0):
    return [[b * 0.5 + shift, b * 1.25, -b / 3, b * b, 7.0 + shift] for b in range(count)]


@pytest.fixture
def path(tmp_path):
    target = tmp_path / "run.dat"  # the engine names no suffix
    target.write_text(plot_with_names(NAMES, rows(BLOCKS)))
    return str(target)


def open_plot(path, **options):
    return xr.open_dataset(path, engine=PlotBackend, **options)


def assert_same(got, expected):
    """Identical datasets, and every variable's float32 values the same bits."""
    xr.testing.assert_identical(got, expected)
    for name, variable in expected.variables.items():
        assert got[name].dtype == np.float32
        assert got[name].values.tobytes() == variable.values.tobytes()


@pytest.mark.parametrize("blocks", [BLOCKS, 0])
def test_whole_dataset_is_the_reads(tmp_path, blocks):
    path = tmp_path / "run.plt"
    path.write_text(plot_with_names(NAMES, rows(blocks)))
    with open_plot(path) as ds:
        assert_same(ds.load(), qa.read(path).to_xarray())


KEYS = [np.s_[-50:], np.s_[::-1], np.s_[250:3:-7], np.s_[5], np.s_[-1], [0, -1, 7, 7], np.s_[10:10], np.array([299, 3])]


@pytest.mark.parametrize("key", KEYS)
@pytest.mark.parametrize("variable", ["X@3", "TEMP", "time@4", "time"])
def test_indexing_reads_what_read_gives(path, key, variable):
    expected = qa.read(path).to_xarray()[variable][key]
    with open_plot(path) as ds:
        assert_same(ds[variable][key].to_dataset(name="v"), expected.to_dataset(name="v"))


def test_outer_indexing_of_a_dataset(path):
    key = {"time": [3, 1, 2]}
    with open_plot(path) as ds:
        assert_same(ds.isel(key).isel(time=slice(None, None, -1)), qa.read(path).to_xarray().isel(key).isel(time=slice(None, None, -1)))


def handle_of(ds):
    data = ds.TEMP.variable._data
    while not hasattr(data, "handle"):
        data = data.array  # through xarray's lazy wrappers
    return data.handle


def test_opening_parses_no_variable_and_the_tail_only_its_blocks(path):
    with open_plot(path) as ds:
        handle = handle_of(ds)
        assert (handle._blocks_parsed, handle._values_parsed) == (BLOCKS, BLOCKS)  # the time column only
        ds.TEMP[-50:].values
        assert (handle._blocks_parsed, handle._values_parsed) == (BLOCKS + 50, BLOCKS + 50)
        ds.TEMP[[2, 5]].values  # blocks 2 to 5, one column
        assert handle._blocks_parsed == BLOCKS + 54


# Block 2's first field: in the layout, or not (a tab, a letter), which the scan leaves to a
# ranged read of the column, so that the coordinate and any error are the read's.
@pytest.mark.parametrize("first, kept", [("       0.001", True), ("\t1.00000E-03", False), (" 1.0000XE-03", False)])
def test_time_is_kept_by_the_scan_or_read(tmp_path, first, kept):
    lines = plot_with_names(NAMES, rows(5)).split("\n")
    value_line = 1 + len(NAMES) + 2 * 2 + 1
    lines[value_line] = first + lines[value_line][12:]
    path = tmp_path / "run.plt"
    path.write_text("\n".join(lines))
    scanned = qa._reader.scan(str(path), None, first_values=True).first_values
    assert (scanned is not None) == kept
    try:
        expected = qa.read(path).to_xarray()["time"].values
    except qa.PlotFileError as error:
        with pytest.raises(qa.PlotFileError) as raised:
            open_plot(path)
        assert str(raised.value) == str(error)
        return
    with open_plot(path) as ds:
        assert ds["time"].values.tobytes() == expected.tobytes()
    if kept:
        assert np.frombuffer(scanned, np.float32).tobytes() == expected.tobytes()


@pytest.mark.parametrize("chunks", [{"time": 64}, "auto"])
def test_chunks_are_ranged_reads(path, chunks):
    pytest.importorskip("dask.array")
    with open_plot(path, chunks=chunks) as ds:
        if chunks != "auto":
            assert ds.TEMP.chunks == ((64, 64, 64, 64, 44),)
        assert_same(ds.compute(scheduler="threads"), qa.read(path).to_xarray())


@pytest.mark.parametrize("dropped, kept", [(["TEMP", "X@3"], ["X@1", "time@4"]), ("time", ["X@1", "TEMP", "X@3", "time@4"])])
def test_drop_variables(path, dropped, kept):
    with open_plot(path, drop_variables=dropped) as ds:
        assert list(ds.data_vars) == kept
        assert_same(ds.load(), qa.read(path).to_xarray().drop_vars(dropped))


def test_pickled_dataset_carries_the_index(path):
    with open_plot(path) as ds:
        copy = pickle.loads(pickle.dumps(ds))
        handle = handle_of(copy)
        assert handle._counted == 0  # nothing counted again
        assert_same(copy.load(), qa.read(path).to_xarray())
        assert handle._counted == 0


def replace(path):
    other = path + ".new"
    with open(other, "w") as file:
        file.write(plot_with_names(NAMES, rows(BLOCKS, shift=1)))
    os.replace(other, path)


def rewrite(path):
    with open(path, "r+b") as file:
        file.seek(os.path.getsize(path) - 20)
        file.write(b"9")


@pytest.mark.parametrize("change, reason", [
    (replace, "the file was replaced by another while it was open"),
    (rewrite, f"the file was rewritten while it was open: its bytes before block {BLOCKS + 1} are not those read"),
])
@pytest.mark.parametrize("pickled", [False, True])
def test_a_file_changed_after_opening_raises(path, change, reason, pickled):
    with open_plot(path) as ds:
        variable = pickle.loads(pickle.dumps(ds.TEMP)) if pickled else ds.TEMP
        change(path)
        with pytest.raises(qa.PlotFileError) as caught:
            variable[-5:].values
    assert caught.value.reason == reason


def test_close_leaves_no_descriptor_and_closes_the_handle(path):
    before = len(os.listdir("/proc/self/fd"))
    ds = open_plot(path, chunks={"time": 100})
    handle = ds.TEMP.variable._data  # a Dask array: the handle is in its graph
    ds.TEMP[:3].values
    ds.close()
    assert len(os.listdir("/proc/self/fd")) == before
    with pytest.raises(ValueError, match="closed plot file"):
        handle.compute(scheduler="sync")


def write_runs(tmp_path, lengths):
    paths = []
    for k, count in enumerate(lengths):
        target = tmp_path / f"run{k}.plt"
        target.write_text(plot_with_names(NAMES, rows(count, shift=k)))
        paths.append(str(target))
    return paths


def test_open_mfdataset_over_runs_of_different_lengths(tmp_path):
    pytest.importorskip("dask.array")
    paths = write_runs(tmp_path, [40, 7, 25])
    expected = xr.concat([qa.read(p).to_xarray() for p in paths], dim="run", join="outer")
    with xr.open_mfdataset(paths, engine=PlotBackend, combine="nested", concat_dim="run", join="outer") as ds:
        assert_same(ds.compute(), expected)


def test_open_mfdataset_by_coords_joins_pieces_of_one_run(tmp_path):
    pytest.importorskip("dask.array")
    whole = plot_with_names(NAMES, rows(30)).splitlines()
    head, body = whole[:1 + len(NAMES)], whole[1 + len(NAMES):]
    paths = []
    for k, (start, stop) in enumerate([(20, 30), (0, 12), (12, 20)]):  # given out of order
        target = tmp_path / f"piece{k}.plt"
        target.write_text("\n".join(head + body[start * 2:stop * 2]) + "\n")
        paths.append(str(target))
    expected = xr.concat([qa.read(p).to_xarray() for p in (paths[1], paths[2], paths[0])], dim="time")
    with xr.open_mfdataset(paths, engine=PlotBackend, combine="by_coords") as ds:
        got = ds.compute()
    assert_same(got.drop_attrs(), expected.drop_attrs())


def test_local_cluster_computes_a_chunked_dataset_and_an_array(path):
    distributed = pytest.importorskip("distributed")
    from quorvel_arrays import dask as qd
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None, worker_dashboard_address=None) as cluster:
        with distributed.Client(cluster, timeout="60s") as client:
            with open_plot(path, chunks={"time": 100}) as ds:
                got = client.compute(ds).result(timeout=60)
            values = client.compute(qd.read_array([path, path], chunks=128)).result(timeout=60)
    assert_same(got, qa.read(path).to_xarray())
    whole = qa.read(path).values
    assert values.tobytes() == np.concatenate([whole, whole]).tobytes()


@pytest.mark.parametrize("content, suffix, expected", [
    (plot_with_names(NAMES, rows(2)), ".odd", True),
    (plot_with_names(NAMES, rows(0)), "", True),
    ("PLOT FILE 3\r\nTIME\r\n", ".plt", True),
    (b"\x89PNG\r\n\x1a\n\x00\x00\xff\xfe 3\nX\n", ".plt", False),
    (b"", ".plt", False),
    ("PLOT FILE 0\nTIME\n", ".plt", False),
    ("PLOT FILE 3\n", ".plt", False),
    ("a,b,c\n1,2,3\n", ".csv", False),
    ("x" * 5000 + " 3\nTIME\n", ".plt", False),
    (None, ".plt", False),  # missing
    ("dir", "", False),
])
def test_guess_can_open(tmp_path, content, suffix, expected):
    target = tmp_path / f"file{suffix}"
    if content == "dir":
        target.mkdir()
    elif content is not None:
        target.write_bytes(content if isinstance(content, bytes) else content.encode())
    assert PlotBackend().guess_can_open(str(target)) is expected
    assert PlotBackend().guess_can_open(target) is expected


def packers():
    import bz2, gzip, lzma
    yield pytest.param(gzip.compress, id="gz")
    yield pytest.param(bz2.compress, id="bz2")
    yield pytest.param(lzma.compress, id="xz")
    try:
        from compression import zstd
    except ImportError:
        return
    yield pytest.param(zstd.compress, id="zst")


# A compressed file is guessed by its decoded first lines; a long one (its start spread over many
# reads of the packed bytes), a text that is not a plot file and a stream cut short are not mixed up.
@pytest.mark.parametrize("pack", list(packers()))
@pytest.mark.parametrize("text, cut, expected", [
    (plot_with_names(NAMES, rows(2)), None, True),
    (plot_with_names(NAMES, rows(2)) + random.Random(1).randbytes(400_000).hex(), None, True),
    ("a,b,c\n1,2,3\n", None, False),
    (plot_with_names(NAMES, rows(2)), 12, False),
])
def test_guess_can_open_a_compressed_file(tmp_path, pack, text, cut, expected):
    target = tmp_path / "run.plt.packed"
    target.write_bytes(pack(text.encode())[:cut])
    assert PlotBackend().guess_can_open(target) is expected


def test_guess_can_open_a_fifo_without_blocking(tmp_path):
    os.mkfifo(tmp_path / "pipe")
    assert PlotBackend().guess_can_open(str(tmp_path / "pipe")) is False


CHILD = """
import sys, xarray
sys.path.insert(0, sys.argv[1])
ds = xarray.open_dataset(sys.argv[2])
print(type(xarray.backends.list_engines()["quorvel"]).__name__, float(ds.TEMP[-1]), ds.attrs["n_digits"])
"""


def test_entry_point_name_opens_without_engine(tmp_path, path):
    """A dist-info with the entry point, as an installed wheel has it, on the child's path."""
    info = tmp_path / "site" / "quorvel-0.1.0.dist-info"
    (tmp_path / "site").mkdir()
    project = Path(__file__).parents[3] / "pyproject.toml"
    # Without the checkout (the installed wheel's stage) the wheel's own entry point is found: a
    # dist-info of the same name here would hide it.
    if project.exists():
        info.mkdir()
        (info / "METADATA").write_text("Metadata-Version: 2.1\nName: quorvel\nVersion: 0.1.0\n")
        table = tomllib.loads(project.read_text())["project"]["entry-points"]
        entries = "".join(f"[{group}]\n" + "".join(f"{k} = {v}\n" for k, v in points.items())
                          for group, points in table.items())
        (info / "entry_points.txt").write_text(entries)
    done = subprocess.run([sys.executable, "-c", CHILD, str(tmp_path / "site"), path],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["PlotBackend", repr(float(qa.read(path)["TEMP"][-1])), "12"]
