"""`quorvel convert --workers N` and `--scheduler ADDRESS`: a .zarr whose chunks a Dask cluster's
workers read and wrote is the store written here, file for file; a defect in a later chunk leaves
nothing; the options are refused where they do not apply."""

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

from conftest import plot_text
from quorvel_arrays._command import cli, cluster, formats
from test_cli import quorvel
from test_cli_hostile import child_env, defaults, ended_by, leftovers
from test_convert_stream import long_file  # noqa: F401 - a fixture

pytest.importorskip("zarr")
distributed = pytest.importorskip("distributed")


def convert(monkeypatch, capsys, *args):
    monkeypatch.setattr(formats, "PIECE_VALUES", 7)  # chunks of two blocks: six tasks
    status = cli.main(["convert", *map(str, args)])
    return status, capsys.readouterr().err


def store_files(folder):
    found = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, "rb") as stored:
                found[os.path.relpath(path, folder)] = stored.read()
    return found


def test_workers_write_the_store_written_here(monkeypatch, capsys, tmp_path, long_file):  # noqa: F811
    assert convert(monkeypatch, capsys, long_file, "-o", tmp_path / "here.zarr") == (0, "")
    assert convert(monkeypatch, capsys, long_file, "-o", tmp_path / "workers.zarr", "--workers", "2") == (0, "")
    here, workers = store_files(tmp_path / "here.zarr"), store_files(tmp_path / "workers.zarr")
    assert len([name for name in here if name.startswith("PARAM1/c/")]) == 6
    assert workers == here


def test_a_scheduler_given_by_address_writes_the_same_store(monkeypatch, capsys, tmp_path, long_file):  # noqa: F811
    assert convert(monkeypatch, capsys, long_file, "-o", tmp_path / "here.zarr") == (0, "")
    with distributed.LocalCluster(n_workers=1, processes=False, protocol="tcp://", host="127.0.0.1",
                                  dashboard_address=None) as cluster:
        assert convert(monkeypatch, capsys, long_file, "-o", tmp_path / "there.zarr",
                       "--scheduler", cluster.scheduler_address) == (0, "")
    assert store_files(tmp_path / "there.zarr") == store_files(tmp_path / "here.zarr")


def test_a_defect_in_a_later_chunk_leaves_nothing(monkeypatch, capsys, tmp_path):
    path = tmp_path / "in.plt"
    path.write_text(plot_text(3, [[str(b), "1", "2"] for b in range(6)] + [["7", "1.2.3", "2"]]))
    status, plain = convert(monkeypatch, capsys, path, "-o", tmp_path / "plain.zarr")
    assert status == 1 and "1.2.3" in plain
    with distributed.LocalCluster(n_workers=1, processes=False, protocol="tcp://", host="127.0.0.1",
                                  dashboard_address=None) as cluster:
        assert convert(monkeypatch, capsys, path, "-o", tmp_path / "out.zarr",
                       "--scheduler", cluster.scheduler_address) == (1, plain)
    assert sorted(os.listdir(tmp_path)) == ["in.plt"]


def processes_marked(mark):
    """The pids of the processes whose environment holds `mark`: a child and all it started."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as environ:
                if mark.encode() in environ.read().split(b"\0"):
                    found.append(int(pid))
        except OSError:  # gone, or another user's
            pass
    return found


# SIGINT ignored is how a job started with `nohup ... &` from a script runs: SIGTERM must still end
# the cluster, its workers included.
@pytest.mark.parametrize("signum, status, ignore_sigint", [(signal.SIGTERM, 143, False), (signal.SIGINT, 130, False),
                                                           (signal.SIGTERM, 143, True)])
def test_a_signal_ends_a_cluster_convert_leaving_nothing(tmp_path, signum, status, ignore_sigint):
    path = tmp_path / "in.plt"
    path.write_text(plot_text(3, [[str(b), "1", "2"] for b in range(3000)]))
    out = tmp_path / "out"
    out.mkdir()
    code = f"""
        import sys
        from quorvel_arrays._command import cli, cluster, formats
        formats.PIECE_VALUES = 3  # a task a block
        sys.exit(cli.main(["convert", {str(path)!r}, "-o", {str(out / "o.zarr")!r}, "--workers", "2"]))
    """
    value = f"{os.getpid()}-{signum}-{ignore_sigint}"
    mark = f"QUORVEL_TEST_CHILD={value}"

    def setup():
        defaults()
        if ignore_sigint:
            signal.signal(signal.SIGINT, signal.SIG_IGN)

    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], stderr=subprocess.PIPE, text=True,
                             env={**child_env(), "QUORVEL_TEST_CHILD": value}, preexec_fn=setup)
    try:
        # Until the workers have written some chunks into the new folder.
        ended_by(child, lambda: any(os.listdir(out / part / "time" / "c") for part in leftovers(out)
                                    if os.path.isdir(out / part / "time" / "c")), signum, status)
        assert os.listdir(out) == []
        deadline = time.monotonic() + 60  # the workers' own exit follows the scheduler's
        while processes_marked(mark) and time.monotonic() < deadline:
            time.sleep(0.1)
        assert processes_marked(mark) == []
    finally:
        for pid in processes_marked(mark):
            os.kill(pid, signal.SIGKILL)


def test_a_cluster_that_never_starts_is_given_up(monkeypatch, capsys, tmp_path, long_file):  # noqa: F811
    """Workers short of memory once left the library's start waiting forever, and the command with it."""

    class NeverStarts:
        def __init__(self, *args, **options):
            threading.Event().wait(60)  # forever, for the test: a start past its deadline
            raise RuntimeError("started too late")

    monkeypatch.setattr(distributed, "LocalCluster", NeverStarts)
    monkeypatch.setattr(cluster, "START_SECONDS", 1)
    assert convert(monkeypatch, capsys, long_file, "-o", tmp_path / "o.zarr", "--workers", "2") == (
        1, "quorvel: cannot use the cluster: it did not start within 1 s\n")
    assert os.listdir(tmp_path) == ["long.plt"]


def test_a_cluster_under_a_memory_limit_ends(tmp_path):
    """Under a limit that starves the workers (where 400 MB does), the command still ends: the
    store written, or one line of its own and nothing left; no process of it stays."""
    path = tmp_path / "in.plt"
    path.write_text(plot_text(3, [[str(b), "1", "2"] for b in range(30)]))
    out = tmp_path / "out"
    out.mkdir()
    code = f"""
        import resource, sys
        from quorvel_arrays._command import cli, cluster
        cluster.START_SECONDS = 10
        resource.setrlimit(resource.RLIMIT_AS, (400 << 20, 400 << 20))
        sys.exit(cli.main(["convert", {str(path)!r}, "-o", {str(out / "o.zarr")!r}, "--workers", "2"]))
    """
    value = f"{os.getpid()}-memory"
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=300,
                          env={**child_env(), "QUORVEL_TEST_CHILD": value}, preexec_fn=defaults)
    # The starved library prints its own failures around the command's one line.
    said = [line for line in done.stderr.splitlines() if line.startswith("quorvel: ")]
    if done.returncode == 0:
        assert os.listdir(out) == ["o.zarr"] and said == []
    else:
        assert done.returncode == 1 and len(said) == 1 and os.listdir(out) == [], done.stderr
    assert processes_marked(f"QUORVEL_TEST_CHILD={value}") == []


@pytest.mark.parametrize("args, message", [
    (["-o", "out.zarr", "--workers", "0"], "argument --workers: must be a whole number from 1 to 256, not '0'"),
    (["-o", "out.zarr", "--workers", "2", "--scheduler", "h:1"], "argument --scheduler: not allowed with argument --workers"),
    (["-o", "out.csv", "--workers", "2"], "--workers writes .zarr, not .csv"),
    (["-o", "out.nc", "--scheduler", "h:1"], "--scheduler writes .zarr, not .nc"),
])
def test_cluster_options_refused(tmp_path, long_file, args, message):  # noqa: F811
    args = [str(tmp_path / arg) if arg.startswith("out.") else arg for arg in args]
    status, _, err = quorvel("convert", long_file, *args)
    assert status == 2 and message in err and os.listdir(tmp_path) == ["long.plt"]


@pytest.fixture
def silent_port():
    """A port that accepts connections and never says a word on them."""
    import socket
    with socket.socket() as listening:
        listening.bind(("127.0.0.1", 0))
        listening.listen(8)
        yield listening.getsockname()[1]


# A refused address once left the library's client to its finalizer at exit: a minute spent, and
# a traceback after the command's line.
@pytest.mark.parametrize("address, said", [
    ("a..b:80", "quorvel: cannot use the cluster: 'idna' codec can't encode"),  # the rest is the interpreter's
    ("tls://127.0.0.1:{silent}", "quorvel: cannot use the cluster: TLS expects a `ssl_context` argument"),
    ("127.0.0.1:{silent}", "quorvel: cannot use the cluster: it did not start within 2 s\n"),
])
def test_a_scheduler_that_cannot_be_used_is_one_line_and_quick(tmp_path, long_file, silent_port, address, said):  # noqa: F811
    code = f"""
        import sys
        from quorvel_arrays._command import cli, cluster
        cluster.START_SECONDS = 2
        sys.exit(cli.main(["convert", {str(long_file)!r}, "-o", {str(tmp_path / "o.zarr")!r},
                           "--scheduler", {address.format(silent=silent_port)!r}]))
    """
    began = time.monotonic()
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120,
                          env=child_env(), preexec_fn=defaults)
    assert done.returncode == 1 and done.stderr.startswith(said) and done.stderr.count("\n") == 1, done.stderr
    assert time.monotonic() - began < 30
    assert os.listdir(tmp_path) == ["long.plt"]


def alarm_rang(signum, frame):
    raise TimeoutError("the caller's alarm")


# The caller's own timer: one due first rings as it would; one due later is set again after.
@pytest.mark.parametrize("pending, deadline, raised, left", [
    (0.3, 5, TimeoutError, 0),
    (30, 0.3, cluster.StartTimedOut, 29.7),
    (0, 0.3, cluster.StartTimedOut, 0),
])
def test_the_start_deadline_keeps_the_callers_timer(pending, deadline, raised, left):
    previous = signal.signal(signal.SIGALRM, alarm_rang)
    try:
        signal.setitimer(signal.ITIMER_REAL, pending)
        with pytest.raises(raised), cluster.start_deadline(deadline):
            threading.Event().wait(10)
        assert signal.getsignal(signal.SIGALRM) is alarm_rang
        assert signal.getitimer(signal.ITIMER_REAL)[0] == pytest.approx(left, abs=0.2)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
