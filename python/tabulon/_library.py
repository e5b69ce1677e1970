"""Finding and loading tabulon.so, and the one lock around it.

The library holds one workbook per process and its entry points must not
run at the same time, so every use goes through `open_workbook`, which holds
a process-wide lock from opening the workbook until it is closed again.
"""

import contextlib
import ctypes
import os
import stat
import threading

LIBRARY_FILE = "tabulon.so"
ENVIRONMENT = "TABULON_LIBRARY"


class TabulonError(Exception):
    """A workbook cannot be read, or the library cannot be loaded."""

    __module__ = "tabulon"  # where users import it from


class UnknownSheetError(ValueError):
    """The workbook has no sheet of the requested name; `sheets` lists its sheets."""

    __module__ = "tabulon"

    def __init__(self, message, sheets):
        super().__init__(message)
        self.sheets = sheets


_lock = threading.RLock()
_library = None
_library_path = None


def candidates():
    """Where the library is looked for, in order. $TABULON_LIBRARY, when set,
    is the only place: a wrong value is reported, not papered over."""
    chosen = os.environ.get(ENVIRONMENT)
    if chosen:
        return [chosen]
    here = os.path.dirname(os.path.abspath(__file__))
    return [
        os.path.join(here, LIBRARY_FILE),  # installed: beside the module
        os.path.join(here, os.pardir, os.pardir, "build", LIBRARY_FILE),  # source tree
    ]


def _load():
    global _library, _library_path
    if _library is not None:
        return _library
    places = candidates()
    path = next((p for p in places if os.path.isfile(p)), None)
    if path is None:
        raise TabulonError(
            "cannot find %s (looked at %s); build it, or set %s to its path"
            % (LIBRARY_FILE, ", ".join(places), ENVIRONMENT))
    try:
        library = ctypes.CDLL(os.path.abspath(path))
    except OSError as error:
        raise TabulonError("cannot load %s: %s" % (path, error)) from None
    library.openExcel.argtypes = [ctypes.c_char_p]
    library.openExcel.restype = ctypes.c_int
    library.getSheetData.argtypes = [ctypes.c_char_p]
    library.getSheetData.restype = ctypes.c_void_p  # copied out with string_at
    library.closeExcel.argtypes = []
    library.closeExcel.restype = ctypes.c_int
    library.listSheets.argtypes = []
    library.listSheets.restype = ctypes.c_char_p
    library.version.argtypes = []
    library.version.restype = ctypes.c_char_p
    _library, _library_path = library, os.path.abspath(path)
    return library


def library():
    """The loaded library (loading it on first use). Callers hold `lock()`."""
    with _lock:
        return _load()


def library_path():
    """The file the library was loaded from."""
    with _lock:
        _load()
        return _library_path


def lock():
    return _lock


def check_file(path):
    """Raises the OSError a program would meet reading path, or TabulonError
    for something that exists but is not a file."""
    status = os.stat(path)  # FileNotFoundError, PermissionError, ...
    if stat.S_ISDIR(status.st_mode):
        raise IsADirectoryError(21, os.strerror(21), path)
    if not stat.S_ISREG(status.st_mode):
        raise TabulonError("%s: not a regular file" % os.fsdecode(path))
    with open(path, "rb"):
        pass  # PermissionError here rather than a misleading "not a workbook"


@contextlib.contextmanager
def open_workbook(path):
    """Holds the lock with the workbook at path open; yields the library."""
    path = os.fspath(path)
    with _lock:
        check_file(path)
        lib = _load()
        status = lib.openExcel(os.fsencode(path))
        try:
            if status == -2:
                raise TabulonError(
                    "%s: not a workbook (not a zip archive, or a damaged one)" % os.fsdecode(path))
            if status != 0:
                raise TabulonError("%s: not a workbook (its parts cannot be read)" % os.fsdecode(path))
            yield lib
        finally:
            lib.closeExcel()
