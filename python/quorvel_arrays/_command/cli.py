"""The `quorvel` command (also `python -m quorvel_arrays`): info, stats, convert, plot, diff and
watch, each a module of its own with its parser and its run.

Exit status: 0 when everything went well, 1 when a file is defective, cannot be opened or
written, lacks a parameter asked for, or a library the command needs is missing (each such file
is reported on standard error and the others are still processed), or standard output cannot be
written; 2 for a usage error; 130 on SIGINT, 143 on SIGTERM.
"""

from __future__ import annotations

import argparse
import importlib.metadata
import signal
import sys
import threading
from collections.abc import Sequence
from typing import Any

from .._optional import MissingLibrary
from . import convert, diff, info, plot, stats, watch
from .arguments import field_width
from .shared import PROG, UsageError
from .streams import OutputError, drop_standard_output, emit, guard_standard_streams, output_failed

SUB_COMMANDS = (info, stats, convert, plot, diff, watch)


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
        return run(args)
    finally:
        if previous is not None:
            signal.signal(signal.SIGTERM, previous)


def run(args: argparse.Namespace) -> int:
    """Runs the sub-command; its exit status, or the one its failure calls for."""
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
    raise AssertionError("unreachable")


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


def installed_version() -> str:
    """The distribution's version, from its metadata (pyproject.toml sets it); a build folder on
    sys.path has none."""
    try:
        return importlib.metadata.version("quorvel")
    except importlib.metadata.PackageNotFoundError:
        return "(not installed: run from a build folder)"


def build_parser() -> argparse.ArgumentParser:
    """The command's parser: each sub-command adds its own."""
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

    for module in SUB_COMMANDS:
        module.add_parser(command)
    return parser
