"""The call of the compiled reader, with its arguments checked as the public functions check them."""

from __future__ import annotations

import operator
import os
from collections.abc import Iterable
from typing import Any, SupportsIndex

import numpy

from . import _reader
from ._errors import SelectionProblem
from ._plot_values import ParameterKey, PathArg, Plot, selection_error

# The largest field width the reader takes (its widths are signed 64-bit numbers).
MAX_N_DIGITS = 2**63 - 1


def positive_or_none(value: SupportsIndex | None, name: str) -> int | None:
    """An argument that is a whole number >= 1 or None, as an int (or None)."""
    if value is None:
        return None
    return positive(value, name, "an int >= 1 or None")


def positive(value: SupportsIndex | None, name: str, wanted: str) -> int:
    """A whole number >= 1 as an int; the errors say it must be `wanted`."""
    if value is None or isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{name} must be {wanted}, not {'None' if value is None else type(value).__name__}")
    number = operator.index(value)
    if number < 1:
        raise ValueError(f"{name} must be {wanted}, not {number}")
    return number


def check_n_digits(n_digits: SupportsIndex | None) -> int | None:
    width = positive_or_none(n_digits, "n_digits")
    if width is not None and width > MAX_N_DIGITS:
        raise ValueError(f"n_digits must be at most {MAX_N_DIGITS}, not {width}")
    return width


def check_columns(columns: Iterable[ParameterKey] | None) -> tuple[ParameterKey, ...] | None:
    if columns is None:
        return None
    if isinstance(columns, (str, bytes)):
        raise TypeError(f"columns must be an iterable of names and positions, not a bare {type(columns).__name__}")
    try:
        items = tuple(columns)
    except TypeError:
        raise TypeError(
            f"columns must be an iterable of names and positions, not {type(columns).__name__}"
        ) from None
    checked: list[ParameterKey] = []
    for number, item in enumerate(items):
        if isinstance(item, str):
            checked.append(item)
        elif not isinstance(item, bool) and hasattr(item, "__index__"):
            checked.append(operator.index(item))
        else:
            raise TypeError(f"columns[{number}] must be a str or an int, not {type(item).__name__}")
    if not checked:
        raise ValueError("columns must select at least one parameter")
    return tuple(checked)


def check_path(path: PathArg) -> str:
    """The path as a str (os.fsdecode), or TypeError."""
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"path must be a str, bytes or os.PathLike object, not {type(path).__name__}")
    return os.fsdecode(os.fspath(path))


type BlockBounds = tuple[int | None, int | None]
# A block, its byte offset and the line before it, from an earlier scan or read.
type BlockStart = tuple[int, int] | tuple[int, int, int]
type FileIdentity = tuple[int, int]  # which file was read (device, index)


def read_range(
    path: PathArg,
    shown: str,
    n_digits: int | None,
    columns: tuple[ParameterKey, ...] | None,
    blocks: BlockBounds | None = None,
    threads: int = 1,
    count_from: BlockStart | None = None,
    stop: _reader.StopToken | None = None,
    follow: bool = False,
) -> tuple[Plot, BlockStart | None, FileIdentity | None] | None:
    """The read, where the next block starts, and which file was read; None when a file that is
    followed holds no block yet."""
    got = read_result(
        path, shown, n_digits, columns, stop=stop, blocks=blocks, threads=threads, count_from=count_from, follow=follow
    )
    if got is None:
        return None
    return got[0], got[1].next, got[1].file


def read_result(
    path: PathArg, shown: str, n_digits: int | None, columns: tuple[ParameterKey, ...] | None, **options: Any
) -> tuple[Plot, _reader.ReadResult] | None:
    """The read with the reader's `options` (checked), as a Plot and the reader's whole result."""
    try:
        got = _reader.read(path, n_digits, columns, **options)
    except SelectionProblem as problem:
        assert columns is not None
        raise selection_error(problem, columns, shown) from None
    if got is None:
        return None
    values = numpy.frombuffer(got.values, dtype=numpy.float32).reshape(got.blocks, len(got.names))
    return Plot(shown, got.header, got.names, values, got.n_digits), got


def read_whole(piece: tuple[Plot, BlockStart | None, FileIdentity | None] | None) -> Plot:
    """The plot of a read that does not follow (which always gives one)."""
    assert piece is not None
    return piece[0]


def check_blocks(blocks: slice | range | None) -> BlockBounds | None:
    """`blocks` as (start, stop), each an int or None; a step other than 1 is refused."""
    if blocks is None:
        return None
    if not isinstance(blocks, (slice, range)):
        raise TypeError(f"blocks must be a slice, a range or None, not {type(blocks).__name__}")
    if blocks.step not in (None, 1):
        raise ValueError(f"blocks must have a step of 1, not {blocks.step}")

    def bound(value: object, which: str) -> int | None:
        if value is None:
            return None
        if isinstance(value, bool) or not hasattr(value, "__index__"):
            raise TypeError(f"blocks.{which} must be an int or None, not {type(value).__name__}")
        return operator.index(value)

    return bound(blocks.start, "start"), bound(blocks.stop, "stop")


# The most threads a caller may ask for (the reader's counts are C sizes); it starts far fewer.
MAX_THREADS = 2**63 - 1


def check_threads(threads: SupportsIndex | None) -> int:
    count = positive_or_none(threads, "threads")
    if count is not None and count > MAX_THREADS:
        raise ValueError(f"threads must be at most {MAX_THREADS}, not {count}")
    return count if count is not None else os.cpu_count() or 1
