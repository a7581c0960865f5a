"""Many plot files as one Dask DataFrame, one partition per file or per so many blocks.

    import quorvel_arrays.dask
    frame = quorvel_arrays.dask.read_dataframe(paths, 12, columns=["TIME", "TEMP"])
    frame = quorvel_arrays.dask.read_dataframe([huge], blocks_per_partition=10_000)

The first file is read at once, for the frame's columns (with blocks_per_partition, every file is
scanned instead); every partition is read where Dask runs it (a worker of a `dask.distributed`
cluster needs the files at the same paths).
"""

from __future__ import annotations

import dataclasses
import math
import os
import uuid
import warnings
from collections.abc import Iterable
from typing import TYPE_CHECKING, Any, SupportsIndex

import numpy
from ._blocks import scan
from ._optional import require
from ._plot import (
    BlockStart,
    ParameterKey,
    PathArg,
    check_columns,
    check_n_digits,
    check_path,
    Plot,
    positive_or_none,
    read_checked,
)
from ._plot_file import PlotFile

if TYPE_CHECKING:
    import pandas

__all__ = ["IndexOrderError", "NamesDifferError", "read_array", "read_dataframe"]


class NamesDifferError(ValueError):
    """A file of a Dask frame does not have the parameter names of the frame's first file."""


class IndexOrderError(ValueError):
    """A partition's first column strays out of the divisions read from the partitions' first
    blocks: the column does not increase through the files."""


class _PartitionReader:
    """What every partition is read with (picklable, for workers in other processes): the width,
    the columns, and the names of the frame's first file, which every file must have."""

    __slots__ = ("columns", "first", "n_digits", "names")

    def __init__(self, n_digits: int | None, columns: tuple[ParameterKey, ...] | None, names: tuple[str, ...], first: str) -> None:
        self.n_digits = n_digits
        self.columns = columns
        self.names = names
        self.first = first

    def check_names(self, plot: Plot, path: str) -> None:
        if plot.names != self.names:
            raise NamesDifferError(f"{path}: {difference(plot.names, self.names, self.first)}")


class _ReadPartition(_PartitionReader):
    """Reads one file into a pandas partition."""

    __slots__ = ()

    def __call__(self, path: str) -> pandas.DataFrame:
        plot = read_checked(path, path, self.n_digits, self.columns)
        self.check_names(plot, path)
        return plot.to_pandas()


def read_blocks(
    path: str, n_digits: int | None, columns: tuple[ParameterKey, ...] | None, start: int, stop: int,
    count_from: BlockStart | None = None,
) -> Plot:
    """Blocks [start, stop) of a file, counting from a scanned block's offset."""
    return PlotFile(path, n_digits)._read(columns, (start, stop), count_from=count_from)


@dataclasses.dataclass(frozen=True, slots=True)
class _Part:
    """Blocks [start, stop) of a file, from a scanned block's offset; `bounds` the divisions
    around it (`last`: the upper one included), or None when the frame has none."""

    path: str
    start: int
    stop: int
    count_from: BlockStart | None
    bounds: tuple[float, float, bool] | None


class _ReadPart(_PartitionReader):
    """Reads some blocks of a file into a pandas partition, checking that its index keeps within
    its divisions."""

    __slots__ = ()

    def __call__(self, part: _Part) -> pandas.DataFrame:
        plot = read_blocks(part.path, self.n_digits, self.columns, part.start, part.stop, part.count_from)
        self.check_names(plot, part.path)
        if part.bounds is not None:
            low, high, last = part.bounds
            index = plot.time
            inside = (index >= low) & ((index <= high) if last else (index < high))
            if not inside.all():
                block = part.start + int((~inside).argmax())
                raise IndexOrderError(
                    f"{part.path}: block {block}: {plot.names[0]} is {float(index[block - part.start])!r}, outside "
                    f"[{low!r}, {high!r}{']' if last else ')'} that the partition's divisions give: the column does "
                    f"not increase, so the file cannot be split with known divisions (read it without "
                    f"blocks_per_partition)"
                )
        return plot.to_pandas()


def partitions(
    shown: list[str], width: int | None, selection: tuple[ParameterKey, ...] | None, size: int
) -> tuple[list[_Part], list[float] | None]:
    """Each file's partitions of `size` blocks, from a scan, and the divisions: the first column at
    each partition's first block and at the last block, when they increase strictly (else None)."""
    key = (selection[0] if selection is not None else 0,)
    spans: list[tuple[str, int, int, BlockStart]] = []
    starts: list[float] = []
    end = math.nan
    for path in shown:
        info = scan(path, width)
        for start in range(0, info.blocks, size):
            origin = info.start_before(start)
            spans.append((path, start, min(start + size, info.blocks), origin))
            starts.append(float(read_blocks(path, width, key, start, start + 1, origin).time[0]))
        if info.blocks:
            last = info.blocks - 1
            end = float(read_blocks(path, width, key, last, last + 1, info.start_before(last)).time[0])
    divisions = [*starts, end]
    # Strictly increasing, but for the last partition's start and end (one block, or one time).
    pairs = list(zip(divisions, divisions[1:]))
    known = bool(spans) and all(a < b for a, b in pairs[:-1]) and pairs[-1][0] <= pairs[-1][1]  # NaN: False
    parts = [
        _Part(path, start, stop, origin, (divisions[k], divisions[k + 1], k == len(spans) - 1) if known else None)
        for k, (path, start, stop, origin) in enumerate(spans)
    ]
    return parts, divisions if known else None


def difference(names: tuple[str, ...], expected: tuple[str, ...], first: str) -> str:
    if len(names) != len(expected):
        return f"{len(names)} parameters, where {first} has {len(expected)}"
    position = next(p for p, (a, b) in enumerate(zip(names, expected)) if a != b)
    return f"parameter {position} is {names[position]!r}, where {first} has {expected[position]!r}"


def read_dataframe(
    paths: Iterable[PathArg],
    n_digits: SupportsIndex | None = None,
    *,
    columns: Iterable[ParameterKey] | None = None,
    blocks_per_partition: SupportsIndex | None = None,
) -> Any:
    """A Dask DataFrame of the plot files, one partition per file in the order given, each as
    `Plot.to_pandas()` gives it (the index is the first column). The columns come from the first
    file; a file whose names differ raises NamesDifferError when its partition is computed.

    With `blocks_per_partition`, each file is scanned now and split into partitions of that many
    blocks, each a ranged read (a file without blocks gives none); the divisions are the first
    column at each partition's first block and at the last block, known when those increase
    strictly (the last two may be equal). A partition whose first column then strays out of them
    raises IndexOrderError."""
    with warnings.catch_warnings():
        # A dask without its query planner says so on import; the frame works all the same.
        warnings.filterwarnings("ignore", "Dask dataframe query planning", FutureWarning)
        dataframe = require("read_dataframe()", "dask.dataframe", "dask")
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("paths must be an iterable of paths, not a single path")
    shown = [check_path(path) for path in paths]
    if not shown:
        raise ValueError("paths must name at least one file")
    width = check_n_digits(n_digits)
    selection = check_columns(columns)
    size = positive_or_none(blocks_per_partition, "blocks_per_partition")
    # Looked up by name: dask's package defines it in branches a type checker cannot follow, and
    # the frame's class differs between dask's two implementations (hence `Any` above).
    from_map = getattr(dataframe, "from_map")
    if size is None:
        first = read_checked(shown[0], shown[0], width, selection)
        meta = first.to_pandas().iloc[:0]
        partition = _ReadPartition(width, selection, first.names, shown[0])
        return from_map(partition, shown, meta=meta, label="read-plot", enforce_metadata=False)
    empty = read_blocks(shown[0], width, selection, 0, 0)
    parts, divisions = partitions(shown, width, selection, size)
    if not parts:  # no file has a block: one empty partition
        parts = [_Part(shown[0], 0, 0, None, None)]
    reader = _ReadPart(width, selection, empty.names, shown[0])
    return from_map(reader, parts, meta=empty.to_pandas(), divisions=divisions, label="read-plot-blocks",
                    enforce_metadata=False)


# Blocks per chunk when none is given: about this many bytes of float32 values a chunk.
CHUNK_BYTES = 64 * 2**20


def _read_chunk(handle: PlotFile, columns: tuple[ParameterKey, ...] | None, start: int, stop: int) -> Any:
    """Blocks [start, stop) of one of the array's files, from its block index."""
    return handle._range(columns, start, stop).values


def read_array(
    paths: PathArg | Iterable[PathArg],
    n_digits: SupportsIndex | None = None,
    *,
    columns: Iterable[ParameterKey] | None = None,
    chunks: SupportsIndex | None = None,
) -> Any:
    """A Dask array (float32) of the files' blocks × their parameters (or `columns`), the files
    one after the other along the blocks. Every file is scanned now, and must have the names of
    the first (NamesDifferError); each chunk of `chunks` blocks (None: as many as make about 64 MiB,
    at least one) is a ranged read of one file from its block index, done where Dask runs it."""
    array = require("read_array()", "dask.array", "dask")
    if isinstance(paths, (str, bytes, os.PathLike)):
        shown = [check_path(paths)]
    else:
        shown = [check_path(path) for path in paths]
    if not shown:
        raise ValueError("paths must name at least one file")
    size = positive_or_none(chunks, "chunks")
    selection = check_columns(columns)
    handles = [PlotFile(path, n_digits) for path in shown]
    names = handles[0].names
    for path, handle in zip(shown[1:], handles[1:]):
        if handle.names != names:
            raise NamesDifferError(f"{path}: {difference(handle.names, names, shown[0])}")
    width = len(handles[0]._range(selection, 0, 0).names)  # a bad selection raises now
    size = size or max(1, CHUNK_BYTES // (4 * max(width, 1)))
    spans = [(k, start, min(start + size, len(h))) for k, h in enumerate(handles) for start in range(0, len(h), size)]
    spans = spans or [(0, 0, 0)]
    name = f"read-plot-array-{uuid.uuid4().hex}"
    # Each handle under a key of its own, which the tasks name: it pickles (with its index) once
    # for a worker, not once a task.
    files = f"plot-file-{name}"
    graph: dict[Any, Any] = {(files, k): handle for k, handle in enumerate(handles)}
    graph.update({(name, k, 0): (_read_chunk, (files, file), selection, start, stop)
                  for k, (file, start, stop) in enumerate(spans)})
    rows = tuple(stop - start for _, start, stop in spans)
    return array.Array(graph, name, (rows, (width,)), dtype=numpy.float32)
