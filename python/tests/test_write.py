"""Writing recordings, and failures as exceptions that name their code."""
import datetime

import numpy as np
import pytest

import tova


def test_a_written_recording_reads_back_as_written(sample, tova_cli, tmp_path):
    out = tmp_path / "copy.tova"
    with tova.open(sample) as rec, tova.create(out, like=rec) as w:
        for i in range(0, len(rec), 3):
            w.append(rec[i], time=rec.times[i], meta=rec.frame_meta(i))
    with tova.open(sample) as rec, tova.open(out) as back:
        np.testing.assert_array_equal(back[:], rec[::3])
        assert back.meta == rec.meta and list(back.times) == list(rec.times[::3])
        assert [back.frame_meta(i) for i in range(len(back))] == [rec.frame_meta(i) for i in range(0, 30, 3)]
    assert "Frames:            10" in tova_cli("info", out)

    # Without a model: size and unit from the first frame; a frame without a stamp has none.
    with tova.create(tmp_path / "made.tova", meta={"DH_PARAM_FPS": 50.0}) as w:
        w.append(np.full((3, 4), 21.5, np.float32), time=datetime.datetime(2024, 5, 17, 10, 0, 1, 960000),
                 meta={"DH_INFO_DetectorTempC": 30.5})
        w.append(np.zeros((3, 4), ">f4"))
    with tova.open(tmp_path / "made.tova") as back:
        assert (back.shape, back.dtype, back.meta["DH_PARAM_FPS"]) == ((2, 3, 4), np.float32, 50.0)
        assert str(back.times[0]) == "2024-05-17T10:00:01.960" and np.isnat(back.times[1])
        assert back.frame_meta(0)["DH_INFO_DetectorTempC"] == 30.5 and back.frame_meta(1) == {}
        np.testing.assert_array_equal(back.celsius[:], [np.full((3, 4), 21.5), np.zeros((3, 4))])


def _cut(sample, path, end):
    path.write_bytes(sample.read_bytes()[:end])
    return path


def _mismatch(sample, tmp_path):
    with tova.open(sample) as rec, tova.create(tmp_path / "w.tova", like=rec) as w:
        w.append(rec[0])
        w.append(rec[1, :, :100])


def _uncalibrated(tmp_path):
    with tova.create(tmp_path / "plain.tova") as w:
        w.append(np.zeros((2, 2), np.uint16))
    with tova.open(tmp_path / "plain.tova") as rec:
        rec.celsius[0]


@pytest.mark.parametrize("case, error, code", [
    (lambda sample, tmp: tova.open(tmp / "none.tova"), FileNotFoundError, None),
    (lambda sample, tmp: tova.open(_cut(sample, tmp / "damaged.tova", 5000)), tova.ReadError, 9),
    (_mismatch, tova.MismatchSizeError, 62),
    (lambda sample, tmp: _uncalibrated(tmp), tova.NoCalibrationError, 2002),
])
def test_failures_raise_their_result_code(sample, tmp_path, case, error, code):
    with pytest.raises(error) as caught:
        case(sample, tmp_path)
    if code is not None:
        assert caught.value.code == code and tova.errors.CODE_NAMES[code] == caught.value.name
        assert caught.value.name in str(caught.value)
        assert isinstance(caught.value, tova.IncompatibleError) == (code == 62)


def test_repair_keeps_the_whole_frames_of_a_torn_recording(sample, tmp_path):
    torn = _cut(sample, tmp_path / "torn.tova", -100)  # the last frame is cut short
    report = tova.repair(torn, tmp_path / "fixed.tova")
    assert (report["frames_kept"], report["frames_dropped"]) == (29, 1)
    with tova.open(tmp_path / "fixed.tova") as fixed, tova.open(sample) as whole:
        np.testing.assert_array_equal(fixed[:], whole[:29])
    assert tova.repair(tmp_path / "fixed.tova")["changed"] is False  # a clean file stays as it is
    with pytest.raises(tova.RepairError):
        tova.repair(torn, torn)
