"""Plot.to_xarray(): a Dataset with the first column as the time coordinate."""

from __future__ import annotations

from collections import Counter
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

import numpy
import numpy.typing

from ._names import unique_names
from ._optional import require

if TYPE_CHECKING:
    import xarray


def to_dataset(
    names: Sequence[str], values: numpy.typing.NDArray[numpy.float32], *, path: str, header: str, n_digits: int
) -> xarray.Dataset:
    """The Dataset of a plot's names and values (blocks × parameters), its path, header and width
    in the attributes."""
    library = require("to_xarray()", "xarray", "xarray")
    counts = Counter(names[1:])
    variables: dict[str, Any] = {}
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
        variables[key] = library.Variable(("time",), values[:, position].copy(), attrs)
    time = library.Variable(("time",), values[:, 0].copy(), {"parameter": names[0], "position": 0})
    dataset: xarray.Dataset = library.Dataset(
        variables,
        coords={"time": time},
        attrs={"path": path, "header": header, "n_digits": n_digits},
    )
    return dataset
