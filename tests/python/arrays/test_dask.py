"""quorvel_arrays.dask.read_dataframe on Dask's synchronous and threaded schedulers and on a
local cluster of two worker processes."""

import pytest

import quorvel_arrays as qa
from test_arrays_api import plot_with_names

pandas = pytest.importorskip("pandas")
pytest.importorskip("dask.dataframe")
from quorvel_arrays import dask as qd  # noqa: E402


@pytest.fixture
def files(tmp_path):
    paths = []
    for k, blocks in enumerate([3, 0, 5, 1]):
        path = tmp_path / f"run{k}.plt"
        path.write_text(plot_with_names(["TIME", "X", "TEMP"], [[k + b, b * 0.5, -k] for b in range(blocks)]))
        paths.append(str(path))
    return paths


def expected(paths, columns=None):
    return pandas.concat([qa.read(p, 12, columns=columns).to_pandas() for p in paths])


@pytest.mark.parametrize("scheduler", ["sync", "threads"])
@pytest.mark.parametrize("columns", [None, ["TEMP", 0]])
def test_frame_equals_the_plots_concatenated(files, scheduler, columns):
    frame = qd.read_dataframe(files, 12, columns=columns)
    assert frame.npartitions == len(files)
    pandas.testing.assert_frame_equal(frame.compute(scheduler=scheduler), expected(files, columns))
    assert len(frame.partitions[2].compute(scheduler=scheduler)) == 5


def test_a_file_with_other_names_fails_when_computed(files, tmp_path):
    other = tmp_path / "other.plt"
    other.write_text(plot_with_names(["TIME", "X", "TEMPERATURE"], [[1, 2, 3]]))
    with pytest.raises(ValueError, match="paths must name at least one file"):
        qd.read_dataframe([])
    frame = qd.read_dataframe([files[0], str(other)], 12)  # nothing read yet but the first file
    pandas.testing.assert_frame_equal(frame.partitions[0].compute(scheduler="sync"), expected(files[:1]))
    with pytest.raises(qd.NamesDifferError) as caught:
        frame.compute(scheduler="sync")
    assert str(caught.value) == f"{other}: parameter 2 is 'TEMPERATURE', where {files[0]} has 'TEMP'"


def test_local_cluster_of_two_processes(files):
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None, worker_dashboard_address=None) as cluster:
        with distributed.Client(cluster, timeout="60s") as client:
            frame = qd.read_dataframe(files, 12)
            got = client.compute(frame).result(timeout=60)
            assert len(client.scheduler_info()["workers"]) == 2
    pandas.testing.assert_frame_equal(got, expected(files))


def write_times(tmp_path, name, times):
    path = tmp_path / name
    path.write_text(plot_with_names(["TIME", "X"], [[t, t * 2] for t in times]))
    return str(path)


@pytest.mark.parametrize("size", [1, 2, 4, 100])
@pytest.mark.parametrize("columns", [None, ["TEMP", 0]])
def test_partitions_of_blocks_concatenate_to_the_plots(tmp_path, size, columns):
    paths = []
    for k, blocks in enumerate([3, 0, 5, 1]):
        paths.append(str(tmp_path / f"run{k}.plt"))
        with open(paths[-1], "w") as f:
            f.write(plot_with_names(["TIME", "X", "TEMP"], [[10 * k + b, b * 0.5, -k] for b in range(blocks)]))
    frame = qd.read_dataframe(paths, 12, columns=columns, blocks_per_partition=size)
    assert frame.npartitions == sum(-(-len(qa.read(p)) // size) for p in paths)
    assert frame.known_divisions == (columns is None)  # TEMP falls from file to file
    pandas.testing.assert_frame_equal(frame.compute(scheduler="sync"), expected(paths, columns))


@pytest.mark.parametrize("size, divisions", [(2, (0.0, 2.0, 4.0, 10.0, 12.0, 13.0)), (3, (0.0, 3.0, 10.0, 13.0, 13.0))])
def test_divisions_from_partition_starts(tmp_path, size, divisions):
    paths = [write_times(tmp_path, "a.plt", [0, 1, 2, 3, 4]), write_times(tmp_path, "none.plt", []),
             write_times(tmp_path, "b.plt", [10, 11, 12, 13])]
    frame = qd.read_dataframe(paths, blocks_per_partition=size)
    assert frame.divisions == divisions
    whole = expected(paths)
    pandas.testing.assert_frame_equal(frame.compute(scheduler="threads"), whole)
    pandas.testing.assert_frame_equal(frame.loc[3.0:11.0].compute(scheduler="sync"), whole.loc[3.0:11.0])


@pytest.mark.parametrize("times, size, stray", [
    ([0, 5, 1, 6, 7, 8], 2, "block 1: TIME is 5.0, outside [0.0, 1.0)"),
    ([0, 1, 1, 2], 2, "block 1: TIME is 1.0, outside [0.0, 1.0)"),
    ([0, 1, 2, 3, 2.5], 2, "block 3: TIME is 3.0, outside [2.0, 2.5)"),
    ([0, 1, 2, 2, 3, 2.5], 3, "block 4: TIME is 3.0, outside [2.0, 2.5]"),
    ([0, 1, 1, 2], 1, None),   # two partitions start at 1: no divisions claimed
    ([2, 1, 3, 0], 2, None),
    ([0, float("nan"), 1], 1, None),
])
def test_a_first_column_that_does_not_increase(tmp_path, times, size, stray):
    path = write_times(tmp_path, "t.plt", times)
    frame = qd.read_dataframe([path], blocks_per_partition=size)
    assert frame.known_divisions == (stray is not None)
    if stray is None:  # nothing is claimed: the partitions are the plot
        pandas.testing.assert_frame_equal(frame.compute(scheduler="sync"), expected([path]))
        return
    with pytest.raises(qd.IndexOrderError) as caught:
        frame.compute(scheduler="sync")
    assert str(caught.value).startswith(f"{path}: {stray} that the partition's divisions give")
