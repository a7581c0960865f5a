"""The `quorvel` command where things go wrong: special output files, standard streams full or
closed, signals, memory limits, a missing numpy, stale temporary files, wide files. Everything
that involves a signal, a limit or a closed descriptor runs in a child that sets what it relies
on itself."""

import csv
import io
import json
import os
import pty
import resource
import select
import signal
import stat
import subprocess
import sys
import textwrap

import numpy
import pytest

import quorvel_arrays as qa
from conftest import plot_text
from quorvel_arrays._command import formats
from quorvel_arrays._command import text as command_text
from test_arrays_api import same_bits
from test_cli import HARD, W12, W15, quorvel

COMMAND = [sys.executable, "-m", "quorvel_arrays"]


def child_env():
    return {**os.environ, "LC_ALL": "C.UTF-8"}


def defaults():
    """preexec_fn: the dispositions and umask the command expects, whatever the suite got."""
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, signal.SIG_DFL)
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    os.umask(0o022)


def run(args, *, stdin=None, stdout=subprocess.PIPE, input=None, preexec=None):
    """(exit status, stdout bytes, stderr text) of the command in a child."""

    def setup():
        defaults()
        if preexec is not None:
            preexec()

    done = subprocess.run([*COMMAND, *map(str, args)], stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                          input=input, env=child_env(), preexec_fn=setup, timeout=120)
    return done.returncode, done.stdout, done.stderr.decode()


def run_code(code, *args):
    """Runs Python `code` in a child (the command's module importable); (status, stdout, stderr)."""
    done = subprocess.run([sys.executable, "-c", textwrap.dedent(code), *map(str, args)], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, env=child_env(), preexec_fn=defaults, timeout=120)
    return done.returncode, done.stdout, done.stderr


def csv_of(path):
    """What `convert` writes for `path` as CSV."""
    plot = qa.read(path)
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(plot.names)
    writer.writerows(plot.values.astype(str).tolist())
    return out.getvalue().encode()


def leftovers(folder):
    return sorted(name for name in os.listdir(folder) if name.endswith(".part"))


# ---- special targets


def test_fifo_target_is_written_through(tmp_path):
    fifo = tmp_path / "out.fifo"
    os.mkfifo(fifo)
    reader = subprocess.Popen(["cat", str(fifo)], stdout=subprocess.PIPE)
    status, _, stderr = run(["convert", W12, "-o", fifo, "--to", "csv"])
    received = reader.communicate(timeout=120)[0]
    assert (status, stderr, received) == (0, "", csv_of(W12))
    assert stat.S_ISFIFO(os.lstat(fifo).st_mode) and os.listdir(tmp_path) == ["out.fifo"]


@pytest.mark.parametrize("dangling", [False, True])
def test_symlink_target_replaces_the_file_it_leads_to(tmp_path, dangling):
    elsewhere, here = tmp_path / "elsewhere", tmp_path / "here"
    elsewhere.mkdir()
    here.mkdir()
    real = elsewhere / "real.csv"
    if not dangling:
        real.write_text("old\n")
        os.chmod(real, 0o604)
    os.symlink(os.path.relpath(real, here), here / "link.csv")
    status, _, stderr = run(["convert", W12, "-o", here / "link.csv"])
    assert (status, stderr) == (0, "")
    assert os.readlink(here / "link.csv") == os.path.relpath(real, here)
    assert real.read_bytes() == csv_of(W12)
    # An existing file keeps its mode; a new one gets the umask's (022 in the child).
    assert stat.S_IMODE(os.stat(real).st_mode) == (0o644 if dangling else 0o604)
    assert os.listdir(elsewhere) == ["real.csv"] and os.listdir(here) == ["link.csv"]


def needs_root(reason):
    return pytest.mark.skipif(os.geteuid() != 0, reason=reason)


@needs_root("mknod of a device node needs root")
@pytest.mark.parametrize("kind, device, form, message", [
    (stat.S_IFCHR, (1, 3), "csv", ""),  # the numbers of /dev/null: written in place
    (stat.S_IFCHR, (1, 3), "npz", ""),
    (stat.S_IFCHR, (1, 3), "parquet", ""),
    (stat.S_IFBLK, (7, 200), "csv", "quorvel: cannot write {node}: not a regular file, a FIFO or a character device\n"),
])
def test_device_target_is_written_in_place_or_refused(tmp_path, kind, device, form, message):
    if form == "parquet":
        pytest.importorskip("pyarrow")
    node = tmp_path / "node"
    os.mknod(node, kind | 0o666, os.makedev(*device))
    status, _, stderr = run(["convert", W12, "-o", node, "--to", form])
    assert (status, stderr) == (1 if message else 0, message.format(node=node))
    assert stat.S_IFMT(os.lstat(node).st_mode) == kind and os.listdir(tmp_path) == ["node"]


def test_read_only_target_is_refused_unless_root(tmp_path):
    target = tmp_path / "kept.csv"
    target.write_text("old\n")
    os.chmod(target, 0o444)
    status, _, stderr = run(["convert", W12, "-o", target])
    if os.geteuid() == 0:  # root may write any file
        assert (status, stderr, target.read_bytes()) == (0, "", csv_of(W12))
    else:
        assert (status, stderr, target.read_text()) == (1, f"quorvel: cannot write {target}: Permission denied\n", "old\n")
    assert stat.S_IMODE(os.stat(target).st_mode) == 0o444 and leftovers(tmp_path) == []


# ---- standard output


def test_standard_output_text_and_binary(tmp_path):
    assert run(["convert", W12, "-o", "-", "--to", "csv"]) == (0, csv_of(W12), "")
    status, data, stderr = run(["convert", W12, "-o", "-", "--to", "npz", "--columns", "TEMP,0"])
    with numpy.load(io.BytesIO(data)) as saved:
        assert (status, stderr, tuple(saved["names"].tolist())) == (0, "", ("TEMP", "TIME"))
        assert same_bits(saved["values"], qa.read(W12, columns=["TEMP", 0]).values)


def test_binary_format_is_not_written_to_a_terminal():
    main, child = pty.openpty()
    try:
        status, _, stderr = run(["convert", W12, "-o", "-", "--to", "npz"], stdout=child)
    finally:
        os.close(child)
        os.close(main)
    assert status == 2 and stderr.splitlines()[-1] == (
        "quorvel convert: error: --to npz is binary and standard output is a terminal: redirect it, or give -o FILE")


def close_stdout():
    os.close(1)


FULL = "/dev/full"


@pytest.mark.parametrize("args", [["--help"], ["info", "--json", W12, W15], ["stats", W12, "--csv"],
                                  ["convert", W12, "-o", "-", "--to", "csv"]])
@pytest.mark.parametrize("condition", ["full", "closed"])
def test_standard_output_that_cannot_be_written(args, condition):
    if condition == "full":
        if not os.path.exists(FULL):
            pytest.skip("no /dev/full here")
        with open(FULL, "wb") as full:
            status, _, stderr = run(args, stdout=full)
        reason = "No space left on device"
    else:
        status, _, stderr = run(args, stdout=None, preexec=close_stdout)
        reason = "Bad file descriptor"
    assert (status, stderr) == (1, f"quorvel: cannot write standard output: {reason}\n")


def test_closed_standard_output_is_not_needed_to_convert_to_a_file(tmp_path):
    status, _, stderr = run(["convert", W12, W15, "-o", tmp_path, "--to", "csv"], stdout=None, preexec=close_stdout)
    assert (status, stderr) == (0, "")
    assert (tmp_path / "oscillator_w12.csv").read_bytes() == csv_of(W12)


# ---- standard input


@pytest.mark.parametrize("args, expected", [
    (["info", "--json", "-"], lambda out: json.loads(out)["blocks"] == 40 and json.loads(out)["size"] is None),
    (["stats", "-", "X", "--csv"], lambda out: out.splitlines()[1].startswith(b"1,X,-0.852094,1.0,")),
    (["convert", "-", "-o", "-", "--to", "csv"], lambda out: out == csv_of(W12)),
    # A folder that is missing is made when OUT ends in /, even for one file.
    (["convert", "-", "-o", "{tmp}/made/deeper/", "--to", "csv"], None),
])
def test_dash_reads_standard_input_from_a_pipe(tmp_path, args, expected):
    with open(W12, "rb") as f:
        status, out, stderr = run([a.format(tmp=tmp_path) for a in args], input=f.read())
    assert (status, stderr) == (0, "")
    if expected is None:
        assert (tmp_path / "made" / "deeper" / "stdin.csv").read_bytes() == csv_of(W12)
    else:
        assert expected(out)


# ---- one line instead of a traceback


def test_without_numpy_one_line():
    status, stdout, stderr = run_code("""
        import sys
        sys.modules["numpy"] = None  # its import raises ImportError
        import quorvel_arrays
        try:
            quorvel_arrays.read(sys.argv[1])
        except ImportError as error:
            print(error)
        from quorvel_arrays._command import main
        sys.exit(main(["info", sys.argv[1]]))
    """, W12)
    assert (status, stdout, stderr) == (
        1, "quorvel_arrays needs numpy: pip install 'quorvel[arrays]'\n", "quorvel: quorvel needs numpy: pip install 'quorvel[arrays]'\n")


# The child reads the file before the address space is limited to what it uses plus a little, so
# that the command's own work is what runs out.
MEMORY_CHILD = """
    import resource, sys
    import quorvel_arrays as qa
    from quorvel_arrays._command import cli, formats, stats
    plot = qa.read(sys.argv[1])
    stats.read = lambda *args, **kwargs: plot
    formats.open_source = lambda *args: formats.Source.whole(plot)
    with open("/proc/self/status") as status:
        size = next(int(line.split()[1]) for line in status if line.startswith("VmSize:")) * 1024
    resource.setrlimit(resource.RLIMIT_AS, (size + (4 << 20), resource.RLIM_INFINITY))
    sys.exit(cli.main(sys.argv[2:]))
"""


@pytest.fixture(scope="module")
def tall(tmp_path_factory):
    """Two parameters over 2**21 blocks, one NaN: the values that are not NaN or a chunk of text
    take several MB."""
    path = tmp_path_factory.mktemp("tall") / "tall.plt"
    blocks = 1 << 21
    with open(path, "w") as f:
        f.write(f"TALL 2\nT\nX\n BLOCK\n{'nan':>12}{'nan':>12}\n")
        line = "".join(f" BLOCK\n{k:12d}{k:12d}\n" for k in range(1024))
        f.write(line * (blocks // 1024))
    return str(path)


@pytest.mark.skipif(not os.path.exists("/proc/self/status"), reason="needs /proc to size the limit")
@pytest.mark.parametrize("args, message", [
    (["stats", "{file}"], "quorvel: {file}: not enough memory for the statistics\n"),
    (["convert", "{file}", "-o", "{out}/out.csv"], "quorvel: cannot write {out}/out.csv: not enough memory\n"),
])
def test_memory_error_is_one_line(tmp_path, tall, args, message):
    fill = {"file": tall, "out": tmp_path}
    status, stdout, stderr = run_code(MEMORY_CHILD, tall, *[a.format(**fill) for a in args])
    assert (status, stdout, stderr) == (1, "", message.format(**fill))
    assert os.listdir(tmp_path) == []


def test_missing_glyphs_say_nothing(tmp_path):
    pytest.importorskip("matplotlib")
    path = tmp_path / "glyphs.plt"
    text = plot_text(2, [["0", "1"], ["1", "2"]]).replace("PARAM1", "\u6e29\u5ea6 \U0001f525")
    path.write_text(text)
    assert run(["plot", path, "1", "-o", tmp_path / "p.png", "--dpi", "10", "--width", "1.6", "--height", "1.6"]) == (0, b"", "")


# ---- signals and temporary files


def blocking_writer(folder, fifo, form="csv"):
    """A child converting into `folder` whose writer stops half-way, blocked opening `fifo`: a CSV
    file, or a Zarr folder holding one file."""
    code = f"""
        import os, sys
        from quorvel_arrays._command import cli, formats
        def stuck(source, out):
            if isinstance(out, str):  # the new folder
                with open(os.path.join(out, "half"), "wb") as half:
                    half.write(b"half a store")
            else:
                out.write(b"half a table")
                out.flush()
            os.open({str(fifo)!r}, os.O_RDONLY)  # no writer ever comes
        (formats.PATH_WRITERS if {form!r} == "zarr" else formats.WRITERS)[{form!r}] = stuck
        sys.exit(cli.main(["convert", {W12!r}, "-o", {str(folder / f"out.{form}")!r}]))
    """
    return subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], stderr=subprocess.PIPE, text=True,
                            env=child_env(), preexec_fn=defaults)


def wait_for(predicate, child):
    """Polls until `predicate()` holds, failing if the child ends first."""
    while not predicate():
        assert child.poll() is None, child.stderr.read()
        select.select([], [], [], 0.01)


def ended_by(child, ready, signum, status):
    """Sends `signum` to the child once `ready()` holds and expects it to end with `status`; its
    standard error. The child is killed whatever fails."""
    try:
        wait_for(ready, child)
        child.send_signal(signum)
        assert child.wait(timeout=120) == status
    finally:
        child.kill()
        errors = child.communicate()[1]
    return errors


def half_written(path):
    return os.path.isdir(path) and os.listdir(path) or os.path.isfile(path) and os.path.getsize(path) > 0


@pytest.mark.parametrize("signum, status, form", [(signal.SIGTERM, 143, "csv"), (signal.SIGINT, 130, "csv"),
                                                  (signal.SIGTERM, 143, "zarr")])
def test_signal_removes_the_partial_file(tmp_path, signum, status, form):
    if form == "zarr":
        pytest.importorskip("zarr")
    out, fifo = tmp_path / "out", tmp_path / "never.fifo"
    out.mkdir()
    os.mkfifo(fifo)
    child = blocking_writer(out, fifo, form)
    errors = ended_by(child, lambda: any(leftovers(out)) and half_written(out / leftovers(out)[0]), signum, status)
    assert (errors, os.listdir(out)) == ("", [])


def dead_pid():
    child = subprocess.Popen(["true"])
    child.wait()
    return child.pid


OLD = 3600


@pytest.mark.parametrize("name, age, symlink, removed", [
    ("{dead}-abcd1234", OLD, False, True),
    ("{dead}-abcd1234", 5, False, False),        # a minute has not passed: perhaps still written
    ("{live}-abcd1234", OLD, False, False),      # its writer is still there
    ("abcd1234", OLD, False, False),             # no pid: not a name this command gives
    ("{dead}-abcd1234", OLD, True, False),       # a symbolic link is not a file it made
    ("{dead}-abcd1234", OLD, "folder", True),    # a half-made .zarr folder
    ("{live}-abcd1234", OLD, "folder", False),
])
def test_stale_partial_files(tmp_path, name, age, symlink, removed):
    out = tmp_path / "out"
    out.mkdir()
    stale = out / f".quorvel-{name.format(dead=dead_pid(), live=os.getpid())}.part"
    if symlink == "folder":
        (stale / "time").mkdir(parents=True)
        (stale / "time" / "c0").write_text("half")
    elif symlink:
        (tmp_path / "kept").write_text("x")
        os.symlink(tmp_path / "kept", stale)
    else:
        stale.write_text("half")
    then = os.lstat(stale).st_mtime - age
    os.utime(stale, (then, then), follow_symlinks=False)
    assert run(["convert", W12, "-o", out / "a.csv"])[::2] == (0, "")
    assert sorted(os.listdir(out)) == sorted(["a.csv"] + ([] if removed else [stale.name]))


# ---- formats under strain


@pytest.mark.parametrize("columns, blocks, delimiter", [(1, 5, ","), (7, 0, ","), (7, 5, "\t"), (8, 1, ","), (22, 5, "\t")])
def test_text_chunks_and_row_pieces_match_csv(monkeypatch, columns, blocks, delimiter):
    monkeypatch.setattr(command_text, "TEXT_VALUES_PER_CHUNK", 7)  # rows of more than 7 values go in pieces
    values = numpy.arange(blocks * columns, dtype=numpy.float32).reshape(blocks, columns) / numpy.float32(3)
    values[:, -1] = [float(h) for h in (HARD * 3)[:blocks]]
    plot = qa.Plot("p", "H", [f"N,{k}" for k in range(columns)], values, 12)
    out = io.BytesIO()
    formats.write_text(formats.Source.whole(plot), out, delimiter)
    expected = io.StringIO()
    writer = csv.writer(expected, delimiter=delimiter, lineterminator="\n")
    writer.writerow(plot.names)
    writer.writerows(values.astype(str).tolist())
    assert out.getvalue().decode() == expected.getvalue()


def test_wide_csv_memory_is_bounded(tmp_path):
    """2,000 parameters over 2,000 blocks: turning 4,096 rows into text at once took 400 MB."""
    status, stdout, stderr = run_code("""
        import resource, sys
        import numpy
        import quorvel_arrays as qa
        from quorvel_arrays._command import formats
        values = numpy.random.default_rng(1).standard_normal((2000, 2000)).astype(numpy.float32)
        plot = qa.Plot("wide", "H", [f"P{k}" for k in range(2000)], values, 15)
        before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        formats.write(formats.Source.whole(plot), sys.argv[1], "csv")
        print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) // 1024)
    """, tmp_path / "wide.csv")
    assert (status, stderr) == (0, "") and int(stdout) < 100  # MB more than the values take
    with open(tmp_path / "wide.csv") as f:
        assert sum(1 for _ in f) == 2001


@pytest.mark.parametrize("parameters, refused", [(3, False), (4, True)])
def test_parquet_too_wide_is_refused_before_writing(tmp_path, parameters, refused):
    pytest.importorskip("pyarrow")
    path = tmp_path / "in.plt"
    path.write_text(plot_text(parameters, [[str(k) for k in range(parameters)]]))
    out = tmp_path / "out"
    out.mkdir()
    status, _, stderr = run_code("""
        import sys
        from quorvel_arrays._command import cli, formats
        formats.PARQUET_MAX_COLUMNS = 3
        sys.exit(cli.main(["convert", sys.argv[1], "-o", sys.argv[2]]))
    """, path, out / "in.parquet")
    if refused:
        assert (status, stderr, os.listdir(out)) == (1, f"quorvel: cannot write {out}/in.parquet: 4 parameters are too "
                                                        "many for a Parquet file (at most 3): select some with --columns, "
                                                        "or write .npz\n", [])
    else:
        assert (status, stderr, os.listdir(out)) == (0, "", ["in.parquet"])


# ---- JSON and NaN


def refuse(constant):
    raise ValueError(f"{constant} is not JSON")


@pytest.fixture
def nan_first(tmp_path):
    """The first column all NaN; a column with NaN and both infinities."""
    path = tmp_path / "nan.plt"
    path.write_text(plot_text(3, [["nan", "1", "inf"], ["nan", "nan", "-inf"], ["nan", "3", "nan"]]))
    return str(path)


def test_json_has_no_nan_or_infinity(nan_first):
    status, stdout, stderr = quorvel("info", "--json", nan_first)
    facts = json.loads(stdout, parse_constant=refuse)
    assert (status, stderr, facts["first"]) == (0, "", {"name": "PARAM0", "start": None, "end": None})
    status, stdout, stderr = quorvel("stats", "--json", nan_first)
    rows = json.loads(stdout, parse_constant=refuse)["parameters"]
    assert (status, stderr) == (0, "")
    assert rows == [
        {"position": 0, "name": "PARAM0", "minimum": None, "maximum": None, "mean": None, "last": None, "nan": 3},
        {"position": 1, "name": "PARAM1", "minimum": 1.0, "maximum": 3.0, "mean": 2.0, "last": 3.0, "nan": 1},
        {"position": 2, "name": "PARAM2", "minimum": "-inf", "maximum": "inf", "mean": None, "last": None, "nan": 1},
    ]
    assert "  first column  PARAM0: nan to nan" in quorvel("info", nan_first)[1].splitlines()


def test_info_without_blocks(tmp_path):
    path = tmp_path / "empty.plt"
    path.write_text("H 2\nA\nB\n")
    lines = quorvel("info", path)[1].splitlines()
    assert "  width         unknown (no blocks)" in lines and "  first column  A: no blocks" in lines
    facts = json.loads(quorvel("info", "--json", path)[1])
    assert (facts["n_digits"], facts["blocks"], facts["size"]) == (None, 0, 8)
    assert json.loads(quorvel("info", "--json", "--n-digits", "12", path)[1])["n_digits"] == 12
