"""An open plot file: which file it is and where its blocks start, kept between reads so that a
ranged read counts from known offsets instead of from the start of the file.

The free functions (read, scan, iter_blocks, follow, read_many, compare, the Dask partitions) are
calls on a PlotFile opened for the one call. A new read option is a keyword of `_reader.read`,
passed by `_read` below.
"""

from __future__ import annotations

import bisect
import operator
import os
import threading
from collections.abc import Iterable, Iterator
from types import TracebackType
from typing import Any, Self, SupportsIndex

import numpy

from . import _reader
from ._following import follow_arguments, following
from ._pieces import PlotInfo, check_chunk, pieces
from ._plot_values import ParameterKey, PathArg, Plot, Values
from ._read_call import (
    BlockStart,
    check_blocks,
    check_columns,
    check_n_digits,
    check_path,
    check_threads,
    read_result,
)
from ._read_mark import KEPT, ReadMark, opened, read_at

type RowKey = SupportsIndex | slice
type ColumnKey = ParameterKey | Iterable[ParameterKey] | slice


class PlotFile:
    """A plot file kept open by `quorvel_arrays.open`: its header, names and block index, found by
    the first call that needs them and extended when the file grows.

    Indexing reads only what it asks for, as ranged reads (`f[rows]` or `f[rows, columns]`):

    - rows: an int (negative from the end) or a slice of step 1;
    - columns: a name or a position (one column), a list or tuple of them, or `:` (every one).

    A slice of rows gives a Plot, except with one column, which gives its 1-D array; an int row
    gives the row's 1-D array over the columns, or with one column its numpy.float32 value (as
    numpy indexes a 2-D array). Before each access the file is checked to be the one indexed: one
    replaced, rewritten, shrunk or removed raises PlotFileError and is never read at the offsets
    kept. A file that grows is counted on from the end of the last block known.
    """

    __slots__ = (
        "_blocks_parsed", "_closed", "_counted", "_found", "_lock", "_mark", "_noted", "_path", "_shown", "_starts",
        "_values_parsed", "_width_asked",
    )

    def __init__(self, path: PathArg, n_digits: SupportsIndex | None = None) -> None:
        self._shown = check_path(path)
        self._path = path
        self._width_asked = check_n_digits(n_digits)
        self._closed = False
        self._mark: ReadMark | None = None  # made with the index
        self._found: _reader.ScanResult | None = None  # the last scan: header, names, width, blocks
        # The index: blocks (increasing) and where each starts (block, offset[, line before it]).
        self._noted: list[int] = []
        self._starts: dict[int, BlockStart] = {}
        self._counted = 0  # blocks the reader counted for this file: a read from known offsets counts none
        # What the reads through the handle parsed: laziness is shown by these, not by timings.
        self._blocks_parsed = 0
        self._values_parsed = 0
        # Threads sharing the handle take turns at the mark and the index (not at the reads): a look
        # between another's size and its check would take a file that grew for one that shrank.
        self._lock = threading.RLock()

    def __enter__(self) -> Self:
        return self

    def __exit__(self, kind: type[BaseException] | None, error: BaseException | None, trace: TracebackType | None) -> None:
        self.close()

    def close(self) -> None:
        """Forgets the index; any later access raises ValueError."""
        self._closed = True
        self._mark = self._found = None
        self._noted, self._starts = [], {}

    @property
    def closed(self) -> bool:
        return self._closed

    def __repr__(self) -> str:
        return f"<PlotFile {self._shown!r}{' closed' if self._closed else ''}>"

    @property
    def path(self) -> str:
        return self._shown

    @property
    def header(self) -> str:
        return self._indexed().header

    @property
    def names(self) -> tuple[str, ...]:
        return self._indexed().names

    @property
    def n_digits(self) -> int | None:
        """The field width given, or found from the first value line (None: no value line yet)."""
        return self._indexed().n_digits

    def __len__(self) -> int:
        """The complete blocks."""
        return self._indexed().blocks

    @property
    def size(self) -> int:
        """The file's size in bytes when it was last looked at."""
        return self._indexed().size

    @property
    def shape(self) -> tuple[int, int]:
        found = self._indexed()
        return found.blocks, len(found.names)

    # Indexing selects blocks first, as numpy selects rows: iterating would read block by block.
    __iter__ = None

    def read(
        self,
        *,
        columns: Iterable[ParameterKey] | None = None,
        blocks: slice | range | None = None,
        threads: SupportsIndex | None = 1,
    ) -> Plot:
        """As `quorvel_arrays.read` reads the file; once the file is indexed, a range counts from
        the offsets kept."""
        return self._read(check_columns(columns), check_blocks(blocks), check_threads(threads))

    def __getitem__(self, key: RowKey | tuple[RowKey, ColumnKey]) -> Plot | Values | numpy.float32:
        rows, chosen = split_key(key)
        # A numpy array of one or more dimensions has __index__ too, but only to refuse it: a list.
        single = isinstance(chosen, str) or (
            not isinstance(chosen, bool) and hasattr(chosen, "__index__") and numpy.ndim(chosen) == 0
        )
        if chosen is None:
            raise TypeError("columns are chosen by a name, a position, a list of them or ':', not None")
        if single:
            columns: tuple[ParameterKey, ...] | None = check_columns((chosen,))
        elif isinstance(chosen, slice):
            if chosen != slice(None):
                raise TypeError("columns are chosen by a name, a position, a list of them or ':', not a part slice")
            columns = None
        else:
            columns = check_columns(chosen)
        start, stop = self._rows(rows)
        plot = self._range(columns, start, stop)
        if isinstance(rows, slice):
            return plot[0] if single else plot
        row: Values = plot.values[0]
        value: numpy.float32 = row[0]
        return value if single else row

    def iter_blocks(self, *, columns: Iterable[ParameterKey] | None = None, chunk: SupportsIndex = 65536) -> Iterator[Plot]:
        """As `quorvel_arrays.iter_blocks`."""
        self._check_unchanged()
        size = check_chunk(chunk)
        return pieces(self._path, self._shown, self._width_asked, check_columns(columns), size)

    def follow(
        self,
        *,
        columns: Iterable[ParameterKey] | None = None,
        interval: float = 0.5,
        idle: float | None = None,
        start: SupportsIndex = 0,
    ) -> Iterator[Plot]:
        """As `quorvel_arrays.follow`."""
        self._check_unchanged()
        return following(*follow_arguments(self._path, self._width_asked, columns, interval, idle, start))

    def scan(self, *, threads: SupportsIndex | None = 1) -> PlotInfo:
        """As `quorvel_arrays.scan` (a scan of its own, which any file, a pipe too, allows)."""
        self._check_unchanged()
        got = _reader.scan(self._path, self._width_asked, threads=check_threads(threads))
        return PlotInfo(self._shown, got.header, got.names, got.n_digits, got.blocks, got.size, *got.noted)

    def _read(
        self,
        columns: tuple[ParameterKey, ...] | None,
        blocks: tuple[int | None, int | None] | None,
        threads: int = 1,
        stop: _reader.StopToken | None = None,
        count_from: BlockStart | None = None,
    ) -> Plot:
        """A read as `read` does it (a pipe too), or a range from the index once there is one."""
        self._check_open()
        if blocks is not None and self._mark is not None:
            total = len(self)
            start, end, _ = slice(*blocks).indices(total)
            return self._range(columns, start, max(start, end), threads, stop)
        if self._mark is not None:
            self._indexed()  # the file checked, though a whole read needs no offset
        got = read_result(self._path, self._shown, self._width_asked, columns, stop=stop, blocks=blocks,
                          threads=threads, count_from=count_from)
        assert got is not None
        if self._mark is not None:
            self._still_indexed()
        self._parsed(got[0])
        return got[0]

    def _rows(self, rows: RowKey) -> tuple[int, int]:
        """Blocks [start, stop) of a row key."""
        total = len(self)
        if isinstance(rows, slice):
            if rows.step not in (None, 1):
                raise ValueError(f"rows must be a slice of step 1, not {rows.step}")
            start, stop, _ = rows.indices(total)
            return start, max(start, stop)
        array = isinstance(rows, numpy.ndarray) and rows.ndim != 0  # has __index__, only to refuse it
        if isinstance(rows, bool) or not hasattr(rows, "__index__") or array:
            raise TypeError(f"rows are chosen by an int or a slice, not {type(rows).__name__}")
        row = operator.index(rows)
        if not -total <= row < total:
            raise IndexError(f"block {row} is out of range for the {total} blocks of {self._shown}")
        return row % total, row % total + 1

    def _range(
        self, columns: tuple[ParameterKey, ...] | None, start: int, stop: int, threads: int = 1,
        token: _reader.StopToken | None = None,
    ) -> Plot:
        """Blocks [start, stop) of the indexed file, from the nearest offsets kept."""
        # Under the lock: another thread's look at a grown file may take the last start out of the
        # index between the search and the lookup.
        with self._lock:
            self._indexed()
            assert self._mark is not None
            count_from = self._starts[self._noted[bisect.bisect_right(self._noted, start) - 1]]
            count_to = self._starts.get(stop) if count_from[0] == start else None
        got = read_result(self._path, self._shown, self._width_asked, columns, stop=token, blocks=(start, stop),
                          threads=threads, count_from=count_from, count_to=count_to)
        assert got is not None
        plot, result = got
        # A file without a value line is not opened past its names (no identity): the check after
        # the read finds it unchanged or not.
        if result.file != self._mark.identity and (result.file is not None or len(plot.values)):
            raise self._mark.error("the file was replaced by another while it was open")
        self._still_indexed()
        self._parsed(plot)
        with self._lock:
            self._counted += result.counted
            for reached in (result.start, result.next):
                if reached is not None:
                    self._note(reached)
        return plot

    def _first_column(self) -> numpy.ndarray[Any, numpy.dtype[numpy.float32]]:
        """The first value of every complete block (the time column): kept by the scan that builds
        the index, which parses each block's first field as it counts; a ranged read of the column
        when that scan has passed (or the file grew since) or a first field was not in the layout,
        so that a defect is raised as a read raises it."""
        with self._lock:
            found = self._indexed_now(first_values=True)
            kept = found.first_values
            if kept is not None and len(kept) == 4 * found.blocks:
                self._blocks_parsed += found.blocks
                self._values_parsed += found.blocks
                return numpy.frombuffer(kept, numpy.float32).copy()
        return self._range((0,), 0, found.blocks).values[:, 0]

    def _parsed(self, plot: Plot) -> None:
        with self._lock:
            self._blocks_parsed += plot.values.shape[0]
            self._values_parsed += plot.values.size

    def _still_indexed(self) -> None:
        """After a read of the indexed file: a file cut, replaced or rewritten while it was read
        raises, so that no read gives part of the file or a mix of two runs."""
        with self._lock:
            assert self._mark is not None
            self._mark.look()

    def _note(self, reached: BlockStart) -> None:
        if reached[0] not in self._starts:
            bisect.insort(self._noted, reached[0])
        self._starts[reached[0]] = reached

    def _indexed(self) -> _reader.ScanResult:
        """The last scan, once the file is found to be the one indexed; the index is built by the
        first call, and counted on from its last block when the file grew."""
        with self._lock:
            return self._indexed_now()

    def _indexed_now(self, first_values: bool = False) -> _reader.ScanResult:
        self._check_open()
        if self._mark is None:
            mark = ReadMark(self._path, self._shown, "open")
            mark.look()  # refuses what is not a regular file: its offsets could not be kept
            before = self._ends()
            # With the first values, the open's one pass: on every core, as a read on several threads counts.
            self._scan(mark, None, first_values, (os.cpu_count() or 1) if first_values else 1)
            # The mark keeps the bytes as they are after the scan: a file rewritten while it was
            # scanned would pass for the one scanned, with offsets and first values of the other.
            if self._ends(before[0]) != before:
                raise mark.error("the file was rewritten while it was open: its bytes are not those scanned")
            self._mark = mark
        else:
            size = self._mark.look()
            if size is None:
                raise self._mark.removed()
            # Unpickled, the index has no scan yet: one from its last block reads the names only.
            if size > self._mark.offset or self._found is None:
                self._scan(self._mark, self._count_on_from(self._mark))
        assert self._found is not None
        return self._found

    def _ends(self, size: int | None = None) -> tuple[int, bytes, bytes]:
        """The file's size (or `size`) and its bytes at both ends of it, KEPT at most each."""
        with opened(self._path, self._shown, "open") as fd:
            if size is None:
                size = os.fstat(fd).st_size
            return size, read_at(fd, min(KEPT, size), 0), read_at(fd, min(KEPT, size), max(size - KEPT, 0))

    def _count_on_from(self, mark: ReadMark) -> BlockStart | None:
        """Where a grown file is counted on from: the end of the last block counted, unless the
        file then ended inside that block's last line (still being written), which the count took
        for a whole block: that block is counted again from a start before it."""
        if mark.reached is None or mark.tail.endswith((b"\n", b"\r")):
            return mark.reached
        last = mark.reached[0]
        del self._starts[last]
        self._noted.remove(last)
        before = bisect.bisect_right(self._noted, last - 1) - 1
        return self._starts[self._noted[before]] if before >= 0 else None

    def _scan(self, mark: ReadMark, count_from: BlockStart | None, first_values: bool = False, threads: int = 1) -> None:
        width = self._found.n_digits if self._found is not None else self._width_asked
        found = _reader.scan(self._path, width, None, threads, count_from=count_from, first_values=first_values)
        noted, starts = found.noted
        for block, offset in zip(noted, starts):
            if block not in self._starts:
                self._note((block, offset))
        end = (found.blocks, found.size)
        self._note(end)
        # Checked against what the scan read: a file replaced meanwhile is not indexed.
        mark.advance(end)
        self._counted += found.counted
        self._found = found

    def _check_unchanged(self) -> None:
        """Refuses a closed handle, and an indexed file since replaced, rewritten, shrunk or removed:
        the calls that read the file afresh would otherwise read another file as this one."""
        if self._mark is None:
            self._check_open()
        else:
            self._indexed()

    def __reduce__(self) -> tuple[Any, tuple[PathArg, int | None, IndexState | None]]:
        # A copy (or an unpickled one, on a worker) takes the index and which file it is, but as its
        # own: a shared mark would let one copy move it past a growth the other has not counted. A
        # worker thus counts nothing again, and a file changed since raises at its first access.
        with self._lock:
            self._check_open()
            mark = self._mark
            state = None if mark is None else (
                list(self._noted), dict(self._starts), mark.identity, mark.reached, mark.head, mark.tail, mark.largest
            )
        return _restored, (self._path, self._width_asked, state)

    def _check_open(self) -> None:
        if self._closed:
            raise ValueError(f"I/O operation on a closed plot file: {self._shown}")


type IndexState = tuple[list[int], dict[int, BlockStart], Any, BlockStart | None, bytes, bytes, int]


def _restored(path: PathArg, n_digits: int | None, state: IndexState | None) -> PlotFile:
    """A pickled PlotFile with its index and the marks of the file it indexed."""
    handle = PlotFile(path, n_digits)
    if state is not None:
        handle._noted, handle._starts, *kept = state
        mark = handle._mark = ReadMark(path, handle._shown, "open")
        mark.identity, mark.reached, mark.head, mark.tail, mark.largest = kept
    return handle


def split_key(key: object) -> tuple[Any, Any]:
    """(rows, columns) of an index: a bare row key, or a tuple of one or two keys."""
    if not isinstance(key, tuple):
        return key, slice(None)
    if len(key) == 1:
        return key[0], slice(None)
    if len(key) != 2:
        raise IndexError(f"a plot file has 2 dimensions, but {len(key)} were indexed")
    return key[0], key[1]


def open(path: PathArg, n_digits: SupportsIndex | None = None) -> PlotFile:  # noqa: A001
    """Opens a plot file for reads that share its block index: `with quorvel_arrays.open(path) as
    f: f[-50:, ["TIME", "TEMP"]]`. Nothing is read until a call needs it."""
    return PlotFile(path, n_digits)
