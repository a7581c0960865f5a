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

def read(
    path: str | bytes | os.PathLike[str] | os.PathLike[bytes],
    n_digits: int | None,
    columns: tuple[str | int, ...] | None,
    stop: StopToken | None = None,
    blocks: tuple[int | None, int | None] | None = None,
    threads: int = 1,
    count_from: tuple[int, int] | tuple[int, int, int] | None = None,
    follow: bool = False,
    /,
) -> tuple[str, tuple[str, ...], Values, int, int, tuple[int, int, int] | None, tuple[int, int] | None] | None:
    """(header, names, values, blocks, n_digits, next, file): `next` is where the block after a
    range starts (block, offset, the line before it), when the range ends before the file; `file`
    which file a range read (device, index). None: a followed file has no block yet. The arguments
    come checked by quorvel_arrays; raises OSError (ESPIPE: a range of a file that cannot seek),
    PlotFileError, SelectionProblem (worded by quorvel_arrays), InterruptedError when `stop`
    stopped it, MemoryError."""

@final
class FolderWatch:
    """A watch on the folder of a file."""

    def wait(self, seconds: float, /) -> bool: ...

def watch_folder(path: str | bytes | os.PathLike[str] | os.PathLike[bytes], /) -> FolderWatch | None:
    """A watch on the folder of `path`; None where the system has none."""

def scan(
    path: str | bytes | os.PathLike[str] | os.PathLike[bytes],
    n_digits: int | None,
    stop: StopToken | None = None,
    threads: int = 1,
    /,
) -> tuple[str, tuple[str, ...], int | None, int, int, tuple[tuple[int, ...], tuple[int, ...]]]:
    """(header, names, n_digits, blocks, size, (noted blocks, their offsets)); raises as read does."""
