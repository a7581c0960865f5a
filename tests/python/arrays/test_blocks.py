"""Ranged, parallel and piecewise reads against the whole read of the same file: the rows of the
chosen blocks bit for bit, and the whole read's exception (message, line, column) for a defect
in them, whatever the range, the thread count or the piece size."""

import errno
import os
import threading

import numpy as np
import pytest

import quorvel_arrays as qa
from conftest import plot_text

N = 13  # two value lines a block: three lines a block, names on lines 2 to 14


def values(blocks):
    return [[f"{b * 100 + j:.5E}" for j in range(N)] for b in range(blocks)]


def write(plot_file, blocks, bad=None, tail_lines=0):
    """A file of `blocks` blocks; `bad`: the block with a bad first field; `tail_lines`: lines of
    one more block the file ends inside."""
    rows = values(blocks + 1)
    if bad is not None:
        rows[bad][0] = "1.2.3"
    text = plot_text(N, rows[:blocks])
    if tail_lines:
        text += "\n".join(plot_text(N, rows[: blocks + 1]).splitlines()[-3:][:tail_lines]) + "\n"
    return plot_file(text)


def outcome(call):
    try:
        return call()
    except qa.PlotFileError as error:
        return (error.reason, error.line, error.column)


@pytest.mark.parametrize(
    "blocks",
    [slice(None), slice(0, 0), slice(0, 1), slice(-1, None), slice(-3, -1), slice(5, 2), slice(-100, 3),
     slice(8, 100), range(2, 6), slice(None, -7), slice(7, None)],
)
@pytest.mark.parametrize("threads", [1, 3])
def test_a_range_gives_the_whole_reads_rows(plot_file, blocks, threads):
    path = write(plot_file, 8)
    whole = qa.read(path)
    part = qa.read(path, blocks=blocks, threads=threads)
    assert part.values.tobytes() == whole.values[blocks.start:blocks.stop].tobytes()
    assert (part.names, part.header, part.n_digits) == (whole.names, whole.header, whole.n_digits)


@pytest.mark.parametrize(
    ("bad", "tail_lines", "blocks", "reported"),
    [
        (1, 0, slice(0, 1), False),    # after the range
        (1, 0, slice(1, 2), True),     # inside
        (1, 0, slice(2, None), False),  # before
        (None, 2, slice(-1, None), True),  # the block the file ends inside, at the end of the range
        (None, 2, slice(0, 8), True),
        (None, 2, slice(0, 7), False),
        (7, 0, slice(None), True),
    ],
)
def test_a_defect_is_reported_as_the_whole_read_reports_it_when_it_lies_in_the_range(
    plot_file, bad, tail_lines, blocks, reported
):
    path = write(plot_file, 8, bad=bad, tail_lines=tail_lines)
    whole = outcome(lambda: qa.read(path, 12))
    for threads in (1, 2, 8):
        got = outcome(lambda: qa.read(path, 12, blocks=blocks, threads=threads))
        if reported:
            assert got == whole
        else:
            assert isinstance(got, qa.Plot) and len(got) == len(range(8)[blocks])


@pytest.mark.parametrize("threads", range(1, 9))
def test_parallel_reads_of_a_large_file_match_one_thread_and_raise_its_first_defect(plot_file, threads):
    path = write(plot_file, 600)  # about 170 KB: parts of 4 KB or more
    assert qa.read(path, threads=threads).values.tobytes() == qa.read(path).values.tobytes()
    two = write(plot_file, 600, bad=123)
    with open(two, "r+b") as out:  # a second defect, later in the file
        out.seek(-5, os.SEEK_END)
        out.write(b"x")
    assert outcome(lambda: qa.read(two, threads=threads)) == outcome(lambda: qa.read(two))


def test_scan_counts_blocks_without_parsing_values(plot_file):
    path = write(plot_file, 5, bad=3)
    info = qa.scan(path)
    assert (info.path, info.names, info.n_digits, info.blocks, info.size) == (
        path, tuple(f"PARAM{i}" for i in range(N)), 12, 5, os.path.getsize(path))
    with pytest.raises(qa.PlotFileError, match=r":22: the file ends inside block 3: a value line is missing$"):
        qa.scan(write(plot_file, 2, tail_lines=1))
    assert qa.scan(plot_file(f"PLOT {N}\n" + "".join(f"P{i}\n" for i in range(N)))).n_digits is None


@pytest.mark.parametrize("threads", [2, 4, None])
def test_a_scan_in_parts_counts_and_notes_what_one_thread_does(plot_file, threads):
    path = write(plot_file, 4000)  # about 1.1 MB: counted in parts of 256 KiB or more
    with open(path, "rb") as f:
        line_starts = [0] + [i + 1 for i, byte in enumerate(f.read()) if byte == ord("\n")]
    one, several = qa.scan(path), qa.scan(path, threads=threads)
    assert (several.blocks, several.size, several.names) == (one.blocks, one.size, one.names)
    for block in (0, 1, 999, 2000, 3999, 4000):
        noted, offset = several.start_before(block)
        assert noted <= block and offset == line_starts[N + 1 + 3 * noted]
    whole = qa.read(path)
    assert qa.read(path, blocks=slice(-50, None), threads=threads).values.tobytes() == whole.values[-50:].tobytes()


@pytest.mark.parametrize("chunk", [1, 3, 8, 100])
def test_iter_blocks_gives_the_file_in_pieces_then_the_defect(plot_file, chunk):
    path = write(plot_file, 8)
    pieces = list(qa.iter_blocks(path, chunk=chunk, columns=[-1, "PARAM0"]))
    assert [len(p) for p in pieces] == [len(range(8)[i:i + chunk]) for i in range(0, 8, chunk)]
    whole = qa.read(path, columns=[-1, "PARAM0"])
    assert np.concatenate([p.values for p in pieces]).tobytes() == whole.values.tobytes()
    broken = write(plot_file, 8, bad=5)
    got = []
    with pytest.raises(qa.PlotFileError) as caught:
        got.extend(len(p) for p in qa.iter_blocks(broken, chunk=chunk))
    assert sum(got) == 5 // chunk * chunk
    assert (caught.value.line, caught.value.column) == (15 + 5 * 3 + 1, 1)
    assert [len(p) for p in qa.iter_blocks(plot_file(f"PLOT 1\nT\n"))] == [0]
    wide = plot_file(plot_text(25, [[f"{b + j:.5E}" for j in range(25)] for b in range(8)]))  # 4 lines a block
    for huge in (2**62, 2**63 - 1, 2**64, 10**30):  # past any count of blocks times lines a block
        assert [len(p) for p in qa.iter_blocks(wide, chunk=huge)] == [8]


def shrink(path, other):
    os.truncate(path, os.path.getsize(other))


def cut_to_the_place_reached(path, other):
    os.truncate(path, len("".join(open(path).readlines()[:14 + 30 * 3])))  # a block boundary


def replace(path, other):
    os.replace(other, path)


def rewrite(path, other):
    with open(path, "r+b") as out:  # the same size, in place: it never looks smaller
        out.write(open(other, "rb").read())


@pytest.mark.parametrize(
    ("change", "reason"),
    [
        (shrink, "the file shrank to {size:,} bytes while it was read in pieces: block 31 was to start at byte {offset:,}"),
        (cut_to_the_place_reached, "the file shrank to {offset:,} bytes while it was read in pieces: it held {held:,}"),
        (replace, "the file was replaced by another while it was read in pieces"),
        (rewrite, "the file was rewritten while it was read in pieces: its bytes before block 31 are not those read"),
        (lambda path, _: os.remove(path), "the file was removed while it was read in pieces"),
    ],
)
def test_iter_blocks_ends_in_an_error_when_the_file_changes_between_pieces(plot_file, change, reason):
    path = write(plot_file, 100)
    other = write(plot_file, 20) if change is shrink else plot_file(open(path).read().replace("E+0", "E-0"))
    pieces = qa.iter_blocks(path, chunk=30)
    assert len(next(pieces)) == 30
    offset, size, held = len("".join(open(path).readlines()[:14 + 30 * 3])), os.path.getsize(other), os.path.getsize(path)
    change(path, other)
    with pytest.raises(qa.PlotFileError) as caught:
        next(pieces)
    line = 15 + 30 * 3  # block 30's first line
    assert (str(caught.value), caught.value.line) == (f"{path}:{line}: {reason.format(size=size, offset=offset, held=held)}", line)


@pytest.mark.parametrize(
    ("call", "error", "message"),
    [
        (lambda p: qa.read(p, blocks=slice(0, 4, 2)), ValueError, "blocks must have a step of 1, not 2"),
        (lambda p: qa.read(p, blocks=[0, 1]), TypeError, "blocks must be a slice, a range or None, not list"),
        (lambda p: qa.read(p, blocks=slice("a", None)), TypeError, "blocks.start must be an int or None, not str"),
        (lambda p: qa.read(p, threads=0), ValueError, "threads must be an int >= 1 or None, not 0"),
        (lambda p: qa.iter_blocks(p, chunk=0), ValueError, "chunk must be an int >= 1, not 0"),
        (lambda p: qa.iter_blocks(p, chunk=None), TypeError, "chunk must be an int >= 1, not None"),
    ],
)
def test_arguments_are_checked_before_the_file_is_read(call, error, message):
    with pytest.raises(error, match=f"^{message.replace('(', '[(]').replace(')', '[)]')}$"):
        call("/nonexistent/never-read.plt")


def test_a_range_of_a_pipe_is_refused_and_threads_read_it_in_one_part(tmp_path, plot_file):
    source = write(plot_file, 4)
    fifo = str(tmp_path / "fifo")
    os.mkfifo(fifo)

    def feed():
        try:
            with open(fifo, "wb") as out, open(source, "rb") as data:
                out.write(data.read())
        except BrokenPipeError:  # a refused range closes the pipe unread
            pass

    for call in (lambda: qa.read(fifo, threads=4), lambda: qa.read(fifo, blocks=slice(1, 2))):
        writer = threading.Thread(target=feed)
        writer.start()
        try:
            result = outcome(call)
        except OSError as error:
            result = error
        writer.join()
        if isinstance(result, qa.Plot):
            assert result.values.tobytes() == qa.read(source).values.tobytes()
        else:
            assert isinstance(result, OSError) and result.errno == errno.ESPIPE and result.filename == fifo
