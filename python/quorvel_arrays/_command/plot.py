"""`quorvel plot`: parameters drawn against the first column, from one run or several."""

from __future__ import annotations

import argparse
import math
import os
import sys
from collections.abc import Sequence

from .._plot import ParameterKey, Plot, read
from . import figure, safe_output
from .arguments import MAX_DPI, MIN_DPI, labels, parameter_key, positive_float, resolution
from .shared import (FILE_ERRORS, PROG, SELECTION_HELP, Command, UsageError, describe, input_paths, read_in_order,
                     refuse_input, stem)

# A side of the picture outside these bounds cannot be drawn (or not in memory).
MIN_SIDE, MAX_SIDE = 16, 16_384


def add_parser(command: Command) -> None:
    plot = command("plot", "draw parameters against the first column",
                   "Draws each named parameter against the first column (usually time), one panel "
                   "per parameter sharing the time axis, titled with the file's name. With -n, "
                   "every FILE is a run and each panel draws the parameter of every run, with a "
                   "legend naming the runs. The size is in inches: a PNG is WIDTH×DPI by "
                   f"HEIGHT×DPI pixels, each side from {MIN_SIDE} to {MAX_SIDE:,}.")
    plot.usage = ("%(prog)s FILE NAME... -o OUT [options]\n"
                  "       %(prog)s FILE... -n NAME [-n NAME ...] -o OUT [--labels LABEL,...] [options]")
    plot.add_argument("file", metavar="FILE")
    plot.add_argument("names", nargs="*", metavar="NAME", help=f"{SELECTION_HELP}; with -n, more runs")
    plot.add_argument("-n", "--name", action="append", dest="picked", metavar="NAME",
                      help="a parameter to draw from every FILE (repeat it for more panels)")
    plot.add_argument("--labels", type=labels, metavar="LABEL,...",
                      help="the runs' names in the legend, one per FILE (default: the file names without suffix)")
    plot.add_argument("-o", "--output", required=True, metavar="OUT", help="the picture: .png, .svg or .pdf")
    plot.add_argument("--overlay", action="store_true", help="all parameters in one panel, with a legend")
    plot.add_argument("--width", type=positive_float, default=8.0, help="inches (default: 8)")
    plot.add_argument("--height", type=positive_float,
                      help="inches (default: 1 + 2 per panel, 4.5 with --overlay)")
    plot.add_argument("--dpi", type=resolution, default=100.0,
                      help=f"pixels per inch, {MIN_DPI:g} to {MAX_DPI:g} (default: 100)")
    plot.set_defaults(run=run_plot)


def run_plot(args: argparse.Namespace) -> int:
    form = os.path.splitext(args.output)[1].lower().lstrip(".")
    if form not in figure.FORMATS:
        raise UsageError(f"cannot tell the picture format of {args.output}: name it .png, .svg or .pdf")
    # FILE NAME… draws one run; FILE… -n NAME… draws every FILE in each panel.
    files = [args.file, *args.names] if args.picked else [args.file]
    names = [parameter_key(name) for name in (args.picked or args.names)]
    if not names:
        raise UsageError("the following arguments are required: NAME (or -n NAME)")
    paths = input_paths(files)
    refuse_input(args.output, paths)
    if args.labels is not None and len(args.labels) != len(files):
        raise UsageError(f"--labels needs one label per FILE ({len(files)}), not {len(args.labels)}")
    panels = 1 if args.overlay else len(names)
    height = args.height if args.height is not None else figure.default_height(panels, args.overlay)
    # A side of 1e308 inches is a finite number whose product with the dpi is not.
    pixels = [round(side * args.dpi) if side * args.dpi < math.inf else math.inf for side in (args.width, height)]
    if not all(MIN_SIDE <= side <= MAX_SIDE for side in pixels):
        raise UsageError(f"the picture would be {pixels[0]:,}×{pixels[1]:,} pixels (width and height × dpi): "
                         f"each side must be from {MIN_SIDE} to {MAX_SIDE:,}")
    figure.check_library()
    plots = read_runs(paths, args.n_digits, (0, *names))
    if plots is None:
        return 1
    runs = list(zip(args.labels or run_labels(paths), plots))
    try:
        figure.draw_runs(runs, args.output, overlay=args.overlay, width=args.width, height=height, dpi=args.dpi,
                         inputs=paths)
    except OSError as error:
        print(f"{PROG}: cannot write {args.output}: {error.strerror or error}", file=sys.stderr)
        return 1
    except safe_output.Unwritable as error:
        print(f"{PROG}: cannot write {args.output}: {error}", file=sys.stderr)
        return 1
    except MemoryError:
        print(f"{PROG}: cannot draw {args.output}: not enough memory", file=sys.stderr)
        return 1
    return 0


def read_runs(paths: Sequence[str], n_digits: int | None, columns: tuple[ParameterKey, ...]) -> list[Plot] | None:
    """The runs' columns, or None once each file that could not be read was reported."""
    if len(paths) == 1:
        try:
            return [read(paths[0], n_digits, columns=columns)]
        except FILE_ERRORS as error:
            print(describe(paths[0], error), file=sys.stderr)
            return None
    plots: list[Plot] = []
    for path, outcome in list(read_in_order(paths, n_digits, columns)):
        if isinstance(outcome, Plot):
            plots.append(outcome)
        else:
            print(describe(path, outcome), file=sys.stderr)
    return plots if len(plots) == len(paths) else None


def run_labels(paths: Sequence[str]) -> list[str]:
    """The runs' default names: the file stems, or the paths when two stems are alike; one run
    keeps its file name, the title it always had."""
    if len(paths) == 1:
        return [os.path.basename(paths[0])]
    stems = [stem(path) for path in paths]
    return stems if len(set(stems)) == len(stems) else list(paths)
