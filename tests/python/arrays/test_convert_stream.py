"""`quorvel convert` a piece at a time: outputs of many pieces read back with each format's own
library against the whole read, a defect after the first piece, the targets a folder or netCDF
output refuses, and `info` from a scan and the first and last blocks."""

import io
import json
import os
import zipfile

import numpy
import pytest

import quorvel_arrays as qa
from conftest import plot_text
from quorvel_arrays._command import cli, formats
from test_arrays_api import same_bits
from test_cli import HARD, LIBRARIES, READERS, quorvel
from test_cli_hostile import csv_of, leftovers

FORMATS = sorted(READERS)


@pytest.fixture
def long_file(tmp_path):
    """Eleven blocks of three parameters, hard values among them: pieces of two blocks at 7 values
    a piece."""
    blocks = [[str(b * 0.5), HARD[b % len(HARD)], str(-b)] for b in range(11)]
    path = tmp_path / "long.plt"
    path.write_text(plot_text(3, blocks, 15))
    return str(path)


def convert(monkeypatch, capsys, *args):
    monkeypatch.setattr(formats, "PIECE_VALUES", 7)
    status = cli.main(["convert", *map(str, args)])
    return status, capsys.readouterr().err


@pytest.mark.parametrize("form", FORMATS)
def test_many_pieces_read_back_as_the_whole_read(monkeypatch, capsys, tmp_path, long_file, form):
    if form in LIBRARIES:
        pytest.importorskip(LIBRARIES[form])
    out = tmp_path / f"out.{form}"
    assert convert(monkeypatch, capsys, long_file, "-o", out) == (0, "")
    plot = qa.read(long_file)
    names, values = READERS[form](out)
    assert names == plot.names and same_bits(values, plot.values)
    if form == "csv":
        assert out.read_bytes() == csv_of(long_file)
    elif form == "npz":  # numpy.savez's members, byte for byte
        expected = io.BytesIO()
        numpy.savez(expected, values=plot.values, names=numpy.array(plot.names, dtype=str),
                    header=numpy.array(plot.header), n_digits=numpy.array(plot.n_digits))
        with zipfile.ZipFile(expected) as want, zipfile.ZipFile(out) as got:
            assert got.namelist() == want.namelist()
            assert all(got.read(name) == want.read(name) for name in want.namelist())
    elif form == "parquet":  # a row group per piece
        metadata = pytest.importorskip("pyarrow.parquet").ParquetFile(out).metadata
        assert [metadata.row_group(k).num_rows for k in range(metadata.num_row_groups)] == [2] * 5 + [1]
    elif form in ("nc", "zarr"):
        xarray = pytest.importorskip("xarray")
        opened = xarray.open_dataset(out, engine="zarr" if form == "zarr" else "netcdf4")
        assert opened.attrs == {"path": long_file, "header": plot.header, "n_digits": plot.n_digits}
        assert [opened[k].attrs["parameter"] for k in ("time", "PARAM1", "PARAM2")] == list(plot.names)
    if form == "zarr":  # the store as the zarr library itself makes one, and its consolidated view
        zarr = pytest.importorskip("zarr")
        group = zarr.open_group(out, mode="r")
        made = zarr.create_array(store={}, shape=(11,), chunks=(2,), dtype="float32", fill_value=numpy.nan,
                                 dimension_names=["time"], attributes=dict(group["PARAM1"].attrs))
        assert group["PARAM1"].metadata.to_dict() == made.metadata.to_dict()
        assert group.metadata.consolidated_metadata.metadata["PARAM1"] == group["PARAM1"].metadata


@pytest.mark.parametrize("form", FORMATS)
def test_a_defect_after_the_first_piece_leaves_nothing(monkeypatch, capsys, tmp_path, form):
    if form in LIBRARIES:
        pytest.importorskip(LIBRARIES[form])
    path = tmp_path / "in.plt"
    path.write_text(plot_text(3, [[str(b), "1", "2"] for b in range(6)] + [["7", "1.2.3", "2"]]))
    out = tmp_path / "out"
    out.mkdir()
    status, stderr = convert(monkeypatch, capsys, path, "-o", out / f"in.{form}")
    assert (status, stderr) == (1, f"{path}:18:13: field 2 is not a number: '       1.2.3'\n")
    assert os.listdir(out) == []


@pytest.mark.parametrize("scanned, more, read", [(3, 1, 4), (5, 2, 6), (7, 1, 4)])
def test_a_count_other_than_the_scans_is_a_changed_file(scanned, more, read):
    piece = qa.Plot("p", "H", ["A"], numpy.zeros((2, 1), numpy.float32), 12)
    source = formats.Source(piece, iter([piece] * more), scanned, 2)
    with pytest.raises(formats.ReadFailed) as caught:
        list(source.pieces())
    assert str(caught.value.error) == f"the file changed while it was converted: {scanned} blocks when scanned, {read} when read"


@pytest.mark.parametrize("kind", ["folder", "file", "dangling link"])
def test_an_existing_zarr_target_is_refused_untouched(tmp_path, kind):
    pytest.importorskip("zarr")
    target = tmp_path / "out.zarr"
    if kind == "folder":
        target.mkdir()
        (target / "kept").write_text("x")
    elif kind == "file":
        target.write_text("x")
    else:
        os.symlink(tmp_path / "nowhere", target)
    sample = os.path.join(os.path.dirname(__file__), "..", "..", "..", "samples", "oscillator_w12.plt")
    status, _, stderr = quorvel("convert", sample, "-o", target)
    assert (status, stderr) == (1, f"quorvel: cannot write {target}: it exists: a folder output never replaces "
                                   "anything (remove it, or choose another name)\n")
    assert os.listdir(tmp_path) == ["out.zarr"] and os.path.islink(target) == (kind == "dangling link")
    if kind == "folder":
        assert os.listdir(target) == ["kept"]


def test_netcdf_to_a_fifo_is_refused(tmp_path):
    pytest.importorskip("netCDF4")
    fifo = tmp_path / "out.nc"
    os.mkfifo(fifo)
    sample = os.path.join(os.path.dirname(__file__), "..", "..", "..", "samples", "oscillator_w12.plt")
    assert quorvel("convert", sample, "-o", fifo) == (
        1, "", f"quorvel: cannot write {fifo}: this format is written to a regular file, not to a FIFO or a device\n")
    assert leftovers(tmp_path) == []


@pytest.mark.parametrize("times, bad_block, reported", [
    (["3", "1", "2"], None, False),   # the first and last values, not the minimum and maximum
    (["3", "1", "2"], 1, False),      # a defect in a middle block is left to stats and convert
    (["3", "1", "2"], 2, True),       # the last block is read
    (["5"], 0, True),
])
def test_info_reads_the_first_and_last_blocks(tmp_path, times, bad_block, reported):
    blocks = [[t, "1"] for t in times]
    if bad_block is not None:
        blocks[bad_block][1] = "x"
    path = tmp_path / "in.plt"
    path.write_text(plot_text(2, blocks))
    status, stdout, stderr = quorvel("info", "--json", path)
    if reported:
        assert (status, stdout) == (1, "") and stderr.endswith("field 2 is not a number: '           x'\n")
    else:
        assert (status, stderr) == (0, "")
        facts = json.loads(stdout)
        assert (facts["blocks"], facts["first"]) == (len(times), {"name": "PARAM0", "start": 3.0, "end": 2.0})
