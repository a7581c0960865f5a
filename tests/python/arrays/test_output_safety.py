"""What the writing commands do with hostile targets and conditions: an output that is an input,
names netCDF and Zarr refuse, a signal or a full disk while a library writes, a read-only file
system. Each runs the command in a child that sets the dispositions and umask it relies on."""

import os
import re
import shutil
import signal
import subprocess

import numpy
import pytest

import quorvel_arrays as qa
from conftest import plot_text
from quorvel_arrays import _store_names
from quorvel_arrays._command import figure as _figure, safe_output
from test_arrays_api import same_bits
from test_cli import LIBRARIES, W12
from test_cli_hostile import COMMAND, child_env, defaults, ended_by, leftovers, run

STORE_FORMATS = ["nc", "zarr"]


# ---- an output that is an input


@pytest.mark.parametrize("args, out, via", [
    (["{a}", "X", "-o", "{out}"], "latest.png", "symlink"),
    (["{a}", "{b}", "-n", "X", "-o", "{out}"], "latest.png", "symlink"),
    (["{a}", "{b}", "-n", "X", "-o", "{out}"], "latest.svg", "hard link"),
    (["{out}", "X", "-o", "{out}"], "run.svg", "itself"),
])
def test_plot_never_draws_over_an_input(tmp_path, args, out, via):
    pytest.importorskip("matplotlib")
    a, b = tmp_path / "run.plt", tmp_path / "other.plt"
    shutil.copy(W12, a)
    shutil.copy(W12, b)
    target = tmp_path / out
    if via == "symlink":
        os.symlink(a, target)
    elif via == "hard link":
        os.link(a, target)
    else:
        os.rename(a, target)
        a = target
    status, _, stderr = run(["plot", *(arg.format(a=a, b=b, out=target) for arg in args)])
    assert status == 2 and stderr.endswith(f"quorvel plot: error: {target} is an input file: it would be overwritten\n")
    assert open(a, "rb").read() == open(W12, "rb").read() and leftovers(tmp_path) == []


@pytest.mark.parametrize("link", [False, True])
def test_the_write_itself_refuses_an_input(tmp_path, link):
    """The check the command makes before reading is made again by the write (watch draws with it)."""
    pytest.importorskip("matplotlib")
    source = tmp_path / "run.plt"
    shutil.copy(W12, source)
    target = tmp_path / "latest.png"
    if link:
        os.symlink(source, target)
    plot = qa.read(str(source))
    with pytest.raises(safe_output.IsInput, match="^it is an input file: it would be overwritten$"):
        _figure.draw(plot, str(target if link else source), overlay=False, width=4, height=None, dpi=50)
    assert source.read_bytes() == open(W12, "rb").read() and leftovers(tmp_path) == []


# ---- names the formats refuse


def decoded(key):
    """The documented decoding of a key that was neither cut nor made unique."""
    if key.startswith("_%"):
        key = key[1:]
    data = bytearray()
    for match in re.finditer(r"%([0-9A-F]{2})?|[^%]+", key):
        data += bytes([int(match[1], 16)]) if match[1] else b"" if match[0] == "%" else match[0].encode()
    return data.decode()


HOSTILE = ["", ".hidden", "a/b", "x\ty", "FLOW/LIQ", "B\\C", "..", "%", "%41", "_%x", "__x", "-1", "x y", "time",
           "é/ü", "ok"]
# Names that would become one (netCDF composes names) or clash with the store's own metadata.
CLASHING = ["\u00e9", "e\u0301", "zarr.json"]


@pytest.mark.parametrize("name, key", [
    ("", "_%"), (".hidden", "_%2Ehidden"), ("a/b", "a%2Fb"), ("x\ty", "x%09y"), ("..", "_%2E."), ("%", "_%25"),
    ("_%x", "_%5F%25x"), ("__x", "_%5F_x"), ("-1", "_%2D1"), ("end ", "end%20"), ("é/ü", "é%2Fü"), ("ok", "ok"),
    ("_a", "_a"), ("e\u0301", "e%CC%81"), ("\u00e9", "\u00e9"), ("zarr.json", "_%7Aarr.json"),
    ("zarr.jsonx", "zarr.jsonx"),
])
def test_keys_escape_what_the_formats_refuse(name, key):
    assert (_store_names.key_of(name), decoded(key)) == (key, name)


def test_keys_are_unique_and_short():
    long = "a" + "é" * 200  # no character is cut in two: 251 bytes kept, then the mark
    keys = _store_names.store_keys(["T", *HOSTILE, long, long + "/", "time"])
    assert len(set(keys)) == len(keys) and max(len(k.encode()) for k in keys) == 255
    assert keys[-3:] == [long[:126] + "%~17", long[:126] + "%~18", "time@19"]
    assert [decoded(k) for k in keys[:len(HOSTILE)] if k != "time@14"] == [n for n in HOSTILE if n != "time"]


def named_file(folder, names, blocks=3):
    text = plot_text(len(names), [[str(b + k) for k in range(len(names))] for b in range(blocks)]).split("\n")
    text[1:1 + len(names)] = names
    path = folder / "named.plt"
    path.write_text("\n".join(text))
    return path


@pytest.mark.parametrize("form", STORE_FORMATS)
def test_every_parameter_reads_back_under_its_own_name(tmp_path, form):
    pytest.importorskip(LIBRARIES[form])
    xarray = pytest.importorskip("xarray")
    names = ["TIME", *HOSTILE, *CLASHING, "n" * 300, "TIME"]
    path = named_file(tmp_path, names)
    plot = qa.read(str(path))
    assert plot.names == tuple(names)
    out = tmp_path / f"out.{form}"
    status, _, stderr = run(["convert", path, "-o", out])
    assert (status, stderr) == (0, "")
    with xarray.open_dataset(out, engine="zarr" if form == "zarr" else "netcdf4") as opened:
        found = sorted((int(v.attrs["position"]), v.attrs["parameter"], v.values)
                       for v in [*opened.data_vars.values(), *opened.coords.values()])
    assert tuple(name for _, name, _ in found) == plot.names
    assert same_bits(numpy.column_stack([values for _, _, values in found]), plot.values)


@pytest.mark.parametrize("form", STORE_FORMATS)
@pytest.mark.parametrize("blocks", [0, 1])
def test_a_run_of_no_block_yet_converts(tmp_path, form, blocks):
    pytest.importorskip(LIBRARIES[form])
    xarray = pytest.importorskip("xarray")
    path = named_file(tmp_path, ["TIME", "A", "B"], blocks)
    out = tmp_path / f"out.{form}"
    assert run(["convert", path, "-o", out])[::2] == (0, "")
    with xarray.open_dataset(out, engine="zarr" if form == "zarr" else "netcdf4") as opened:
        assert (dict(opened.sizes), list(opened.data_vars)) == ({"time": blocks}, ["A", "B"])
        assert opened["B"].values.tolist() == [2.0] * blocks


# ---- a signal or a full disk while a library writes


@pytest.fixture(scope="module")
def big(tmp_path_factory):
    """About 16 MB of text: a library takes a while to write it."""
    rng = numpy.random.default_rng(7)
    values = rng.standard_normal((6000, 200)).astype(numpy.float32)
    path = tmp_path_factory.mktemp("big") / "big.plt"
    text = plot_text(200, [[f"{v:.5E}" for v in row] for row in values])
    path.write_text(text)
    return path


def writing(path):
    return os.path.isdir(path) and any(os.scandir(path)) or os.path.isfile(path) and os.path.getsize(path) > 0


@pytest.mark.parametrize("form", STORE_FORMATS)
@pytest.mark.parametrize("signum, status", [(signal.SIGTERM, 143), (signal.SIGINT, 130)])
def test_a_signal_during_the_library_write_leaves_nothing(tmp_path, big, form, signum, status):
    pytest.importorskip(LIBRARIES[form])
    out = tmp_path / "out"
    out.mkdir()
    child = subprocess.Popen([*COMMAND, "convert", str(big), "-o", str(out / f"big.{form}")], stderr=subprocess.PIPE,
                             text=True, env=child_env(), preexec_fn=defaults)
    errors = ended_by(child, lambda: leftovers(out) and writing(out / leftovers(out)[0]), signum, status)
    assert (errors, os.listdir(out)) == ("", [])


@pytest.fixture
def small_disk(tmp_path):
    """A 1 MiB file system of its own, unmounted afterwards."""
    if os.geteuid() != 0:
        pytest.skip("mounting a file system needs root")
    mount = tmp_path / "disk"
    mount.mkdir()
    made = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(mount)], capture_output=True, text=True)
    if made.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here: {made.stderr.strip()}")
    try:
        yield mount
    finally:
        subprocess.run(["umount", "-l", str(mount)], check=True)


@pytest.mark.parametrize("form", STORE_FORMATS)
def test_a_full_disk_is_one_line_and_keeps_the_old_target(small_disk, big, form):
    pytest.importorskip(LIBRARIES[form])
    target = small_disk / f"big.{form}"
    if form == "nc":  # a file is replaced; a folder output never is
        target.write_bytes(b"old")
    status, _, stderr = run(["convert", big, "-o", target])
    assert (status, stderr) == (1, f"quorvel: cannot write {target}: No space left on device\n")
    assert os.listdir(small_disk) == (["big.nc"] if form == "nc" else [])
    if form == "nc":
        assert target.read_bytes() == b"old"


def test_a_read_only_file_system_says_so(small_disk):
    target = small_disk / "kept.csv"
    target.write_text("old\n")
    subprocess.run(["mount", "-o", "remount,ro", str(small_disk)], check=True)
    status, _, stderr = run(["convert", W12, "-o", target])
    assert (status, stderr) == (1, f"quorvel: cannot write {target}: Read-only file system\n")
    assert target.read_text() == "old\n"
