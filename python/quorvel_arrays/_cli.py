"""The `quorvel` command (also `python -m quorvel_arrays`): info, stats, convert, plot, diff and
watch.

Exit status: 0 when everything went well, 1 when a file is defective, cannot be opened or
written, lacks a parameter asked for, or a library the command needs is missing (each such file
is reported on standard error and the others are still processed), or standard output cannot be
written; 2 for a usage error; 130 on SIGINT, 143 on SIGTERM.
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import errno
import importlib.metadata
import io
import json
import math
import os
import re
import signal
import stat
import sys
import threading
import time
from collections.abc import Callable, Iterator, Sequence
from typing import Any

import numpy

from . import _diff, _figure, _watch, _writers
from ._blocks import scan
from ._compare import compare, same_input
from ._errors import PlotFileError
from ._optional import MissingLibrary
from ._plot import MAX_N_DIGITS, ParameterKey, Plot, read, read_job
from ._pool import read_in_parallel
from ._progress import Progress
from .dask import read_blocks

PROG = "quorvel"
FILE_ERRORS = (OSError, PlotFileError, KeyError, IndexError, MemoryError)
STDIN = "-"
# /dev/stdin reopens a pipe or a redirected file: the reader needs a path.
STDIN_PATH = "/dev/stdin"
# Below 10 pixels per inch a font gets no pixel at all; a side of the picture outside these
# bounds cannot be drawn (or not in memory).
MIN_DPI, MAX_DPI = 10.0, 10_000.0
MIN_SIDE, MAX_SIDE = 16, 16_384
POSITION = re.compile(r"-?[0-9]+")
SELECTION_HELP = "a whole number selects by position (0 is the first parameter, -1 the last)"


class UsageError(Exception):
    """A command line that cannot be carried out as given: exit status 2."""


class OutputError(Exception):
    """Standard output cannot be written (full, closed, an I/O error): exit status 1."""


class Terminated(BaseException):
    """SIGTERM arrived: handled like Ctrl-C, whatever is half-written is removed."""


def main(argv: Sequence[str] | None = None) -> int:
    guard_standard_streams()
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as done:
        if done.code == 0:  # --help: argparse drops a write error, the flush at exit would not
            try:
                emit("")
            except OutputError as error:
                return output_failed(error)
        raise
    previous = catch_termination()
    try:
        status: int = args.run(args)
        emit("")
        return status
    except UsageError as error:
        args.parser.error(str(error))  # exits with status 2
    except MissingLibrary as error:
        print(f"{PROG}: {error}", file=sys.stderr)
        return 1
    except OutputError as error:
        return output_failed(error)
    except MemoryError:
        print(f"{PROG}: not enough memory", file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    except Terminated:
        return 128 + signal.SIGTERM
    except BrokenPipeError:
        # Whoever read our output stopped (`quorvel info … | head`); Python would complain about
        # the unflushed rest at exit.
        drop_standard_output()
        return 1
    finally:
        if previous is not None:
            signal.signal(signal.SIGTERM, previous)
    raise AssertionError("unreachable")


def output_failed(error: OutputError) -> int:
    """Says why standard output could not be written; the exit status."""
    print(f"{PROG}: cannot write standard output: {error}", file=sys.stderr)
    drop_standard_output()
    return 1


def catch_termination() -> Any:
    """Turns SIGTERM into Terminated, unless it is ignored or handled already; a second SIGTERM
    ends the process at once (a clean-up stuck on a FIFO must not keep it alive). Gives the
    handler to put back, or None."""
    if threading.current_thread() is not threading.main_thread():
        return None
    previous = signal.getsignal(signal.SIGTERM)
    if previous != signal.SIG_DFL:
        return None

    def terminate(signum: int, frame: Any) -> None:
        signal.signal(signal.SIGTERM, signal.SIG_DFL)
        raise Terminated

    signal.signal(signal.SIGTERM, terminate)
    return previous


class ClosedStream:
    """Stands for a standard stream that was closed when the command started."""

    lost = False

    def write(self, text: str) -> int:
        if text:
            self.lost = True
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))
        return 0

    def flush(self) -> None:
        if self.lost:  # argparse drops the error of its --help: the flush reports it, once
            self.lost = False
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))

    def isatty(self) -> bool:
        return False


def guard_standard_streams() -> None:
    """A standard descriptor closed at start gets /dev/null, so that no file the command opens
    takes its number; writing to a closed stdout is still an error, to a closed stderr lost.
    (Python leaves sys.stdout or sys.stderr None when its descriptor was closed at start.)"""
    for fd in (0, 1, 2):
        try:
            os.fstat(fd)
        except OSError:
            try:
                opened = os.open(os.devnull, os.O_RDWR)
            except OSError:
                continue
            if opened != fd:
                os.close(opened)
    if sys.stdout is None:
        sys.stdout = ClosedStream()
        _writers.StandardOutput.closed = True
    if sys.stderr is None:
        sys.stderr = open(os.devnull, "w")  # noqa: SIM115 - lives as long as the process


def drop_standard_output() -> None:
    """Points standard output at /dev/null, so that what Python still holds for it goes nowhere
    instead of failing again at exit."""
    if isinstance(sys.stdout, ClosedStream):
        sys.stdout.lost = False
    try:
        os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
    except OSError:
        pass


class Output:
    """Standard output for the results; a failing write raises OutputError (a closed pipe stays
    BrokenPipeError: the reader went away, nothing to report)."""

    def write(self, text: str) -> None:
        try:
            sys.stdout.write(text)
            sys.stdout.flush()
        except BrokenPipeError:
            raise
        except OSError as error:
            raise OutputError(error.strerror or str(error)) from error

    def flush(self) -> None:
        self.write("")


STANDARD_OUTPUT = Output()


def emit(text: str) -> None:
    STANDARD_OUTPUT.write(text)


# ---- arguments


def field_width(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        value = 0
    if not 1 <= value <= MAX_N_DIGITS:
        raise argparse.ArgumentTypeError(f"must be a whole number from 1 to {MAX_N_DIGITS}, not {text!r}")
    return value


def positive_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = 0.0
    if not 0.0 < value < float("inf"):
        raise argparse.ArgumentTypeError(f"must be a number > 0, not {text!r}")
    return value


def resolution(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = 0.0
    if not MIN_DPI <= value <= MAX_DPI:
        raise argparse.ArgumentTypeError(f"must be a number from {MIN_DPI:g} to {MAX_DPI:g}, not {text!r}")
    return value


def parameter_key(text: str) -> ParameterKey:
    """A parameter name, or a position when the text is a whole number."""
    return int(text) if POSITION.fullmatch(text) else text


def parameter_keys(text: str) -> tuple[ParameterKey, ...]:
    items = [item.strip() for item in text.split(",")]
    if "" in items:
        raise argparse.ArgumentTypeError(f"empty name in {text!r}")
    return tuple(parameter_key(item) for item in items)


def labels(text: str) -> tuple[str, ...]:
    items = tuple(item.strip() for item in text.split(","))
    if "" in items:
        raise argparse.ArgumentTypeError(f"empty label in {text!r}")
    return items


def installed_version() -> str:
    """The distribution's version, from its metadata (pyproject.toml sets it); a build folder on
    sys.path has none."""
    try:
        return importlib.metadata.version("quorvel")
    except importlib.metadata.PackageNotFoundError:
        return "(not installed: run from a build folder)"


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG,
        description="Look into KAVRINE plot files, convert them, plot them, compare runs and watch a running one.",
        epilog="A FILE of - is standard input. Exit status: 0 on success, 1 when a file is "
        "defective or cannot be read or written, 2 for a usage error, 130 on SIGINT, 143 on "
        "SIGTERM.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {installed_version()}")
    commands = parser.add_subparsers(title="commands", metavar="COMMAND", required=True)

    def command(name: str, help: str, description: str) -> argparse.ArgumentParser:
        sub = commands.add_parser(name, help=help, description=description)
        sub.add_argument(
            "--n-digits", type=field_width, metavar="N",
            help="the field width in bytes (12 or 15 for KAVRINE's two versions; default: found from the file)",
        )
        sub.set_defaults(parser=sub)
        return sub

    info = command("info", "what a file holds", "For each file: parameters, blocks, field width, "
                   "the first column at the first and the last block, and the file's size. The file "
                   "is scanned, not parsed: only its first and last blocks are read.")
    info.add_argument("files", nargs="+", metavar="FILE")
    info.add_argument("--names", action="store_true", help="also list the parameter names with their positions")
    info.add_argument("--json", action="store_true", help="one JSON object per file, one per line")
    info.set_defaults(run=run_info)

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

    convert = command("convert", "write the values as .csv, .tsv, .npz, .parquet, .nc or .zarr",
                      "Writes each file's values in the format of OUT's suffix: .csv or .tsv (a "
                      "row of names, then one row per block, each value the shortest text that "
                      "reads back as the same float32), .npz (arrays values, names, header, "
                      "n_digits), .parquet (one float32 column per parameter), .nc (netCDF-4) or "
                      ".zarr (a folder, never replaced): the last two as Plot.to_xarray() gives "
                      "the dataset. The file is read and written a piece at a time. With several "
                      "files, or OUT ending in /, OUT is a folder (made if missing) and each "
                      "output keeps its file's stem. OUT - is standard output (with --to).")
    convert.add_argument("files", nargs="+", metavar="FILE")
    convert.add_argument("-o", "--output", required=True, metavar="OUT",
                         help="the output file, a folder, or - for standard output")
    convert.add_argument("--to", choices=_writers.FORMATS, help="the format (needed when OUT is a folder)")
    convert.add_argument("--columns", type=parameter_keys, metavar="NAME,...",
                         help=f"only these parameters, in this order ({SELECTION_HELP})")
    convert.set_defaults(run=run_convert)

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

    diff = command("diff", _diff.HELP, _diff.DESCRIPTION)
    _diff.add_arguments(diff, parameter_key, SELECTION_HELP)
    diff.set_defaults(run=run_diff)

    watch = command("watch", _watch.HELP, _watch.DESCRIPTION)
    _watch.add_arguments(watch, parameter_key, SELECTION_HELP, positive_float)
    watch.set_defaults(run=run_watch)
    return parser


# ---- reading and reporting


def read_in_order(
    files: Sequence[str], n_digits: int | None, columns: tuple[ParameterKey, ...] | None = None
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


def json_value(value: Any) -> float | str | None:
    """A float32 for JSON: the float of its shortest text, so that JSON shows 0.1 rather than
    0.10000000149011612; null for NaN and the strings "inf" and "-inf", which JSON has no
    numbers for."""
    number = float(value_text(value))
    if math.isnan(number):
        return None
    if math.isinf(number):
        return "inf" if number > 0 else "-inf"
    return number


def dump(payload: Any) -> str:
    return json.dumps(payload, ensure_ascii=False, allow_nan=False)


def input_paths(files: Sequence[str]) -> list[str]:
    """The paths to read: - is standard input, which can be read once."""
    if list(files).count(STDIN) > 1:
        raise UsageError("- (standard input) can be given only once")
    return [STDIN_PATH if file == STDIN else file for file in files]


def without_nan(values: Any) -> tuple[Any, int]:
    """The values that are not NaN, and how many were."""
    missing = numpy.isnan(values)
    count = int(missing.sum())
    return (values[~missing] if count else values), count


# ---- info


def run_info(args: argparse.Namespace) -> int:
    files = input_paths(args.files)
    progress = Progress(len(files), sys.stderr)
    status = 0
    try:
        for file in files:
            progress.advance(file)
            try:
                facts = info_facts(file, args.n_digits, args.names)
            except FILE_ERRORS as error:
                progress.say(describe(file, error) + "\n", sys.stderr)
                status = 1
                continue
            progress.say(dump(facts) + "\n" if args.json else info_text(facts), STANDARD_OUTPUT)
    finally:
        progress.close()
    return status


def info_facts(file: str, n_digits: int | None, names: bool) -> dict[str, Any]:
    """What `info` tells of a file. A regular file is scanned (no value parsed) and only its first
    and last blocks are read, so the time taken does not grow with more than the scan's; a pipe
    cannot be read in ranges and is read whole."""
    if stat.S_ISREG(os.stat(file).st_mode):
        scanned = scan(file, n_digits)
        header, all_names, width, blocks, size = scanned.header, scanned.names, scanned.n_digits, scanned.blocks, scanned.size
        ends: list[Plot] = []
        if blocks:
            ends.append(read_blocks(file, n_digits, None, 0, 1))
            last = blocks - 1
            ends.append(read_blocks(file, n_digits, None, last, blocks, scanned.start_before(last)))
            width = ends[0].n_digits
        start, end = (ends[0].time[0], ends[1].time[0]) if ends else (None, None)
    else:
        plot = read(file, n_digits)
        header, all_names, width, blocks, size = plot.header, plot.names, plot.n_digits, len(plot), None
        start, end = (plot.time[0], plot.time[-1]) if blocks else (None, None)
    facts: dict[str, Any] = {
        "path": file,
        "header": header,
        "parameters": len(all_names),
        "blocks": blocks,
        # A file without blocks has no value line to find the width from.
        "n_digits": width if width else None,
        "n_digits_found": n_digits is None,
        # The first column at the first and the last block: its range when it increases, as time
        # does; the minimum and maximum would need every block read.
        "first": {
            "name": all_names[0],
            "start": None if start is None else json_value(start),
            "end": None if end is None else json_value(end),
        },
        "size": size,
    }
    if names:
        facts["names"] = list(all_names)
    return facts


def info_text(facts: dict[str, Any]) -> str:
    first = facts["first"]
    if facts["blocks"]:
        # JSON has null for NaN: the text shows it.
        start, end = ("nan" if first[k] is None else value_text(first[k]) for k in ("start", "end"))
        span = f"{start} to {end}"
    else:
        span = "no blocks"
    if facts["n_digits"] is None:
        width = "unknown (no blocks)"
    else:
        width = f"{facts['n_digits']} ({'found in the file' if facts['n_digits_found'] else 'given'})"
    size = "unknown (not a regular file)" if facts["size"] is None else f"{facts['size']:,} bytes"
    lines = [
        facts["path"],
        f"  header        {facts['header']}",
        f"  parameters    {facts['parameters']}",
        f"  blocks        {facts['blocks']}",
        f"  width         {width}",
        f"  first column  {first['name']}: {span}",
        f"  size          {size}",
    ]
    if "names" in facts:
        digits = len(str(len(facts["names"]) - 1))
        lines.append("  names")
        lines.extend(f"    {position:>{digits}}  {name}" for position, name in enumerate(facts["names"]))
    return "\n".join(lines) + "\n\n"


# ---- stats


STAT_FIELDS = ("position", "name", "minimum", "maximum", "mean", "last", "nan")


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
        out = io.StringIO()
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(STAT_FIELDS)
        writer.writerows([["" if row[field] is None else text(row[field]) for field in STAT_FIELDS] for row in rows])
        emit(out.getvalue())
    else:
        emit(table(rows))
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
    files = input_paths(args.files)
    targets, form = convert_targets(files, args.output, args.to)
    _writers.check_library(form)
    if is_folder(files, args.output):
        try:
            os.makedirs(args.output, exist_ok=True)
        except OSError as error:
            print(describe(args.output, error), file=sys.stderr)
            return 1
    progress = Progress(len(files), sys.stderr)
    status = 0
    try:
        for file, target in zip(files, targets):
            progress.advance(file)
            problem = convert(file, target, form, args.n_digits, args.columns, files)
            if problem is not None:
                progress.say(problem + "\n", sys.stderr)
                status = 1
    finally:
        progress.close()
    return status


def convert(file: str, target: str, form: str, n_digits: int | None, columns: tuple[ParameterKey, ...] | None,
            inputs: Sequence[str] = ()) -> str | None:
    """Converts one file a piece at a time; the line that says why it failed, or None. The first
    piece is read before the target is touched, so a file that cannot be read leaves it as it was;
    a defect found later abandons the output (removed, unless written in place)."""
    try:
        source = _writers.open_source(file, n_digits, columns)
    except FILE_ERRORS as error:
        return describe(file, error)
    shown = "standard output" if target == _writers.STDOUT else target
    try:
        _writers.write(source, target, form, inputs or (file,))
    except _writers.ReadFailed as failed:
        return describe(file, failed.error)
    except BrokenPipeError:
        if target == _writers.STDOUT:
            raise  # the reader went away: as for any output to a pipe
        return f"{PROG}: cannot write {shown}: {os.strerror(errno.EPIPE)}"
    except OSError as error:
        return f"{PROG}: cannot write {shown}: {error.strerror or error}"
    except (_writers.TooWide, _writers.Unwritable) as error:
        return f"{PROG}: cannot write {shown}: {error}"
    except MemoryError:
        return f"{PROG}: cannot write {shown}: not enough memory"
    finally:
        source.close()
    return None


def is_folder(files: Sequence[str], output: str) -> bool:
    """Whether OUT names a folder: several files, an existing folder, or a name ending in /."""
    if output == _writers.STDOUT:
        return False
    if len(files) == 1 and output.lower().endswith(".zarr"):
        return False  # a .zarr output is itself a folder: one that exists is refused, not filled
    return len(files) > 1 or os.path.isdir(output) or output.endswith(os.sep)


def convert_targets(files: Sequence[str], output: str, to: str | None) -> tuple[list[str], str]:
    """Each file's output path and the format, or UsageError."""
    if output == _writers.STDOUT:
        if len(files) > 1:
            raise UsageError("-o - writes one file to standard output: give one FILE")
        if to is None:
            raise UsageError("-o - is standard output: give the format with --to")
        if to in _writers.PATH_WRITERS:
            raise UsageError(f"--to {to} is written to a file or a folder, not to standard output: give -o OUT")
        if to not in _writers.TEXT_FORMATS and sys.stdout.isatty():
            raise UsageError(f"--to {to} is binary and standard output is a terminal: redirect it, or give -o FILE")
        return [output], to
    if is_folder(files, output):
        if os.path.exists(output.rstrip(os.sep) or os.sep) and not os.path.isdir(output.rstrip(os.sep) or os.sep):
            raise UsageError(f"-o {output} must be a folder when converting several files"
                             if len(files) > 1 else f"-o {output} names a folder, but {output.rstrip(os.sep)} is a file")
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
        if form not in _writers.FORMATS:
            raise UsageError(
                f"cannot tell the format of {output}: name it .csv, .tsv, .npz, .parquet, .nc or .zarr, or give --to")
        targets = [output]
    for target in targets:
        refuse_input(target, files)
    return targets, form


def refuse_input(target: str, files: Sequence[str]) -> None:
    """A usage error when `target` is one of the input `files` (the write checks again)."""
    if _writers.input_named(target, files) is not None:
        raise UsageError(f"{target} is an input file: it would be overwritten")


def stem(file: str) -> str:
    return os.path.splitext(os.path.basename(file))[0]


# ---- plot


def run_plot(args: argparse.Namespace) -> int:
    form = os.path.splitext(args.output)[1].lower().lstrip(".")
    if form not in _figure.FORMATS:
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
    height = args.height if args.height is not None else _figure.default_height(panels, args.overlay)
    pixels = [round(side * args.dpi) for side in (args.width, height)]
    if not all(MIN_SIDE <= side <= MAX_SIDE for side in pixels):
        raise UsageError(f"the picture would be {pixels[0]:,}×{pixels[1]:,} pixels (width and height × dpi): "
                         f"each side must be from {MIN_SIDE} to {MAX_SIDE:,}")
    _figure.check_library()
    plots: list[Plot] = []
    if len(paths) == 1:
        try:
            plots.append(read(paths[0], args.n_digits, columns=(0, *names)))
        except FILE_ERRORS as error:
            print(describe(paths[0], error), file=sys.stderr)
            return 1
    else:
        for path, outcome in list(read_in_order(paths, args.n_digits, (0, *names))):
            if isinstance(outcome, Plot):
                plots.append(outcome)
            else:
                print(describe(path, outcome), file=sys.stderr)
        if len(plots) < len(paths):
            return 1
    runs = list(zip(args.labels or run_labels(paths), plots))
    try:
        _figure.draw_runs(runs, args.output, overlay=args.overlay, width=args.width, height=height, dpi=args.dpi,
                          inputs=paths)
    except OSError as error:
        print(f"{PROG}: cannot write {args.output}: {error.strerror or error}", file=sys.stderr)
        return 1
    except _writers.Unwritable as error:
        print(f"{PROG}: cannot write {args.output}: {error}", file=sys.stderr)
        return 1
    except MemoryError:
        print(f"{PROG}: cannot draw {args.output}: not enough memory", file=sys.stderr)
        return 1
    return 0


def run_labels(paths: Sequence[str]) -> list[str]:
    """The runs' default names: the file stems, or the paths when two stems are alike; one run
    keeps its file name, the title it always had."""
    if len(paths) == 1:
        return [os.path.basename(paths[0])]
    stems = [stem(path) for path in paths]
    return stems if len(set(stems)) == len(stems) else list(paths)


# ---- diff


def run_diff(args: argparse.Namespace) -> int:
    paths = input_paths([args.a, args.b])
    once = same_input(*paths)
    plots: list[Plot] = []
    for path, outcome in list(read_in_order(paths[:1] if once else paths, args.n_digits)):
        if isinstance(outcome, Plot):
            plots.append(outcome)
        else:
            print(describe(path, outcome), file=sys.stderr)
    if once:
        plots *= 2
    if len(plots) < 2:
        return 1
    try:
        result = compare(plots[0], plots[1], rtol=args.rtol, atol=args.atol, columns=args.names or None,
                         overlap_only=args.overlap_only)
    except (KeyError, IndexError) as error:
        print(describe(plots[0].path, error), file=sys.stderr)
        return 1
    emit(_diff.report(result, every=args.all, as_json=args.json))
    return 0 if result.ok else 1


# ---- watch


def run_watch(args: argparse.Namespace) -> int:
    if args.file == STDIN:
        raise UsageError("watch follows a file by its name: standard input (-) cannot be followed")
    if args.png is not None and _writers.input_named(args.png, [args.file]) is not None:
        raise UsageError(f"--png {args.png} is the file watched: it would be overwritten")
    terminal = sys.stdout.isatty()
    if terminal:
        _watch.check_library()
    if args.png is not None:
        _figure.check_library()
    names = tuple(args.names)
    seen = _watch.Seen(named=bool(names), keep_all=args.png is not None)
    picture = _watch.Picture(args.png, args.interval) if args.png is not None else None
    # A pipe's reader that went away is noticed between pieces too (`quorvel watch … | head`).
    pipe = not terminal and _watch.is_pipe(1)
    follower = _watch.Follower(args.file, args.n_digits, (0, *names) if names else None, args.interval, args.idle)
    screen = _watch.Screen(sys.stdout) if terminal else None
    failure = None
    with follower, screen or contextlib.nullcontext():
        while failure is None:
            now = time.monotonic()
            pending = picture.wait(now) if picture is not None else None
            try:
                pieces, ended = follower.take(_watch.TICK if pending is None else min(_watch.TICK, pending))
            except FILE_ERRORS as error:
                failure = describe(args.file, error)
                break
            if pieces:
                show_pieces(seen, pieces, terminal)
            if screen is not None:
                screen_call(lambda: screen.show(_watch.View(seen, args.file, value_text), changed=bool(pieces)))
            elif pipe and _watch.reader_gone(1):
                raise BrokenPipeError(errno.EPIPE, os.strerror(errno.EPIPE))
            if picture is not None:
                failure = draw(picture, seen, bool(pieces), ended)
            if ended and failure is None:
                return 0
    # Said once the view has stopped, below it.
    print(failure, file=sys.stderr)
    return 1


def show_pieces(seen: _watch.Seen, pieces: list[Plot], terminal: bool) -> None:
    """Takes the pieces in; off a terminal, writes their lines (the names first)."""
    for piece in pieces:
        first = not seen.names
        rows = seen.add(piece)
        if terminal:
            continue
        if first:
            emit(_watch.csv_header(seen.names))
        for lines in _watch.csv_rows(rows):
            emit(lines)


def screen_call[T](call: Callable[[], T]) -> T:
    try:
        return call()
    except BrokenPipeError:
        raise
    except OSError as error:
        raise OutputError(error.strerror or str(error)) from error


def draw(picture: _watch.Picture, seen: _watch.Seen, changed: bool, ended: bool) -> str | None:
    """Draws the picture when it is due; why it cannot be, or None."""
    if changed:
        if len(seen.names) < 2:
            return f"{PROG}: {seen.path}: no parameter besides the first to draw in {picture.target}"
        picture.pending = True
    try:
        picture.draw(seen, time.monotonic(), last=ended)
    except OSError as error:
        return f"{PROG}: cannot write {picture.target}: {error.strerror or error}"
    except MemoryError:
        return f"{PROG}: cannot draw {picture.target}: not enough memory"
    return None
