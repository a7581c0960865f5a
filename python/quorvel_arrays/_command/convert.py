"""`quorvel convert FILE... -o OUT`: the values written in another format, a piece at a time."""

from __future__ import annotations

import argparse
import contextlib
import errno
import os
import sys
from collections.abc import Sequence
from typing import Any

from .._plot import ParameterKey
from . import formats, safe_output
from .arguments import parameter_keys, scheduler_address, worker_count
from .progress import Progress
from .cluster import Interrupted, cluster_client
from .shared import FILE_ERRORS, PROG, SELECTION_HELP, Command, UsageError, describe, input_paths, refuse_input, stem

STDOUT = safe_output.STDOUT


def add_parser(command: Command) -> None:
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
    convert.add_argument("--to", choices=formats.FORMATS, help="the format (needed when OUT is a folder)")
    convert.add_argument("--columns", type=parameter_keys, metavar="NAME,...",
                         help=f"only these parameters, in this order ({SELECTION_HELP})")
    cluster = convert.add_mutually_exclusive_group()
    cluster.add_argument("--workers", type=worker_count, metavar="N",
                         help="write .zarr with a local Dask cluster of N single-threaded worker processes, each "
                              "reading and writing its own chunks")
    cluster.add_argument("--scheduler", type=scheduler_address, metavar="ADDRESS",
                         help="write .zarr with the Dask cluster whose scheduler is at ADDRESS (its workers must "
                              "see the files and OUT at the same paths)")
    convert.set_defaults(run=run_convert)


def run_convert(args: argparse.Namespace) -> int:
    files = input_paths(args.files)
    targets, form = convert_targets(files, args.output, args.to)
    on_cluster = args.workers is not None or args.scheduler is not None
    if on_cluster and form != "zarr":
        flag = "--workers" if args.workers is not None else "--scheduler"
        raise UsageError(f"{flag} writes .zarr, not .{form}")
    formats.check_library(form)
    if is_folder(files, args.output):
        try:
            os.makedirs(args.output, exist_ok=True)
        except OSError as error:
            print(describe(args.output, error), file=sys.stderr)
            return 1
    try:
        with cluster_of(args) as client:
            return convert_all(files, targets, form, args, client)
    except OSError as error:  # the scheduler cannot be reached, or the cluster cannot start
        print(f"{PROG}: cannot use the cluster: {error.strerror or error}", file=sys.stderr)
        return 1
    except Interrupted:
        return 130


def cluster_of(args: argparse.Namespace) -> contextlib.AbstractContextManager[Any]:
    """A client of the cluster asked for, or None."""
    if args.workers is None and args.scheduler is None:
        return contextlib.nullcontext(None)
    return cluster_client(args.workers, args.scheduler)


def convert_all(files: Sequence[str], targets: Sequence[str], form: str, args: argparse.Namespace, client: Any) -> int:
    progress = Progress(len(files), sys.stderr)
    status = 0
    try:
        for file, target in zip(files, targets):
            progress.advance(file)
            problem = convert(file, target, form, args.n_digits, args.columns, files, client)
            if problem is not None:
                progress.say(problem + "\n", sys.stderr)
                status = 1
    finally:
        progress.close()
    return status


def convert(file: str, target: str, form: str, n_digits: int | None, columns: tuple[ParameterKey, ...] | None,
            inputs: Sequence[str] = (), client: Any = None) -> str | None:
    """Converts one file a piece at a time; the line that says why it failed, or None. The first
    piece is read before the target is touched, so a file that cannot be read leaves it as it was;
    a defect found later abandons the output (removed, unless written in place)."""
    try:
        source = formats.open_source(file, n_digits, columns)
    except FILE_ERRORS as error:
        return describe(file, error)
    shown = "standard output" if target == STDOUT else target
    try:
        formats.write(source, target, form, inputs or (file,), client)
    except formats.ReadFailed as failed:
        return describe(file, failed.error)
    except BrokenPipeError:
        if target == STDOUT:
            raise  # the reader went away: as for any output to a pipe
        return f"{PROG}: cannot write {shown}: {os.strerror(errno.EPIPE)}"
    except OSError as error:
        return f"{PROG}: cannot write {shown}: {error.strerror or error}"
    except (formats.TooWide, safe_output.Unwritable) as error:
        return f"{PROG}: cannot write {shown}: {error}"
    except MemoryError:
        return f"{PROG}: cannot write {shown}: not enough memory"
    finally:
        source.close()
    return None


def is_folder(files: Sequence[str], output: str) -> bool:
    """Whether OUT names a folder: several files, an existing folder, or a name ending in /."""
    if output == STDOUT:
        return False
    if len(files) == 1 and output.lower().endswith(".zarr"):
        return False  # a .zarr output is itself a folder: one that exists is refused, not filled
    return len(files) > 1 or os.path.isdir(output) or output.endswith(os.sep)


def convert_targets(files: Sequence[str], output: str, to: str | None) -> tuple[list[str], str]:
    """Each file's output path and the format, or UsageError."""
    if output == STDOUT:
        return [output], stdout_format(files, to)
    if is_folder(files, output):
        targets, form = folder_targets(files, output, to)
    else:
        form = to or os.path.splitext(output)[1].lower().lstrip(".")
        if form not in formats.FORMATS:
            raise UsageError(
                f"cannot tell the format of {output}: name it .csv, .tsv, .npz, .parquet, .nc or .zarr, or give --to")
        targets = [output]
    for target in targets:
        refuse_input(target, files)
    return targets, form


def stdout_format(files: Sequence[str], to: str | None) -> str:
    """The format of an output to standard output, or UsageError."""
    if len(files) > 1:
        raise UsageError("-o - writes one file to standard output: give one FILE")
    if to is None:
        raise UsageError("-o - is standard output: give the format with --to")
    if to in formats.PATH_WRITERS:
        raise UsageError(f"--to {to} is written to a file or a folder, not to standard output: give -o OUT")
    if to not in formats.TEXT_FORMATS and sys.stdout.isatty():
        raise UsageError(f"--to {to} is binary and standard output is a terminal: redirect it, or give -o FILE")
    return to


def folder_targets(files: Sequence[str], output: str, to: str | None) -> tuple[list[str], str]:
    """Each file's output in the folder OUT, or UsageError."""
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
    return targets, to
