"""Checks of the benchmark's own pieces: the generator writes what it claims (the layout, printf's
own field texts, values whose float32 is the same through a double) and the peer readers give the
module's values on files laid out otherwise than the generator's (CR LF, extra bytes after the
fields, fields that are not in the d.dddE+dd form); the matrix readers give the generator's float32
values bit for bit.

    PYTHONPATH=build/py:bench/python python3.14 -m pytest -q bench/python
"""

import struct
from fractions import Fraction

import numpy as np
import pytest

import plotgen
import readers

PEERS = ["module", "numpy", "numpy-cast", "pure", "pandas"]


def bits(matrix):
    """A float32 matrix as its bit patterns (-0.0 apart from 0.0, NaNs by payload)."""
    assert isinstance(matrix, np.ndarray) and matrix.dtype == np.float32
    return matrix.view(np.uint32)


def nearest_float32(text):
    """The float32 nearest to the exact decimal value (ties to even), by exact arithmetic."""
    exact = Fraction(text.strip())
    if exact == 0:
        return 0.0
    low = float(np.float32(float(exact)))
    candidates = {low, float(np.nextafter(np.float32(low), np.float32(np.inf))),
                  float(np.nextafter(np.float32(low), np.float32(-np.inf)))}

    def key(candidate):
        bits = struct.unpack("<I", struct.pack("<f", candidate))[0]
        return abs(Fraction(candidate) - exact), bits & 1

    return min(candidates, key=key)


@pytest.fixture(scope="module", params=[12, 15])
def generated(request, tmp_path_factory):
    width = request.param
    path, truth = plotgen.plot_file(str(tmp_path_factory.mktemp("plots")), 23, 40, width)
    return path, truth, width


def test_layout_and_texts(generated):
    path, truth_path, width = generated
    truth = np.load(truth_path)
    lines = open(path, encoding="utf-8").read().split("\n")
    assert lines[-1] == ""
    lines = lines[:-1]
    assert lines[0].split()[-1] == "23"
    assert len(lines) == 1 + 23 + 40 * (1 + 3)
    digits = width - 7
    previous_time = -1.0
    for b in range(40):
        block = lines[24 + 4 * b:24 + 4 * (b + 1)]
        assert block[0] == f" TIME STEP  {b + 1}"
        assert [len(line) for line in block[1:]] == [10 * width, 10 * width, 3 * width]
        fields = [line[k:k + width] for line in block[1:] for k in range(0, len(line), width)]
        for j, text in enumerate(fields):
            # What printf's %E writes for this value, to the byte.
            assert f"{float(text):{width}.{digits}E}" == text
            assert float(np.float32(float(text))) == float(truth[b, j])
        time = float(fields[0])
        assert time > previous_time
        previous_time = time
    magnitudes = np.abs(truth[truth != 0])
    assert magnitudes.min() < 1e-9 and magnitudes.max() > 1e9
    assert (truth < 0).any()


def test_float32_through_a_double_is_the_nearest_float32(generated):
    path, truth_path, width = generated
    truth = np.load(truth_path)
    lines = open(path, encoding="utf-8").read().split("\n")
    for b in range(40):
        block = lines[24 + 4 * b + 1:24 + 4 * (b + 1)]
        fields = [line[k:k + width] for line in block for k in range(0, len(line), width)]
        for j, text in enumerate(fields):
            assert nearest_float32(text) == float(truth[b, j]), text


def test_midpoints_are_recognised():
    one = 1.0
    half_ulp = 2.0 ** -24
    d = np.array([one + half_ulp, one + half_ulp + 2.0 ** -52, one + 3 * half_ulp, one, one + half_ulp / 2])
    assert plotgen.near_float32_midpoint(d).tolist() == [True, True, True, False, False]


def test_settle_moves_significands_off_midpoints():
    # 1.67772170E+07 = 2**24 + 1, halfway between two float32 neighbours.
    m = np.array([167772170, 123456789], np.int64)
    e = np.array([7, 0], np.int64)
    negative = np.array([False, True])
    d = plotgen.settle(m, e, negative, 15)
    assert not plotgen.near_float32_midpoint(d).any()
    assert m.tolist() == [167772171, 123456789]


def test_generation_is_deterministic(tmp_path):
    first, _ = plotgen.plot_file(str(tmp_path / "a"), 31, 9, 12)
    second, _ = plotgen.plot_file(str(tmp_path / "b"), 31, 9, 12)
    assert open(first, "rb").read() == open(second, "rb").read()


def variant(tmp_path, source, name, transform):
    target = tmp_path / name
    target.write_bytes(transform(open(source, "rb").read()))
    return str(target)


def respaced(data, width):
    """Every field rewritten in a plain decimal form, right-aligned in its width."""
    lines = data.split(b"\n")
    parameters = int(lines[0].split()[-1])
    out = lines[:1 + parameters]
    per_block = 1 + -(-parameters // 10)
    for index, line in enumerate(lines[1 + parameters:]):
        if index % per_block == 0 or not line:
            out.append(line)
            continue
        fields = [line[k:k + width] for k in range(0, len(line), width)]
        out.append(b"".join(f"{float(f):{width}.{width - 8}g}".encode() if i % 3 == 0 else f
                            for i, f in enumerate(fields)))
    return b"\n".join(out)


@pytest.mark.parametrize("kind", ["crlf", "trailing", "plain-decimals"])
def test_peers_agree_with_the_module_on_other_layouts(generated, tmp_path, kind):
    path, _, width = generated
    transform = {
        "crlf": lambda data: data.replace(b"\n", b"\r\n"),
        "trailing": lambda data: data.replace(b"\n T", b"  \n T"),
        "plain-decimals": lambda data: respaced(data, width),
    }[kind]
    changed = variant(tmp_path, path, kind + ".plt", transform)
    want = readers.module(changed, width)
    if kind == "plain-decimals":
        assert want != readers.module(path, width)
    for name in PEERS[1:]:
        assert readers.get(name, None)(changed, width) == want, name
    want_matrix = np.array([want[0], *want[1]], np.float32).T
    for name in readers.ARRAY_NAMES:
        got = readers.get(name, None)(changed, width)
        assert got.shape == want_matrix.shape and (bits(got) == bits(want_matrix)).all(), name


def test_matrix_readers_give_the_generated_bits(generated):
    path, truth_path, width = generated
    truth = np.load(truth_path)
    for name in readers.ARRAY_NAMES:
        got = readers.get(name, None)(path, width)
        assert got.shape == truth.shape and (bits(got) == bits(truth)).all(), name


def test_scan_counts_lines(generated):
    path, _, _ = generated
    assert readers.scan(path, 12) == 1 + 23 + 40 * 4
