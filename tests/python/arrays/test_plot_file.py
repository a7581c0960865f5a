"""An open PlotFile: indexing against the whole read bit for bit, the block index reused (a read
from known offsets counts nothing) and extended as the file grows, a file changed under the index
refused, nothing left open; and the reader's keyword arguments and named results."""

import copy
import os
import pickle
import threading

import numpy as np
import pytest

import quorvel_arrays as qa
from quorvel_arrays import _plot_file as plot_file_module, _reader
from conftest import plot_text

N = 12  # two value lines a block
BLOCKS = 300


def rows(first, count):
    return [[f"{(b * N + j) * 1.25:.5E}" for j in range(N)] for b in range(first, first + count)]


@pytest.fixture
def path(plot_file):
    return plot_file(plot_text(N, rows(0, BLOCKS)))


def same(got, expected):
    got, expected = np.asarray(got), np.asarray(expected)
    assert got.dtype == np.float32 and got.shape == expected.shape
    assert got.tobytes() == expected.tobytes()


# (key, the same selection of the whole read's values, its column names or None for an array)
KEYS = [
    (np.s_[-50:, ["PARAM0", "PARAM3"]], np.s_[-50:, [0, 3]], ("PARAM0", "PARAM3")),
    (np.s_[10:20], np.s_[10:20], None),
    (np.s_[-1000:3, :], np.s_[:3], None),
    (np.s_[7:7], np.s_[7:7], None),
    (np.s_[200:5], np.s_[200:200], None),
    (np.s_[BLOCKS - 1:], np.s_[BLOCKS - 1:], None),
    (np.s_[BLOCKS:], np.s_[BLOCKS:], None),
    (10, 10, None),
    (-1, -1, None),
    (np.s_[:, 3], np.s_[:, 3], None),
    (np.s_[:, "PARAM2"], np.s_[:, 2], None),
    (np.s_[-60:-10, -1], np.s_[-60:-10, -1], None),
    (np.s_[5, -1], np.s_[5, -1], None),
    (np.s_[5, [1, "PARAM0"]], np.s_[5, [1, 0]], None),
    (np.s_[0, (-2,)], np.s_[0, [-2]], None),
]


@pytest.mark.parametrize("key, numpy_key, names", KEYS)
def test_indexing_gives_the_whole_reads_values(path, key, numpy_key, names):
    whole = qa.read(path)
    with qa.open(path) as f:
        got = f[key]
    if isinstance(key, slice) or (isinstance(key, tuple) and isinstance(key[0], slice) and not isinstance(key[1], (int, str))):
        assert isinstance(got, qa.Plot)
        assert got.names == (names or whole.names)
        got = got.values
    if isinstance(key, tuple) and isinstance(key[0], int) and isinstance(key[1], (int, str)):
        assert type(got) is np.float32
    same(got, whole.values[numpy_key])


@pytest.mark.parametrize("key, error, message", [
    (BLOCKS, IndexError, f"block {BLOCKS} is out of range for the {BLOCKS} blocks of {{}}"),
    (-BLOCKS - 1, IndexError, f"block {-BLOCKS - 1} is out of range for the {BLOCKS} blocks of {{}}"),
    (np.s_[:, "NOPE"], KeyError, "'NOPE' is not a parameter name of {}"),
    (np.s_[:, N], IndexError, f"position {N} is out of range for the {N} parameters of {{}}"),
    (np.s_[::2], ValueError, "rows must be a slice of step 1, not 2"),
    (1.5, TypeError, "rows are chosen by an int or a slice, not float"),
    (np.s_[:, 1:3], TypeError, "columns are chosen by a name, a position, a list of them or ':', not a part slice"),
    (np.s_[:, []], ValueError, "columns must select at least one parameter"),
])
def test_bad_index_raises_as_read_does(path, key, error, message):
    with qa.open(path) as f, pytest.raises(error) as caught:
        f[key]
    text = caught.value.args[0]
    assert text == message.format(path)


def test_read_agrees_with_the_free_read_once_indexed(path):
    with qa.open(path) as f:
        assert (len(f), f.shape, f.names, f.n_digits, f.path) == (BLOCKS, (BLOCKS, N), qa.read(path).names, 12, path)
        for blocks in (slice(-50, None), slice(3, 9), None):
            expected = qa.read(path, columns=["PARAM1"], blocks=blocks)
            same(f.read(columns=["PARAM1"], blocks=blocks).values, expected.values)


@pytest.mark.parametrize("key", [np.s_[-50:], np.s_[10:20, ["PARAM1"]], np.s_[BLOCKS // 2], np.s_[:, 0]])
def test_second_ranged_read_counts_nothing(path, key):
    with qa.open(path) as f:
        first = f[key]
        counted = f._counted
        assert counted >= BLOCKS  # the scan that built the index counted every block
        again = f[key]
        assert f._counted == counted
    same(getattr(again, "values", again), getattr(first, "values", first))


def test_growth_extends_the_index(path):
    with qa.open(path) as f:
        assert len(f) == BLOCKS
        counted = f._counted
        with open(path, "a") as grown:
            grown.write("\n".join(plot_text(N, rows(0, BLOCKS + 20)).splitlines()[-60:]) + "\n")
        assert len(f) == BLOCKS + 20
        assert f._counted == counted + 20  # counted on from the last block known, not again from the start
        same(f[-25:].values, qa.read(path, blocks=slice(-25, None)).values)


def replace(path):
    os.replace(write_beside(path, plot_text(N, rows(0, BLOCKS))), path)


def write_beside(path, text):
    other = path + ".new"
    with open(other, "w") as file:
        file.write(text)
    return other


def rewrite(path):
    with open(path, "r+b") as file:
        file.seek(os.path.getsize(path) - 20)
        file.write(b"9")


def cut(path):
    os.truncate(path, os.path.getsize(path) - 40)


CHANGES = [
    (replace, "the file was replaced by another while it was open"),
    (rewrite, f"the file was rewritten while it was open: its bytes before block {BLOCKS + 1} are not those read"),
    (cut, "the file shrank to {size:,} bytes while it was open: block {block} was to start at byte {offset:,}"),
    (os.remove, "the file was removed while it was open"),
]


@pytest.mark.parametrize("change, reason", CHANGES)
def test_file_changed_under_the_index_raises(path, change, reason):
    offset = os.path.getsize(path)
    with qa.open(path) as f:
        f[-5:]
        change(path)
        with pytest.raises(qa.PlotFileError) as caught:
            f[-5:]
    size = os.path.getsize(path) if os.path.exists(path) else 0
    assert caught.value.reason == reason.format(size=size, block=BLOCKS + 1, offset=offset)


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def test_file_closed_on_exit_and_on_error(path, plot_file):
    before = open_descriptors()
    with qa.open(path) as f:
        f[-3:]
        f[1]
    assert f.closed and open_descriptors() == before
    with pytest.raises(ValueError, match="closed plot file"):
        len(f)
    bad = plot_file(plot_text(N, rows(0, 3)).replace("1.25000E+01", "1.2.3E+0001"))
    with pytest.raises(qa.PlotFileError), qa.open(bad) as g:
        g[:]
    assert g.closed and open_descriptors() == before


@pytest.mark.parametrize("call, error, message", [
    (lambda p: _reader.read(p, None, None, colums=None), TypeError, "read() got an unexpected keyword argument 'colums'"),
    (lambda p: _reader.read(p, None, None, None, stop=None), TypeError, "read() got multiple values for argument 'stop'"),
    (lambda p: _reader.read(p, None), TypeError, "read() takes 3 to 8 positional arguments but 2 were given"),
    (lambda p: _reader.read(p, n_digits=None), TypeError, "read() missing argument 'columns'"),
    (lambda p: _reader.scan(p, None, None, 1, None), TypeError, "scan() takes 2 to 4 positional arguments but 5 were given"),
    (lambda p: _reader.read(p, None, None, **{"\udcff": 1}), TypeError, "read() got an unexpected keyword argument"),
    (lambda p: _reader.read(p, None, None, blocks=(5, 6), count_from=[0, 0]), TypeError,
     "a block start: a (block, offset[, line]) tuple or None"),
    (lambda p: _reader.scan(p, None, count_from=(0, 0, 0, 0)), TypeError, "a block start: a (block, offset[, line]) tuple or None"),
    (lambda p: _reader.read(p, None, None, blocks=(0, 6), count_from=(0, 0), count_to="ab"), TypeError,
     "a block start: a (block, offset[, line]) tuple or None"),
    (lambda p: _reader.scan(p, None, count_from=(0, 1.5)), TypeError, "a block start: ints"),
])
def test_reader_arguments_by_keyword(path, call, error, message):
    with pytest.raises(error) as caught:
        call(path)
    assert caught.value.args == (message,)


def test_reader_results_are_named(path):
    scanned = _reader.scan(path, None)
    assert (scanned.blocks, scanned.n_digits, scanned.counted, scanned.size) == (BLOCKS, 12, BLOCKS, os.path.getsize(path))
    whole = _reader.read(path=path, n_digits=None, columns=None)
    assert (whole.blocks, whole.start, whole.counted) == (BLOCKS, None, 0)
    ranged = _reader.read(path, None, ("PARAM1",), blocks=(10, 20))
    assert ranged.names == ("PARAM1",) and ranged.blocks == 10 and ranged.counted >= 20
    known = _reader.read(path, None, ("PARAM1",), blocks=(10, 20), count_from=ranged.start, count_to=ranged.next)
    assert known.counted == 0 and (known.start, known.next) == (ranged.start, ranged.next)
    assert bytes(known.values) == bytes(ranged.values)
    # In parts, which are cut at counted blocks: once a crash.
    wide = _reader.read(path, None, None, blocks=(100, 250))
    parts = _reader.read(path, None, None, blocks=(100, 250), count_from=wide.start, count_to=wide.next, threads=2)
    assert bytes(parts.values) == bytes(wide.values)


def defect(call):
    with pytest.raises(qa.PlotFileError) as caught:
        call()
    return caught.value.reason, caught.value.line, caught.value.column


@pytest.mark.parametrize("bounds", [(-60, None), (240, 260), (250, 251)])
def test_defect_in_a_range_raises_as_read_does_from_known_offsets(plot_file, bounds):
    text = plot_text(N, rows(0, BLOCKS))
    bad_path = plot_file(text.replace(f"{250 * N * 1.25:.5E}", "1.2.3E+0001"))
    expected = defect(lambda: qa.read(bad_path, blocks=slice(*bounds)))
    with qa.open(bad_path) as f:
        start, stop, _ = slice(*bounds).indices(BLOCKS)
        f[start - 1:start]  # the range's start known, as where this read's next block starts
        f[stop:stop + 1]  # and its stop's
        counted = f._counted
        assert defect(lambda: f[slice(*bounds)]) == expected
        assert f._counted == counted


@pytest.mark.parametrize("count_from", [(-1, 0), (0, -1), (0, 0, -1)])
def test_reader_refuses_a_negative_block_start(path, count_from):
    # Kept unsigned, a negative number would stand for a far block or offset.
    with pytest.raises(OverflowError):
        _reader.scan(path, None, count_from=count_from)


@pytest.mark.parametrize("key, numpy_key", [
    ((5,), 5),
    (np.s_[3:9, np.array([0, 3])], np.s_[3:9, [0, 3]]),
    (np.s_[4, np.array(3)], np.s_[4, 3]),
    (np.s_[-5:, ["PARAM1", "PARAM1"]], np.s_[-5:, [1, 1]]),
])
def test_numpy_like_keys_give_the_whole_reads_values(path, key, numpy_key):
    with qa.open(path) as f:
        got = f[key]
    same(getattr(got, "values", got), qa.read(path).values[numpy_key])


@pytest.mark.parametrize("key, error, message", [
    ((1, 2, 3), IndexError, "a plot file has 2 dimensions, but 3 were indexed"),
    ((), IndexError, "a plot file has 2 dimensions, but 0 were indexed"),
    (np.s_[:, None], TypeError, "columns are chosen by a name, a position, a list of them or ':', not None"),
    (np.ones(BLOCKS, bool), TypeError, "rows are chosen by an int or a slice, not ndarray"),
])
def test_odd_keys_are_refused(path, key, error, message):
    with qa.open(path) as f, pytest.raises(error) as caught:
        f[key]
    assert caught.value.args == (message,)


@pytest.mark.parametrize("change, reason", [
    (replace, "the file was replaced by another while it was open"),
    (rewrite, f"the file was rewritten while it was open: its bytes before block {BLOCKS + 1} are not those read"),
    (os.remove, "the file was removed while it was open"),
])
@pytest.mark.parametrize("call", [
    lambda f: f.iter_blocks(chunk=10), lambda f: f.scan(), lambda f: f.follow(idle=0.1),
])
def test_reads_afresh_refuse_a_file_changed_under_the_index(path, change, reason, call):
    with qa.open(path) as f:
        len(f)
        change(path)
        with pytest.raises(qa.PlotFileError) as caught:
            call(f)
    assert caught.value.reason == reason


@pytest.mark.parametrize("duplicate", [copy.copy, copy.deepcopy, lambda f: pickle.loads(pickle.dumps(f))])
def test_a_copy_keeps_an_index_of_its_own(path, duplicate):
    with qa.open(path) as f:
        len(f)
        other = duplicate(f)
        with open(path, "a") as grown:
            grown.write("\n".join(plot_text(N, rows(0, BLOCKS + 20)).splitlines()[-60:]) + "\n")
        assert (len(other), len(f)) == (BLOCKS + 20, BLOCKS + 20)
        same(other[-25:].values, f[-25:].values)
    with pytest.raises(ValueError, match="closed plot file"):
        copy.copy(f)


@pytest.mark.parametrize("change, reason", CHANGES)
@pytest.mark.parametrize("call", [lambda f: f[-5:], lambda f: f.read(), lambda f: f.read(blocks=slice(3, 9))])
def test_file_changed_during_a_read_raises(path, monkeypatch, change, reason, call):
    offset = os.path.getsize(path)
    real = plot_file_module.read_result

    def read_then_change(*args, **options):
        got = real(*args, **options)
        change(path)  # as if while the reader ran: what it gave may be part of one file and part of another
        return got

    with qa.open(path) as f:
        len(f)
        monkeypatch.setattr(plot_file_module, "read_result", read_then_change)
        with pytest.raises(qa.PlotFileError) as caught:
            call(f)
    size = os.path.getsize(path) if os.path.exists(path) else 0
    assert caught.value.reason == reason.format(size=size, block=BLOCKS + 1, offset=offset)


@pytest.mark.parametrize("missing", [1, 5, 24])  # bytes of the last value line not written yet
def test_growth_after_a_last_line_still_being_written(plot_file, missing):
    lines = plot_text(N, rows(0, 20)).splitlines(keepends=True)
    whole = "".join(lines)
    written = "".join(lines[:1 + N + 11 * 3])  # eleven blocks, the last of which is cut short below
    path = plot_file(written[:-missing])
    with qa.open(path) as f:
        assert len(f) == 11  # the count takes the cut line for a whole one, as a read of it would
        with open(path, "a") as grown:
            grown.write(whole[len(written) - missing:])
        assert len(f) == 20
        same(f[8:].values, qa.read(path).values[8:])


def test_threads_sharing_a_growing_file(plot_file):
    lines = plot_text(N, rows(0, 1000)).splitlines(keepends=True)
    cut = 1 + N + 200 * 3
    path = plot_file("".join(lines[:cut]))
    expected = qa.read(plot_file("".join(lines))).values
    problems = []

    def reader(f, first):
        for k in range(300):
            try:
                start = (first * 37 + k * 101) % len(f)
                got = f[start:start + 1 + k % 40].values
                if got.tobytes() != expected[start:start + len(got)].tobytes():
                    problems.append(("values", start))
            except Exception as error:  # noqa: BLE001 - every failure is a finding here
                problems.append(repr(error))

    with qa.open(path) as f:
        len(f)
        threads = [threading.Thread(target=reader, args=(f, first)) for first in range(6)]
        for thread in threads:
            thread.start()
        for block in range(200, 1000, 25):  # whole blocks at a time: each look sees complete blocks
            with open(path, "a") as grown:
                grown.write("".join(lines[1 + N + block * 3:1 + N + (block + 25) * 3]))
        for thread in threads:
            thread.join()
        assert problems == [] and len(f) == 1000


@pytest.mark.parametrize("blocks", [slice(0, None), slice(100, 250), slice(-50, None)])
def test_ranged_read_of_known_blocks_on_two_threads(path, blocks):
    """Both ends of the range known from the index, in parts: once a crash."""
    with qa.open(path) as f:
        f[blocks]  # notes both ends
        same(f.read(blocks=blocks, threads=2).values, qa.read(path).values[blocks])
