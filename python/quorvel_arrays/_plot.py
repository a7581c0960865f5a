"""The Plot class and the functions that read plot files into it."""

from __future__ import annotations

import functools
import operator
import os
from collections.abc import Iterable, Sequence
from typing import TYPE_CHECKING, Any, SupportsIndex

import numpy
import numpy.typing

from . import _reader
from ._errors import SelectionProblem
from ._optional import require
from ._pool import Job, read_in_parallel
from ._xarray import to_dataset

if TYPE_CHECKING:
    import pandas
    import xarray

type PathArg = str | bytes | os.PathLike[str] | os.PathLike[bytes]
type ParameterKey = str | int  # a parameter by its name or its position (negative from the end)
type Values = numpy.typing.NDArray[numpy.float32]


class Plot:
    """The values of a plot file: one row per block (time step), one column per parameter.

    `values` is a writable float32 array in C order, a view of the buffer the reader filled (which
    it keeps alive; numpy's `owndata` flag is False); `names` the parameter names in the order of
    its columns; `plot["TEMP"]` and `plot[2]` are views of one column.
    """

    __slots__ = ("_header", "_lookup", "_n_digits", "_names", "_path", "_values")

    # Indexing selects columns while len() counts blocks: iterating would mix the two.
    __iter__ = None

    def __init__(
        self, path: str, header: str, names: Sequence[str], values: numpy.typing.ArrayLike, n_digits: int
    ) -> None:
        names = tuple(names)
        array = numpy.require(values, dtype=numpy.float32, requirements=("C", "W"))
        if array.ndim != 2 or array.shape[1] != len(names):
            raise ValueError(f"values must have shape (blocks, {len(names)}), not {array.shape}")
        self._path = path
        self._header = header
        self._names = names
        self._values: Values = array
        self._n_digits = n_digits
        self._lookup: dict[str, list[int]] | None = None

    @property
    def path(self) -> str:
        """The path the file was read from, as a str."""
        return self._path

    @property
    def header(self) -> str:
        """The file's first line, without its line end."""
        return self._header

    @property
    def names(self) -> tuple[str, ...]:
        """The parameter names, one per column, surrounding whitespace trimmed."""
        return self._names

    @property
    def values(self) -> Values:
        """All values: shape (blocks, parameters), float32, C order, writable."""
        return self._values

    @property
    def n_digits(self) -> int:
        """The field width the file was read with."""
        return self._n_digits

    @property
    def time(self) -> Values:
        """The first column (a view): the time unless `columns` put another parameter first."""
        return self._values[:, 0]

    def __len__(self) -> int:
        return int(self._values.shape[0])

    def __getitem__(self, key: str | SupportsIndex) -> Values:
        return self._values[:, self.position(key)]

    def position(self, key: str | SupportsIndex) -> int:
        """The column of a name or a position (negative from the end), from 0; KeyError for a
        name that is missing or names several parameters, IndexError for a position out of
        range, as indexing raises them."""
        if not isinstance(key, str):
            if isinstance(key, bool) or not hasattr(key, "__index__"):
                raise TypeError(f"a plot is indexed by a parameter name or position, not {type(key).__name__}")
            position = operator.index(key)
            count = len(self._names)
            if not -count <= position < count:
                raise position_error(position, count, self._path)
            return position % count
        if self._lookup is None:
            lookup: dict[str, list[int]] = {}
            for position, each in enumerate(self._names):
                lookup.setdefault(each, []).append(position)
            self._lookup = lookup
        positions = self._lookup.get(key, [])
        if len(positions) != 1:
            raise name_error(key, positions, self._path)
        return positions[0]

    def __repr__(self) -> str:
        return (
            f"Plot({self._path!r}, parameters={len(self._names)}, blocks={len(self)}, "
            f"n_digits={self._n_digits})"
        )

    def __reduce__(self) -> tuple[Any, ...]:
        return (type(self), (self._path, self._header, self._names, self._values, self._n_digits))

    def to_pandas(self) -> pandas.DataFrame:
        """A DataFrame holding a copy of the values: the first column as its index (under its
        name), one column per other name (a repeated name gives repeated columns)."""
        pandas = require("to_pandas()", "pandas", "pandas")
        index = pandas.Index(self._values[:, 0].copy(), name=self._names[0])
        return pandas.DataFrame(self._values[:, 1:], index=index, columns=list(self._names[1:]), copy=True)

    def to_xarray(self) -> xarray.Dataset:
        """An xarray Dataset: the first column as the `time` coordinate, one variable per other
        parameter (a repeated name is made unique by its position, as its attributes say)."""
        return to_dataset(self._names, self._values, path=self._path, header=self._header, n_digits=self._n_digits)


def name_error(name: str, positions: Sequence[int], path: str) -> KeyError:
    """The error of a name that no parameter has (`positions` empty) or several have."""
    if not positions:
        return KeyError(f"{name!r} is not a parameter name of {path}")
    listed = ", ".join(map(str, positions[:-1])) + f" and {positions[-1]}"
    return KeyError(f"{name!r} names {len(positions)} parameters of {path} (positions {listed}): select it by position")


def position_error(position: int, count: int, path: str) -> IndexError:
    return IndexError(f"position {position} is out of range for the {count} parameters of {path}")


def selection_error(problem: SelectionProblem, columns: Sequence[ParameterKey], path: str) -> LookupError:
    """The reader's selection problem in the words indexing a Plot uses."""
    choice = columns[problem.choice]
    if isinstance(choice, str):
        return name_error(choice, problem.positions, path)
    return position_error(choice, problem.parameters, path)


# The largest field width the reader takes (its widths are signed 64-bit numbers).
MAX_N_DIGITS = 2**63 - 1


def positive_or_none(value: SupportsIndex | None, name: str) -> int | None:
    """An argument that is a whole number >= 1 or None, as an int (or None)."""
    if value is None:
        return None
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{name} must be an int >= 1 or None, not {type(value).__name__}")
    number = operator.index(value)
    if number < 1:
        raise ValueError(f"{name} must be an int >= 1 or None, not {number}")
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


def read_checked(
    path: PathArg,
    shown: str,
    n_digits: int | None,
    columns: tuple[ParameterKey, ...] | None,
    stop: _reader.StopToken | None = None,
) -> Plot:
    return read_whole(read_range(path, shown, n_digits, columns, stop=stop))


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
    try:
        got = _reader.read(path, n_digits, columns, stop, blocks, threads, count_from, follow)
    except SelectionProblem as problem:
        assert columns is not None
        raise selection_error(problem, columns, shown) from None
    if got is None:
        return None
    header, names, buffer, rows, width, following, identity = got
    values = numpy.frombuffer(buffer, dtype=numpy.float32).reshape(rows, len(names))
    return Plot(shown, header, names, values, width), following, identity


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
    shown = check_path(path)
    return read_whole(read_range(
        path, shown, check_n_digits(n_digits), check_columns(columns), check_blocks(blocks), check_threads(threads)
    ))


def read_job(path: PathArg, n_digits: SupportsIndex | None, columns: Iterable[ParameterKey] | None) -> Job[Plot]:
    """The read of one file for read_in_parallel, its arguments checked now."""
    return functools.partial(read_checked, path, check_path(path), check_n_digits(n_digits), check_columns(columns))


# The most threads a caller may ask for (the reader's counts are C sizes); it starts far fewer.
MAX_THREADS = 2**63 - 1


def check_threads(threads: SupportsIndex | None) -> int:
    count = positive_or_none(threads, "threads")
    if count is not None and count > MAX_THREADS:
        raise ValueError(f"threads must be at most {MAX_THREADS}, not {count}")
    return count if count is not None else os.cpu_count() or 1


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
