"""Entry values as typed Python values and back, by the entry catalogue."""
import datetime
import struct

import numpy as np

from ._catalog import ENTRIES

SECT_GLOBAL_HEADER, SECT_DATA_HEADER, SECT_IMAGE = 0xFF01, 0xFF02, 0xFF10
IM_DATA = 0x0300
SECTIONS = {"GH": SECT_GLOBAL_HEADER, "DH": SECT_DATA_HEADER, "IM": SECT_IMAGE}


class Entry:
    __slots__ = ("id", "name", "per_frame", "kind", "section")

    def __init__(self, id_, name, per_frame, kind):
        self.id, self.name, self.per_frame, self.kind = id_, name, per_frame, kind
        self.section = SECTIONS[name[:2]]


CATALOGUE = [Entry(*row) for row in ENTRIES]
BY_NAME = {e.name: e for e in CATALOGUE}
# The values a recording shares and those every frame stores (image data apart).
SHARED = [e for e in CATALOGUE if not e.per_frame]
PER_FRAME = [e for e in CATALOGUE if e.per_frame and e.id != IM_DATA]

_FORMATS = {"u16": "<H", "u32": "<I", "f32": "<f"}


def lookup(name):
    """The catalogue entry of a name, with or without the TOVA_ prefix."""
    entry = BY_NAME.get(name[5:] if name.startswith("TOVA_") else name)
    if entry is None:
        raise KeyError(f"unknown entry {name!r} (names as in HOLMDAQTova.h, e.g. 'DH_PARAM_FPS')")
    return entry


def stamp_to_datetime(data):
    """A naive datetime of a stored time stamp (no time zone is stored); None when invalid."""
    if len(data) < 16:
        return None
    year, month, _, day, hour, minute, second, ms = struct.unpack_from("<8H", data)
    try:
        return datetime.datetime(year, month, day, hour, minute, min(second, 59), ms * 1000)
    except ValueError:
        return None


def datetime_to_stamp(value):
    """The 16 stored bytes of a time (datetime, numpy datetime64 or ISO text), taken as it is, without zone."""
    if isinstance(value, (np.datetime64, str)):
        value = np.datetime64(value, "ms").astype(datetime.datetime)
    if not isinstance(value, datetime.datetime):
        raise TypeError(f"a time stamp must be a datetime, numpy datetime64 or ISO text, not {type(value).__name__}")
    # Sunday is 0, as in the stored stamps.
    return struct.pack("<8H", value.year, value.month, (value.weekday() + 1) % 7, value.day, value.hour,
                       value.minute, value.second, value.microsecond // 1000)


def decode(entry, data):
    kind = entry.kind
    if kind in _FORMATS and len(data) >= struct.calcsize(_FORMATS[kind]):
        value = struct.unpack_from(_FORMATS[kind], data)[0]
        # The shortest decimal that gives back the stored float32 (0.95, not 0.949999988).
        return float(repr(np.float32(value))) if kind == "f32" else value
    if kind == "text":
        return data.split(b"\0", 1)[0].decode("cp1252", errors="replace")
    if kind == "utf16":
        text = data[: len(data) // 2 * 2].decode("utf-16-le", errors="replace")
        return text.split("\0", 1)[0]
    if kind == "timestamp":
        return stamp_to_datetime(data)
    return bytes(data)


def encode(entry, value):
    if isinstance(value, (bytes, bytearray, memoryview)):
        return bytes(value)
    kind = entry.kind
    if kind in _FORMATS:
        return struct.pack(_FORMATS[kind], value)
    if kind == "text":
        return str(value).encode("cp1252") + b"\0"
    if kind == "utf16":
        return str(value).encode("utf-16-le") + b"\0\0"
    if kind == "timestamp":
        return datetime_to_stamp(value)
    raise TypeError(f"{entry.name} takes bytes, not {type(value).__name__}")
