"""Salvage of a recording whose writer died while appending.

The companion library keeps every whole frame of the main file and its
continuation files and drops a torn last frame and stray parts; the result
is read back with the library to confirm that it reads cleanly.
"""
import ctypes
import os

from . import _lib
from .errors import TovaError


class RepairError(TovaError):
    """The salvage could not make a recording that reads cleanly."""
    name = "TOVAEXT_ERR_SALVAGE"
    description = "the recording could not be repaired"

_SALVAGE_MESSAGES = {
    2010: "not one whole frame could be found: nothing was changed",
    2011: "a file could not be read, written, cut or removed",
    2012: "the repaired recording does not read cleanly",
    2013: "the output names the damaged recording itself",
    2014: "the library reads more frames than would be kept: nothing was changed",
}


def repair(path, out=None):
    """Repairs the recording at path into out, or in place when out is None.

    Returns a dict of what was kept and dropped (frames_kept, frames_dropped,
    bytes_cut, parts_removed, changed). A recording that reads cleanly is left
    as it is in place; with out, a clean copy is written.
    """
    lib = _lib.load()
    report = _lib.SalvageReport()
    encode = os.fsencode
    rc = lib.tovaext_salvage(encode(os.fspath(path)), None if out is None else encode(os.fspath(out)),
                             ctypes.byref(report))
    if rc != 0:
        if rc in _SALVAGE_MESSAGES:
            raise RepairError(f"{os.fspath(path)}: {_SALVAGE_MESSAGES[rc]}", code=rc)
        if rc == 10 and not os.path.exists(path):
            raise FileNotFoundError(path)
        from .errors import check
        check(rc, os.fspath(path))
    return {"frames_kept": report.datasets_kept, "frames_dropped": report.datasets_dropped,
            "bytes_cut": report.bytes_cut, "parts_removed": report.parts_removed,
            "changed": bool(report.changed)}
