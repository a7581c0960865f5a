"""`quorvel info FILE...`: what each file holds, from a scan and its first and last blocks."""

from __future__ import annotations

import argparse
import os
import stat
import sys
from typing import Any

from .._plot import Plot, read
from .._plot_file import PlotFile
from .progress import Progress
from .shared import FILE_ERRORS, Command, describe, input_paths
from .streams import STANDARD_OUTPUT
from .text import dump, json_value, value_text


def add_parser(command: Command) -> None:
    info = command("info", "what a file holds", "For each file: parameters, blocks, field width, "
                   "the first column at the first and the last block, and the file's size. The file "
                   "is scanned, not parsed: only its first and last blocks are read.")
    info.add_argument("files", nargs="+", metavar="FILE")
    info.add_argument("--names", action="store_true", help="also list the parameter names with their positions")
    info.add_argument("--json", action="store_true", help="one JSON object per file, one per line")
    info.set_defaults(run=run_info)


def run_info(args: argparse.Namespace) -> int:
    files = input_paths(args.files)
    progress = Progress(len(files), sys.stderr)
    status = 0
    try:
        for file in files:
            progress.advance(file)
            try:
                facts = info_facts(file, args.n_digits, args.names)
            except FILE_ERRORS as error:
                progress.say(describe(file, error) + "\n", sys.stderr)
                status = 1
                continue
            progress.say(dump(facts) + "\n" if args.json else info_text(facts), STANDARD_OUTPUT)
    finally:
        progress.close()
    return status


def info_facts(file: str, n_digits: int | None, names: bool) -> dict[str, Any]:
    """What `info` tells of a file. A regular file is scanned (no value parsed) and only its first
    and last blocks are read, so the time taken does not grow with more than the scan's; a pipe
    cannot be read in ranges and is read whole."""
    if stat.S_ISREG(os.stat(file).st_mode):
        with PlotFile(file, n_digits) as plot_file:
            header, all_names, width = plot_file.header, plot_file.names, plot_file.n_digits
            blocks, size = len(plot_file), plot_file.size
            ends: list[Plot] = [plot_file[:1], plot_file[-1:]] if blocks else []
        if ends:
            width = ends[0].n_digits
        start, end = (ends[0].time[0], ends[1].time[0]) if ends else (None, None)
    else:
        plot = read(file, n_digits)
        header, all_names, width, blocks, size = plot.header, plot.names, plot.n_digits, len(plot), None
        start, end = (plot.time[0], plot.time[-1]) if blocks else (None, None)
    facts: dict[str, Any] = {
        "path": file,
        "header": header,
        "parameters": len(all_names),
        "blocks": blocks,
        # A file without blocks has no value line to find the width from.
        "n_digits": width if width else None,
        "n_digits_found": n_digits is None,
        # The first column at the first and the last block: its range when it increases, as time
        # does; the minimum and maximum would need every block read.
        "first": {
            "name": all_names[0],
            "start": None if start is None else json_value(start),
            "end": None if end is None else json_value(end),
        },
        "size": size,
    }
    if names:
        facts["names"] = list(all_names)
    return facts


def info_text(facts: dict[str, Any]) -> str:
    first = facts["first"]
    if facts["blocks"]:
        # JSON has null for NaN: the text shows it.
        start, end = ("nan" if first[k] is None else value_text(first[k]) for k in ("start", "end"))
        span = f"{start} to {end}"
    else:
        span = "no blocks"
    if facts["n_digits"] is None:
        width = "unknown (no blocks)"
    else:
        width = f"{facts['n_digits']} ({'found in the file' if facts['n_digits_found'] else 'given'})"
    size = "unknown (not a regular file)" if facts["size"] is None else f"{facts['size']:,} bytes"
    lines = [
        facts["path"],
        f"  header        {facts['header']}",
        f"  parameters    {facts['parameters']}",
        f"  blocks        {facts['blocks']}",
        f"  width         {width}",
        f"  first column  {first['name']}: {span}",
        f"  size          {size}",
    ]
    if "names" in facts:
        digits = len(str(len(facts["names"]) - 1))
        lines.append("  names")
        lines.extend(f"    {position:>{digits}}  {name}" for position, name in enumerate(facts["names"]))
    return "\n".join(lines) + "\n\n"
