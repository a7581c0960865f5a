"""The xarray engine `quorvel`: a plot file opened as a lazy Dataset over its PlotFile handle.

    ds = xarray.open_dataset("run42.plt", engine="quorvel")
    ds.TEMP[-50:].values   # the last 50 blocks of one column, a ranged read

Opening scans the file (its block index, header and names) and reads the first column, which
xarray needs at once as the time index; every other variable is read when indexed, only the blocks
and the column asked for.
"""

from __future__ import annotations

import bz2
import codecs
import lzma
import os
import stat
import zlib
from collections.abc import Iterable
from typing import Any, SupportsIndex

import numpy
import xarray
from xarray.backends import BackendArray, BackendEntrypoint
from xarray.core import indexing

from . import _reader
from ._plot_file import PlotFile
from ._xarray import dataset_of, variable_names

# The decoding keywords xarray hands every engine (open_mfdataset too): a plot file holds float32
# values without encoding attributes, so they have nothing to decode and change nothing.
DECODERS = ("mask_and_scale", "decode_times", "concat_characters", "decode_coords", "use_cftime", "decode_timedelta")

# Enough of a file's start for its first lines; a header line longer than this is not guessed.
LOOKED_AT = 4096
# Of a compressed file, at most this much is read to decode those first lines (bzip2 gives nothing
# before its first block of up to 900 kB ends).
LOOKED_AT_PACKED = 1 << 20
# Members, streams or frames without text decoded before the guess gives up.
MOST_EMPTY_MEMBERS = 64
NOT_SPACE = dict.fromkeys(range(0x1C, 0x20), "x")


class PlotColumn(BackendArray):
    """One column of a plot file; pickles as its handle does (path, width, block index)."""

    def __init__(self, handle: PlotFile, position: int, blocks: int) -> None:
        self.handle = handle
        self.position = position
        self.shape = (blocks,)
        self.dtype = numpy.dtype(numpy.float32)

    def __getitem__(self, key: indexing.ExplicitIndexer) -> Any:
        return indexing.explicit_indexing_adapter(key, self.shape, indexing.IndexingSupport.OUTER, self._read)

    def _read(self, key: tuple[Any, ...]) -> numpy.ndarray[Any, numpy.dtype[numpy.float32]]:
        """The values at an int, a slice or an array of ints: one ranged read of the blocks from
        the first asked for to the last."""
        (chosen,) = key
        total = self.shape[0]
        if isinstance(chosen, slice):
            wanted = numpy.arange(*chosen.indices(total))
        else:
            wanted = numpy.asarray(chosen, dtype=numpy.int64)
            if ((wanted < -total) | (wanted >= total)).any():
                raise IndexError(f"block index out of range for the {total} blocks of {self.handle.path}")
            wanted = wanted % max(total, 1)
        if wanted.size == 0:
            return numpy.empty(wanted.shape, numpy.float32)
        low, high = int(wanted.min()), int(wanted.max()) + 1
        column = self.handle._range((self.position,), low, high).values[:, 0]
        return column[wanted - low]


class PlotBackend(BackendEntrypoint):
    """Opens KAVRINE plot files lazily: `n_digits` is the field width (found from the file when
    None)."""

    open_dataset_parameters = ("filename_or_obj", "drop_variables", "n_digits", *DECODERS)
    description = "KAVRINE plot files, read lazily through their block index (quorvel_arrays)"
    url = "docs/api.md, The xarray engine"

    def open_dataset(  # type: ignore[override]
        self,
        filename_or_obj: str | os.PathLike[Any],
        *,
        drop_variables: str | Iterable[str] | None = None,
        n_digits: SupportsIndex | None = None,
        mask_and_scale: object = None,
        decode_times: object = None,
        concat_characters: object = None,
        decode_coords: object = None,
        use_cftime: object = None,
        decode_timedelta: object = None,
    ) -> xarray.Dataset:
        dropped = dropped_names(drop_variables)
        handle = PlotFile(filename_or_obj, n_digits)
        try:
            # The index coordinate is loaded by xarray at once: kept by the scan as it counts.
            time = None if "time" in dropped else handle._first_column()
            names, blocks = handle.names, len(handle) if time is None else len(time)
            columns = {
                key: xarray.Variable(("time",), indexing.LazilyIndexedArray(PlotColumn(handle, position, blocks)), attrs)
                for position, key, attrs in variable_names(names)
                if key not in dropped
            }
            # A file without a value line has no width (None); a whole read says 0.
            dataset = dataset_of(xarray, names, time, columns, path=handle.path, header=handle.header,
                                 n_digits=handle.n_digits or 0)
        except BaseException:
            handle.close()
            raise
        dataset.set_close(handle.close)
        return dataset

    def guess_can_open(self, filename_or_obj: Any) -> bool:
        return looks_like_a_plot_file(filename_or_obj)


def dropped_names(drop_variables: object) -> set[Any]:
    """The names of `drop_variables`: one name, an iterable of them, or None."""
    if drop_variables is None:
        return set()
    if isinstance(drop_variables, str):
        return {drop_variables}
    if isinstance(drop_variables, Iterable) and not isinstance(drop_variables, (bytes, bytearray)):
        return set(drop_variables)
    raise TypeError(f"drop_variables must be a name, an iterable of names or None, not {type(drop_variables).__name__}")


def new_decompressor(format: str) -> Any:
    if format == "gzip":
        return zlib.decompressobj(16 + zlib.MAX_WBITS)
    if format == "bzip2":
        return bz2.BZ2Decompressor()
    if format == "xz":
        return lzma.LZMADecompressor()
    from compression import zstd  # Python 3.14 on; an ImportError is not claimed

    return zstd.ZstdDecompressor()


def unpacked_start(fd: int, format: str, packed: bytes) -> bytes:
    """The first LOOKED_AT bytes (or fewer) of a compressed file's text, from its first bytes on,
    reading no more than LOOKED_AT_PACKED of it. Members, streams or frames one after another are
    one text, as a read decodes them. Raises what the decompressor raises."""
    decompressor = new_decompressor(format)
    text, read, begun, empty = b"", len(packed), 0, 0
    while True:
        text += decompressor.decompress(packed, LOOKED_AT - len(text))
        if len(text) >= LOOKED_AT or read >= LOOKED_AT_PACKED:
            return text
        if decompressor.eof:
            # Members that hold no text cost a decompressor each, and are not what a writer makes.
            empty, begun = empty + (len(text) == begun), len(text)
            if empty > MOST_EMPTY_MEMBERS:
                return text
            # The next member, stream or frame (xz streams may have zero bytes between them).
            packed = decompressor.unused_data.lstrip(b"\0") if format == "xz" else decompressor.unused_data
            decompressor = new_decompressor(format)
            if packed:
                continue
        else:
            # Input held back at the length asked stays in the decompressor, except zlib's, handed back.
            packed = getattr(decompressor, "unconsumed_tail", b"")
        more = os.read(fd, 1 << 16)
        read += len(more)
        packed += more
        if not packed:
            return text


def looks_like_a_plot_file(path: Any) -> bool:
    """Whether the file's first line is a header (its last token a parameter count) followed by a
    line (the first name, which may be blank): only a regular file's first bytes are read (decoded first when they are compressed), and
    nothing raises."""
    if not isinstance(path, (str, bytes, os.PathLike)):
        return False
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | getattr(os, "O_CLOEXEC", 0))
    except (OSError, ValueError, TypeError):
        return False
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            return False
        start = os.read(fd, LOOKED_AT)
        format = _reader.compression(start)
        if format is not None:
            start = unpacked_start(fd, format, start)
    except Exception:  # a guess never raises: whatever fails to read or decode is not claimed
        return False
    finally:
        os.close(fd)
    lines = start.split(b"\n")[:3]
    if len(lines) < 2 or not (lines[1] or len(lines) > 2):  # no name line after the header
        return False
    try:
        header = lines[0].rstrip(b"\r").decode()
        # The second line may be cut inside a character where the bytes looked at end.
        codecs.getincrementaldecoder("utf-8")().decode(lines[1], final=len(lines) > 2)
    except UnicodeDecodeError:
        return False
    # The separators U+001C..U+001F split a str but are not whitespace to the reader; a name may be blank.
    tokens = header.translate(NOT_SPACE).split()
    # The count as the reader takes it: a '+' or none, then ASCII digits, 1 to 2**64 - 1.
    count = tokens[-1].removeprefix("+") if tokens else ""
    return count.isascii() and count.isdigit() and 0 < int(count) < 1 << 64
