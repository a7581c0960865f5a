"""`quorvel watch` in a child process while a writer appends the sample in random pieces: the CSV
lines against a read of the finished file, how it ends (idle, signals, a defect, a closed pipe),
the picture and the terminal view under a pseudo-terminal."""

import io
import os
import pathlib
import pty
import random
import re
import select
import signal
import struct
import subprocess
import sys
import threading
import time

import numpy
import pytest

import quorvel_arrays as qa
from quorvel_arrays._command import watch_view
from test_cli import W12, W15
from test_cli_hostile import COMMAND, child_env, defaults

SAMPLE = pathlib.Path(W12).read_bytes()
DEFAULT = list(range(9))  # the first column and the first eight after it
FAST = ["--interval", "0.05"]


def append(path, data, seed, pause=0.02):
    """Appends `data` to `path` in random pieces, as a simulation flushes its output."""
    rng = random.Random(seed)
    with open(path, "ab", buffering=0) as out:
        at = 0
        while at < len(data):
            step = rng.randint(1, 400)
            out.write(data[at : at + step])
            at += step
            time.sleep(rng.uniform(0, pause))


def watch(path, *args, stdout=subprocess.PIPE, env=None):
    return subprocess.Popen([*COMMAND, "watch", str(path), *map(str, args)], stdin=subprocess.DEVNULL,
                            stdout=stdout, stderr=subprocess.PIPE, env=env or child_env(), preexec_fn=defaults)


def csv_of(path, columns):
    selected = qa.read(path, columns=columns)
    out = io.StringIO()
    out.write(",".join(selected.names) + "\n")
    out.writelines(",".join(row) + "\n" for row in selected.values.astype(str).tolist())
    return out.getvalue().encode()


@pytest.mark.parametrize("names, columns", [([], DEFAULT), (["TEMP", "X"], [0, "TEMP", "X"]), (["-1", "0"], [0, -1, 0])])
def test_lines_are_the_finished_files(tmp_path, names, columns):
    path = tmp_path / "run.plt"
    child = watch(path, *names, *FAST, "--idle", "1.5")  # started before the file exists
    append(path, SAMPLE, seed=len(names))
    out, errors = child.communicate(timeout=60)
    assert (child.returncode, errors) == (0, b"")
    assert out == csv_of(path, columns)


# Only the chosen columns are parsed: the defect is in TEMP's field.
BAD_BLOCK = b" TIME STEP 41\n 1.00000E+01" + b" 0.00000E+00" * 9 + b"\n" + b" 0.00000E+00" * 2 + b" 2.9XXXXE+02\n"


REPLACED = "the file was replaced by another while it was followed"
REWRITTEN = "the file was rewritten while it was followed: its bytes before block 41 are not those read"


@pytest.mark.parametrize("how, status", [("SIGINT", 130), ("SIGTERM", 143), ("defect", 1), ("replaced", 1), ("wider", 1),
                                         ("rewritten", 1)])
def test_how_it_ends(tmp_path, how, status):
    path = tmp_path / "run.plt"
    path.write_bytes(SAMPLE)
    child = watch(path, "TEMP", *FAST)
    try:
        assert child.stdout.readline() == b"TIME,TEMP\n"
        assert len([child.stdout.readline() for _ in range(40)][-1].split(b",")) == 2
        if how == "defect":
            append(path, BAD_BLOCK, seed=1)
        elif how in ("replaced", "wider"):
            (tmp_path / "new.plt").write_bytes(SAMPLE if how == "replaced" else pathlib.Path(W15).read_bytes())
            os.replace(tmp_path / "new.plt", path)
        elif how == "rewritten":
            with open(path, "r+b") as out:  # a new run, in place, that never looks smaller
                out.write(SAMPLE.replace(b"VERSION 1", b"VERSION 2") + BAD_BLOCK.replace(b"2.9XXXXE+02", b"2.90000E+02"))
        else:
            child.send_signal(getattr(signal, how))
        out, errors = child.communicate(timeout=60)
    finally:
        child.kill()
        child.wait()
    assert (out, child.returncode) == (b"", status)
    expected = ""
    if how == "defect":
        with pytest.raises(qa.PlotFileError) as caught:
            qa.read(path)
        expected = f"{caught.value}\n"
        assert re.fullmatch(rf"{re.escape(str(path))}:\d+:\d+: field 3 is not a number: .*\n", expected)
    elif how in ("replaced", "wider", "rewritten"):
        expected = f"{path}:{SAMPLE.count(b'\n') + 1}: {REWRITTEN if how == 'rewritten' else REPLACED}\n"
    assert errors.decode() == expected


def test_a_fifo_is_refused_at_once(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    child = watch(fifo, "--idle", "1")
    out, errors = child.communicate(timeout=60)
    assert (child.returncode, out, errors.decode()) == (1, b"", f"quorvel: {fifo}: a FIFO cannot be followed: only a regular file can\n")


def test_a_closed_pipe_ends_it_quietly(tmp_path):
    path = tmp_path / "run.plt"
    path.write_bytes(SAMPLE)
    # No --idle: only the reader that went away can end it.
    done = subprocess.run(["bash", "-c", f'"$@" | head -3; echo "${{PIPESTATUS[0]}}" >&2', "sh", *COMMAND, "watch",
                           str(path), "TEMP"], capture_output=True, env=child_env(), preexec_fn=defaults, timeout=60)
    assert done.stdout.decode().splitlines() == ["TIME,TEMP", "0.0,293.15", "0.25,293.4"]
    assert done.stderr == b"1\n"


@pytest.mark.parametrize("target", ["new", "symlink"])
def test_picture_is_rewritten_whole(tmp_path, target):
    image = pytest.importorskip("matplotlib.image")
    out = tmp_path / "view.png"
    shown = out
    if target == "symlink":
        (tmp_path / "pictures").mkdir()
        out = tmp_path / "pictures" / "real.png"
        out.write_bytes(b"old")
        shown.symlink_to(out)
    path = tmp_path / "run.plt"
    child = watch(path, "X", "V", "--png", shown, *FAST, "--idle", "1.5")
    append(path, SAMPLE, seed=3)
    assert child.communicate(timeout=120)[1] == b"" and child.returncode == 0
    with open(out, "rb") as f:
        head = f.read(24)
    assert head[:16] == b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR" and struct.unpack(">II", head[16:24]) == (800, 500)
    assert image.imread(out)[..., :3].std() > 0.05
    assert os.path.islink(shown) == (target == "symlink")
    leftovers = [name for _, _, names in os.walk(tmp_path) for name in names if name.endswith(".part")]
    assert leftovers == []


ESCAPE = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b[()][A-Z0-9]")


@pytest.mark.parametrize("columns", [60, 120])
def test_terminal_view_fits_the_width(tmp_path, columns):
    pytest.importorskip("rich")
    path = tmp_path / "run.plt"
    main, child_end = pty.openpty()
    env = child_env() | {"COLUMNS": str(columns), "LINES": "40", "TERM": "xterm-256color"}
    env.pop("NO_COLOR", None)
    try:
        child = watch(path, *FAST, "--idle", "1.5", stdout=child_end, env=env)
        os.close(child_end)
        writer = threading.Thread(target=append, args=(path, SAMPLE, 4))
        writer.start()
        shown = b""
        while True:  # until the child closes its end: EIO
            select.select([main], [], [], 60)
            try:
                data = os.read(main, 65536)
            except OSError:
                break
            if not data:
                break
            shown += data
        writer.join()
        assert (child.communicate(timeout=60)[1], child.returncode) == (b"", 0)
    finally:
        os.close(main)
    lines = [line.decode() for line in re.split(rb"\r\n|\r|\n", ESCAPE.sub(b"", shown))]
    assert max(map(len, lines)) <= columns
    last = lines[max(i for i, line in enumerate(lines) if "40 blocks" in line):]
    plot = qa.read(path)
    assert last[0].startswith(f"TIME {plot.time[-1]}  40 blocks  ")
    for position in range(1, 9):
        row = next(line for line in last if line.split()[:1] == [plot.names[position]]).rstrip()
        assert row.split()[1] == str(plot.values[-1, position])
        assert re.search(f"[{watch_view.SPARKS}]{{4,}}$", row)


@pytest.mark.parametrize("values, width, bars", [
    (range(8), 8, "▁▂▃▄▅▆▇█"),
    (range(8), 3, "▁▅█"),  # the last values, scaled among themselves
    ([numpy.nan, 1.0, 1.0], 9, " ▄▄"),
    ([-numpy.inf, 0.0, numpy.inf], 3, "▁▄█"),
    ([-3.4028235e38, 3.4028235e38], 2, "▁█"),  # the span overflows float32
])
def test_sparkline(values, width, bars):
    assert watch_view.sparkline(numpy.array(values, dtype=numpy.float32), width) == bars


@pytest.mark.parametrize("args, message", [
    (["-"], "watch follows a file by its name: standard input (-) cannot be followed"),
    ([W12, "--png", W12], f"--png {W12} is the file watched: it would be overwritten"),
    ([W12, "--interval", "0"], "argument --interval: must be a number > 0, not '0'"),
    ([W12, "--idle", "-1"], "argument --idle: must be a number of seconds >= 0, not '-1'"),
])
def test_usage_errors(args, message):
    done = subprocess.run([*COMMAND, "watch", *args], capture_output=True, text=True, timeout=60)
    assert done.returncode == 2 and done.stderr.splitlines()[-1] == f"quorvel watch: error: {message}"
