"""Two runs compared parameter by parameter: `compare()` and the `Comparison` it gives. The
computation needs numpy only; the table needs pandas."""

from __future__ import annotations

import dataclasses
import math
import os
from collections.abc import Callable, Iterable, Sequence
from typing import TYPE_CHECKING, Any

import numpy
import numpy.typing

from ._optional import require
from ._plot import ParameterKey, PathArg, Plot, check_columns, read, read_many

if TYPE_CHECKING:
    import pandas

type Array = numpy.typing.NDArray[Any]
type Named = tuple[str, int]  # a parameter by its name and its position in its file

# Values per chunk: the chunk's float64 temporaries stay in the processor's cache, which makes the
# ten passes over them cost little next to reading the files.
CHUNK_VALUES = 1 << 14


@dataclasses.dataclass(frozen=True)
class Difference:
    """How one parameter of A differs from its counterpart in B, over the points compared.

    A point is out when |a - b| > atol + rtol × |b| (numpy.isclose's rule, with NaN equal to NaN
    and an infinity equal only to itself); a NaN against a number is out. `max_abs` and `max_rel`
    (|a - b| / |b|, infinite where b is 0 and a is not) are over the points where both are
    numbers. The first point out is given by A's block (from 0) and A's time there."""

    name: str
    position_a: int
    position_b: int
    points: int
    points_out: int
    nan_vs_number: int
    max_abs: float
    max_rel: float
    first_out_block: int | None
    first_out_time: float | None

    @property
    def ok(self) -> bool:
        return self.points_out == 0


TABLE_COLUMNS = ("name", "position_a", "position_b", "points", "points_out", "nan_vs_number",
                 "max_abs", "max_rel", "first_out_block", "first_out_time")


@dataclasses.dataclass(frozen=True)
class Comparison:
    """The comparison of run B against run A (the reference: |b| scales the tolerance, and B is
    interpolated onto A's times when their first columns differ)."""

    a: str
    b: str
    rtol: float
    atol: float
    differences: tuple[Difference, ...]  # in A's order
    only_in_a: tuple[Named, ...]
    only_in_b: tuple[Named, ...]
    blocks_a: int
    blocks_b: int
    blocks_compared: int  # A's blocks that took part
    left_out_a: int  # blocks of each run not compared: outside the span both cover, or all when none is
    left_out_b: int
    overlap_only: bool  # blocks left out are accepted
    interpolated: bool
    overlap: tuple[float, float] | None  # the span of time both runs cover, when interpolating (None: none)
    not_increasing_a: int | None  # the first block whose time is not above the one before
    not_increasing_b: int | None
    values_compared: bool  # False when the time axes could not be put side by side

    @property
    def ok(self) -> bool:
        """Every compared parameter within tolerance, the names alike, the values compared, and
        every block of both runs compared unless only the overlap was asked for: a run that
        stopped early is not one that agrees."""
        return (self.values_compared and not self.only_in_a and not self.only_in_b
                and (self.overlap_only or not (self.left_out_a or self.left_out_b))
                and all(each.ok for each in self.differences))

    @property
    def table(self) -> pandas.DataFrame:
        """One row per compared parameter, in A's order (needs pandas)."""
        pandas = require("Comparison.table", "pandas", "pandas")
        frame = pandas.DataFrame([dataclasses.astuple(each) for each in self.differences], columns=list(TABLE_COLUMNS))
        frame["first_out_block"] = frame["first_out_block"].astype("Int64")
        frame["first_out_time"] = frame["first_out_time"].astype("float64")
        return frame

    def worst_first(self) -> list[Difference]:
        """The differences, the ones out of tolerance first, then by the largest relative
        difference (a NaN against a number counting as infinite), then the largest absolute."""
        def badness(each: Difference) -> tuple[bool, float, float]:
            return (not each.ok, math.inf if each.nan_vs_number else each.max_rel, each.max_abs)

        return sorted(self.differences, key=badness, reverse=True)


def compare(
    a: PathArg | Plot,
    b: PathArg | Plot,
    *,
    rtol: float = 1e-5,
    atol: float = 0.0,
    columns: Iterable[ParameterKey] | None = None,
    overlap_only: bool = False,
) -> Comparison:
    """Compares run B with run A, parameter by parameter.

    Parameters are matched by name, a repeated name by its occurrence; `columns` restricts the
    comparison to these names or positions (of A, as `read` takes them); by default every
    parameter but the first column, the time. Identical first columns are compared block by
    block; otherwise B is interpolated linearly onto A's times where both runs have values.
    Blocks of either run outside that span make the result not ok, unless `overlap_only`."""
    rtol, atol = tolerance(rtol, "rtol"), tolerance(atol, "atol")
    if not isinstance(overlap_only, (bool, numpy.bool_)):
        raise TypeError(f"overlap_only must be True or False, not {type(overlap_only).__name__}")
    selection = check_columns(columns)
    plot_a, plot_b = plots_of(a, b)
    pairs, only_a, only_b = match(plot_a, plot_b, selection)
    return measure(plot_a, plot_b, pairs, only_a, only_b, rtol, atol, bool(overlap_only))


def tolerance(value: float, name: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float, numpy.floating, numpy.integer)):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    try:
        number = float(value)
    except OverflowError:
        raise ValueError(f"{name} must be a finite number >= 0, not an int beyond the floats") from None
    if not 0.0 <= number < math.inf:
        raise ValueError(f"{name} must be a finite number >= 0, not {number!r}")
    return number + 0.0  # -0.0 is 0


def plots_of(a: PathArg | Plot, b: PathArg | Plot) -> tuple[Plot, Plot]:
    if not isinstance(a, Plot) and not isinstance(b, Plot):
        if same_input(a, b):
            plot = read(a)
            return plot, plot
        plot_a, plot_b = read_many([a, b], threads=2)
        return plot_a, plot_b
    return (a if isinstance(a, Plot) else read(a)), (b if isinstance(b, Plot) else read(b))


def same_input(a: PathArg, b: PathArg) -> bool:
    """Whether two paths name one file or one pipe, to be read once: two readers of a pipe
    would share out its bytes, and a file rewritten between two reads would differ from itself."""
    try:
        first, second = os.stat(a), os.stat(b)
    except (OSError, TypeError, ValueError):
        return False  # the read says what is wrong
    return (first.st_dev, first.st_ino) == (second.st_dev, second.st_ino)


def occurrences(names: Sequence[str]) -> list[tuple[str, int]]:
    """Each name with how many times it came before: the 2nd "X" is ("X", 1)."""
    seen: dict[str, int] = {}
    keys = []
    for name in names:
        keys.append((name, seen.get(name, 0)))
        seen[name] = seen.get(name, 0) + 1
    return keys


def match(
    plot_a: Plot, plot_b: Plot, selection: tuple[ParameterKey, ...] | None
) -> tuple[list[tuple[int, int]], list[Named], list[Named]]:
    """The pairs of positions (A, B) to compare, and the parameters found in one file only."""
    keys_a, keys_b = occurrences(plot_a.names), occurrences(plot_b.names)
    in_b = {key: position for position, key in enumerate(keys_b)}
    only_b: list[Named] = []
    if selection is None:
        wanted = list(range(1, len(keys_a)))
        matched = {in_b[keys_a[p]] for p in wanted if keys_a[p] in in_b}
        only_b = [(plot_b.names[p], p) for p in range(1, len(keys_b)) if p not in matched]
    else:
        wanted = []
        for key in selection:
            if isinstance(key, str) and key not in plot_a.names and key in plot_b.names:
                only_b += [(key, p) for p, name in enumerate(plot_b.names) if name == key]
            elif isinstance(key, str) and key not in plot_a.names:
                raise KeyError(f"{key!r} is not a parameter name of {plot_a.path} or {plot_b.path}")
            else:
                position = plot_a.position(key)
                if position not in wanted:
                    wanted.append(position)
    pairs = [(p, in_b[keys_a[p]]) for p in wanted if keys_a[p] in in_b]
    only_a = [(plot_a.names[p], p) for p in wanted if keys_a[p] not in in_b]
    return pairs, only_a, only_b


def not_increasing(time: Array) -> int | None:
    """The first block whose time is not above the previous block's (NaN included), or None."""
    rising = time[1:] > time[:-1]
    if rising.all():
        return None
    return int(numpy.argmin(rising)) + 1


def positions_index(positions: Sequence[int]) -> slice | Array:
    """The column index for these positions: a slice when they follow each other (a view)."""
    if positions and list(positions) == list(range(positions[0], positions[0] + len(positions))):
        return slice(positions[0], positions[0] + len(positions))
    return numpy.asarray(positions, dtype=numpy.intp)


def measure(
    plot_a: Plot, plot_b: Plot, pairs: list[tuple[int, int]], only_a: list[Named], only_b: list[Named],
    rtol: float, atol: float, overlap_only: bool,
) -> Comparison:
    time_a, time_b = plot_a.time, plot_b.time
    identical = bool(numpy.array_equal(time_a, time_b, equal_nan=True))
    facts: dict[str, Any] = {
        "a": plot_a.path, "b": plot_b.path, "rtol": rtol, "atol": atol,
        "only_in_a": tuple(only_a), "only_in_b": tuple(only_b), "blocks_a": len(plot_a), "blocks_b": len(plot_b),
        "not_increasing_a": not_increasing(time_a), "not_increasing_b": not_increasing(time_b),
        "interpolated": not identical, "overlap": None, "overlap_only": overlap_only,
        "left_out_a": 0, "left_out_b": 0,
    }
    columns_a = positions_index([p for p, _ in pairs])
    columns_b = positions_index([q for _, q in pairs])
    values_a, values_b = plot_a.values, plot_b.values
    rows_b: Callable[[int, int], Array]
    if identical:
        start, stop = 0, len(plot_a)
        rows_b = block_by_block(values_b, columns_b)
    else:
        # Nothing to interpolate over: a time axis that goes back, an empty file, disjoint spans.
        if facts["not_increasing_a"] is not None or facts["not_increasing_b"] is not None \
                or not len(plot_a) or not len(plot_b):
            return unmeasured(facts)
        low, high = max(time_a[0], time_b[0]), min(time_a[-1], time_b[-1])
        if low > high:
            return unmeasured(facts)
        facts["overlap"] = (float(low), float(high))
        start = int(numpy.searchsorted(time_a, low, side="left"))
        stop = int(numpy.searchsorted(time_a, high, side="right"))
        if stop <= start:
            return unmeasured(facts)
        facts["left_out_a"] = start + len(plot_a) - stop
        facts["left_out_b"] = (int(numpy.searchsorted(time_b, low, side="left"))
                               + len(plot_b) - int(numpy.searchsorted(time_b, high, side="right")))
        rows_b = interpolation(time_a[start:stop], time_b, values_b, columns_b, start)
    tally = Tally(len(pairs), stop - start, rtol, atol)
    step = max(1, CHUNK_VALUES // max(1, len(pairs)))
    for first in range(start, stop, step):
        last = min(first + step, stop)
        tally.add(values_a[first:last, columns_a], rows_b(first, last), first - start)
    differences = []
    for k, (p, q) in enumerate(pairs):
        block = int(tally.first[k]) + start if tally.first[k] >= 0 else None
        differences.append(Difference(
            name=plot_a.names[p], position_a=p, position_b=q, points=stop - start,
            points_out=int(tally.out[k]), nan_vs_number=int(tally.nan[k]),
            max_abs=float(tally.max_abs[k]), max_rel=float(tally.max_rel[k]),
            first_out_block=block, first_out_time=None if block is None else float(time_a[block]),
        ))
    return Comparison(**facts, differences=tuple(differences), blocks_compared=stop - start, values_compared=True)


def unmeasured(facts: dict[str, Any]) -> Comparison:
    """No values compared: every block of both runs is left out."""
    facts = facts | {"left_out_a": facts["blocks_a"], "left_out_b": facts["blocks_b"]}
    return Comparison(**facts, differences=(), blocks_compared=0, values_compared=False)


def block_by_block(values_b: Array, columns_b: slice | Array) -> Callable[[int, int], Array]:
    """B's own rows: its first column is A's."""
    return lambda first, last: values_b[first:last, columns_b]


def take(values: Array, rows: Array, columns: slice | Array) -> Array:
    """values[rows, columns] for a slice or an array of columns."""
    return values[rows, columns] if isinstance(columns, slice) else values[numpy.ix_(rows, columns)]


def interpolation(
    times: Array, time_b: Array, values_b: Array, columns_b: slice | Array, offset: int
) -> Callable[[int, int], Array]:
    """The rows of B interpolated linearly onto `times` (A's, within B's span), chunk by chunk:
    rows_b(first, last) gives A's blocks first…last-1, counted from `offset`."""
    at = times.astype(numpy.float64)
    known = time_b.astype(numpy.float64)
    left = numpy.searchsorted(known, at, side="right") - 1  # known[left] <= at
    right = numpy.minimum(left + 1, len(known) - 1)
    span = known[right] - known[left]
    with numpy.errstate(divide="ignore", invalid="ignore"):
        weight = numpy.where(right > left, (at - known[left]) / span, 0.0)
    # An infinite time of B: the line towards it is flat, B's value at the finite end holds.
    weight[known[left] == -math.inf] = 1.0
    weight[at == known[left]] = 0.0

    def rows_b(first: int, last: int) -> Array:
        part = slice(first - offset, last - offset)
        below = take(values_b, left[part], columns_b).astype(numpy.float64)
        above = take(values_b, right[part], columns_b).astype(numpy.float64)
        w = weight[part]
        with numpy.errstate(invalid="ignore"):
            mixed = below + w[:, None] * (above - below)
        # On one of B's times (or flat beside an infinite one): its own value, even beside an
        # infinity or NaN.
        ends = w == 1.0
        mixed[ends] = above[ends]
        exact = w == 0.0
        mixed[exact] = below[exact]
        return mixed

    return rows_b


class Tally:
    """The per-parameter maxima, counts and first point out, accumulated over chunks of rows."""

    def __init__(self, columns: int, rows: int, rtol: float, atol: float) -> None:
        self.rtol, self.atol = rtol, atol
        self.max_abs = numpy.zeros(columns)
        self.max_rel = numpy.zeros(columns)
        self.out = numpy.zeros(columns, dtype=numpy.int64)
        self.nan = numpy.zeros(columns, dtype=numpy.int64)
        self.first = numpy.full(columns, -1, dtype=numpy.int64)
        shape = (max(1, min(rows, CHUNK_VALUES // max(1, columns))), columns)
        self.a, self.b = numpy.empty(shape), numpy.empty(shape)
        self.difference = numpy.empty(shape)
        self.scale = numpy.empty(shape)
        self.limit = numpy.empty(shape)
        self.beyond = numpy.empty(shape, dtype=bool)

    def add(self, a_rows: Array, b_rows: Array, row: int) -> None:
        """One chunk: A's rows and B's (or B interpolated), `row` the chunk's first row."""
        n = a_rows.shape[0]
        a, b = self.a[:n], self.b[:n]
        difference, scale, limit, beyond = self.difference[:n], self.scale[:n], self.limit[:n], self.beyond[:n]
        # float64 copies first: every pass after them runs on contiguous float64 in the cache.
        numpy.copyto(a, a_rows)
        numpy.copyto(b, b_rows)
        # A huge tolerance overflows to an infinite limit, which every finite difference is within.
        with numpy.errstate(invalid="ignore", divide="ignore", over="ignore"):
            numpy.subtract(a, b, out=difference)
            numpy.absolute(difference, out=difference)
            peak = difference.max(axis=0)
            forced = None if numpy.isfinite(peak).all() else self.special(a, b, difference)
            if forced is not None:
                peak = difference.max(axis=0)
            numpy.maximum(self.max_abs, peak, out=self.max_abs)
            numpy.absolute(b, out=scale)
            numpy.multiply(scale, self.rtol, out=limit)
            if self.atol:
                numpy.add(limit, self.atol, out=limit)
            numpy.greater(difference, limit, out=beyond)
            numpy.divide(difference, scale, out=limit)  # the relative difference; 0/0 is NaN, skipped
            if forced is not None:
                beyond |= forced[0]
                limit[forced[1]] = math.inf
            numpy.fmax(self.max_rel, numpy.fmax.reduce(limit, axis=0), out=self.max_rel)
        if not beyond.any():
            return
        counts = beyond.sum(axis=0)
        self.out += counts
        new = numpy.flatnonzero((counts > 0) & (self.first < 0))
        if new.size:
            self.first[new] = row + beyond[:, new].argmax(axis=0)

    def special(self, a: Array, b: Array, difference: Array) -> tuple[Array, Array]:
        """Where a value is NaN or infinite: equal values (NaN and NaN, an infinity and itself)
        differ by 0; a NaN against a number is out and left out of the maxima; an infinity
        against anything else is out by an infinite difference. Gives the points out and the
        points whose relative difference is infinite."""
        odd = ~numpy.isfinite(difference)
        x, y = a[odd], b[odd]
        x_nan, y_nan = numpy.isnan(x), numpy.isnan(y)
        same = (x == y) | (x_nan & y_nan)
        nan_vs = ~same & (x_nan | y_nan)
        difference[odd] = numpy.where(same | nan_vs, 0.0, math.inf)
        forced = numpy.zeros_like(odd)
        forced[odd] = ~same
        counted = numpy.zeros_like(odd)
        counted[odd] = nan_vs
        self.nan += counted.sum(axis=0)
        infinite = numpy.zeros_like(odd)
        infinite[odd] = ~same & ~nan_vs
        return forced, infinite
