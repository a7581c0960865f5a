"""Following a file while a writer appends to it in pieces cut anywhere: the pieces together are
the finished file's read, and truncation, replacement, a defect, idleness and Ctrl-C end it as
documented."""

import errno
import os
import random
import signal
import socket
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import quorvel_arrays as qa


def plot_bytes(blocks, parameters=13, line_end=b"\r\n", width=12, run="A"):
    names = [f"TÉMP{j}" if j % 5 == 1 else f"P{j}" for j in range(parameters)]  # multi-byte characters
    lines = [f"KAVRINE PLOT RUN {run} {parameters}".encode()] + [name.encode() for name in names]
    for b in range(blocks):
        lines.append(f" STEP {b}".encode())
        row = [f"{b * 100 + j + 0.25:{width}.{width - 7}E}" for j in range(parameters)]
        lines += ["".join(row[k:k + 10]).encode() for k in range(0, parameters, 10)]
    return line_end.join(lines) + line_end


def append_in_pieces(path, data, seed, pause=0.001):
    chooser = random.Random(seed)
    with open(path, "ab", buffering=0) as out:
        at = 0
        while at < len(data):
            size = chooser.choice([1, 2, 3, 7, 50, 400])
            out.write(data[at:at + size])
            at += size
            time.sleep(pause * chooser.random())


@pytest.mark.parametrize(("seed", "line_end", "start"), [(1, b"\r\n", 0), (2, b"\n", 0), (3, b"\r\n", -5), (4, b"\n", 3)])
def test_the_pieces_are_the_finished_files_blocks(tmp_path, seed, line_end, start):
    path = str(tmp_path / "run.plt")
    data = plot_bytes(40, line_end=line_end)
    half = data.index(b" STEP 20")
    with open(path, "wb") as out:
        out.write(data[:half + 3])  # cut inside a separator line
    writer = threading.Thread(target=append_in_pieces, args=(path, data[half + 3:], seed))
    pieces = []
    follower = qa.follow(path, idle=0.4, interval=0.05, start=start, columns=["TÉMP1", 0, -1])
    pieces.append(next(follower))  # what the file holds at first
    writer.start()
    pieces.extend(follower)
    writer.join()
    whole = qa.read(path, columns=["TÉMP1", 0, -1])
    first = start if start >= 0 else 20 + start
    assert np.concatenate([p.values for p in pieces]).tobytes() == whole.values[first:].tobytes()
    assert len(pieces[0]) == 20 - first and all(len(p) > 0 for p in pieces)


def test_a_writer_process_that_starts_before_the_header(tmp_path):
    path = str(tmp_path / "later.plt")
    data = plot_bytes(30, parameters=3, line_end=b"\n")
    script = textwrap.dedent(f"""
        import random, time
        chooser, data, at = random.Random(7), {data!r}, 0
        time.sleep(0.2)
        with open({path!r}, "ab", buffering=0) as out:
            while at < len(data):
                size = chooser.choice([1, 2, 3, 7, 50])
                out.write(data[at:at + size])
                at += size
                time.sleep(0.003 * chooser.random())
    """)
    writer = subprocess.Popen([sys.executable, "-c", script])
    pieces = list(qa.follow(path, idle=1.5, interval=0.05))
    assert writer.wait() == 0
    assert np.concatenate([p.values for p in pieces]).tobytes() == qa.read(path).values.tobytes()


def rename_over(path, data):
    with open(path + ".new", "wb") as out:
        out.write(data)
    os.replace(path + ".new", path)


def relink(path, data):
    with open(path + ".other", "wb") as out:
        out.write(data)
    os.symlink(path + ".other", path + ".link")
    os.replace(path + ".link", path)


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def rewrite(path, data):
    with open(path, "r+b") as out:  # in place: the file never looks smaller
        out.write(data)


def last_block_changed(blocks):
    data = bytearray(plot_bytes(blocks, parameters=3, line_end=b"\n"))
    data[data.index(b" STEP 9\n") + 9] ^= 1  # a digit of block 9's first value
    return bytes(data)


A = plot_bytes(10, parameters=3, line_end=b"\n")
SHRANK = r"the file shrank to 200 bytes while it was followed: block 11 was to start at byte \d+$"
REPLACED = "the file was replaced by another while it was followed$"
REWRITTEN = "the file was rewritten while it was followed: its bytes before block 11 are not those read$"


@pytest.mark.parametrize(
    ("change", "data", "reason"),
    [
        (lambda path, _: os.truncate(path, 200), None, SHRANK),
        (rename_over, A + plot_bytes(11, parameters=3, line_end=b"\n")[len(A):], REPLACED),
        (rename_over, plot_bytes(11, parameters=3, line_end=b"\n", width=15), REPLACED),  # not a field too short
        (relink, plot_bytes(11, parameters=3, line_end=b"\n", width=15), REPLACED),
        (rewrite, plot_bytes(14, parameters=3, line_end=b"\n", run="B"), REWRITTEN),  # another header
        (rewrite, last_block_changed(14), REWRITTEN),
        (rewrite, last_block_changed(10), REWRITTEN),  # the same size
        (lambda path, data: open(path, "ab").write(data), b" STEP 10\n 1.00000E+00 x.xxxxxE+00 3.00000E+00\n",
         r"field 2 is not a number: ' x.xxxxxE\+00'$"),
    ],
    ids=["cut", "renamed over", "renamed over, wider", "link re-pointed", "rewritten, another header",
         "rewritten, the last block", "rewritten, the same size", "defect"],
)
def test_a_cut_replaced_rewritten_or_defective_file_raises(tmp_path, change, data, reason):
    path = str(tmp_path / "run.plt")
    if change is relink:
        write(path + ".first", A)
        os.symlink(path + ".first", path)
    else:
        write(path, A)
    follower = qa.follow(path, interval=0.05, idle=5)
    assert len(next(follower)) == 10
    change(path, data)
    with pytest.raises(qa.PlotFileError, match=reason) as caught:
        next(follower)
    assert caught.value.line == 4 + 10 * 2 + (2 if "number" in reason else 1)


def test_a_start_past_the_end_is_waited_for(tmp_path):
    path = str(tmp_path / "run.plt")
    data = plot_bytes(14, parameters=3, line_end=b"\n")
    ten = data.index(b" STEP 10")
    write(path, data[:ten])
    writer = threading.Timer(0.2, append_in_pieces, args=(path, data[ten:], 5))
    writer.start()
    pieces = list(qa.follow(path, interval=0.05, idle=1, start=12))
    writer.join()
    assert np.concatenate([p.values for p in pieces]).tobytes() == qa.read(path).values[12:].tobytes()


@pytest.mark.parametrize("followers", [1, 130])
def test_followers_share_one_inotify_instance(tmp_path, followers):
    for k in range(followers):
        write(str(tmp_path / f"run{k}.plt"), A)
    script = textwrap.dedent(f"""
        import os, sys
        import quorvel_arrays as qa
        def link(fd):
            try:
                return os.readlink("/proc/self/fd/" + fd)
            except OSError:  # the listing's own descriptor, closed since
                return ""
        def instances():
            return [link(fd) for fd in os.listdir("/proc/self/fd")].count("anon_inode:inotify")
        followers = [qa.follow(os.path.join({str(tmp_path)!r}, f"run{{k}}.plt"), idle=60) for k in range({followers})]
        print([len(next(f)) for f in followers] == [10] * {followers}, instances())
        for f in followers:
            f.close()
        print(instances())
    """)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert (done.stdout, done.stderr) == ("True 1\n0\n", "")


def bound_socket(name):
    listener = socket.socket(socket.AF_UNIX)
    listener.bind(name)
    return listener


@pytest.mark.parametrize(("make", "kind"), [(os.mkfifo, "a FIFO"), (bound_socket, "a socket")])
def test_a_fifo_or_a_socket_is_refused_at_once(tmp_path, monkeypatch, make, kind):
    monkeypatch.chdir(tmp_path)  # a socket's path is short
    kept = make("other")
    with pytest.raises(OSError) as caught:
        next(qa.follow("other", idle=1))
    assert (caught.value.errno, caught.value.strerror, caught.value.filename) == (
        errno.ESPIPE, f"{kind} cannot be followed: only a regular file can", "other")
    if kept is not None:
        kept.close()


def test_idle_ends_and_ctrl_c_interrupts_with_the_file_closed(tmp_path):
    path = str(tmp_path / "still.plt")
    with open(path, "wb") as out:
        out.write(plot_bytes(3, parameters=2, line_end=b"\n"))
    started = time.monotonic()
    assert [len(p) for p in qa.follow(path, idle=0.3, interval=0.05)] == [3]
    assert 0.3 <= time.monotonic() - started < 3
    script = textwrap.dedent(f"""
        import os, signal, sys
        signal.signal(signal.SIGINT, signal.default_int_handler)
        import quorvel_arrays as qa
        try:
            for piece in qa.follow({path!r}):
                print("piece", len(piece), flush=True)
        except KeyboardInterrupt:
            print("interrupted", sorted(os.listdir("/proc/self/fd")) == sorted(set(os.listdir("/proc/self/fd"))), flush=True)
            target = os.path.realpath({path!r})
            print("open", any(os.path.realpath("/proc/self/fd/" + fd) == target for fd in os.listdir("/proc/self/fd")))
    """)
    child = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "piece 3\n"
    time.sleep(0.2)
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=10)
    assert out.split("\n")[:2] == ["interrupted True", "open False"]
