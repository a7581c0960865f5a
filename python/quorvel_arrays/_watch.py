"""The parts of `quorvel watch FILE`: the file followed on a thread of its own, what has been seen
of the chosen parameters, the CSV lines, the picture and the terminal view; `_cli` puts them
together and prints. Nothing here imports `_cli`, so that the package has no import circle."""

from __future__ import annotations

import argparse
import csv
import io
import math
import os
import queue
import select
import stat
import threading
import time
from collections.abc import Callable, Iterable
from typing import TYPE_CHECKING, Any

import numpy

from . import _figure
from ._argument_types import non_negative
from ._follow import follow_arguments, following
from ._optional import require
from ._plot import ParameterKey, Plot, Values

if TYPE_CHECKING:
    from rich.console import Console, ConsoleOptions, RenderResult
    from rich.live import Live

HELP = "follow a plot file while the simulation writes it"
DESCRIPTION = ("Follows FILE as the simulation appends blocks: on a terminal, a view of the time, "
               "the block count and, for each chosen parameter, its latest value, minimum, maximum "
               "and recent history; otherwise one CSV line per new block (a line of names first). "
               "By default the first eight parameters after the first column are chosen. Exit "
               "status 0 when --idle ends it, 1 for a defect, 130 on Ctrl-C.")
DEFAULT_CHOSEN = 8
# Rows kept for the sparklines: more than any terminal is wide.
RECENT = 1024
SPARKS = "▁▂▃▄▅▆▇█"
# How long the main thread sleeps at most (between pieces, to notice a closed pipe or a resized
# terminal), and waits for the following thread to end.
TICK = 0.5
STOP_WAIT = 1.0
# Values turned into CSV text at once (as convert does), so a large first piece needs little memory.
CSV_VALUES_PER_CHUNK = 1 << 16


def add_arguments(watch: argparse.ArgumentParser, name: Callable[[str], Any], selection_help: str,
                  positive: Callable[[str], float]) -> None:
    watch.add_argument("file", metavar="FILE")
    watch.add_argument("names", nargs="*", metavar="NAME", type=name,
                       help=f"the parameters to show ({selection_help}); default: the first "
                       f"{DEFAULT_CHOSEN} after the first column")
    watch.add_argument("--interval", type=positive, default=0.5, metavar="S",
                       help="seconds between looks at the file when the system cannot tell of a change, "
                       "and at least between two pictures (default: 0.5)")
    watch.add_argument("--idle", type=seconds, metavar="S",
                       help="end (status 0) after S seconds without the file growing (default: never)")
    watch.add_argument("--png", metavar="OUT", help="also keep a picture of the chosen parameters in OUT, "
                       "as quorvel plot draws it, rewritten at most once per interval")


seconds = non_negative("number of seconds")


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


# ---- what has been seen


class Seen:
    """The blocks seen so far of the chosen columns (the first column, then the chosen
    parameters): their count, the latest values, minimum and maximum (NaN left out), the recent
    rows and, when `keep_all`, every row for the picture."""

    def __init__(self, named: bool, keep_all: bool) -> None:
        self.named = named  # follow() selected the columns already
        self.keep_all = keep_all
        self.width = 0
        self.names: tuple[str, ...] = ()
        self.header = ""
        self.path = ""
        self.n_digits = 0
        self.blocks = 0
        self.low: Values = numpy.empty(0, numpy.float32)
        self.high: Values = numpy.empty(0, numpy.float32)
        self.recent: Values = numpy.empty((0, 0), numpy.float32)
        self.rows: list[Values] = []

    def add(self, piece: Plot) -> Values:
        """Takes a piece in; gives its rows of the chosen columns."""
        if not self.names:
            self.width = len(piece.names) if self.named else min(len(piece.names), 1 + DEFAULT_CHOSEN)
            self.names = piece.names[: self.width]
            self.header, self.path, self.n_digits = piece.header, piece.path, piece.n_digits
            self.low = numpy.full(self.width, numpy.nan, numpy.float32)
            self.high = self.low.copy()
            self.recent = numpy.empty((0, self.width), numpy.float32)
        rows = piece.values[:, : self.width]
        self.blocks += len(rows)
        with numpy.errstate(invalid="ignore"):
            self.low = numpy.fmin(self.low, numpy.fmin.reduce(rows, axis=0))
            self.high = numpy.fmax(self.high, numpy.fmax.reduce(rows, axis=0))
        self.recent = numpy.concatenate([self.recent, rows[-RECENT:]])[-RECENT:]
        if self.keep_all:
            self.rows.append(rows.copy())  # not a view: the piece's whole buffer would stay alive
        return rows

    def plot(self) -> Plot:
        """Every row seen, for the picture."""
        if len(self.rows) > 1:
            self.rows = [numpy.concatenate(self.rows)]
        return Plot(self.path, self.header, self.names, self.rows[0], self.n_digits)


# ---- standard output that is not a terminal


def csv_header(names: Iterable[str]) -> str:
    out = io.StringIO()
    csv.writer(out, lineterminator="\n").writerow(names)
    return out.getvalue()


def csv_rows(rows: Values) -> Iterable[str]:
    """The rows as CSV lines, each value the shortest text that reads back as the same float32,
    in chunks of bounded size."""
    step = max(1, CSV_VALUES_PER_CHUNK // max(1, rows.shape[1]))
    for start in range(0, len(rows), step):
        yield "".join(",".join(row) + "\n" for row in rows[start : start + step].astype(str).tolist())


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
        _figure.draw_runs([(os.path.basename(plot.path), plot)], self.target, overlay=False, width=8.0,
                          height=None, dpi=100.0, form="png", inputs=(plot.path,))
        self.drawn_at = time.monotonic()
        self.pending = False


# ---- the terminal view


def check_library() -> None:
    require("quorvel watch", "rich.live", "watch")


def sparkline(values: Values, width: int) -> str:
    """The last `width` values as bars scaled between their finite minimum and maximum: NaN is a
    space, infinities the lowest and highest bars."""
    shown = values[-width:].astype(numpy.float64) if width > 0 else values[:0].astype(numpy.float64)
    finite = numpy.isfinite(shown)
    levels = numpy.full(len(shown), len(SPARKS) // 2 - 1)
    if finite.any():
        low, high = shown[finite].min(), shown[finite].max()
        if high > low:
            with numpy.errstate(all="ignore"):
                scaled = numpy.rint((shown - low) / (high - low) * (len(SPARKS) - 1))
            levels = numpy.where(finite, scaled, 0).astype(int)
    levels = numpy.where(shown == numpy.inf, len(SPARKS) - 1, levels)
    levels = numpy.where(shown == -numpy.inf, 0, levels)
    return "".join(" " if numpy.isnan(value) else SPARKS[level] for value, level in zip(shown.tolist(), levels.tolist()))


class Sparkline:
    """A column's recent history, as wide as the room the table leaves it."""

    def __init__(self, values: Values) -> None:
        self.values = values

    def __rich_console__(self, console: Console, options: ConsoleOptions) -> RenderResult:
        from rich.text import Text

        yield Text(sparkline(self.values, options.max_width), no_wrap=True, overflow="crop")


# The narrowest history worth showing: a narrower terminal loses the maximum, then the minimum.
MIN_HISTORY = 10
NAME_WIDTH = 24


class View:
    """The view: a title line (the time, the block count, the file), then one row per chosen
    parameter with its latest value, minimum, maximum and a sparkline of its recent history
    filling the rest of the width."""

    def __init__(self, seen: Seen, shown: str, value_text: Callable[[Any], str]) -> None:
        self.seen = seen
        self.shown = shown
        self.value_text = value_text

    def number(self, value: Any) -> str:
        return "-" if numpy.isnan(value) else self.value_text(value)

    def __rich_console__(self, console: Console, options: ConsoleOptions) -> RenderResult:
        from rich import box
        from rich.table import Table
        from rich.text import Text

        seen = self.seen
        if not seen.names:
            yield Text(f"waiting for the first block of {self.shown}", no_wrap=True, overflow="ellipsis")
            return
        latest = seen.recent[-1]
        # The time and the count first: a narrow terminal crops the path.
        title = Text(no_wrap=True, overflow="ellipsis")
        title.append(f"{seen.names[0]} ")
        title.append(self.value_text(latest[0]), style="bold cyan")
        title.append(f"  {seen.blocks:,} block{'s' if seen.blocks != 1 else ''}  ")
        title.append(self.shown, style="bold")
        yield title
        chosen = range(1, len(seen.names))
        columns = {
            "parameter": [seen.names[k] for k in chosen],
            "latest": [self.value_text(latest[k]) for k in chosen],
            "minimum": [self.number(seen.low[k]) for k in chosen],
            "maximum": [self.number(seen.high[k]) for k in chosen],
        }
        widths = {heading: max(len(heading), *map(len, cells)) for heading, cells in columns.items()}
        widths["parameter"] = min(widths["parameter"], NAME_WIDTH)
        for dropped in ("maximum", "minimum"):
            # Between two columns: a space of padding on each side of the box's blank divider.
            if sum(widths.values()) + 3 * len(widths) + MIN_HISTORY <= options.max_width:
                break
            del columns[dropped], widths[dropped]
        history = max(1, options.max_width - sum(widths.values()) - 3 * len(widths))
        table = Table(box=box.SIMPLE_HEAD, pad_edge=False, show_edge=False)
        for heading, width in widths.items():
            table.add_column(heading, justify="left" if heading == "parameter" else "right", no_wrap=True,
                             overflow="ellipsis", width=width)
        table.add_column("history", no_wrap=True, width=history)
        for row, position in enumerate(chosen):
            table.add_row(*(cells[row] for cells in columns.values()), Sparkline(seen.recent[:, position]))
        yield table


class Screen:
    """The live view on the terminal standard output goes to."""

    def __init__(self, stream: Any) -> None:
        from rich.console import Console
        from rich.live import Live

        self.console: Console = Console(file=stream, force_terminal=True, highlight=False)
        self.live: Live = Live(console=self.console, auto_refresh=False, redirect_stdout=False,
                               redirect_stderr=False)
        self.size = self.console.size

    def __enter__(self) -> Screen:
        self.live.start()
        return self

    def __exit__(self, *_: object) -> None:
        self.live.stop()

    def show(self, renderable: Any, *, changed: bool) -> None:
        """Draws the view when it changed or the terminal was resized."""
        size = self.console.size
        if changed or size != self.size:
            self.size = size
            self.live.update(renderable, refresh=True)
