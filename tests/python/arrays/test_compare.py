"""Runs compared: compare() against numpy.isclose and numpy.interp, `quorvel diff` in a child
process (exit status, table, JSON), and `quorvel plot` of several runs."""

import json
import math
import os
import subprocess
import sys

import numpy
import pytest

import quorvel_arrays as qa
from quorvel_arrays import _compare
from quorvel_arrays._command import figure as _figure
from conftest import fields
from test_cli import W12, W15, quorvel

NAN, INF = float("nan"), float("inf")


def run_text(names, rows, width=20):
    lines = [f"RUN {len(names)}", *names]
    for number, row in enumerate(rows):
        lines.append(f" BLOCK {number}")
        lines += [fields([repr(float(v)) for v in row[k:k + 10]], width) for k in range(0, len(names), 10)]
    return "\n".join(lines) + "\n"


@pytest.fixture
def run(plot_file):
    """run(names, rows) writes a plot file; rows hold the time first."""
    return lambda names, rows: plot_file(run_text(names, rows))


def plot(values, names=None):
    values = numpy.asarray(values, dtype=numpy.float32)
    return qa.Plot("p", "H", names or ["T", *(f"P{k}" for k in range(1, values.shape[1]))], values, 12)


def oracle(a, b, rtol, atol):
    """(points out, first out, NaN against a number, max abs, max rel) of one column, by numpy."""
    a, b = a.astype(numpy.float64), b.astype(numpy.float64)
    out = ~numpy.isclose(a, b, rtol=rtol, atol=atol, equal_nan=True)
    numbers = ~numpy.isnan(a) & ~numpy.isnan(b) & (a != b)
    with numpy.errstate(all="ignore"):
        gap = numpy.abs(a - b)[numbers]
        rel = (gap / numpy.abs(b[numbers]))
    rel[numpy.isnan(rel)] = INF  # inf against -inf
    first = int(numpy.argmax(out)) if out.any() else None
    return int(out.sum()), first, int((numpy.isnan(a) != numpy.isnan(b)).sum()), gap.max(initial=0.0), rel.max(initial=0.0)


@pytest.mark.parametrize("rows, columns, shift", [(30, 6, 0.0), (20_000, 3, 0.0), (400, 5, 0.37), (9_000, 4, 0.25)])
def test_compare_against_numpy(rows, columns, shift):
    rng = numpy.random.default_rng(rows + columns)
    a = rng.standard_normal((rows, columns)).astype(numpy.float32)
    a[:, 0] = numpy.arange(rows)
    b = a * (1 + rng.choice([0, 0, 1e-6, 3e-5], size=a.shape)).astype(numpy.float32)
    b[:, 0] = a[:, 0] + shift
    specials = [NAN, INF, -INF, 0.0]
    b[:, -1] = a[:, -1]  # the last column differs only in the last point, in the last chunk
    for k in range(1, columns - 1):  # NaN, infinities and zeros, in A and (when blocks line up) in B
        a[rng.integers(0, rows, 3), k] = rng.choice(specials, 3)
        if not shift:
            b[rng.integers(0, rows, 3), k] = rng.choice(specials, 3)
    b[-1, -1] = a[-1, -1] * 2 + 1  # one point out in the last chunk
    result = qa.compare(plot(a), plot(b), rtol=1e-5, atol=1e-7)
    start = int(numpy.searchsorted(a[:, 0], b[0, 0]))
    assert (result.interpolated, result.blocks_compared, result.values_compared) == (bool(shift), rows - start, True)
    assert (result.left_out_a, result.left_out_b) == (start, int(b[:, 0].astype(float).max() > a[-1, 0]))
    for k, each in enumerate(result.differences, start=1):
        want = b[:, k] if not shift else numpy.interp(a[start:, 0], b[:, 0].astype(float), b[:, k].astype(float))
        points_out, first, nan, max_abs, max_rel = oracle(a[start:, k], want, 1e-5, 1e-7)
        assert (each.position_a, each.points, each.points_out, each.nan_vs_number) == (k, rows - start, points_out, nan)
        assert each.first_out_block == (None if first is None else first + start)
        assert each.max_abs == pytest.approx(max_abs, rel=1e-9) and each.max_rel == pytest.approx(max_rel, rel=1e-9)
    ranked = [(not each.ok, INF if each.nan_vs_number else each.max_rel) for each in result.worst_first()]
    assert ranked == sorted(ranked, reverse=True) and ranked[0][0] and result.ok is False


def test_compare_paths_and_plots(run):
    a = run(["TIME", "X", "Y", "X"], [[0, 1, 2, 3], [1, 4, 5, 6]])
    b = run(["TIME", "X", "Z", "X"], [[0, 1, 9, 3], [1, 4, 9, 7]])
    from_paths = qa.compare(a, b)
    assert from_paths == qa.compare(qa.read(a), b) == qa.compare(qa.read(a), qa.read(b))
    assert (from_paths.only_in_a, from_paths.only_in_b, from_paths.ok) == ((("Y", 2),), (("Z", 2),), False)
    table = from_paths.table
    assert table[["name", "position_a", "position_b", "points_out"]].values.tolist() == [["X", 1, 1, 0], ["X", 3, 3, 1]]
    assert table["first_out_block"].tolist() == [pytest.importorskip("pandas").NA, 1]
    picked = qa.compare(a, b, columns=[3, "Z"])  # the 2nd X of A meets the 2nd X of B; Z is B's only
    assert ([d.position_a for d in picked.differences], picked.only_in_b) == ([3], (("Z", 2),))
    assert qa.compare(a, a, columns=[1]).ok
    assert str(qa.compare(a, a, atol=-0.0, overlap_only=numpy.True_).atol) == "0.0"
    for call, error, text in [(lambda: qa.compare(a, b, columns=["NOPE"]), KeyError, f"'NOPE' is not a parameter name of {a} or {b}"),
                              (lambda: qa.compare(a, b, columns=["X"]), KeyError, "'X' names 2 parameters"),
                              (lambda: qa.compare(a, b, rtol=-1), ValueError, "rtol must be a finite number >= 0, not -1.0"),
                              (lambda: qa.compare(a, b, atol=10**400), ValueError, "atol must be a finite number >= 0, not an int beyond the floats"),
                              (lambda: qa.compare(a, b, overlap_only="no"), TypeError, "overlap_only must be True or False, not str"),
                              (lambda: qa.compare(a, a + ".missing"), FileNotFoundError, "No such file")]:
        with pytest.raises(error, match=text.replace(".", r"\.").replace("(", r"\(")):
            call()


ROWS = [[0, 1, 2, 3], [1, 1, 2, 3], [2, 1, 2, 3], [3, 1, 2, 3]]
NAMES = ["TIME", "X", "Y", "X"]


def edited(changes, names=NAMES):
    rows = [list(row) for row in ROWS]
    for (block, position), value in changes.items():
        rows[block][position] = value
    return names, rows


EDGE = 1 + 2**-10  # |b| × rtol exactly from B's 1: on the boundary, inside
# The edited run is A; B, the reference, is ROWS unless the case gives `ref`.
DIFF_CASES = {
    "identical": (edited({}), [], 0, dict(out=0)),
    "inside": (edited({(2, 1): EDGE}), ["--rtol", str(2**-10)], 0, dict(out=0)),
    "outside": (edited({(2, 1): EDGE + 2**-23}), ["--rtol", str(2**-10)], 1, dict(out=1, first=(1, 2, 2.0))),
    "atol": (edited({(2, 1): 1.5}), ["--atol", "0.5", "--rtol", "0"], 0, dict(out=0)),
    "repeated": (edited({(3, 3): 3.5}), [], 1, dict(out=1, first=(3, 3, 3.0))),
    "nan both": ((NAMES, [[0, NAN, 2, 3]]), [], 0, dict(out=0, ref=[[0, NAN, 2, 3]])),
    "nan vs number": (edited({(1, 2): NAN}), [], 1, dict(out=1, first=(2, 1, 1.0), nan=1)),
    "missing names": (edited({}, ["TIME", "X", "Z", "X"]), [], 1, dict(out=0, only_a=[["Z", 2]], only_b=[["Y", 2]])),
    "shifted": ((NAMES, [[t + 0.5, 2 * t + 1, 2, 3] for t in range(4)]), [], 1,
                dict(out=0, ref=[[t, 2 * t, 2, 3] for t in range(5)], overlap=[0.5, 3.5], left_out={"a": 0, "b": 2})),
    "shifted, overlap only": ((NAMES, [[t + 0.5, 2 * t + 1, 2, 3] for t in range(4)]), ["--overlap-only"], 0,
                              dict(out=0, ref=[[t, 2 * t, 2, 3] for t in range(5)], overlap=[0.5, 3.5], left_out={"a": 0, "b": 2})),
    "on B's times": ((NAMES, ROWS[:3]), [], 0, dict(out=0, overlap=[0.0, 2.0], ref=[
        [0, 1, 2, 3], [0.5, INF, 2, 3], [1, 1, 2, 3], [1.5, NAN, 2, 3], [2, 1, 2, 3]])),
    "infinite time": ((NAMES, [[-INF, 1, 2, 3], [0, 1, 2, 3], [1, 1, 2, 3]]), [], 0,
                      dict(out=0, ref=[[-INF, 1, 2, 3], [0.5, 1, 2, 3], [1, 1, 2, 3]], overlap=["-inf", 1.0])),
    "backwards": ((NAMES, [[0.5, 1, 2, 3], [0.25, 1, 2, 3]]), [], 1,
                  dict(out=0, not_increasing=1, compared=0, left_out={"a": 2, "b": 4})),
}


@pytest.mark.parametrize("case", DIFF_CASES)
def test_diff_json(run, case):
    (names, rows), args, status, want = DIFF_CASES[case]
    a, b = run(names, rows), run(NAMES, want.get("ref", ROWS))
    returncode, stdout, stderr = quorvel("diff", a, b, "--json", "--all", *args)
    report = json.loads(stdout)
    assert (returncode, stderr, report["ok"], report["out"]) == (status, "", status == 0, want["out"])
    if "first" in want:
        worst = report["parameters"][0]
        assert (worst["position_a"], worst["first_out_block"], worst["first_out_time"]) == want["first"]
        assert worst["nan_vs_number"] == want.get("nan", 0) and worst["points_out"] == 1
    assert [[n["name"], n["position"]] for n in report["only_in_a"]] == want.get("only_a", [])
    assert [[n["name"], n["position"]] for n in report["only_in_b"]] == want.get("only_b", [])
    assert report["interpolated"] == ("overlap" in want or "not_increasing" in want)
    assert report["overlap"] == want.get("overlap") and report["not_increasing"]["a"] == want.get("not_increasing")
    assert report["blocks"]["compared"] == want.get("compared", len(rows))
    assert report["blocks"]["left_out"] == want.get("left_out", {"a": 0, "b": 0})
    assert report["overlap_only"] == ("--overlap-only" in args)


def test_diff_table_worst_first_and_failures(run, tmp_path):
    a = run(NAMES, ROWS)
    b = run(*edited({(1, 1): 1.1, (2, 2): 2.5, (3, 3): 3.000001}))
    returncode, stdout, _ = quorvel("diff", a, b)
    lines = stdout.splitlines()
    assert returncode == 1 and lines[2] == "the first columns are identical: compared block by block"
    assert [line.split()[:2] for line in lines[4:7]] == [["position", "name"], ["2", "Y"], ["1", "X"]]
    assert lines[-1] == "2 of 3 parameters differ beyond atol 0 + rtol 1e-05 × |b|"
    assert len(quorvel("diff", a, b, "--all")[1].splitlines()) == len(lines) + 1
    assert quorvel("diff", a, b, "--rtol", "1e308")[::2] == (0, "")  # no overflow warning
    missing = str(tmp_path / "none.plt")
    assert quorvel("diff", a, missing) == (1, "", f"quorvel: {missing}: No such file or directory\n")
    assert quorvel("diff", a, b, "NOPE") == (1, "", f"quorvel: 'NOPE' is not a parameter name of {a} or {b}\n")
    assert quorvel("diff", W12, W15, "--json")[0] == 0  # the same run written at widths 12 and 15
    for args in (["diff", a, b, "--rtol", "-1"], ["diff", "-", "-"], ["diff", a]):
        assert quorvel(*args)[:2] == (2, "")


COVER = [[t, 2 * t, 1] for t in range(10)]
# A's rows, B's rows, blocks compared, blocks of A and of B left out, ok without and with the
# overlap only: a run that stopped early or started late passes only when the overlap is asked for.
COVERAGE = {
    "A shorter": (COVER[:3], COVER, 3, 0, 7, (False, True)),
    "B shorter": (COVER, COVER[:3], 3, 7, 0, (False, True)),
    "B starts later": (COVER, COVER[4:], 6, 4, 0, (False, True)),
    "both equal": (COVER, COVER, 10, 0, 0, (True, True)),
    "disjoint": (COVER[:4], COVER[6:], 0, 4, 4, (False, False)),
}


@pytest.mark.parametrize("overlap_only", [False, True])
@pytest.mark.parametrize("case", COVERAGE)
def test_blocks_left_out(run, case, overlap_only):
    rows_a, rows_b, compared, left_a, left_b, oks = COVERAGE[case]
    a, b = run(["TIME", "X", "Y"], rows_a), run(["TIME", "X", "Y"], rows_b)
    ok, status, flag = oks[overlap_only], int(not oks[overlap_only]), ["--overlap-only"] if overlap_only else []
    result = qa.compare(a, b, overlap_only=overlap_only)
    assert (result.blocks_compared, result.left_out_a, result.left_out_b, result.ok) == (compared, left_a, left_b, ok)
    returncode, stdout, stderr = quorvel("diff", a, b, "--json", *flag)
    report = json.loads(stdout)
    assert (returncode, stderr, report["ok"], report["overlap_only"]) == (status, "", ok, overlap_only)
    assert report["blocks"] == {"a": len(rows_a), "b": len(rows_b), "compared": compared, "left_out": {"a": left_a, "b": left_b}}
    returncode, stdout, stderr = quorvel("diff", a, b, *flag)
    lines = stdout.splitlines()
    left = f"left out: {left_a} of A's {len(rows_a)} blocks and {left_b} of B's {len(rows_b)}"
    assert [line for line in lines if line.startswith("left out")] == (
        [left + " (--overlap-only)" * overlap_only] if left_a + left_b else [])
    verdict = "all 2 parameters compared are within atol 0 + rtol 1e-05 × |b|" if compared else "not compared"
    if left_a + left_b and not overlap_only:
        verdict += f"; {left_a + left_b} blocks were left out"
    assert (returncode, stderr, lines[-1]) == (status, "", verdict)


@pytest.mark.filterwarnings("error")
@pytest.mark.parametrize("rtol, atol", [(1e308, 0.0), (1e308, 1e308), (0.0, 1.7e308), (numpy.finfo(float).max, 0.0)])
def test_huge_tolerances(rtol, atol):
    # Finite points are all within; an infinity against a number and a NaN against one are not.
    a = plot([[0, 1], [1, 3e38], [2, INF], [3, NAN], [4, -INF], [5, 3e38]])
    b = plot([[0, -1], [1, -3e38], [2, 1], [3, 0], [4, -INF], [5, -1e-45]])
    (each,) = qa.compare(a, b, rtol=rtol, atol=atol).differences
    assert (each.points_out, each.nan_vs_number, each.first_out_block, each.max_abs) == (2, 1, 2, INF)


@pytest.mark.parametrize("a, b", [("-", "/dev/stdin"), ("/dev/stdin", "/dev/stdin")])
def test_diff_reads_one_pipe_once(a, b):
    # Two readers of one pipe would share its bytes out: "the file is empty", or a false defect.
    blocks = len(qa.read(W12))
    with open(W12, "rb") as source:
        piped = subprocess.run([sys.executable, "-m", "quorvel_arrays", "diff", a, b, "--json"],
                               input=source.read(), capture_output=True, timeout=120)
    report = json.loads(piped.stdout)
    assert (piped.returncode, piped.stderr, report["ok"]) == (0, b"", True)
    assert report["blocks"] == {"a": blocks, "b": blocks, "compared": blocks, "left_out": {"a": 0, "b": 0}}


def test_compare_reads_one_file_once(run, tmp_path, monkeypatch):
    a = run(NAMES, ROWS)
    os.symlink(a, tmp_path / "link.plt")
    monkeypatch.setattr(_compare, "read_many", None)  # the two-file read is not taken
    result = qa.compare(a, tmp_path / "link.plt")
    assert (result.ok, result.blocks_a, result.blocks_b) == (True, len(ROWS), len(ROWS))


def test_plot_of_several_runs(tmp_path):
    pytest.importorskip("matplotlib")
    shifted = qa.read(W15, columns=[0, "X", "V"])
    shifted.values[:, 0] += 0.1
    runs = [("base", qa.read(W12, columns=[0, "X", "V"])), ("new", shifted)]
    figure = _figure.build(runs, overlay=False, width=6, height=None, dpi=50)
    for axes, name in zip(figure.axes, ["X", "V"], strict=True):
        assert [line.get_label() for line in axes.get_lines()] == ["base", "new"]
        assert [text.get_text() for text in axes.get_legend().get_texts()] == ["base", "new"]
        assert axes.get_ylabel() == name and numpy.array_equal(axes.get_lines()[1].get_xdata(), shifted.time)
    overlay = _figure.build(runs, overlay=True, width=6, height=None, dpi=50).axes
    assert [line.get_label() for line in overlay[0].get_lines()] == ["base: X", "new: X", "base: V", "new: V"]
    out = tmp_path / "runs.svg"
    assert quorvel("plot", W12, W15, "-n", "X", "-n", "ENERGY", "--labels", "run A,run B", "-o", out)[::2] == (0, "")
    drawn = out.read_text()
    assert all(drawn.count(f"<!-- {label} -->") == 2 for label in ("run A", "run B"))
    assert quorvel("plot", W12, W15, "-n", "X", "-o", out)[0] == 0
    assert "<!-- oscillator_w15 -->" in out.read_text()
    assert quorvel("plot", W12, W15, "-n", "X", "--labels", "one", "-o", out)[2].endswith(
        "error: --labels needs one label per FILE (2), not 1\n")
