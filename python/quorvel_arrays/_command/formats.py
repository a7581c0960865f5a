"""The output formats of `quorvel convert`: the input read a piece at a time, and a writer per
format. Text formats give each value as the shortest text that reads back as the same float32;
safe_output decides how the bytes reach the target."""

from __future__ import annotations

import collections
import dataclasses
import errno
import json
import os
import stat
import zipfile
from collections.abc import Callable, Iterator, Sequence
from typing import Any, BinaryIO

import numpy
import numpy.lib.format

from .._blocks import PlotInfo, iter_blocks, scan
from .._errors import PlotFileError
from .._in_child import ChildDied, run_in_child
from .._names import unique_names
from .._optional import require
from .._plot import ParameterKey, Plot, Values, read
from .._store_names import store_keys
from .zarr_store import ChunkChanged, ChunkUnwritten, write_store, write_store_on_cluster
from . import text
from .safe_output import Unwritable, output

# Arrow needs about 5 KB of memory per column to write a Parquet file, and readers refuse a footer
# of more than 100 MB (about 180 bytes a column) by default: 200,000 columns take 1.2 GB to write
# and read back with the readers' defaults.
PARQUET_MAX_COLUMNS = 200_000

# Values in one piece of a converted file (16 MB of float32): what the command holds at a time,
# whatever the file's size; a Parquet row group, a Zarr or netCDF chunk.
PIECE_VALUES = 1 << 22

TEXT_FORMATS = ("csv", "tsv")


class ReadFailed(Exception):
    """The input failed while it was being converted: the output is abandoned, and `error` says
    why as reading it would have."""

    def __init__(self, error: BaseException) -> None:
        super().__init__(str(error))
        self.error = error

    def __reduce__(self) -> tuple[Any, ...]:  # it crosses from the writing child
        return (type(self), (self.error,))


class FileChanged(ValueError):
    """The input gave another number of blocks than its scan counted a moment before."""


@dataclasses.dataclass(frozen=True, slots=True)
class Scanned:
    """A regular file's scan, the columns asked for and the file's status before it: what a
    cluster's workers need to read its pieces themselves, and to tell that it changed."""

    info: PlotInfo
    columns: tuple[ParameterKey, ...] | None
    status: os.stat_result

    def unchanged(self) -> bool:
        try:
            now = os.stat(self.info.path)
        except OSError:
            return False
        return all(getattr(now, key) == getattr(self.status, key) for key in ("st_dev", "st_ino", "st_size", "st_mtime_ns"))


class Source:
    """A plot file read a piece at a time: its first piece, read before any output is touched,
    gives the names, header and width; `blocks` is the count a scan found (None when unknown),
    and `chunk` the most blocks a piece holds."""

    def __init__(self, first: Plot, rest: Iterator[Plot], blocks: int | None, chunk: int,
                 scanned: Scanned | None = None) -> None:
        self.first = first
        self.rest = rest
        self.blocks = blocks
        self.chunk = chunk
        self.scanned = scanned

    @classmethod
    def whole(cls, plot: Plot) -> Source:
        """A plot held in memory, as one piece."""
        return cls(plot, iter(()), len(plot), max(1, len(plot)))

    @property
    def names(self) -> tuple[str, ...]:
        return self.first.names

    @property
    def store_chunk(self) -> int:
        """The blocks of a chunk of a netCDF or Zarr output: a piece, or the file when it is
        smaller (netCDF gives a whole chunk its room)."""
        return max(1, min(self.chunk, self.blocks if self.blocks is not None else self.chunk))

    def pieces(self) -> Iterator[Plot]:
        """The pieces in order, once; a failure of the input raises ReadFailed, and so does a count
        of blocks other than the scan's (the file changed meanwhile)."""
        first = self.first
        # The names stay, the values go once written: only the pieces in hand are held.
        self.first = Plot(first.path, first.header, first.names, numpy.empty((0, len(first.names)), numpy.float32),
                          first.n_digits)
        total = len(first)
        yield first
        del first
        while True:
            try:
                piece = next(self.rest)
            except StopIteration:
                break
            except (OSError, PlotFileError, MemoryError) as error:
                raise ReadFailed(error) from error
            total += len(piece)
            if self.blocks is not None and total > self.blocks:
                break
            yield piece
        if self.blocks is not None and total != self.blocks:
            raise ReadFailed(FileChanged(
                f"the file changed while it was converted: {self.blocks:,} blocks when scanned, {total:,} when read"))

    def close(self) -> None:
        close = getattr(self.rest, "close", None)
        if close is not None:
            close()


def open_source(path: str, n_digits: int | None, columns: tuple[ParameterKey, ...] | None) -> Source:
    """The file as pieces of about PIECE_VALUES values. A regular file is scanned first (its blocks
    counted at memory speed, for the size of the pieces and the shape of a .npz); a pipe cannot be
    read in ranges and is read whole."""
    try:
        status: os.stat_result | None = os.stat(path)
    except OSError:
        status = None  # the scan says why it cannot be opened
    if status is not None and not stat.S_ISREG(status.st_mode):
        return Source.whole(read(path, n_digits, columns=columns))
    info = scan(path, n_digits)
    chunk = max(1, PIECE_VALUES // max(1, len(columns) if columns is not None else len(info.names)))
    pieces = iter_blocks(path, n_digits, columns=columns, chunk=chunk)
    try:
        first = next(pieces)
    except BaseException:
        getattr(pieces, "close", lambda: None)()
        raise
    assert status is not None  # the scan opened it
    return Source(first, pieces, info.blocks, chunk, Scanned(info, columns, status))


def write_text(source: Source, out: BinaryIO, delimiter: str) -> None:
    # Encoded here rather than through a TextIOWrapper, whose detach() would flush what it holds
    # into a FIFO that blocks even when the write is being abandoned.
    out.write(text.csv_line(source.names, delimiter).encode())
    for piece in source.pieces():
        for lines in text.rows_text(piece.values, delimiter):
            out.write(lines.encode())


def write_csv(source: Source, out: BinaryIO) -> None:
    write_text(source, out, ",")


def write_tsv(source: Source, out: BinaryIO) -> None:
    write_text(source, out, "\t")


def write_npz(source: Source, out: BinaryIO) -> None:
    """What numpy.savez writes for the arrays values, names, header and n_digits, member for
    member; the values go out a piece at a time under the header the scan's count gives."""
    assert source.blocks is not None
    shape = (source.blocks, len(source.names))
    with zipfile.ZipFile(out, "w", zipfile.ZIP_STORED, allowZip64=True) as archive:
        with archive.open("values.npy", "w", force_zip64=True) as member:
            descr = numpy.lib.format.dtype_to_descr(numpy.dtype(numpy.float32))
            numpy.lib.format.write_array_header_1_0(member, {"descr": descr, "fortran_order": False, "shape": shape})
            for piece in source.pieces():
                member.write(piece.values.data)
        first = source.first
        others = {
            "names": numpy.array(first.names, dtype=str),
            "header": numpy.array(first.header),
            "n_digits": numpy.array(first.n_digits),
        }
        for name, array in others.items():
            with archive.open(name + ".npy", "w", force_zip64=True) as member:
                numpy.lib.format.write_array(member, array)


def write_parquet(source: Source, out: BinaryIO) -> None:
    """One row group per piece."""
    import pyarrow
    import pyarrow.parquet

    first = source.first  # its names; its values are let go once written
    # Parquet readers refuse repeated column names: those get their position (the file's own
    # names are kept in the metadata).
    schema = pyarrow.schema([(name, pyarrow.float32()) for name in unique_names(first.names)]).with_metadata({
        "quorvel.header": first.header,
        "quorvel.names": json.dumps(first.names, ensure_ascii=False),
        "quorvel.n_digits": str(first.n_digits),
    })
    del first
    with pyarrow.parquet.ParquetWriter(out, schema) as writer:
        for piece in source.pieces():
            if len(piece):
                write_row_group(writer, schema, piece.values)


def write_row_group(writer: Any, schema: Any, values: Values) -> None:
    """One row group; its columns are let go on return, before the next piece is read."""
    import pyarrow

    columns = [pyarrow.array(numpy.ascontiguousarray(values[:, j])) for j in range(values.shape[1])]
    writer.write_table(pyarrow.Table.from_arrays(columns, schema=schema), row_group_size=len(values))


def write_netcdf(source: Source, path: str) -> None:
    """A variable per parameter along the dimension `time`, written with the netCDF library
    itself. The dimension has the scan's count of blocks: a write along an unlimited one costs
    the library a look at every variable, and xarray adds a dataset's bookkeeping to each, so
    4,000 parameters took minutes. Contiguous storage: a piece goes straight to its place."""
    netcdf = require("converting to .nc", "netCDF4", "netcdf")
    first = source.first
    blocks = source.blocks if source.blocks is not None else len(first)
    with netcdf.Dataset(path, "w", format="NETCDF4") as handle:
        handle.set_fill_off()  # every value is written
        # netCDF takes a length of 0 for an unlimited dimension, whose variables cannot be
        # contiguous: a file of no block gets one, chunked.
        handle.createDimension("time", blocks or None)
        handle.setncatts(dataset_attributes(first))
        variables = []
        for key, attributes in store_variables(first.names):
            variable = handle.createVariable(key, "f4", ("time",), contiguous=blocks > 0)
            variable.setncatts(attributes)
            variable.set_auto_maskandscale(False)
            variables.append(variable)
        del first
        start = 0
        for piece in source.pieces():
            columns = numpy.ascontiguousarray(piece.values.T)
            for variable, column in zip(variables, columns):
                variable[start : start + len(column)] = column
            start += len(piece)


def write_zarr(source: Source, path: str) -> None:
    """An array per parameter, a chunk per piece, with the dimension names and consolidated
    metadata xarray reads."""
    require("converting to .zarr", "zarr", "zarr")
    blocks = source.blocks if source.blocks is not None else len(source.first)
    write_store(path, store_variables(source.names), dataset_attributes(source.first), blocks, source.store_chunk,
                source.pieces())


def write_zarr_on_cluster(source: Source, path: str, client: Any) -> None:
    """As write_zarr, each chunk read from the file and written by a worker; a file changed
    meanwhile (another block count, names or status) abandons the output."""
    scanned = source.scanned
    assert scanned is not None
    try:
        write_store_on_cluster(client, path, store_variables(source.names), dataset_attributes(source.first),
                               scanned.info, source.first.n_digits, scanned.columns, source.names, source.store_chunk)
    except ChunkChanged as error:
        raise ReadFailed(FileChanged(str(error))) from None
    except ChunkUnwritten:
        raise
    except (OSError, PlotFileError, MemoryError) as error:
        raise ReadFailed(error) from error
    if not scanned.unchanged():
        raise ReadFailed(FileChanged("the file changed while it was converted"))


def dataset_attributes(plot: Plot) -> dict[str, Any]:
    return {"path": plot.path, "header": plot.header, "n_digits": plot.n_digits}


def store_variables(names: tuple[str, ...]) -> list[tuple[str, dict[str, Any]]]:
    """The variables of a netCDF or Zarr output: `time` for the first column, then a key per
    parameter that the formats take, with the name and position in the attributes."""
    counts = collections.Counter(names[1:])
    variables: list[tuple[str, dict[str, Any]]] = [("time", {"parameter": names[0], "position": 0})]
    for position, key in enumerate(store_keys(names), start=1):
        name = names[position]
        attributes: dict[str, Any] = {"parameter": name, "position": position}
        if key != name:
            if counts[name] > 1:
                shared = ", ".join(str(p) for p, other in enumerate(names) if other == name and p > 0)
                attributes["comment"] = f"renamed from {name!r}, which names the parameters at positions {shared}"
            elif name == "time":
                attributes["comment"] = f"renamed from {name!r}, the name of the time coordinate"
            else:
                attributes["comment"] = f"renamed from {name!r}, which a netCDF or Zarr variable cannot be named"
        variables.append((key, attributes))
    return variables


WRITERS: dict[str, Callable[[Source, BinaryIO], None]] = {
    "csv": write_csv,
    "tsv": write_tsv,
    "npz": write_npz,
    "parquet": write_parquet,
}

# Formats whose library writes a path itself (it seeks, or makes a folder).
PATH_WRITERS: dict[str, Callable[[Source, str], None]] = {
    "nc": write_netcdf,
    "zarr": write_zarr,
}

FORMATS = sorted([*WRITERS, *PATH_WRITERS])
FOLDER_FORMATS = ("zarr",)


class TooWide(ValueError):
    """A plot with more parameters than its format can hold."""


def check_library(form: str) -> None:
    """Raises MissingLibrary, which says which extra to install, when `form` needs a missing
    library."""
    if form == "parquet":
        require("converting to .parquet", "pyarrow.parquet", "parquet")
    elif form in PATH_WRITERS:
        extra = {"nc": "netcdf", "zarr": "zarr"}[form]
        require(f"converting to .{form}", "xarray", extra)
        require(f"converting to .{form}", {"nc": "netCDF4", "zarr": "zarr"}[form], extra)


def write(source: Source, target: str, form: str, inputs: Sequence[str] = (), client: Any = None) -> None:
    """Writes `source` to `target` in `form` (`target` "-" is standard output); `inputs` are the
    files the command reads, which it never writes over. With a cluster's `client`, a .zarr
    output of a regular file is read and written by the cluster's workers."""
    if client is not None and form == "zarr" and source.scanned is not None:
        output(target, inputs, fill_path=lambda path: write_zarr_on_cluster(source, path, client), folder=True)
        return
    if form == "parquet" and len(source.names) > PARQUET_MAX_COLUMNS:
        # Arrow aborts the process when it runs out of memory: refuse before it starts.
        raise TooWide(
            f"{len(source.names):,} parameters are too many for a Parquet file (at most "
            f"{PARQUET_MAX_COLUMNS:,}): select some with --columns, or write .npz"
        )
    if form in PATH_WRITERS:
        library = {"nc": "netCDF", "zarr": "Zarr"}[form]
        output(target, inputs, fill_path=lambda path: write_in_child(library, lambda: PATH_WRITERS[form](source, path), path),
               folder=form in FOLDER_FORMATS)
    else:
        output(target, inputs, lambda out: WRITERS[form](source, out))


class LibraryFailed(OSError):
    """A format's library failed without an error number."""


def write_in_child(library: str, work: Callable[[], None], path: str) -> None:
    """`work` (a library writing `path`) in a child process that a signal or an abort ends
    without leaving anything of it running; a failure is one line."""

    def guarded() -> None:
        try:
            work()
        except (ReadFailed, OSError, MemoryError, TooWide, Unwritable):
            raise
        except Exception as error:  # noqa: BLE001 - the library's own error types
            raise LibraryFailed(0, f"the {library} library failed: {error}") from None

    try:
        run_in_child(guarded)
    except (LibraryFailed, ChildDied) as error:
        if disk_full(os.path.dirname(path) or "."):
            # The libraries say "HDF error" or abort: the cause is the file system's.
            raise OSError(errno.ENOSPC, os.strerror(errno.ENOSPC)) from None
        raise OSError(0, error.strerror) from None


def disk_full(folder: str) -> bool:
    """Whether the file system of `folder` has no room left for a piece of output."""
    try:
        room = os.statvfs(folder)
    except OSError:
        return False
    return room.f_bavail * room.f_frsize < 2 * 4 * PIECE_VALUES
