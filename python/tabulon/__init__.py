"""Read worksheets of .xlsx workbooks through tabulon.so.

    import tabulon
    tabulon.sheet_names("book.xlsx")            # ['Sales', 'Übersicht', ...]
    tabulon.read_sheet("book.xlsx", "Sales")    # [['Date', 'Region', ...], ...]
    tabulon.read_frame("book.xlsx")             # pandas DataFrame of the first sheet
    tabulon.read_frames("data/*.xlsx")          # many workbooks at once, one DataFrame
    with tabulon.open(data) as book:            # data: a path, bytes or a binary file
        frames = [book.read_frame(name) for name in book.sheet_names]

tabulon.dask.read_sheet (import tabulon.dask) gives a Dask DataFrame with a
partition per workbook.

Cells come as the library renders them: numbers and booleans (1/0) as
written in the file, dates as "YYYY-MM-DD HH:MM:SS", rows without any value
left out. `read_frame` types the columns; everything else returns text.
Cell text is decoded as UTF-8, with bytes that are not UTF-8 replaced by
U+FFFD.

A workbook source is a path (str or path-like), the workbook's bytes
(bytes, bytearray, memoryview), or a binary file-like object, read from
where it stands to its end. (A path held in bytes is given as
os.fsdecode(path).) Every reading function takes any of them; open()
returns a Workbook that reads many sheets without opening the source again.

A sheet is named by its exact name, or by its position among the
worksheets (0 is the first; chart, dialog and macro sheets are not
counted, as pandas counts them); None means the first worksheet.

Threads may call everything here at the same time, on one Workbook or many:
the library's calls release the GIL and run in parallel.

Errors: FileNotFoundError, IsADirectoryError and the other OSErrors of
reading a file; WorkbookError (a TabulonError) for a file or bytes that are
not a workbook the library can load, with the same reason whatever the
source, or one of its subclasses naming what the file is
(PasswordProtectedError, LegacyXlsError, XlsbError, OpenDocumentError,
NotASpreadsheetError, EncodingError); TypeError for a source of another
type; UnknownSheetError (a TabulonError and a ValueError) for a sheet the
workbook does not have, its message naming the workbook's sheets;
TabulonError for a sheet that cannot be read or a library
that cannot be found.

The library is $TABULON_LIBRARY when that is set, else tabulon.so beside
this module (an installed copy), else build/tabulon.so of the source tree.
"""

from . import _arrow, _frame, _library, _text
from ._errors import (EncodingError, LegacyXlsError, NotASpreadsheetError, OpenDocumentError,
                      PasswordProtectedError, TabulonError, UnknownSheetError, WorkbookError,
                      XlsbError)
from ._library import library_path, version
from ._many import ReadErrors, ReaderDied, read_frames
from ._workbook import Workbook

# open is left out: a star import would hide the built-in open.
__all__ = ["Workbook", "sheet_names", "read_sheet", "read_frame", "read_frames", "read_text",
           "version", "library_path", "TabulonError", "WorkbookError", "UnknownSheetError",
           "PasswordProtectedError", "LegacyXlsError", "XlsbError", "OpenDocumentError",
           "NotASpreadsheetError", "EncodingError", "ReadErrors", "ReaderDied"]

def open(source):
    """The open Workbook of source (a path, bytes, bytearray, memoryview or
    a binary file-like object); a context manager:

        with tabulon.open("book.xlsx") as book:
            print(book.sheet_names)
            frame = book.read_frame("Sales")
    """
    return Workbook(source)


def sheet_names(source):
    """The workbook's worksheet names, in workbook order."""
    with Workbook(source) as book:
        return book.sheet_names


def read_text(source, sheet=None):
    """The sheet's text exactly as the library renders it: one line per row,
    every field ended by ";"."""
    with Workbook(source) as book:
        return book.read_text(sheet)


def read_sheet(source, sheet=None):
    """The sheet as a list of rows, each a list of str, one per column."""
    with Workbook(source) as book:
        return book.read_sheet(sheet)


def read_frame(source, sheet=None, header=True, *, skiprows=0, nrows=None, dtype=None):
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
      dates and times              datetime64[ns], NaT for missing: cells of a
                                   date or time format (built-in or custom,
                                   either date system) and ISO date cells. A
                                   column with a value outside 1677-09-21 to
                                   2262-04-11 is instead an object column of
                                   datetime.datetime (numpy.datetime64 beyond
                                   the year 9999), None for missing
      booleans                     bool; pandas' nullable "boolean" with missing
      text                         object column of str, None for missing
      more than one of these       text, each cell written as read_sheet writes it
      no value at all              float64, all NaN
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
    with Workbook(source) as book:
        return book.read_frame(sheet, header, skiprows=skiprows, nrows=nrows, dtype=dtype)
