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
