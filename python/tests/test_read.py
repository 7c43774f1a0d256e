"""Reading agrees with what the tova tool exports and shows."""
import concurrent.futures
import datetime

import numpy as np
import pytest

import tova


@pytest.fixture(scope="module")
def raw_frames(sample, tova_cli, tmp_path_factory):
    """Every frame as `tova export --format raw` writes it."""
    out = tmp_path_factory.mktemp("raw")
    tova_cli("export", sample, "--all", "--format", "raw", "-o", out / "f.raw")
    return np.stack([np.fromfile(out / f"f-{i:04d}.raw", "<u2").reshape(120, 160) for i in range(30)])


@pytest.mark.parametrize("key", [
    10, -1, slice(5, 20), (slice(None, None, 10), slice(40, 80), slice(60, 120)), [3, 0, -2],
    (Ellipsis, 7), (-3, slice(None), slice(None, None, -5)), np.arange(30) % 4 == 0, slice(8, 8)])
def test_indexing_agrees_with_the_raw_export(sample, raw_frames, key):
    with tova.open(sample) as rec:
        assert (len(rec), rec.shape, rec.dtype) == (30, (30, 120, 160), np.uint16)
        np.testing.assert_array_equal(rec[key], raw_frames[key])


def test_iteration_and_threads_read_the_same_frames(sample, raw_frames):
    with tova.open(sample) as rec:
        np.testing.assert_array_equal(np.stack(list(rec)), raw_frames)
        order = np.random.default_rng(1).permutation(np.repeat(np.arange(30), 4))
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            frames = list(pool.map(lambda i: (i, rec[int(i)], rec.celsius[int(i)]), order))
        for i, frame, celsius in frames:
            np.testing.assert_array_equal(frame, raw_frames[i])
            np.testing.assert_array_equal(celsius, rec.celsius[int(i)])


def test_celsius_agrees_with_the_csv_export_to_its_last_digit(sample, tova_cli, tmp_path):
    tova_cli("export", sample, "--frame", 7, "--format", "csv", "--celsius", "-o", tmp_path / "c.csv")
    printed = np.loadtxt(tmp_path / "c.csv", delimiter=",")
    with tova.open(sample) as rec:
        celsius = rec.celsius[7]
        assert celsius.dtype == np.float32 and rec.celsius[2:9:3, 10:20].shape == (3, 10, 160)
    # The CSV prints two decimals of the same conversion; float32 adds at most its own rounding.
    np.testing.assert_allclose(celsius, printed, rtol=0, atol=0.005 + 1e-5)
    assert 70 < celsius.max() < 80 and 20 < celsius.min() < 30  # the hot spot over the background


def test_times_values_and_dump_agree_with_the_tool(sample, tova_cli):
    info = dict(line.split(":", 1) for line in tova_cli("info", sample).splitlines())
    with tova.open(sample) as rec:
        times = rec.times
        assert times.dtype == np.dtype("datetime64[ms]")
        shown = [t.astype(datetime.datetime).strftime("%Y-%m-%d %H:%M:%S.%f")[:-3] for t in times[[0, -1]]]
        assert shown == [info["First frame"].strip(), info["Last frame"].strip()]
        assert set(np.diff(times).astype(int)) == {40}
        assert rec.meta["GH_INFO_DeviceString_MBC"] == "TOVA sample camera SC-160 -ID: 00042"
        assert (rec.meta["DH_PARAM_FPS"], rec.meta["DH_DREC_SizeX"], rec.meta["DH_SCALE_High"]) == (25.0, 160, 80.0)
        values = rec.frame_meta(5)
        assert values["DH_INFO_InternImageNo"] == 5 and values["DH_PARAM_FixEmissivity"] == 0.95
        assert values["DH_DREC_TimeStamp"] == times[5].astype(datetime.datetime)
        rec[5], rec.frame_meta(3)  # visiting frames does not change what a dump shows
        assert rec.dump(3) == tova_cli("dump", sample, "--frame", 3).split("\n", 2)[2]
