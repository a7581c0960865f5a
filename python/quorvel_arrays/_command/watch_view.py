"""What `quorvel watch` has seen of the chosen parameters, and the terminal view of it."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any
from collections.abc import Callable

import numpy

from .._optional import require
from .._plot import Plot, Values

if TYPE_CHECKING:
    from rich.console import Console, ConsoleOptions, RenderResult
    from rich.live import Live

DEFAULT_CHOSEN = 8
# Rows kept for the sparklines: more than any terminal is wide.
RECENT = 1024
SPARKS = "▁▂▃▄▅▆▇█"


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
