"""How the command writes a file (convert, plot, watch --png), under one rule: it never renames
over, truncates or deletes anything it did not create. A new file or folder is made beside the
target under a temporary name and renamed into place once complete; a FIFO or a character device
is written in place; one of the command's inputs is never written."""

from __future__ import annotations

import ctypes
import errno
import io
import os
import re
import shutil
import stat
import sys
import tempfile
import time
from collections.abc import Callable, Sequence
from typing import Any, BinaryIO

STDOUT = "-"

# A writer that dies (SIGKILL, power loss) leaves its temporary file: the pid in the name tells a
# later run whether its writer is gone.
PART_PREFIX = ".quorvel-"
PART = re.compile(r"\.quorvel-([0-9]+)-[A-Za-z0-9_]+\.part")
STALE_SECONDS = 60.0


class Unwritable(ValueError):
    """A target the format cannot be written to (a FIFO for netCDF, an existing .zarr folder)."""


class IsInput(Unwritable):
    """A target that is one of the command's input files."""


def output(
    target: str,
    inputs: Sequence[str],
    fill: Callable[[BinaryIO], None] | None = None,
    *,
    fill_path: Callable[[str], None] | None = None,
    folder: bool = False,
) -> None:
    """The one way a command writes a file (convert, plot, watch --png): never over one of its
    `inputs`; then as replace_with (`fill` writes to a stream, `fill_path` a new file by its
    name), or as make_folder when `folder`."""
    if input_named(target, inputs) is not None:
        raise IsInput("it is an input file: it would be overwritten")
    if folder:
        assert fill_path is not None
        make_folder(target, fill_path)
    elif fill_path is not None:
        replace_path_with(target, fill_path)
    else:
        replace_with(target, fill)


def input_named(target: str, inputs: Sequence[str]) -> str | None:
    """The input that `target` is, its symbolic links followed (the same device and inode; for
    files that do not exist yet, the same real path), or None."""
    if target == STDOUT:
        return None
    try:
        status: os.stat_result | None = os.stat(target)
    except OSError:
        status = None
    for path in inputs:
        try:
            same = status is not None and os.path.samestat(status, os.stat(path))
        except OSError:
            same = False
        if same or status is None and os.path.realpath(target) == os.path.realpath(path):
            return path
    return None


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


def replace_with(
    target: str, fill: Callable[[BinaryIO], None] | None = None, *, fill_path: Callable[[str], None] | None = None
) -> None:
    """Lets `fill` write the output to `target`. A regular file (or none) gets a new file beside
    it, renamed over it only once complete, so a failure never leaves a partial or damaged
    output; a symbolic link is followed and the file it leads to is replaced, keeping its mode.
    A FIFO or a character device is written in place; nothing else is replaced. `fill_path`
    instead of `fill` writes the new file by its name (regular files only)."""
    if target == STDOUT:
        if StandardOutput.closed:
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))
        sys.stdout.flush()
        assert fill is not None
        fill(Stream(sys.stdout.fileno()))  # type: ignore[arg-type]
        return
    try:
        status: os.stat_result | None = os.stat(target)
    except FileNotFoundError:
        status = None
    if status is not None and not stat.S_ISREG(status.st_mode):
        assert fill is not None
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
            number = errno.EROFS if read_only(real) else errno.EACCES
            raise PermissionError(number, os.strerror(number), target)
    write_beside(real, status, fill, fill_path)


def read_only(path: str) -> bool:
    try:
        return bool(os.statvfs(path).f_flag & os.ST_RDONLY)
    except OSError:
        return False


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


def write_beside(
    real: str,
    status: os.stat_result | None,
    fill: Callable[[BinaryIO], None] | None,
    fill_path: Callable[[str], None] | None = None,
) -> None:
    folder = os.path.dirname(real) or "."
    remove_stale_parts(folder)
    try:
        handle, temporary = tempfile.mkstemp(dir=folder, prefix=f"{PART_PREFIX}{os.getpid()}-", suffix=".part")
    except OSError as error:
        raise OSError(error.errno, f"{error.strerror} (the new file is made in {folder} first)") from error
    try:
        with open(handle, "wb") as out:
            if fill is not None:
                fill(out)
        if fill_path is not None:
            fill_path(temporary)
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


def replace_path_with(target: str, fill: Callable[[str], None]) -> None:
    """As replace_with, for a library that writes a file by its path (and seeks in it): the new
    file beside the target is handed over by name. A FIFO or a device cannot take such a file."""
    try:
        status: os.stat_result | None = os.stat(target)
    except FileNotFoundError:
        status = None
    if status is not None and not stat.S_ISREG(status.st_mode):
        if stat.S_ISDIR(status.st_mode):
            raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), target)
        raise Unwritable("this format is written to a regular file, not to a FIFO or a device")

    replace_with(target, fill_path=fill)


def make_folder(target: str, fill: Callable[[str], None]) -> None:
    """Lets `fill` write a folder output into a new folder beside `target`, then gives it the
    target's name, which must not exist: an existing folder (or anything else there) is never
    replaced or merged into. On any failure the new folder is removed."""
    if os.path.lexists(target):
        raise Unwritable("it exists: a folder output never replaces anything (remove it, or choose another name)")
    folder = os.path.dirname(os.path.abspath(target))
    remove_stale_parts(folder)
    try:
        temporary = tempfile.mkdtemp(dir=folder, prefix=f"{PART_PREFIX}{os.getpid()}-", suffix=".part")
    except OSError as error:
        raise OSError(error.errno, f"{error.strerror} (the new folder is made in {folder} first)") from error
    try:
        fill(temporary)
        os.chmod(temporary, 0o777 & ~current_umask())
        rename_without_replacing(temporary, target)
    except BaseException:
        remove_new_folder(temporary)
        raise


def remove_new_folder(folder: str) -> None:
    """Removes a folder this command made; a cluster's task still finishing its chunk may write
    into it during a pass, so passes are made until it is gone (a second at most)."""
    for _ in range(10):
        shutil.rmtree(folder, ignore_errors=True)
        if not os.path.lexists(folder):
            return
        time.sleep(0.1)


RENAME_NOREPLACE = 1
AT_FDCWD = -100


def rename_without_replacing(source: str, target: str) -> None:
    """Renames `source` to `target` unless `target` exists, in one step where the system can
    (Linux's renameat2); elsewhere a check just before the rename leaves a moment in which an
    empty folder made at `target` would be replaced."""
    try:
        call = ctypes.CDLL(None, use_errno=True).renameat2
    except (AttributeError, OSError):
        call = None
    if call is not None:
        if call(AT_FDCWD, os.fsencode(source), AT_FDCWD, os.fsencode(target), RENAME_NOREPLACE) == 0:
            return
        number = ctypes.get_errno()
        if number == errno.EEXIST:
            raise Unwritable("it appeared while the output was written: a folder output never replaces anything")
        if number not in (errno.EINVAL, errno.ENOSYS):  # a file system or kernel without the flag
            raise OSError(number, os.strerror(number), target)
    if os.path.lexists(target):
        raise Unwritable("it appeared while the output was written: a folder output never replaces anything")
    os.rename(source, target)


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
            not (stat.S_ISREG(status.st_mode) or stat.S_ISDIR(status.st_mode))
            or status.st_uid != os.geteuid()
            or now - status.st_mtime < STALE_SECONDS
            or writer_alive(int(match[1]))
        ):
            continue
        try:
            if stat.S_ISDIR(status.st_mode):  # a folder output (.zarr) half made
                shutil.rmtree(entry.path)
            else:
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
