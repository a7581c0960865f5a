"""`quorvel diff A B`: two runs compared parameter by parameter, for people and for CI jobs."""

from __future__ import annotations

import argparse
import sys
from typing import Any

from .._compare import Comparison, Difference, Named, compare, same_input
from .._plot import Plot
from .arguments import non_negative, parameter_key
from .shared import SELECTION_HELP, Command, describe, input_paths, read_in_order
from .streams import emit
from .text import dump, json_value, number, table, value_text

DEFAULT_RTOL = 1e-5
HELP = "compare two runs parameter by parameter"
DESCRIPTION = ("Compares run B with run A, parameter by parameter, matched by name (a repeated "
               "name by its occurrence). A point differs when |a - b| > ATOL + RTOL × |b|; NaN "
               "equals NaN, a NaN against a number differs. When the first columns (the time) "
               "differ, B is interpolated linearly onto A's times where both runs have values. "
               "Exit status 0 when every parameter is within tolerance, the names agree and "
               "every block of both runs was compared (or --overlap-only), 1 otherwise: meant "
               "for CI jobs.")
tolerance = non_negative("number")


def add_parser(command: Command) -> None:
    diff = command("diff", HELP, DESCRIPTION)
    diff.add_argument("a", metavar="A", help="the reference run")
    diff.add_argument("b", metavar="B", help="the run compared with it")
    diff.add_argument("names", nargs="*", metavar="NAME", type=parameter_key,
                      help=f"only these parameters of A ({SELECTION_HELP}); default: all but the first column")
    diff.add_argument("--rtol", type=tolerance, default=DEFAULT_RTOL, help=f"relative tolerance (default: {DEFAULT_RTOL:g})")
    diff.add_argument("--atol", type=tolerance, default=0.0, help="absolute tolerance (default: 0)")
    diff.add_argument("--json", action="store_true", help="one JSON object instead of a table")
    diff.add_argument("--all", action="store_true", help="list every compared parameter, not only those out of tolerance")
    diff.add_argument("--overlap-only", action="store_true",
                      help="accept blocks of either run outside the span both cover (a run that stopped early)")
    diff.set_defaults(run=run_diff)


def run_diff(args: argparse.Namespace) -> int:
    paths = input_paths([args.a, args.b])
    once = same_input(*paths)
    plots: list[Plot] = []
    for path, outcome in list(read_in_order(paths[:1] if once else paths, args.n_digits)):
        if isinstance(outcome, Plot):
            plots.append(outcome)
        else:
            print(describe(path, outcome), file=sys.stderr)
    if once:
        plots *= 2
    if len(plots) < 2:
        return 1
    try:
        result = compare(plots[0], plots[1], rtol=args.rtol, atol=args.atol, columns=args.names or None,
                         overlap_only=args.overlap_only)
    except (KeyError, IndexError) as error:
        print(describe(plots[0].path, error), file=sys.stderr)
        return 1
    emit(report(result, every=args.all, as_json=args.json))
    return 0 if result.ok else 1


def report(result: Comparison, *, every: bool, as_json: bool) -> str:
    """What `quorvel diff` prints: the parameters out of tolerance (all with `every`), the worst
    first, in a table or one JSON object."""
    shown = [each for each in result.worst_first() if every or not each.ok]
    if as_json:
        return dump(json_report(result, shown)) + "\n"
    return text_report(result, shown)


# ---- JSON


def json_report(result: Comparison, shown: list[Difference]) -> dict[str, Any]:
    def named(items: tuple[Named, ...]) -> list[dict[str, Any]]:
        return [{"name": name, "position": position} for name, position in items]

    return {
        "a": result.a, "b": result.b, "ok": result.ok, "rtol": result.rtol, "atol": result.atol,
        "blocks": {"a": result.blocks_a, "b": result.blocks_b, "compared": result.blocks_compared,
                   "left_out": {"a": result.left_out_a, "b": result.left_out_b}},
        "overlap_only": result.overlap_only,
        "values_compared": result.values_compared, "interpolated": result.interpolated,
        "overlap": None if result.overlap is None else [json_value(t) for t in result.overlap],
        "not_increasing": {"a": result.not_increasing_a, "b": result.not_increasing_b},
        "only_in_a": named(result.only_in_a), "only_in_b": named(result.only_in_b),
        "compared": len(result.differences), "out": sum(not each.ok for each in result.differences),
        "parameters": [
            {
                "name": each.name, "position_a": each.position_a, "position_b": each.position_b,
                "points": each.points, "points_out": each.points_out, "nan_vs_number": each.nan_vs_number,
                "max_abs": number(each.max_abs), "max_rel": number(each.max_rel),
                "first_out_block": each.first_out_block,
                "first_out_time": None if each.first_out_time is None else json_value(each.first_out_time),
            }
            for each in shown
        ],
    }


# ---- text

FIELDS = ("position", "name", "max_abs", "max_rel", "out", "nan", "first_block", "first_time")


def text_report(result: Comparison, shown: list[Difference]) -> str:
    lines = [f"A  {result.a}: {result.blocks_a} blocks", f"B  {result.b}: {result.blocks_b} blocks",
             time_line(result)]
    left_out = result.left_out_a + result.left_out_b
    if left_out:
        lines.append(f"left out: {result.left_out_a} of A's {result.blocks_a} blocks and {result.left_out_b} of "
                     f"B's {result.blocks_b}" + (" (--overlap-only)" if result.overlap_only else ""))
    for side, items in (("A", result.only_in_a), ("B", result.only_in_b)):
        if items:
            lines.append(f"only in {side}: " + ", ".join(f"{name} (position {position})" for name, position in items))
    out = "\n".join(lines) + "\n"
    if shown:
        out += "\n" + difference_table(shown)
    bad = sum(not each.ok for each in result.differences)
    rule = f"atol {result.atol:g} + rtol {result.rtol:g} × |b|"
    if not result.values_compared:
        verdict = "not compared"
    elif bad:
        verdict = f"{bad} of {len(result.differences)} parameters differ beyond {rule}"
    else:
        verdict = f"all {len(result.differences)} parameters compared are within {rule}"
    if result.only_in_a or result.only_in_b:
        verdict += f"; {len(result.only_in_a) + len(result.only_in_b)} parameters are in one run only"
    if left_out and not result.overlap_only:
        verdict += f"; {left_out} blocks were left out"
    return out + "\n" + verdict + "\n"


def time_line(result: Comparison) -> str:
    """How the two time axes were put side by side, or why they could not be."""
    backwards = [f"{side}'s first column does not increase at block {block}"
                 for side, block in (("A", result.not_increasing_a), ("B", result.not_increasing_b)) if block is not None]
    if not result.interpolated:
        block = result.not_increasing_a
        note = "" if block is None else f" (it does not increase at block {block})"
        return "the first columns are identical: compared block by block" + note
    if backwards:
        return "; ".join(backwards) + ": the first columns differ and cannot be interpolated, no values compared"
    if result.overlap is None:
        return "the first columns differ and the runs' times do not overlap: no values compared"
    low, high = (value_text(t) for t in result.overlap)
    if not result.values_compared:
        return f"the first columns differ and no time of A lies in the span both runs cover ({low} to {high}): no values compared"
    return (f"the first columns differ: B interpolated linearly onto A's times from {low} to {high}, "
            f"{result.blocks_compared} of A's {result.blocks_a} blocks compared")


def float_text(value: float) -> str:
    return f"{value:.6g}"


def difference_table(rows: list[Difference]) -> str:
    cells = [list(FIELDS)]
    for each in rows:
        first = each.first_out_block is not None
        cells.append([
            str(each.position_a), each.name, float_text(each.max_abs), float_text(each.max_rel),
            f"{each.points_out}/{each.points}", str(each.nan_vs_number),
            str(each.first_out_block) if first else "-",
            value_text(each.first_out_time) if each.first_out_time is not None else "-",
        ])
    return table(cells)
