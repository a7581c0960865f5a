"""What a call holds is released on every road: file descriptors, references, memory; calls from
several threads do not disturb each other."""

import os
import subprocess
import sys
import textwrap
import threading

import pytest

from conftest import panic_exception_type, plot_text, read


def open_fds():
    return len(os.listdir("/proc/self/fd"))


@pytest.fixture
def mixed_files(plot_file):
    good = plot_file(plot_text(11, [[f"{b}.{j}" for j in range(11)] for b in range(3)]))
    return [
        (good, 12, None),
        (plot_file(b""), 12, "Failed ot read line!"),
        (plot_file(b"H 1\na\n--\n"), 12, "Error reading line"),
        (plot_file(b"H 1\na\n--\n \xff\n"), 12, "invalid"),
        (plot_file(b"H 1\na\n--\n xx\n"), 3, "Could not parse line"),
        (plot_file(b"H x\n"), 12, "The first line"),
        (good + ".missing", 12, "Plot file not found!"),
        (good, 12.5, TypeError),
        (good, -1, OverflowError),
    ]


def call(path, width):
    try:
        return read(path, width)
    except BaseException as caught:  # noqa: BLE001
        return caught


def test_no_descriptor_left_open(mixed_files, capfd):
    panic = panic_exception_type()
    before = open_fds()
    for round_number in range(1000):
        path, width, expected = mixed_files[round_number % len(mixed_files)]
        outcome = call(path, width)
        if expected is None:
            assert isinstance(outcome, tuple)
        elif isinstance(expected, type):
            assert type(outcome) is expected
        else:
            assert type(outcome) is panic
        if round_number % 100 == 0:
            capfd.readouterr()  # keep the captured reports small
    assert open_fds() == before


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs the debug interpreter")
def test_reference_count_does_not_grow(mixed_files, capfd):
    def round_trip():
        for path, width, _ in mixed_files:
            outcome = call(path, width)
            del outcome

    for _ in range(20):  # warm caches: interned names, the exception type, the io module
        round_trip()
    capfd.readouterr()
    before = sys.gettotalrefcount()
    for _ in range(200):
        round_trip()
    capfd.readouterr()
    after = sys.gettotalrefcount()
    assert after - before < 50, (before, after)


def run_in_threads(worker, count):
    """Runs worker(0) … worker(count - 1) at once, each on its own thread, and waits for all."""
    threads = [threading.Thread(target=worker, args=(i,)) for i in range(count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


def test_results_are_not_shared_between_threads(plot_file):
    paths = []
    for t in range(8):
        n = 3 + t * 2
        blocks = [[f"{t}.{b}{j}" for j in range(n)] for b in range(40)]
        paths.append(plot_file(plot_text(n, blocks, 12 + (t % 2) * 3)))
    widths = [12 + (t % 2) * 3 for t in range(8)]
    sequential = [read(p, w) for p, w in zip(paths, widths)]
    results = [[] for _ in range(8)]
    start = threading.Barrier(8)

    def worker(index):
        start.wait()
        for _ in range(25):
            results[index].append(read(paths[index], widths[index]))

    run_in_threads(worker, 8)
    for index in range(8):
        assert len(results[index]) == 25
        assert all(result == sequential[index] for result in results[index])


def test_failures_from_many_threads(plot_file, capfd):
    panic = panic_exception_type()
    bad = [plot_file(f"H 1\na\n--\n {t}x\n".encode()) for t in range(8)]
    outcomes = [None] * 8

    def worker(index):
        outcomes[index] = [call(bad[index], 3) for _ in range(20)]

    run_in_threads(worker, 8)
    for index in range(8):
        for outcome in outcomes[index]:
            assert type(outcome) is panic
            assert outcome.args == ("Could not parse line: ParseFloatError { kind: Invalid }",)
    capfd.readouterr()


MEMORY_SCRIPT = """
    import os, resource, sys
    import quorvel
    path = sys.argv[1]
    fds = len(os.listdir("/proc/self/fd"))
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (int(sys.argv[2]), hard))
    try:
        quorvel.rust_read_kavrine(path, 1)
        print("returned")
    except MemoryError as error:
        print("MemoryError", type(error).__name__)
    except BaseException as other:
        print("other", type(other).__name__, other)
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    print("fds", len(os.listdir("/proc/self/fd")) - fds)
    # the interpreter keeps working
    print("after", quorvel.rust_read_kavrine(sys.argv[3], 12))
"""


def address_space_in_use():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmSize")


@pytest.mark.parametrize("shape", ["huge line", "many values"])
def test_memory_exhaustion_raises_memory_error(tmp_path, shape):
    path = tmp_path / "huge.plt"
    if shape == "huge line":
        # A sparse file: one line of NUL bytes, far longer than the allowance below.
        with open(path, "wb") as stream:
            stream.write(b"H 1\na\n--\n")
            stream.truncate(4 << 30)
    else:
        # Fields one byte wide: 33 MB of file give 30 million floats, 120 MB of columns.
        n = 1000
        block = b"--\n" + b"1234567890\n" * (n // 10)
        with open(path, "wb") as stream:
            stream.write(f"H {n}\n".encode() + b"n\n" * n)
            stream.write(block * 30000)
    small = tmp_path / "small.plt"
    small.write_text("H 1\na\n--\n         2.0\n")
    code = textwrap.dedent(MEMORY_SCRIPT)
    # Room for the interpreter and its libraries plus some 100 MB, whatever the build.
    probe = subprocess.run(
        [sys.executable, "-c", "import quorvel, resource, os\n"
         "print(int(open('/proc/self/status').read().split('VmSize:')[1].split()[0]) * 1024)"],
        capture_output=True, text=True, check=True)
    limit = int(probe.stdout) + (100 << 20)
    completed = subprocess.run(
        [sys.executable, "-c", code, str(path), str(limit), str(small)],
        capture_output=True, text=True, timeout=300, check=False)
    assert completed.returncode == 0, completed.stderr
    lines = completed.stdout.splitlines()
    assert lines[0] == "MemoryError MemoryError", completed.stdout + completed.stderr
    assert lines[1] == "fds 0"
    assert lines[2] == "after ([2.0], [])"
