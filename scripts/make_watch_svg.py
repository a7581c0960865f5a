"""Draws docs/watch.svg, the picture of `quorvel watch`'s terminal view in docs/cli.md: the view
of the bundled sample as rich renders it on a terminal 100 columns wide.

    scripts/toolroot run sh -c 'PYTHONPATH=build/py python3.14 scripts/make_watch_svg.py'
"""

import io
import os

from rich.console import Console

import quorvel_arrays as qa
from quorvel_arrays._command import text, watch_view

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SAMPLE = "samples/oscillator_w12.plt"


def main() -> None:
    seen = watch_view.Seen(named=False, keep_all=False)
    for piece in qa.follow(os.path.join(ROOT, SAMPLE), idle=0):
        seen.add(piece)
    console = Console(file=io.StringIO(), record=True, width=100, force_terminal=True, color_system="truecolor")
    console.print(watch_view.View(seen, SAMPLE, text.value_text))
    console.save_svg(os.path.join(ROOT, "docs", "watch.svg"), title=f"quorvel watch {SAMPLE}")


if __name__ == "__main__":
    main()
