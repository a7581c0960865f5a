"""What a scan finds, and a file's blocks read a piece at a time."""

from __future__ import annotations

import bisect
import dataclasses
import operator
import os
import stat
from collections.abc import Iterator
from typing import SupportsIndex

from . import _reader
from ._plot_values import ParameterKey, PathArg, Plot
from ._read_call import BlockStart, positive, read_range
from ._read_mark import MAGIC, ReadMark


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


def check_chunk(chunk: SupportsIndex) -> int:
    return positive(chunk, "chunk", "an int >= 1")


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
        if mark.compressed:
            size = None  # the text is larger than the file: no bound on the blocks from it


def bytes_in(path: PathArg) -> int | None:
    """The file's size, a bound on its blocks; None where it bounds nothing (a compressed file)."""
    try:
        if not stat.S_ISREG(os.stat(path).st_mode):
            return None
        with open(path, "rb") as file:
            first = file.read(MAGIC)
            return None if _reader.compression(first) is not None else os.fstat(file.fileno()).st_size
    except OSError:
        return None  # the read says why
