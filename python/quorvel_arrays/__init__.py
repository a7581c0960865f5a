"""KAVRINE plot files as numpy arrays.

    import quorvel_arrays as qa
    plot = qa.read("run42.plt")            # the field width found from the file
    plot["TEMP"], plot.time, plot.values   # float32 views
    plots = qa.read_many(paths)            # in order, read in parallel

`python -m quorvel_arrays` (or `quorvel`) is the command line.
"""

from ._errors import PlotFileError

__all__ = ["Plot", "PlotFileError", "read", "read_many"]

try:
    import numpy as _numpy  # noqa: F401  (the package cannot work without it)
except ImportError as _error:
    # The import itself succeeds so that the `quorvel` command (a module of this package) can
    # say in one line what is missing; any use of the package raises the same ImportError.
    from typing import Any as _Any

    from ._optional import missing as _missing

    _cause = _error

    def __getattr__(name: str) -> _Any:
        if name in ("Plot", "read", "read_many"):
            raise _missing("quorvel_arrays", "numpy", "arrays") from _cause
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
else:
    from ._plot import Plot, read, read_many
