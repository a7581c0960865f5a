"""The output formats of `quorvel convert`, and how an output reaches its target. Text formats
give each value as the shortest text that reads back as the same float32."""

from __future__ import annotations

import csv
import errno
import io
import json
import os
import re
import stat
import sys
import tempfile
import time
from collections.abc import Callable
from typing import Any, BinaryIO

import numpy

from ._optional import require
from ._names import unique_names
from ._plot import Plot

# Values turned into text at once: numpy's str array and the Python strings cost about 200 bytes
# a value, so this keeps a chunk near 10 MB however wide the file is.
TEXT_VALUES_PER_CHUNK = 1 << 16

# Arrow needs about 5 KB of memory per column to write a Parquet file, and readers refuse a footer
# of more than 100 MB (about 180 bytes a column) by default: 200,000 columns take 1.2 GB to write
# and read back with the readers' defaults.
PARQUET_MAX_COLUMNS = 200_000

STDOUT = "-"
TEXT_FORMATS = ("csv", "tsv")

# A writer that dies (SIGKILL, power loss) leaves its temporary file: the pid in the name tells a
# later run whether its writer is gone.
PART_PREFIX = ".quorvel-"
PART = re.compile(r"\.quorvel-([0-9]+)-[A-Za-z0-9_]+\.part")
STALE_SECONDS = 60.0


def write_text(plot: Plot, out: BinaryIO, delimiter: str) -> None:
    # Encoded here rather than through a TextIOWrapper, whose detach() would flush what it holds
    # into a FIFO that blocks even when the write is being abandoned.
    header = io.StringIO()
    csv.writer(header, delimiter=delimiter, lineterminator="\n").writerow(plot.names)
    out.write(header.getvalue().encode())
    values = plot.values
    columns = values.shape[1]
    rows = max(1, TEXT_VALUES_PER_CHUNK // max(1, columns))
    # numpy's float32 to str cast gives the shortest round-trip text, as repr does; number texts
    # never need quoting.
    for start in range(0, len(values), rows):
        chunk = values[start : start + rows]
        if columns <= TEXT_VALUES_PER_CHUNK:
            out.write("".join(delimiter.join(row) + "\n" for row in chunk.astype(str).tolist()).encode())
            continue
        for row in chunk:  # a row wider than a chunk goes out in pieces
            for first in range(0, columns, TEXT_VALUES_PER_CHUNK):
                piece = row[first : first + TEXT_VALUES_PER_CHUNK].astype(str).tolist()
                out.write(((delimiter if first else "") + delimiter.join(piece)).encode())
            out.write(b"\n")


def write_csv(plot: Plot, out: BinaryIO) -> None:
    write_text(plot, out, ",")


def write_tsv(plot: Plot, out: BinaryIO) -> None:
    write_text(plot, out, "\t")


def write_npz(plot: Plot, out: BinaryIO) -> None:
    numpy.savez(
        out,
        values=plot.values,
        names=numpy.array(plot.names, dtype=str),
        header=numpy.array(plot.header),
        n_digits=numpy.array(plot.n_digits),
    )


def write_parquet(plot: Plot, out: BinaryIO) -> None:
    import pyarrow
    import pyarrow.parquet

    columns = [pyarrow.array(numpy.ascontiguousarray(plot.values[:, j])) for j in range(len(plot.names))]
    # Parquet readers refuse repeated column names: those get their position (the file's own
    # names are kept in the metadata).
    table = pyarrow.Table.from_arrays(columns, names=unique_names(plot.names))
    table = table.replace_schema_metadata({
        "quorvel.header": plot.header,
        "quorvel.names": json.dumps(plot.names, ensure_ascii=False),
        "quorvel.n_digits": str(plot.n_digits),
    })
    pyarrow.parquet.write_table(table, out)


WRITERS: dict[str, Callable[[Plot, BinaryIO], None]] = {
    "csv": write_csv,
    "tsv": write_tsv,
    "npz": write_npz,
    "parquet": write_parquet,
}


class TooWide(ValueError):
    """A plot with more parameters than its format can hold."""


def check_library(form: str) -> None:
    """Raises MissingLibrary, which says which extra to install, when `form` needs a missing
    library."""
    if form == "parquet":
        require("converting to .parquet", "pyarrow.parquet", "parquet")


def write(plot: Plot, target: str, form: str) -> None:
    """Writes `plot` to `target` in `form` (`target` "-" is standard output)."""
    if form == "parquet" and len(plot.names) > PARQUET_MAX_COLUMNS:
        # Arrow aborts the process when it runs out of memory: refuse before it starts.
        raise TooWide(
            f"{len(plot.names):,} parameters are too many for a Parquet file (at most "
            f"{PARQUET_MAX_COLUMNS:,}): select some with --columns, or write .npz"
        )
    replace_with(target, lambda out: WRITERS[form](plot, out))


# ---- targets


class Stream(io.RawIOBase):
    """Writes to a descriptor that cannot seek (a pipe, a FIFO, a device), counting what was
    written so that writers that ask where they are (zip, Parquet) get an answer."""

    def __init__(self, fd: int) -> None:
        super().__init__()
        self.fd = fd
        self.position = 0

    def writable(self) -> bool:
        return True

    def write(self, data: Any) -> int:
        view = memoryview(data).cast("B")
        size = len(view)
        while view:
            view = view[os.write(self.fd, view) :]
        self.position += size
        return size

    def tell(self) -> int:
        return self.position

    def read(self, size: int = -1) -> bytes:  # numpy takes an object with read() for a file
        raise io.UnsupportedOperation("read")


class StandardOutput:
    """Whether standard output was closed when the command started (its descriptor then holds
    /dev/null so that no file the command opens takes its place)."""

    closed = False


def replace_with(target: str, fill: Callable[[BinaryIO], None]) -> None:
    """Lets `fill` write the output to `target`. A regular file (or none) gets a new file beside
    it, renamed over it only once complete, so a failure never leaves a partial or damaged
    output; a symbolic link is followed and the file it leads to is replaced, keeping its mode.
    A FIFO or a character device is written in place; nothing else is replaced."""
    if target == STDOUT:
        if StandardOutput.closed:
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))
        sys.stdout.flush()
        fill(Stream(sys.stdout.fileno()))  # type: ignore[arg-type]
        return
    try:
        status: os.stat_result | None = os.stat(target)
    except FileNotFoundError:
        status = None
    if status is not None and not stat.S_ISREG(status.st_mode):
        write_in_place(target, status, fill)
        return
    real = os.path.realpath(target)
    if status is not None:
        try:
            same = os.path.samestat(status, os.stat(real))
        except OSError:
            same = False
        if not same:  # /proc/self/fd/N of a deleted file, or the path changed meanwhile
            raise OSError(errno.ENOENT, "cannot find the folder of the file it leads to", target)
        if not os.access(real, os.W_OK):
            raise PermissionError(errno.EACCES, os.strerror(errno.EACCES), target)
    write_beside(real, status, fill)


def write_in_place(target: str, status: os.stat_result, fill: Callable[[BinaryIO], None]) -> None:
    kind = status.st_mode
    if stat.S_ISDIR(kind):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), target)
    if not (stat.S_ISFIFO(kind) or stat.S_ISCHR(kind)):
        # Writing a table onto a disk or a socket is never what was meant.
        raise OSError(errno.EINVAL, "not a regular file, a FIFO or a character device", target)
    # No O_TRUNC and no O_CREAT: the file stays what it is. A FIFO blocks here until it has a
    # reader; a signal still ends the wait.
    fd = os.open(target, os.O_WRONLY | os.O_NOCTTY | os.O_CLOEXEC)
    try:
        if stat.S_ISREG(os.fstat(fd).st_mode):  # it was swapped for a file since the stat
            raise OSError(errno.EAGAIN, "it changed while being opened", target)
        fill(Stream(fd))  # type: ignore[arg-type]
    finally:
        os.close(fd)


def write_beside(real: str, status: os.stat_result | None, fill: Callable[[BinaryIO], None]) -> None:
    folder = os.path.dirname(real) or "."
    remove_stale_parts(folder)
    try:
        handle, temporary = tempfile.mkstemp(dir=folder, prefix=f"{PART_PREFIX}{os.getpid()}-", suffix=".part")
    except OSError as error:
        raise OSError(error.errno, f"{error.strerror} (the new file is made in {folder} first)") from error
    try:
        with open(handle, "wb") as out:
            fill(out)
        if status is None:
            os.chmod(temporary, 0o666 & ~current_umask())
        else:
            if (status.st_uid, status.st_gid) != (os.geteuid(), os.getegid()):
                try:
                    os.chown(temporary, status.st_uid, status.st_gid)
                except OSError:
                    pass  # only root may give a file away; the new file is then ours
            os.chmod(temporary, stat.S_IMODE(status.st_mode))
        os.replace(temporary, real)
    except BaseException:
        os.unlink(temporary)
        raise


def current_umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


_cleaned: set[str] = set()


def remove_stale_parts(folder: str) -> None:
    """Removes this command's temporary files in `folder` that a writer killed without notice
    left: ours by name and owner, older than a minute, their writer's pid gone. Once per folder."""
    key = os.path.abspath(folder)
    if key in _cleaned:
        return
    _cleaned.add(key)
    now = time.time()
    try:
        entries = list(os.scandir(folder))
    except OSError:
        return
    for entry in entries:
        match = PART.fullmatch(entry.name)
        if match is None:
            continue
        try:
            status = entry.stat(follow_symlinks=False)
        except OSError:
            continue
        if (
            not stat.S_ISREG(status.st_mode)
            or status.st_uid != os.geteuid()
            or now - status.st_mtime < STALE_SECONDS
            or writer_alive(int(match[1]))
        ):
            continue
        try:
            os.unlink(entry.path)
        except OSError:
            pass  # gone already, or not ours to remove after all


def writer_alive(pid: int) -> bool:
    if pid == os.getpid():
        return True
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except (OSError, OverflowError, ValueError):
        return True  # another user's process, or a number no process has: leave it be
    return True
