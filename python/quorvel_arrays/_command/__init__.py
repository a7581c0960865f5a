"""The `quorvel` command (also `python -m quorvel_arrays`), one module per sub-command. This entry
point says in one line when numpy is missing, where importing the command itself would end in a
traceback."""

from __future__ import annotations

import sys
from collections.abc import Sequence

from .._optional import MissingLibrary, require


def main(argv: Sequence[str] | None = None) -> int:
    try:
        require("quorvel", "numpy", "arrays")
    except MissingLibrary as error:
        print(f"quorvel: {error}", file=sys.stderr)
        return 1
    from .cli import main as run

    return run(argv)
