"""Reading agrees with what the tova tool exports and shows."""
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
    -1, (slice(None, None, 10), slice(40, 80), slice(60, 120)), [3, 0, -2], (Ellipsis, 7),
    (-3, slice(None), slice(None, None, -5)), np.arange(30) % 4 == 0, slice(8, 8)])
def test_indexing_agrees_with_the_raw_export(sample, raw_frames, key):
    with tova.open(sample) as rec:
        assert (len(rec), rec.shape, rec.dtype) == (30, (30, 120, 160), np.uint16)
        np.testing.assert_array_equal(rec[key], raw_frames[key])
        np.testing.assert_array_equal(np.stack(list(rec))[key], raw_frames[key])


def test_celsius_times_values_and_dump_agree_with_the_tool(sample, tova_cli, tmp_path):
    tova_cli("export", sample, "--frame", 7, "--format", "csv", "--celsius", "-o", tmp_path / "c.csv")
    info = dict(line.split(":", 1) for line in tova_cli("info", sample).splitlines())
    with tova.open(sample) as rec:
        assert rec.celsius[7].dtype == np.float32 and rec.celsius[2:9:3, 10:20].shape == (3, 10, 160)
        # The CSV prints two decimals of the same conversion; float32 adds at most its own rounding.
        np.testing.assert_allclose(rec.celsius[7], np.loadtxt(tmp_path / "c.csv", delimiter=","), atol=0.005 + 1e-5)
        shown = [t.astype(datetime.datetime).strftime("%Y-%m-%d %H:%M:%S.%f")[:-3] for t in rec.times[[0, -1]]]
        assert shown == [info["First frame"].strip(), info["Last frame"].strip()]
        assert rec.times.dtype == np.dtype("datetime64[ms]") and set(np.diff(rec.times).astype(int)) == {40}
        assert (rec.meta["DH_PARAM_FPS"], rec.meta["DH_DREC_SizeX"], rec.meta["DH_SCALE_High"]) == (25.0, 160, 80.0)
        values = rec.frame_meta(5)
        assert values["DH_INFO_InternImageNo"] == 5 and values["DH_DREC_TimeStamp"] == rec.times[5].item()
        rec[5], rec.frame_meta(3)  # visiting frames does not change what a dump shows
        assert rec.dump(3) == tova_cli("dump", sample, "--frame", 3).split("\n", 2)[2]
