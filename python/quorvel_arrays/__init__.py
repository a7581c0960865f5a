"""KAVRINE plot files as numpy arrays.

    import quorvel_arrays as qa
    plot = qa.read("run42.plt")            # the field width found from the file
    plot["TEMP"], plot.time, plot.values   # float32 views
    plots = qa.read_many(paths)            # in order, read in parallel
    tail = qa.read("run42.plt", blocks=slice(-100, None))   # the last 100 blocks
    info = qa.scan("run42.plt")            # names and block count, no value parsed
    for piece in qa.follow("run42.plt"): ...   # blocks as a running simulation appends them
    qa.compare("a.plt", "b.plt").ok        # two runs within tolerance, parameter by parameter
    with qa.open("run42.plt") as f:        # one file, its block index kept between reads
        f[-50:, ["TIME", "TEMP"]]          # the last 50 blocks of two parameters
    xarray.open_dataset("run42.plt", engine="quorvel")   # lazy: a variable is read when indexed

`python -m quorvel_arrays` (or `quorvel`) is the command line.
"""

from ._errors import PlotFileError

__all__ = [
    "Comparison", "Difference", "Plot", "PlotFile", "PlotFileError", "PlotInfo",
    "compare", "follow", "iter_blocks", "open", "read", "read_many", "scan",
]

from ._optional import MissingLibrary as _MissingLibrary
from ._optional import require as _require

try:
    _require("quorvel_arrays", "numpy", "arrays")
except _MissingLibrary as _error:
    # The import itself succeeds so that the `quorvel` command (a module of this package) can
    # say in one line what is missing; any use of the package raises the same error.
    from typing import Any as _Any

    _missing = _error  # `except … as` unbinds its own name when the block ends

    def __getattr__(name: str) -> _Any:
        if name in __all__ and name != "PlotFileError":
            raise _missing
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
else:
    from ._blocks import PlotInfo, iter_blocks, scan
    from ._compare import Comparison, Difference, compare
    from ._follow import follow
    from ._plot import Plot, read, read_many
    from ._plot_file import PlotFile, open
