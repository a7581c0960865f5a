"""What a hostile caller can do to a call and the process around it: exhaust the address space at
every point of a read, interrupt a read that blocks, and give fields of hundreds of thousands of
digits."""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from conftest import read

# Reads argv[1] under an address-space limit of argv[2] bytes; with argv[3] == "failed-before" the
# process has raised a failure first. Prints one line: the outcome.
LIMITED_SCRIPT = """
    import resource, sys
    import quorvel
    if sys.argv[3] == "failed-before":
        try:
            quorvel.rust_read_kavrine("/nonexistent-quorvel-dir/x.plt", 12)
        except BaseException:
            pass
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (int(sys.argv[2]), hard))
    try:
        result = quorvel.rust_read_kavrine(sys.argv[1], 12)
        outcome = "result %d %d" % (len(result[0]), len(result[1]))
    except MemoryError:
        outcome = "MemoryError"
    except BaseException as other:
        outcome = "%s %s" % (type(other).__name__, other.args[0] if other.args else "")
    resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    print(outcome, flush=True)
"""

PARAMETERS = 10**6


@pytest.fixture(scope="module")
def million_parameters(tmp_path_factory):
    """One block of a million parameters (14 MB): a header, a million names, 100,000 value lines;
    and the same with the last field bad, so that the failure comes after all the columns."""
    folder = tmp_path_factory.mktemp("million")
    head = f"H {PARAMETERS}\n".encode() + b"p\n" * PARAMETERS + b" T\n"
    values = (b"         1.0" * 10 + b"\n") * (PARAMETERS // 10)
    good, bad = folder / "good.plt", folder / "bad.plt"
    good.write_bytes(head + values)
    bad.write_bytes(head + values[:-4] + b"x.0\n")
    return {"good": str(good), "bad": str(bad)}


def baseline_address_space():
    probe = subprocess.run(
        [sys.executable, "-c", "import quorvel, resource\n"
         "print(int(open('/proc/self/status').read().split('VmSize:')[1].split()[0]) * 1024)"],
        capture_output=True, text=True, check=True)
    return int(probe.stdout)


GOOD = f"result 1 {PARAMETERS - 1}"
BAD = "PanicException Could not parse line: ParseFloatError { kind: Invalid }"


@pytest.mark.parametrize("content, success, history", [
    ("good", GOOD, "fresh"),          # the thread's state first touched under the limit
    ("good", GOOD, "failed-before"),  # the lists run out of memory
    ("bad", BAD, "fresh"),            # the report and its exception under the limit
])
def test_address_space_sweep_ends_in_result_or_memory_error(million_parameters, content, success, history):
    base = baseline_address_space()
    code = textwrap.dedent(LIMITED_SCRIPT)
    outcomes = {}
    # From just above the interpreter up, in steps of 10 MB, until the read has succeeded twice in
    # a row: the call runs out in the header, the columns, the lists and the report in turn.
    for extra in range(0, 600 << 20, 10 << 20):
        completed = subprocess.run(
            [sys.executable, "-c", code, million_parameters[content], str(base + extra), history],
            capture_output=True, text=True, timeout=120, check=False)
        outcome = completed.stdout.strip()
        outcomes[extra >> 20] = (completed.returncode, outcome)
        assert completed.returncode == 0, (extra >> 20, completed.returncode, completed.stderr[-2000:])
        assert outcome in ("MemoryError", success), (extra >> 20, outcome, completed.stderr[-2000:])
        if outcome == "MemoryError":
            assert "Exception ignored" not in completed.stderr
            assert "PyObject pointer is null" not in completed.stderr
        if [o for _, o in outcomes.values()][-2:] == [success, success]:
            break
    seen = {outcome for _, outcome in outcomes.values()}
    assert seen == {"MemoryError", success}, outcomes


# Reads a FIFO in a child, with the list reader or (argv[3] == "arrays") the array reader, which
# reads without the interpreter's lock; argv[2] == "quiet-handler" installs a SIGUSR1 handler that
# does not raise and says so on standard output. SIGINT raises KeyboardInterrupt in the child even
# when whoever started the suite ignored it (nohup, cron), as it does in a user's session.
FIFO_SCRIPT = """
    import os, signal, sys
    import quorvel
    import quorvel_arrays
    signal.signal(signal.SIGINT, signal.default_int_handler)
    if sys.argv[2] == "quiet-handler":
        signal.signal(signal.SIGUSR1, lambda number, frame: print("handled", flush=True))
    fds = len(os.listdir("/proc/self/fd"))
    print("calling", flush=True)
    try:
        if sys.argv[3] == "arrays":
            result = quorvel_arrays.read(sys.argv[1], 12).values.tolist()
        else:
            result = quorvel.rust_read_kavrine(sys.argv[1], 12)
        print("result", result, flush=True)
    except BaseException as caught:
        print("raised", type(caught).__name__, flush=True)
    print("fds", len(os.listdir("/proc/self/fd")) - fds, flush=True)
"""


def wait_until_blocked(pid):
    """Until the child sleeps in the kernel (blocked in the open or the read)."""
    for _ in range(2000):
        with open(f"/proc/{pid}/stat") as stat:
            if stat.read().rsplit(")", 1)[1].split()[0] == "S":
                return
        time.sleep(0.005)
    raise AssertionError("the child never blocked")


def start_fifo_reader(tmp_path, handler, reader):
    fifo = tmp_path / "plot.fifo"
    os.mkfifo(fifo)
    child = subprocess.Popen(
        [sys.executable, "-c", textwrap.dedent(FIFO_SCRIPT), str(fifo), handler, reader],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "calling\n"
    return fifo, child


@pytest.mark.parametrize("reader", ["lists", "arrays"])
@pytest.mark.parametrize("writer", ["none", "stalled"])
def test_ctrl_c_ends_a_blocked_read_with_keyboard_interrupt(tmp_path, writer, reader):
    fifo, child = start_fifo_reader(tmp_path, "none", reader)
    stream = None
    try:
        if writer == "stalled":
            stream = open(fifo, "wb", buffering=0)  # returns once the child has opened the FIFO
            stream.write(b"H 2\na\nb\n--\n   ")
        wait_until_blocked(child.pid)
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)
    finally:
        if stream is not None:
            stream.close()
        if child.poll() is None:
            child.kill()
    assert out.splitlines() == ["raised KeyboardInterrupt", "fds 0"], out + err
    assert err == ""  # no report


@pytest.mark.parametrize("reader, result", [
    ("lists", "result ([1.5], [[2.5]])"),
    ("arrays", "result [[1.5, 2.5]]"),
])
def test_a_handler_that_does_not_raise_lets_the_read_go_on(tmp_path, reader, result):
    fifo, child = start_fifo_reader(tmp_path, "quiet-handler", reader)
    try:
        wait_until_blocked(child.pid)
        child.send_signal(signal.SIGUSR1)
        # The handler runs while the call still waits for a writer: the call ran it.
        assert child.stdout.readline() == "handled\n"
        with open(fifo, "wb") as stream:
            stream.write(b"H 2\na\nb\n--\n         1.5         2.5\n")
        out, err = child.communicate(timeout=30)
    finally:
        if child.poll() is None:
            child.kill()
    assert out.splitlines() == [result, "fds 0"], out + err
    assert err == ""


@pytest.mark.parametrize("text, value", [
    ("1" + "0" * 655360 + "e-655360", 1.0),
    ("0." + "0" * 699999 + "1e700000", 1.0),
    ("1" + "0" * 69999 + "e700001", float("inf")),
    ("1" + "0" * 69999 + "e-700001", 0.0),
    ("-" + "1" + "0" * 69999 + "e-700001", -0.0),
])
def test_long_fields_are_rounded_from_their_exact_value(plot_file, text, value):
    path = plot_file(f"H 1\na\n--\n{text}\n")
    got = read(path, len(text))
    assert got == ([value], [])
    assert str(got[0][0]) == str(value)  # the sign of zero too
