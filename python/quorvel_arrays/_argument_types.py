"""Argument types the command's sub-commands share."""

from __future__ import annotations

import argparse
import math
from collections.abc import Callable


def non_negative(noun: str) -> Callable[[str], float]:
    """An argparse type: a finite number >= 0, refused as "must be a `noun` >= 0"."""

    def parse(text: str) -> float:
        try:
            value = float(text)
        except ValueError:
            value = -1.0
        if not 0.0 <= value < math.inf:
            raise argparse.ArgumentTypeError(f"must be a {noun} >= 0, not {text!r}")
        return value

    return parse
