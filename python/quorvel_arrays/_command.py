"""The entry point of the `quorvel` command: says in one line when numpy (or the compiled reader)
is missing, where importing the command itself would end in a traceback."""

from __future__ import annotations

import sys
from collections.abc import Sequence


def main(argv: Sequence[str] | None = None) -> int:
    try:
        import numpy  # noqa: F401
    except ImportError:
        from ._optional import missing

        print(f"quorvel: {missing('quorvel', 'numpy', 'arrays')}", file=sys.stderr)
        return 1
    try:
        from ._cli import main as run
    except ImportError as error:
        print(f"quorvel: {error}", file=sys.stderr)
        return 1
    return run(argv)
