"""The worker threads that read several files at once, for read_many and the command.

Only the main thread runs signal handlers, and a read blocked on a FIFO or a pipe never returns on
its own: so the main thread waits in short steps (Ctrl-C's KeyboardInterrupt is raised within one),
and on the way out, for whatever reason, it stops every read still going and joins the workers.
"""

from __future__ import annotations

import concurrent.futures
import signal
import threading
from collections.abc import Callable, Generator, Sequence

from . import _reader

# How long the main thread waits at a time, and between two asks to stop while it joins the
# workers (a wake can reach a read just before it blocks, and be lost).
STEP = 0.05

type Job[T] = Callable[[_reader.StopToken], T]


class _Workers[T]:
    def __init__(self, jobs: Sequence[Job[T]], threads: int) -> None:
        self.jobs = jobs
        self.outcomes: list[concurrent.futures.Future[T]] = [concurrent.futures.Future() for _ in jobs]
        self.token = _reader.StopToken()
        self.started = 0  # jobs taken by a worker
        self.allowed = 0  # jobs that may be taken
        self.closing = False
        self.changed = threading.Condition()
        self.threads = [
            threading.Thread(target=self.work, name=f"quorvel-read-{number}", daemon=True)
            for number in range(threads)
        ]

    def allow(self, count: int) -> None:
        with self.changed:
            if count > self.allowed:
                self.allowed = min(count, len(self.jobs))
                self.changed.notify_all()

    def work(self) -> None:
        while True:
            with self.changed:
                while not self.closing and self.started >= self.allowed:
                    self.changed.wait()
                if self.closing:
                    return
                index = self.started
                self.started += 1
            try:
                result = self.jobs[index](self.token)
            except BaseException as error:  # noqa: BLE001 - handed to whoever waits for it
                self.outcomes[index].set_exception(error)
            else:
                self.outcomes[index].set_result(result)

    def outcome(self, index: int) -> T | BaseException:
        future = self.outcomes[index]
        while not future.done():
            concurrent.futures.wait((future,), STEP)
        error = future.exception()
        return future.result() if error is None else error

    def close(self) -> None:
        """Stops what is still read (nothing, after a normal end) and joins the workers."""
        with self.changed:
            self.closing = True
            self.changed.notify_all()
        for thread in self.threads:
            while thread.is_alive():
                self.token.stop()
                thread.join(STEP)


def start(threads: Sequence[threading.Thread]) -> None:
    """Starts the threads with Ctrl-C held back until all run: a KeyboardInterrupt raised inside
    start() would leave a thread running that was never seen to start, and so is not joined. (The
    threads inherit the mask while it holds: signals go to the main thread, where handlers run.)"""
    if not hasattr(signal, "pthread_sigmask"):
        for thread in threads:
            thread.start()
        return
    previous = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    try:
        for thread in threads:
            thread.start()
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, previous)


def read_in_parallel[T](
    jobs: Sequence[Job[T]], threads: int, ahead: int | None = None
) -> Generator[T | BaseException]:
    """Runs the jobs (each given the pool's stop token) on `threads` worker threads and yields each
    one's result or exception, in order. Beyond the job waited for, at most `ahead` more are
    started (None: any). However the caller stops iterating (Ctrl-C included), the reads still
    going are stopped and the workers joined before it goes on."""
    if not jobs:
        return
    workers = _Workers(jobs, max(1, min(threads, len(jobs))))
    workers.allow(len(jobs) if ahead is None else ahead + 1)
    try:
        start(workers.threads)
        for index in range(len(jobs)):
            if ahead is not None:
                workers.allow(index + ahead + 1)
            yield workers.outcome(index)
    finally:
        workers.close()
