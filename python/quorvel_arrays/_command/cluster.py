"""The cluster `quorvel convert --workers N` and `--scheduler ADDRESS` write through: a client of
an existing scheduler, or of a local cluster of single-threaded worker processes, each started
within a deadline, and Ctrl-C while one is in use."""

from __future__ import annotations

import contextlib
import logging
import signal
import threading
import time
from collections.abc import Iterator
from typing import Any

from .._optional import require

# Time for a cluster, a client or a worker process to start and reach the scheduler; a worker
# also ends itself when it has lost the scheduler for this long.
START_SECONDS = 120
# Time to close a client or cluster whose start failed.
CLOSE_SECONDS = 10


class Interrupted(BaseException):
    """Ctrl-C while a cluster is in use. Not a KeyboardInterrupt: the cluster's client, stopped by
    one while it waits, cancels its own work in a way that keeps the command from ending."""


@contextlib.contextmanager
def interrupts_raise_interrupted() -> Iterator[None]:
    if threading.current_thread() is not threading.main_thread() or \
            signal.getsignal(signal.SIGINT) is not signal.default_int_handler:
        yield
        return

    def interrupted(signum: int, frame: Any) -> None:
        raise Interrupted

    signal.signal(signal.SIGINT, interrupted)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, signal.default_int_handler)


@contextlib.contextmanager
def cluster_client(workers: int | None, scheduler: str | None) -> Iterator[Any]:
    """A client of the cluster at `scheduler`, or of a local one of `workers` single-threaded
    worker processes, closed on leaving; Ctrl-C meanwhile raises Interrupted."""
    with interrupts_raise_interrupted(), connected_client(workers, scheduler) as client:
        yield client


@contextlib.contextmanager
def connected_client(workers: int | None, scheduler: str | None) -> Iterator[Any]:
    require("converting on a cluster", "distributed", "dask")
    import distributed

    if scheduler is not None:
        with started(distributed.Client, scheduler, set_as_default=False) as client:
            yield client
        return
    # On the loopback only, its web page on a free port (another cluster may hold the usual one),
    # and the workers' logs silenced: a failed chunk is said once, by the command. A worker that
    # cannot start (short of memory, say) is given up after START_SECONDS, not waited for.
    with started(distributed.LocalCluster, n_workers=workers, threads_per_worker=1, processes=True,
                 host="127.0.0.1", dashboard_address="127.0.0.1:0", silence_logs=logging.CRITICAL,
                 death_timeout=START_SECONDS) as local, \
            started(distributed.Client, local, set_as_default=False) as client:
        yield client


class StartTimedOut(BaseException):
    """A cluster or client still starting at its deadline; raised where it waits, as Ctrl-C is."""


@contextlib.contextmanager
def start_deadline(seconds: float) -> Iterator[None]:
    """Raises StartTimedOut in this thread after `seconds` (only in the main thread, where a
    signal handler runs, and where the system has interval timers). A caller's own timer is kept:
    one due first leaves it to fire as it would (no deadline here), a later one is set again
    afterwards, less the time spent; a SIGALRM handler not set from Python cannot be put back, and
    is left alone."""
    if threading.current_thread() is not threading.main_thread() or not hasattr(signal, "setitimer") or \
            signal.getsignal(signal.SIGALRM) is None:
        yield
        return
    pending, interval = signal.getitimer(signal.ITIMER_REAL)
    if 0 < pending <= seconds:
        yield
        return

    def expired(signum: int, frame: Any) -> None:
        raise StartTimedOut

    began = time.monotonic()
    previous = signal.signal(signal.SIGALRM, expired)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
        if pending > 0:
            signal.setitimer(signal.ITIMER_REAL, max(pending - (time.monotonic() - began), 1e-6), interval)


def started(kind: Any, *args: Any, **options: Any) -> Any:
    """`kind(*args, **options)`, a client or a cluster; one that cannot start raises OSError. The
    library raises what its layers found (ValueError for an address it cannot use, RuntimeError for
    a worker that died starting): the command says it in one line. So does a start that has not
    ended within START_SECONDS: short of memory, a worker that failed can leave the library
    waiting for it forever. One that failed is closed here: left to the library's finalizer, a
    client refused an address spent a minute at exit and printed a traceback."""
    made = kind.__new__(kind)
    try:
        with start_deadline(START_SECONDS):
            made.__init__(*args, **options)
        return made
    except StartTimedOut:
        raise OSError(0, f"it did not start within {START_SECONDS:g} s") from None
    except (OSError, MemoryError):
        close_failed(made)
        raise
    except Exception as error:  # noqa: BLE001 - the library's own error types
        close_failed(made)
        raise OSError(0, str(error) or type(error).__name__) from None


def close_failed(made: Any) -> None:
    """Closes a client or cluster whose start failed, within CLOSE_SECONDS; what goes wrong then
    is not the command's to say."""
    with contextlib.suppress(Exception):
        made.close(timeout=CLOSE_SECONDS)
