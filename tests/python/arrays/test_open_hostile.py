"""The engine's open under a hostile user's files: the time coordinate kept by the scan against
read(path) bit for bit (or its PlotFileError word for word), a file rewritten while the open scans
it, the compressed guess against what the engine opens, and a compressed read under a memory limit."""

import bz2
import gzip
import lzma
import os
import struct
import subprocess
import sys
import textwrap
import zlib

import pytest

import quorvel_arrays as qa
from quorvel_arrays import _plot_file
from test_arrays_api import same_bits

xr = pytest.importorskip("xarray")
from quorvel_arrays._xarray_backend import PlotBackend, looks_like_a_plot_file  # noqa: E402

zstd = pytest.importorskip("compression.zstd")


def plot(n, blocks, scale=0.5):
    """A plot file's text of `n` parameters (12-wide fields) and `blocks` blocks."""
    text = f" RUN {n}\n" + "".join(f"  P{j}\n" for j in range(n))
    for b in range(blocks):
        fields = [f"{b * scale + j:12.5E}" for j in range(n)]
        text += f" STEP {b}\n" + "".join("".join(fields[i:i + 10]) + "\n" for i in range(0, n, 10))
    return text


def outcome(call):
    try:
        return call()
    except qa.PlotFileError as error:
        return str(error)


def opened_time(path):
    with xr.open_dataset(path, engine=PlotBackend) as ds:
        return ds.time.values


def same_outcome(got, want):
    return got == want if isinstance(want, str) else not isinstance(got, str) and same_bits(got, want)


# Bytes taken off the end of plot(n, 5): inside the last block's last line, which a read parses
# (and refuses when it is short), or only its line feed (the line whole).
@pytest.mark.parametrize("n, cut", [(1, 1), (1, 6), (3, 20), (10, 40), (12, 10), (12, 1)])
def test_a_file_ending_inside_its_last_line_opens_as_a_read_reads_it(plot_file, n, cut):
    path = plot_file(plot(n, 5)[:-cut])
    assert same_outcome(outcome(lambda: opened_time(path)), outcome(lambda: qa.read(path).to_xarray().time.values))


def test_the_first_column_of_a_file_completed_after_it_was_cut(plot_file):
    text = plot(12, 8)
    path = plot_file(text[:-10])  # inside its last line
    with qa.open(path) as f:
        assert outcome(f._first_column) == outcome(lambda: qa.read(path))
        with open(path, "a") as grown:
            grown.write(text[-10:] + plot(12, 11)[len(text):])
        assert same_bits(f._first_column(), qa.read(path).values[:, 0])


def rewrite(path, change):
    text = plot(3, 6)
    if change == "a value in place":
        data = text.replace(f"{0.5:12.5E}", f"{0.75:12.5E}", 1)
    elif change == "the end in place":
        data = text[:-13] + f"{9.0:12.5E}\n"
    else:  # another run, longer, written over the same file
        data = plot(3, 9, scale=0.25)
    with open(path, "r+") as file:
        file.write(data)


@pytest.mark.parametrize("change", ["a value in place", "the end in place", "a longer run"])
@pytest.mark.parametrize("first_column", [True, False])
def test_a_file_rewritten_while_the_open_scans_it_raises(plot_file, monkeypatch, change, first_column):
    path = plot_file(plot(3, 6))
    scan = _plot_file._reader.scan

    def scan_then_rewrite(*args, **kwargs):
        found = scan(*args, **kwargs)
        monkeypatch.setattr(_plot_file._reader, "scan", scan)
        rewrite(path, change)
        return found

    monkeypatch.setattr(_plot_file._reader, "scan", scan_then_rewrite)
    with qa.open(path) as f, pytest.raises(qa.PlotFileError) as error:
        f._first_column() if first_column else f[:, 0]
    assert str(error.value) == f"{path}:1: the file was rewritten while it was open: its bytes are not those scanned"


def gzip_member_with_every_field(data):
    """A gzip member whose header has FEXTRA, FNAME, FCOMMENT and FHCRC."""
    header = b"\x1f\x8b\x08\x1e\0\0\0\0\0\xff" + struct.pack("<H", 4) + b"abcd" + b"run.plt\0" + b"a comment\0"
    header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)
    deflate = zlib.compressobj(9, 8, -15)
    body = deflate.compress(data) + deflate.flush()
    return header + body + struct.pack("<II", zlib.crc32(data), len(data))


PLOT = plot(3, 50).encode()
FILES = {
    # Members, streams and frames one after another: the first of them holds less than a line.
    "gzip members": b"".join(gzip.compress(PLOT[i:i + 1]) for i in range(20)) + gzip.compress(PLOT[20:]),
    "gzip empty member first": gzip.compress(b"") + gzip.compress(PLOT),
    "gzip header fields": gzip_member_with_every_field(PLOT),
    "zstd frames": b"".join(zstd.compress(PLOT[i:i + 7]) for i in range(0, len(PLOT), 7)),
    "xz streams and padding": lzma.compress(PLOT[:5]) + bytes(8) + lzma.compress(PLOT[5:]) + bytes(4),
    "bzip2 streams": bz2.compress(PLOT[:3]) + bz2.compress(PLOT[3:]),
    "gzip empty members only": gzip.compress(b"") * 70_000,
    "zstd bomb": zstd.compress(bytes(200_000_000)),
    "gzip cut": gzip.compress(PLOT)[:40],
    "zstd magic only": b"\x28\xb5\x2f\xfd",
    # Headers and first names as the reader takes them.
    "blank first name": b" RUN 2\n\n  B\n STEP 0\n 1.00000E+00 2.00000E+00\n",
    "count with a plus": b" RUN +2\nA\nB\n STEP 0\n 1.00000E+00 2.00000E+00\n",
    "count after a separator": b" RUN 2\x1c\nA\nB\n STEP 0\n 1.00000E+00 2.00000E+00\n",
    "count past 64 bits": b" RUN 18446744073709551618\nA\nB\n",
    "header only": b" RUN 2\n",
    "header only, compressed": gzip.compress(b" RUN 2\n"),
}


@pytest.mark.parametrize("name", FILES)
def test_the_guess_claims_what_the_engine_opens(plot_file, name):
    path = plot_file(FILES[name])
    assert looks_like_a_plot_file(path) is not isinstance(outcome(lambda: opened_time(path)), str)


def test_without_the_zstd_module_a_zstd_file_is_not_claimed(plot_file, monkeypatch):
    monkeypatch.setitem(sys.modules, "compression.zstd", None)
    monkeypatch.delattr(sys.modules["compression"], "zstd")
    assert looks_like_a_plot_file(plot_file(zstd.compress(PLOT))) is False
    assert looks_like_a_plot_file(plot_file(gzip.compress(PLOT))) is True


# A compressed read whose matrix (1,000,000 x 20 float32, 80 MB) outgrows an address space
# limited to 64 MiB over what the child holds once imported: MemoryError, no crash.
@pytest.mark.parametrize("threads", [1, 2])
def test_a_compressed_read_past_a_memory_limit_raises_memory_error(tmp_path, threads):
    head, block = plot(20, 1).encode().split(b" STEP 0\n")
    path = tmp_path / "big.plt.zst"
    with open(path, "wb") as file:
        packer = zstd.ZstdCompressor()
        file.write(packer.compress(head))
        for _ in range(100):
            file.write(packer.compress((b" STEP 0\n" + block) * 10_000))
        file.write(packer.flush())
    child = textwrap.dedent(f"""
        import resource, quorvel_arrays as qa
        with open("/proc/self/status") as status:
            held = next(int(line.split()[1]) for line in status if line.startswith("VmSize"))
        limit = held * 1024 + (64 << 20)
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        try:
            qa.read({str(path)!r}, threads={threads})
        except MemoryError:
            print("MemoryError")
    """)
    done = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, env=os.environ | {"PYTHONFAULTHANDLER": "1"})
    assert (done.returncode, done.stdout, done.stderr) == (0, "MemoryError\n", "")
