#!/usr/bin/env python3
"""Writes the small sample plot files in samples/: a damped oscillator run with 13 parameters and
40 time steps, once per file version (field width 12, six digits; width 15, nine digits)."""

import math
import os
import sys

NAMES = ["TIME", "X", "V", "A", "ENERGY", "DAMPING", "P1", "P2", "P3", "P4", "P5", "P6", "TEMP"]
STEPS = 40


def block_values(step):
    t = step * 0.25
    x = math.exp(-0.1 * t) * math.cos(2.0 * t)
    v = -math.exp(-0.1 * t) * (0.1 * math.cos(2.0 * t) + 2.0 * math.sin(2.0 * t))
    a = -4.0 * x - 0.2 * v
    energy = 0.5 * v * v + 2.0 * x * x
    extra = [math.sin(t + k) * 10.0 ** (k - 3) for k in range(6)]
    return [t, x, v, a, energy, 0.1, *extra, 293.15 + t]


def write(path, width, digits):
    with open(path, "w", newline="\n") as out:
        out.write(f" KAVRINE PLOT FILE   VERSION {1 if width == 12 else 2}   {len(NAMES)}\n")
        for name in NAMES:
            out.write(f"  {name}\n")
        for step in range(STEPS):
            out.write(f" TIME STEP {step + 1}\n")
            values = block_values(step)
            for start in range(0, len(values), 10):
                out.write("".join(f"{v:{width}.{digits}E}" for v in values[start:start + 10]) + "\n")


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "samples")
    os.makedirs(target, exist_ok=True)
    write(os.path.join(target, "oscillator_w12.plt"), 12, 5)
    write(os.path.join(target, "oscillator_w15.plt"), 15, 8)


if __name__ == "__main__":
    main()
