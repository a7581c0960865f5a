"""`quorvel watch FILE`: the file followed on a thread of its own while the main thread shows
what came (CSV lines, or the terminal view of watch_view) and keeps the picture."""

from __future__ import annotations

import argparse
import contextlib
import errno
import math
import os
import queue
import select
import stat
import sys
import threading
import time
from collections.abc import Iterable

from .._follow import follow_arguments, following
from .._plot import ParameterKey, Plot
from . import figure, safe_output, watch_view
from .arguments import non_negative, parameter_key, positive_float
from .shared import FILE_ERRORS, PROG, SELECTION_HELP, STDIN, Command, UsageError, describe
from .streams import emit, screen_call
from .text import csv_line, rows_text, value_text
from .watch_view import DEFAULT_CHOSEN, Seen

HELP = "follow a plot file while the simulation writes it"
DESCRIPTION = ("Follows FILE as the simulation appends blocks: on a terminal, a view of the time, "
               "the block count and, for each chosen parameter, its latest value, minimum, maximum "
               "and recent history; otherwise one CSV line per new block (a line of names first). "
               "By default the first eight parameters after the first column are chosen. Exit "
               "status 0 when --idle ends it, 1 for a defect, 130 on Ctrl-C.")
# How long the main thread sleeps at most (between pieces, to notice a closed pipe or a resized
# terminal), and waits for the following thread to end.
TICK = 0.5
STOP_WAIT = 1.0
seconds = non_negative("number of seconds")


def add_parser(command: Command) -> None:
    watch = command("watch", HELP, DESCRIPTION)
    watch.add_argument("file", metavar="FILE")
    watch.add_argument("names", nargs="*", metavar="NAME", type=parameter_key,
                       help=f"the parameters to show ({SELECTION_HELP}); default: the first "
                       f"{DEFAULT_CHOSEN} after the first column")
    watch.add_argument("--interval", type=positive_float, default=0.5, metavar="S",
                       help="seconds between looks at the file when the system cannot tell of a change, "
                       "and at least between two pictures (default: 0.5)")
    watch.add_argument("--idle", type=seconds, metavar="S",
                       help="end (status 0) after S seconds without the file growing (default: never)")
    watch.add_argument("--png", metavar="OUT", help="also keep a picture of the chosen parameters in OUT, "
                       "as quorvel plot draws it, rewritten at most once per interval")
    watch.set_defaults(run=run_watch)


def run_watch(args: argparse.Namespace) -> int:
    if args.file == STDIN:
        raise UsageError("watch follows a file by its name: standard input (-) cannot be followed")
    if args.png is not None and safe_output.input_named(args.png, [args.file]) is not None:
        raise UsageError(f"--png {args.png} is the file watched: it would be overwritten")
    terminal = sys.stdout.isatty()
    if terminal:
        watch_view.check_library()
    if args.png is not None:
        figure.check_library()
    names = tuple(args.names)
    seen = Seen(named=bool(names), keep_all=args.png is not None)
    picture = Picture(args.png, args.interval) if args.png is not None else None
    # A pipe's reader that went away is noticed between pieces too (`quorvel watch … | head`).
    pipe = not terminal and is_pipe(1)
    follower = Follower(args.file, args.n_digits, (0, *names) if names else None, args.interval, args.idle)
    screen = watch_view.Screen(sys.stdout) if terminal else None
    failure = None
    with follower, screen or contextlib.nullcontext():
        while failure is None:
            now = time.monotonic()
            pending = picture.wait(now) if picture is not None else None
            try:
                pieces, ended = follower.take(TICK if pending is None else min(TICK, pending))
            except FILE_ERRORS as error:
                failure = describe(args.file, error)
                break
            if pieces:
                show_pieces(seen, pieces, terminal)
            if screen is not None:
                screen_call(lambda: screen.show(watch_view.View(seen, args.file, value_text), changed=bool(pieces)))
            elif pipe and reader_gone(1):
                raise BrokenPipeError(errno.EPIPE, os.strerror(errno.EPIPE))
            if picture is not None:
                failure = draw(picture, seen, bool(pieces), ended)
            if ended and failure is None:
                return 0
    # Said once the view has stopped, below it.
    print(failure, file=sys.stderr)
    return 1


def show_pieces(seen: Seen, pieces: list[Plot], terminal: bool) -> None:
    """Takes the pieces in; off a terminal, writes their lines (the names first)."""
    for piece in pieces:
        first = not seen.names
        rows = seen.add(piece)
        if terminal:
            continue
        if first:
            emit(csv_line(seen.names))
        for lines in rows_text(rows):
            emit(lines)


def draw(picture: Picture, seen: Seen, changed: bool, ended: bool) -> str | None:
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


# ---- following on a thread

type Event = tuple[str, Plot | BaseException | None]


class Follower:
    """Follows the file on a thread, so that the main thread stays free to draw, notice a closed
    output and take signals; its pieces, its end or its error come through `take`."""

    def __init__(self, path: str, n_digits: int | None, columns: tuple[ParameterKey, ...] | None,
                 interval: float, idle: float | None) -> None:
        self.stop = threading.Event()
        self.events: queue.SimpleQueue[Event] = queue.SimpleQueue()
        pieces = following(*follow_arguments(path, n_digits, columns, interval, idle, 0), stop=self.stop)
        self.thread = threading.Thread(target=self.run, args=(pieces,), name="quorvel-watch", daemon=True)

    def run(self, pieces: Iterable[Plot]) -> None:
        try:
            for piece in pieces:
                self.events.put(("piece", piece))
            self.events.put(("end", None))
        except BaseException as error:  # noqa: BLE001 - handed to the main thread, which reports it
            self.events.put(("error", error))

    def __enter__(self) -> Follower:
        self.thread.start()
        return self

    def __exit__(self, *_: object) -> None:
        self.stop.set()
        # It ends at its next look, which a long --interval or a stuck file system may put off:
        # a daemon, it does not keep the process alive meanwhile.
        self.thread.join(timeout=STOP_WAIT)

    def take(self, timeout: float) -> tuple[list[Plot], bool]:
        """The pieces that came within `timeout` seconds (all that are waiting, once one came),
        and whether the follow ended; raises the follow's error."""
        try:
            events = [self.events.get(timeout=timeout)]
        except queue.Empty:
            return [], False
        while True:
            try:
                events.append(self.events.get_nowait())
            except queue.Empty:
                break
        pieces: list[Plot] = []
        for kind, item in events:
            if kind == "error":
                assert isinstance(item, BaseException)
                raise item
            if kind == "end":
                return pieces, True
            assert isinstance(item, Plot)
            pieces.append(item)
        return pieces, False


def reader_gone(fd: int) -> bool:
    """Whether the reading end of the pipe or socket `fd` writes to is closed."""
    poller = select.poll()
    poller.register(fd, 0)  # no event asked for: an error or a hang-up is always told
    return any(revents & (select.POLLERR | select.POLLHUP) for _, revents in poller.poll(0))


def is_pipe(fd: int) -> bool:
    try:
        mode = os.fstat(fd).st_mode
    except OSError:
        return False
    return stat.S_ISFIFO(mode) or stat.S_ISSOCK(mode)


# ---- the picture


class Picture:
    """OUT, redrawn from what has been seen at most once per `interval` seconds."""

    def __init__(self, target: str, interval: float) -> None:
        self.target = target
        self.interval = interval
        self.drawn_at = -math.inf
        self.pending = False

    def wait(self, now: float) -> float | None:
        """Seconds until a pending picture may be drawn, or None."""
        return max(0.0, self.drawn_at + self.interval - now) if self.pending else None

    def draw(self, seen: Seen, now: float, *, last: bool = False) -> None:
        """Draws when a change is pending and the interval has passed (or this is the `last`)."""
        if not self.pending or (not last and now - self.drawn_at < self.interval):
            return
        plot = seen.plot()
        figure.draw_runs([(os.path.basename(plot.path), plot)], self.target, overlay=False, width=8.0,
                          height=None, dpi=100.0, form="png", inputs=(plot.path,))
        self.drawn_at = time.monotonic()
        self.pending = False
