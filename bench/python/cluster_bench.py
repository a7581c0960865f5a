"""`quorvel convert FILE -o OUT.zarr` on a local cluster of one worker against two, on a file of
over a gigabyte: the seconds of each, the peak resident memory of every process the command
starts (its workers), and whether both stores hold the same bytes and the generator's values.

    PYTHONPATH=build/benchpy:bench/python python3.14 bench/python/cluster_bench.py [--rounds R]

(scripts/bench --convert-cluster runs it.) Each round runs a fresh command per worker count, in
turn; the figures are medians over the rounds, with their spread.
"""

import argparse
import filecmp
import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

import plotgen

# 2,000 parameters x 42,000 blocks in fields of 12: 1.02 GB.
SHAPE = (2000, 42000)
POLL_SECONDS = 0.1


def process_tree(root):
    """The pids of `root`'s descendants now (from /proc: each process's parent)."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat", "rb") as f:
                    fields = f.read().rsplit(b")", 1)[1].split()
                parents[int(entry)] = int(fields[1])
            except (OSError, IndexError):
                pass  # gone meanwhile
    found, frontier = set(), {root}
    while frontier:
        frontier = {pid for pid, parent in parents.items() if parent in frontier} - found
        found |= frontier
    return found


def peak_kib(pid):
    """The peak resident memory of `pid` so far (VmHWM), or None when it has gone."""
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


def timed_convert(path, out, workers):
    """(seconds, the command's own peak MB, the largest peak MB of the processes it started)."""
    command = [sys.executable, "-m", "quorvel_arrays", "convert", path, "-o", out, "--workers", str(workers)]
    started = time.perf_counter()
    child = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    peaks = {}
    while child.poll() is None:
        for pid in process_tree(child.pid) | {child.pid}:
            peak = peak_kib(pid)
            if peak is not None:
                peaks[pid] = max(peak, peaks.get(pid, 0))
        time.sleep(POLL_SECONDS)
    elapsed = time.perf_counter() - started
    error = child.stderr.read()
    if child.returncode != 0:
        sys.exit(f"convert --workers {workers} failed ({child.returncode}): {error.strip()}")
    own = peaks.pop(child.pid, 0)
    return elapsed, own / 1024, max(peaks.values(), default=0) / 1024


def same_stores(one, other):
    """Whether two stores hold the same files with the same bytes."""
    def listed(store):
        return sorted(os.path.relpath(os.path.join(folder, name), store)
                      for folder, _, names in os.walk(store) for name in names)

    names = listed(one)
    return names == listed(other) and all(
        filecmp.cmp(os.path.join(one, name), os.path.join(other, name), shallow=False) for name in names)


def check_values(store, truth_path):
    """None when the store's arrays hold the generator's values bit for bit, else what differs."""
    import zarr

    truth = np.load(truth_path, mmap_mode="r")
    group = zarr.open_group(store, mode="r")
    for key in group.array_keys():
        array = group[key]
        position = int(array.attrs["position"])
        if not np.array_equal(array[:].view(np.uint32), np.asarray(truth[:, position]).view(np.uint32)):
            return f"{key} (position {position}) differs from the generated values"
    return None


def spread(values):
    return f"median {statistics.median(values):.2f}, min {min(values):.2f}, max {max(values):.2f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--data", default="build/bench-data")
    parser.add_argument("--rounds", type=int, default=2)
    options = parser.parse_args()
    path, truth_path = plotgen.plot_file(options.data, *SHAPE, 12)
    size = os.path.getsize(path)
    print(f"convert to .zarr on a local cluster: {SHAPE[0]} x {SHAPE[1]}, width 12, {size / 1e9:.2f} GB; "
          f"{options.rounds} rounds, {os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f}", flush=True)
    seconds = {1: [], 2: []}
    worker_peaks = {1: [], 2: []}
    with tempfile.TemporaryDirectory(dir=options.data) as folder:
        for round_number in range(1, options.rounds + 1):
            stores = {}
            for workers in (1, 2):
                stores[workers] = os.path.join(folder, f"out-{round_number}-{workers}.zarr")
                elapsed, own, worker = timed_convert(path, stores[workers], workers)
                seconds[workers].append(elapsed)
                worker_peaks[workers].append(worker)
                print(f"  round {round_number}, --workers {workers}: {elapsed:.2f} s, command {own:.0f} MB, "
                      f"largest worker {worker:.0f} MB (load average {os.getloadavg()[0]:.2f})", flush=True)
            if not same_stores(stores[1], stores[2]):
                sys.exit("DISAGREEMENT: the stores of one and two workers differ")
            problem = check_values(stores[2], truth_path)
            if problem:
                sys.exit(f"DISAGREEMENT: {problem}")
    for workers in (1, 2):
        print(f"  --workers {workers}: seconds {spread(seconds[workers])}; largest worker MB {spread(worker_peaks[workers])}")
    ratio = statistics.median(seconds[1]) / statistics.median(seconds[2])
    print(f"  both stores hold the same bytes and the generated values; --workers 2 is {ratio:.2f}x faster than "
          f"--workers 1 (target at least 1.6x); largest worker {max(worker_peaks[1] + worker_peaks[2]):.0f} MB "
          "(target under 600 MB)")


if __name__ == "__main__":
    main()
