"""Following a plot file while the simulation writes it."""

from __future__ import annotations

from collections.abc import Iterable, Iterator
from typing import SupportsIndex

from ._following import follow_arguments, following
from ._plot_file import PlotFile
from ._plot_values import ParameterKey, PathArg, Plot

__all__ = ["follow", "follow_arguments", "following"]


def follow(
    path: PathArg,
    n_digits: SupportsIndex | None = None,
    *,
    columns: Iterable[ParameterKey] | None = None,
    interval: float = 0.5,
    idle: float | None = None,
    start: SupportsIndex = 0,
) -> Iterator[Plot]:
    """Yields what the file holds from block `start` on (negative: from the end, as `blocks=`),
    then each new run of complete blocks as the simulation appends them, as a Plot.

    A block or line still being written is read once it is complete; the file, its header and
    names may not exist yet (they are waited for). A defect in a complete block raises the
    PlotFileError a read would; so does the file shrinking or being replaced by another. `idle`
    ends the iteration after that many seconds without growth (None: never); Ctrl-C ends it with
    KeyboardInterrupt. It waits for a change of the file's folder where the system can tell (else
    it looks every `interval` seconds), and each look reads only what was appended since.
    """
    return PlotFile(path, n_digits).follow(columns=columns, interval=interval, idle=idle, start=start)
