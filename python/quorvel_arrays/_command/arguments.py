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
# Each worker is a process of its own (about 100 MB before it reads anything): a mistyped count
# must not start thousands.
MAX_WORKERS = 256
# A Dask scheduler's address: a host (a name, an IPv4 address or a bracketed IPv6 one) and a port,
# over TCP, with or without TLS. Anything else is a typing slip, which the client would take a minute
# to fail on, with a trace.
SCHEDULER = re.compile(r"(?:(?:tcp|tls)://)?(?:[A-Za-z0-9._-]+|\[[0-9A-Fa-f:.]+\]):([0-9]{1,5})")


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
worker_count = number(int, lambda value: 1 <= value <= MAX_WORKERS, f"a whole number from 1 to {MAX_WORKERS}")
resolution = number(float, lambda value: MIN_DPI <= value <= MAX_DPI, f"a number from {MIN_DPI:g} to {MAX_DPI:g}")


def scheduler_address(text: str) -> str:
    found = SCHEDULER.fullmatch(text)
    if found is None or not 1 <= int(found[1]) <= 65535:
        raise argparse.ArgumentTypeError(f"must be HOST:PORT, tcp://HOST:PORT or tls://HOST:PORT, not {text!r}")
    return text


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
