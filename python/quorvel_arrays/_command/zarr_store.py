"""A Zarr (format 3) store written file by file: an array per parameter along `time`, chunks
compressed with zstd, the arrays' metadata consolidated into the group's, as xarray reads it.

The zarr library costs about a millisecond to create an array and another to write each chunk;
a file of 4,000 parameters took seconds for a few megabytes. The store is plain files and JSON,
so it is written here directly, and zarr (its codecs library) only compresses."""

from __future__ import annotations

import json
import os
from collections.abc import Iterable
from typing import Any

import numpy

from .._plot import Plot

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
        self.pending = numpy.full((chunk, len(keys)), numpy.nan, numpy.float32)
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
        self.pending[self.filled :] = numpy.nan
        columns = numpy.ascontiguousarray(self.pending.T.astype("<f4", copy=False))
        name = str(self.index)
        for folder, column in zip(self.folders, columns):
            with open(os.path.join(folder, name), "xb") as out:
                out.write(self.codec.encode(column))
        self.index += 1
        self.filled = 0


def write_store(path: str, variables: list[tuple[str, dict[str, Any]]], attributes: dict[str, Any],
                blocks: int, chunk: int, pieces: Iterable[Plot]) -> None:
    """Fills the new folder `path`: a variable (key, attributes) per column of the pieces, `blocks`
    long in chunks of `chunk`."""
    consolidated = {}
    for key, attrs in variables:
        metadata = array_metadata(blocks, chunk, attrs)
        os.makedirs(os.path.join(path, key, "c"))
        write_json(os.path.join(path, key, METADATA), metadata)
        consolidated[key] = metadata
    writer = ChunkWriter(path, [key for key, _ in variables], chunk)
    for piece in pieces:
        writer.add(piece.values)
    writer.flush()
    write_json(os.path.join(path, METADATA), {
        "attributes": attributes,
        "zarr_format": 3,
        "consolidated_metadata": {"kind": "inline", "must_understand": False, "metadata": consolidated},
        "node_type": "group",
    })
