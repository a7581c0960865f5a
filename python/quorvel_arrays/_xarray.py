"""Plot.to_xarray(): a Dataset with the first column as the time coordinate."""

from __future__ import annotations

from collections import Counter
from typing import TYPE_CHECKING, Any

from ._optional import missing
from ._plot import unique_names

if TYPE_CHECKING:
    import xarray

    from ._plot import Plot


def to_dataset(plot: Plot) -> xarray.Dataset:
    try:
        import xarray
    except ImportError as error:
        raise missing("to_xarray()", "xarray", "xarray") from error
    names = plot.names
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
        variables[key] = xarray.Variable(("time",), plot.values[:, position].copy(), attrs)
    time = xarray.Variable(("time",), plot.values[:, 0].copy(), {"parameter": names[0], "position": 0})
    return xarray.Dataset(
        variables,
        coords={"time": time},
        attrs={"path": plot.path, "header": plot.header, "n_digits": plot.n_digits},
    )
