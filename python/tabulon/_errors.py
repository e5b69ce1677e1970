"""The exceptions the module raises besides the OSErrors of reading a file."""


class TabulonError(Exception):
    """A workbook or sheet cannot be read, or the library cannot be loaded."""

    __module__ = "tabulon"  # where users import it from


class WorkbookError(TabulonError):
    """The file is not a workbook the library can load; `path` names it."""

    __module__ = "tabulon"

    def __init__(self, message, path):
        super().__init__(message)
        self.path = path

    def __reduce__(self):  # pickled by process pools
        return (type(self), (str(self), self.path))


class UnknownSheetError(TabulonError, ValueError):
    """The workbook has no such sheet; `sheets` lists the sheets it has."""

    __module__ = "tabulon"

    def __init__(self, message, sheets):
        super().__init__(message)
        self.sheets = sheets

    def __reduce__(self):
        return (type(self), (str(self), self.sheets))
