"""Read worksheets of .xlsx workbooks through tabulon.so.

    import tabulon
    tabulon.sheet_names("book.xlsx")            # ['Sales', 'Übersicht', ...]
    tabulon.read_sheet("book.xlsx", "Sales")    # [['Date', 'Region', ...], ...]
    tabulon.read_frame("book.xlsx")             # pandas DataFrame of the first sheet
    tabulon.read_frames("data/*.xlsx")          # many workbooks in worker processes, one DataFrame

tabulon.dask.read_sheet (import tabulon.dask) gives a Dask DataFrame with a
partition per workbook.

Cells come as the library renders them: numbers and booleans (1/0) as
written in the file, dates as "YYYY-MM-DD HH:MM:SS", rows without any value
left out. `read_frame` types the columns; everything else returns text.
Cell text is decoded as UTF-8, with bytes that are not UTF-8 replaced by
U+FFFD.

Paths may be str, bytes or path-like. A sheet is named by its exact name, or
by its position (0 is the first sheet); None means the first sheet.

The library holds one workbook per process and its calls must not overlap:
every function here takes a process-wide lock and opens and closes the
workbook itself, so threads may call them freely (one at a time runs).

Errors: FileNotFoundError, IsADirectoryError and the other OSErrors of
reading a file; WorkbookError (a TabulonError) for a file that is not a
workbook the library can load; UnknownSheetError (a TabulonError and a
ValueError) for a sheet the workbook does not have, its message naming the
workbook's sheets; TabulonError for a sheet that cannot be read or a library
that cannot be found.

The library is $TABULON_LIBRARY when that is set, else tabulon.so beside
this module (an installed copy), else build/tabulon.so of the source tree.
"""

import ctypes
import os

from . import _frame, _library, _text
from ._errors import TabulonError, UnknownSheetError, WorkbookError
from ._library import library_path, version
from ._many import ReadErrors, read_frames

__all__ = ["sheet_names", "read_sheet", "read_frame", "read_frames", "read_text", "version",
           "library_path", "TabulonError", "WorkbookError", "UnknownSheetError", "ReadErrors"]


def sheet_names(path):
    """The workbook's sheet names, in workbook order."""
    with _library.open_workbook(path) as lib:
        return _text.decode_names(lib.listSheets())


def _choose(names, sheet, path):
    """The name of the sheet asked for, or UnknownSheetError."""
    if sheet is None:
        if not names:
            raise UnknownSheetError("%s: the workbook has no sheets" % _shown(path), names)
        return names[0]
    if isinstance(sheet, int) and not isinstance(sheet, bool):
        if 0 <= sheet < len(names):
            return names[sheet]
        raise UnknownSheetError("%s has no sheet number %d (counted from 0); its sheets: %s"
                                % (_shown(path), sheet, _listed(names)), names)
    if not isinstance(sheet, str):
        raise TypeError("sheet must be a name (str), a position (int) or None, not %s"
                        % type(sheet).__name__)
    if sheet not in names:
        raise UnknownSheetError("no sheet %r in %s; its sheets: %s"
                                % (sheet, _shown(path), _listed(names)), names)
    return sheet


def _shown(path):
    return os.fsdecode(path)


def _listed(names):
    return ", ".join(repr(name) for name in names) or "none"


def read_text(path, sheet=None):
    """The sheet's text exactly as the library renders it: one line per row,
    every field ended by ";"."""
    with _library.open_workbook(path) as lib:
        name = _choose(_text.decode_names(lib.listSheets()), sheet, path)
        address = lib.getSheetData(_text.encode_name(name))
        data = ctypes.string_at(address) if address else b"0"
    # The name is listed, so "0" means its part is missing or unreadable.
    if data == b"0":
        raise TabulonError("sheet %r of %s cannot be read (its part is missing or damaged)"
                           % (name, _shown(path)))
    return data.decode("utf-8", _text.TEXT_ERRORS)


def read_sheet(path, sheet=None):
    """The sheet as a list of rows, each a list of str, one per column."""
    return _text.split_rows(read_text(path, sheet))


def read_frame(path, sheet=None, header=True):
    """The sheet as a pandas DataFrame. With header, the first row names the
    columns (else they are numbered from 0). A column whose non-empty cells
    are all numbers is numeric (int64 when each is written as a whole number
    and none is missing, else float64), all timestamps is datetime64,
    otherwise text; empty cells are missing values. Raises ImportError without pandas."""
    _frame.import_pandas()  # fail before reading a large sheet
    return _frame.to_frame(read_sheet(path, sheet), header)
