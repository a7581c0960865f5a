"""The xarray engine under a hostile user's keys, keywords and files: every key against
read(...).to_xarray(), the keywords xarray hands every engine, and what is never claimed."""

import numpy as np
import pytest

import quorvel_arrays as qa
from test_arrays_api import plot_with_names, same_bits

xr = pytest.importorskip("xarray")
from quorvel_arrays._xarray_backend import PlotBackend, looks_like_a_plot_file  # noqa: E402

BLOCKS = 40


@pytest.fixture
def path(tmp_path):
    target = tmp_path / "run.dat"
    target.write_text(plot_with_names(["TIME", "X", "TEMP", "X"], [[b * 0.5, b * 1.25, -b / 3, b * b] for b in range(BLOCKS)]))
    return str(target)


def outcome(read):
    try:
        return read().values
    except Exception as error:  # noqa: BLE001 - the kind of error is the outcome compared
        return type(error)


@pytest.mark.parametrize("chunks", [None, {"time": 7}])
@pytest.mark.parametrize("key", [
    slice(None, None, -1), slice(None, None, -3), slice(5, 2), slice(0, 0), slice(1, None, 7), -1, np.int8(-2),
    np.uint64(4), np.array([3, 1, 1, -1]), [0, 0, BLOCKS - 1], [-BLOCKS], np.arange(BLOCKS) % 3 == 0, Ellipsis,
    np.array([], dtype=np.int64), BLOCKS, -BLOCKS - 1, np.array([BLOCKS]), [1.5],
], ids=repr)
def test_any_key_reads_as_the_whole_read_indexes(path, key, chunks):
    expected = qa.read(path).to_xarray()
    with xr.open_dataset(path, engine=PlotBackend, chunks=chunks) as ds:
        for name in ("TEMP", "X@3", "time"):
            got, want = outcome(lambda: ds[name][key]), outcome(lambda: expected[name][key])
            assert got is want if isinstance(want, type) else same_bits(got, want)


@pytest.mark.parametrize("keyword", ["decode_times", "mask_and_scale", "decode_coords", "decode_timedelta", "use_cftime",
                                     "concat_characters", "decode_cf"])
@pytest.mark.parametrize("value", [True, False])
def test_the_decoding_keywords_change_nothing(path, keyword, value):
    with xr.open_dataset(path, engine=PlotBackend, **{keyword: value}) as ds:
        assert ds.identical(qa.read(path).to_xarray())


@pytest.mark.parametrize("dropped, error", [
    (5, "drop_variables must be a name, an iterable of names or None, not int"),
    (b"TEMP", "drop_variables must be a name, an iterable of names or None, not bytes"),
])
def test_drop_variables_of_another_kind_is_refused(path, dropped, error):
    with pytest.raises(TypeError, match=f"^{error}$"):
        xr.open_dataset(path, engine=PlotBackend, drop_variables=dropped)


def test_drop_variables_unknown_and_repeated_names(path):
    with xr.open_dataset(path, engine=PlotBackend, drop_variables=["TEMP", "TEMP", "nope", "TIME"]) as ds:
        assert ds.identical(qa.read(path).to_xarray().drop_vars("TEMP"))


@pytest.mark.parametrize("made", ["/dev/zero", "/dev/urandom", "fifo", "folder", "binary", "latin", "long first line"])
def test_what_is_not_a_plot_file_is_not_claimed(tmp_path, made):
    import os

    target = tmp_path / made
    if made.startswith("/dev/"):
        target = made
    elif made == "fifo":
        os.mkfifo(target)
    elif made == "folder":
        target.mkdir()
    else:
        target.write_bytes({"binary": bytes(range(256)) * 8, "latin": b"h\xe9ader 2\nTIME\nX\n",
                            "long first line": b"x" * 5000 + b" 2\nTIME\nX\n"}[made])
    assert looks_like_a_plot_file(str(target)) is False
