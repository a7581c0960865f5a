"""The functions that read plot files into Plots, each a call on a PlotFile opened for it."""

from __future__ import annotations

import functools
import os
from collections.abc import Iterable
from typing import SupportsIndex

from . import _reader
from ._plot_file import PlotFile
from ._plot_values import ParameterKey, PathArg, Plot, Values, name_error, position_error, selection_error
from ._pool import Job, read_in_parallel
from ._read_call import (
    MAX_N_DIGITS,
    MAX_THREADS,
    BlockBounds,
    BlockStart,
    FileIdentity,
    check_blocks,
    check_columns,
    check_n_digits,
    check_path,
    check_threads,
    positive_or_none,
    read_range,
    read_result,
    read_whole,
)

__all__ = [
    "MAX_N_DIGITS", "MAX_THREADS", "BlockBounds", "BlockStart", "FileIdentity", "ParameterKey", "PathArg", "Plot",
    "Values", "check_blocks", "check_columns", "check_n_digits", "check_path", "check_threads", "name_error",
    "position_error", "positive_or_none", "read", "read_checked", "read_job", "read_many", "read_range",
    "read_result", "read_whole", "selection_error",
]


def read_checked(
    path: PathArg,
    shown: str,
    n_digits: int | None,
    columns: tuple[ParameterKey, ...] | None,
    stop: _reader.StopToken | None = None,
) -> Plot:
    return PlotFile(path, n_digits)._read(columns, None, 1, stop)


def read(
    path: PathArg,
    n_digits: SupportsIndex | None = None,
    *,
    columns: Iterable[ParameterKey] | None = None,
    blocks: slice | range | None = None,
    threads: SupportsIndex | None = 1,
) -> Plot:
    """Reads a plot file.

    `n_digits` is the field width (12 or 15 for KAVRINE's two versions); None finds it from the
    first value line. `columns` selects parameters by name or position (negative from the end);
    the result follows the order given. Raises the OSError open() would, PlotFileError for a
    defect in the file, KeyError for a missing or repeated name, IndexError for a position out of
    range.

    `blocks` reads only some blocks: a slice of step 1 or a range, its bounds counted as a slice's
    (`slice(-100, None)` is the last 100 blocks). The rows are those a whole read gives for the
    blocks; the lines of other blocks are counted, not parsed, so a defect there is not reported
    (a range that reaches the end reports a block the file ends inside). It needs a file that can
    seek: a pipe raises OSError (ESPIPE). `threads` splits the file at block boundaries into parts
    parsed at once (None: one per CPU); the values, and a defect's exception, are those of one
    thread.
    """
    return PlotFile(path, n_digits).read(columns=columns, blocks=blocks, threads=threads)


def read_job(path: PathArg, n_digits: SupportsIndex | None, columns: Iterable[ParameterKey] | None) -> Job[Plot]:
    """The read of one file for read_in_parallel, its arguments checked now."""
    return functools.partial(read_checked, path, check_path(path), check_n_digits(n_digits), check_columns(columns))


def read_many(
    paths: Iterable[PathArg],
    n_digits: SupportsIndex | None = None,
    threads: SupportsIndex | None = None,
    *,
    columns: Iterable[ParameterKey] | None = None,
) -> list[Plot]:
    """Reads several plot files on a pool of threads (None: one per CPU) and gives their plots
    in the order of `paths`. When files fail, every file is still read and the failure of the
    first failing file in that order is raised, with a note for each other failure. Ctrl-C stops
    every read and raises KeyboardInterrupt once the threads have ended."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("paths must be an iterable of paths, not a single path")
    items = [(path, check_path(path)) for path in paths]
    width = check_n_digits(n_digits)
    selection = check_columns(columns)
    workers = check_threads(threads)
    jobs = [functools.partial(read_checked, path, shown, width, selection) for path, shown in items]
    outcomes = list(read_in_parallel(jobs, workers))
    failures = [(shown, outcome) for (_, shown), outcome in zip(items, outcomes) if isinstance(outcome, BaseException)]
    if failures:
        first = failures[0][1]
        for shown, other in failures[1:]:
            first.add_note(f"also failed: {shown}: {type(other).__name__}: {other}")
        raise first
    return [outcome for outcome in outcomes if isinstance(outcome, Plot)]
