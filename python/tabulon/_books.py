"""The workbook an ExcelFile reads from: its worksheets and their columns."""

import os

from ._workbook import Workbook


class Book:
    """A workbook open through a library handle, for ExcelFile: opened
    once, read for as many sheets as asked."""

    def __init__(self, source):
        self.workbook = Workbook(source)
        self.sheet_names = self.workbook.sheet_names

    def read_grid_columns(self, sheet, options):
        """(rows, columns, lead): the sheet's columns read with options, and
        how many sheet rows come before the first row they hold (none: the
        reads here count rows from sheet row 1)."""
        rows, columns = self.workbook.read_columns(sheet, options)
        return rows, columns, 0

    def close(self):
        self.workbook.close()


def open_book(source):
    """A book over a path, the workbook's bytes or a binary file-like
    object; anything else is the ValueError pandas raises for it."""
    if not isinstance(source, (str, bytes, bytearray, memoryview, os.PathLike)) and \
            not callable(getattr(source, "read", None)):
        raise ValueError("Must explicitly set engine if not passing in buffer or path for io.")
    return Book(source)
