"""Compressed plot files, told by their first bytes: every reader gives the plain file's values
bit for bit, a truncated or corrupt stream raises PlotFileError at the line its text reached (the
same on one thread and two), and a follow refuses one."""

import bz2
import gzip
import lzma
import struct
import subprocess
import sys

import numpy as np
import pytest

import quorvel_arrays as qa
from test_follow import plot_bytes

try:
    from compression import zstd
except ImportError:  # before Python 3.14
    zstd = None

needs_zstd = pytest.mark.skipif(zstd is None, reason="compression.zstd needs Python 3.14")
FORMATS = [
    pytest.param(gzip.compress, id="gz"),
    pytest.param(bz2.compress, id="bz2"),
    pytest.param(lzma.compress, id="xz"),
    pytest.param(lambda data: zstd.compress(data), id="zst", marks=needs_zstd),
    # A skippable frame first, as a parallel compressor writes to say where its frames are.
    pytest.param(lambda data: struct.pack("<II", 0x184D2A5E, 4) + bytes(4) + zstd.compress(data), id="zst-skippable",
                 marks=needs_zstd),
]
DATA = plot_bytes(3000, line_end=b"\n")
TRUNCATED = "the line cannot be read: the compressed data ends early: the file is truncated"


def in_two(compress, data):
    """Two members, streams or frames one after the other, cut inside a line."""
    cut = len(data) // 3
    return compress(data[:cut]) + compress(data[cut:])


@pytest.fixture
def files(tmp_path):
    plain = tmp_path / "run.plt"
    plain.write_bytes(DATA)

    def write(packed, name="run.dat"):  # no telling suffix: the bytes say what it is
        path = tmp_path / name
        path.write_bytes(packed)
        return plain, path

    return write


@pytest.mark.parametrize("compress", FORMATS)
@pytest.mark.parametrize("pack", [lambda c, d: c(d), in_two], ids=["one", "several"])
def test_every_reader_gives_the_plain_files_values(files, compress, pack):
    plain, packed = files(pack(compress, DATA))
    whole = qa.read(plain)
    for threads in (1, 2):
        assert qa.read(packed, threads=threads).values.tobytes() == whole.values.tobytes()
    got, expected = qa.scan(packed), qa.scan(plain)
    assert (got.header, got.names, got.n_digits, got.blocks, got.size) == (
        expected.header, expected.names, expected.n_digits, expected.blocks, expected.size)
    assert np.concatenate([p.values for p in qa.iter_blocks(packed, chunk=700)]).tobytes() == whole.values.tobytes()
    for blocks in (slice(-50, None), slice(10, 20), slice(2990, 3100)):
        assert qa.read(packed, blocks=blocks, threads=2).values.tobytes() == whole.values[blocks].tobytes()
    with qa.open(packed) as opened:
        # Backward after forward: the second read decodes again from the start.
        for blocks in (slice(2000, 2100), slice(5, 9), slice(-3, None)):
            assert opened.read(blocks=blocks, columns=[0, -1]).values.tobytes() == whole.values[blocks][:, [0, -1]].tobytes()


@pytest.mark.parametrize("compress", FORMATS)
def test_a_truncated_stream_names_the_line_its_text_reached(files, compress):
    packed = compress(DATA)
    _, path = files(packed[:len(packed) * 3 // 4])
    errors = []
    for threads in (1, 2):
        with pytest.raises(qa.PlotFileError) as caught:
            qa.read(path, threads=threads)
        errors.append(caught.value)
    first, second = errors
    assert (first.reason, first.line, first.column) == (second.reason, second.line, second.column)
    assert first.reason == TRUNCATED
    # bzip2 gives a block's text only once the block is whole: a cut in the only block reaches line 1.
    lines = DATA.count(b"\n")
    assert (first.line == 1) if compress is bz2.compress else (1 < first.line <= lines)


@pytest.mark.parametrize("compress", FORMATS)
def test_a_corrupt_stream_raises_the_same_error_on_one_thread_and_two(files, compress):
    packed = bytearray(compress(DATA))
    packed[len(packed) // 2] ^= 0xFF
    _, path = files(bytes(packed))
    errors = []
    for threads in (1, 2):
        with pytest.raises(qa.PlotFileError) as caught:
            qa.read(path, threads=threads)
        errors.append((caught.value.reason, caught.value.line, caught.value.column))
    assert errors[0] == errors[1]


@pytest.mark.parametrize("compress", FORMATS)
def test_the_text_must_pass_the_plain_files_checks(files, compress):
    bad = DATA.replace(b"STEP 7\n", b"STEP \xff7\n", 1)
    plain, path = files(compress(bad))
    plain.write_bytes(bad)
    with pytest.raises(qa.PlotFileError) as expected:
        qa.read(plain)
    with pytest.raises(qa.PlotFileError) as got:
        qa.read(path)
    assert (got.value.reason, got.value.line) == (expected.value.reason, expected.value.line)


def test_a_follow_refuses_a_compressed_file(files):
    _, path = files(gzip.compress(DATA))
    with pytest.raises(qa.PlotFileError) as caught:
        next(qa.follow(path, idle=0.1))
    assert caught.value.reason == "a compressed file cannot be followed: its end is not where the text ends"


@needs_zstd
def test_convert_and_watch_on_a_zst(files, tmp_path):
    plain, path = files(zstd.compress(DATA), "run.plt.zst")
    out = tmp_path / "out.npz"
    done = subprocess.run([sys.executable, "-m", "quorvel_arrays", "convert", str(path), "-o", str(out)],
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    with np.load(out) as saved:
        assert saved["values"].tobytes() == qa.read(plain).values.tobytes()
    watched = subprocess.run([sys.executable, "-m", "quorvel_arrays", "watch", str(path), "--idle", "1"],
                             capture_output=True, text=True, timeout=120, stdin=subprocess.DEVNULL)
    assert watched.returncode == 1
    assert watched.stderr.strip().splitlines() == [
        f"{path}:1: a compressed file cannot be followed: its end is not where the text ends"]


def skippable(size, payload=b""):
    """A zstd skippable frame that says it holds `size` bytes, followed by `payload`."""
    return struct.pack("<II", 0x184D2A50, size) + payload


# Skippable frames and no text: an empty file, or one cut short; a size past the end (up to 4 GiB)
# is neither waited for nor allocated.
@pytest.mark.parametrize("packed, reason", [
    (skippable(0) * 100_000, "the file is empty"),
    (skippable(0xFFFFFFFF, bytes(4)), TRUNCATED),
    (skippable(4, bytes(4)) + b"PLOT FILE  3\n", "the line cannot be read: the compressed data is corrupt"),
], ids=["many", "4 GiB", "text after"])
def test_skippable_frames_without_text_are_refused(files, packed, reason):
    from quorvel_arrays._xarray_backend import looks_like_a_plot_file
    _, path = files(packed)
    with pytest.raises(qa.PlotFileError) as caught:
        qa.read(path)
    assert (caught.value.reason, caught.value.line) == (reason, 1)
    assert not looks_like_a_plot_file(path)
