#!/usr/bin/env python3
"""Times quorvel.rust_read_kavrine and quorvel_arrays.read against the readers a user would
otherwise write and against the floor, on generated plot files (plotgen.py; cached under
build/bench-data).

    PYTHONPATH=build/py python3.14 bench/python/bench_module.py [--size small|medium|large]
        [--width 12|15|both] [--repeat K] [--readers module,numpy,...] [--pandas-rounds P]
        [--no-rss] [--data DIR] [--read-many] [--no-compare] [--no-ranges] [--cpp-bench PATH]
        [--convert-memory] [--convert-wide]

Readers (readers.py): module, arrays, numpy, numpy-arrays, numpy-cast, pure, pandas, floor (read
the bytes + build the lists from parsed float32 columns), scan (read the bytes + count newlines).
arrays and numpy-arrays return one float32 matrix (blocks x parameters), the others lists.

Before any time is printed every reader's result is compared value for value with the values the
generator wrote (and so with each other): on the small file and an odd-sized one (N not a multiple
of ten) on every run, and on the first round of every timed file; a matrix is compared bit for bit.
A disagreement stops the run.

Readers run alternately in one process (A B C A B C ...) so that the machine's drift hits them
alike; the figure is the median of the rounds. Peak memory is the peak resident set of a fresh
child process that runs only that reader once (VmHWM; the interpreter alone, and the interpreter
with numpy imported, are shown for reference).

quorvel_arrays.compare of the file and a copy with one value changed is timed against reading both
files (the ratio it prints: comparing costs at most 1.5 times reading both).

The whole read is timed against read(threads=2) (beside the hashing control, which shows whether
the run had two cores), scan, the last 50 blocks (blocks=slice(-50, None)), both again on two
threads, the last 50 blocks twice on one open PlotFile (the second from the index: at least 10
times faster), and a follow of the file as it is written in 20 runs of blocks (--no-ranges skips them).

--read-many times quorvel_arrays.read_many on four copies of the timed file with one thread and
with two, alternately, beside a control that is known to scale (hashing four buffers of the file's
size on the same pool): on a shared machine the control shows how many cores the run was given. --cpp-bench runs the C++ reader benchmark (bench/cpp) on the timed file
itself, so that its MB/s and the readers' are of the same bytes.
--convert-memory runs only `quorvel convert` to Parquet on the medium and the large file, each in a
fresh child, and prints each child's peak resident set and their ratio.
--convert-wide runs only `quorvel convert` of a wide file (4,000 parameters x 42 blocks, about 2 MB)
to .nc, .zarr and .parquet, each in a fresh child, and prints the seconds each took (the output
read back and compared with the generated values first; the target is under 5 s each).
The numbers are printed, never judged: this is a measurement, not a test.
"""

import argparse
import functools
import gc
import json
import os
import platform
import re
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import readers

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_DATA = os.path.join(HERE, "..", "..", "build", "bench-data")
CHECK_SHAPES = [(200, 500), (203, 50), (7, 3)]
READ_MANY_FILES = 4


def line_count(parameters, blocks):
    return 1 + parameters + blocks * (1 + -(-parameters // 10))


def expected(truth_path):
    import numpy as np

    columns = np.load(truth_path).T.tolist()
    return (columns[0], columns[1:]) if columns else ([], [])


class Expected:
    """The generator's values as lists (for the list readers) and as its float32 matrix (for the
    matrix readers)."""

    def __init__(self, truth_path):
        import numpy as np

        self.matrix = np.load(truth_path)
        self.lists = expected(truth_path)

    def difference(self, name, got):
        if name in readers.ARRAY_NAMES:
            return matrix_difference(name, got, self.matrix)
        return first_difference(name, got, self.lists)


def first_difference(name, got, want):
    """A readable account of where got and want part, or None when they agree."""
    if got == want:
        return None
    first, others = got
    first_want, others_want = want
    if len(others) != len(others_want):
        return f"{name}: {1 + len(others)} parameters, expected {1 + len(others_want)}"
    for j, (column, column_want) in enumerate(zip([first, *others], [first_want, *others_want])):
        if len(column) != len(column_want):
            return f"{name}: parameter {j} has {len(column)} values, expected {len(column_want)}"
        for b, (value, value_want) in enumerate(zip(column, column_want)):
            if value != value_want and not (value != value and value_want != value_want):
                return f"{name}: parameter {j}, block {b}: {value!r}, expected {value_want!r}"
    return f"{name}: differs (types?)"


def matrix_difference(name, got, want):
    """The same for a float32 matrix (blocks, parameters), compared bit for bit."""
    import numpy as np

    if not isinstance(got, np.ndarray) or got.dtype != np.float32:
        return f"{name}: a {type(got).__name__} of {getattr(got, 'dtype', '?')}, expected a float32 array"
    if got.shape != want.shape:
        return f"{name}: shape {got.shape}, expected {want.shape} (blocks, parameters)"
    differs = got.view(np.uint32) != want.view(np.uint32)
    if differs.any():
        b, j = (int(k) for k in np.argwhere(differs)[0])
        return (f"{name}: parameter {j}, block {b}: {float(got[b, j])!r} (bits {int(got.view(np.uint32)[b, j]):08x}), "
                f"expected {float(want[b, j])!r} (bits {int(want.view(np.uint32)[b, j]):08x})")
    return None


def check_agreement(path, truth_path, width, names, want=None):
    """Runs each reader once on the file and compares its result with the generator's values."""
    want = want or Expected(truth_path)
    for name in names:
        if name == "scan":
            continue
        problem = want.difference(name, readers.get(name, truth_path)(path, width))
        if problem:
            sys.exit(f"DISAGREEMENT on {os.path.basename(path)} (width {width}): {problem}")


def child_peak_rss(name, path, width, truth_path):
    """Peak resident set (MB) of a fresh interpreter that runs only this reader once."""
    command = [sys.executable, os.path.abspath(__file__), "--rss-child", name, path, str(width), truth_path]
    done = subprocess.run(command, capture_output=True, text=True, env=os.environ)
    if done.returncode != 0:
        return None
    return int(done.stdout.split()[-1]) / 1024


def peak_rss_kib():
    """This process's peak resident set in KiB. Linux carries the peak of the process that spawned
    us across exec into ru_maxrss, so the peak of our own address space (VmHWM) is read first."""
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def rss_child(name, path, width, truth_path):
    if name == "python+numpy":
        import numpy  # noqa: F401

        result = None
    else:
        result = readers.get(name, truth_path)(path, width) if name != "none" else None
    print(peak_rss_kib())
    del result


def run_file(label, parameters, blocks, width, options):
    import plotgen

    started = time.perf_counter()
    path, truth_path = plotgen.plot_file(options.data, parameters, blocks, width)
    made = time.perf_counter() - started
    megabytes = os.path.getsize(path) / 1e6
    values = parameters * blocks
    names = options.readers
    rounds = {name: options.pandas_rounds if name == "pandas" else options.repeat for name in names}
    print(f"\n{label}, width {width}: {parameters} parameters x {blocks} blocks = {values:,} values, "
          f"{megabytes:.1f} MB ({'generated' if made > 0.5 else 'cached'}, {made:.1f} s)", flush=True)

    want = Expected(truth_path)
    times = {name: [] for name in names}
    cpu_times = {name: [] for name in names}  # process CPU seconds, for rates per CPU second
    callables = {name: readers.get(name, truth_path) for name in names}
    for round_index in range(max(rounds.values())):
        for name in names:
            if round_index >= rounds[name]:
                continue
            gc.collect()
            cpu_start = time.process_time()
            start = time.perf_counter()
            result = callables[name](path, width)
            elapsed = time.perf_counter() - start
            cpu_times[name].append(time.process_time() - cpu_start)
            times[name].append(elapsed)
            if round_index == 0:
                if name == "scan":
                    if result != line_count(parameters, blocks):
                        sys.exit(f"scan counted {result} lines, expected {line_count(parameters, blocks)}")
                else:
                    problem = want.difference(name, result)
                    if problem:
                        sys.exit(f"DISAGREEMENT on {os.path.basename(path)} (width {width}): {problem}")
            del result
        print(f"  round {round_index + 1}: " + "  ".join(
            f"{name} {times[name][round_index]:.3f}" for name in names if round_index < rounds[name]), flush=True)
    del want, callables
    gc.collect()

    cpp = cpp_rates(options.cpp_bench, path, width) if options.cpp_bench else {}

    memory = {}
    if options.rss:
        memory["(interpreter)"] = child_peak_rss("none", path, width, truth_path)
        memory["(python+numpy)"] = child_peak_rss("python+numpy", path, width, truth_path)
        for name in names:
            memory[name] = child_peak_rss(name, path, width, truth_path)

    median = {name: statistics.median(times[name]) for name in names}
    print(f"  {'reader':<12} {'median s':>9} {'min-max s':>15} {'runs':>5} {'MB/s':>8} {'Mvalues/s':>10} {'peak RSS MB':>12}")
    for name in names:
        rss = memory.get(name)
        spread = f"{min(times[name]):.3f}-{max(times[name]):.3f}"
        print(f"  {name:<12} {median[name]:9.3f} {spread:>15} {len(times[name]):5d} {megabytes / median[name]:8.1f} "
              f"{values / median[name] / 1e6:10.2f} {'' if rss is None else f'{rss:12.0f}'}")
    if "(interpreter)" in memory and memory["(interpreter)"] is not None:
        print(f"  {'(interpreter alone)':<40} {memory['(interpreter)']:>25.0f}")
    if memory.get("(python+numpy)") is not None:
        print(f"  {'(python+numpy: the interpreter, numpy imported)':<52} {memory['(python+numpy)']:>13.0f}")
    print("  all readers agreed with the generated values, value for value (the matrices bit for bit)")
    ratios = ratios_of(times)
    if ratios:
        print("  ratios (time; ratio of medians, then the range over the rounds): " +
              "   ".join(f"{key} {value:.2f} ({low:.2f}-{high:.2f})" for key, value, low, high in ratios))
    if memory.get("arrays") is not None and memory.get("(python+numpy)") is not None:
        matrix_mb = 4 * values / 2**20
        print(f"  arrays' memory above python+numpy: {memory['arrays'] - memory['(python+numpy)']:.0f} MB "
              f"= {(memory['arrays'] - memory['(python+numpy)']) / matrix_mb:.2f} x the matrix "
              f"(4 bytes x {values:,} values = {matrix_mb:.0f} MB)")
    if cpp and "arrays" in median:
        arrays_rate = megabytes / median["arrays"]
        arrays_cpu_rate = megabytes / statistics.median(cpu_times["arrays"])
        print(f"  arrays: {arrays_rate:.0f} MB/s, {arrays_cpu_rate:.0f} MB per CPU second (median of its rounds)")
    for benchmark, (cpu_rate, wall_rate) in cpp.items():
        line = f"  C++ {benchmark}/{width} on this file: {cpu_rate:.0f} MB per CPU second, {wall_rate:.0f} MB/s"
        if "arrays" in median:
            line += (f"; arrays / it: {arrays_cpu_rate / cpu_rate:.2f} per CPU second, "
                     f"{arrays_rate / wall_rate:.2f} per second")
        print(line)
    return median, ratios


def cpp_rates(binary, path, width):
    """Runs the C++ reader benchmarks on this file (their console table passes through) and gives
    {benchmark: (MB per CPU second, as Google Benchmark reports it; MB per second of real time)}:
    the two part when the machine is busy, and the Python readers are timed in real time."""
    print(f"  C++ reader benchmark on this file ({os.path.relpath(binary)}):", flush=True)
    with tempfile.TemporaryDirectory() as folder:
        out = os.path.join(folder, "rates.json")
        environment = dict(os.environ, **{f"QUORVEL_BENCH_FILE_W{width}": path})
        subprocess.run([binary, f"--benchmark_filter=^BM_(Reader|ArrayReader|ReaderLoopWithStrtof)/{width}(/|$)",
                        "--benchmark_counters_tabular=true", f"--benchmark_out={out}",
                        "--benchmark_out_format=json"], env=environment, check=True)
        with open(out) as stream:
            results = json.load(stream)["benchmarks"]
    unit = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    megabytes = os.path.getsize(path) / 1e6
    return {result["name"].split("/")[0]: (result["MB/s"], megabytes / (result["real_time"] * unit[result["time_unit"]]))
            for result in results}


def copies_of(path, count):
    """`count` files with the bytes of `path` (kept under read-many/ beside it, made once)."""
    folder = os.path.join(os.path.dirname(path), "read-many")
    os.makedirs(folder, exist_ok=True)
    stem = os.path.splitext(os.path.basename(path))[0]
    paths = []
    for index in range(count):
        copy = os.path.join(folder, f"{stem}-copy{index + 1}.plt")
        if not os.path.exists(copy) or os.path.getsize(copy) != os.path.getsize(path):
            shutil.copyfile(path, copy + ".partial")
            os.replace(copy + ".partial", copy)
        paths.append(copy)
    return paths


def timed(call):
    """(seconds, cores busy) of call(): cores busy is the process's CPU seconds over the seconds."""
    gc.collect()
    cpu_start = time.process_time()
    start = time.perf_counter()
    result = call()
    elapsed = time.perf_counter() - start
    busy = (time.process_time() - cpu_start) / elapsed
    del result
    return elapsed, busy


def hashed_on_pool(buffer, count, threads):
    """The control: `count` hashes of the buffer on a pool of `threads` threads (hashlib releases
    the lock for long inputs)."""
    import concurrent.futures
    import hashlib

    with concurrent.futures.ThreadPoolExecutor(threads) as pool:
        return list(pool.map(lambda _: hashlib.sha256(buffer).digest(), range(count)))


def run_read_many(label, parameters, blocks, width, options):
    """quorvel_arrays.read_many over copies of the file, one thread against two, alternately; and
    the control: hashlib.sha256 over buffers of the file's size on the same pools (no I/O, the lock
    released), which scales to two threads whenever the machine gives the run two cores."""
    import numpy as np
    import quorvel_arrays

    import plotgen

    path, truth_path = plotgen.plot_file(options.data, parameters, blocks, width)
    paths = copies_of(path, READ_MANY_FILES)
    megabytes = READ_MANY_FILES * os.path.getsize(path) / 1e6
    print(f"\nread_many, {label}, width {width}: {READ_MANY_FILES} files of {parameters} parameters x {blocks} "
          f"blocks, {megabytes:.0f} MB in all", flush=True)
    # Untimed: the results agree with the generator, and the copies are in the page cache.
    truth = np.load(truth_path)
    for threads in (1, 2):
        for copy, plot in zip(paths, quorvel_arrays.read_many(paths, width, threads=threads)):
            problem = matrix_difference(f"read_many threads={threads} {os.path.basename(copy)}", plot.values, truth)
            if problem:
                sys.exit(f"DISAGREEMENT (width {width}): {problem}")
    del truth, plot
    buffer = bytes(os.path.getsize(path))
    work = {
        "read_many": lambda threads: timed(lambda: quorvel_arrays.read_many(paths, width, threads=threads)),
        "control": lambda threads: timed(lambda: hashed_on_pool(buffer, READ_MANY_FILES, threads)),
    }
    times = {(kind, threads): [] for kind in work for threads in (1, 2)}
    busy = {key: [] for key in times}  # the process's CPU seconds over the seconds taken: its cores
    for round_index in range(options.repeat):
        for kind, threads in times:
            elapsed, cores = work[kind](threads)
            times[kind, threads].append(elapsed)
            busy[kind, threads].append(cores)
        print(f"  round {round_index + 1}: " + "  ".join(f"{kind} threads={threads} {times[kind, threads][-1]:.3f}"
                                                   for kind, threads in times)
              + f"   (load average {os.getloadavg()[0]:.2f})", flush=True)
    del buffer
    median = {key: statistics.median(times[key]) for key in times}
    for kind, threads in times:
        rate = f", {megabytes / median[kind, threads]:.0f} MB/s" if kind == "read_many" else ""
        print(f"  {kind} threads={threads}: median {median[kind, threads]:.3f} s{rate}, "
              f"{statistics.median(busy[kind, threads]):.2f} cores busy")
    ratio = median["read_many", 1] / median["read_many", 2]
    control = median["control", 1] / median["control", 2]
    print(f"  all {READ_MANY_FILES} results agreed with the generated values bit for bit; ratio (time) "
          f"threads=1/threads=2: read_many {ratio:.2f}, control {control:.2f}")
    return ratio, control


def convert_child(path, out):
    """Runs `quorvel convert PATH -o OUT` in this fresh process and prints its peak resident set
    (KiB) and exit status."""
    from quorvel_arrays import _cli

    status = _cli.main(["convert", path, "-o", out])
    print(peak_rss_kib(), status)


def timed_convert_child(path, out, failure):
    """(the finished child, seconds) of a fresh child converting `path` to `out`; exits with
    `failure` and the child's errors when it fails."""
    started = time.perf_counter()
    done = subprocess.run([sys.executable, os.path.abspath(__file__), "--convert-child", path, out],
                          capture_output=True, text=True, env=os.environ)
    elapsed = time.perf_counter() - started
    if done.returncode != 0 or done.stdout.split()[-1:] != ["0"]:
        sys.exit(f"{failure}: {done.stderr.strip()}")
    return done, elapsed


def convert_peak(path, truth_path, form):
    """(peak resident MB, seconds) of a fresh child converting the file; the output is read back and
    compared with the generator's values first."""
    import numpy as np
    import pyarrow.parquet

    with tempfile.TemporaryDirectory(dir=os.path.dirname(path)) as folder:
        out = os.path.join(folder, f"out.{form}")
        done, elapsed = timed_convert_child(path, out, f"convert failed on {os.path.basename(path)}")
        table = pyarrow.parquet.read_table(out)
        got = np.column_stack([column.to_numpy() for column in table.columns])
        problem = matrix_difference(f"convert to {form}", got, np.load(truth_path))
        if problem:
            sys.exit(f"DISAGREEMENT on {os.path.basename(path)}: {problem}")
        return int(done.stdout.split()[0]) / 1024, elapsed


def run_convert_memory(width, options):
    """Peak memory of `quorvel convert` to Parquet on the large file against the medium one: a
    command that writes a piece at a time holds about the same on both."""
    import plotgen

    print(f"\nconvert to parquet, width {width}: peak resident memory of a fresh child", flush=True)
    peaks = {}
    for size in ("medium", "large"):
        parameters, blocks = plotgen.SIZES[size]
        path, truth_path = plotgen.plot_file(options.data, parameters, blocks, width)
        peaks[size], elapsed = convert_peak(path, truth_path, "parquet")
        print(f"  {size:<7} {parameters} x {blocks} ({os.path.getsize(path) / 1e6:.0f} MB): peak {peaks[size]:.0f} MB, "
              f"{elapsed:.1f} s", flush=True)
    ratio = peaks["large"] / peaks["medium"]
    print(f"  the output agreed with the generated values bit for bit; peak large / medium: {ratio:.3f} "
          f"(4 x the blocks; target within 10 %)")
    return ratio


WIDE = (4000, 42)


def wide_output(out, form):
    """(names by position, values) of a converted .nc, .zarr or .parquet."""
    import numpy as np

    if form == "parquet":
        import pyarrow.parquet

        table = pyarrow.parquet.read_table(out)
        return np.column_stack([column.to_numpy() for column in table.columns])
    import xarray

    with xarray.open_dataset(out, engine="zarr" if form == "zarr" else "netcdf4") as data:
        found = sorted((int(v.attrs["position"]), v.values) for v in [*data.data_vars.values(), *data.coords.values()])
    return np.column_stack([values for _, values in found])


def run_convert_wide(width, options):
    """Seconds of `quorvel convert` of a wide file to each format that writes a variable or column
    per parameter."""
    import numpy as np
    import plotgen

    parameters, blocks = WIDE
    path, truth_path = plotgen.plot_file(options.data, parameters, blocks, width)
    print(f"\nconvert of {parameters} x {blocks}, width {width} ({os.path.getsize(path) / 1e6:.1f} MB): "
          "seconds of a fresh child", flush=True)
    for form in ("nc", "zarr", "parquet"):
        with tempfile.TemporaryDirectory(dir=os.path.dirname(path)) as folder:
            out = os.path.join(folder, f"out.{form}")
            _, elapsed = timed_convert_child(path, out, f"convert to {form} failed")
            problem = matrix_difference(f"convert to {form}", wide_output(out, form), np.load(truth_path))
            if problem:
                sys.exit(f"DISAGREEMENT: {problem}")
        print(f"  {form:<8} {elapsed:.2f} s", flush=True)


def perturbed_copy(path):
    """A copy of `path` with the leading digit of the last line's first field changed (made once)."""
    copy = os.path.join(os.path.dirname(path), "compare", os.path.basename(path))
    if os.path.exists(copy) and os.path.getsize(copy) == os.path.getsize(path):
        return copy
    os.makedirs(os.path.dirname(copy), exist_ok=True)
    with open(path, "rb") as f:
        data = bytearray(f.read())
    line = data.rstrip(b"\n").rfind(b"\n") + 1
    digit = data.index(b".", line) - 1  # the leading digit: far beyond any tolerance
    data[digit] = ord("0") + (data[digit] - ord("0") + 1) % 10
    with open(copy + ".partial", "wb") as f:
        f.write(data)
    os.replace(copy + ".partial", copy)
    return copy


def run_compare(label, parameters, blocks, width, options):
    """quorvel_arrays.compare of the file and a copy with one value changed, against reading both
    files one after the other (and on two threads), alternately; and the comparison alone, of the
    plots already read."""
    import quorvel_arrays

    import plotgen

    path, _ = plotgen.plot_file(options.data, parameters, blocks, width)
    other = perturbed_copy(path)
    print(f"\ncompare, {label}, width {width}: the file against a copy with one value changed", flush=True)
    plots = quorvel_arrays.read_many([path, other], width)
    result = quorvel_arrays.compare(*plots)
    out = [each for each in result.differences if not each.ok]
    if result.ok or len(out) != 1 or out[0].points_out != 1 or len(result.differences) != parameters - 1:
        sys.exit(f"DISAGREEMENT: compare found {len(out)} parameters out, expected one point of one parameter")
    work = {
        "read a + read b": lambda: (quorvel_arrays.read(path, width), quorvel_arrays.read(other, width)),
        "read_many a, b": lambda: quorvel_arrays.read_many([path, other], width, threads=2),
        "compare": lambda: quorvel_arrays.compare(path, other),
        "compare (plots read)": lambda: quorvel_arrays.compare(*plots),
    }
    times = {name: [] for name in work}
    for round_index in range(options.repeat):
        for name, call in work.items():
            times[name].append(timed(call)[0])
        print(f"  round {round_index + 1}: " + "  ".join(f"{name} {times[name][-1]:.3f}" for name in work), flush=True)
    median = {name: statistics.median(times[name]) for name in work}
    both = median["read a + read b"]
    print("  " + "   ".join(f"{name}: median {median[name]:.3f} s" for name in work))
    print(f"  ratio (time) compare / (read a + read b) {median['compare'] / both:.2f}; "
          f"compare / read_many {median['compare'] / median['read_many a, b']:.2f}; "
          f"the comparison alone / (read a + read b) {median['compare (plots read)'] / both:.2f}")
    return median["compare"] / both


def pieces_of(path, pieces):
    """`path`'s bytes cut into `pieces` runs of whole blocks (a separator line follows each cut)."""
    with open(path, "rb") as f:
        data = f.read()
    starts = [m.start() for m in re.finditer(rb"\n [^\n]*STEP", data)]
    cuts = [0] + [starts[len(starts) * k // pieces] + 1 for k in range(1, pieces)] + [len(data)]
    return [data[a:b] for a, b in zip(cuts, cuts[1:])]


def followed(path, runs, follow):
    """Writes `runs` to a new file one after the other, taking the follower's next piece after each:
    (the blocks followed, the seconds spent in the follower)."""
    target = os.path.join(os.path.dirname(path), "follow", os.path.basename(path))
    os.makedirs(os.path.dirname(target), exist_ok=True)
    if os.path.exists(target):
        os.remove(target)
    blocks, seconds = 0, 0.0
    with open(target, "wb", buffering=0) as out:
        follower = follow(target)
        for run in runs:
            out.write(run)
            start = time.perf_counter()
            blocks += len(next(follower))
            seconds += time.perf_counter() - start
        follower.close()
    return blocks, seconds


def run_ranges(label, parameters, blocks, width, options):
    """One file read whole against read(threads=2), scan, the last 50 blocks (both also on two
    threads) and a follow of the file written in 20 runs of blocks (the time in the follower),
    alternately; and the control of the threads row: hashing a buffer of the file's size twice on
    one thread against two (no I/O, the lock released)."""
    import quorvel_arrays

    import plotgen

    path, _ = plotgen.plot_file(options.data, parameters, blocks, width)
    print(f"\nranges, {label}, width {width}: read whole against the new ways of reading", flush=True)
    whole = quorvel_arrays.read(path, width)
    if quorvel_arrays.read(path, width, threads=2).values.tobytes() != whole.values.tobytes():
        sys.exit("DISAGREEMENT: read(threads=2) differs from read()")
    if quorvel_arrays.read(path, width, blocks=slice(-50, None)).values.tobytes() != whole.values[-50:].tobytes():
        sys.exit("DISAGREEMENT: read(blocks=slice(-50, None)) differs from the last 50 rows")
    if quorvel_arrays.scan(path, width).blocks != len(whole) or quorvel_arrays.scan(path, width, threads=2).blocks != len(whole):
        sys.exit("DISAGREEMENT: scan counts another number of blocks")
    if quorvel_arrays.read(path, width, blocks=slice(-50, None), threads=2).values.tobytes() != whole.values[-50:].tobytes():
        sys.exit("DISAGREEMENT: read(blocks=slice(-50, None), threads=2) differs from the last 50 rows")
    with quorvel_arrays.open(path, width) as plot_file:
        if plot_file[-50:].values.tobytes() != whole.values[-50:].tobytes() or plot_file[-50:].values.tobytes() != whole.values[-50:].tobytes():
            sys.exit("DISAGREEMENT: an open PlotFile's [-50:] differs from the last 50 rows")
    follow = functools.partial(quorvel_arrays.follow, n_digits=width, interval=0.05)
    runs = pieces_of(path, 20)
    if followed(path, runs, follow)[0] != len(whole):
        sys.exit("DISAGREEMENT: following the file gave another number of blocks")
    del whole
    buffer = bytes(os.path.getsize(path))
    work = {
        "read": lambda: quorvel_arrays.read(path, width),
        "threads=2": lambda: quorvel_arrays.read(path, width, threads=2),
        "scan": lambda: quorvel_arrays.scan(path, width),
        "last 50": lambda: quorvel_arrays.read(path, width, blocks=slice(-50, None)),
        "scan, 2 threads": lambda: quorvel_arrays.scan(path, width, threads=2),
        "last 50, 2 threads": lambda: quorvel_arrays.read(path, width, blocks=slice(-50, None), threads=2),
        "follow": lambda: followed(path, runs, follow)[1],
        "hash 1": lambda: hashed_on_pool(buffer, 2, 1),
        "hash 2": lambda: hashed_on_pool(buffer, 2, 2),
    }
    times = {name: [] for name in [*work, "open: last 50", "open: last 50 again"]}
    for round_index in range(options.repeat):
        for name, call in work.items():
            # The follow's time is the time spent in the follower, the writes left out.
            times[name].append(call() if name == "follow" else timed(call)[0])
        for name, seconds in zip(("open: last 50", "open: last 50 again"), last_50_twice(path, width)):
            times[name].append(seconds)
        print(f"  round {round_index + 1}: " + "  ".join(f"{name} {times[name][-1]:.3f}" for name in times)
              + f"   (load average {os.getloadavg()[0]:.2f})", flush=True)
    del buffer, runs

    def ratio(a, b):
        per_round = [x / y for x, y in zip(times[a], times[b])]
        return statistics.median(times[a]) / statistics.median(times[b]), min(per_round), max(per_round)

    rows = [("read/read(threads=2)", "read", "threads=2"), ("control: hash 1/hash 2", "hash 1", "hash 2"),
            ("read/scan", "read", "scan"), ("read/read(blocks=slice(-50, None))", "read", "last 50"),
            ("read/scan(threads=2)", "read", "scan, 2 threads"),
            ("read/read(blocks=slice(-50, None), threads=2)", "read", "last 50, 2 threads"),
            ("follow in 20 runs/read", "follow", "read"),
            ("open: last 50/open: last 50 again (at least 10)", "open: last 50", "open: last 50 again")]
    for name, a, b in rows:
        middle, low, high = ratio(a, b)
        print(f"  ratio (time) {name}: {middle:.2f} (rounds {low:.2f}-{high:.2f})")
    return {name: ratio(a, b)[0] for name, a, b in rows}


def last_50_twice(path, width):
    """The last 50 blocks read twice on one open PlotFile: the first read builds the index, the
    second counts nothing."""
    import quorvel_arrays

    with quorvel_arrays.open(path, width) as plot_file:
        return timed(lambda: plot_file[-50:])[0], timed(lambda: plot_file[-50:])[0]


def ratios_of(times):
    """(name, ratio of the medians, lowest and highest ratio of one round's pair): the readers run
    alternately, so a round's two times saw the same machine."""
    pairs = [("module/floor", "module", "floor"), ("numpy/module", "numpy", "module"),
             ("numpy-cast/module", "numpy-cast", "module"), ("pure/module", "pure", "module"),
             ("pandas/module", "pandas", "module"), ("floor/scan", "floor", "scan"),
             ("module/arrays", "module", "arrays"), ("numpy-arrays/arrays", "numpy-arrays", "arrays")]
    ratios = []
    for key, a, b in pairs:
        if a in times and b in times:
            per_round = [x / y for x, y in zip(times[a], times[b])]
            ratios.append((key, statistics.median(times[a]) / statistics.median(times[b]), min(per_round), max(per_round)))
    return ratios


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", choices=["small", "medium", "large"], default="medium")
    parser.add_argument("--width", choices=["12", "15", "both"], default="both")
    parser.add_argument("--repeat", type=int, default=3, help="rounds per reader (default 3)")
    parser.add_argument("--readers", default=",".join(readers.NAMES),
                        help=f"comma-separated, from {','.join(readers.NAMES)}")
    parser.add_argument("--pandas-rounds", type=int, default=1, help="rounds for pandas (slow; default 1)")
    parser.add_argument("--no-rss", dest="rss", action="store_false", help="skip the peak-memory children")
    parser.add_argument("--data", default=DEFAULT_DATA, help="folder for the generated files")
    parser.add_argument("--read-many", action="store_true",
                        help=f"also time quorvel_arrays.read_many on {READ_MANY_FILES} copies of the file, 1 thread vs 2")
    parser.add_argument("--no-compare", dest="compare", action="store_false",
                        help="skip timing quorvel_arrays.compare against reading both files")
    parser.add_argument("--no-ranges", dest="ranges", action="store_false",
                        help="skip timing threads=2, scan, the last 50 blocks and follow against a whole read")
    parser.add_argument("--cpp-bench", help="the C++ reader benchmark binary, to run on the same files")
    parser.add_argument("--convert-memory", action="store_true",
                        help="also the peak memory of quorvel convert to Parquet, large file against medium")
    parser.add_argument("--convert-wide", action="store_true",
                        help="only the seconds of quorvel convert of a 4,000-parameter file to .nc, .zarr and .parquet")
    parser.add_argument("--rss-child", nargs=4, help=argparse.SUPPRESS)
    parser.add_argument("--convert-child", nargs=2, help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.convert_child:
        convert_child(*options.convert_child)
        return
    if options.rss_child:
        name, path, width, truth_path = options.rss_child
        rss_child(name, path, int(width), truth_path)
        return
    options.readers = [name.strip() for name in options.readers.split(",") if name.strip()]
    unknown = [name for name in options.readers if name not in readers.NAMES]
    if unknown:
        parser.error(f"unknown readers: {', '.join(unknown)} (known: {', '.join(readers.NAMES)})")
    if options.repeat < 1 or options.pandas_rounds < 1:
        parser.error("--repeat and --pandas-rounds must be at least 1")
    options.data = os.path.abspath(options.data)
    widths = [12, 15] if options.width == "both" else [int(options.width)]

    import numpy
    import plotgen

    try:
        import pandas
        pandas_version = pandas.__version__
    except ImportError:
        pandas_version = "absent"
        if "pandas" in options.readers:
            options.readers.remove("pandas")
    import quorvel

    print(f"python {platform.python_version()}, numpy {numpy.__version__}, pandas {pandas_version}, "
          f"module {os.path.relpath(quorvel.__file__)}")
    print(f"{os.cpu_count()} cpus, load average {' '.join(f'{x:.2f}' for x in os.getloadavg())}")

    # Every run: all readers (pandas included) on the small file and on odd shapes.
    check_names = [name for name in readers.NAMES if name != "scan" and (name != "pandas" or pandas_version != "absent")]
    for parameters, blocks in CHECK_SHAPES:
        for width in (12, 15):
            path, truth_path = plotgen.plot_file(options.data, parameters, blocks, width)
            check_agreement(path, truth_path, width, check_names)
    print(f"agreement: {', '.join(check_names)} give the generated values on "
          f"{', '.join(f'{p}x{b}' for p, b in CHECK_SHAPES)} at widths 12 and 15")

    if options.convert_memory:
        for width in widths:
            run_convert_memory(width, options)
        return
    if options.convert_wide:
        for width in widths:
            run_convert_wide(width, options)
        return

    parameters, blocks = plotgen.SIZES[options.size]
    summary = []
    for width in widths:
        median, ratios = run_file(options.size, parameters, blocks, width, options)
        summary.append((width, median, ratios))
    many = [(width, run_read_many(options.size, parameters, blocks, width, options))
            for width in (widths if options.read_many else [])]
    compared = [run_compare(options.size, parameters, blocks, width, options) for width in (widths if options.compare else [])]
    ranged = [run_ranges(options.size, parameters, blocks, width, options) for width in (widths if options.ranges else [])]
    if len(summary) > 1:
        print(f"\nsummary ({options.size}): median seconds per width")
        print("  " + f"{'reader':<18}" + "".join(f"{'width ' + str(width):>10}" for width, _, _ in summary))
        for name in options.readers:
            print("  " + f"{name:<18}" + "".join(f"{median[name]:10.3f}" for _, median, _ in summary))
        print("  ratios (time)")
        for index, (key, *_) in enumerate(summary[0][2]):
            print("  " + f"{key:<18}" + "".join(
                f"{f'{ratios[index][1]:.2f} ({ratios[index][2]:.2f}-{ratios[index][3]:.2f})':>22}" for _, _, ratios in summary))
        if len(many) == len(summary):
            print("  " + f"{'read_many t1/t2':<18}" + "".join(f"{ratio:10.2f}" for _, (ratio, _) in many))
            print("  " + f"{'control t1/t2':<18}" + "".join(f"{control:10.2f}" for _, (_, control) in many))
        if len(compared) == len(summary):
            print("  " + f"{'compare/read both':<18}" + "".join(f"{ratio:10.2f}" for ratio in compared))
        if len(ranged) == len(summary):
            for name in ranged[0]:
                print("  " + f"{name:<18}" + "".join(f"{ratios[name]:10.2f}" for ratios in ranged))


if __name__ == "__main__":
    main()
