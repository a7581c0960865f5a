"""How the command writes numbers: float32 values as their shortest text, in JSON, in CSV rows
and in aligned tables."""

from __future__ import annotations

import csv
import io
import json
import math
from collections.abc import Iterable, Iterator, Sequence
from typing import Any

import numpy

from .._plot import Values

# Values turned into text at once: numpy's str array and the Python strings cost about 200 bytes
# a value, so this keeps a chunk near 10 MB however wide the file is.
TEXT_VALUES_PER_CHUNK = 1 << 16


def value_text(value: Any) -> str:
    """The shortest text that reads back as the same float32."""
    return str(numpy.float32(value))


def number(value: float) -> float | str | None:
    """A float64 for JSON: null for NaN, "inf" and "-inf" for the infinities, which JSON has no
    numbers for."""
    if math.isnan(value):
        return None
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return value


def json_value(value: Any) -> float | str | None:
    """A float32 for JSON: the float of its shortest text, so that JSON shows 0.1 rather than
    0.10000000149011612."""
    return number(float(value_text(value)))


def dump(payload: Any) -> str:
    return json.dumps(payload, ensure_ascii=False, allow_nan=False)


def csv_line(names: Iterable[str], delimiter: str = ",") -> str:
    """One line of a CSV or TSV table (the names, a row of cells), quoted where needed."""
    out = io.StringIO()
    csv.writer(out, delimiter=delimiter, lineterminator="\n").writerow(names)
    return out.getvalue()


def rows_text(values: Values, delimiter: str = ",") -> Iterator[str]:
    """The rows as lines of text, each value the shortest text that reads back as the same
    float32, in pieces of at most TEXT_VALUES_PER_CHUNK values (a wider row in several)."""
    columns = values.shape[1]
    rows = max(1, TEXT_VALUES_PER_CHUNK // max(1, columns))
    # numpy's float32 to str cast gives the shortest round-trip text, as repr does; number texts
    # never need quoting.
    for start in range(0, len(values), rows):
        chunk = values[start : start + rows]
        if columns <= TEXT_VALUES_PER_CHUNK:
            yield "".join(delimiter.join(row) + "\n" for row in chunk.astype(str).tolist())
            continue
        for row in chunk:
            for first in range(0, columns, TEXT_VALUES_PER_CHUNK):
                piece = row[first : first + TEXT_VALUES_PER_CHUNK].astype(str).tolist()
                yield (delimiter if first else "") + delimiter.join(piece)
            yield "\n"


def table(cells: Sequence[Sequence[str]]) -> str:
    """Rows of cells in columns: the second (a name) left-aligned, the numbers on the right."""
    widths = [max(len(line[k]) for line in cells) for k in range(len(cells[0]))]
    return "".join(
        "  ".join(cell.ljust(w) if k == 1 else cell.rjust(w) for k, (cell, w) in enumerate(zip(line, widths))).rstrip()
        + "\n"
        for line in cells
    )
