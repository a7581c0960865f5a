"""A library's write done in a child process. The netCDF and Zarr libraries cannot be stopped
halfway in the process that called them: an exception raised by a signal handler inside their
Python layer retakes a lock they hold, an HDF5 write on a full disk ends in an assertion that aborts
the process, and Zarr's writes in flight on other threads outlive the exception. A child can be
killed and reaped, after which nothing of it still writes."""

from __future__ import annotations

import ctypes
import os
import pickle
import signal
from collections.abc import Callable, Iterable

STOPPERS = {signal.SIGINT, signal.SIGTERM}
PR_SET_PDEATHSIG = 1


class ChildDied(OSError):
    """The child ended without saying why (a library aborted it)."""


def run_in_child(work: Callable[[], None]) -> None:
    """Runs `work` in a forked child and waits for it; what it raises is raised here. SIGINT and
    SIGTERM are the parent's to act on: the child ignores them, and when they end the wait the
    child is killed and reaped before the exception goes on."""
    read_end, write_end = os.pipe()
    mask = signal.pthread_sigmask(signal.SIG_BLOCK, STOPPERS)
    try:
        pid = os.fork()
    except BaseException:
        os.close(read_end)
        os.close(write_end)
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)
        raise
    if pid == 0:
        os.close(read_end)
        child(work, write_end, mask)
    os.close(write_end)
    try:
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)  # a signal held back meanwhile arrives here
        report = read_all(read_end)
        status = reap(pid)
    except BaseException:
        signal.pthread_sigmask(signal.SIG_BLOCK, STOPPERS)
        try:
            os.kill(pid, signal.SIGKILL)
            reap(pid)
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, mask)
        raise
    finally:
        os.close(read_end)
    if report:
        raise pickle.loads(report)
    if status != 0:
        raise ChildDied(0, f"the writer ended with {describe_status(status)}")


def child(work: Callable[[], None], write_end: int, mask: Iterable[int]) -> None:
    """The child's life: `work` with the standard streams at /dev/null (a library's diagnostics
    are not the command's), then the exception it raised, pickled, down the pipe. Never returns."""
    status = 1
    report = b""
    try:
        for signum in STOPPERS:
            signal.signal(signum, signal.SIG_IGN)
        signal.pthread_sigmask(signal.SIG_SETMASK, mask)
        die_with_parent()
        null = os.open(os.devnull, os.O_RDWR)
        os.dup2(null, 1)
        os.dup2(null, 2)
        work()
        status = 0
    except BaseException as error:  # noqa: BLE001 - every failure goes to the parent
        report = pickled(error)
    finally:
        try:
            view = memoryview(report)
            while view:
                view = view[os.write(write_end, view) :]
        finally:
            os._exit(status)


def pickled(error: BaseException) -> bytes:
    try:
        data = pickle.dumps(error)
        pickle.loads(data)
        return data
    except Exception:  # noqa: BLE001 - an error of a library's own type that does not pickle
        return pickle.dumps(RuntimeError(str(error) or type(error).__name__))


def die_with_parent() -> None:
    """A parent killed with SIGKILL cannot kill its child: Linux does it for us."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    except (AttributeError, OSError):
        pass  # not Linux: the child ends with its write


def read_all(fd: int) -> bytes:
    chunks = []
    while chunk := os.read(fd, 1 << 16):
        chunks.append(chunk)
    return b"".join(chunks)


def reap(pid: int) -> int:
    _, status = os.waitpid(pid, 0)
    return status


def describe_status(status: int) -> str:
    if os.WIFSIGNALED(status):
        return signal.Signals(os.WTERMSIG(status)).name
    return f"status {os.waitstatus_to_exitcode(status)}"
