"""Reading a recording: frames as numpy arrays, read only when asked for."""
import ctypes
import errno
import os
import threading

import numpy as np

from . import _entries as E
from ._lib import INVALID_HANDLE, load
from .errors import ImageDataError, OpenError, check, error_for
from ._closing import Closing

DTYPES = {0: np.dtype("<u2"), 1: np.dtype("<u4"), 2: np.dtype("<i2"), 3: np.dtype("<f4")}
_ABSENT = (33, 22)  # no such entry, no such section
_EXT_TOO_SMALL = 2001


def _normalise_key(key):
    """The index as (frames, rows, columns) parts; rows and columns only as far as given."""
    key = key if isinstance(key, tuple) else (key,)
    if any(k is Ellipsis for k in key):
        at = next(i for i, k in enumerate(key) if k is Ellipsis)
        key = key[:at] + (slice(None),) * (3 - len(key) + 1) + key[at + 1:]
    if len(key) > 3:
        raise IndexError(f"too many indices for a recording: {len(key)} given, at most 3 (frame, row, column)")
    return key[0] if key else slice(None), key[1:]


def _frame_indices(key, count):
    """A single frame number (and True), or the list of frame numbers (and False)."""
    if isinstance(key, (int, np.integer)):
        index = int(key) + count if key < 0 else int(key)
        if not 0 <= index < count:
            raise IndexError(f"frame {int(key)} out of range for a recording of {count} frames")
        return index, True
    if isinstance(key, slice):
        return range(*key.indices(count)), False
    indices = np.asarray(key)
    if indices.dtype == bool:
        if indices.shape != (count,):
            raise IndexError(f"a frame mask needs {count} values, not {indices.shape}")
        return np.flatnonzero(indices).tolist(), False
    if indices.ndim != 1 or (indices.size and indices.dtype.kind not in "iu"):
        raise TypeError("frames are chosen by an integer, a slice, or a list of integers or booleans")
    indices = np.where(indices < 0, indices + count, indices).astype(np.int64)
    if indices.size and (indices.min() < 0 or indices.max() >= count):
        raise IndexError(f"frame index out of range for a recording of {count} frames")
    return indices.tolist(), False


class _Frames:
    """Indexing by (frames, rows, columns) over a per-frame reader."""

    def __init__(self, recording, dtype, read_into):
        self._rec, self.dtype, self._read_into = recording, dtype, read_into

    @property
    def shape(self):
        return self._rec.shape

    @property
    def ndim(self):
        return 3

    def __len__(self):
        return len(self._rec)

    def __getitem__(self, key):
        frames, rest = _normalise_key(key)
        indices, single = _frame_indices(frames, len(self._rec))
        _, height, width = self._rec.shape
        scratch = np.empty((height, width), self.dtype)
        if single:
            self._read_into(indices, scratch)
            return scratch[rest].copy() if rest else scratch
        if not rest:
            out = np.empty((len(indices), height, width), self.dtype)
            if len(indices):
                base, step, read = out.ctypes.data, out[0].nbytes, self._read_into
                for j, index in enumerate(indices):
                    read(index, out[j], base + j * step)
            return out
        out = None
        for j, index in enumerate(indices):
            self._read_into(index, scratch)
            part = scratch[rest]
            if out is None:
                out = np.empty((len(indices),) + part.shape, self.dtype)
            out[j] = part
        if out is None:  # no frame chosen
            out = np.empty((0,) + scratch[rest].shape, self.dtype)
        return out

    def __iter__(self):
        for index in range(len(self._rec)):
            yield self[index]


class Recording(Closing):
    """An open TOVA recording. Use as ``with tova.open(path) as rec:``.

    ``rec[i]``, ``rec[a:b]``, ``rec[::10, 40:80, 60:120]`` and ``rec[[1, 5, -1]]``
    read only the frames asked for. ``rec.celsius[...]`` gives the same in degrees
    Celsius (float32). All methods are safe to call from several threads.
    """

    def __init__(self, path):
        self._api = load()
        self._handle = None
        self.path = os.fspath(path)
        if not os.path.exists(self.path):
            raise FileNotFoundError(errno.ENOENT, "no such recording", self.path)
        if os.path.isdir(self.path):
            raise IsADirectoryError(errno.EISDIR, "a directory, not a recording", self.path)
        handle = self._api.open_read(self.path)
        if handle == INVALID_HANDLE:
            raise OpenError(f"cannot open {self.path!r} (the file is empty or cannot be read)")
        self._handle = handle
        self._lock = threading.RLock()
        try:
            check(self._api.TOVADLL_READ_FROM_FILE(handle, 1, 0), f"cannot read {self.path!r}")
            count = ctypes.c_uint32()
            check(self._api.TOVADLL_GET_NUMDATASETS(handle, ctypes.byref(count)), "cannot count the frames")
            self._count = count.value
            self._select(0, False)
            size = [self._u16(E.SECT_DATA_HEADER, id_) or 0 for id_ in (0x0202, 0x0201)]
            unit = self._u16(E.SECT_DATA_HEADER, 0x0200)
            self._unit = 0 if unit is None else unit
        except BaseException:
            self.close()
            raise
        self._shape = (self._count, size[0], size[1])
        self._times = self._meta = None

    # ---- life -------------------------------------------------------------
    def close(self):
        """Closes the recording; further reads raise ValueError."""
        handle, self._handle = self._handle, None
        if handle is not None:
            check(self._api.TOVADLL_CLOSE_FILE(handle), f"cannot close {self.path!r}")

    def __repr__(self):
        state = "closed" if self._handle is None else f"{self._shape[0]} frames of {self._shape[2]} x {self._shape[1]}"
        return f"<tova.Recording {self.path!r}: {state}>"

    @property
    def _h(self):
        if self._handle is None:
            raise ValueError(f"the recording {self.path!r} is closed")
        return self._handle

    # ---- shape ------------------------------------------------------------
    def __len__(self):
        return self._shape[0]

    @property
    def shape(self):
        """(frames, height, width)."""
        return self._shape

    @property
    def dtype(self):
        """The pixel type of the data unit: uint16, uint32, int16 or float32 (little-endian)."""
        if self._unit not in DTYPES:
            raise ImageDataError(f"{self.path!r} stores the unknown data unit {self._unit}")
        return DTYPES[self._unit]

    @property
    def ndim(self):
        return 3

    # ---- pixels -----------------------------------------------------------
    def __getitem__(self, key):
        return _Frames(self, self.dtype, self._read_raw_into)[key]

    def __iter__(self):
        return iter(_Frames(self, self.dtype, self._read_raw_into))

    def __array__(self, dtype=None, copy=None):
        frames = self[:]
        return frames if dtype is None else frames.astype(dtype)

    @property
    def celsius(self):
        """The frames in degrees Celsius (float32), indexed like the recording itself.

        Raises NoCalibrationError when the recording has no calibration table
        (and is not stored in degrees Celsius already)."""
        return _Frames(self, np.dtype(np.float32), self._read_celsius_into)

    @property
    def celsius_available(self):
        flag = ctypes.c_int32()
        with self._lock:
            check(self._api.tovaext_celsius_available(self._h, ctypes.byref(flag)))
        return bool(flag.value)

    def _read_raw_into(self, index, out, address=None):
        nbytes = out.nbytes
        if nbytes == 0:
            raise ImageDataError(f"{self.path!r} stores no image size")
        copied = ctypes.c_uint32()
        api, h = self._api, self._h
        with self._lock:
            rc = api.TOVADLL_SET_CURDATASET_EX(h, index, 1)
            if rc == 0:
                rc = api.TOVADLL_COPY_ENTRY_DATA(h, E.SECT_IMAGE, E.IM_DATA, nbytes,
                                                 out.ctypes.data if address is None else address,
                                                 ctypes.byref(copied))
                if rc == 13:  # image data longer than the image: the first pixels count
                    data = self._entry(E.SECT_IMAGE, E.IM_DATA)
                    out[...] = np.frombuffer(data, out.dtype, out.size).reshape(out.shape)
                    return
        if rc in _ABSENT or (rc == 0 and copied.value < nbytes):
            raise ImageDataError(f"frame {index} of {self.path!r}: the image data do not fill "
                                 f"{out.shape[1]} x {out.shape[0]} pixels")
        if rc:
            check(rc, f"cannot read frame {index} of {self.path!r}")

    def _read_celsius_into(self, index, out, address=None):
        with self._lock:
            rc = self._api.tovaext_frame_celsius(self._h, index, out.ctypes.data if address is None else address,
                                                 out.size)
        if rc:
            check(rc, f"frame {index} of {self.path!r} in degrees Celsius")

    # ---- values -----------------------------------------------------------
    @property
    def times(self):
        """The time stamp of every frame as numpy datetime64[ms]; NaT where a frame has none.

        The stored stamps carry no time zone, so the values are naive: they are
        whatever clock the camera was set to."""
        if self._times is None:
            ms = np.empty(len(self), np.int64)
            written = ctypes.c_uint32()
            with self._lock:
                check(self._api.tovaext_frame_times(self._h, ms.ctypes.data, len(ms), ctypes.byref(written)),
                      f"time stamps of {self.path!r}")
            self._times = ms.view("datetime64[ms]")
            self._times.flags.writeable = False
        return self._times

    @property
    def meta(self):
        """The values the recording shares by all frames, by entry name (``'DH_PARAM_FPS': 25.0``)."""
        if self._meta is None:
            with self._lock:
                self._select(0, False)
                self._meta = self._values(E.SHARED)
        return dict(self._meta)

    def frame_meta(self, index):
        """The values stored with frame index itself (time stamp, temperatures, image number...)."""
        index, _ = _frame_indices(index, len(self))
        with self._lock:
            self._select(index, False)
            return self._values(E.PER_FRAME)

    def dump(self, index=0):
        """The sections and entries of a frame as the library renders them (the text of ``tova dump``).

        A later frame lists the entries stored with it. The library counts those
        by flags that every change of the current frame clears, so the texts come
        from a fresh handle on the file that visits only this frame."""
        index, _ = _frame_indices(index, len(self))
        with Recording(self.path) as fresh:
            return fresh._render(index)

    def _render(self, index):
        blocks = []
        with self._lock:
            self._select(index, True)
            h = self._h
            for section in (E.SECT_GLOBAL_HEADER, E.SECT_DATA_HEADER, E.SECT_IMAGE):
                rc, heading = self._text(self._api.tovaext_section_string, h, section)
                if rc == 22:
                    blocks.append(f"section {section:X}: not present in this frame\n")
                    continue
                check(rc, f"section {section:X}")
                lines = [heading]
                count = ctypes.c_uint32()
                check(self._api.TOVADLL_GET_NUM_ENTRIES(h, section, ctypes.byref(count)))
                if count.value == 0:
                    lines.append("  (no entries stored with this frame)")
                for i in range(count.value):
                    rc, entry = self._text(self._api.tovaext_entry_string, h, section, i)
                    check(rc, f"entry {i + 1}")
                    rc, data = self._text(self._api.tovaext_data_string, h, section, i)
                    check(rc, f"entry {i + 1}")
                    lines.append("  " + entry)
                    data_lines = data.replace("\r\n", "\n").replace("\r", "\n").split("\n")
                    if data_lines[-1] == "":
                        data_lines.pop()
                    lines.extend("      " + line for line in data_lines)
                blocks.append("".join(line + "\n" for line in lines))
        return "\n".join(blocks)

    # ---- dask -------------------------------------------------------------
    def to_dask(self, chunks="auto", celsius=False):
        """A dask array of the frames (or of degrees Celsius) whose chunks open the file by path
        in the worker that computes them, keeping a few recordings open per worker."""
        from ._dask import recording_to_dask
        return recording_to_dask(self, chunks=chunks, celsius=celsius)

    # ---- calls ------------------------------------------------------------
    def _select(self, index, load_image):
        check(self._api.TOVADLL_SET_CURDATASET_EX(self._h, index, 1 if load_image else 0),
              f"cannot select frame {index} of {self.path!r}")

    def _entry(self, section, id_):
        """The data of an entry of the current frame, or None when the frame does not store it."""
        size = ctypes.c_uint32()
        rc = self._api.TOVADLL_GET_ENTRY_DATASIZE(self._h, section, id_, ctypes.byref(size))
        if rc in _ABSENT:
            return None
        check(rc, f"entry {id_:#06x}")
        buffer = ctypes.create_string_buffer(max(size.value, 1))
        copied = ctypes.c_uint32()
        rc = self._api.TOVADLL_COPY_ENTRY_DATA(self._h, section, id_, size.value, buffer, ctypes.byref(copied))
        if rc in _ABSENT:
            return None
        check(rc, f"entry {id_:#06x}")
        return buffer.raw[:copied.value]

    def _u16(self, section, id_):
        data = self._entry(section, id_)
        return int.from_bytes(data[:2], "little") if data is not None and len(data) >= 2 else None

    def _values(self, entries):
        values = {}
        for entry in entries:
            data = self._entry(entry.section, entry.id)
            if data is not None:
                values[entry.name] = E.decode(entry, data)
        return values

    @staticmethod
    def _text(function, *args):
        buffer = ctypes.create_string_buffer(512)
        needed = ctypes.c_uint32()
        rc = function(*args, buffer, len(buffer), ctypes.byref(needed))
        if rc == _EXT_TOO_SMALL:
            buffer = ctypes.create_string_buffer(needed.value)
            rc = function(*args, buffer, len(buffer), ctypes.byref(needed))
        return rc, (buffer.raw[:needed.value - 1].decode("utf-8") if rc == 0 else "")


def open(path):  # noqa: A001 - the package's verb, as in tova.open
    """Opens a recording for reading; use it as ``with tova.open(path) as rec:``."""
    return Recording(path)


__all__ = ["Recording", "open", "error_for"]
