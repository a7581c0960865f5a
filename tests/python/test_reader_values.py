"""The values the reader gives, through the module: exact widening, shapes, line ends."""

import math
import struct

import pytest

from conftest import plot_text, read


def bits(value):
    return struct.pack("<d", value)


@pytest.mark.parametrize(
    "text, expected",
    [
        ("0.1", 0.10000000149011612),
        ("1.5E+03", 1500.0),
        ("1.23456E+03", 1234.56005859375),
        ("1.23456789E+03", 1234.56787109375),
        ("16777217", 16777216.0),
        ("16777219", 16777220.0),
        ("3.4028235E+38", 3.4028234663852886e38),
        ("3.4028236E+38", math.inf),
        ("1E-45", 1.401298464324817e-45),
        ("7E-46", 0.0),
        ("-0.0", -0.0),
        ("-inf", -math.inf),
        ("Infinity", math.inf),
        (" -1.23456E-02", -0.012345599941909313),
        ("\u00a0 5.\u3000", 5.0),
        ("1.000000059604644775390625", 1.0),
    ],
)
def test_values_widened_exactly(plot_file, text, expected):
    path = plot_file(b"H 1\na\n--\n" + text.encode() + b"\n")
    width = len(text.encode())
    (first, others) = read(path, width)
    assert others == []
    assert bits(first[0]) == bits(expected)


@pytest.mark.parametrize("text, sign", [("nan", 0), ("-NaN", 1)])
def test_nan_stays_nan_with_its_sign(plot_file, text, sign):
    first, _ = read(plot_file(f"H 1\na\n--\n{text}\n"), len(text))
    assert math.isnan(first[0])
    assert math.copysign(1.0, first[0]) == (-1.0 if sign else 1.0)


def block(n, base):
    return [f"{base + j}.5" for j in range(n)]


@pytest.mark.parametrize("n", [1, 2, 9, 10, 11, 13, 20, 21])
@pytest.mark.parametrize("width", [12, 15])
def test_shapes(plot_file, n, width):
    blocks = [block(n, 100 * b) for b in range(3)]
    first, others = read(plot_file(plot_text(n, blocks, width)), width)
    assert first == [0.5, 100.5, 200.5]
    assert len(others) == n - 1
    for i, column in enumerate(others):
        assert column == [100 * b + i + 1 + 0.5 for b in range(3)]


@pytest.mark.parametrize("n", [1, 2, 11])
def test_no_blocks(plot_file, n):
    assert read(plot_file(plot_text(n, [])), 12) == ([], [[] for _ in range(n - 1)])


def test_crlf_equals_lf(plot_file):
    blocks = [block(13, 7 * b) for b in range(4)]
    lf = read(plot_file(plot_text(13, blocks, 12)), 12)
    crlf = read(plot_file(plot_text(13, blocks, 12, line_end="\r\n")), 12)
    assert lf == crlf
    assert len(lf[0]) == 4


def test_separator_and_trailing_bytes_are_ignored(plot_file):
    content = "H x y 2\n\nb\n\u00e9\u00e9 anything \u2028\n  1.0  2.0 trailing\n\n  3.0  4.0\n"
    assert read(plot_file(content), 5) == ([1.0, 3.0], [[2.0, 4.0]])


def test_header_forms(plot_file):
    for header in ["     3", "x y 3", "+3", "0003", "\ufeff 3", "3\u00a0"]:
        assert read(plot_file(f"{header}\na\n\n   \n"), 12) == ([], [[], []])


def test_last_line_needs_no_line_feed(plot_file):
    assert read(plot_file("H 1\na\n--\n 2.5"), 4) == ([2.5], [])


def test_results_are_new_objects_every_call(plot_file):
    path = plot_file(plot_text(3, [block(3, 0)]))
    one, two = read(path, 12), read(path, 12)
    assert one == two
    assert one is not two
    assert one[0] is not two[0] and one[1] is not two[1] and one[1][0] is not two[1][0]
    assert type(one) is tuple and len(one) == 2
    assert all(type(v) is float for v in one[0])


def test_large_width_version_nine_digits(plot_file):
    values = ["1.23456789E+03", "-9.87654321E-05"]
    first, others = read(plot_file(plot_text(2, [values], 15)), 15)
    assert first == [1234.56787109375]
    assert others == [[struct.unpack("<f", struct.pack("<f", -9.87654321e-05))[0]]]
