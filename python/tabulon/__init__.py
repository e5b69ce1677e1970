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

from . import _arrow, _frame, _library, _text
from ._errors import TabulonError, UnknownSheetError, WorkbookError
from ._library import library_path, version
from ._many import ReadErrors, read_frames
from ._excel import ExcelFile, read_excel

__all__ = ["sheet_names", "read_sheet", "read_frame", "read_frames", "read_text", "read_excel",
           "ExcelFile", "version",
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
        names = _text.decode_names(lib.listSheets())
        name = _choose(names, sheet, path)
        address = lib.getSheetData(_text.encode_name(name))
        data = ctypes.string_at(address) if address else b"0"
        # The name is listed, so "0" means its part is missing or unreadable.
        if data == b"0":
            code, reason = _library.last_failure(lib)
            if code != _library.OK:
                raise _library.failure_error(code, reason, path, "sheet %r of %s cannot be read"
                                             % (name, _shown(path)), names)
            raise TabulonError("sheet %r of %s cannot be read (its part is missing or damaged)"
                               % (name, _shown(path)))
    return data.decode("utf-8", _text.TEXT_ERRORS)


def read_sheet(path, sheet=None):
    """The sheet as a list of rows, each a list of str, one per column."""
    return _text.split_rows(read_text(path, sheet))


def read_frame(path, sheet=None, header=True, *, skiprows=0, nrows=None, dtype=None):
    """The sheet as a pandas DataFrame of typed columns, one per sheet column
    from the first to the last holding a value, one row per sheet row from
    the first to the last holding a value (rows without values inside are
    all missing, so row positions stay those of the sheet).

    header: True (or 0, as pandas says it) when the first row read names
    the columns; a column without a name is "Unnamed: N" (N its position
    from 0) and repeated names become "a", "a.1", "a.2". With False (or
    None) the columns are numbered from 0.
    skiprows: rows skipped before the header (or the data), counted from
    the first row of the sheet that holds a value. nrows: the most data
    rows read (None: all).

    Each column gets one type from all its cells (the header aside):
      numbers                      float64 (whole numbers too), NaN for missing
      dates and date-times         datetime64[ns], NaT for missing: cells of a
                                   date format (built-in or custom, either date
                                   system) and ISO date cells. A column with a
                                   value outside 1677-09-21 to 2262-04-11 is
                                   instead an object column of datetime.datetime
                                   (numpy.datetime64 beyond the year 9999), None
                                   for missing
      durations                    timedelta64[ns], NaT for missing: cells of an
                                   elapsed-time format ([h]:mm:ss, [mm]:ss, ...)
      times of day                 object column of datetime.time, None for
                                   missing: cells of a time-only format below 1
      booleans                     bool; pandas' nullable "boolean" with missing
      text                         object column of str, None for missing
      more than one of these       text, each cell written as read_sheet writes it
      no value at all              float64, all NaN
    Error cells (#N/A, #DIV/0!, ...) are missing values.
    dtype: a type for every column, or a dict of column name -> type, for
    a column whose guess is not wanted. str (or "str", object) gives each
    cell's text as read_sheet writes it (numbers as in the file, booleans
    1/0, dates "YYYY-MM-DD HH:MM:SS"), None for missing; "datetime64[ns]"
    takes dates, and text through pandas.to_datetime; anything else goes
    through pandas' astype ("float64", "Int64", "category", ...), except
    that "bool" refuses missing values ("boolean" keeps them). A name the
    sheet does not have, or a value the type cannot take, raises ValueError.

    Raises ImportError without pandas, MemoryError when the sheet's extent
    is too large to hold, and the module's other errors.
    """
    pandas = _frame.import_pandas()  # fail before reading a large sheet
    import numpy  # pandas brings it

    header = _frame.header_flag(header)
    skip_rows, max_rows = _frame.row_options(skiprows, nrows)
    options = _arrow.ReadOptions(skip_rows, max_rows, 1 if header else 0, _arrow.READ_KINDS)
    schema, array = _arrow.ArrowSchema(), _arrow.ArrowArray()
    try:
        with _library.open_workbook(path) as lib:
            names = _text.decode_names(lib.listSheets())
            name = _choose(names, sheet, path)
            if lib.readColumns(_text.encode_name(name), ctypes.byref(options),
                               ctypes.byref(schema), ctypes.byref(array)) != 0:
                code, reason = _library.last_failure(lib)
                raise _library.failure_error(code, reason, path, "sheet %r of %s cannot be read"
                                             % (name, _shown(path)), names)
        # The columns outlive the workbook: copy them out without the lock.
        rows, columns = _arrow.take_columns(numpy, schema, array)
    finally:
        if schema.release or array.release:
            with _library.locked_library():
                _arrow.release(array)
                _arrow.release(schema)
    return _frame.to_frame(pandas, numpy, rows, columns, header, dtype)
