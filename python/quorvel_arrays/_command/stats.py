"""`quorvel stats FILE [NAME...]`: minimum, maximum, mean and last value per parameter."""

from __future__ import annotations

import argparse
import sys
from typing import Any

import numpy

from .._plot import Plot, read
from .arguments import parameter_key
from .shared import FILE_ERRORS, PROG, SELECTION_HELP, Command, describe, input_paths, without_nan
from .streams import emit
from .text import dump, csv_line, json_value, table, value_text

STAT_FIELDS = ("position", "name", "minimum", "maximum", "mean", "last", "nan")


def add_parser(command: Command) -> None:
    stats = command("stats", "minimum, maximum, mean and last value per parameter",
                    "Minimum, maximum, mean and last value of every parameter of FILE, or of the "
                    "ones named. NaN values are left out of the minimum, maximum and mean, and "
                    "counted in the column nan.")
    stats.add_argument("file", metavar="FILE")
    stats.add_argument("names", nargs="*", metavar="NAME", type=parameter_key, help=SELECTION_HELP)
    form = stats.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="a JSON object instead of a table")
    form.add_argument("--csv", action="store_true", help="CSV instead of a table")
    stats.set_defaults(run=run_stats)


def run_stats(args: argparse.Namespace) -> int:
    (path,) = input_paths([args.file])
    try:
        plot = read(path, args.n_digits)
        positions = [plot.position(token) for token in args.names] or range(len(plot.names))
    except FILE_ERRORS as error:
        print(describe(path, error), file=sys.stderr)
        return 1
    try:
        rows = [stat_row(plot, position) for position in positions]
    except MemoryError:
        print(f"{PROG}: {plot.path}: not enough memory for the statistics", file=sys.stderr)
        return 1
    if args.json:
        emit(dump({"path": plot.path, "blocks": len(plot), "parameters": [json_row(row) for row in rows]}) + "\n")
    elif args.csv:
        emit(csv_line(STAT_FIELDS)
             + "".join(csv_line("" if row[field] is None else text(row[field]) for field in STAT_FIELDS)
                       for row in rows))
    else:
        cells = [list(STAT_FIELDS)]
        cells += [["-" if row[field] is None else text(row[field]) for field in STAT_FIELDS] for row in rows]
        emit(table(cells))
    return 0


def stat_row(plot: Plot, position: int) -> dict[str, Any]:
    """The statistics of a column as float32 values (None where there is none); NaN values are
    left out of the minimum, maximum and mean, and counted."""
    column = plot.values[:, position]
    values, nan = without_nan(column)
    row: dict[str, Any] = {"position": position, "name": plot.names[position], "nan": nan}
    row["last"] = numpy.float32(column[-1]) if len(column) else None
    if not len(values):
        return row | {"minimum": None, "maximum": None, "mean": None}
    with numpy.errstate(all="ignore"):  # inf - inf in the sum is a nan mean, not a warning
        mean = numpy.float32(values.mean(dtype=numpy.float64))
    return row | {"minimum": values.min(), "maximum": values.max(), "mean": mean}


def json_row(row: dict[str, Any]) -> dict[str, Any]:
    return {field: json_value(row[field]) if isinstance(row[field], numpy.floating) else row[field]
            for field in STAT_FIELDS}


def text(item: Any) -> str:
    return value_text(item) if isinstance(item, (float, numpy.floating)) else str(item)
