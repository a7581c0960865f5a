"""A Zarr (format 3) store written file by file: an array per parameter along `time`, chunks
compressed with zstd, the arrays' metadata consolidated into the group's, as xarray reads it.

The zarr library costs about a millisecond to create an array and another to write each chunk;
a file of 4,000 parameters took seconds for a few megabytes. The store is plain files and JSON,
so it is written here directly, and zarr (its codecs library) only compresses."""

from __future__ import annotations

import dataclasses
import json
import os
from collections.abc import Iterable
from typing import Any

import numpy

from .._blocks import PlotInfo
from .._plot import BlockStart, ParameterKey, Plot, read_range, read_whole

METADATA = "zarr.json"


def array_metadata(blocks: int, chunk: int, attributes: dict[str, Any]) -> dict[str, Any]:
    return {
        "shape": [blocks],
        "data_type": "float32",
        "chunk_grid": {"name": "regular", "configuration": {"chunk_shape": [chunk]}},
        "chunk_key_encoding": {"name": "default", "configuration": {"separator": "/"}},
        "fill_value": "NaN",
        "codecs": [
            {"name": "bytes", "configuration": {"endian": "little"}},
            {"name": "zstd", "configuration": {"level": 0, "checksum": False}},
        ],
        "attributes": attributes,
        "dimension_names": ["time"],
        "zarr_format": 3,
        "node_type": "array",
        "storage_transformers": [],
    }


def write_json(path: str, document: dict[str, Any]) -> None:
    with open(path, "x", encoding="utf-8") as out:
        json.dump(document, out, indent=2, ensure_ascii=False)


class ChunkWriter:
    """Gathers pieces of rows into whole chunks and writes each column's chunk as its own file;
    the last chunk is padded with the fill value, as a regular grid stores it. Every chunk is
    written, so that NaN values keep their bits."""

    def __init__(self, path: str, keys: list[str], chunk: int) -> None:
        from numcodecs import Zstd

        self.folders = [os.path.join(path, key, "c") for key in keys]
        self.pending = numpy.empty((chunk, len(keys)), numpy.float32)
        self.filled = 0
        self.index = 0
        self.codec = Zstd(level=0, checksum=False)

    def add(self, values: numpy.ndarray) -> None:
        chunk = len(self.pending)
        while len(values):
            taken = min(chunk - self.filled, len(values))
            self.pending[self.filled : self.filled + taken] = values[:taken]
            self.filled += taken
            values = values[taken:]
            if self.filled == chunk:
                self.flush()

    def flush(self) -> None:
        if self.filled == 0:
            return
        write_chunk_files(self.folders, self.index, self.pending[: self.filled], len(self.pending), "xb", self.codec)
        self.index += 1
        self.filled = 0


def write_chunk_files(folders: list[str], index: int, rows: numpy.ndarray, chunk: int, mode: str, codec: Any) -> None:
    """Chunk `index` of each column of `rows`, padded with NaN to `chunk` blocks, into its folder."""
    padded = numpy.full((len(folders), chunk), numpy.nan, "<f4")
    padded[:, : len(rows)] = rows.T
    name = str(index)
    for folder, column in zip(folders, padded):
        with open(os.path.join(folder, name), mode) as out:
            out.write(codec.encode(column))


def write_arrays(path: str, variables: list[tuple[str, dict[str, Any]]], blocks: int, chunk: int) -> dict[str, Any]:
    """Each variable's folder and metadata; the metadata by key, for the group's."""
    consolidated = {}
    for key, attrs in variables:
        metadata = array_metadata(blocks, chunk, attrs)
        os.makedirs(os.path.join(path, key, "c"))
        write_json(os.path.join(path, key, METADATA), metadata)
        consolidated[key] = metadata
    return consolidated


def write_group(path: str, attributes: dict[str, Any], consolidated: dict[str, Any]) -> None:
    """The group's metadata, written last: a store without it is not one."""
    write_json(os.path.join(path, METADATA), {
        "attributes": attributes,
        "zarr_format": 3,
        "consolidated_metadata": {"kind": "inline", "must_understand": False, "metadata": consolidated},
        "node_type": "group",
    })


def write_store(path: str, variables: list[tuple[str, dict[str, Any]]], attributes: dict[str, Any],
                blocks: int, chunk: int, pieces: Iterable[Plot]) -> None:
    """Fills the new folder `path`: a variable (key, attributes) per column of the pieces, `blocks`
    long in chunks of `chunk`."""
    consolidated = write_arrays(path, variables, blocks, chunk)
    writer = ChunkWriter(path, [key for key, _ in variables], chunk)
    for piece in pieces:
        writer.add(piece.values)
    writer.flush()
    write_group(path, attributes, consolidated)


class ChunkUnwritten(OSError):
    """A chunk's files could not be written (no room, the folder gone), or every worker given it
    died: the output's failure, not the input's."""


class ChunkChanged(ValueError):
    """A worker read other blocks than the scan promised: the file changed meanwhile."""


@dataclasses.dataclass(frozen=True, slots=True)
class ChunkTask:
    """Chunk `index` of the store `store`: blocks [start, stop) of the plot file `source`, counted
    from a scanned block's offset, by a worker that sees the same paths as the command."""

    source: str
    n_digits: int | None
    columns: tuple[ParameterKey, ...] | None
    names: tuple[str, ...]
    start: int
    stop: int
    count_from: BlockStart
    store: str
    keys: tuple[str, ...]
    chunk: int
    index: int

    def __call__(self) -> int:
        from numcodecs import Zstd

        plot = read_whole(read_range(self.source, self.source, self.n_digits, self.columns, (self.start, self.stop),
                                     1, self.count_from))
        if plot.names != self.names or len(plot) != self.stop - self.start:
            raise ChunkChanged(f"the file changed while it was converted: blocks {self.start:,} to {self.stop:,} "
                               f"were scanned, {len(plot):,} read")
        folders = [os.path.join(self.store, key, "c") for key in self.keys]
        # A worker that died may have its task run again: the chunk is written anew, in a folder
        # this command made.
        try:
            write_chunk_files(folders, self.index, plot.values, self.chunk, "wb", Zstd(level=0, checksum=False))
        except OSError as error:
            raise ChunkUnwritten(error.errno, error.strerror, error.filename) from None
        return len(plot)


def run_chunk(task: ChunkTask) -> int:
    return task()


def write_store_on_cluster(client: Any, path: str, variables: list[tuple[str, dict[str, Any]]],
                           attributes: dict[str, Any], info: PlotInfo, n_digits: int | None,
                           columns: tuple[ParameterKey, ...] | None, names: tuple[str, ...], chunk: int) -> None:
    """As write_store, each chunk read and written by a task of the cluster `client` (a file's
    blocks from `info`, its scan); only the metadata is written here."""
    consolidated = write_arrays(path, variables, info.blocks, chunk)
    keys = tuple(key for key, _ in variables)
    tasks = [
        ChunkTask(info.path, n_digits, columns, names, start, min(start + chunk, info.blocks),
                  info.start_before(start), path, keys, chunk, index)
        for index, start in enumerate(range(0, info.blocks, chunk))
    ]
    futures = client.map(run_chunk, tasks, pure=False)
    try:
        gathered(client, futures)
    except BaseException:
        client.cancel(futures)  # the folder is removed: what has not started never will
        raise
    write_group(path, attributes, consolidated)


def gathered(client: Any, futures: list[Any]) -> None:
    """Waits for every chunk; workers that died on a chunk (killed for their memory, most often)
    raise OSError, said in one line as any failure to write."""
    from distributed import KilledWorker

    try:
        client.gather(futures)
    except KilledWorker as error:
        raise ChunkUnwritten(0, f"the cluster's workers died while writing a chunk ({error.allowed_failures + 1} tried "
                         "it): see their logs") from None
