#!/usr/bin/env python3
"""Instructions of each reader in two builds, counted by callgrind: repeatable where timings move
with the machine's load. Each reader runs in a child under callgrind, once and then twice; the
difference of the two children's totals is one call's, whatever the interpreter's start costs.

    PYTHONPATH=bench/python python3.14 bench/python/callgrind_ab.py --base build/bench-ab/REV/py
        --new build/benchpy [--width 12|15|both] [--size medium]

The readers: quorvel.rust_read_kavrine, quorvel_arrays.read whole, on two threads, of the last 50
blocks and of one column, quorvel_arrays.scan and a walk of iter_blocks. Threads run one at a time
under callgrind: the two-thread figure is the work of both, not their time.
"""

import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_DATA = os.path.join(HERE, "..", "..", "build", "bench-data")

READS = {
    "module": "quorvel.rust_read_kavrine(path, width)",
    "arrays": "quorvel_arrays.read(path, width)",
    "arrays threads=2": "quorvel_arrays.read(path, width, threads=2)",
    "arrays last 50": "quorvel_arrays.read(path, width, blocks=slice(-50, None))",
    "arrays one column": "quorvel_arrays.read(path, width, columns=[1])",
    "scan": "quorvel_arrays.scan(path, width)",
    "iter_blocks": "sum(len(piece) for piece in quorvel_arrays.iter_blocks(path, width))",
}

CHILD = """
import sys
sys.path[:0] = [sys.argv[1]]
import quorvel, quorvel_arrays
path, width = sys.argv[2], int(sys.argv[3])
for _ in range(int(sys.argv[4])):
    {call}
"""


def instructions(build, path, width, call, repeat):
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable, "-c",
                        CHILD.format(call=call), build, path, str(width), str(repeat)],
                       check=True, capture_output=True, env={**os.environ, "PYTHONHASHSEED": "0"})
        with open(out) as counts:
            for line in counts:
                if line.startswith("summary:") or line.startswith("totals:"):
                    return int(line.split()[1])
    raise RuntimeError("callgrind wrote no total")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--base", required=True)
    parser.add_argument("--new", required=True)
    parser.add_argument("--width", choices=("12", "15", "both"), default="both")
    parser.add_argument("--size", default="medium", choices=("small", "medium"))
    parser.add_argument("--data", default=DEFAULT_DATA)
    options = parser.parse_args()
    import plotgen

    parameters, blocks = {"small": (200, 500), "medium": (2000, 5000)}[options.size]
    for width in (12, 15) if options.width == "both" else (int(options.width),):
        path, _ = plotgen.plot_file(options.data, parameters, blocks, width)
        print(f"\n{parameters} x {blocks}, width {width}: instructions (callgrind), base and new")
        print(f"| reader | base | new | base / new |\n|---|---|---|---|")
        for name, call in READS.items():
            base, new = (instructions(build, path, width, call, 2) - instructions(build, path, width, call, 1)
                         for build in (options.base, options.new))
            print(f"| {name} | {base:,} | {new:,} | {base / new:.2f} |", flush=True)


if __name__ == "__main__":
    main()
