"""Finding and loading tabulon.so, and the one lock around it.

The library holds one workbook per process and its entry points must not
run at the same time, so every use goes through `locked_library`, and a
workbook is only ever open inside `open_workbook`, which holds the lock from
opening it until it is closed again.
"""

import contextlib
import ctypes
import errno
import os
import stat
import threading

from ._arrow import ArrowArray, ArrowSchema, ReadOptions
from ._errors import FORMAT_ERRORS, TabulonError, UnknownSheetError, WorkbookError

LIBRARY_FILE = "tabulon.so"
ENVIRONMENT = "TABULON_LIBRARY"

_lock = threading.Lock()
_loaded = None  # (ctypes library, absolute path) once loaded

# name: (argument types, result type). getSheetData's text is copied out with
# string_at while the lock is held: the library reuses its buffer.
_ENTRY_POINTS = {
    "openExcel": ([ctypes.c_char_p], ctypes.c_int),
    "getSheetData": ([ctypes.c_char_p], ctypes.c_void_p),
    "closeExcel": ([], ctypes.c_int),
    "listSheets": ([], ctypes.c_char_p),
    "version": ([], ctypes.c_char_p),
    "lastError": ([ctypes.POINTER(ctypes.c_int)], ctypes.c_char_p),
    "readColumns": ([ctypes.c_char_p, ctypes.POINTER(ReadOptions),
                     ctypes.POINTER(ArrowSchema), ctypes.POINTER(ArrowArray)], ctypes.c_int),
}

# The library's failure codes (enum TabulonFailure).
OK = 0
NO_SUCH_FILE = 1
NOT_A_FILE = 2
UNREADABLE = 3
NOT_A_ZIP = 4
DAMAGED_MEMBER = 5
MISSING_PART = 6
OUT_OF_MEMORY = 7
NO_SUCH_SHEET = 8
NO_WORKBOOK = 9
INVALID_ARGUMENT = 10
INTERNAL = 11
ENCRYPTED = 12
LEGACY_XLS = 13
BINARY_XLSB = 14
OPENDOCUMENT = 15
NOT_A_SPREADSHEET = 16
UNKNOWN_ENCODING = 17


def candidates():
    """Where the library is looked for, in order. $TABULON_LIBRARY, when set,
    is the only place: a wrong value is reported, not papered over by some
    other copy of the library."""
    chosen = os.environ.get(ENVIRONMENT)
    if chosen:
        return [chosen]
    here = os.path.dirname(os.path.abspath(__file__))
    return [
        os.path.join(here, LIBRARY_FILE),  # installed: beside the module
        os.path.normpath(os.path.join(here, os.pardir, os.pardir, "build", LIBRARY_FILE)),  # source tree
    ]


def _load():
    """The library and its path, loaded on first use. The caller holds _lock."""
    global _loaded
    if _loaded is not None:
        return _loaded
    places = candidates()
    path = next((p for p in places if os.path.isfile(p)), None)
    if path is None:
        raise TabulonError("cannot find %s (looked at %s); build it, or set %s to its path"
                           % (LIBRARY_FILE, ", ".join(places), ENVIRONMENT))
    path = os.path.abspath(path)
    try:
        library = ctypes.CDLL(path)
    except OSError as error:
        raise TabulonError("cannot load %s: %s" % (path, error)) from None
    for name, (arguments, result) in _ENTRY_POINTS.items():
        try:
            function = getattr(library, name)
        except AttributeError:
            raise TabulonError("%s is not a usable %s: it has no entry point %s"
                               % (path, LIBRARY_FILE, name)) from None
        function.argtypes = arguments
        function.restype = result
    _loaded = (library, path)
    return _loaded


@contextlib.contextmanager
def locked_library():
    """Holds the process-wide lock; yields the loaded library."""
    with _lock:
        yield _load()[0]


def library_path():
    """The file the library was (or is now) loaded from."""
    with _lock:
        return _load()[1]


def version():
    """The library's identification text."""
    with locked_library() as lib:
        return lib.version().decode("utf-8", "replace")


def check_file(path):
    """Raises the OSError that reading path would meet, or WorkbookError for
    something that exists but is not a regular file (a pipe would block)."""
    status = os.stat(path)  # FileNotFoundError, PermissionError, ...
    if stat.S_ISDIR(status.st_mode):
        raise IsADirectoryError(21, os.strerror(21), path)
    if not stat.S_ISREG(status.st_mode):
        raise WorkbookError("%s: not a regular file" % os.fsdecode(path), path)
    with open(path, "rb"):
        pass  # PermissionError here rather than a misleading "not a workbook"


def last_failure(lib):
    """(code, text) of the library's last call; the caller holds the lock."""
    code = ctypes.c_int(OK)
    text = lib.lastError(ctypes.byref(code)) or b""
    return code.value, text.decode("utf-8", "replace")


def _detail(text, path):
    """The library's text without the path it may start with (the message
    names the path already)."""
    prefix = os.fsdecode(path) + ": "
    return text[len(prefix):] if text.startswith(prefix) else text


def failure_error(code, text, path, what, sheets=()):
    """The exception for a failed call: code and text from lastError, what
    the message starts with (say, "sheet 'A' of book.xlsx cannot be read")."""
    detail = _detail(text, path) or "no reason given"
    message = "%s: %s" % (what, detail)
    if code == OUT_OF_MEMORY:
        return MemoryError(message)
    if code == NO_SUCH_FILE:
        return FileNotFoundError(errno.ENOENT, message, path)
    if code == UNREADABLE:
        return OSError(message)
    if code in (NOT_A_FILE, NOT_A_ZIP):
        return WorkbookError(message, path)
    if code in FORMAT_ERRORS:
        return FORMAT_ERRORS[code](message, path)
    if code == NO_SUCH_SHEET:
        return UnknownSheetError(message, list(sheets))
    return TabulonError(message)


@contextlib.contextmanager
def open_workbook(path):
    """Holds the lock with the workbook at path open; yields the library."""
    path = os.fspath(path)
    check_file(path)
    shown = os.fsdecode(path)
    with locked_library() as lib:
        try:
            status = lib.openExcel(os.fsencode(path))
            if status != 0:
                code, text = last_failure(lib)
                detail = _detail(text, path)
                if code in FORMAT_ERRORS:  # the text says what the file is
                    raise FORMAT_ERRORS[code]("%s: %s" % (shown, detail), path)
                # A damaged or foreign archive is, to the user, not a workbook.
                if status == -2 and code in (NOT_A_ZIP, INTERNAL, OK):
                    raise WorkbookError("%s: not a workbook: not a zip archive, or a damaged one%s"
                                        % (shown, " (%s)" % detail if detail else ""), path)
                if code in (DAMAGED_MEMBER, MISSING_PART, NOT_A_ZIP, INTERNAL, OK):
                    raise WorkbookError("%s: cannot load the workbook (%s)" % (
                        shown, detail or "a part is missing or damaged"), path)
                raise failure_error(code, text, path, "%s: cannot load the workbook" % shown)
            yield lib
        finally:
            lib.closeExcel()
