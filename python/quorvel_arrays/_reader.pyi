"""The compiled reader."""

import os
from collections.abc import Buffer
from typing import final

@final
class StopToken:
    """Stops the reads it is given, from any thread; a stopped read raises InterruptedError."""

    def stop(self) -> None: ...
    @property
    def stopped(self) -> bool: ...

@final
class Values:
    """The float32 values of one read, allocated by the reader; a numpy array over them keeps
    this object, and so the memory, alive."""

    def __buffer__(self, flags: int, /) -> memoryview: ...

type _PathArg = str | bytes | os.PathLike[str] | os.PathLike[bytes]
type _BlockStart = tuple[int, int] | tuple[int, int, int]

@final
class ReadResult(tuple[object, ...]):
    """A read: the first seven fields unpack as a tuple, the rest by name only."""

    header: str
    names: tuple[str, ...]
    values: Values
    blocks: int
    n_digits: int
    next: tuple[int, int, int] | None  # where the block after a range starts, when the range ends before the file
    file: tuple[int, int] | None  # which file a range read (device, index)
    start: tuple[int, int, int] | None  # where a range's first block starts
    counted: int  # the blocks counted to find the range

def read(
    path: _PathArg,
    n_digits: int | None,
    columns: tuple[str | int, ...] | None,
    stop: StopToken | None = None,
    blocks: tuple[int | None, int | None] | None = None,
    threads: int = 1,
    count_from: _BlockStart | None = None,
    follow: bool = False,
    *,
    count_to: _BlockStart | None = None,
) -> ReadResult | None:
    """None: a followed file has no block yet. `count_from` (a block at or before the range) and
    `count_to` (the range's stop block, with `count_from` at its start: nothing is counted) come
    from earlier reads. The arguments come checked by quorvel_arrays; raises OSError (ESPIPE: a
    range of a file that cannot seek), PlotFileError, SelectionProblem (worded by quorvel_arrays),
    InterruptedError when `stop` stopped it, MemoryError."""

@final
class FolderWatch:
    """A watch on the folder of a file."""

    def wait(self, seconds: float, /) -> bool: ...

def watch_folder(path: str | bytes | os.PathLike[str] | os.PathLike[bytes], /) -> FolderWatch | None:
    """A watch on the folder of `path`; None where the system has none."""

def compression(first_bytes: bytes, /) -> str | None:
    """The compressed format a file's first bytes name ("gzip", "bzip2", "xz", "zstd"); None for a plain file."""

@final
class ScanResult(tuple[object, ...]):
    """A scan: the first six fields unpack as a tuple, `counted` and `first_values` by name only."""

    header: str
    names: tuple[str, ...]
    n_digits: int | None
    blocks: int
    size: int
    noted: tuple[tuple[int, ...], tuple[int, ...]]  # some blocks (increasing) and their offsets
    counted: int  # the blocks this scan counted (from `count_from` on)
    first_values: bytes | None  # with first_values=True: each block's first value, native float32

def scan(
    path: _PathArg,
    n_digits: int | None,
    stop: StopToken | None = None,
    threads: int = 1,
    *,
    count_from: _BlockStart | None = None,
    first_values: bool = False,
) -> ScanResult:
    """Raises as read does."""
