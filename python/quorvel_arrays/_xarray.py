"""Plot.to_xarray(): a Dataset with the first column as the time coordinate."""

from __future__ import annotations

from collections import Counter
from collections.abc import Iterator, Sequence
from typing import TYPE_CHECKING, Any

import numpy
import numpy.typing

from ._names import unique_names
from ._optional import require

if TYPE_CHECKING:
    import xarray


def variable_names(names: Sequence[str]) -> Iterator[tuple[int, str, dict[str, Any]]]:
    """(position, variable name, attributes) of each parameter after the first: a repeated name,
    or one that is the coordinate's, is renamed and says so in a comment."""
    counts = Counter(names[1:])
    for position, key in enumerate(unique_names(names[1:], 1, taken=("time",)), start=1):
        name = names[position]
        attrs: dict[str, Any] = {"parameter": name, "position": position}
        if key != name:
            shared = [str(p) for p, other in enumerate(names) if other == name and p > 0]
            attrs["comment"] = (
                f"renamed from {name!r}, which names the parameters at positions {', '.join(shared)}"
                if counts[name] > 1
                else f"renamed from {name!r}, the name of the time coordinate"
            )
        yield position, key, attrs


def dataset_of(
    library: Any, names: Sequence[str], time: Any, columns: dict[str, Any], *, path: str, header: str,
    n_digits: int | None,
) -> xarray.Dataset:
    """The Dataset of a time coordinate's data (None: dropped) and each variable's (by name), with
    the attributes every plot's Dataset has."""
    coords = {} if time is None else {"time": library.Variable(("time",), time, {"parameter": names[0], "position": 0})}
    dataset: xarray.Dataset = library.Dataset(
        columns, coords=coords, attrs={"path": path, "header": header, "n_digits": n_digits}
    )
    return dataset


def to_dataset(
    names: Sequence[str], values: numpy.typing.NDArray[numpy.float32], *, path: str, header: str, n_digits: int
) -> xarray.Dataset:
    """The Dataset of a plot's names and values (blocks × parameters), its path, header and width
    in the attributes."""
    library = require("to_xarray()", "xarray", "xarray")
    variables = {
        key: library.Variable(("time",), values[:, position].copy(), attrs)
        for position, key, attrs in variable_names(names)
    }
    return dataset_of(library, names, values[:, 0].copy(), variables, path=path, header=header, n_digits=n_digits)
