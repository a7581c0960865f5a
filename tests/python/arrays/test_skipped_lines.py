"""A line a read only passes over (a separator, the NUL run a crash leaves after the last block)
is never held whole: a read of a file with a 256 MiB such line peaks far below 256 MiB, on one
thread or in parts, and says what a read of the same file with that line short says. Peaks are
measured in a child process. Besides: the threads and width checks scan and read share."""

import json
import subprocess
import sys

import pytest

import quorvel_arrays as qa
from conftest import fields

MIB = 1 << 20
LONG = 256 * MIB
PEAK_BOUND = 128 * MIB  # a read holding the line peaks above LONG
HEAD = b"H 2\nTIME\nX\n"

CHILD = """
import json, sys
import quorvel_arrays as qa
try:
    outcome = {"rows": qa.read(sys.argv[1], threads=int(sys.argv[2])).values.tolist()}
except qa.PlotFileError as error:
    outcome = {"error": [error.reason, error.line, error.column]}
with open("/proc/self/status") as status:
    outcome["peak"] = next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM:"))
print(json.dumps(outcome))
"""


def blocks(first, count):
    return b"".join(b"--\n" + fields([first + k, -(first + k)], 12).encode() + b"\n" for k in range(count))


def with_nul_line(path, before, length, after):
    """`before`, `length` NUL bytes (a hole, so that the file costs no disk), then `after`."""
    with open(path, "wb") as out:
        out.write(before)
        out.truncate(len(before) + length)
        out.seek(len(before) + length)
        out.write(after)
    return str(path)


def outcome_of(path, threads):
    try:
        return {"rows": qa.read(path, threads=threads).values.tolist()}
    except qa.PlotFileError as error:
        return {"error": [error.reason, error.line, error.column]}


@pytest.mark.parametrize("before, after", [
    pytest.param(HEAD + blocks(0, 10), b"", id="nul-tail-after-the-last-block"),
    pytest.param(HEAD + blocks(0, 10), b"\n" + blocks(10, 2), id="nul-tail-then-more-lines"),
    pytest.param(HEAD + blocks(0, 3), b"\n" + fields([3, 4], 12).encode() + b"\n" + blocks(4, 3), id="long-separator"),
    pytest.param(HEAD + blocks(0, 3), b"\n" + b"x" * 24 + b"\n", id="bad-field-after-the-long-line"),
    pytest.param(HEAD + blocks(0, 3), b"\xc3\n" + blocks(3, 1), id="cut-character-ends-the-long-line"),
    pytest.param(HEAD + blocks(0, 3), b"\xc3\xa9\n" + fields([3, 4], 12).encode() + b"\n", id="character-ends-the-long-line"),
])
@pytest.mark.parametrize("threads", [1, 2])
def test_a_long_passed_over_line_is_not_held(tmp_path, before, after, threads):
    short = with_nul_line(tmp_path / "short.plt", before, 10, after)
    long = with_nul_line(tmp_path / "long.plt", before, LONG, after)
    child = subprocess.run([sys.executable, "-c", CHILD, long, str(threads)], capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, child.stderr
    got = json.loads(child.stdout)
    assert got.pop("peak") < PEAK_BOUND
    assert got == outcome_of(short, threads)
    assert got == outcome_of(short, 1)


TOO_MANY = f"threads must be at most {2**63 - 1}, not {10**30}"


@pytest.mark.parametrize("call, message", [
    (lambda p: qa.read(p, threads=10**30), TOO_MANY),
    (lambda p: qa.scan(p, threads=10**30), TOO_MANY),
    (lambda p: qa.scan(p, threads=0), "threads must be an int >= 1 or None, not 0"),
])
def test_threads_past_any_count_are_refused_as_other_bad_counts(call, message):
    with pytest.raises(ValueError) as caught:
        call("/nonexistent/never-read.plt")
    assert str(caught.value) == message


TEN = "H 10\n" + "".join(f"P{i}\n" for i in range(10)) + ("--\n" + fields(range(10), 12) + "\n") * 2


@pytest.mark.parametrize("n_digits", [6, 11, 13, 24])
def test_scan_refuses_a_width_that_does_not_fit_as_read_does(plot_file, n_digits):
    path = plot_file(TEN)
    with pytest.raises(qa.PlotFileError) as scanned:
        qa.scan(path, n_digits)
    with pytest.raises(qa.PlotFileError) as read:
        qa.read(path, n_digits)
    assert (scanned.value.reason, scanned.value.line, scanned.value.column) == (
        f"the field width {n_digits} does not fit this file: its value lines suggest 12 (120 bytes for 10 fields)", 13, None)
    assert str(scanned.value) == str(read.value)
    assert qa.scan(path, 12).n_digits == 12


ONE = "H 1\nP0\n" + ("--\n" + fields([1.5], 12) + "\n") * 2


@pytest.mark.parametrize("n_digits, reason", [
    (13, "field 1 needs bytes 1 to 13, but the line has 12"),
    (24, "field 1 needs bytes 1 to 24, but the line has 12"),
    (10**6, "field 1 needs bytes 1 to 1000000, but the line has 12"),
])
def test_scan_refuses_a_width_past_a_short_line_as_read_does(plot_file, n_digits, reason):
    path = plot_file(ONE)
    for threads in (1, 2):
        with pytest.raises(qa.PlotFileError) as scanned:
            qa.scan(path, n_digits, threads=threads)
        assert (scanned.value.reason, scanned.value.line, scanned.value.column) == (reason, 4, 1)
    with pytest.raises(qa.PlotFileError) as read:
        qa.read(path, n_digits)
    assert str(scanned.value) == str(read.value)


@pytest.mark.parametrize("threads", [None, 64, 65, 10**6, 2**63 - 1])
def test_any_number_of_threads_reads_as_one(plot_file, threads):
    path = plot_file(HEAD + blocks(0, 40000))  # 1.1 MB: counted in parts too
    assert qa.read(path, threads=threads).values.tolist() == qa.read(path).values.tolist()
    assert qa.scan(path, threads=threads) == qa.scan(path) == qa.scan(path, 12, threads=threads)
