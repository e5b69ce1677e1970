"""read_excel and ExcelFile: pandas' own reader interface over the library.

pandas' Excel readers build a grid of cell values (sheet row 1 and column A
first, "" for a cell without a value, rows and columns after the last value
dropped) and hand it to pandas' text parser, which applies every argument.
The general path here does exactly that with the library's cells, through
pandas' own reader base class, so each argument keeps pandas' meaning and
pandas' errors. The fast path skips the grid for the arguments most calls
use: columns of numbers, dates, booleans and plain text go from the
library's buffers to numpy, and only columns whose values pandas would
convert (text that reads as numbers, missing-value markers, mixed cells,
times of day, durations) go through pandas' parser, one column at a time.
"""

import os
import re

from . import _arrow, _frame

# (name, default) of every read_excel argument after io, in pandas' order.
_ARGUMENTS = (
    ("sheet_name", 0), ("header", 0), ("names", None), ("index_col", None), ("usecols", None),
    ("squeeze", None), ("dtype", None), ("engine", None), ("converters", None),
    ("true_values", None), ("false_values", None), ("skiprows", None), ("nrows", None),
    ("na_values", None), ("keep_default_na", True), ("na_filter", True), ("verbose", False),
    ("parse_dates", False), ("date_parser", None), ("thousands", None), ("decimal", "."),
    ("comment", None), ("skipfooter", 0), ("convert_float", None), ("mangle_dupe_cols", True),
    ("storage_options", None),
)
# Engines whose reading this module stands in for (xlsx workbooks).
_ENGINES = (None, "openpyxl", "tabulon")
_URL = re.compile(r"^[A-Za-z][A-Za-z0-9+.-]*://")

# Arguments whose default the fast path needs (the rest it handles itself).
_FAST_DEFAULTS = {
    "names": None, "index_col": None, "squeeze": None, "dtype": None, "converters": None,
    "true_values": None, "false_values": None, "na_values": None, "keep_default_na": True,
    "na_filter": True, "verbose": False, "parse_dates": False, "date_parser": None,
    "thousands": None, "decimal": ".", "comment": None, "skipfooter": 0, "convert_float": None,
    "mangle_dupe_cols": True,
}


def _pandas():
    return _frame.import_pandas("tabulon.read_excel")


def _check_engine(engine):
    if engine not in _ENGINES:
        raise NotImplementedError(
            "engine=%r: tabulon reads .xlsx workbooks itself; engine may be None or 'openpyxl'"
            % (engine,))


def _check_source(io):
    if isinstance(io, str) and _URL.match(io):
        raise NotImplementedError("io as a URL (%s): tabulon reads paths, bytes and binary "
                                  "files; fetch the workbook first" % io)


class _Grid:
    """A sheet's cells as pandas' readers see them: columns placed from
    column A, rows from sheet row 1 (`lead` rows before the first the
    library returned), cut after the last row and column holding a value
    that is not empty text."""

    def __init__(self, numpy, columns, rows, lead):
        self.numpy = numpy
        placed = {}
        for column in columns:
            number = _column_number(column.name)
            if number is not None:
                placed[number - 1] = column
        self.lead = lead
        last_row, width = 0, 0
        self.present = {}
        for position, column in placed.items():
            filled = _frame.present_cells(numpy, column, rows)
            if filled.any():
                self.present[position] = filled
                width = max(width, position + 1)
                last_row = max(last_row, lead + int(numpy.flatnonzero(filled)[-1]) + 1)
        self.columns = {p: c for p, c in placed.items() if p < width}
        self.rows = last_row if width else 0
        self.width = width
        self.length = rows

    def indexes(self, start, stop):
        """Positions in the library's columns of grid rows start..stop-1
        (-1 for the rows before the first returned)."""
        numpy = self.numpy
        idx = numpy.arange(start - self.lead, stop - self.lead, dtype=numpy.int64)
        idx[idx < 0] = -1
        return idx

    def column_rows(self, position, start, stop):
        """Grid rows start..stop-1 of column `position` as a Column."""
        column = self.columns.get(position)
        if column is None:
            return _arrow.Column("", _arrow.NULL, None, None)
        return _frame.take_rows(self.numpy, column, self.indexes(start, stop))

    def objects(self, position, start, stop, convert_float=True):
        return _frame.cell_objects(self.numpy, self.column_rows(position, start, stop),
                                   stop - start, convert_float)

    def data(self, convert_float):
        """The grid as lists of rows of cell values."""
        if not self.rows:
            return []
        columns = [self.objects(p, 0, self.rows, convert_float).tolist() for p in range(self.width)]
        return [list(row) for row in zip(*columns)]


def _column_number(letters):
    """1 for "A", 27 for "AA"; None for a name that is no column's letters."""
    if not letters or not letters.isascii() or not letters.isalpha() or not letters.isupper():
        return None
    number = 0
    for letter in letters:
        number = number * 26 + ord(letter) - 64
    return number


def _reader_class():
    """pandas' reader base class with this module's cells under it (made on
    first use: importing tabulon must not import pandas)."""
    global _Reader
    if _Reader is not None:
        return _Reader
    pandas = _pandas()
    import numpy
    from pandas.io.excel._base import BaseExcelReader

    class Reader(BaseExcelReader):
        """Sheets of an open workbook; pandas' parse applies the arguments."""

        def __init__(self, book):  # the workbook is opened by ExcelFile
            self.book = book
            self.numpy = numpy
            self.pandas = pandas

        @property
        def _workbook_class(self):
            return type(self.book)

        def load_workbook(self, filepath_or_buffer):
            raise NotImplementedError

        def close(self):
            pass  # the ExcelFile owns the workbook

        @property
        def sheet_names(self):
            return list(self.book.sheet_names)

        def get_sheet_by_name(self, name):
            self.raise_if_bad_sheet_by_name(name)
            return name

        def get_sheet_by_index(self, index):
            self.raise_if_bad_sheet_by_index(index)
            return self.sheet_names[index]

        def grid(self, sheet, file_rows_needed=None):
            return read_grid(numpy, self.book, sheet, file_rows_needed)

        def rows(self, sheet, **selection):
            return read_grid(numpy, self.book, sheet, **selection)

        def get_sheet_data(self, sheet, convert_float, file_rows_needed=None):
            return self.grid(sheet, file_rows_needed).data(convert_float)

        def parse(self, sheet_name=0, header=0, names=None, index_col=None, usecols=None,
                  squeeze=None, dtype=None, true_values=None, false_values=None, skiprows=None,
                  nrows=None, na_values=None, verbose=False, parse_dates=False,
                  date_parser=None, thousands=None, decimal=".", comment=None, skipfooter=0,
                  convert_float=None, mangle_dupe_cols=True, **kwds):
            arguments = dict(
                names=names, index_col=index_col, squeeze=squeeze, dtype=dtype,
                true_values=true_values, false_values=false_values, na_values=na_values,
                verbose=verbose, parse_dates=parse_dates, date_parser=date_parser,
                thousands=thousands, decimal=decimal, comment=comment, skipfooter=skipfooter,
                convert_float=convert_float, mangle_dupe_cols=mangle_dupe_cols, **kwds)
            everything = dict(arguments, sheet_name=sheet_name, header=header, usecols=usecols,
                              skiprows=skiprows, nrows=nrows)
            if not _fast_arguments(arguments, header, skiprows, nrows):
                return super().parse(**everything)
            if isinstance(sheet_name, list):
                sheets, many = sheet_name, True
            elif sheet_name is None:
                sheets, many = self.sheet_names, True
            else:
                sheets, many = [sheet_name], False
            output = {}
            for sheet in dict.fromkeys(sheets):
                name = (self.get_sheet_by_name(sheet) if isinstance(sheet, str)
                        else self.get_sheet_by_index(sheet))
                frame = fast_frame(pandas, numpy, self, name, header, skiprows, nrows, usecols)
                if frame is None:  # an edge pandas' parser decides
                    frame = super().parse(**dict(everything, sheet_name=sheet))
                output[sheet] = frame
            return output if many else output[sheet_name]

    _Reader = Reader
    return Reader


_Reader = None


def _fast_arguments(arguments, header, skiprows, nrows):
    for name, default in _FAST_DEFAULTS.items():
        value = arguments.get(name, default)
        if value is not default and not (type(value) is type(default) and value == default):
            return False
    if set(arguments) - set(_FAST_DEFAULTS):
        return False
    for value in (header, skiprows, nrows):
        if value is not None and (type(value) is not int or value < 0):
            return False
    return True


def read_grid(numpy, book, sheet, file_rows_needed=None, skip=0, first_row=0, last_row=0):
    """Rows of the sheet, every kind told apart, as a _Grid whose row 0 is
    sheet row skip + 1 (the library keeps the rows before the first value
    when skip counts from sheet row 1). file_rows_needed: the most rows;
    first_row and last_row: exactly those rows instead."""
    options = _arrow.ReadOptions()
    options.flags = _arrow.READ_KINDS | _arrow.SKIP_FROM_FIRST_ROW
    options.skip_rows = skip
    options.max_rows = -1 if file_rows_needed is None else file_rows_needed
    options.first_row, options.last_row = first_row, last_row
    rows, columns, lead = book.read_grid_columns(sheet, options)
    return _Grid(numpy, columns, rows, lead)


def _parser_columns(pandas, row, header, usecols):
    """The column labels pandas' parser makes of a header row (or, without
    a header, of a row as wide as the sheet), with usecols applied."""
    from pandas.io.parsers import TextParser
    # With a data row: without one the parser leaves repeated NaN labels
    # as they are.
    rows = [list(row), [""] * len(row)] if header is not None else [list(row)]
    return TextParser(rows, header=header, usecols=usecols, skip_blank_lines=False).read().columns


def fast_frame(pandas, numpy, reader, sheet, header, skiprows, nrows, usecols):
    """The frame pandas would make, built column by column; None where an
    edge (an empty sheet, no data rows, a bad usecols) is left to pandas'
    parser. The rows before the data (skipped rows and the header) are read
    apart from the data, so that the data columns get their own types."""
    from pandas.io.excel._util import maybe_convert_usecols
    skip = skiprows or 0
    top = skip + (0 if header is None else header)  # the header's row, from 0
    first = top + (0 if header is None else 1)  # the first data row
    file_rows = reader._calc_rows(header, None, skiprows, nrows)
    body = reader.rows(sheet, skip=first,
                       file_rows_needed=None if file_rows is None else file_rows - first)
    if body.rows == 0:
        return None
    # Rows above the data count for the width, as in pandas' grid.
    head = reader.rows(sheet, first_row=1, last_row=first) if first else None
    width = max(body.width, head.width if head is not None else 0)
    stop = body.rows if nrows is None else min(body.rows, nrows)
    if stop == 0:
        return None
    try:
        wanted = maybe_convert_usecols(usecols)
        if header is None:
            probe, parser_header = [""] * width, None
        else:
            probe = [head.objects(p, top, top + 1)[0] for p in range(width)]
            parser_header = 0
        every = _parser_columns(pandas, probe, parser_header, None)
        labels = every if wanted is None else _parser_columns(pandas, probe, parser_header, wanted)
    except Exception:
        return None  # pandas' parser says what is wrong
    if wanted is None:
        positions = range(width)
    else:
        if not every.is_unique:
            return None
        positions = [every.get_loc(label) for label in labels]
        if not positions:
            return None
    data = {}
    for i, position in enumerate(positions):
        column = body.column_rows(position, 0, stop)
        data[i] = _frame.excel_values(pandas, numpy, column, stop)
    frame = pandas.DataFrame(data, index=pandas.RangeIndex(stop), copy=False)
    frame.columns = labels
    return frame


class ExcelFile:
    """A workbook open for reading sheets into DataFrames, as pandas.ExcelFile:

        with tabulon.ExcelFile("book.xlsx") as book:
            book.sheet_names                 # worksheets, in workbook order
            sales = book.parse("Sales")      # read_excel's arguments
            notes = book.parse(2, header=None)

    path_or_buffer: a path (str, bytes or path-like), the workbook's bytes,
    or a binary file-like object. The workbook is opened once; every parse
    reads from it. engine: None or "openpyxl" (whose reading this stands in
    for); storage_options is not supported."""

    def __init__(self, path_or_buffer, engine=None, storage_options=None):
        _check_engine(engine)
        if storage_options is not None:
            raise NotImplementedError("storage_options: tabulon reads local files, bytes and "
                                      "binary file-like objects only")
        _check_source(path_or_buffer)
        self.engine = "openpyxl" if engine is None else engine
        self.io = path_or_buffer
        self.storage_options = None
        self._book = _open(path_or_buffer)
        self._reader = _reader_class()(self._book)

    def __fspath__(self):
        return os.fspath(self.io)

    @property
    def book(self):
        return self._book

    @property
    def sheet_names(self):
        return self._reader.sheet_names

    def parse(self, sheet_name=0, header=0, names=None, index_col=None, usecols=None,
              squeeze=None, converters=None, true_values=None, false_values=None,
              skiprows=None, nrows=None, na_values=None, parse_dates=False, date_parser=None,
              thousands=None, comment=None, skipfooter=0, convert_float=None,
              mangle_dupe_cols=True, **kwds):
        """The sheet (or a dict of sheets) as read_excel reads it."""
        if self._book is None:
            raise ValueError("I/O operation on a closed ExcelFile")
        return self._reader.parse(
            sheet_name=sheet_name, header=header, names=names, index_col=index_col,
            usecols=usecols, squeeze=squeeze, converters=converters, true_values=true_values,
            false_values=false_values, skiprows=skiprows, nrows=nrows, na_values=na_values,
            parse_dates=parse_dates, date_parser=date_parser, thousands=thousands,
            comment=comment, skipfooter=skipfooter, convert_float=convert_float,
            mangle_dupe_cols=mangle_dupe_cols, **kwds)

    def close(self):
        """Closes the workbook; closing twice is harmless."""
        book, self._book = self._book, None
        if book is not None:
            book.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass


def read_excel(io, sheet_name=0, header=0, names=None, index_col=None, usecols=None,
               squeeze=None, dtype=None, engine=None, converters=None, true_values=None,
               false_values=None, skiprows=None, nrows=None, na_values=None,
               keep_default_na=True, na_filter=True, verbose=False, parse_dates=False,
               date_parser=None, thousands=None, decimal=".", comment=None, skipfooter=0,
               convert_float=None, mangle_dupe_cols=True, storage_options=None):
    """A sheet of an .xlsx workbook as a DataFrame, as pandas.read_excel makes
    it (same arguments, defaults and errors): change `pandas.read_excel` to
    `tabulon.read_excel` and get the same frame, faster.

    io: a path, the workbook's bytes, a binary file-like object, or an open
    tabulon.ExcelFile. sheet_name: a position among the worksheets (chart
    sheets are not counted), a name, a list of them, or None for every
    worksheet (then a dict of frames, in workbook order). The other
    arguments are pandas' own. engine may be None or "openpyxl";
    storage_options and URLs raise NotImplementedError."""
    _check_engine(engine)
    should_close = False
    if not isinstance(io, ExcelFile):
        io = ExcelFile(io, engine=engine, storage_options=storage_options)
        should_close = True
    elif storage_options is not None:
        raise NotImplementedError("storage_options: tabulon reads local files, bytes and "
                                  "binary file-like objects only")
    try:
        return io.parse(
            sheet_name=sheet_name, header=header, names=names, index_col=index_col,
            usecols=usecols, squeeze=squeeze, dtype=dtype, converters=converters,
            true_values=true_values, false_values=false_values, skiprows=skiprows,
            nrows=nrows, na_values=na_values, keep_default_na=keep_default_na,
            na_filter=na_filter, verbose=verbose, parse_dates=parse_dates,
            date_parser=date_parser, thousands=thousands, decimal=decimal, comment=comment,
            skipfooter=skipfooter, convert_float=convert_float,
            mangle_dupe_cols=mangle_dupe_cols)
    finally:
        if should_close:
            io.close()


def _open(source):
    """The workbook behind an ExcelFile."""
    from . import _books
    return _books.open_book(source)
