"""Dask arrays and xarray datasets of recordings, and the cluster example."""
import os
import subprocess
import sys

import numpy as np
import pytest

import tova

da = pytest.importorskip("dask.array")


@pytest.fixture(scope="module")
def recordings(sample, tmp_path_factory):
    """The sample and a copy of every second frame, in a directory of their own."""
    folder = tmp_path_factory.mktemp("many")
    (folder / "a.tova").write_bytes(sample.read_bytes())
    with tova.open(sample) as rec, tova.create(folder / "b.tova", like=rec) as w:
        for i in range(0, len(rec), 2):
            w.append(rec[i], time=rec.times[i], meta=rec.frame_meta(i))
    return [folder / "a.tova", folder / "b.tova"]


def test_dask_arrays_and_datasets_hold_the_frames(recordings):
    with tova.open(recordings[0]) as a, tova.open(recordings[1]) as b:
        array = a.to_dask(chunks=7)
        assert array.chunks[0] == (7, 7, 7, 7, 2)
        np.testing.assert_array_equal(array[3:17:2, 10:20].compute(), a[3:17:2, 10:20])
        data = tova.open_many(recordings, chunks=8, dataset=True)
        np.testing.assert_array_equal(data["time"].values, np.concatenate([a.times, b.times]))
        np.testing.assert_array_equal(data.frames[31].values, b[1])
        assert list(data.file.values[[0, 29, 30, 44]]) == [0, 0, 1, 1] and data.frame.values[44] == 14


def test_the_example_runs_on_a_two_worker_cluster(recordings):
    example = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "dask_hottest.py")
    result = subprocess.run([sys.executable, example, str(recordings[0].parent), "--workers", "2"],
                            check=True, capture_output=True, text=True, timeout=300)
    expected = []
    for path in recordings:
        with tova.open(path) as rec:
            expected += [(path.name, i, round(float(v), 2)) for i, v in enumerate(rec.celsius[:].max(axis=(1, 2)))]
    rows = [line.split(",") for line in result.stdout.splitlines()[1:]]
    assert [(r[0], int(r[1]), float(r[3])) for r in rows] == expected
