"""The command's standard streams: a descriptor closed at start, results written to standard
output, and a write that fails told apart from a reader that went away."""

from __future__ import annotations

import errno
import os
import sys
from collections.abc import Callable

from . import safe_output
from .shared import PROG


class OutputError(Exception):
    """Standard output cannot be written (full, closed, an I/O error): exit status 1."""


class ClosedStream:
    """Stands for a standard stream that was closed when the command started."""

    lost = False

    def write(self, text: str) -> int:
        if text:
            self.lost = True
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))
        return 0

    def flush(self) -> None:
        if self.lost:  # argparse drops the error of its --help: the flush reports it, once
            self.lost = False
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))

    def isatty(self) -> bool:
        return False


def guard_standard_streams() -> None:
    """A standard descriptor closed at start gets /dev/null, so that no file the command opens
    takes its number; writing to a closed stdout is still an error, to a closed stderr lost.
    (Python leaves sys.stdout or sys.stderr None when its descriptor was closed at start.)"""
    for fd in (0, 1, 2):
        try:
            os.fstat(fd)
        except OSError:
            try:
                opened = os.open(os.devnull, os.O_RDWR)
            except OSError:
                continue
            if opened != fd:
                os.close(opened)
    if sys.stdout is None:
        sys.stdout = ClosedStream()
        safe_output.StandardOutput.closed = True
    if sys.stderr is None:
        sys.stderr = open(os.devnull, "w")  # noqa: SIM115 - lives as long as the process


def drop_standard_output() -> None:
    """Points standard output at /dev/null, so that what Python still holds for it goes nowhere
    instead of failing again at exit."""
    if isinstance(sys.stdout, ClosedStream):
        sys.stdout.lost = False
    try:
        os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
    except OSError:
        pass


def output_failed(error: OutputError) -> int:
    """Says why standard output could not be written; the exit status."""
    print(f"{PROG}: cannot write standard output: {error}", file=sys.stderr)
    drop_standard_output()
    return 1


def screen_call[T](call: Callable[[], T]) -> T:
    """`call`, which writes to standard output: a failing write raises OutputError (a closed pipe
    stays BrokenPipeError: the reader went away, nothing to report)."""
    try:
        return call()
    except BrokenPipeError:
        raise
    except OSError as error:
        raise OutputError(error.strerror or str(error)) from error


class Output:
    """Standard output for the results, written through screen_call."""

    def write(self, text: str) -> None:
        def write_and_flush() -> None:
            sys.stdout.write(text)
            sys.stdout.flush()

        screen_call(write_and_flush)

    def flush(self) -> None:
        self.write("")


STANDARD_OUTPUT = Output()


def emit(text: str) -> None:
    STANDARD_OUTPUT.write(text)
