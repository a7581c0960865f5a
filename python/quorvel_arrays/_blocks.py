"""What a plot file holds without reading its values, and its blocks a piece at a time."""

from __future__ import annotations

from collections.abc import Iterable, Iterator
from typing import SupportsIndex

from ._pieces import PlotInfo
from ._plot_file import PlotFile
from ._plot_values import ParameterKey, PathArg, Plot

__all__ = ["PlotInfo", "iter_blocks", "scan"]


def scan(path: PathArg, n_digits: SupportsIndex | None = None, *, threads: SupportsIndex | None = 1) -> PlotInfo:
    """Reads the header and the names, and counts the blocks by their lines, at memory speed.

    No value is parsed, so a bad field is not found: `read` finds it. `n_digits` is found from
    the first value line as `read` finds it. `threads` counts a large file in parts at once (None:
    one per CPU). Raises the OSError open() would, and PlotFileError for a defect of the header,
    the names, the line the width is found from, or a block the file ends inside.
    """
    return PlotFile(path, n_digits).scan(threads=threads)


def iter_blocks(
    path: PathArg,
    n_digits: SupportsIndex | None = None,
    *,
    columns: Iterable[ParameterKey] | None = None,
    chunk: SupportsIndex = 65536,
) -> Iterator[Plot]:
    """The file's blocks as Plots of at most `chunk` blocks each, in order, each a ranged read that
    counts on from where the one before ended: the memory held is bounded by the chunk, whatever
    the file's size. There is always a first piece (empty when the file has no block). A defect
    raises the exception a whole read raises, once the complete pieces before it were yielded.
    """
    return PlotFile(path, n_digits).iter_blocks(columns=columns, chunk=chunk)
