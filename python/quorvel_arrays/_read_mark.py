"""What a follow, or a read in pieces, keeps of the file it has read so far: which file it is and
the bytes of its start and of the end of the last block read. Each later look checks them, so a
file that only grew is told from one cut, replaced by another, or rewritten in place by a new run
(which, written faster than it is read, need never look smaller)."""

from __future__ import annotations

import contextlib
import errno
import os
import stat
from collections.abc import Iterator
from typing import NoReturn

from . import _reader
from ._errors import PlotFileError
from ._plot_values import PathArg
from ._read_call import BlockStart

# Bytes kept of the file's start (the header and the names, most often whole) and of what precedes
# the place reached (the end of the last block read): enough to tell two runs apart.
KEPT = 64 * 1024
# Enough of the start to tell a compressed file by.
MAGIC = 6
# Opening a FIFO for reading blocks until a writer comes: a non-blocking open lets it be refused.
OPEN_FLAGS = os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_BINARY", 0) | getattr(os, "O_CLOEXEC", 0)


@contextlib.contextmanager
def opened(path: PathArg, shown: str, doing: str) -> Iterator[int]:
    try:
        fd = os.open(path, OPEN_FLAGS)
    except OSError as error:
        # A socket cannot be opened at all (ENXIO): say what it is, as for a FIFO or a device.
        if error.errno == errno.ENXIO and stat.S_ISSOCK(mode := os.stat(path).st_mode):
            raise refused(mode, shown, doing) from None
        raise
    try:
        yield fd
    finally:
        os.close(fd)


def read_at(fd: int, size: int, offset: int) -> bytes:
    """Up to `size` bytes at `offset` (fewer at the end of the file)."""
    os.lseek(fd, offset, os.SEEK_SET)
    parts: list[bytes] = []
    while size > 0:
        got = os.read(fd, size)
        if not got:
            break
        parts.append(got)
        size -= len(got)
    return b"".join(parts)


# `doing` completes "while it was …"; the refusal needs the participle ("cannot be opened").
PARTICIPLES = {"open": "opened"}


def refused(mode: int, shown: str, doing: str) -> OSError:
    # Nothing to seek back to: the file would be read as a stream, or block in its open.
    return OSError(errno.ESPIPE, f"{kind_of(mode)} cannot be {PARTICIPLES.get(doing, doing)}: only a regular file can",
                   shown)


def kind_of(mode: int) -> str:
    if stat.S_ISFIFO(mode):
        return "a FIFO"
    if stat.S_ISSOCK(mode):
        return "a socket"
    return "a device"


class ReadMark:
    """The place reached in the file at `path` and what was read before it; `doing` completes
    "while it was …" in the errors."""

    def __init__(self, path: PathArg, shown: str, doing: str) -> None:
        self.path = path
        self.shown = shown
        self.doing = doing
        self.identity: tuple[int, int] | None = None
        self.reached: BlockStart | None = None
        self.head = b""
        self.tail = b""
        # The largest size seen: a file cut back to the place reached, a block boundary, would
        # otherwise look like one that just ended there.
        self.largest = 0
        # A compressed file's offsets are in its text, not in the file: only its identity is kept.
        self.compressed = False

    @property
    def offset(self) -> int:
        return self.reached[1] if self.reached is not None else 0

    def line(self) -> int:
        """The first line not read yet (1 before anything was read)."""
        return self.reached[2] + 1 if self.reached is not None and len(self.reached) == 3 else 1

    def error(self, reason: str) -> PlotFileError:
        return PlotFileError(reason, self.shown, self.line())

    def removed(self) -> PlotFileError:
        return self.error(f"the file was removed while it was {self.doing}")

    def look(self) -> int | None:
        """The file's size once it is found to be the file read so far, not cut and unchanged in
        what was read; None when there is no file yet."""
        try:
            with opened(self.path, self.shown, self.doing) as fd:
                return self.check(fd)
        except FileNotFoundError:
            if self.identity is not None:
                raise self.removed() from None
            return None

    def check(self, fd: int) -> int:
        status = os.fstat(fd)
        if stat.S_ISDIR(status.st_mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), self.shown)
        if not stat.S_ISREG(status.st_mode):
            raise refused(status.st_mode, self.shown, self.doing)
        identity = (status.st_dev, status.st_ino)
        if self.identity is not None and identity != self.identity:
            raise self.error(f"the file was replaced by another while it was {self.doing}")
        self.identity = identity
        self.compressed = _reader.compression(read_at(fd, MAGIC, 0)) is not None
        if self.compressed:
            return status.st_size
        if status.st_size < self.offset:
            self.shrank(status.st_size, self.reached)
        if status.st_size < self.largest:
            raise self.error(f"the file shrank to {status.st_size:,} bytes while it was {self.doing}: it held "
                             f"{self.largest:,}")
        self.largest = status.st_size
        if read_at(fd, len(self.head), 0) != self.head or read_at(fd, len(self.tail), self.offset - len(self.tail)) != self.tail:
            assert self.reached is not None
            raise self.error(f"the file was rewritten while it was {self.doing}: its bytes before block "
                             f"{self.reached[0] + 1} are not those read")
        return status.st_size

    def shrank(self, size: int, reached: BlockStart | None) -> NoReturn:
        assert reached is not None
        self.reached = reached
        raise self.error(f"the file shrank to {size:,} bytes while it was {self.doing}: block {reached[0] + 1} "
                         f"was to start at byte {reached[1]:,}")

    def advance(self, reached: BlockStart) -> None:
        """Moves the mark to `reached` after a read, once what was read before is found unchanged
        (so that the read did not take in a rewrite that began meanwhile)."""
        offset = reached[1]
        try:
            with opened(self.path, self.shown, self.doing) as fd:
                # Taken before the check: a change after it is found at the next look.
                head = read_at(fd, min(KEPT, offset), 0)
                tail = read_at(fd, min(KEPT, offset), max(offset - KEPT, 0))
                size = self.check(fd)
        except FileNotFoundError:
            raise self.removed() from None
        if self.compressed:
            self.reached = reached
            return
        if size < offset:
            self.shrank(size, reached)
        if len(head) < min(KEPT, offset) or len(tail) < min(KEPT, offset):
            self.reached = reached
            raise self.error(f"the file was rewritten while it was {self.doing}: it was cut and grew again")
        self.reached, self.head, self.tail = reached, head, tail
