"""What a hostile user tries on the command's newest options and on parallel reads: counts and
addresses that are no such thing, sizes whose product overflows, workers that die, a FIFO that
stalls half-way through a read, a FIFO or a device given where a file is wanted. Every refusal is
one line and never a trace; everything with a signal runs in a child."""

import errno
import os
import signal
import stat
import subprocess
import sys
import textwrap
import time

import numpy
import pytest

import quorvel_arrays as qa
from conftest import plot_text
from quorvel_arrays import _read_mark
from quorvel_arrays._command import cli, formats, zarr_store
from test_cli import W12, quorvel
from test_output_safety import small_disk  # noqa: F401 - a fixture
from test_stopping import blocked_reader


def refusal(tmp_path, *args):
    """The usage error's line of the command given `args` ({tmp} is `tmp_path`), which writes nothing."""
    status, out, err = quorvel(*[str(arg).format(tmp=tmp_path) for arg in args])
    assert (status, out, os.listdir(tmp_path)) == (2, "", []) and "Traceback" not in err
    return err.splitlines()[-1]


@pytest.mark.parametrize("args, message", [
    (["convert", W12, "-o", "{tmp}/o.zarr", "--workers", "257"],
     "argument --workers: must be a whole number from 1 to 256, not '257'"),
    (["convert", W12, "-o", "{tmp}/o.zarr", "--workers", "99999999999999"],
     "argument --workers: must be a whole number from 1 to 256, not '99999999999999'"),
    (["plot", W12, "X", "-o", "{tmp}/p.png", "--width", "1e308"],
     "the picture would be inf×300 pixels (width and height × dpi): each side must be from 16 to 16,384"),
])
def test_odd_arguments_are_one_usage_line(tmp_path, args, message):
    assert refusal(tmp_path, *args) == f"quorvel {args[0]}: error: {message}"


@pytest.mark.parametrize("address", ["garbage", "", "tcp://127.0.0.1:65536", "inproc://127.0.0.1:1", "host:0",
                                     "tcp://:8786"])
def test_odd_scheduler_addresses_are_one_usage_line(tmp_path, address):
    assert refusal(tmp_path, "convert", W12, "-o", "{tmp}/o.zarr", "--scheduler", address) == (
        "quorvel convert: error: argument --scheduler: must be HOST:PORT, tcp://HOST:PORT or tls://HOST:PORT, "
        f"not {address!r}")


@pytest.mark.parametrize("address", ["127.0.0.1:8786", "tcp://scheduler.example:8786", "tls://[::1]:8786"])
def test_scheduler_addresses_accepted(address):
    args = cli.build_parser().parse_args(["convert", W12, "-o", "o.zarr", "--scheduler", address])
    assert args.scheduler == address


def test_workers_that_die_are_one_line_and_leave_nothing(monkeypatch, capsys, tmp_path):
    distributed = pytest.importorskip("distributed")
    pytest.importorskip("zarr")

    def dies(task):
        # What the scheduler raises once every worker given the chunk has died on it.
        raise distributed.KilledWorker(("run_chunk", 0), type("Gone", (), {"address": "tcp://10.0.0.1:1"})(), 3)

    monkeypatch.setattr(zarr_store, "run_chunk", dies)
    monkeypatch.setattr(formats, "PIECE_VALUES", 26)  # two blocks a chunk
    target = tmp_path / "out.zarr"
    with distributed.LocalCluster(n_workers=1, processes=False, protocol="tcp://", host="127.0.0.1",
                                  dashboard_address=None) as cluster:
        status = cli.main(["convert", W12, "-o", str(target), "--scheduler", cluster.scheduler_address])
    assert (status, capsys.readouterr().err) == (
        1, f"quorvel: cannot write {target}: the cluster's workers died while writing a chunk (4 tried it): "
           "see their logs\n")
    assert os.listdir(tmp_path) == []


def test_a_full_disk_under_the_workers_is_the_outputs_failure(tmp_path, small_disk):  # noqa: F811
    distributed = pytest.importorskip("distributed")
    pytest.importorskip("zarr")
    source = tmp_path / "big.plt"
    values = numpy.random.default_rng(7).random((60_000, 6), numpy.float32)
    source.write_text(plot_text(6, [[f"{value:.6E}" for value in row] for row in values]))
    target = small_disk / "big.zarr"
    with distributed.LocalCluster(n_workers=1, processes=False, protocol="tcp://", host="127.0.0.1",
                                  dashboard_address=None) as cluster:
        status, _, err = quorvel("convert", source, "-o", target, "--scheduler", cluster.scheduler_address)
    assert (status, err) == (1, f"quorvel: cannot write {target}: No space left on device\n")
    assert os.listdir(small_disk) == []


@pytest.mark.parametrize("doing, participle", [("open", "opened"), ("followed", "followed"),
                                               ("read in pieces", "read in pieces")])
@pytest.mark.parametrize("mode, kind", [(stat.S_IFIFO, "a FIFO"), (stat.S_IFCHR, "a device"),
                                        (stat.S_IFSOCK, "a socket")])
def test_a_refusal_says_what_cannot_be_done(doing, participle, mode, kind):
    error = _read_mark.refused(mode, "f.plt", doing)
    assert (error.errno, error.strerror, error.filename) == (
        errno.ESPIPE, f"{kind} cannot be {participle}: only a regular file can", "f.plt")


@pytest.mark.parametrize("special", ["fifo", "/dev/null"])
def test_a_plot_file_refuses_what_it_cannot_index(tmp_path, special):
    if special == "fifo":
        special = tmp_path / "f.plt"
        os.mkfifo(special)
    kind = "a FIFO" if os.path.basename(special) == "f.plt" else "a device"
    with qa.open(special) as plot, pytest.raises(OSError) as refused:
        len(plot)
    assert str(refused.value) == f"[Errno {errno.ESPIPE}] {kind} cannot be opened: only a regular file can: '{special}'"


# A read whose FIFO was sent its header and a block, and then nothing more: Ctrl-C ends it with
# KeyboardInterrupt, and no thread of the pool is left.
STALLED = """
    import signal, sys, threading
    signal.signal(signal.SIGINT, signal.default_int_handler)
    import quorvel_arrays as qa
    print("calling", flush=True)
    try:
        if sys.argv[1] == "read":
            qa.read(sys.argv[2], 12, threads=2)
        else:
            qa.read_many(sys.argv[2:], 12, threads=2)
    except BaseException as caught:
        print("raised", type(caught).__name__, flush=True)
    print("threads", [thread.name for thread in threading.enumerate()], flush=True)
"""


@pytest.mark.parametrize("call, on_main", [("read", True), ("read_many", False)])
def test_ctrl_c_ends_a_read_stalled_mid_file(tmp_path, call, on_main):
    fifo = tmp_path / "stalled.plt"
    os.mkfifo(fifo)
    writer = os.open(fifo, os.O_RDWR)  # a writer that stays, without blocking here
    try:
        os.write(writer, plot_text(2, [["1.0", "2.0"]] * 3).encode()[:-5])
        paths = [fifo] if call == "read" else [fifo, W12, fifo]
        child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(STALLED), call, *map(str, paths)],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            assert child.stdout.readline() == "calling\n"
            while not blocked_reader(child.pid, on_main, ("anon_pipe_read", "pipe_read", "0", "")):
                assert child.poll() is None
                time.sleep(0.005)
            child.send_signal(signal.SIGINT)
            out, err = child.communicate(timeout=60)
        finally:
            child.kill()
            child.wait()
    finally:
        os.close(writer)
    assert (out, err) == ("raised KeyboardInterrupt\nthreads ['MainThread']\n", "")
