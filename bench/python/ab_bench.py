#!/usr/bin/env python3
"""A/B of two builds of the modules in one run: this checkout's and an earlier commit's, on the
same generated files, in fresh child processes that alternate (base, new, new, base, ...), so that
the machine's drift hits both alike. Prints every round, the medians with the fastest and slowest
round, and each ratio of medians with the lowest and highest ratio of one round's pair.

    PYTHONPATH=bench/python python3.14 bench/python/ab_bench.py --base build/bench-ab/REV/py
        --new build/benchpy [--base-cpp BIN --new-cpp BIN] [--width 12|15|both] [--rounds R]
        [--reads K] [--size medium]

Each child imports one build and times, alternately, K times each (the median kept):
quorvel_arrays.read on one thread, on two and of the last 50 blocks, quorvel.rust_read_kavrine, the floor (read the bytes,
build the lists from columns parsed beforehand) and the control of the threads row (hashing two
buffers of the file's size on one thread, then on two), and what no read avoids: the copy of the
file out of the page cache (256 KiB positional reads) and a fresh matrix's pages. Every child first checks its matrix against
the generator's values, bit for bit. With --base-cpp and --new-cpp, the C++ reader benchmarks of the
two builds run alternately on the same file too (MB per CPU second).

The targets of issue 28 are printed beside the ratios; the numbers are printed, never judged.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_DATA = os.path.join(HERE, "..", "..", "build", "bench-data")

CHILD = r"""
import gc, hashlib, json, mmap, os, statistics, sys, time, concurrent.futures
build, bench, path, truth, width, reads = sys.argv[1:7]
width, reads = int(width), int(reads)
sys.path[:0] = [build, bench]
import numpy as np
import quorvel, quorvel_arrays, readers
want = np.load(truth)
if not np.array_equal(quorvel_arrays.read(path, width).values.view(np.uint32), want.view(np.uint32)):
    sys.exit("DISAGREEMENT: quorvel_arrays.read differs from the generated values")
floor = readers.Floor(truth)
buffer = bytes(len(open(path, "rb").read()))
def copied():
    # What every read pays before it parses: the copy out of the page cache, as the scan reads.
    piece, at = bytearray(256 << 10), 0
    with open(path, "rb", buffering=0) as stream:
        while got := os.preadv(stream.fileno(), [piece], at):
            at += got
def matrix():
    # ...and its matrix's fresh pages, each touched once: mapped anew, as the reader's are, where
    # np.empty would reuse the pages a read before it freed.
    pages = mmap.mmap(-1, want.nbytes, flags=mmap.MAP_PRIVATE | mmap.MAP_ANONYMOUS)
    pages.madvise(mmap.MADV_HUGEPAGE)
    values = np.frombuffer(pages, np.float32)
    values.fill(1)
    del values
    pages.close()
def hashed(threads):
    with concurrent.futures.ThreadPoolExecutor(threads) as pool:
        return list(pool.map(lambda _: hashlib.sha256(buffer).digest(), range(2)))
work = {
    "arrays": lambda: quorvel_arrays.read(path, width),
    "arrays threads=2": lambda: quorvel_arrays.read(path, width, threads=2),
    "arrays last 50": lambda: quorvel_arrays.read(path, width, blocks=slice(-50, None)),
    "module": lambda: quorvel.rust_read_kavrine(path, width),
    "floor": lambda: floor(path, width),
    "hash 1": lambda: hashed(1),
    "hash 2": lambda: hashed(2),
    "copy": copied,
    "matrix": matrix,
}
times = {name: [] for name in work}
for _ in range(reads):
    for name, call in work.items():
        gc.collect()
        start = time.perf_counter()
        result = call()
        times[name].append(time.perf_counter() - start)
        del result
print(json.dumps({name: statistics.median(values) for name, values in times.items()}))
"""


def child(build, path, truth, width, reads):
    out = subprocess.run([sys.executable, "-c", CHILD, build, HERE, path, truth, str(width), str(reads)],
                         capture_output=True, text=True)
    if out.returncode != 0:
        sys.exit(f"child for {build} failed:\n{out.stderr}")
    return json.loads(out.stdout)


def cpp_rates(binary, path, width):
    """{benchmark: MB per CPU second} of one run of the C++ reader benchmarks on this file."""
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "rates.json")
        environment = dict(os.environ, **{f"QUORVEL_BENCH_FILE_W{width}": path})
        subprocess.run([binary, f"--benchmark_filter=^BM_(Reader|ArrayReader|ReaderFloor)/{width}(/|$)", "--benchmark_min_time=1s",
                        f"--benchmark_out={out}", "--benchmark_out_format=json"], env=environment, check=True,
                       stdout=subprocess.DEVNULL)
        with open(out) as stream:
            results = json.load(stream)["benchmarks"]
    return {result["name"].split("/")[0]: result["MB/s"] for result in results}


def spread(values):
    return f"{statistics.median(values):.4f} ({min(values):.4f}-{max(values):.4f})"


def ratio(a, b):
    """Ratio of the medians, and the lowest and highest ratio of one round's pair."""
    per_round = [x / y for x, y in zip(a, b)]
    return f"{statistics.median(a) / statistics.median(b):.2f} (rounds {min(per_round):.2f}-{max(per_round):.2f})"


def run_width(width, options):
    import plotgen

    parameters, blocks = plotgen.SIZES[options.size]
    path, truth = plotgen.plot_file(options.data, parameters, blocks, width)
    megabytes = os.path.getsize(path) / 1e6
    print(f"\nwidth {width}: {parameters} x {blocks}, {megabytes:.0f} MB; {options.rounds} rounds of a fresh child per "
          f"build, {options.reads} reads each (median)", flush=True)
    results = {"base": [], "new": []}
    for round_index in range(options.rounds):
        order = ("base", "new") if round_index % 2 == 0 else ("new", "base")
        for build in order:
            results[build].append(child(getattr(options, build), path, truth, width, options.reads))
        print(f"  round {round_index + 1}: " + "   ".join(
            f"{build} arrays {results[build][-1]['arrays']:.4f} module {results[build][-1]['module']:.4f}"
            for build in ("base", "new")) + f"   (load average {os.getloadavg()[0]:.2f})", flush=True)

    def series(build, name):
        return [r[name] for r in results[build]]

    print(f"  {'build':<6} {'reader':<18} {'median s (min-max)':>26}")
    for build in ("base", "new"):
        for name in ("arrays", "arrays threads=2", "arrays last 50", "module", "floor", "copy", "matrix"):
            print(f"  {build:<6} {name:<18} {spread(series(build, name)):>26}")
    print(f"  arrays new: {megabytes / statistics.median(series('new', 'arrays')):.0f} MB/s on one thread")
    print(f"  ratio (time) arrays base/new, one thread:      {ratio(series('base', 'arrays'), series('new', 'arrays'))}   target >= 3")
    bare = [c + m for c, m in zip(series("new", "copy"), series("new", "matrix"))]
    print(f"  ratio (time) arrays base/(copy + matrix):      {ratio(series('base', 'arrays'), bare)}"
          "   the most a one-thread read can gain: its parse at no cost")
    print(f"  ratio (time) new read/read(threads=2):         {ratio(series('new', 'arrays'), series('new', 'arrays threads=2'))}"
          f"   target >= 1.8; control hash 1/hash 2 {ratio(series('new', 'hash 1'), series('new', 'hash 2'))}")
    for name in ("arrays threads=2", "arrays last 50"):
        print(f"  ratio (time) {name + ' base/new:':<33}{ratio(series('base', name), series('new', name))}")
    print(f"  ratio (time) module new/floor:                 {ratio(series('new', 'module'), series('new', 'floor'))}   target <= 1.10")
    print(f"  ratio (time) module base/floor:                {ratio(series('base', 'module'), series('base', 'floor'))}")
    print(f"  ratio (time) module base/new:                  {ratio(series('base', 'module'), series('new', 'module'))}   target >= 1")

    if options.base_cpp and options.new_cpp:
        print(f"  C++ reader benchmarks, alternately, {options.cpp_rounds} rounds (MB per CPU second):", flush=True)
        rates = {"base": [], "new": []}
        for round_index in range(options.cpp_rounds):
            order = ("base", "new") if round_index % 2 == 0 else ("new", "base")
            for build in order:
                rates[build].append(cpp_rates(getattr(options, f"{build}_cpp"), path, width))
        for name in ("BM_Reader", "BM_ArrayReader"):
            base = [r[name] for r in rates["base"]]
            new = [r[name] for r in rates["new"]]
            print(f"  {name}/{width}: base {statistics.median(base):.0f} ({min(base):.0f}-{max(base):.0f}), new "
                  f"{statistics.median(new):.0f} ({min(new):.0f}-{max(new):.0f}); new/base {ratio(new, base)}   target >= 2.5")
        floor = [r["BM_ReaderFloor"] for r in rates["new"]]
        print(f"  BM_ReaderFloor/{width}: {statistics.median(floor):.0f} ({min(floor):.0f}-{max(floor):.0f}); floor/BM_Reader base "
              f"{ratio(floor, [r['BM_Reader'] for r in rates['base']])}   the most the list reader can gain: its parse at no cost")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--base", required=True, help="the earlier build's module folder")
    parser.add_argument("--new", required=True, help="this checkout's module folder")
    parser.add_argument("--base-cpp", help="the earlier build's C++ benchmark binary")
    parser.add_argument("--new-cpp", help="this checkout's C++ benchmark binary")
    parser.add_argument("--width", choices=["12", "15", "both"], default="both")
    parser.add_argument("--size", choices=["small", "medium", "large"], default="medium")
    parser.add_argument("--rounds", type=int, default=6, help="fresh children per build (default 6)")
    parser.add_argument("--reads", type=int, default=5, help="reads per reader in a child (default 5)")
    parser.add_argument("--cpp-rounds", type=int, default=3, help="runs of each C++ benchmark binary (default 3)")
    parser.add_argument("--data", default=DEFAULT_DATA)
    options = parser.parse_args()
    print(f"A/B: base {options.base}, new {options.new}; {os.cpu_count()} cores, load average "
          f"{os.getloadavg()[0]:.2f}", flush=True)
    for width in ([12, 15] if options.width == "both" else [int(options.width)]):
        run_width(width, options)


if __name__ == "__main__":
    main()
