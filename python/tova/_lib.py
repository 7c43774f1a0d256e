"""Finding and loading the two shared libraries, and the ctypes signatures.

Search order: the TOVA_LIBRARY environment variable (a folder holding both
libraries, or the path of the main library, beside which the companion library
lies), then the package's own folder, then the system's search path. The same
code loads HOLMDAQTova.dll and tova_ext.dll on Windows.
"""
import ctypes
import ctypes.util
import os
import sys
import threading

_WINDOWS = sys.platform == "win32"
if _WINDOWS:
    _MAIN_NAMES, _EXT_NAMES = ["HOLMDAQTova.dll"], ["tova_ext.dll"]
elif sys.platform == "darwin":
    _MAIN_NAMES, _EXT_NAMES = ["libHOLMDAQTova.dylib", "libHOLMDAQTova.1.dylib"], ["libtova_ext.dylib"]
else:
    _MAIN_NAMES, _EXT_NAMES = ["libHOLMDAQTova.so", "libHOLMDAQTova.so.1"], ["libtova_ext.so", "libtova_ext.so.1"]

INVALID_HANDLE = 0xFFFFFFFFFFFFFFFF

_lock = threading.Lock()
_libs = None


class LibraryNotFoundError(OSError):
    """Neither TOVA_LIBRARY, the package folder nor the system search path holds the libraries."""


def _in_folder(folder, names):
    for name in names:
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            return path
    return None


def _candidates():
    """(main, companion) path pairs in the order of the search, with where they came from."""
    setting = os.environ.get("TOVA_LIBRARY")
    if setting:
        if os.path.isdir(setting):
            main = _in_folder(setting, _MAIN_NAMES)
            folder = setting
        else:
            main, folder = setting, os.path.dirname(os.path.abspath(setting))
        yield "TOVA_LIBRARY", main, _in_folder(folder, _EXT_NAMES)
        return  # an explicit setting that does not work is an error, not a hint
    here = os.path.dirname(os.path.abspath(__file__))
    main = _in_folder(here, _MAIN_NAMES)
    if main:
        yield "package folder", main, _in_folder(here, _EXT_NAMES)
    yield ("system search path", ctypes.util.find_library("HOLMDAQTova") or _MAIN_NAMES[-1],
           ctypes.util.find_library("tova_ext") or _EXT_NAMES[-1])


def _load_pair(main, ext):
    if _WINDOWS and os.path.isabs(main):
        # The companion DLL imports HOLMDAQTova.dll from its own folder.
        os.add_dll_directory(os.path.dirname(main))
    main_lib = ctypes.CDLL(main)
    ext_lib = ctypes.CDLL(ext)
    return main_lib, ext_lib


def load():
    """The (main, companion) libraries, loaded once per process."""
    global _libs
    with _lock:
        if _libs is None:
            tried = []
            for origin, main, ext in _candidates():
                if not main or not ext:
                    tried.append(f"{origin}: {os.environ.get('TOVA_LIBRARY')!r} holds not both "
                                 f"{_MAIN_NAMES[0]} and {_EXT_NAMES[0]}")
                    continue
                try:
                    _libs = _declare(*_load_pair(main, ext))
                    break
                except OSError as error:
                    tried.append(f"{origin}: {error}")
            else:
                raise LibraryNotFoundError(
                    "cannot load the TOVA libraries; set TOVA_LIBRARY to the folder that holds "
                    f"{_MAIN_NAMES[0]} and {_EXT_NAMES[0]} ({'; '.join(tried)})")
        return _libs


class SalvageReport(ctypes.Structure):
    """tovaext_salvage_report of tova_salvage.h."""
    _fields_ = [("datasets_kept", ctypes.c_uint32), ("datasets_dropped", ctypes.c_uint32),
                ("bytes_kept", ctypes.c_uint64), ("bytes_cut", ctypes.c_uint64),
                ("parts_kept", ctypes.c_uint32), ("parts_removed", ctypes.c_uint32),
                ("read_before", ctypes.c_int32), ("read_after", ctypes.c_int32),
                ("stop", ctypes.c_uint32), ("stop_part", ctypes.c_uint32),
                ("stop_offset", ctypes.c_uint64), ("changed", ctypes.c_uint32)]


def _declare(main, ext):
    u64, u32, u16, i32 = ctypes.c_uint64, ctypes.c_uint32, ctypes.c_uint16, ctypes.c_int32
    vp, cp = ctypes.c_void_p, ctypes.c_char_p
    pu32 = ctypes.POINTER(u32)
    path = ctypes.c_wchar_p if _WINDOWS else cp
    signatures = {
        main: {
            "TOVADLL_OPEN_FILE_MEM": (u64, [u32, u16, u16]),
            "TOVADLL_CLOSE_FILE": (i32, [u64]),
            "TOVADLL_SET_ENTRY": (i32, [u64, u16, u16, u32, vp]),
            "TOVADLL_REMOVE_ENTRY": (i32, [u64, u16, u16]),
            "TOVADLL_COPY_ENTRY_DATA": (i32, [u64, u16, u16, u32, vp, pu32]),
            "TOVADLL_GET_ENTRY_DATASIZE": (i32, [u64, u16, u16, pu32]),
            "TOVADLL_GET_NUM_ENTRIES": (i32, [u64, u16, pu32]),
            "TOVADLL_GET_NUMDATASETS": (i32, [u64, pu32]),
            "TOVADLL_SET_CURDATASET_EX": (i32, [u64, u32, u32]),
            "TOVADLL_READ_FROM_FILE": (i32, [u64, u32, u32]),
            "TOVADLL_ADD_TOVA": (i32, [u64, u64, u32]),
            ("TOVADLL_OPEN_FILE_READ_UC" if _WINDOWS else "TOVADLL_OPEN_FILE_READ"): (u64, [path]),
            ("TOVADLL_OPEN_FILE_WRITE_UC" if _WINDOWS else "TOVADLL_OPEN_FILE_WRITE"): (u64, [path, u32]),
        },
        ext: {
            "tovaext_section_string": (i32, [u64, u16, cp, u32, pu32]),
            "tovaext_entry_string": (i32, [u64, u16, u32, cp, u32, pu32]),
            "tovaext_data_string": (i32, [u64, u16, u32, cp, u32, pu32]),
            "tovaext_celsius_available": (i32, [u64, ctypes.POINTER(i32)]),
            "tovaext_frame_celsius": (i32, [u64, u32, vp, u64]),
            "tovaext_raw_to_celsius": (i32, [u64, vp, vp, u64]),
            "tovaext_frame_times": (i32, [u64, vp, u32, pu32]),
            "tovaext_salvage": (i32, [cp, cp, ctypes.POINTER(SalvageReport)]),
        },
    }
    for lib, table in signatures.items():
        for name, (restype, argtypes) in table.items():
            function = getattr(lib, name)
            function.restype, function.argtypes = restype, argtypes
    return Api(main, ext)


class Api:
    """The calls the package makes, with paths in the platform's form."""

    def __init__(self, main, ext):
        self.main, self.ext = main, ext
        if _WINDOWS:
            self.open_read = lambda p: main.TOVADLL_OPEN_FILE_READ_UC(os.fspath(p))
            self.open_write = lambda p, append: main.TOVADLL_OPEN_FILE_WRITE_UC(os.fspath(p), append)
        else:
            self.open_read = lambda p: main.TOVADLL_OPEN_FILE_READ(os.fsencode(p))
            self.open_write = lambda p, append: main.TOVADLL_OPEN_FILE_WRITE(os.fsencode(p), append)

    def __getattr__(self, name):
        lib = self.ext if name.startswith("tovaext_") else self.main
        function = getattr(lib, name)
        setattr(self, name, function)
        return function
