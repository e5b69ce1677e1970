"""Finding and loading tabulon.so, and turning its failures into exceptions.

The module reads through the library's workbook handles, which may be used
from any number of threads at once: nothing here serialises the calls.
ctypes releases the GIL for the length of each foreign call, so threads
read in parallel. The fixed entry points (openExcel ...) keep one workbook
per process and are declared only for tests that look at them.
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

_load_lock = threading.Lock()  # only around the first load
_loaded = None  # (ctypes library, absolute path) once loaded


class Status(ctypes.Structure):
    """struct TabulonStatus: how one handle call ended."""
    _fields_ = [("code", ctypes.c_int), ("text", ctypes.c_char * 512)]


class SheetInfo(ctypes.Structure):
    """struct TabulonSheetInfo."""
    _fields_ = [("name", ctypes.c_char_p), ("kind", ctypes.c_int), ("visibility", ctypes.c_int)]


class TextOptions(ctypes.Structure):
    """struct TabulonTextOptions."""
    _fields_ = [("flags", ctypes.c_uint), ("max_bytes", ctypes.c_uint64)]


TEXT_ALL_DATES = 1
BORROW = 1

_handle = ctypes.c_void_p
_status = ctypes.POINTER(Status)

# name: (argument types, result type).
_ENTRY_POINTS = {
    "openExcel": ([ctypes.c_char_p], ctypes.c_int),
    "getSheetData": ([ctypes.c_char_p], ctypes.c_void_p),
    "closeExcel": ([], ctypes.c_int),
    "listSheets": ([], ctypes.c_char_p),
    "version": ([], ctypes.c_char_p),
    "lastError": ([ctypes.POINTER(ctypes.c_int)], ctypes.c_char_p),
    "readColumns": ([ctypes.c_char_p, ctypes.POINTER(ReadOptions),
                     ctypes.POINTER(ArrowSchema), ctypes.POINTER(ArrowArray)], ctypes.c_int),
    "tabulonOpen": ([ctypes.c_char_p, _status], _handle),
    "tabulonOpenMemory": ([ctypes.c_void_p, ctypes.c_size_t, ctypes.c_uint, _status], _handle),
    "tabulonClose": ([_handle, _status], ctypes.c_int),
    "tabulonSheetCount": ([_handle, _status], ctypes.c_int64),
    "tabulonSheetInfo": ([_handle, ctypes.c_int64, ctypes.POINTER(SheetInfo), _status], ctypes.c_int),
    "tabulonReadColumns": ([_handle, ctypes.c_char_p, ctypes.c_int64, ctypes.POINTER(ReadOptions),
                            ctypes.POINTER(ArrowSchema), ctypes.POINTER(ArrowArray), _status], ctypes.c_int),
    # The text's address as an integer: it is copied out, then freed.
    "tabulonReadText": ([_handle, ctypes.c_char_p, ctypes.c_int64, ctypes.POINTER(TextOptions),
                         ctypes.POINTER(ctypes.c_size_t), _status], ctypes.c_void_p),
    "tabulonFree": ([ctypes.c_void_p], None),
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
    """The library and its path, loaded on first use."""
    global _loaded
    if _loaded is not None:
        return _loaded
    with _load_lock:
        if _loaded is None:
            _loaded = _load_now()
    return _loaded


def _load_now():
    global _loaded
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
    return (library, path)


def library():
    """The loaded library (loading it on first use)."""
    return _load()[0]


# The fixed entry points keep one workbook per process: the few callers
# that use them (tests) take this lock.
_fixed_lock = threading.Lock()


@contextlib.contextmanager
def locked_library():
    """Holds the lock of the fixed entry points; yields the loaded library."""
    with _fixed_lock:
        yield library()


def library_path():
    """The file the library was (or is now) loaded from."""
    return _load()[1]


def version():
    """The library's identification text."""
    return library().version().decode("utf-8", "replace")


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


def _detail(text, path):
    """The library's text without the path it may start with (the message
    names the path already)."""
    if not path:
        return text
    prefix = os.fsdecode(path) + ": "
    return text[len(prefix):] if text.startswith(prefix) else text


def failure_error(code, text, path, what, sheets=()):
    """The exception for a failed call: code and text from its status, what
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


def status_failure(status):
    """(code, text) of a handle call's status."""
    return status.code, status.text.decode("utf-8", "replace")


def open_error(code, text, path, shown):
    """The exception for a workbook that cannot be opened: path is what was
    opened (None for bytes in memory), shown how messages name it."""
    detail = _detail(text, path) if path is not None else text
    if code in FORMAT_ERRORS:  # the text says what the file is
        return FORMAT_ERRORS[code]("%s: %s" % (shown, detail), path if path is not None else shown)
    # A damaged or foreign archive is, to the user, not a workbook.
    if code in (NOT_A_ZIP, OK):
        return WorkbookError("%s: not a workbook: not a zip archive, or a damaged one%s"
                             % (shown, " (%s)" % detail if detail else ""), path if path is not None else shown)
    if code in (DAMAGED_MEMBER, MISSING_PART, INTERNAL):
        return WorkbookError("%s: cannot load the workbook (%s)" % (
            shown, detail or "a part is missing or damaged"), path if path is not None else shown)
    return failure_error(code, text, path if path is not None else "", "%s: cannot load the workbook" % shown)
