"""Result codes of the library as Python exceptions.

Every code a call returns becomes an instance of a :class:`TovaError` subclass
that carries ``code`` (the number) and ``name`` (``"TOVA_ERR_MISMATCH_SIZE"``,
as in HOLMDAQTova.h). The three refusals of an append's compatibility check
share the base class :class:`IncompatibleError`.
"""

# code: (name, class name, description)
_CODES = {
    1: ("TOVA_ERR_HANDLE", "HandleError", "the handle names no open document"),
    3: ("TOVA_ERR_NO_MEMORY", "NoMemoryError", "memory could not be obtained"),
    4: ("TOVA_ERR_WRITE_INCOMPLETE", "WriteIncompleteError", "a dataset could not be written completely"),
    5: ("TOVA_ERR_FILE_WRITE", "FileWriteError", "writing or closing a part file failed"),
    7: ("TOVA_ERR_DOCUMENT_TYPE", "DocumentTypeError", "the operation is not allowed for this kind of document"),
    8: ("TOVA_ERR_CANCELLED", "CancelledError", "the operation was cancelled"),
    9: ("TOVA_ERR_READ", "ReadError", "reading the file failed (damaged, truncated or not a TOVA document)"),
    10: ("TOVA_ERR_OPEN", "OpenError", "a file could not be opened"),
    11: ("TOVA_ERR_SHORT", "ShortError", "a file ended early or a continuation file is missing"),
    12: ("TOVA_ERR_NULL_POINTER", "NullPointerError", "a required pointer argument is null"),
    13: ("TOVA_ERR_BUFFER_TOO_SMALL", "BufferTooSmallError", "the buffer is too small"),
    14: ("TOVA_ERR_DELETE", "DeleteError", "a file could not be deleted"),
    15: ("TOVA_ERR_RENAME", "RenameError", "a file could not be renamed"),
    16: ("TOVA_ERR_FILE_SIZE", "FileSizeError", "the size of a file could not be determined"),
    21: ("TOVA_ERR_SECTION_ID", "SectionIdError", "unknown section identifier"),
    22: ("TOVA_ERR_NO_SECTION", "NoSectionError", "the section does not exist for this frame"),
    23: ("TOVA_ERR_SECTION_SHORT", "SectionShortError", "a section record is shorter than its header"),
    30: ("TOVA_ERR_STORE", "StoreError", "an entry could not be stored"),
    31: ("TOVA_ERR_ENTRY_INDEX", "EntryIndexError", "the entry index lies beyond the section's entries"),
    32: ("TOVA_ERR_RECORD", "RecordError", "a malformed entry record, or an entry without data"),
    33: ("TOVA_ERR_NO_ENTRY", "NoEntryError", "no entry with that identifier in the section"),
    43: ("TOVA_ERR_EXTENSION", "ExtensionError", "the file name does not carry the extension .tova"),
    50: ("TOVA_ERR_DATASET", "DatasetError", "frame index out of range, or the document holds no frame"),
    51: ("TOVA_ERR_TOO_FEW_DATASETS", "TooFewDatasetsError", "the document holds fewer than two frames"),
    60: ("TOVA_ERR_MISMATCH_DEVICE", "MismatchDeviceError",
         "the recordings differ in data unit, calibration or device"),
    61: ("TOVA_ERR_MISMATCH_RANGE", "MismatchRangeError", "the recordings differ in measurement range"),
    62: ("TOVA_ERR_MISMATCH_SIZE", "MismatchSizeError", "the recordings differ in sensor or image size"),
    70: ("TOVA_ERR_NOT_LOCK_OWNER", "NotLockOwnerError", "the calling thread does not hold the document lock"),
    -32: ("TOVA_ERR_TEXT_HANDLE", "TextHandleError", "the handle names no open document"),
    2001: ("TOVAEXT_ERR_BUFFER_TOO_SMALL", "ExtBufferTooSmallError", "the buffer or array is too small"),
    2002: ("TOVAEXT_ERR_NO_CALIBRATION", "NoCalibrationError",
           "the recording's pixels do not convert to degrees Celsius (no calibration table)"),
    2003: ("TOVAEXT_ERR_IMAGE", "ImageDataError", "the frame's image size, data unit and image data do not fit"),
}


class TovaError(Exception):
    """A result code of the library. ``code`` and ``name`` say which."""

    code = None
    name = "TOVA_ERR_UNKNOWN"
    description = "unknown result code"

    def __init__(self, message=None, code=None):
        if code is not None:
            self.code = code
        text = f"{self.description} ({self.name}, code {self.code})"
        super().__init__(f"{message}: {text}" if message else text)


class IncompatibleError(TovaError):
    """An append refused by the compatibility check (codes 60, 61 and 62)."""


_CLASSES = {}
for _code, (_name, _cls, _text) in _CODES.items():
    _base = IncompatibleError if _code in (60, 61, 62) else TovaError
    _CLASSES[_code] = type(_cls, (_base,), {"code": _code, "name": _name, "description": _text,
                                            "__doc__": f"{_text} ({_name}, {_code})", "__module__": __name__})
    globals()[_cls] = _CLASSES[_code]
del _code, _name, _cls, _text, _base

CODE_NAMES = {code: entry[0] for code, entry in _CODES.items()}


def error_for(code, message=None):
    """The exception of a result code (an unknown code gives a plain TovaError)."""
    cls = _CLASSES.get(code)
    return cls(message) if cls else TovaError(message, code=code)


def check(code, message=None):
    """Raises the exception of a nonzero result code."""
    if code:
        raise error_for(code, message)


__all__ = ["TovaError", "IncompatibleError", "CODE_NAMES", "error_for", "check"] + [
    entry[1] for entry in _CODES.values()]
