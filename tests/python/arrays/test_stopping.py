"""Reads on worker threads stopped: Ctrl-C during read_many, `quorvel info` and `quorvel convert`
while a read is blocked on a FIFO without a writer, and the failures read_many reports. Everything with a signal runs in a child process."""

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import quorvel_arrays as qa
from conftest import plot_text

SAMPLE = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "..", "..", "samples", "oscillator_w12.plt"))

# argv[1] is "read_many" or a command line of `quorvel`; the rest are its files. The child
# raises KeyboardInterrupt on SIGINT whatever it inherited, and ends with the command's status.
CHILD = """
    import os, signal, sys, threading
    signal.signal(signal.SIGINT, signal.default_int_handler)
    import quorvel_arrays as qa
    from quorvel_arrays._command.cli import main
    fds = len(os.listdir("/proc/self/fd"))
    status = 0
    print("calling", flush=True)
    try:
        if sys.argv[1] == "read_many":
            qa.read_many(sys.argv[2:], 12, threads=len(sys.argv) - 2)
        else:
            status = main(sys.argv[1:])
            print("status", status, flush=True)
    except BaseException as caught:
        print("raised", type(caught).__name__, flush=True)
    print("threads", [thread.name for thread in threading.enumerate()], flush=True)
    print("fds", len(os.listdir("/proc/self/fd")) - fds, flush=True)
    sys.exit(status)
"""


def blocked_reader(pid, main=False, waits=("wait_for_partner", "0", "")):
    """Whether a thread of the child named quorvel-read… (or its main thread) waits in the FIFO's
    open, or in another of `waits` (where the kernel does not say where a thread waits: sleeps at
    all)."""
    for task in os.listdir(f"/proc/{pid}/task"):
        if main != (task == str(pid)):
            continue
        try:
            with open(f"/proc/{pid}/task/{task}/stat") as stat:
                text = stat.read()
            with open(f"/proc/{pid}/task/{task}/wchan") as wchan:
                waits_in = wchan.read()
        except FileNotFoundError:
            continue
        name, rest = text.split("(", 1)[1].rsplit(")", 1)
        if (main or name.startswith("quorvel-read")) and rest.split()[0] == "S" and waits_in in waits:
            return True
    return False


# info and convert read a file at a time on the main thread, a piece at a time.
@pytest.mark.parametrize("args, out, status, main", [
    (["read_many", "{fifo}", "{sample}", "{fifo}"], ["raised KeyboardInterrupt"], 0, False),
    (["info", "{sample}", "{fifo}", "{sample}"], ["status 130"], 130, True),
    (["convert", "{fifo}", "{sample}", "-o", "{tmp}/out", "--to", "csv"], ["status 130"], 130, True),
])
def test_ctrl_c_stops_blocked_reads(tmp_path, args, out, status, main):
    fifo = tmp_path / "nobody-writes.plt"
    os.mkfifo(fifo)
    argv = [arg.format(fifo=fifo, sample=SAMPLE, tmp=tmp_path) for arg in args]
    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(CHILD), *argv],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline() == "calling\n"
        for _ in range(2000):
            if blocked_reader(child.pid, main):
                break
            time.sleep(0.005)
        else:
            raise AssertionError("no reader thread blocked")
        child.send_signal(signal.SIGINT)
        stdout, stderr = child.communicate(timeout=10)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    lines = [line for line in stdout.splitlines() if not line.startswith(SAMPLE)]
    lines = [line for line in lines if line and not line.startswith("  ")]  # info's report of the sample
    assert lines == [*out, "threads ['MainThread']", "fds 0"], stdout + stderr
    assert child.returncode == status, stderr
    assert "Traceback" not in stderr


def test_read_many_raises_the_first_failure_with_the_others_as_notes(tmp_path):
    bad = tmp_path / "bad.plt"
    bad.write_text("H 1\nA\n--\n           x\n")
    cut = tmp_path / "cut.plt"
    cut.write_text("H 2\nA\nB\n--\n")
    good = tmp_path / "good.plt"
    good.write_text(plot_text(1, [["1.0"]], 12))
    missing = tmp_path / "missing.plt"
    with pytest.raises(qa.PlotFileError) as caught:
        qa.read_many([good, bad, missing, good, cut], 12, threads=2)
    assert str(caught.value) == f"{bad}:4:1: field 1 is not a number: '           x'"
    assert caught.value.__notes__ == [
        f"also failed: {missing}: FileNotFoundError: [Errno 2] No such file or directory: '{missing}'",
        f"also failed: {cut}: PlotFileError: {cut}:5: the file ends inside block 1: a value line is missing",
    ]
    with pytest.raises(FileNotFoundError) as alone:
        qa.read_many([missing, good])
    assert not hasattr(alone.value, "__notes__")


def test_read_many_leaves_no_thread_behind(tmp_path):
    before = set(threading.enumerate())
    good = tmp_path / "good.plt"
    good.write_text(plot_text(2, [["1.0", "2.0"]], 12))
    assert [len(plot) for plot in qa.read_many([good] * 5, threads=3)] == [1] * 5
    with pytest.raises(FileNotFoundError):
        qa.read_many([tmp_path / "missing.plt", good], threads=2)
    assert set(threading.enumerate()) == before
