"""Many plot files as one Dask DataFrame, one partition per file.

    import quorvel_arrays.dask
    frame = quorvel_arrays.dask.read_dataframe(paths, 12, columns=["TIME", "TEMP"])

The first file is read at once, for the frame's columns; every partition is read where Dask runs
it (a worker of a `dask.distributed` cluster needs the files at the same paths).
"""

from __future__ import annotations

import os
import warnings
from collections.abc import Iterable
from typing import TYPE_CHECKING, Any, SupportsIndex

from ._optional import require
from ._plot import ParameterKey, PathArg, check_columns, check_n_digits, check_path, read_checked

if TYPE_CHECKING:
    import pandas

__all__ = ["NamesDifferError", "read_dataframe"]


class NamesDifferError(ValueError):
    """A file of a Dask frame does not have the parameter names of the frame's first file."""


class _ReadPartition:
    """Reads one file into a pandas partition (a picklable callable, for workers in other
    processes)."""

    __slots__ = ("columns", "first", "n_digits", "names")

    def __init__(self, n_digits: int | None, columns: tuple[ParameterKey, ...] | None, names: tuple[str, ...], first: str) -> None:
        self.n_digits = n_digits
        self.columns = columns
        self.names = names
        self.first = first

    def __call__(self, path: str) -> pandas.DataFrame:
        plot = read_checked(path, path, self.n_digits, self.columns)
        if plot.names != self.names:
            raise NamesDifferError(f"{path}: {difference(plot.names, self.names, self.first)}")
        return plot.to_pandas()


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
) -> Any:
    """A Dask DataFrame of the plot files, one partition per file in the order given, each as
    `Plot.to_pandas()` gives it (the index is the first column). The columns come from the first
    file; a file whose names differ raises NamesDifferError when its partition is computed."""
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
    first = read_checked(shown[0], shown[0], width, selection)
    meta = first.to_pandas().iloc[:0]
    partition = _ReadPartition(width, selection, first.names, shown[0])
    # Looked up by name: dask's package defines it in branches a type checker cannot follow, and
    # the frame's class differs between dask's two implementations (hence `Any` above).
    from_map = getattr(dataframe, "from_map")
    return from_map(partition, shown, meta=meta, label="read-plot", enforce_metadata=False)
