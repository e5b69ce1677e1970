"""tabulon.read_excel and tabulon.ExcelFile against pandas.read_excel with
openpyxl: the same frames (dtypes and index included) for each argument on
small workbooks written by openpyxl, the same exception types for bad
arguments, and sheet by sheet on the real corpus where it is present."""
import datetime
import io
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest
import warnings

import tabulon

try:
    import numpy
    import openpyxl
    import pandas
    import pandas.testing
except ImportError:
    numpy = openpyxl = pandas = None

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("TABULON_SOURCE_DIR", os.path.join(HERE, os.pardir, os.pardir))
CORPUS = os.environ.get("TABULON_CORPUS_DIR") or os.path.join(SOURCE, os.pardir, "shared", "corpus", "real")

D = datetime.datetime
ERROR = ("error", "#N/A")  # a cell holding an error value


def write_workbook(path, sheets):
    """sheets: name -> {cell reference: value} (ERROR-like tuples are error
    cells, (value, format) a value in a number format)."""
    book = openpyxl.Workbook()
    book.remove(book.active)
    for name, cells in sheets.items():
        sheet = book.create_sheet(name)
        for reference, value in cells.items():
            cell = sheet[reference]
            if isinstance(value, tuple) and value[0] == "error":
                cell.value = value[1]
                cell.data_type = "e"
            elif isinstance(value, tuple):
                cell.value, cell.number_format = value
            else:
                cell.value = value
    book.save(path)


def rows_of(header, *rows, corner="A1"):
    """Cells of a table whose top-left cell is corner."""
    column0 = ord(corner[0]) - 65
    row0 = int(corner[1:])
    cells = {}
    for r, row in enumerate((header,) + rows):
        for c, value in enumerate(row):
            if value is not None:
                cells["%s%d" % (chr(65 + column0 + c), row0 + r)] = value
    return cells


# Each sheet shows some of pandas' rules.
SHEETS = {
    "Types": rows_of(
        ["int", "float", "whole+frac", "bool", "bool gap", "date", "date gap", "text",
         "text gap", "numeric text", "na text", "empty", "mixed", "yes/no"],
        [1, 1.5, 1, True, True, D(2020, 1, 1), D(2020, 1, 1), "a", "a", "1", "NA", None, 1, "yes"],
        [2, 2.25, 2.5, False, None, D(2020, 1, 2, 12, 30), None, "b", None, "2", "x", None,
         "one", "no"],
        [3, -4.0, 3, True, False, D(1999, 12, 31), D(2021, 5, 6), "c,d", "", "3.5", "nan",
         None, D(2020, 1, 1), "yes"],
        [4, 1e300, 4, False, True, D(2024, 2, 29), D(2022, 1, 1), "#x", "e", "4", "", None,
         2.5, "no"],
    ),
    "Offset": rows_of(["a", "b", "c"], [1, "x", 2.5], [2, "y", 3.5], [3, "z", None],
                      corner="C3"),
    "Gaps": rows_of(
        ["name", "name", None, 7, 2.5, D(2020, 1, 1), "name.1"],
        [1, 2, 3, 4, 5, 6, 7],
        [None, None, None, None, None, None, None],
        [10, 20, 30, 40, 50, 60, 70],
        ["# comment", "1,000", "2,5", "x", None, None, None],
        [11, 21, 31, 41, 51, 61, 71],
    ),
    "Levels": rows_of(
        ["", "first", None, "second", None],
        ["key", "a", "b", "a", "b"],
        ["k1", 1, 2, 3, 4],
        [None, 5, 6, 7, 8],
        ["k2", 9, 10, 11, 12],
    ),
    "Errors": rows_of(["n", "e", "t"], [1, ERROR, "a"], [ERROR, 2.5, ("error", "#DIV/0!")],
                      [3, 4, "b"]),
    "Empty": {},
}

# Argument sets, each compared on every sheet (None: the sheet's default).
ARGUMENTS = [
    {}, {"header": None}, {"header": 1}, {"header": 2}, {"skiprows": 1}, {"skiprows": [0, 2]},
    {"skiprows": lambda i: i == 1}, {"nrows": 2}, {"nrows": 0}, {"skiprows": 2, "nrows": 1},
    {"header": None, "nrows": 3}, {"usecols": "A:B,D"}, {"usecols": [0, 2]},
    {"usecols": lambda name: str(name).startswith("n")}, {"usecols": ["name", "name.2"]},
    {"index_col": 0}, {"index_col": [0, 1]}, {"header": [0, 1]}, {"header": [0, 1], "index_col": 0},
    {"names": ["p", "q", "r"]}, {"dtype": str}, {"dtype": {"int": "float64", "text": "category"}},
    {"dtype": object}, {"converters": {0: str}}, {"true_values": ["yes"], "false_values": ["no"]},
    {"na_values": ["x", "a"]}, {"na_values": {"text": ["b"]}}, {"keep_default_na": False},
    {"keep_default_na": False, "na_values": ["x"]}, {"na_filter": False},
    {"parse_dates": [0]}, {"parse_dates": ["text"]}, {"thousands": ","}, {"decimal": ","},
    {"comment": "#"}, {"skipfooter": 1}, {"skipfooter": 10}, {"squeeze": True},
    {"convert_float": False}, {"mangle_dupe_cols": False},
]


def pandas_read(*args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return pandas.read_excel(*args, engine="openpyxl", **kwargs)


def ours(*args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return tabulon.read_excel(*args, **kwargs)


def outcome(reader, *args, **kwargs):
    """The frame (or dict of frames, or Series) read, or the exception type."""
    try:
        return reader(*args, **kwargs)
    except Exception as error:  # the type is what is compared
        return type(error)


def assert_same(test, expected, got, context):
    if isinstance(expected, type):
        test.assertIsInstance(got, type, "%s: pandas raises %s, tabulon gives a frame"
                              % (context, expected.__name__))
        test.assertTrue(issubclass(got, expected), "%s: pandas raises %s, tabulon %s"
                        % (context, expected.__name__, got.__name__))
        return
    test.assertNotIsInstance(got, type, "%s: tabulon raises %s" % (context, got))
    if isinstance(expected, dict):
        test.assertEqual(list(got), list(expected), context)
        for key in expected:
            assert_same(test, expected[key], got[key], "%s, sheet %r" % (context, key))
        return
    try:
        if isinstance(expected, pandas.Series):
            pandas.testing.assert_series_equal(got, expected)
        else:
            pandas.testing.assert_frame_equal(got, expected)
    except AssertionError as error:
        test.fail("%s:\n%s\npandas:\n%s\ntabulon:\n%s" % (context, error, expected, got))


@unittest.skipIf(pandas is None, "needs pandas and openpyxl")
class Fixtures(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.path = os.path.join(cls.dir.name, "rules.xlsx")
        write_workbook(cls.path, SHEETS)

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_each_argument_on_each_sheet(self):
        for sheet in SHEETS:
            for arguments in ARGUMENTS:
                context = "sheet %r, %r" % (sheet, arguments)
                with self.subTest(sheet=sheet, arguments=repr(arguments)):
                    expected = outcome(pandas_read, self.path, sheet_name=sheet, **arguments)
                    got = outcome(ours, self.path, sheet_name=sheet, **arguments)
                    assert_same(self, expected, got, context)

    def test_sheet_choices(self):
        for choice in (0, 1, -1, "Gaps", None, [0, "Gaps"], [1, 1], ["Empty"], 99, "Nope", [0, 99],
                       1.5):
            with self.subTest(sheet_name=choice):
                assert_same(self, outcome(pandas_read, self.path, sheet_name=choice),
                            outcome(ours, self.path, sheet_name=choice), repr(choice))

    def test_bad_arguments_raise_what_pandas_raises(self):
        cases = [
            {"nrows": "5"}, {"nrows": -1}, {"nrows": 1.5}, {"header": True}, {"header": -1},
            {"header": "0"}, {"header": [0, "1"]}, {"skiprows": -1}, {"usecols": 3},
            {"usecols": [0, "a"]}, {"usecols": [99]}, {"usecols": ["nothere"]}, {"usecols": "A:"},
            {"index_col": 99}, {"names": ["a", "a"]}, {"dtype": {"int": "nonsense"}},
            {"dtype": {"text": int}}, {"converters": {"int": 1}}, {"skipfooter": -1},
            {"skipfooter": 1, "nrows": 1}, {"decimal": ""}, {"thousands": "."},
            {"comment": "##"}, {"parse_dates": "yes"}, {"squeeze": "no"},
        ]
        for arguments in cases:
            with self.subTest(arguments=repr(arguments)):
                assert_same(self, outcome(pandas_read, self.path, sheet_name="Types", **arguments),
                            outcome(ours, self.path, sheet_name="Types", **arguments),
                            repr(arguments))

    def test_unsupported_arguments_name_themselves(self):
        for arguments, named in [({"engine": "xlrd"}, "engine"),
                                 ({"storage_options": {"anon": True}}, "storage_options")]:
            with self.subTest(named=named), self.assertRaisesRegex(NotImplementedError, named):
                tabulon.read_excel(self.path, **arguments)
        with self.assertRaisesRegex(NotImplementedError, "URL"):
            tabulon.read_excel("https://example.org/book.xlsx")
        # engine="openpyxl" is what this stands in for.
        assert_same(self, pandas_read(self.path), ours(self.path, engine="openpyxl"), "openpyxl")

    def test_sources(self):
        expected = pandas_read(self.path, sheet_name="Types")
        with open(self.path, "rb") as f:
            data = f.read()
        with open(self.path, "rb") as f:
            sources = [self.path, pathlib.Path(self.path), data,
                       bytearray(data), memoryview(data), io.BytesIO(data), f]
            for source in sources:
                with self.subTest(source=type(source).__name__):
                    assert_same(self, expected, ours(source, sheet_name="Types"),
                                type(source).__name__)
        with self.assertRaises(FileNotFoundError):
            tabulon.read_excel(os.path.join(self.dir.name, "missing.xlsx"))
        with self.assertRaises(tabulon.TabulonError):
            tabulon.read_excel(b"not a workbook")
        with self.assertRaises(ValueError):
            tabulon.read_excel(12)

    def test_excel_file(self):
        with tabulon.ExcelFile(self.path) as book:
            self.assertEqual(book.sheet_names, list(SHEETS))
            assert_same(self, pandas_read(self.path, sheet_name="Gaps", header=None),
                        book.parse("Gaps", header=None), "parse")
            assert_same(self, pandas_read(self.path, sheet_name=1),
                        tabulon.read_excel(book, sheet_name=1), "read_excel of an ExcelFile")
            assert_same(self, pandas_read(self.path, sheet_name=None), book.parse(None), "all")
        with self.assertRaises(ValueError):
            book.parse(0)
        book.close()  # twice is harmless
        with pandas.ExcelFile(self.path, engine="openpyxl") as theirs:
            self.assertEqual(theirs.sheet_names, list(SHEETS))


@unittest.skipIf(pandas is None, "needs pandas and openpyxl")
class Kinds(unittest.TestCase):
    """Cells whose reading differs between openpyxl and tabulon by design."""

    def test_times_durations_and_dates(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "times.xlsx")
            write_workbook(path, {"T": rows_of(
                ["time", "elapsed", "stamp"],
                [(0.5, "hh:mm:ss"), (1.25, "[h]:mm:ss"), (D(2020, 1, 1, 6), "yyyy-mm-dd hh:mm")],
                [(0.75, "hh:mm"), (0.5, "[h]:mm:ss"), (D(2020, 1, 2), "dd/mm/yy")])})
            frame = tabulon.read_excel(path)
        self.assertEqual(frame["time"].tolist(), [datetime.time(12), datetime.time(18)])
        self.assertEqual(str(frame["elapsed"].dtype), "timedelta64[ns]")
        self.assertEqual(frame["elapsed"].tolist(),
                         [pandas.Timedelta(hours=30), pandas.Timedelta(hours=12)])
        self.assertEqual(str(frame["stamp"].dtype), "datetime64[ns]")


# Sheets of the corpus where openpyxl reads cells wrongly, so pandas' frame
# is not the one to match: (file, sheet) -> why. The frames of these sheets
# are still checked: the fast path against pandas' parser over the same cells.
ESCAPES = "openpyxl leaves the _xHHHH_ escapes of shared strings as they stand (_x000D_ for a carriage return)"
ELAPSED = "openpyxl takes numbers of elapsed-time formats ([h]:mm:ss) for points in time; they are durations"
BELOW_ONE = ("openpyxl turns a number below 1 in a format with a date part into a time of day; "
             "the sheet shows the date-time 1899-12-31 (1900-01-00)")
NEGATIVE = "openpyxl counts serials below 0 from 1899-12-30; the serial scheme (0 is 1899-12-31) gives a day later"
NO_STYLES = ("openpyxl looks for xl/styles.xml only; this workbook's relationships name its styles "
             "elsewhere, so openpyxl misses the date formats")
CORPUS_DIFFERENCES = {
    ("calamine__date_1904.xlsx", "Sheet1"): ELAPSED,
    ("calamine__date_iso.xlsx", "Sheet"):
        "openpyxl gives a date-only ISO cell as datetime.date (an object column); it is a date-time like "
        "every other date; and a time-only ISO cell (10:10:10) has no date to give",
    ("calamine__has_x000D_.xlsx", "Sheet1"): ESCAPES,
    ("closedxml__DataTypes.xlsx", "Data Types"): ELAPSED,
    ("exceldatareader__issue_283_TimeSpan.xlsx", "Sheet1"): ELAPSED + "; " + BELOW_ONE,
    ("phpspreadsheet__explicitdate.xlsx", "Sheet"):
        "tabulon's side: the library gives ISO date-time cells to the second (23:44:52 for 23:44:51.894)",
    ("poi__60289_access.xlsx", "TABLE"): ESCAPES,
    ("poi__bug60858.xlsx", "Arbeitszeitcheck_2.3"): NEGATIVE,
    ("poi__duplicate-filename.xlsx", "v1"):
        "the archive holds two members named xl/worksheets/sheet1.xml; openpyxl reads the first, the library the last",
    ("poi__sample-beta.xlsx", "Sheet1"): "openpyxl reads no cells in the pre-standard namespace of Excel 2007's beta",
    ("readxl__los-angeles-arrests.xlsx", "Sheet1"): NO_STYLES,
    ("readxl__new_line_errors.xlsx", "Blad1"): ESCAPES,
    ("roo__x000D.xlsx", "情人节活动"): ESCAPES,
    ("sheetjs__LONumbers.xlsx", "Sheet1"): NEGATIVE,
    ("sheetjs__crlf.xlsx", "Sheet1"): ESCAPES,
    ("sheetjs__formula_stress_test.xlsx", "Finance"): BELOW_ONE,
    ("sheetjs__formula_stress_test.xlsx", "Text"): ESCAPES,
    ("sheetjs__wtf_path.xlsx", "SheetJS"): NO_STYLES,
}
# Workbooks whose list of worksheets differs from openpyxl's: file -> why.
MISSING_PART = ("the workbook names a sheet whose part the archive lacks: openpyxl leaves it out of its "
                "list, tabulon lists it and reading it raises TabulonError")
DIALOG = "openpyxl counts a dialog sheet as a worksheet; it holds a dialog, not cells"
SHEET_LIST_DIFFERENCES = {
    "closedxml__DialogSheet.xlsx": DIALOG,
    "exceldatareader__strict_TestOpen.xlsx": "openpyxl finds no sheets in a workbook of the strict namespaces",
    "miniexcel__TestIssue459.xlsx": MISSING_PART,
    "tealeg__badfile_noWorksheets.xlsx": MISSING_PART,
    "tidyxl__enron-nested.xlsx": MISSING_PART + "; " + DIALOG,
}
# Cells of a sheet's extent beyond which the corpus check leaves it out.
LARGEST_GRID = 5_000_000


def general_parse(book, sheet, **arguments):
    """The frame of pandas' own parse over tabulon's cells (no fast path)."""
    from pandas.io.excel._base import BaseExcelReader
    return BaseExcelReader.parse(book._reader, sheet_name=sheet, **arguments)


# The corpus check takes minutes: the test python_read_excel_corpus runs it
# on its own (TABULON_EXCEL_CORPUS=1), not the module's quick run.
@unittest.skipIf(pandas is None, "needs pandas and openpyxl")
@unittest.skipUnless(os.path.isdir(CORPUS), "needs the corpus of real workbooks beside the tree")
@unittest.skipUnless(os.environ.get("TABULON_EXCEL_CORPUS"), "run by python_read_excel_corpus")
class Corpus(unittest.TestCase):
    def test_sheet_by_sheet(self):
        compared = 0
        for name in sorted(os.listdir(CORPUS)):
            if not name.endswith(".xlsx"):
                continue
            path = os.path.join(CORPUS, name)
            try:
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    theirs = pandas.ExcelFile(path, engine="openpyxl")
                    sheets = [s.title for s in theirs.book.worksheets]
            except Exception:
                theirs, sheets = None, None  # openpyxl cannot open it
            try:
                book = tabulon.ExcelFile(path)
            except tabulon.TabulonError:
                continue  # not a workbook the library loads (the corpus has damaged ones)
            with book:
                if sheets is not None and name not in SHEET_LIST_DIFFERENCES:
                    with self.subTest(file=name):
                        self.assertEqual(book.sheet_names, sheets, "worksheets of " + name)
                for sheet in book.sheet_names:
                    try:
                        grid = book._reader.grid(sheet)
                        if grid.rows * grid.width > LARGEST_GRID:
                            continue  # pandas would hold every cell of the extent (XFD1048576 ...)
                    except tabulon.TabulonError:
                        pass  # compared below: pandas must fail too
                    with self.subTest(file=name, sheet=sheet):
                        got = outcome(book.parse, sheet)
                        for arguments in ({}, {"header": None}):
                            assert_same(self, outcome(general_parse, book, sheet, **arguments),
                                        outcome(book.parse, sheet, **arguments),
                                        "%s, sheet %r, %r: fast path" % (name, sheet, arguments))
                        if theirs is None or sheet not in sheets or (name, sheet) in CORPUS_DIFFERENCES:
                            continue
                        expected = outcome(lambda: _quiet(theirs.parse, sheet))
                        if isinstance(expected, type):
                            continue  # openpyxl fails on the sheet
                        assert_same(self, expected, got, "%s, sheet %r" % (name, sheet))
                        compared += 1
            if theirs is not None:
                theirs.close()
        self.assertGreater(compared, 0)


@unittest.skipUnless(os.environ.get("TABULON_LIBRARY"), "needs TABULON_LIBRARY (the library to bundle)")
class Package(unittest.TestCase):
    def test_pip_installs_the_folder_into_a_virtual_environment(self):
        python = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
        module = os.path.dirname(os.path.dirname(os.path.abspath(tabulon.__file__)))
        with tempfile.TemporaryDirectory() as folder:
            venv = os.path.join(folder, "venv")
            made = subprocess.run([python, "-m", "venv", "--system-site-packages", venv],
                                  capture_output=True, text=True)
            if made.returncode != 0:
                self.skipTest("no venv module: %s" % made.stderr.strip()[-200:])
            inside = os.path.join(venv, "bin", "python")
            # PIP_NO_INDEX: the build must not need anything from a network.
            environment = dict(os.environ, PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1")
            environment.pop("PYTHONPATH", None)
            installed = subprocess.run([inside, "-m", "pip", "install", module], cwd=folder,
                                       env=environment, capture_output=True, text=True)
            self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
            environment.pop("TABULON_LIBRARY")
            check = ("import sys, tabulon; print(tabulon.library_path()); "
                     "print(tabulon.read_excel(sys.argv[1]).shape if %r else (6, 6))"
                     % (pandas is not None))
            result = subprocess.run([inside, "-c", check, os.path.join(SOURCE, "examples", "sample.xlsx")],
                                    cwd=folder, env=environment, capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            found, shape = result.stdout.splitlines()
            self.assertTrue(found.startswith(os.path.realpath(venv)) or found.startswith(venv), found)
            self.assertEqual(found.rsplit(os.sep, 2)[1:], ["tabulon", "tabulon.so"])
            self.assertEqual(shape, "(6, 6)")


def _quiet(function, *args):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return function(*args)


if __name__ == "__main__":
    unittest.main()
