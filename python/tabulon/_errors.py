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


class PasswordProtectedError(WorkbookError):
    """The workbook is password-protected (encrypted); save it without a
    password or decrypt it first."""

    __module__ = "tabulon"


class LegacyXlsError(WorkbookError):
    """The file is a workbook of the legacy binary .xls format."""

    __module__ = "tabulon"


class XlsbError(WorkbookError):
    """The file is a binary .xlsb workbook."""

    __module__ = "tabulon"


class OpenDocumentError(WorkbookError):
    """The file is an OpenDocument spreadsheet (.ods)."""

    __module__ = "tabulon"


class NotASpreadsheetError(WorkbookError):
    """The file is no spreadsheet at all (a text file, a PDF, ...)."""

    __module__ = "tabulon"


class EncodingError(WorkbookError):
    """A part of the workbook is written in an encoding that cannot be read."""

    __module__ = "tabulon"


# The classes above by the library's failure code (enum TabulonFailure).
FORMAT_ERRORS = {12: PasswordProtectedError, 13: LegacyXlsError, 14: XlsbError,
                 15: OpenDocumentError, 16: NotASpreadsheetError, 17: EncodingError}
