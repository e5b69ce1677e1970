"""An open workbook: `tabulon.open(source)`.

A Workbook holds one of the library's workbook handles. Nothing about it
changes once open, so any number of threads may read it at once, and reads
of different workbooks run in parallel: the library's calls release the
GIL, and nothing here takes a lock around them.
"""

import ctypes
import os
import weakref

from . import _arrow, _frame, _library, _text
from ._errors import UnknownSheetError

KINDS = {0: "worksheet", 1: "chart", 2: "dialog", 3: "macro"}
VISIBILITY = {0: "visible", 1: "hidden", 2: "veryHidden"}


def _source(source):
    """(path, data, shown): a path (str or path-like) with data None, or the
    workbook's bytes (a bytes object) with path None; shown names the source
    in messages."""
    if isinstance(source, str) or isinstance(source, os.PathLike):
        path = os.fspath(source)
        return path, None, os.fsdecode(path)
    if isinstance(source, bytes):
        return None, source, "<bytes>"
    if isinstance(source, (bytearray, memoryview)):
        # Copied: the caller may change its buffer while the workbook is open.
        return None, memoryview(source).tobytes(), "<%s>" % type(source).__name__
    read = getattr(source, "read", None)
    if callable(read):
        data = read()
        if isinstance(data, str):
            raise TypeError("the file-like source gave text: open it in binary mode ('rb')")
        if not isinstance(data, (bytes, bytearray, memoryview)):
            raise TypeError("the file-like source's read() gave %s, not bytes" % type(data).__name__)
        name = getattr(source, "name", None)
        shown = os.fsdecode(name) if isinstance(name, (str, bytes)) else "<%s>" % type(source).__name__
        return None, bytes(data), shown
    raise TypeError("a workbook source is a path (str or path-like), bytes, bytearray, memoryview "
                    "or a binary file-like object, not %s" % type(source).__name__)


def _close(lib, handle, data):
    # data (borrowed by the library) is kept alive by this call's arguments
    # until the handle is closed.
    lib.tabulonClose(handle, None)


class Workbook:
    """An open workbook. Use it as a context manager, or call close();
    a workbook that is no longer referenced is closed by the collector.

    sheet_names: the names of the worksheets, in workbook order (chart,
    dialog and macro sheets left out, as pandas counts sheets). sheets:
    every sheet as (name, kind, visibility): kind "worksheet", "chart",
    "dialog" or "macro"; visibility "visible", "hidden" or "veryHidden".
    name: how messages name the source (its path, or "<bytes>" and the
    like).

    A sheet is named by its exact name, by its position among the
    worksheets (0 is the first), or None for the first worksheet.
    """

    def __init__(self, source):
        path, data, shown = _source(source)
        lib = _library.library()
        status = _library.Status()
        if path is not None:
            _library.check_file(path)
            handle = lib.tabulonOpen(os.fsencode(path), ctypes.byref(status))
        else:
            # The bytes object cannot change: the library reads it in place.
            handle = lib.tabulonOpenMemory(ctypes.c_char_p(data), len(data), _library.BORROW,
                                           ctypes.byref(status))
        if not handle:
            code, text = _library.status_failure(status)
            raise _library.open_error(code, text, path, shown)
        self.name = shown
        self._lib = lib
        self._handle = handle
        self._closer = weakref.finalize(self, _close, lib, handle, data)
        try:
            self.sheets = self._read_sheets()
        except BaseException:
            self.close()
            raise
        self.sheet_names = [name for name, kind, _ in self.sheets if kind == "worksheet"]

    def _read_sheets(self):
        status = _library.Status()
        count = self._lib.tabulonSheetCount(self._handle, ctypes.byref(status))
        if count < 0:
            self._fail(status, "the sheets of %s cannot be listed" % self.name)
        sheets = []
        info = _library.SheetInfo()
        for index in range(count):
            if self._lib.tabulonSheetInfo(self._handle, index, ctypes.byref(info), ctypes.byref(status)) != 0:
                self._fail(status, "the sheets of %s cannot be listed" % self.name)
            name = info.name.decode("utf-8", _text.NAME_ERRORS)
            sheets.append((name, KINDS.get(info.kind, "worksheet"), VISIBILITY.get(info.visibility, "visible")))
        return sheets

    # ---- lifetime

    @property
    def closed(self):
        return not self._closer.alive

    def close(self):
        """Closes the workbook (again: nothing). Reads running in other
        threads finish first."""
        self._closer()

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()

    def __repr__(self):
        return "<tabulon.Workbook %r%s>" % (self.name, " closed" if self.closed else "")

    def _open_handle(self):
        if self.closed:
            raise ValueError("the workbook %s is closed" % self.name)
        return self._handle

    def _fail(self, status, what, sheets=()):
        code, text = _library.status_failure(status)
        if code == _library.INVALID_ARGUMENT and self.closed:
            raise ValueError("the workbook %s is closed" % self.name)
        raise _library.failure_error(code, text, None, what, sheets)

    # ---- choosing a sheet

    def _index(self, sheet):
        """The position among all sheets of the sheet asked for, and its name."""
        names = self.sheet_names
        if sheet is None:
            if not names:
                raise UnknownSheetError("%s: the workbook has no sheets" % self.name, names)
            sheet = 0
        if isinstance(sheet, int) and not isinstance(sheet, bool):
            if 0 <= sheet < len(names):
                worksheets = [i for i, (_, kind, _) in enumerate(self.sheets) if kind == "worksheet"]
                return worksheets[sheet], names[sheet]
            raise UnknownSheetError("%s has no sheet number %d (counted from 0); its sheets: %s"
                                    % (self.name, sheet, _listed(names)), names)
        if not isinstance(sheet, str):
            raise TypeError("sheet must be a name (str), a position (int) or None, not %s"
                            % type(sheet).__name__)
        for index, (name, _, _) in enumerate(self.sheets):
            if name == sheet:
                return index, name
        raise UnknownSheetError("no sheet %r in %s; its sheets: %s"
                                % (sheet, self.name, _listed(names)), names)

    # ---- reading

    def read_text(self, sheet=None, *, all_dates=False):
        """The sheet's text exactly as the library renders it: one line per
        row, every field ended by ";". all_dates: numbers of custom date
        formats are written as dates too (else only built-in ones)."""
        index, name = self._index(sheet)
        handle = self._open_handle()
        status = _library.Status()
        options = _library.TextOptions(_library.TEXT_ALL_DATES if all_dates else 0, 0)
        length = ctypes.c_size_t(0)
        address = self._lib.tabulonReadText(handle, None, index, ctypes.byref(options),
                                            ctypes.byref(length), ctypes.byref(status))
        if not address:
            self._fail(status, "sheet %r of %s cannot be read" % (name, self.name), self.sheet_names)
        try:
            data = ctypes.string_at(address, length.value)
        finally:
            self._lib.tabulonFree(address)
        return data.decode("utf-8", _text.TEXT_ERRORS)

    def read_sheet(self, sheet=None):
        """The sheet as a list of rows, each a list of str, one per column."""
        return _text.split_rows(self.read_text(sheet))

    def read_columns(self, sheet, options):
        """The sheet's typed columns as the library hands them out, copied
        into numpy arrays: (row count, [_arrow.Column]). options: an
        _arrow.ReadOptions. Needs numpy."""
        import numpy

        index, name = self._index(sheet)
        handle = self._open_handle()
        status = _library.Status()
        schema, array = _arrow.ArrowSchema(), _arrow.ArrowArray()
        try:
            if self._lib.tabulonReadColumns(handle, None, index, ctypes.byref(options), ctypes.byref(schema),
                                            ctypes.byref(array), ctypes.byref(status)) != 0:
                self._fail(status, "sheet %r of %s cannot be read" % (name, self.name), self.sheet_names)
            return _arrow.take_columns(numpy, schema, array)
        finally:
            if schema.release or array.release:
                _arrow.release(array)
                _arrow.release(schema)

    def read_frame(self, sheet=None, header=True, *, skiprows=0, nrows=None, dtype=None):
        """The sheet as a pandas DataFrame of typed columns: see
        tabulon.read_frame."""
        pandas = _frame.import_pandas()  # fail before reading a large sheet
        import numpy  # pandas brings it

        header = _frame.header_flag(header)
        skip_rows, max_rows = _frame.row_options(skiprows, nrows)
        options = _arrow.ReadOptions(skip_rows=skip_rows, max_rows=max_rows, header=1 if header else 0)
        rows, columns = self.read_columns(sheet, options)
        return _frame.to_frame(pandas, numpy, rows, columns, header, dtype)


def _listed(names):
    return ", ".join(repr(name) for name in names) or "none"


def open_workbook(source):
    """The Workbook of source: a path, bytes, bytearray, memoryview or a
    binary file-like object (read to its end from where it stands)."""
    return Workbook(source)

