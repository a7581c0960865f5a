"""The `quorvel` command (also `python -m quorvel_arrays`): info, stats, convert and plot.

Exit status: 0 when everything went well, 1 when a file is defective, cannot be opened or
written, lacks a parameter asked for, or a library the command needs is missing (each such file
is reported on standard error and the others are still processed), 2 for a usage error.
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import json
import os
import re
import sys
from collections.abc import Callable, Iterator, Sequence
from typing import Any

import numpy

from . import _figure, _writers
from ._errors import PlotFileError
from ._plot import Column, Plot, read, read_job
from ._pool import read_in_parallel
from ._progress import Progress

PROG = "quorvel"
FILE_ERRORS = (OSError, PlotFileError, KeyError, IndexError, MemoryError)
POSITION = re.compile(r"-?[0-9]+")
SELECTION_HELP = "a whole number selects by position (0 is the first parameter, -1 the last)"


class UsageError(Exception):
    """A command line that cannot be carried out as given: exit status 2."""


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    try:
        status: int = args.run(args)
        sys.stdout.flush()
        return status
    except UsageError as error:
        args.parser.error(str(error))  # exits with status 2
    except ImportError as error:
        print(f"{PROG}: {error}", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # Whoever read our output stopped (`quorvel info … | head`); Python would complain about
        # the unflushed rest at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    raise AssertionError("unreachable")


# ---- arguments


def positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be a whole number >= 1, not {text!r}")
    return value


def positive_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = 0.0
    if not 0.0 < value < float("inf"):
        raise argparse.ArgumentTypeError(f"must be a number > 0, not {text!r}")
    return value


def column(text: str) -> Column:
    """A parameter name, or a position when the text is a whole number."""
    return int(text) if POSITION.fullmatch(text) else text


def column_list(text: str) -> tuple[Column, ...]:
    items = [item.strip() for item in text.split(",")]
    if "" in items:
        raise argparse.ArgumentTypeError(f"empty name in {text!r}")
    return tuple(column(item) for item in items)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Look into KAVRINE plot files, convert them and plot them.",
        epilog="Exit status: 0 on success, 1 when a file is defective or cannot be read or "
        "written, 2 for a usage error.",
    )
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)

    def command(name: str, help: str, description: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=help, description=description)
        sub.add_argument(
            "--n-digits", type=positive_int, metavar="N",
            help="the field width in bytes (12 or 15 for KAVRINE's two versions; default: found from the file)",
        )
        sub.set_defaults(parser=sub)
        return sub

    info = command("info", "what a file holds", "For each file: parameters, blocks, field width, "
                   "the first column's range and the file's size.")
    info.add_argument("files", nargs="+", metavar="FILE")
    info.add_argument("--names", action="store_true", help="also list the parameter names with their positions")
    info.add_argument("--json", action="store_true", help="one JSON object per file, one per line")
    info.set_defaults(run=run_info)

    stats = command("stats", "minimum, maximum, mean and last value per parameter",
                    "Minimum, maximum, mean and last value of every parameter of FILE, or of the "
                    "ones named.")
    stats.add_argument("file", metavar="FILE")
    stats.add_argument("names", nargs="*", metavar="NAME", type=column, help=SELECTION_HELP)
    form = stats.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="a JSON object instead of a table")
    form.add_argument("--csv", action="store_true", help="CSV instead of a table")
    stats.set_defaults(run=run_stats)

    convert = command("convert", "write the values as .csv, .tsv, .npz or .parquet",
                      "Writes each file's values in the format of OUT's suffix: .csv or .tsv (a "
                      "row of names, then one row per block, each value the shortest text that "
                      "reads back as the same float32), .npz (arrays values, names, header, "
                      "n_digits) or .parquet (one float32 column per parameter). With several "
                      "files OUT is a folder and each output keeps its file's stem.")
    convert.add_argument("files", nargs="+", metavar="FILE")
    convert.add_argument("-o", "--output", required=True, metavar="OUT", help="the output file, or folder")
    convert.add_argument("--to", choices=sorted(_writers.WRITERS), help="the format (needed when OUT is a folder)")
    convert.add_argument("--columns", type=column_list, metavar="NAME,...",
                         help=f"only these parameters, in this order ({SELECTION_HELP})")
    convert.set_defaults(run=run_convert)

    plot = command("plot", "draw parameters against the first column",
                   "Draws each named parameter against the first column (usually time), one panel "
                   "per parameter sharing the time axis, titled with the file's name. The size "
                   "is in inches: a PNG is WIDTH×DPI by HEIGHT×DPI pixels.")
    plot.add_argument("file", metavar="FILE")
    plot.add_argument("names", nargs="+", metavar="NAME", type=column, help=SELECTION_HELP)
    plot.add_argument("-o", "--output", required=True, metavar="OUT", help="the picture: .png, .svg or .pdf")
    plot.add_argument("--overlay", action="store_true", help="all parameters in one panel, with a legend")
    plot.add_argument("--width", type=positive_float, default=8.0, help="inches (default: 8)")
    plot.add_argument("--height", type=positive_float,
                      help="inches (default: 1 + 2 per panel, 4.5 with --overlay)")
    plot.add_argument("--dpi", type=positive_float, default=100.0, help="pixels per inch (default: 100)")
    plot.set_defaults(run=run_plot)
    return parser


# ---- reading and reporting


def read_in_order(
    files: Sequence[str], n_digits: int | None, columns: tuple[Column, ...] | None = None
) -> Iterator[tuple[str, Plot | BaseException]]:
    """Yields each file with its plot or the error that explains why it has none, in order, while
    the next few files are read on other threads. On Ctrl-C, or when the caller stops early, the
    reads still going are stopped and their threads joined."""
    workers = min(os.cpu_count() or 1, len(files))
    jobs = [read_job(file, n_digits, columns) for file in files]
    with contextlib.closing(read_in_parallel(jobs, workers, ahead=workers)) as outcomes:
        for file, outcome in zip(files, outcomes):
            yield take(file, outcome)


def take(file: str, outcome: Plot | BaseException) -> tuple[str, Plot | BaseException]:
    """The file with its plot or its file error; any other error is raised."""
    if isinstance(outcome, BaseException) and not isinstance(outcome, FILE_ERRORS):
        raise outcome
    return file, outcome


def for_each_plot(
    files: Sequence[str],
    n_digits: int | None,
    columns: tuple[Column, ...] | None,
    use: Callable[[int, str, Plot, Progress], bool],
) -> int:
    """Reads the files in order behind a progress bar, says on stderr why a file gave no plot, and
    hands each plot to `use` (its index, file, plot and the progress bar to print through), which
    tells whether it succeeded. The exit status: 1 when any file failed."""
    progress = Progress(len(files), sys.stderr)
    status = 0
    try:
        for index, (file, result) in enumerate(read_in_order(files, n_digits, columns)):
            progress.advance(file)
            if isinstance(result, BaseException):
                progress.say(describe(file, result) + "\n", sys.stderr)
                status = 1
            elif not use(index, file, result, progress):
                status = 1
    finally:
        progress.close()
    return status


def describe(file: str, error: BaseException) -> str:
    """The line that tells the user why `file` gave no result."""
    if isinstance(error, PlotFileError):
        return str(error)
    if isinstance(error, OSError):
        name = error.filename if error.filename is not None else file
        return f"{PROG}: {os.fsdecode(name)}: {error.strerror or error}"
    if isinstance(error, (KeyError, IndexError)) and error.args:
        return f"{PROG}: {error.args[0]}"
    if isinstance(error, MemoryError):
        return f"{PROG}: {file}: not enough memory to read it"
    return f"{PROG}: {file}: {error}"


def value_text(value: Any) -> str:
    """The shortest text that reads back as the same float32."""
    return str(numpy.float32(value))


def json_value(value: Any) -> float:
    # The float of the shortest float32 text, so that JSON shows 0.1 rather than 0.10000000149011612.
    return float(value_text(value))


def dump(payload: Any) -> str:
    return json.dumps(payload, ensure_ascii=False)


# ---- info


def run_info(args: argparse.Namespace) -> int:
    def show(_: int, file: str, plot: Plot, progress: Progress) -> bool:
        try:
            size = os.stat(file).st_size
        except OSError as error:
            progress.say(describe(file, error) + "\n", sys.stderr)
            return False
        facts = info_facts(plot, args.n_digits is None, size, args.names)
        progress.say(dump(facts) + "\n" if args.json else info_text(facts), sys.stdout)
        return True

    return for_each_plot(args.files, args.n_digits, None, show)


def info_facts(plot: Plot, found: bool, size: int, names: bool) -> dict[str, Any]:
    first = plot.time
    facts: dict[str, Any] = {
        "path": plot.path,
        "header": plot.header,
        "parameters": len(plot.names),
        "blocks": len(plot),
        "n_digits": plot.n_digits,
        "n_digits_found": found,
        "first": {
            "name": plot.names[0],
            "minimum": json_value(first.min()) if len(first) else None,
            "maximum": json_value(first.max()) if len(first) else None,
        },
        "size": size,
    }
    if names:
        facts["names"] = list(plot.names)
    return facts


def info_text(facts: dict[str, Any]) -> str:
    first = facts["first"]
    if first["minimum"] is None:
        span = "no blocks"
    else:
        span = f"{value_text(first['minimum'])} to {value_text(first['maximum'])}"
    lines = [
        facts["path"],
        f"  header        {facts['header']}",
        f"  parameters    {facts['parameters']}",
        f"  blocks        {facts['blocks']}",
        f"  width         {facts['n_digits']} ({'found in the file' if facts['n_digits_found'] else 'given'})",
        f"  first column  {first['name']}: {span}",
        f"  size          {facts['size']:,} bytes",
    ]
    if "names" in facts:
        digits = len(str(len(facts["names"]) - 1))
        lines.append("  names")
        lines.extend(f"    {position:>{digits}}  {name}" for position, name in enumerate(facts["names"]))
    return "\n".join(lines) + "\n\n"


# ---- stats


STAT_FIELDS = ("position", "name", "minimum", "maximum", "mean", "last")


def run_stats(args: argparse.Namespace) -> int:
    try:
        plot = read(args.file, args.n_digits)
        positions = [plot._position(token) for token in args.names] or range(len(plot.names))  # noqa: SLF001
    except FILE_ERRORS as error:
        print(describe(args.file, error), file=sys.stderr)
        return 1
    rows = [stat_row(plot, position) for position in positions]
    if args.json:
        print(dump({"path": plot.path, "blocks": len(plot), "parameters": rows}))
    elif args.csv:
        writer = csv.writer(sys.stdout, lineterminator="\n")
        writer.writerow(STAT_FIELDS)
        writer.writerows([["" if row[field] is None else text(row[field]) for field in STAT_FIELDS] for row in rows])
    else:
        sys.stdout.write(table(rows))
    return 0


def stat_row(plot: Plot, position: int) -> dict[str, Any]:
    values = plot.values[:, position]
    row: dict[str, Any] = {"position": position, "name": plot.names[position]}
    if not len(values):
        return row | {"minimum": None, "maximum": None, "mean": None, "last": None}
    with numpy.errstate(all="ignore"):  # inf - inf in the sum is a nan mean, not a warning
        mean = numpy.float32(values.mean(dtype=numpy.float64))
    return row | {
        "minimum": json_value(values.min()),
        "maximum": json_value(values.max()),
        "mean": json_value(mean),
        "last": json_value(values[-1]),
    }


def text(item: Any) -> str:
    return value_text(item) if isinstance(item, float) else str(item)


def table(rows: list[dict[str, Any]]) -> str:
    cells = [list(STAT_FIELDS)]
    cells += [["-" if row[field] is None else text(row[field]) for field in STAT_FIELDS] for row in rows]
    widths = [max(len(line[k]) for line in cells) for k in range(len(STAT_FIELDS))]
    out = []
    for line in cells:
        # The name is text, left-aligned; numbers line up on the right.
        parts = [cell.ljust(w) if k == 1 else cell.rjust(w) for k, (cell, w) in enumerate(zip(line, widths))]
        out.append("  ".join(parts).rstrip() + "\n")
    return "".join(out)


# ---- convert


def run_convert(args: argparse.Namespace) -> int:
    files: list[str] = args.files
    targets, form = convert_targets(files, args.output, args.to)
    _writers.check_library(form)
    if len(files) > 1 or os.path.isdir(args.output):
        try:
            os.makedirs(args.output, exist_ok=True)
        except OSError as error:
            print(describe(args.output, error), file=sys.stderr)
            return 1

    def write(index: int, _: str, plot: Plot, progress: Progress) -> bool:
        try:
            _writers.write(plot, targets[index], form)
        except OSError as error:
            progress.say(f"{PROG}: cannot write {targets[index]}: {error.strerror or error}\n", sys.stderr)
            return False
        return True

    return for_each_plot(files, args.n_digits, args.columns, write)


def convert_targets(files: Sequence[str], output: str, to: str | None) -> tuple[list[str], str]:
    """Each file's output path and the format, or UsageError."""
    if len(files) > 1 or os.path.isdir(output):
        if os.path.exists(output) and not os.path.isdir(output):
            raise UsageError(f"-o {output} must be a folder when converting several files")
        if to is None:
            raise UsageError(f"-o {output} is a folder: give the format with --to")
        targets = [os.path.join(output, stem(file) + "." + to) for file in files]
        seen: dict[str, str] = {}
        for file, target in zip(files, targets):
            if target in seen:
                raise UsageError(f"{seen[target]} and {file} would both be written to {target}")
            seen[target] = file
        form = to
    else:
        form = to or os.path.splitext(output)[1].lower().lstrip(".")
        if form not in _writers.WRITERS:
            raise UsageError(f"cannot tell the format of {output}: name it .csv, .tsv, .npz or .parquet, or give --to")
        targets = [output]
    for file, target in zip(files, targets):
        if os.path.exists(target) and os.path.exists(file) and os.path.samefile(file, target):
            raise UsageError(f"{target} is an input file: it would be overwritten")
    return targets, form


def stem(file: str) -> str:
    return os.path.splitext(os.path.basename(file))[0]


# ---- plot


def run_plot(args: argparse.Namespace) -> int:
    form = os.path.splitext(args.output)[1].lower().lstrip(".")
    if form not in _figure.FORMATS:
        raise UsageError(f"cannot tell the picture format of {args.output}: name it .png, .svg or .pdf")
    _figure.check_library()
    try:
        plot = read(args.file, args.n_digits, columns=(0, *args.names))
    except FILE_ERRORS as error:
        print(describe(args.file, error), file=sys.stderr)
        return 1
    try:
        _figure.draw(plot, args.output, overlay=args.overlay, width=args.width, height=args.height, dpi=args.dpi)
    except OSError as error:
        print(f"{PROG}: cannot write {args.output}: {error.strerror or error}", file=sys.stderr)
        return 1
    return 0


