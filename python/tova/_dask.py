"""Recordings as dask arrays, and many recordings as one array or xarray Dataset.

A chunk names its recording by path only; the worker that computes it opens
the file itself and keeps a few recordings open, so that the chunks of a long
recording do not each index the whole file again.
"""
import collections
import hashlib
import os
import threading

import numpy as np

from .recording import Recording

_CACHE_SIZE = 8
_cache = collections.OrderedDict()
_cache_lock = threading.Lock()


def cached_recording(path):
    """An open Recording of path from this process's small cache (re-opened when the file changed)."""
    stat = os.stat(path)
    key = (os.path.abspath(path), stat.st_mtime_ns, stat.st_size)
    with _cache_lock:
        rec = _cache.get(key)
        if rec is not None:
            _cache.move_to_end(key)
            return rec
    rec = Recording(path)
    with _cache_lock:
        _cache[key] = rec
        while len(_cache) > _CACHE_SIZE:
            # Not closed here: another thread may still read from it; it
            # closes when its last user lets it go.
            _cache.popitem(last=False)
    return rec


class _FileArray:
    """What dask slices: the shape and type of a recording and its path, opened where read."""

    def __init__(self, path, shape, dtype, celsius):
        self.path, self.shape, self.dtype, self.celsius = path, shape, np.dtype(dtype), celsius
        self.ndim = 3

    def __getitem__(self, key):
        rec = cached_recording(self.path)
        return rec.celsius[key] if self.celsius else rec[key]


def _dask_array():
    try:
        import dask.array as da
    except ImportError as error:  # pragma: no cover - depends on the machine
        raise ImportError("to_dask and open_many need dask (Debian: python3-dask)") from error
    return da


def recording_to_dask(rec, chunks="auto", celsius=False):
    da = _dask_array()
    dtype = np.float32 if celsius else rec.dtype
    if celsius and not rec.celsius_available:
        rec.celsius[0]  # raises the library's NoCalibrationError
    source = _FileArray(os.path.abspath(rec.path), rec.shape, dtype, celsius)
    if chunks == "auto" or chunks is None:
        # Whole frames, about 64 MB a chunk.
        frame_bytes = max(1, rec.shape[1] * rec.shape[2] * np.dtype(dtype).itemsize)
        chunks = (max(1, min(rec.shape[0], (64 << 20) // frame_bytes)), -1, -1)
    elif isinstance(chunks, (int, np.integer)):
        chunks = (int(chunks), -1, -1)
    stat = os.stat(source.path)
    token = hashlib.sha1(f"{source.path}|{stat.st_mtime_ns}|{stat.st_size}|{chunks}".encode()).hexdigest()[:16]
    name = f"tova-{'celsius' if celsius else 'raw'}-{token}"
    return da.from_array(source, chunks=chunks, name=name, lock=False, asarray=True, fancy=False,
                         meta=np.empty((0, 0, 0), dtype))


def open_many(paths, chunks="auto", celsius=False, dataset=False):
    """Many recordings of one image size as one dask array along frames, or with
    ``dataset=True`` an xarray Dataset with a ``time`` coordinate (naive, as stored)
    and ``file`` and ``frame`` coordinates that say where each frame comes from."""
    da = _dask_array()
    paths = [os.fspath(p) for p in paths]
    if not paths:
        raise ValueError("open_many needs at least one recording")
    arrays, times, files, frames = [], [], [], []
    shape = dtype = None
    for number, path in enumerate(paths):
        rec = cached_recording(path)
        if shape is None:
            shape, dtype = rec.shape[1:], rec.dtype
        elif rec.shape[1:] != shape or (not celsius and rec.dtype != dtype):
            raise ValueError(f"{path!r} holds {rec.shape[2]} x {rec.shape[1]} {rec.dtype} frames, "
                             f"the first recording {shape[1]} x {shape[0]} {dtype}")
        arrays.append(rec.to_dask(chunks=chunks, celsius=celsius))
        if dataset:
            times.append(rec.times)
            files.append(np.full(len(rec), number))
            frames.append(np.arange(len(rec)))
    data = da.concatenate(arrays, axis=0)
    if not dataset:
        return data
    import xarray as xr
    variable = "celsius" if celsius else "frames"
    return xr.Dataset(
        {variable: (("time", "y", "x"), data)},
        coords={"time": np.concatenate(times), "file": ("time", np.concatenate(files)),
                "frame": ("time", np.concatenate(frames))},
        attrs={"paths": paths})
