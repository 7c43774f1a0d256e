"""Writing a recording frame by frame."""
import ctypes
import os

import numpy as np

from . import _entries as E
from ._lib import INVALID_HANDLE, load
from .errors import MismatchSizeError, OpenError, check
from ._closing import Closing
from .recording import DTYPES

_UNITS = {dtype: unit for unit, dtype in DTYPES.items()}
_NO_CALIBRATION = 0xFFFF


class Writer(Closing):
    """Appends frames to a new recording. Use as ``with tova.create(path, like=rec) as w:``.

    The values the recording shares come from ``like`` (a Recording), updated
    by ``meta``; without ``like`` the image size and data unit come from the
    first frame. Each frame must fit the first one (image size, data unit);
    the library's compatibility check refuses one that does not with an
    IncompatibleError (MismatchSizeError, MismatchDeviceError, MismatchRangeError).
    """

    def __init__(self, path, like=None, meta=None):
        self._api = load()
        self.path = os.fspath(path)
        self._shared = {}
        if like is not None:
            with like._lock:
                like._select(0, False)
                for entry in E.SHARED:
                    data = like._entry(entry.section, entry.id)
                    if data is not None:
                        self._shared[entry.name] = data
        for name, value in (meta or {}).items():
            entry = E.lookup(name)
            if entry.per_frame:
                raise ValueError(f"{entry.name} is stored with every frame: give it to append()")
            self._shared[entry.name] = E.encode(entry, value)
        self._source = self._target = None
        self._frame_ids = []
        self.frames = 0
        target = self._api.open_write(self.path, 0)
        if target == INVALID_HANDLE:
            raise OpenError(f"cannot create {self.path!r}")
        self._target = target

    def _u16(self, name):
        data = self._shared.get(name)
        return int.from_bytes(data[:2], "little") if data is not None and len(data) >= 2 else None

    def _start(self, frame):
        """The memory document that carries each frame to the file, with the shared values."""
        unit = _UNITS[frame.dtype]
        height, width = frame.shape
        stored = self._u16("DH_DREC_SizeY"), self._u16("DH_DREC_SizeX")
        if None not in stored and stored != (height, width):
            raise MismatchSizeError(f"the frame is {width} x {height}, the recording {stored[1]} x {stored[0]}")
        defaults = {"GH_INFO_SensorX": width, "GH_INFO_SensorY": height, "DH_DREC_SizeX": width,
                    "DH_DREC_SizeY": height, "DH_DREC_DataUnit": unit}
        if "DH_TCAL_Version" not in self._shared and not any(n.startswith("GH_INFO_DeviceString") for n in self._shared):
            defaults["DH_TCAL_Version"] = _NO_CALIBRATION  # without a device there is none to compare
        for name, value in defaults.items():
            self._shared.setdefault(name, E.encode(E.lookup(name), value))
        calibration = self._u16("DH_TCAL_Version")
        source = self._api.TOVADLL_OPEN_FILE_MEM(1, unit, _NO_CALIBRATION if calibration is None else calibration)
        if source == INVALID_HANDLE:
            raise OpenError("cannot create the frame document")
        self._source = source
        for name, data in self._shared.items():
            entry = E.BY_NAME[name]
            self._set(entry, data)

    def _set(self, entry, data):
        check(self._api.TOVADLL_SET_ENTRY(self._source, entry.section, entry.id, len(data), data),
              f"cannot store {entry.name}")

    def append(self, frame, time=None, meta=None):
        """Appends one frame (a 2-D array of uint16, uint32, int16 or float32) with its
        time stamp (datetime, numpy datetime64 or ISO text; stored without zone) and the
        values stored with it (``{'DH_INFO_DetectorTempC': 31.2}``)."""
        if self._target is None:
            raise ValueError(f"the writer of {self.path!r} is closed")
        frame = np.asarray(frame)
        if frame.ndim != 2:
            raise ValueError(f"a frame is a 2-D array, not {frame.ndim}-D")
        if frame.dtype.newbyteorder("<") not in _UNITS:
            raise TypeError(f"frames are uint16, uint32, int16 or float32, not {frame.dtype}")
        frame = np.ascontiguousarray(frame, frame.dtype.newbyteorder("<"))
        values = {}
        for name, value in (meta or {}).items():
            entry = E.lookup(name)
            if not entry.per_frame:
                raise ValueError(f"{entry.name} is shared by all frames: give it to create()")
            if value is not None:
                values[entry] = E.encode(entry, value)
        if time is not None and not (isinstance(time, np.datetime64) and np.isnat(time)):
            values[E.BY_NAME["DH_DREC_TimeStamp"]] = E.datetime_to_stamp(time)
        if self._source is None:
            self._start(frame)
        # What the previous frame stored and this one does not is taken away.
        for entry in self._frame_ids:
            if entry not in values:
                self._api.TOVADLL_REMOVE_ENTRY(self._source, entry.section, entry.id)
        self._frame_ids = list(values)
        for entry, data in values.items():
            self._set(entry, data)
        height, width = frame.shape
        for name, value in (("DH_DREC_SizeX", width), ("DH_DREC_SizeY", height),
                            ("DH_DREC_DataUnit", _UNITS[frame.dtype])):
            self._set(E.BY_NAME[name], E.encode(E.BY_NAME[name], value))
        pixels = frame.tobytes()
        check(self._api.TOVADLL_SET_ENTRY(self._source, E.SECT_IMAGE, E.IM_DATA, len(pixels), pixels),
              "cannot store the image")
        check(self._api.TOVADLL_ADD_TOVA(self._target, self._source, 0),
              f"cannot append frame {self.frames} to {self.path!r}")
        self.frames += 1

    def close(self):
        """Finishes the file."""
        source, self._source = self._source, None
        target, self._target = self._target, None
        if source is not None:
            self._api.TOVADLL_CLOSE_FILE(source)
        if target is not None:
            check(self._api.TOVADLL_CLOSE_FILE(target), f"cannot close {self.path!r}")



def create(path, like=None, meta=None):
    """A Writer for a new recording at path (an existing file is replaced)."""
    return Writer(path, like=like, meta=meta)
