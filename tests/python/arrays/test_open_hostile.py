"""The engine's open under a hostile user's files: the time coordinate kept by the scan against
read(path) bit for bit (or its PlotFileError word for word), and a file rewritten while the open
scans it."""

import pytest

import quorvel_arrays as qa
from quorvel_arrays import _plot_file
from test_arrays_api import same_bits

xr = pytest.importorskip("xarray")
from quorvel_arrays._xarray_backend import PlotBackend  # noqa: E402


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
