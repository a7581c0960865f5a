"""Following a plot file while the simulation writes it: the checked arguments and the loop."""

from __future__ import annotations

import math
import threading
import time
from collections.abc import Iterable, Iterator
from typing import SupportsIndex, SupportsFloat

from . import _reader
from ._errors import PlotFileError
from ._plot_values import ParameterKey, PathArg, Plot
from ._read_call import BlockStart, FileIdentity, check_columns, check_n_digits, check_path, read_range
from ._read_mark import ReadMark


def seconds(value: SupportsFloat | None, name: str, *, zero: bool) -> float | None:
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise TypeError(f"{name} must be a number of seconds, not {type(value).__name__}")
    number = float(value)
    if not (number >= 0.0 if zero else number > 0.0) or math.isinf(number):
        raise ValueError(f"{name} must be a number of seconds {'>= 0' if zero else '> 0'}, not {value!r}")
    return number


type FollowArguments = tuple[PathArg, str, int | None, tuple[ParameterKey, ...] | None, float, float | None, int]


def follow_arguments(
    path: PathArg,
    n_digits: SupportsIndex | None,
    columns: Iterable[ParameterKey] | None,
    interval: float,
    idle: float | None,
    start: SupportsIndex,
) -> FollowArguments:
    """follow()'s arguments, checked, as following() takes them."""
    shown = check_path(path)
    width = check_n_digits(n_digits)
    selection = check_columns(columns)
    pause = seconds(interval, "interval", zero=False)
    assert pause is not None
    patience = seconds(idle, "idle", zero=True)
    if isinstance(start, bool) or not hasattr(start, "__index__"):
        raise TypeError(f"start must be an int, not {type(start).__name__}")
    return path, shown, width, selection, pause, patience, start.__index__()


def following(
    path: PathArg,
    shown: str,
    n_digits: int | None,
    columns: tuple[ParameterKey, ...] | None,
    interval: float,
    idle: float | None,
    start: int,
    stop: threading.Event | None = None,
) -> Iterator[Plot]:
    """The follow; `stop`, once set, ends it quietly at its next look (within a quarter second)."""
    mark = ReadMark(path, shown, "followed")
    mark.look()  # a FIFO or a device is refused at once, not waited for in its open
    watch = _reader.watch_folder(path)
    identity: FileIdentity | None = None
    last_size: int | None = None
    last_growth = time.monotonic()
    while stop is None or not stop.is_set():
        size = mark.look()
        # Only a file that grew holds more: one of the same size is not read again.
        if size is not None and size != last_size:
            got = read_piece(mark, n_digits, columns, start)
            if got is not None:
                piece, following_block, read_identity = got
                if identity is None:
                    identity = read_identity
                elif read_identity != identity:
                    raise mark.error("the file was replaced by another while it was followed")
                assert following_block is not None
                mark.advance(following_block)
                # A start past the end is waited for, not moved back to the end.
                start = following_block[0] if start < 0 else max(start, following_block[0])
                if len(piece):
                    yield piece
        now = time.monotonic()
        if size != last_size:
            last_size, last_growth = size, now
        elif idle is not None and now - last_growth >= idle:
            return
        wait = interval if idle is None else min(interval, max(idle - (now - last_growth), 0.0))
        if stop is not None:
            wait = min(wait, 0.25)
        if watch is not None:
            watch.wait(wait)
        else:
            time.sleep(wait)


def read_piece(
    mark: ReadMark, n_digits: int | None, columns: tuple[ParameterKey, ...] | None, start: int
) -> tuple[Plot, BlockStart | None, FileIdentity | None] | None:
    """What was appended from block `start` on; a defect found in a file replaced or rewritten
    meanwhile is reported as that."""
    try:
        return read_range(mark.path, mark.shown, n_digits, columns, (start, None), 1, mark.reached, None, True)
    except FileNotFoundError:
        if mark.identity is not None:
            raise mark.removed() from None
        return None
    except PlotFileError:
        mark.look()
        raise
