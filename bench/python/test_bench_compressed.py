"""The benchmark's packed copies: made beside the plain file under a name of their own, so that a
second run at once neither truncates the first's part nor renames over its copy."""

import gzip
import os

import pytest

from bench_compressed import packed_copy


@pytest.mark.parametrize("placed", [False, True], ids=["none yet", "placed by another run"])
def test_a_packed_copy_leaves_another_runs_files_alone(tmp_path, placed):
    plain = tmp_path / "medium.plt"
    plain.write_bytes(b" RUN 1\nT\n STEP 1\n 1.00000E+00\n" * 3)
    theirs = tmp_path / "medium.plt.gz.part"
    theirs.write_bytes(b"half of another run's copy")
    if placed:
        (tmp_path / "medium.plt.gz").write_bytes(gzip.compress(plain.read_bytes()))
    packed = packed_copy(str(plain), "gz")
    assert gzip.decompress(open(packed, "rb").read()) == plain.read_bytes()
    assert theirs.read_bytes() == b"half of another run's copy"
    assert sorted(os.listdir(tmp_path)) == ["medium.plt", "medium.plt.gz", "medium.plt.gz.part"]
