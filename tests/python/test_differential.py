"""The module against the plain model of the format (plot_model.py) on generated files, valid and
corrupted: both give the same columns, or the same failure message."""

import os
import struct
import tempfile

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from conftest import failure_cases, panic_exception_type, read
from plot_model import read_model

WORK_DIR = tempfile.mkdtemp(prefix="quorvel-differential-")
PATH = os.path.join(WORK_DIR, "generated.plt")

WIDTHS = st.sampled_from([12, 15, 12, 15, 4, 7, 1, 0])
NUMBER_TEXTS = st.one_of(
    st.floats(width=32, allow_nan=False).map(lambda v: f"{v:.6E}"),
    st.floats(width=32, allow_nan=False).map(lambda v: f"{v:.9E}"),
    st.floats(allow_nan=False, allow_infinity=False).map(repr),
    st.integers(-10**30, 10**30).map(str),
    st.builds(lambda m, e: f"{m}e{e}", st.integers(-10**20, 10**20), st.integers(-70, 60)),
    st.sampled_from(["inf", "-Infinity", "NaN", "-nan", "-0", ".5", "5.", "1.5D+00", "1e", "+",
                     "", "1.0-100", "0x10", "1_0", "--1", "\u00a05.25\u3000", "1 2", "é", "€1",
                     "e\u0301", "\u3000\u3000", "😀", "7\u2028"]),
)
SEPARATORS = st.sampled_from(["", " BLOCK", "anything at all", "\u2028", "é€😀"])


def field(text, width):
    """Right-aligned in `width` bytes when it fits; left as it is otherwise (the line shifts)."""
    size = len(text.encode())
    return " " * (width - size) + text if size < width else text


@st.composite
def plot_files(draw):
    width = draw(WIDTHS)
    n = draw(st.integers(1, 23))
    header = draw(st.sampled_from(["PLOT", "", "x y", "\u3000", "count:"]))
    count_text = draw(st.sampled_from([str(n), f"+{n}", f"00{n}", f"{n}", f"{n}"]))
    lines = [f"{header} {count_text}"]
    lines += [draw(st.sampled_from(["Time", "", "  NAME  (s)", "é"])) for _ in range(n)]
    for _ in range(draw(st.integers(0, 4))):
        lines.append(draw(SEPARATORS))
        values = [field(draw(NUMBER_TEXTS), width) for _ in range(n)]
        for start in range(0, n, 10):
            lines.append("".join(values[start:start + 10]) + draw(st.sampled_from(["", "", " tail"])))
    ending = draw(st.sampled_from(["\n", "\r\n"]))
    data = (ending.join(lines) + draw(st.sampled_from([ending, ""]))).encode()
    return data, width


@st.composite
def corrupted(draw):
    data, width = draw(plot_files())
    for _ in range(draw(st.integers(1, 3))):
        kind = draw(st.sampled_from(["truncate", "byte", "drop line", "crlf", "insert"]))
        if kind == "truncate" and data:
            data = data[:draw(st.integers(0, len(data) - 1))]
        elif kind == "byte":
            at = draw(st.integers(0, len(data)))
            bad = draw(st.sampled_from([b"\xff", b"\xc3", b"\xed\xa0\x80", b"\xc0\xaf", b"\x80", b"\xf4\x90\x80\x80"]))
            data = data[:at] + bad + data[at:]
        elif kind == "drop line":
            lines = data.split(b"\n")
            if len(lines) > 1:
                del lines[draw(st.integers(0, len(lines) - 1))]
            data = b"\n".join(lines)
        elif kind == "crlf":
            data = data.replace(b"\n", b"\r\n")
        else:
            at = draw(st.integers(0, len(data)))
            data = data[:at] + draw(st.sampled_from(["x", " ", "é", "\r", "\n", "9"])).encode() + data[at:]
    return data, width


def same(module_value, model_value):
    return struct.pack("<d", module_value) == struct.pack("<d", model_value)


def check(data, width, capfd):
    with open(PATH, "wb") as stream:
        stream.write(data)
    capfd.readouterr()
    expected, expected_out = read_model(data, width)
    try:
        got = read(PATH, width)
    except panic_exception_type() as failure:
        got = failure.args[0]
    out = capfd.readouterr().out
    if isinstance(expected, str):
        assert got == expected
    else:
        assert isinstance(got, tuple), got
        (first, others), (model_first, model_others) = got, expected
        assert len(first) == len(model_first) and len(others) == len(model_others)
        assert all(map(same, first, model_first))
        for column, model_column in zip(others, model_others):
            assert len(column) == len(model_column)
            assert all(map(same, column, model_column))
    assert out == expected_out


COMMON = settings(max_examples=300, deadline=None,
                  suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])


@COMMON
@given(plot_files())
def test_generated_files(capfd, case):
    check(*case, capfd)


@COMMON
@given(corrupted())
def test_corrupted_files(capfd, case):
    check(*case, capfd)


@pytest.mark.parametrize(
    "data, width",
    [
        (b"H 3\na\nb\nc\n--\n  1.0  2.0  3.0\n", 5),
        (b"H 3 x\n", 12),
        (b"", 12),
        (b"H 1\na\n--\n\xff\n", 12),
        (b"H 2\na\nb\n--\n1234567890\xc3\xa9\n", 11),
        (b"H 1\na\n--\n 1.000000059604644775390625000000000000001\n", 43),
    ],
)
def test_model_and_module_agree_on_known_cases(capfd, data, width):
    check(data, width, capfd)


@pytest.mark.parametrize("width, content, message", failure_cases())
def test_model_gives_every_tabled_failure(width, content, message):
    assert read_model(content, width) == (message, "")


def test_model_recognises_failures():
    # The model must not agree by accident: it produces failures and values of its own.
    assert read_model(b"", 12) == ("Failed ot read line!", "")
    assert read_model(b"H 1\na\n--\n 0.1\n", 4)[0] == ([0.10000000149011612], [])
