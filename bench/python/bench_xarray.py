"""The xarray engine against the reads it replaces, on one generated file, alternately in each
round: `xr.open_dataset(path, engine="quorvel")` against `scan` (target: at most 1x) and against
xarray's own part of it (the same Dataset opened from no file), and
`ds[name][-50:].values` against a whole `read` (target: at least 4x faster), on a dataset opened
before the rounds and on one opened for it. Run by `scripts/bench --xarray [--size medium] [--width 12] [--repeat K]`.
"""

import argparse
import gc
import os
import statistics
import sys
import time

import plotgen

DEFAULT_DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "bench-data")


def engine():
    # The class itself: the build tree has no dist-info to register the name `quorvel` by.
    from quorvel_arrays._xarray_backend import PlotBackend

    return PlotBackend


def fileless(names, time, width):
    """A backend that builds the engine's Dataset (the same variables, attributes and time index)
    with no file behind it: what xarray itself costs an open, which no engine can go below."""
    import numpy
    import xarray
    from quorvel_arrays._xarray import dataset_of, variable_names
    from xarray.backends import BackendArray, BackendEntrypoint
    from xarray.core import indexing

    class Column(BackendArray):
        def __init__(self):
            self.shape, self.dtype = time.shape, numpy.dtype(numpy.float32)

        def __getitem__(self, key):
            return indexing.explicit_indexing_adapter(key, self.shape, indexing.IndexingSupport.OUTER, time.__getitem__)

    class NoFile(BackendEntrypoint):
        def open_dataset(self, filename_or_obj, *, drop_variables=None):
            columns = {key: xarray.Variable(("time",), indexing.LazilyIndexedArray(Column()), attrs)
                       for _, key, attrs in variable_names(names)}
            return dataset_of(xarray, names, time, columns, path=filename_or_obj, header="", n_digits=width)

    return lambda: xarray.open_dataset("no file", engine=NoFile).close()


def timed(call):
    gc.collect()
    start = time.perf_counter()
    call()
    return time.perf_counter() - start


def check(path, width, name):
    """The engine's values against the whole read's, bit for bit, before anything is timed."""
    import quorvel_arrays
    import xarray

    expected = quorvel_arrays.read(path, width).to_xarray()
    with xarray.open_dataset(path, engine=engine(), n_digits=width) as ds:
        if ds[name][-50:].values.tobytes() != expected[name][-50:].values.tobytes():
            sys.exit(f"DISAGREEMENT: ds[{name!r}][-50:] differs from the whole read's")
        if ds["time"].values.tobytes() != expected["time"].values.tobytes():
            sys.exit("DISAGREEMENT: the time coordinate differs from the whole read's")


def tail_of(path, width, name):
    import xarray

    with xarray.open_dataset(path, engine=engine(), n_digits=width) as ds:
        return ds[name][-50:].values


def opened(path, width):
    import xarray

    xarray.open_dataset(path, engine=engine(), n_digits=width).close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", choices=sorted(plotgen.SIZES), default="medium")
    parser.add_argument("--width", choices=["12", "15"], default="12")
    parser.add_argument("--repeat", type=int, default=5, help="rounds (default 5)")
    parser.add_argument("--data", default=DEFAULT_DATA)
    options, _ = parser.parse_known_args()
    import quorvel_arrays

    width = int(options.width)
    parameters, blocks = plotgen.SIZES[options.size]
    path, _ = plotgen.plot_file(options.data, parameters, blocks, width)
    name = quorvel_arrays.scan(path, width).names[-1]
    check(path, width, name)
    import xarray

    ds = xarray.open_dataset(path, engine=engine(), n_digits=width)  # for the tail alone
    work = {
        "scan": lambda: quorvel_arrays.scan(path, width),
        "xarray alone": fileless(quorvel_arrays.scan(path, width).names, quorvel_arrays.read(path, width).values[:, 0], width),
        "open_dataset": lambda: opened(path, width),
        "read": lambda: quorvel_arrays.read(path, width),
        "[-50:]": lambda: ds[name][-50:].values,
        "open_dataset + [-50:]": lambda: tail_of(path, width, name),
    }
    print(f"xarray engine, {options.size} ({parameters} x {blocks}), width {width}, {options.repeat} rounds", flush=True)
    times = {key: [] for key in work}
    for round_index in range(options.repeat):
        for key, call in work.items():
            times[key].append(timed(call))
        print(f"  round {round_index + 1}: " + "  ".join(f"{key} {times[key][-1]:.4f}" for key in times), flush=True)
    ds.close()
    for label, a, b in [("open_dataset/scan (target <= 1)", "open_dataset", "scan"),
                        ("xarray alone/scan (the least open_dataset/scan can be)", "xarray alone", "scan"),
                        ("read/[-50:] of an open dataset (target >= 4)", "read", "[-50:]"),
                        ("read/open_dataset + [-50:]", "read", "open_dataset + [-50:]")]:
        rounds = [x / y for x, y in zip(times[a], times[b])]
        middle = statistics.median(times[a]) / statistics.median(times[b])
        print(f"  ratio (time) {label}: {middle:.2f} (rounds {min(rounds):.2f}-{max(rounds):.2f})")


if __name__ == "__main__":
    main()
