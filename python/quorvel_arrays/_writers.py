"""The output formats of `quorvel convert`. Text formats give each value as the shortest text
that reads back as the same float32."""

from __future__ import annotations

import csv
import io
import json
import os
import tempfile
from collections.abc import Callable
from typing import BinaryIO

import numpy

from ._optional import missing
from ._plot import Plot, unique_names

ROWS_PER_CHUNK = 4096


def write_text(plot: Plot, out: BinaryIO, delimiter: str) -> None:
    text = io.TextIOWrapper(out, encoding="utf-8", newline="")
    try:
        writer = csv.writer(text, delimiter=delimiter, lineterminator="\n")
        writer.writerow(plot.names)
        values = plot.values
        for start in range(0, len(values), ROWS_PER_CHUNK):
            # numpy's float32 to str cast gives the shortest round-trip text, as repr does.
            writer.writerows(values[start : start + ROWS_PER_CHUNK].astype(str).tolist())
        text.flush()
    finally:
        text.detach()


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


def check_library(form: str) -> None:
    """Raises the ImportError that says which extra to install when `form` needs a missing
    library."""
    if form == "parquet":
        try:
            import pyarrow.parquet  # noqa: F401
        except ImportError as error:
            raise missing("converting to .parquet", "pyarrow", "parquet") from error


def write(plot: Plot, target: str, form: str) -> None:
    """Writes `plot` to `target` in `form`."""
    replace_with(target, lambda out: WRITERS[form](plot, out))


def replace_with(target: str, fill: Callable[[BinaryIO], None]) -> None:
    """Lets `fill` write a new file beside `target`, renamed over it only once complete, so a
    failure never leaves a partial or damaged output."""
    folder = os.path.dirname(target) or "."
    handle, temporary = tempfile.mkstemp(dir=folder, prefix=".quorvel-", suffix=".part")
    try:
        with open(handle, "wb") as out:
            fill(out)
        os.chmod(temporary, 0o666 & ~current_umask())
        os.replace(temporary, target)
    except BaseException:
        os.unlink(temporary)
        raise


def current_umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask
