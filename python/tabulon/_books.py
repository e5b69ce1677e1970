"""The workbook an ExcelFile reads from: its worksheets and their columns."""

import ctypes
import io
import os
import tempfile

from . import _arrow, _library, _text


class PathBook:
    """A workbook on disk, read through the library's one-workbook calls."""

    def __init__(self, path, temporary=False):
        self.path = path
        self.temporary = temporary
        with _library.open_workbook(path) as lib:
            self.sheet_names = _text.decode_names(lib.listSheets())

    def read_grid_columns(self, sheet, options):
        """(rows, columns, lead): the sheet's columns read with options, and
        how many sheet rows come before the first row they hold."""
        import numpy
        schema, array = _arrow.ArrowSchema(), _arrow.ArrowArray()
        try:
            with _library.open_workbook(self.path) as lib:
                if lib.readColumns(_text.encode_name(sheet), ctypes.byref(options),
                                   ctypes.byref(schema), ctypes.byref(array)) != 0:
                    code, reason = _library.last_failure(lib)
                    raise _library.failure_error(code, reason, self.path, "sheet %r of %s cannot "
                                                 "be read" % (sheet, os.fsdecode(self.path)),
                                                 self.sheet_names)
            rows, columns = _arrow.take_columns(numpy, schema, array)
        finally:
            if schema.release or array.release:
                with _library.locked_library():
                    _arrow.release(array)
                    _arrow.release(schema)
        return rows, columns, 0

    def close(self):
        if self.temporary and self.path is not None:
            os.unlink(self.path)
        self.path = None


def _bytes_of(source):
    if isinstance(source, (bytes, bytearray, memoryview)):
        return bytes(source)
    if hasattr(source, "read"):
        if hasattr(source, "seek"):
            source.seek(0)
        data = source.read()
        if isinstance(data, str):
            raise TypeError("the file-like object gives text; open the workbook in binary mode")
        return data
    return None


def open_book(source):
    """A book over a path, the workbook's bytes or a binary file-like object."""
    if isinstance(source, (str, bytes, os.PathLike)) and not isinstance(source, bytes):
        return PathBook(os.fspath(source))
    data = _bytes_of(source)
    if data is None:
        raise ValueError("Must explicitly set engine if not passing in buffer or path for io.")
    handle, path = tempfile.mkstemp(suffix=".xlsx")
    with io.open(handle, "wb") as out:
        out.write(data)
    try:
        return PathBook(path, temporary=True)
    except BaseException:
        os.unlink(path)
        raise
