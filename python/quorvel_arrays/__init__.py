"""KAVRINE plot files as numpy arrays.

    import quorvel_arrays as qa
    plot = qa.read("run42.plt")            # the field width found from the file
    plot["TEMP"], plot.time, plot.values   # float32 views
    plots = qa.read_many(paths)            # in order, read in parallel

`python -m quorvel_arrays` (or `quorvel`) is the command line.
"""

try:
    import numpy as _numpy  # noqa: F401  (the package cannot work without it)
except ImportError as _error:
    from ._optional import missing as _missing

    raise _missing("quorvel_arrays", "numpy", "arrays") from _error

from ._errors import PlotFileError
from ._plot import Plot, read, read_many

__all__ = ["Plot", "PlotFileError", "read", "read_many"]
