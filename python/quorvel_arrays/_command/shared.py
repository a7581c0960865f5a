"""What the sub-commands share: the files they read (standard input, several at once), the line
that says why a file gave no result, and the usage error."""

from __future__ import annotations

import argparse
import contextlib
import os
from collections.abc import Callable, Iterator, Sequence
from typing import Any

import numpy

from .._errors import PlotFileError
from .._plot import ParameterKey, Plot, read_job
from .._pool import read_in_parallel
from . import safe_output

PROG = "quorvel"
FILE_ERRORS = (OSError, PlotFileError, KeyError, IndexError, MemoryError)
STDIN = "-"
# /dev/stdin reopens a pipe or a redirected file: the reader needs a path.
STDIN_PATH = "/dev/stdin"
# What cli hands each sub-command to add its parser with: command(name, help, description), a
# parser with the arguments all sub-commands share.
type Command = Callable[[str, str, str], argparse.ArgumentParser]
SELECTION_HELP = "a whole number selects by position (0 is the first parameter, -1 the last)"


class UsageError(Exception):
    """A command line that cannot be carried out as given: exit status 2."""


def read_in_order(
    files: Sequence[str], n_digits: int | None, columns: tuple[ParameterKey, ...] | None = None
) -> Iterator[tuple[str, Plot | BaseException]]:
    """Yields each file with its plot or the error that explains why it has none, in order, while
    the next few files are read on other threads. On Ctrl-C, or when the caller stops early, the
    reads still going are stopped and their threads joined."""
    workers = min(os.cpu_count() or 1, len(files))
    jobs = [read_job(file, n_digits, columns) for file in files]
    with contextlib.closing(read_in_parallel(jobs, workers, ahead=workers)) as outcomes:
        for file, outcome in zip(files, outcomes):
            yield take(file, outcome)


def take(file: str, outcome: Plot | BaseException) -> tuple[str, Plot | BaseException]:
    """The file with its plot or its file error; any other error is raised."""
    if isinstance(outcome, BaseException) and not isinstance(outcome, FILE_ERRORS):
        raise outcome
    return file, outcome


def describe(file: str, error: BaseException) -> str:
    """The line that tells the user why `file` gave no result."""
    if isinstance(error, PlotFileError):
        return str(error)
    if isinstance(error, OSError):
        name = error.filename if error.filename is not None else file
        return f"{PROG}: {os.fsdecode(name)}: {error.strerror or error}"
    if isinstance(error, (KeyError, IndexError)) and error.args:
        return f"{PROG}: {error.args[0]}"
    if isinstance(error, MemoryError):
        return f"{PROG}: {file}: not enough memory to read it"
    return f"{PROG}: {file}: {error}"


def input_paths(files: Sequence[str]) -> list[str]:
    """The paths to read: - is standard input, which can be read once."""
    if list(files).count(STDIN) > 1:
        raise UsageError("- (standard input) can be given only once")
    return [STDIN_PATH if file == STDIN else file for file in files]


def refuse_input(target: str, files: Sequence[str]) -> None:
    """A usage error when `target` is one of the input `files` (the write checks again)."""
    if safe_output.input_named(target, files) is not None:
        raise UsageError(f"{target} is an input file: it would be overwritten")


def without_nan(values: Any) -> tuple[Any, int]:
    """The values that are not NaN, and how many were."""
    missing = numpy.isnan(values)
    count = int(missing.sum())
    return (values[~missing] if count else values), count


def stem(file: str) -> str:
    return os.path.splitext(os.path.basename(file))[0]
