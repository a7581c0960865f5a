"""Deterministic generator of realistic plot files for the benchmarks, vectorised with numpy.

A file holds N parameters x B blocks in fields of 12 bytes (' 1.23456E+03', as '%12.5E' writes
them) or 15 bytes ('%15.8E'): a header line ending with N, N parameter-name lines, then per block a
separator line (' TIME STEP  123') and ceil(N/10) value lines of ten fields (the last one holds
N mod 10 fields when N is not a multiple of ten).

Columns: the time in the first field, strictly increasing; about one column in twenty all zero;
the others spread over 1e-12 .. 1e12 (each column around its own magnitude), some positive, some
negative, some of mixed sign with a few exact zeros.

Every value is written from an integer significand m and a decimal exponent, so its exact decimal
value is m * 10**k with |k| <= 20; m * 10.0**k (or m / 10.0**-k) is then the correctly rounded
double. Significands whose double lies within a few double ulps of a point halfway between two
float32 neighbours are nudged by one unit in the last digit, so that the nearest float32 of the
exact decimal is also the float32 of the double (and of any double parse off by an ulp or two):
a reader that parses doubles and narrows them gives exactly what a correctly rounded float32 parse
gives. The expected float32 values are stored beside the file (.npy, blocks x parameters).

Files are cached by shape, width and generator version under the data folder and written through
a temporary name, so an interrupted run never leaves a half file behind.
"""

import os

import numpy as np

VERSION = 1

SIZES = {
    "small": (200, 500),
    "medium": (2000, 5000),
    "large": (2000, 20000),
}

# Values per generation chunk: bounds the generator's memory (about 60 bytes per value).
CHUNK_VALUES = 1 << 20

# 1e0 .. 1e22, each exact as a double.
_POW10 = np.array([float(10**k) for k in range(23)])


def file_names(folder, parameters, blocks, width):
    stem = os.path.join(folder, f"plot-v{VERSION}-{parameters}x{blocks}-w{width}")
    return stem + ".plt", stem + ".npy"


def plot_file(folder, parameters, blocks, width):
    """Returns (plot path, expected-values path), generating both if they are not cached yet."""
    if width not in (12, 15):
        raise ValueError("width must be 12 or 15")
    os.makedirs(folder, exist_ok=True)
    path, truth = file_names(folder, parameters, blocks, width)
    if not (os.path.exists(path) and os.path.exists(truth)):
        _generate(path, truth, parameters, blocks, width)
    return path, truth


def significand_digits(width):
    return width - 6


def doubles(m, e, negative, width):
    """The correctly rounded double of each text: significand m (P digits, P = width - 6) times
    10**(e - P + 1), negated where `negative`."""
    k = e - (significand_digits(width) - 1)
    up = _POW10[np.clip(k, 0, 22)]
    down = _POW10[np.clip(-k, 0, 22)]
    value = np.where(k >= 0, m * up, m / down)
    return np.where(negative, -value, value)


def near_float32_midpoint(d):
    """True where d lies within four double ulps of a point halfway between two float32 values
    (d itself not a float32)."""
    f = d.astype(np.float32)
    fd = f.astype(np.float64)
    toward = np.where(d > fd, np.float32(np.inf), np.float32(-np.inf)).astype(np.float32)
    neighbour = np.nextafter(f, toward).astype(np.float64)
    middle = (fd + neighbour) * 0.5
    return (d != fd) & (np.abs(d - middle) <= 4 * np.spacing(np.abs(d)))


def settle(m, e, negative, width):
    """Nudges significands away from float32 midpoints (in place); returns the doubles."""
    top = 10 ** significand_digits(width) - 1
    for _ in range(64):
        d = doubles(m, e, negative, width)
        risky = near_float32_midpoint(d) & (m != 0)
        if not risky.any():
            return d
        m[risky] = np.where(m[risky] < top, m[risky] + 1, m[risky] - 1)
    raise RuntimeError("could not move significands away from float32 midpoints")


def normalise(integer, power, width):
    """Integer values times 10**power as (P-digit significand, exponent) pairs."""
    digits = significand_digits(width)
    integer = np.asarray(integer, np.int64)
    count = np.where(integer > 0, np.floor(np.log10(np.maximum(integer, 1))).astype(np.int64) + 1, 1)
    # floor(log10) can be off by one next to powers of ten; settle it exactly.
    scale = 10 ** np.clip(count - 1, 0, 18)
    count = np.where(integer >= 10 * scale, count + 1, np.where(integer < scale, count - 1, count))
    count = np.maximum(count, 1)
    if (count > digits).any():
        raise ValueError("integer with more digits than the field holds")
    shift = digits - count
    m = np.where(integer > 0, integer * 10 ** np.clip(shift, 0, 18), 0)
    e = np.where(integer > 0, power + count - 1, 0)
    return m.astype(np.int64), e.astype(np.int64)


def encode(m, e, negative, width):
    """The fields' bytes, shape m.shape + (width,): sign or blank, d.dddd, 'E', sign, two digits."""
    digits = significand_digits(width)
    out = np.empty(m.shape + (width,), np.uint8)
    out[..., 0] = np.where(negative, ord("-"), ord(" "))
    rest = m.copy()
    for i in range(digits - 1, -1, -1):
        column = 1 if i == 0 else 2 + i
        out[..., column] = rest % 10 + ord("0")
        rest //= 10
    out[..., 2] = ord(".")
    out[..., width - 4] = ord("E")
    out[..., width - 3] = np.where(e < 0, ord("-"), ord("+"))
    magnitude = np.abs(e)
    out[..., width - 2] = magnitude // 10 + ord("0")
    out[..., width - 1] = magnitude % 10 + ord("0")
    return out


class _Columns:
    """Per-column character, fixed by the seed: kind, magnitude and sign rule."""

    ZERO, POSITIVE, NEGATIVE, MIXED = range(4)

    def __init__(self, parameters, rng):
        kinds = rng.choice([self.POSITIVE, self.NEGATIVE, self.MIXED], size=parameters, p=[0.4, 0.2, 0.4])
        kinds[rng.random(parameters) < 0.05] = self.ZERO
        kinds[0] = self.POSITIVE  # the time
        self.kinds = kinds
        self.centre = rng.integers(-11, 12, size=parameters)


def _block_values(columns, first_block, count, parameters, width, rng):
    digits = significand_digits(width)
    shape = (count, parameters)
    m = rng.integers(10 ** (digits - 1), 10 ** digits, size=shape, dtype=np.int64)
    e = columns.centre[None, :] + rng.integers(-1, 2, size=shape)
    kinds = np.broadcast_to(columns.kinds, shape)
    negative = (kinds == _Columns.NEGATIVE) | ((kinds == _Columns.MIXED) & (rng.random(shape) < 0.5))
    zero = (kinds == _Columns.ZERO) | ((kinds == _Columns.MIXED) & (rng.random(shape) < 0.01))
    # The time: block b (from 0) at (b + 1) milliseconds.
    m[:, 0], e[:, 0] = normalise(np.arange(first_block + 1, first_block + count + 1), -3, width)
    negative[:, 0] = False
    zero[:, 0] = False
    m[zero] = 0
    e[zero] = 0
    negative &= ~zero
    d = settle(m, e, negative, width)
    return encode(m, e, negative, width), d.astype(np.float32)


def _generate(path, truth_path, parameters, blocks, width):
    rng = np.random.default_rng([VERSION, parameters, blocks, width])
    columns = _Columns(parameters, rng)
    full, rest = divmod(parameters, 10)
    stride = 10 * width + 1
    body_length = full * stride + (rest * width + 1 if rest else 0)
    chunk = max(1, CHUNK_VALUES // max(parameters, 1))
    partial_plot, partial_truth = path + ".partial", truth_path + ".partial.npy"
    truth = np.lib.format.open_memmap(partial_truth, mode="w+", dtype=np.float32, shape=(blocks, parameters))
    with open(partial_plot, "wb") as out:
        out.write(f" KAVRINE PLOT FILE   RUN 42   PARAMETERS {parameters}\n".encode())
        out.write("".join(f" {i + 1:6d}  PARAMETER_{i:04d}\n" for i in range(parameters)).encode())
        for first in range(0, blocks, chunk):
            count = min(chunk, blocks - first)
            fields, values = _block_values(columns, first, count, parameters, width, rng)
            truth[first:first + count] = values
            flat = fields.reshape(count, parameters * width)
            body = np.empty((count, body_length), np.uint8)
            lines = body[:, :full * stride].reshape(count, full, stride)
            lines[:, :, :10 * width] = flat[:, :full * 10 * width].reshape(count, full, 10 * width)
            lines[:, :, 10 * width] = ord("\n")
            if rest:
                body[:, full * stride:-1] = flat[:, full * 10 * width:]
                body[:, -1] = ord("\n")
            for i in range(count):
                out.write(f" TIME STEP  {first + i + 1}\n".encode())
                out.write(body[i].data)
    truth.flush()
    del truth
    os.replace(partial_truth, truth_path)
    os.replace(partial_plot, path)
