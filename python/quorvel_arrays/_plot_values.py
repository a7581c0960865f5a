"""The Plot class: the values of a plot file as a float32 array, with its names."""

from __future__ import annotations

import operator
import os
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, SupportsIndex

import numpy
import numpy.typing

from ._errors import SelectionProblem
from ._optional import require
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
