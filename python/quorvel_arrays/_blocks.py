"""What a plot file holds without reading its values, and its blocks a piece at a time."""

from __future__ import annotations

import bisect
import dataclasses
import operator
import os
from collections.abc import Iterable, Iterator
from typing import SupportsIndex

from . import _reader
from ._plot import (
    BlockStart,
    ParameterKey,
    PathArg,
    Plot,
    check_columns,
    check_n_digits,
    check_path,
    check_threads,
    read_range,
)
from ._read_mark import ReadMark


@dataclasses.dataclass(frozen=True, slots=True)
class PlotInfo:
    """A plot file as `scan` finds it: its header and names, the field width, the number of
    complete blocks and the size in bytes."""

    path: str
    header: str
    names: tuple[str, ...]
    n_digits: int | None  # None: the file has no value line to find it from
    blocks: int
    size: int
    # Where some blocks start (increasing blocks, their byte offsets), so that a later ranged
    # read of the same file counts from there.
    _noted: tuple[int, ...] = dataclasses.field(repr=False, compare=False)
    _starts: tuple[int, ...] = dataclasses.field(repr=False, compare=False)

    def start_before(self, block: int) -> BlockStart:
        """The noted block at or before `block` (from 0), with its offset."""
        entry = max(bisect.bisect_right(self._noted, block) - 1, 0)
        return self._noted[entry], self._starts[entry]


def scan(path: PathArg, n_digits: SupportsIndex | None = None, *, threads: SupportsIndex | None = 1) -> PlotInfo:
    """Reads the header and the names, and counts the blocks by their lines, at memory speed.

    No value is parsed, so a bad field is not found: `read` finds it. `n_digits` is found from
    the first value line as `read` finds it. `threads` counts a large file in parts at once (None:
    one per CPU). Raises the OSError open() would, and PlotFileError for a defect of the header,
    the names, the line the width is found from, or a block the file ends inside.
    """
    shown = check_path(path)
    width_asked, workers = check_n_digits(n_digits), check_threads(threads)
    header, names, width, blocks, size, (noted, starts) = _reader.scan(path, width_asked, None, workers)
    return PlotInfo(shown, header, names, width, blocks, size, noted, starts)


def iter_blocks(
    path: PathArg,
    n_digits: SupportsIndex | None = None,
    *,
    columns: Iterable[ParameterKey] | None = None,
    chunk: SupportsIndex = 65536,
) -> Iterator[Plot]:
    """The file's blocks as Plots of at most `chunk` blocks each, in order, each a ranged read that
    counts on from where the one before ended: the memory held is bounded by the chunk, whatever
    the file's size. There is always a first piece (empty when the file has no block). A defect
    raises the exception a whole read raises, once the complete pieces before it were yielded.
    """
    shown = check_path(path)
    if isinstance(chunk, bool) or not hasattr(chunk, "__index__"):
        raise TypeError(f"chunk must be an int >= 1, not {'None' if chunk is None else type(chunk).__name__}")
    size = operator.index(chunk)
    if size < 1:
        raise ValueError(f"chunk must be an int >= 1, not {size}")
    return pieces(path, shown, check_n_digits(n_digits), check_columns(columns), size)


def pieces(
    path: PathArg,
    shown: str,
    n_digits: int | None,
    columns: tuple[ParameterKey, ...] | None,
    chunk: int,
    stop: _reader.StopToken | None = None,
) -> Iterator[Plot]:
    mark = ReadMark(path, shown, "read in pieces")
    start = 0
    following: BlockStart | None = None
    size = bytes_in(path)
    while True:
        # A block takes a byte at least: a chunk past the file's size is the rest of it (and its
        # end never overflows a count).
        end = start + chunk if size is None or start + chunk <= size else None
        got = read_range(path, shown, n_digits, columns, (start, end), 1, following, stop)
        assert got is not None
        piece, following, _ = got
        if following is not None:
            mark.advance(following)
        yield piece
        if following is None:
            return
        start = operator.index(following[0])
        size = mark.look()
        if size is None:
            raise mark.removed()


def bytes_in(path: PathArg) -> int | None:
    try:
        return os.stat(path).st_size
    except OSError:
        return None  # the read says why
