"""The argparse types of the command's arguments: numbers within bounds, parameter names or
positions, labels."""

from __future__ import annotations

import argparse
import math
import re
from collections.abc import Callable

from .._plot import MAX_N_DIGITS, ParameterKey

# Below 10 pixels per inch a font gets no pixel at all.
MIN_DPI, MAX_DPI = 10.0, 10_000.0
POSITION = re.compile(r"-?[0-9]+")


def number[T: (int, float)](kind: Callable[[str], T], accepts: Callable[[T], bool], wanted: str) -> Callable[[str], T]:
    """An argparse type: the text as `kind` when `accepts` takes it, else refused as "must be
    `wanted`" (text that is no number at all is refused the same way)."""

    def parse(text: str) -> T:
        try:
            value = kind(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"must be {wanted}, not {text!r}") from None
        if not accepts(value):
            raise argparse.ArgumentTypeError(f"must be {wanted}, not {text!r}")
        return value

    return parse


def non_negative(noun: str) -> Callable[[str], float]:
    """A finite number >= 0, refused as "must be a `noun` >= 0"."""
    return number(float, lambda value: 0.0 <= value < math.inf, f"a {noun} >= 0")


field_width = number(int, lambda value: 1 <= value <= MAX_N_DIGITS, f"a whole number from 1 to {MAX_N_DIGITS}")
positive_float = number(float, lambda value: 0.0 < value < math.inf, "a number > 0")
worker_count = number(int, lambda value: value >= 1, "a whole number >= 1")
resolution = number(float, lambda value: MIN_DPI <= value <= MAX_DPI, f"a number from {MIN_DPI:g} to {MAX_DPI:g}")


def parameter_key(text: str) -> ParameterKey:
    """A parameter name, or a position when the text is a whole number."""
    return int(text) if POSITION.fullmatch(text) else text


def parameter_keys(text: str) -> tuple[ParameterKey, ...]:
    items = [item.strip() for item in text.split(",")]
    if "" in items:
        raise argparse.ArgumentTypeError(f"empty name in {text!r}")
    return tuple(parameter_key(item) for item in items)


def labels(text: str) -> tuple[str, ...]:
    items = tuple(item.strip() for item in text.split(","))
    if "" in items:
        raise argparse.ArgumentTypeError(f"empty label in {text!r}")
    return items
