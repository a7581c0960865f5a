"""The `quorvel` command, run as `python -m quorvel_arrays` in a child process: every sub-command
on the samples and on a generated file, exit status and messages, outputs read back bit for bit."""

import csv
import json
import os
import pty
import re
import struct
import subprocess
import sys

import numpy
import pytest

import quorvel_arrays as qa
from conftest import plot_text
from test_arrays_api import same_bits

SAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "..", "samples")
W12 = os.path.normpath(os.path.join(SAMPLES, "oscillator_w12.plt"))
W15 = os.path.normpath(os.path.join(SAMPLES, "oscillator_w15.plt"))
# Values whose texts are hard to get back: -0, the smallest subnormal, the largest float32,
# infinities, nan, an integer float32 cannot hold.
HARD = ["-0.0", "1E-45", "3.4028235E+38", "inf", "-inf", "nan", "16777217", "1.23456E-05"]


def quorvel(*args, stderr=subprocess.PIPE):
    """(exit status, stdout, stderr) of the command."""
    done = subprocess.run([sys.executable, "-m", "quorvel_arrays", *map(str, args)],
                          stdout=subprocess.PIPE, stderr=stderr, text=True, timeout=120)
    return done.returncode, done.stdout, done.stderr


@pytest.fixture
def generated(tmp_path):
    """A width-15 file with repeated names and hard values."""
    blocks = [["0", "1", "2", "3", "4"], ["2.5", *HARD[:4]], ["5.0", *HARD[4:]]]
    text = plot_text(5, blocks, 15).split("\n")
    text[1:6] = ["T", "A", "B", "A", "Q R"]
    path = tmp_path / "gen.plt"
    path.write_text("\n".join(text))
    return str(path)


@pytest.fixture
def defective(tmp_path):
    path = tmp_path / "bad.plt"
    path.write_text("H 2\nA\nB\n--\n 1.00000E+00 2.0000XE+00\n")
    return str(path)


def test_info_against_the_library(generated):
    returncode, stdout, stderr = quorvel("info", "--json", "--names", W12, generated)
    assert (returncode, stderr) == (0, "")
    for line, path in zip(stdout.splitlines(), [W12, generated], strict=True):
        plot = qa.read(path)
        assert json.loads(line) == {
            "path": path, "header": plot.header, "parameters": len(plot.names), "blocks": len(plot),
            "n_digits": plot.n_digits, "n_digits_found": True, "size": os.path.getsize(path), "names": list(plot.names),
            "first": {"name": plot.names[0], "start": float(str(plot.time[0])), "end": float(str(plot.time[-1]))},
        }
    lines = quorvel("info", "--n-digits", "15", "--names", generated)[1].splitlines()
    assert lines[0] == generated and lines[-6:-1] == ["    0  T", "    1  A", "    2  B", "    3  A", "    4  Q R"]
    assert {"  width         15 (given)", "  first column  T: 0.0 to 5.0", "  blocks        3"} < set(lines)


def test_stats_against_numpy(generated):
    plot = qa.read(W15)
    returncode, stdout, _ = quorvel("stats", W15, "TEMP", "1", "--json")
    assert returncode == 0
    rows = json.loads(stdout)["parameters"]
    for row, position in zip(rows, [12, 1], strict=True):
        column = plot.values[:, position].astype(numpy.float64)
        assert row["position"] == position and row["name"] == plot.names[position]
        assert [numpy.float32(row[k]) for k in ("minimum", "maximum", "last")] == [column.min(), column.max(), column[-1]]
        assert numpy.float32(row["mean"]) == numpy.float32(column.sum() / len(column))
    table = quorvel("stats", generated, "B", "Q R")[1].splitlines()
    # A NaN is left out of the minimum, maximum and mean, and counted.
    assert [re.split(r"\s{2,}", line.strip()) for line in table] == [
        ["position", "name", "minimum", "maximum", "mean", "last", "nan"],
        ["2", "B", "1e-45", "2.0", "1.0", "nan", "1"],
        ["4", "Q R", "1.23456e-05", "inf", "inf", "1.23456e-05", "0"],
    ]
    rows = list(csv.reader(quorvel("stats", generated, "--csv")[1].splitlines()))
    assert rows[2] == ["1", "A", "-inf", "1.0", "-inf", "-inf", "0"] and rows[3] == ["2", "B", "1e-45", "2.0", "1.0", "nan", "1"]


def test_defective_and_missing_files_report_and_go_on(defective, tmp_path):
    missing = str(tmp_path / "missing.plt")
    returncode, stdout, stderr = quorvel("info", defective, W12, missing, "--json")
    assert returncode == 1 and [json.loads(line)["path"] for line in stdout.splitlines()] == [W12]
    lines = stderr.splitlines()
    assert len(lines) == 2 and lines[0] == f"{defective}:5:13: field 2 is not a number: ' 2.0000XE+00'"
    assert lines[1] == f"quorvel: {missing}: No such file or directory"
    for args in (["stats", defective], ["plot", defective, "B", "-o", tmp_path / "p.png"]):
        assert quorvel(*args)[::2] == (1, lines[0] + "\n")
    assert quorvel("stats", W12, "NOPE")[::2] == (1, f"quorvel: 'NOPE' is not a parameter name of {W12}\n")
    folder = tmp_path / "out"
    returncode, _, stderr = quorvel("convert", defective, W12, "-o", folder, "--to", "csv")
    assert (returncode, stderr, os.listdir(folder)) == (1, lines[0] + "\n", ["oscillator_w12.csv"])


@pytest.mark.parametrize(
    "args, message",
    [
        ([], "the following arguments are required: COMMAND"),
        (["info"], "the following arguments are required: FILE"),
        (["info", W12, "--n-digits", "0"], f"argument --n-digits: must be a whole number from 1 to {2**63 - 1}, not '0'"),
        (["stats", W12, "--json", "--csv"], "argument --csv: not allowed with argument --json"),
        (["convert", W12, "-o", "out.xlsx"], "cannot tell the format of out.xlsx: name it .csv, .tsv, .npz, .parquet, .nc or .zarr, or give --to"),
        (["convert", W12, "-o", "-", "--to", "zarr"], "--to zarr is written to a file or a folder, not to standard output: give -o OUT"),
        (["convert", W12, W15, "-o", W12, "--to", "csv"], f"-o {W12} must be a folder when converting several files"),
        (["convert", W12, W15, "-o", "{tmp}"], "-o {tmp} is a folder: give the format with --to"),
        (["convert", W12, W12, "-o", "{tmp}", "--to", "csv"], f"{W12} and {W12} would both be written to {{tmp}}/oscillator_w12.csv"),
        (["convert", W12, "-o", W12, "--to", "csv"], f"{W12} is an input file: it would be overwritten"),
        (["convert", W12, "-o", "x.csv", "--columns", "A,,B"], "argument --columns: empty name in 'A,,B'"),
        (["plot", W12, "X", "-o", "out.jpg"], "cannot tell the picture format of out.jpg: name it .png, .svg or .pdf"),
        (["plot", W12, "X", "-o", "o.png", "--dpi", "-3"], "argument --dpi: must be a number from 10 to 10000, not '-3'"),
        (["info", W12, "--n-digits", str(10**27)], f"argument --n-digits: must be a whole number from 1 to {2**63 - 1}, not '{10**27}'"),
        (["info", W12, "--n-digits", str(2**63)], f"argument --n-digits: must be a whole number from 1 to {2**63 - 1}, not '{2**63}'"),
        (["info", "-", "-"], "- (standard input) can be given only once"),
        (["convert", W12, "-o", "-"], "-o - is standard output: give the format with --to"),
        (["convert", W12, W15, "-o", "-", "--to", "csv"], "-o - writes one file to standard output: give one FILE"),
        (["convert", W12, "-o", W15 + "/", "--to", "csv"], f"-o {W15}/ names a folder, but {W15} is a file"),
        (["plot", W12, "X", "-o", "o.png", "--dpi", "9.99"], "argument --dpi: must be a number from 10 to 10000, not '9.99'"),
        (["plot", W12, "X", "-o", "o.png", "--dpi", "10000.5"], "argument --dpi: must be a number from 10 to 10000, not '10000.5'"),
        (["plot", W12, "X", "-o", "o.png", "--width", "1e6"],
         "the picture would be 100,000,000×300 pixels (width and height × dpi): each side must be from 16 to 16,384"),
        (["plot", W12, "X", "-o", "o.png", "--height", "163.85"],
         "the picture would be 800×16,385 pixels (width and height × dpi): each side must be from 16 to 16,384"),
        (["plot", W12, "X", "-o", "o.svg", "--width", "0.15"],
         "the picture would be 15×300 pixels (width and height × dpi): each side must be from 16 to 16,384"),
        (["plot", W12, "X", "-o", "o.pdf", "--dpi", "10000"],
         "the picture would be 80,000×30,000 pixels (width and height × dpi): each side must be from 16 to 16,384"),
    ],
)
def test_usage_errors(tmp_path, args, message):
    returncode, stdout, stderr = quorvel(*[str(a).format(tmp=tmp_path) for a in args])
    assert (returncode, stdout) == (2, "") and stderr.splitlines()[-1].endswith("error: " + message.format(tmp=tmp_path))
    assert not any(name.endswith((".csv", ".part")) for name in os.listdir(tmp_path))


def test_help_on_every_command():
    for command in ([], ["info"], ["stats"], ["convert"], ["plot"], ["diff"]):
        returncode, stdout, _ = quorvel(*command, "--help")
        assert returncode == 0 and stdout.startswith(" ".join(["usage: quorvel", *command]))


def read_text_table(path, delimiter):
    with open(path, newline="") as f:
        rows = list(csv.reader(f, delimiter=delimiter))
    return tuple(rows[0]), numpy.array(rows[1:], dtype=numpy.float32)  # numpy parses each text to float32


def read_npz(path):
    with numpy.load(path) as data:
        return tuple(data["names"].tolist()), data["values"]


def read_parquet(path):
    table = pytest.importorskip("pyarrow.parquet").read_table(path)
    names = tuple(json.loads(table.schema.metadata[b"quorvel.names"]))
    return names, numpy.column_stack([column.to_numpy() for column in table.columns])


def by_position(variables):
    """(names, values) of (parameter, position, values) triples, in the order of their positions."""
    ordered = sorted(variables, key=lambda v: v[1])
    assert [v[1] for v in ordered] == list(range(len(ordered)))
    return tuple(v[0] for v in ordered), numpy.column_stack([v[2] for v in ordered]).reshape(-1, len(ordered))


def read_netcdf(path):
    netcdf = pytest.importorskip("netCDF4")
    with netcdf.Dataset(path) as data:
        data.set_auto_mask(False)  # the stored bits, NaN payloads included
        assert not data.dimensions["time"].isunlimited()  # sized by the scan
        return by_position([(v.parameter, int(v.position), v[:]) for v in data.variables.values()])


def read_zarr(path):
    group = pytest.importorskip("zarr").open_group(path, mode="r")
    return by_position([(a.attrs["parameter"], int(a.attrs["position"]), a[:]) for _, a in group.arrays()])


READERS = {"csv": lambda p: read_text_table(p, ","), "tsv": lambda p: read_text_table(p, "\t"),
           "npz": read_npz, "parquet": read_parquet, "nc": read_netcdf, "zarr": read_zarr}
LIBRARIES = {"parquet": "pyarrow", "nc": "netCDF4", "zarr": "zarr"}


@pytest.mark.parametrize("form", sorted(READERS))
def test_convert_reads_back_bit_for_bit(tmp_path, generated, form):
    if form in LIBRARIES:
        pytest.importorskip(LIBRARIES[form])
    assert quorvel("convert", generated, "-o", tmp_path / f"one.{form}")[0] == 0
    names, values = READERS[form](tmp_path / f"one.{form}")
    plot = qa.read(generated)
    assert names == plot.names and same_bits(values, plot.values)
    folder = tmp_path / "many"
    assert quorvel("convert", W12, generated, "-o", folder, "--to", form, "--columns", "-1,0")[::2] == (0, "")
    assert sorted(os.listdir(folder)) == sorted([f"gen.{form}", f"oscillator_w12.{form}"])
    for path in (W12, generated):
        names, values = READERS[form](folder / f"{os.path.splitext(os.path.basename(path))[0]}.{form}")
        selected = qa.read(path, columns=[-1, 0])
        assert names == selected.names and same_bits(values, selected.values)


@pytest.mark.parametrize("args, size", [(["X", "V", "ENERGY", "--width", "6", "--height", "4", "--dpi", "50"], (300, 200)),
                                        (["X", "-1", "--overlay", "--width", "3.2", "--height", "2.4"], (320, 240))])
def test_plot_png(tmp_path, args, size):
    image = pytest.importorskip("matplotlib.image")
    out = tmp_path / "p.png"
    assert quorvel("plot", W12, *args, "-o", out)[:2] == (0, "")
    with open(out, "rb") as f:
        head = f.read(24)
    assert head[:16] == b"\x89PNG\r\n\x1a\n\0\0\0\rIHDR" and struct.unpack(">II", head[16:24]) == size
    pixels = image.imread(out)
    assert pixels.shape[:2] == size[::-1] and pixels[..., :3].std() > 0.05


@pytest.mark.parametrize("form, magic", [("svg", b"<?xml"), ("pdf", b"%PDF-")])
def test_plot_vector_formats(tmp_path, generated, form, magic):
    pytest.importorskip("matplotlib")
    out = tmp_path / f"p.{form}"
    returncode, _, stderr = quorvel("plot", generated, "A", "-o", out)  # two parameters are named A
    assert returncode == 1 and "position" in stderr and not os.path.exists(out)
    assert quorvel("plot", generated, "3", "B", "-o", out)[0] == 0
    with open(out, "rb") as f:
        assert f.read(5) == magic


def test_progress_only_on_a_terminal(tmp_path):
    assert quorvel("info", W12, W15)[::2] == (0, "")  # stderr is a pipe here
    main, child = pty.openpty()
    with open(main, "rb") as terminal:
        with open(child, "wb") as child_end:
            assert quorvel("convert", W12, W15, "-o", tmp_path, "--to", "npz", stderr=child_end)[:2] == (0, "")
        shown = terminal.read1(65536)  # what the command drew, all there before it exited
    assert b"1/2 [" in shown and b"2/2 [" in shown and shown.endswith(b"\r\x1b[K")


def test_version_is_the_distributions():
    import importlib.metadata

    try:
        expected = importlib.metadata.version("quorvel")
    except importlib.metadata.PackageNotFoundError:  # the build folder: no metadata to read
        expected = "(not installed: run from a build folder)"
    assert quorvel("--version") == (0, f"quorvel {expected}\n", "")
