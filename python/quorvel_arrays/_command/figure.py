"""The picture of `quorvel plot`: parameters against the first column, drawn with matplotlib's
Agg renderer (no display needed)."""

from __future__ import annotations

import logging
import os
import warnings
from collections.abc import Sequence
from typing import TYPE_CHECKING

from .._optional import require
from .._plot import Plot
from .safe_output import output

if TYPE_CHECKING:
    from matplotlib.figure import Figure

FORMATS = ("png", "svg", "pdf")


def check_library() -> None:
    require("quorvel plot", "matplotlib.figure", "plot")


def default_height(panels: int, overlay: bool) -> float:
    """Inches: 4.5 for one overlaid panel, else 1 + 2 per panel."""
    return 4.5 if overlay else 1.0 + 2.0 * panels


def draw(plot: Plot, target: str, *, overlay: bool, width: float, height: float | None, dpi: float) -> None:
    """Draws columns 1… of `plot` against column 0: one panel each sharing the time axis, or all
    in one panel with a legend (`overlay`). Sizes are in inches; a PNG has width × dpi by
    height × dpi pixels. `plot.path` is never written over."""
    draw_runs([(os.path.basename(plot.path), plot)], target, overlay=overlay, width=width, height=height, dpi=dpi,
              inputs=(plot.path,))


def draw_runs(
    runs: Sequence[tuple[str, Plot]],
    target: str,
    *,
    overlay: bool,
    width: float,
    height: float | None,
    dpi: float,
    form: str | None = None,
    inputs: Sequence[str] = (),
) -> None:
    """As draw(), for several runs (label, plot) whose columns match: each panel draws its
    parameter from every run, with a legend naming the runs. One run is titled with its label.
    The format is `form`, else the target's suffix; `inputs`, the files read, are never written
    over."""
    # The font cache notice of a first run goes through logging, and a name with a character the
    # font lacks or a cramped layout give warnings: the command prints only its own messages.
    logging.getLogger("matplotlib").setLevel(logging.ERROR)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        figure = build(runs, overlay=overlay, width=width, height=height, dpi=dpi)
        kind = form or os.path.splitext(target)[1].lower().lstrip(".")
        output(target, inputs, lambda out: figure.savefig(out, format=kind, dpi=dpi, metadata=METADATA[kind]))


def build(
    runs: Sequence[tuple[str, Plot]], *, overlay: bool, width: float, height: float | None, dpi: float
) -> Figure:
    from matplotlib.figure import Figure

    first = runs[0][1]
    several = len(runs) > 1
    shown = first.names[1:]
    panels = 1 if overlay else len(shown)
    if height is None:
        height = default_height(panels, overlay)
    figure = Figure(figsize=(width, height), dpi=dpi, layout="constrained")
    axes = figure.subplots(panels, 1, sharex=True, squeeze=False)[:, 0]
    for position, name in enumerate(shown, start=1):
        ax = axes[0] if overlay else axes[position - 1]
        for label, plot in runs:
            line = (f"{label}: {name}" if overlay else label) if several else name
            ax.plot(plot.time, plot.values[:, position], linewidth=1.2, label=line)
        if not overlay:
            ax.set_ylabel(name)
            if several:
                ax.legend()
        ax.grid(True, alpha=0.3)
    if overlay:
        axes[0].set_ylabel(", ".join(shown))
        axes[0].legend()
    axes[-1].set_xlabel(first.names[0])
    if not several:
        figure.suptitle(runs[0][0])
    return figure


# No creation dates or version strings: the same input gives the same file.
METADATA: dict[str, dict[str, str | None]] = {
    "png": {"Software": None},
    "svg": {"Date": None, "Creator": None},
    "pdf": {"CreationDate": None, "Creator": None, "Producer": None},
}
