"""Compressed reads against their parts, on the medium file as .gz and .zst, in one run: decoding
alone (the library streaming into a discarded buffer), a plain read, and the compressed read on one
thread (target: at most decoding + plain) and two (decoding ahead of the parse; target: at most
1.2 x the larger of the two). Medians of the rounds, with their spread."""

import argparse
import contextlib
import gzip
import os
import statistics
import sys
import tempfile
import time

import plotgen

ROUND_TARGETS = {"threads=1": "decode + plain", "threads=2": "1.2 x max(decode, plain)"}


def packed_copy(path, suffix):
    """The file packed beside it, made once. Written under a name of this run's own and linked into
    place, never over another's: two runs at once each pack, and the first to finish places its copy."""
    packed = f"{path}.{suffix}"
    if os.path.exists(packed):
        return packed
    with open(path, "rb") as plain:
        data = plain.read()
    if suffix == "gz":
        data = gzip.compress(data, compresslevel=6)
    else:
        from compression import zstd
        data = zstd.compress(data)
    handle, part = tempfile.mkstemp(dir=os.path.dirname(packed) or ".", prefix=os.path.basename(packed) + ".", suffix=".part")
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(data)
        with contextlib.suppress(FileExistsError):
            os.link(part, packed)
    finally:
        os.unlink(part)
    return packed


def decode_alone(packed, suffix):
    if suffix == "gz":
        opened = gzip.open(packed, "rb")
    else:
        from compression import zstd
        opened = zstd.ZstdFile(packed, "rb")
    buffer = bytearray(1 << 16)
    with opened:
        while opened.readinto(buffer):
            pass


def seconds(call, rounds):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times), min(times), max(times)


def run(packed_suffixes, rounds, data_folder, width):
    import quorvel_arrays as qa

    parameters, blocks = plotgen.SIZES["medium"]
    path, _ = plotgen.plot_file(data_folder, parameters, blocks, width)
    print(f"medium file {parameters} x {blocks}, width {width}: {os.path.getsize(path) / 1e6:.0f} MB; "
          f"{rounds} rounds each, median [min-max] s")
    plain = qa.read(path).values
    for suffix in packed_suffixes:
        packed = packed_copy(path, suffix)
        assert qa.read(packed, threads=2).values.tobytes() == plain.tobytes()
        timings = {
            "decode": seconds(lambda: decode_alone(packed, suffix), rounds),
            "plain": seconds(lambda: qa.read(path), rounds),
            "threads=1": seconds(lambda: qa.read(packed), rounds),
            "threads=2": seconds(lambda: qa.read(packed, threads=2), rounds),
        }
        print(f".{suffix} ({os.path.getsize(packed) / 1e6:.0f} MB):")
        for name, (median, low, high) in timings.items():
            print(f"  {name:<10} {median:7.3f} [{low:.3f}-{high:.3f}]")
        decode, plain_read = timings["decode"][0], timings["plain"][0]
        print(f"  threads=1 / (decode + plain): {timings['threads=1'][0] / (decode + plain_read):.2f} (target <= 1)")
        print(f"  threads=2 / max(decode, plain): {timings['threads=2'][0] / max(decode, plain_read):.2f} (target <= 1.2)")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--width", type=int, choices=[12, 15], default=12)
    parser.add_argument("--data", default=os.path.join(os.path.dirname(__file__), "..", "..", "build", "bench-data"))
    options = parser.parse_args()
    suffixes = ["gz"]
    try:
        import compression.zstd  # noqa: F401
        suffixes.append("zst")
    except ImportError:
        print("compression.zstd missing: .zst skipped", file=sys.stderr)
    run(suffixes, options.rounds, os.path.abspath(options.data), options.width)


if __name__ == "__main__":
    main()
