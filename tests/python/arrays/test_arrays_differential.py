"""The array reader against the list reader on generated files: the same float32 values bit for
bit, the name lines trimmed, and a PlotFileError for every file the list reader rejects, and for
the files it reads whose value lines do not fit the width given."""

import os
import re
import subprocess
import sys
import tempfile
import textwrap

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings

import quorvel_arrays as qa
from conftest import panic_exception_type, plot_text, read
from test_differential import corrupted, plot_files

WORK_DIR = tempfile.mkdtemp(prefix="quorvel-arrays-differential-")
PATH = os.path.join(WORK_DIR, "generated.plt")
COMMON = settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])


def list_reader_matrix(path, width):
    time, others = read(path, width)
    return np.array([time, *others], dtype=np.float32).T.reshape(len(time), 1 + len(others))


def check(data, width):
    with open(PATH, "wb") as out:
        out.write(data)
    try:
        expected = list_reader_matrix(PATH, width)
    except panic_exception_type():
        with pytest.raises(qa.PlotFileError) as caught:
            qa.read(PATH, width)
        error = caught.value
        assert 1 <= error.line <= data.count(b"\n") + 2  # a missing line: one past the last
        # A defect of a field is placed at the field's first byte; any other at its line alone.
        field = re.match(r"field ([0-9]+) ", error.reason)
        assert error.column == (None if field is None else (int(field[1]) - 1) * width + 1), error
        place = f"{PATH}:{error.line}" + ("" if error.column is None else f":{error.column}")
        assert str(error) == f"{place}: {error.reason}"
        return
    try:
        plot = qa.read(PATH, width)
    except qa.PlotFileError as error:
        assert error.reason.startswith(f"the field width {width} does not fit this file: "), error
        assert not fits(data, width, expected.shape[1], error.line)
        return
    assert plot.values.shape == expected.shape
    assert plot.values.view(np.uint32).tolist() == expected.view(np.uint32).tolist()
    lines = data.decode().replace("\r\n", "\n").split("\n")
    assert plot.names == tuple(name.strip() for name in lines[1:1 + plot.values.shape[1]])


def fits(data, width, n, number):
    """Whether line `number` (from 1), a value line of a file the list reader read, fits the width:
    it ends with its fields, blanks aside, and a line of ten fields reaches the end of its tenth."""
    line = data.split(b"\n")[number - 1].removesuffix(b"\r")
    lines_per_block = 1 + (n + 9) // 10
    place = (number - n - 2) % lines_per_block  # 0: the separator
    assert place > 0
    fields = min(10, n - 10 * (place - 1))
    if len(line) < fields * width:
        return fields < 10
    return line[fields * width:].strip(b" \t\r") == b""


@COMMON
@given(plot_files())
def test_generated_files(case):
    data, width = case
    if width >= 1:
        check(data, width)


@COMMON
@given(corrupted())
def test_corrupted_files(case):
    data, width = case
    if width >= 1:
        check(data, width)


@pytest.mark.parametrize("width", [1, 7, 12, 15, 20])
def test_files_larger_than_the_read_buffer(tmp_path, width):
    rng = np.random.default_rng(width)
    n, blocks = 23, 2000
    digits = max(width - 7, 0)
    texts = [[f"{v:.{digits}E}"[:width] if width >= 8 else str(int(v) % 10) for v in row]
             for row in rng.uniform(-1e6, 1e6, size=(blocks, n))]
    path = tmp_path / "big.plt"
    path.write_text(plot_text(n, texts, width=width))
    assert path.stat().st_size > 65536  # more than one read of the array reader
    plot = qa.read(path)  # the width found from the file
    assert plot.n_digits == width
    assert plot.values.view(np.uint32).tolist() == list_reader_matrix(str(path), width).view(np.uint32).tolist()


def test_the_lock_is_released_while_reading(tmp_path):
    """A thread of the same process feeds a FIFO slowly; with the lock held it could never write."""
    fifo = tmp_path / "slow.plt"
    os.mkfifo(fifo)
    code = textwrap.dedent(f"""
        import threading, time
        import quorvel_arrays as qa
        def feed():
            with open({str(fifo)!r}, "w") as pipe:
                pipe.write("H 2\\nT\\nX\\n")
                for step in range(20):
                    pipe.write(f" STEP {{step}}\\n{{step:12.5E}}{{-step:12.5E}}\\n")
                    pipe.flush()
                    time.sleep(0.01)
        feeder = threading.Thread(target=feed)
        feeder.start()
        plot = qa.read({str(fifo)!r}, 12)
        feeder.join()
        print(len(plot), plot.values[-1].tolist())
    """)
    child = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                           env=dict(os.environ))
    assert child.returncode == 0, child.stderr
    assert child.stdout == "20 [19.0, -19.0]\n"


def open_fds():
    return len(os.listdir("/proc/self/fd"))


def test_no_reference_or_descriptor_leaks(tmp_path):
    """Good files, defects, missing files and bad selections, read over and over: the open
    descriptors stay as they were, and on the debug interpreter so does the reference total."""
    good = tmp_path / "good.plt"
    good.write_text(plot_text(13, [[f"{b}.{j}" for j in range(13)] for b in range(30)], 12))
    bad = tmp_path / "bad.plt"
    bad.write_text(plot_text(3, [["1.0", "x", "2.0"]], 12))
    calls = [
        lambda: qa.read(good),
        lambda: qa.read(good, 12, columns=["PARAM3", 0, -1]),
        lambda: qa.read(bad, 12),
        lambda: qa.read(tmp_path / "missing.plt"),
        lambda: qa.read(good, 12, columns=["NOPE"]),
        lambda: qa.read(good, 12, columns=[99]),
    ]

    def round_trip():
        for call in calls:
            try:
                call()
            except (OSError, ValueError, LookupError):
                pass

    for _ in range(20):
        round_trip()
    fds = open_fds()
    total = getattr(sys, "gettotalrefcount", lambda: 0)
    before = total()
    for _ in range(200):
        round_trip()
    assert total() - before < 50
    assert open_fds() == fds


def test_the_array_keeps_its_memory_alive(tmp_path):
    path = tmp_path / "p.plt"
    path.write_text(plot_text(2, [["1.5", "2.5"], ["3.5", "4.5"]], 12))
    values = qa.read(path).values
    # A view of the reader's buffer, which it keeps alive: numpy does not own the memory.
    base = values
    while isinstance(base, np.ndarray):
        assert not base.flags.owndata
        base = base.base
    assert type(base) is qa._reader.Values
    column = values[:, 1]
    del values
    import gc
    gc.collect()
    assert column.tolist() == [2.5, 4.5]
    column[:] = 7.0  # writable, and the write lands in the buffer the view keeps alive
    assert column.tolist() == [7.0, 7.0]
