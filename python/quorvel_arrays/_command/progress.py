"""A one-line progress bar on standard error, drawn only when it is a terminal."""

from __future__ import annotations

import shutil
from typing import Protocol, TextIO


class Stream(Protocol):
    def write(self, text: str, /) -> object: ...

    def flush(self) -> None: ...


class Progress:
    """Counts finished items out of `total` on `stream`; `say` prints a line above the bar. Does
    nothing for a single item or when `stream` is not a terminal."""

    def __init__(self, total: int, stream: TextIO) -> None:
        self.total = total
        self.stream = stream
        self.done = 0
        self.label = ""
        self.enabled = total > 1 and stream.isatty()

    def _draw(self) -> None:
        columns = max(20, shutil.get_terminal_size().columns)
        count = f"{self.done}/{self.total}"
        width = max(10, min(40, columns // 3))
        filled = width * self.done // self.total
        line = f"{count} [{'#' * filled}{'.' * (width - filled)}] {self.label}"
        self.stream.write("\r" + line[: columns - 1] + "\x1b[K")
        self.stream.flush()

    def _clear(self) -> None:
        self.stream.write("\r\x1b[K")

    def advance(self, label: str) -> None:
        """One more item finished; `label` names the next one (or the last one)."""
        self.done += 1
        self.label = label
        if self.enabled:
            self._draw()

    def say(self, text: str, stream: Stream) -> None:
        """Writes `text` (a whole line, with its line end) to `stream` without breaking the bar."""
        if self.enabled:
            self._clear()
            self.stream.flush()
        stream.write(text)
        stream.flush()
        if self.enabled and self.done:
            self._draw()

    def close(self) -> None:
        if self.enabled and self.done:
            self._clear()
            self.stream.flush()
