"""The Python module over the built library (TABULON_LIBRARY), and the
library's sheet listing as a host sees it."""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest
import zipfile

import tabulon
from tabulon import _library

SOURCE = os.environ.get("TABULON_SOURCE_DIR",
                        os.path.join(os.path.dirname(__file__), os.pardir, os.pardir))
SAMPLE = os.path.join(SOURCE, "examples", "sample.xlsx")
SALES = [
    ["Date", "Region", "Product", "Units", "Unit price", "Paid"],
    ["2024-01-01 00:00:00", "North", "Notebook", "120", "2.5", "1"],
    ["2024-01-02 00:00:00", "South", "Pencil", "800", "0.35", "1"],
    ["2024-01-03 00:00:00", "East", "Eraser", "250", "0.8", "0"],
    ["2024-01-06 00:00:00", "West", "Notebook", "75", "2.5", "1"],
    ["2024-01-07 00:00:00", "North", "Stapler", "12", "14.99", ""],
]

try:
    import pandas
except ImportError:
    pandas = None

DATE_STYLES = ('<styleSheet><cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="14"/>'
               '</cellXfs></styleSheet>')


def write_book(path, sheets, styles=DATE_STYLES):
    """sheets: sheet name (str, or bytes taken as they are) -> rows, a list
    of lists of cells: str or bytes (inline text), int/float (number),
    ("date", serial), None (absent); or None for a sheet without a part."""
    def raw(text):
        return text if isinstance(text, bytes) else text.encode()

    entries, parts = b"", {}
    for number, (name, rows) in enumerate(sheets.items(), start=1):
        entries += b'<sheet name="%s" sheetId="%d"/>' % (raw(name), number)
        if rows is None:
            continue
        xml = b""
        for r, row in enumerate(rows, start=1):
            cells = b""
            for c, value in enumerate(row):
                ref = b"%c%d" % (65 + c, r)
                if value is None:
                    continue
                if isinstance(value, tuple):
                    cells += b'<c r="%s" s="1"><v>%r</v></c>' % (ref, value[1])
                elif isinstance(value, (str, bytes)):
                    cells += (b'<c r="%s" t="inlineStr"><is><t xml:space="preserve">%s</t></is></c>'
                              % (ref, raw(value)))
                else:
                    cells += b'<c r="%s"><v>%r</v></c>' % (ref, value)
            xml += b'<row r="%d">%s</row>' % (r, cells)
        parts["xl/worksheets/sheet%d.xml" % number] = (
            b"<worksheet><sheetData>%s</sheetData></worksheet>" % xml)
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("xl/workbook.xml", b"<workbook><sheets>%s</sheets></workbook>" % entries)
        z.writestr("xl/styles.xml", styles)
        for name, data in parts.items():
            z.writestr(name, data)


class TempDir(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def book(self, sheets, name="book.xlsx", **options):
        path = os.path.join(self.dir, name)
        write_book(path, sheets, **options)
        return path


class ListSheets(TempDir):
    """The listSheets entry point itself."""

    def test_names_in_order_and_each_one_renders(self):
        lib = _library.library()
        names = ["Zeta", "Übersicht", "A&amp;B", "two words", "1"]
        path = self.book({name: [[1]] for name in names})
        with _library.lock():
            lib.closeExcel()
            self.assertEqual(lib.listSheets(), b"")
            self.assertEqual(lib.openExcel(path.encode()), 0)
            listing = lib.listSheets()
            self.assertTrue(listing.endswith(b"\n"))
            for name in listing.decode().split("\n")[:-1]:
                self.assertEqual(_text_of(lib, name), "1;\n", name)
            lib.closeExcel()
            self.assertEqual(lib.listSheets(), b"")
        self.assertEqual(len(listing.decode().split("\n")[:-1]), len(names))
        self.assertEqual(listing.decode().split("\n")[0], "Zeta")
        self.assertEqual(listing.decode().split("\n")[1], "Übersicht")

    def test_a_second_workbook_replaces_the_list(self):
        lib = _library.library()
        first = self.book({"One": [[1]], "Two": [[2]]}, name="first.xlsx")
        second = self.book({"Three": [[3]]}, name="second.xlsx")
        with _library.lock():
            self.assertEqual(lib.openExcel(first.encode()), 0)
            self.assertEqual(lib.listSheets(), b"One\nTwo\n")
            self.assertEqual(lib.openExcel(second.encode()), 0)
            self.assertEqual(lib.listSheets(), b"Three\n")
            lib.closeExcel()


def _text_of(lib, name):
    import ctypes
    return ctypes.string_at(lib.getSheetData(name.encode())).decode()


class ReadSheet(TempDir):
    def test_sample(self):
        self.assertEqual(tabulon.sheet_names(SAMPLE), ["Sales", "Übersicht", "Notes"])
        self.assertEqual(tabulon.read_sheet(SAMPLE), SALES)
        self.assertEqual(tabulon.read_sheet(SAMPLE, "Sales"), SALES)
        self.assertEqual(tabulon.read_sheet(SAMPLE, 0), SALES)
        self.assertEqual(tabulon.read_sheet(SAMPLE, 1)[1], ["North", "Åsa Lindqvist", "2023-12-30 09:00:00"])
        self.assertEqual(tabulon.read_text(SAMPLE, "Notes"),
                         "Figures are illustrative.;\nPrices in EURunits per day.;\n")

    def test_paths_of_every_kind(self):
        for path in [SAMPLE, pathlib.Path(SAMPLE), os.fsencode(SAMPLE)]:
            with self.subTest(path=type(path).__name__):
                self.assertEqual(tabulon.read_sheet(path), SALES)

    def test_cells_with_line_feeds_stay_in_their_field(self):
        rows = [
            ["\nstarts", "x", "y"],
            ["x", "\nstarts", "y"],
            ["ends\n", "", "y"],
            ["a\n\nb", "", "c\nd"],
            ["plain", "row", "3"],
        ]
        path = self.book({"S": [[cell or None for cell in row] for row in rows]})
        self.assertEqual(tabulon.read_sheet(path), rows)

    def test_empty_sheet_and_absent_cells(self):
        path = self.book({"Empty": [], "Gaps": [[None, "b"], [], [1, None, 3]]})
        self.assertEqual(tabulon.read_sheet(path, "Empty"), [])
        self.assertEqual(tabulon.read_sheet(path, "Gaps"), [["", "b", ""], ["1", "", "3"]])

    def test_bytes_that_are_not_utf8(self):
        path = self.book({b"Bad\xffName": [[b"ok \xff"]]})
        names = tabulon.sheet_names(path)
        self.assertEqual(len(names), 1)
        # A listed name can be asked for again, whatever its bytes.
        self.assertEqual(tabulon.read_sheet(path, names[0]), [["ok \ufffd"]])


class Errors(TempDir):
    def test_failures_become_exceptions(self):
        text_file = os.path.join(self.dir, "text.xlsx")
        with open(text_file, "w") as f:
            f.write("not a workbook\n" * 20)
        not_a_book = os.path.join(self.dir, "other.zip")
        with zipfile.ZipFile(not_a_book, "w") as z:
            z.writestr("readme.txt", "hello")
        partless = self.book({"Gone": None, "Here": [[1]]})
        cases = [
            # path, sheet, exception, text in its message
            (os.path.join(self.dir, "missing.xlsx"), None, FileNotFoundError, "missing.xlsx"),
            (self.dir, None, IsADirectoryError, ""),
            ("/dev/null", None, tabulon.TabulonError, "not a regular file"),
            (text_file, None, tabulon.TabulonError, "not a workbook"),
            (not_a_book, None, tabulon.TabulonError, "not a workbook"),
            (SAMPLE, "Nope", tabulon.UnknownSheetError, "its sheets: 'Sales', 'Übersicht', 'Notes'"),
            (SAMPLE, "sales", ValueError, "no sheet 'sales'"),
            (SAMPLE, 3, ValueError, "no sheet number 3"),
            (SAMPLE, -1, ValueError, "no sheet number -1"),
            (SAMPLE, 1.0, TypeError, "not float"),
            (partless, "Gone", tabulon.TabulonError, "cannot be read"),
            (self.book({}, name="nosheets.xlsx"), None, ValueError, "no sheets"),
        ]
        for path, sheet, error, message in cases:
            with self.subTest(path=os.path.basename(path), sheet=sheet):
                with self.assertRaises(error) as caught:
                    tabulon.read_sheet(path, sheet)
                self.assertIn(message, str(caught.exception))
        # Each failure released the lock and closed the workbook.
        self.assertEqual(tabulon.read_sheet(partless, "Here"), [["1"]])
        with self.assertRaises(tabulon.UnknownSheetError) as caught:
            tabulon.read_sheet(SAMPLE, "Nope")
        self.assertEqual(caught.exception.sheets, ["Sales", "Übersicht", "Notes"])

    def run_python(self, code, **env):
        environment = dict(os.environ, **env)
        return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                              env=environment)

    def test_library_that_cannot_be_found(self):
        result = self.run_python("import tabulon; tabulon.sheet_names(%r)" % SAMPLE,
                                 TABULON_LIBRARY=os.path.join(self.dir, "nowhere.so"))
        self.assertIn("tabulon.TabulonError: cannot find tabulon.so", result.stderr)
        self.assertIn("nowhere.so", result.stderr)
        # A copy of the module with no library beside it and no build tree.
        shutil.copytree(os.path.dirname(tabulon.__file__), os.path.join(self.dir, "a", "b", "tabulon"),
                        ignore=shutil.ignore_patterns("__pycache__", "*.so"))
        environment = {k: v for k, v in os.environ.items() if k != "TABULON_LIBRARY"}
        result = subprocess.run(
            [sys.executable, "-c", "import tabulon; print(tabulon.__file__); tabulon.sheet_names(%r)" % SAMPLE],
            capture_output=True, text=True, cwd=os.path.join(self.dir, "a", "b"),
            env=dict(environment, PYTHONPATH=os.path.join(self.dir, "a", "b")))
        self.assertIn("set TABULON_LIBRARY", result.stderr)
        # Importing never needs the library.
        result = self.run_python("import tabulon", TABULON_LIBRARY="/nowhere.so")
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_read_frame_without_pandas(self):
        result = self.run_python(
            "import sys; sys.modules['pandas'] = None\n"
            "import tabulon\n"
            "print(len(tabulon.read_sheet(%r)))\n"
            "try:\n"
            "    tabulon.read_frame(%r)\n"
            "except ImportError as e:\n"
            "    print(e)\n" % (SAMPLE, SAMPLE))
        self.assertEqual(result.returncode, 0, result.stderr)
        count, message = result.stdout.splitlines()
        self.assertEqual(count, "6")
        self.assertIn("read_frame needs pandas", message)


class Threads(TempDir):
    def test_calls_from_many_threads_are_serialised(self):
        # Two workbooks read over and over from several threads at once: each
        # call must see its own workbook from open to close.
        other = self.book({"Numbers": [[i, i * 2] for i in range(1, 200)]})
        expected_other = [[str(i), str(i * 2)] for i in range(1, 200)]
        failures = []

        def work(turn):
            try:
                for _ in range(15):
                    if turn % 2:
                        assert tabulon.read_sheet(SAMPLE) == SALES
                        assert tabulon.sheet_names(SAMPLE)[1] == "Übersicht"
                    else:
                        assert tabulon.read_sheet(other) == expected_other
            except Exception as error:  # reported by the main thread
                failures.append(repr(error))

        threads = [threading.Thread(target=work, args=(i,)) for i in range(6)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(failures, [])


@unittest.skipIf(pandas is None, "pandas is not installed")
class ReadFrame(TempDir):
    def test_sample_columns_get_their_types(self):
        frame = tabulon.read_frame(SAMPLE)
        self.assertEqual(list(frame.columns), SALES[0])
        self.assertEqual(len(frame), 5)
        self.assertEqual(str(frame["Date"].dtype), "datetime64[ns]")
        self.assertEqual(frame["Date"].iloc[3], pandas.Timestamp("2024-01-06"))
        self.assertEqual(frame["Region"].tolist(), ["North", "South", "East", "West", "North"])
        self.assertEqual(str(frame["Units"].dtype), "int64")
        self.assertEqual(frame["Unit price"].sum(), 2.5 + 0.35 + 0.8 + 2.5 + 14.99)
        self.assertEqual(frame["Paid"].tolist()[:4], [1, 1, 0, 1])
        self.assertTrue(pandas.isna(frame["Paid"].iloc[4]))
        review = tabulon.read_frame(SAMPLE, "Übersicht")["Last review"]
        self.assertEqual(review.iloc[1], pandas.Timestamp("2023-12-31 16:30:00"))

    def test_without_header(self):
        frame = tabulon.read_frame(SAMPLE, header=False)
        self.assertEqual(list(frame.columns), list(range(6)))
        self.assertEqual(len(frame), 6)
        self.assertEqual(frame[3].tolist(), SALES_COLUMN_UNITS)  # header row makes it text

    def test_column_kinds(self):
        path = self.book({"S": [
            ["number", "mixed", "date", "hour 24", "empty", "text"],
            [1.5, 1, ("date", 45000.5), ("date", 44927.99999999), None, "a"],
            [None, "x", ("date", 45001), ("date", 44927), None, None],
            [-2, 2, None, None, None, "c"],
        ]})
        frame = tabulon.read_frame(path)
        self.assertEqual(str(frame["number"].dtype), "float64")
        self.assertEqual(frame["number"].tolist()[::2], [1.5, -2])
        self.assertEqual(frame["mixed"].tolist(), ["1", "x", "2"])
        self.assertEqual(frame["date"].tolist()[:2],
                         [pandas.Timestamp("2023-03-15 12:00:00"), pandas.Timestamp("2023-03-16")])
        self.assertTrue(pandas.isna(frame["date"].iloc[2]))
        # A timestamp pandas cannot take keeps the column as text.
        self.assertEqual(frame["hour 24"].tolist()[:2], ["2023-01-01 24:00:00", "2023-01-01 00:00:00"])
        self.assertTrue(frame["empty"].isna().all())
        self.assertEqual(frame["text"].isna().tolist(), [False, True, False])

    def test_empty_sheet(self):
        path = self.book({"Empty": []})
        self.assertEqual(tabulon.read_frame(path).shape, (0, 0))


SALES_COLUMN_UNITS = [row[3] for row in SALES]


if __name__ == "__main__":
    unittest.main()
