"""Lines no plot file has: a header or name line past 1 MiB is refused once the limit is passed,
a long line or field is quoted by its first 200 bytes and its length, and a line that never ends
(a FIFO fed NUL bytes) fails at once or, as a value line, gives way to Ctrl-C. Runs with signals
or endless input are child processes."""

import os
import signal
import subprocess
import sys
import textwrap
import threading

import pytest

import quorvel_arrays as qa

MIB = 1 << 20
LONG = "the first line is longer than 1,048,576 bytes: this is not a plot file"


def excerpt(text, length):
    """The quoted excerpt of a text of `length` bytes whose first 200 bytes are `text`."""
    return f"'{text}'\u2026 ({length:,} bytes)"


CR_ONLY = "H 2\rA\rB\r--\r" + "         1.0         2.0\r" * 40


@pytest.mark.parametrize("content, width, reason", [
    (b"x" * (MIB + 1), 12, LONG),
    (b"x" * (MIB + 1) + b"\n", 12, LONG),
    (b"x" * (MIB + 2) + b"\r\n", 12, LONG),
    (b"\0" * (3 * MIB), 12, LONG),
    (b"x" * (MIB - 2) + b" 1\nT\n--\n         1.0\n", 12, None),  # the longest header there may be
    (b"x" * (MIB - 2) + b" 1\r\nT\r\n--\r\n         1.0\r\n", 12, None),
    (b"H 2\nT\n" + "\u00e9".encode() * (MIB // 2) + b"x\n", 12,
     "the line of parameter name 2 is longer than 1,048,576 bytes: this is not a plot file"),
    (b"x" * MIB + b"\n", 12,
     "the first line does not end with the number of parameters: " + excerpt("x" * 200, MIB)),
    (CR_ONLY.encode(), 12,  # no LF: the whole file is the first line
     "the first line does not end with the number of parameters: "
     + excerpt(CR_ONLY[:200].replace("\r", "\\r"), len(CR_ONLY))),
    (("x" + "\u00e9" * 101 + "\n").encode(), 12,  # byte 200 is inside a character: cut before it
     "the first line does not end with the number of parameters: " + excerpt("x" + "\u00e9" * 99, 203)),
    (b"H 1\nT\n--\n" + b"x" * 300 + b"\n", 300, "field 1 is not a number: " + excerpt("x" * 200, 300)),
    (b"H 1\nT\n--\n" + b"x" * 200 + b"\n", 200, "field 1 is not a number: '" + "x" * 200 + "'"),
])
def test_long_lines_are_refused_or_quoted_in_part(plot_file, content, width, reason):
    path = plot_file(content)
    if reason is None:
        assert qa.read(path, width).values.tolist() == [[1.0]]
        return
    with pytest.raises(qa.PlotFileError) as caught:
        qa.read(path, width)
    assert caught.value.reason == reason


# Reads argv[1], a FIFO the parent feeds NUL bytes after argv[2], with the width argv[3] ("-": found).
CHILD = """
    import os, signal, sys, threading
    signal.signal(signal.SIGINT, signal.default_int_handler)
    import quorvel_arrays as qa
    fds = len(os.listdir("/proc/self/fd"))
    print("calling", flush=True)
    try:
        qa.read(sys.argv[1], None if sys.argv[2] == "-" else int(sys.argv[2]))
        print("result", flush=True)
    except BaseException as caught:
        print("raised", type(caught).__name__, len(str(caught)), flush=True)
    print("fds", len(os.listdir("/proc/self/fd")) - fds, flush=True)
"""


def feed(fifo, start, fed):
    """Writes `start`, then NUL bytes until the reader goes away; counts the bytes in fed[0]."""
    zeros = bytes(1 << 16)
    try:
        with open(fifo, "wb", buffering=0) as pipe:
            fed[0] += pipe.write(start)
            while True:
                fed[0] += pipe.write(zeros)
    except BrokenPipeError:
        pass


@pytest.mark.parametrize("start, width, interrupt, out", [
    (b"", "12", False, "raised PlotFileError {header}"),                      # a header without end
    (b"H 2\nT\n", "12", False, "raised PlotFileError {name}"),                # a name line without end
    (b"H 1\nT\n--\n", "-", True, "raised KeyboardInterrupt 0"),             # a value line without end
    (b"H 1\nT\n", "12", True, "raised KeyboardInterrupt 0"),                # a separator without end
])
def test_a_line_without_end_fails_at_once_or_gives_way_to_ctrl_c(tmp_path, start, width, interrupt, out):
    fifo = tmp_path / "zeros.plt"
    os.mkfifo(fifo)
    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(CHILD), str(fifo), width],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    fed = [0]
    feeder = threading.Thread(target=feed, args=(fifo, start, fed))
    try:
        assert child.stdout.readline() == "calling\n"
        feeder.start()
        if interrupt:
            while fed[0] < 64 << 20 and child.poll() is None:  # well into the line
                feeder.join(0.01)
            child.send_signal(signal.SIGINT)
        stdout, stderr = child.communicate(timeout=10)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
        if feeder.is_alive():
            os.close(os.open(fifo, os.O_RDONLY | os.O_NONBLOCK))  # a reader, so that the writer's open ends
        feeder.join()
    header = len(f"{fifo}:1: {LONG}")
    name = len(f"{fifo}:3: the line of parameter name 2 is longer than 1,048,576 bytes: this is not a plot file")
    assert stdout.splitlines() == [out.format(header=header, name=name), "fds 0"], stderr
    assert stderr == ""
    if not interrupt:
        assert fed[0] < 16 << 20  # stopped reading soon after the limit
