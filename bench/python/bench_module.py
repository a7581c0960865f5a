#!/usr/bin/env python3
"""Times rust_read_kavrine on a large generated plot file (2,000 parameters x 5,000 blocks, for
each field width) next to a plain pure-Python reader giving the same lists, and next to the floor:
reading the file's bytes plus building the same lists from already-parsed array('f') columns.

    PYTHONPATH=build/py python3.14 bench/python/bench_module.py [--params N] [--blocks N]
"""

import argparse
import os
import random
import tempfile
import time
from array import array

import quorvel


def write_file(path, n, blocks, width):
    digits = width - 7
    rng = random.Random(width)
    with open(path, "w") as out:
        out.write(f" KAVRINE PLOT FILE {n}\n")
        out.write("".join(f"  P{i}\n" for i in range(n)))
        for b in range(blocks):
            out.write(f" TIME STEP {b + 1}\n")
            values = [b * 0.01] + [rng.uniform(-1e3, 1e3) for _ in range(n - 1)]
            for start in range(0, n, 10):
                out.write("".join(f"{v:{width}.{digits}E}" for v in values[start:start + 10]) + "\n")


def python_reader(path, width):
    """The format's rules in plain Python (ASCII fields; float32 rounding through array('f'))."""
    with open(path, encoding="utf-8") as stream:
        n = int(stream.readline().split()[-1])
        for _ in range(n):
            stream.readline()
        columns = [array("f") for _ in range(n)]
        lines_per_block = (n + 9) // 10
        while stream.readline():
            j = 0
            for _ in range(lines_per_block):
                line = stream.readline().rstrip("\n")
                for k in range(min(10, n - j)):
                    columns[j].append(float(line[k * width:(k + 1) * width]))
                    j += 1
    return columns[0].tolist(), [c.tolist() for c in columns[1:]]


def floor(path, columns):
    with open(path, "rb") as stream:
        stream.read()
    return columns[0].tolist(), [c.tolist() for c in columns[1:]]


def best_of(repeats, function, *args):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        result = function(*args)
        best = min(best, time.perf_counter() - start)
        del result
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--params", type=int, default=2000)
    parser.add_argument("--blocks", type=int, default=5000)
    parser.add_argument("--repeats", type=int, default=3)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        for width in (12, 15):
            path = os.path.join(folder, f"bench_w{width}.plt")
            write_file(path, options.params, options.blocks, width)
            size = os.path.getsize(path) / 1e6
            module_result = quorvel.rust_read_kavrine(path, width)
            columns = [array("f", module_result[0])] + [array("f", c) for c in module_result[1]]
            assert python_reader(path, width) == module_result, "the pure-Python reader disagrees"
            del module_result
            module = best_of(options.repeats, quorvel.rust_read_kavrine, path, width)
            plain = best_of(1, python_reader, path, width)
            base = best_of(options.repeats, floor, path, columns)
            print(f"width {width}: {options.params} parameters x {options.blocks} blocks, {size:.0f} MB")
            print(f"  rust_read_kavrine   {module:8.3f} s   {size / module:7.1f} MB/s")
            print(f"  pure Python reader  {plain:8.3f} s   {plain / module:7.1f} x the module's time")
            print(f"  floor (read + lists){base:8.3f} s   module is {module / base:5.2f} x the floor")


if __name__ == "__main__":
    main()
