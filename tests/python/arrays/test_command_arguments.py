"""The argparse number types of the command, one factory behind them all: the bounds, what is
not a number, NaN and the infinities."""

import argparse

import pytest

from quorvel_arrays._command import arguments, diff, watch

MAX = 2**63 - 1
TYPES = {
    "field_width": (arguments.field_width, f"a whole number from 1 to {MAX}"),
    "positive": (arguments.positive_float, "a number > 0"),
    "resolution": (arguments.resolution, "a number from 10 to 10000"),
    "tolerance": (diff.tolerance, "a number >= 0"),
    "seconds": (watch.seconds, "a number of seconds >= 0"),
}


@pytest.mark.parametrize("kind, text, value", [
    ("field_width", "1", 1), ("field_width", str(MAX), MAX), ("field_width", " 12 ", 12),
    ("positive", "5e-324", 5e-324), ("positive", "1e308", 1e308),
    ("resolution", "10", 10.0), ("resolution", "10000", 10000.0),
    ("tolerance", "0", 0.0), ("tolerance", "-0", 0.0), ("seconds", "0.25", 0.25),
])
def test_accepted(kind, text, value):
    parsed = TYPES[kind][0](text)
    assert parsed == value and type(parsed) is type(value)


@pytest.mark.parametrize("kind, text", [
    ("field_width", "0"), ("field_width", str(MAX + 1)), ("field_width", "12.0"), ("field_width", ""),
    ("positive", "0"), ("positive", "inf"), ("positive", "nan"), ("positive", "-1"), ("positive", "x"),
    ("resolution", "9.99"), ("resolution", "10000.5"), ("resolution", "nan"),
    ("tolerance", "-1e-300"), ("tolerance", "inf"), ("tolerance", "nan"), ("seconds", "1 s"),
])
def test_refused_with_the_bounds(kind, text):
    parse, wanted = TYPES[kind]
    with pytest.raises(argparse.ArgumentTypeError) as caught:
        parse(text)
    assert str(caught.value) == f"must be {wanted}, not {text!r}"
