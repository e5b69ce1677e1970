"""The Python module over the built library (TABULON_LIBRARY), and the
library's sheet listing as a host sees it."""
import ctypes
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest
import zipfile
from xml.sax.saxutils import escape, quoteattr

import tabulon
from tabulon import _library

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("TABULON_SOURCE_DIR", os.path.join(HERE, os.pardir, os.pardir))
MODULE = os.path.dirname(os.path.abspath(tabulon.__file__))
SAMPLE = os.path.join(SOURCE, "examples", "sample.xlsx")
SAMPLE_SHEETS = ["Sales", "Übersicht", "Notes"]
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

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
RELS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PACKAGE = "http://schemas.openxmlformats.org/package/2006/relationships"
TYPES = "application/vnd.openxmlformats-officedocument.spreadsheetml."


def column_letters(number):
    letters = ""
    while number:
        number, rest = divmod(number - 1, 26)
        letters = chr(65 + rest) + letters
    return letters


def write_book(path, sheets):
    """Writes a small workbook. sheets: sheet name (str, or bytes put into the
    XML as they are) -> rows, or None for a sheet without a worksheet part.
    A row is a list of cells: str or bytes (a shared string), int or float (a
    number), ("date", serial) (a number in the date format 14), or None (no
    cell)."""
    def raw(text):
        return text if isinstance(text, bytes) else escape(text).encode()

    strings = []
    parts = {}
    book = rels = types = b""
    for number, (name, rows) in enumerate(sheets.items(), start=1):
        attribute = b'"%s"' % name if isinstance(name, bytes) else quoteattr(name).encode()
        book += b'<sheet name=%s sheetId="%d" r:id="rId%d"/>' % (attribute, number, number)
        rels += (b'<Relationship Id="rId%d" Type="%s/worksheet" Target="worksheets/sheet%d.xml"/>'
                 % (number, RELS.encode(), number))
        if rows is None:
            continue
        types += (b'<Override PartName="/xl/worksheets/sheet%d.xml" ContentType="%sworksheet+xml"/>'
                  % (number, TYPES.encode()))
        xml = b""
        for r, row in enumerate(rows, start=1):
            cells = b""
            for c, value in enumerate(row, start=1):
                ref = b"%s%d" % (column_letters(c).encode(), r)
                if value is None:
                    continue
                if isinstance(value, tuple):
                    cells += b'<c r="%s" s="1"><v>%r</v></c>' % (ref, value[1])
                elif isinstance(value, (str, bytes)):
                    if value not in strings:
                        strings.append(value)
                    cells += b'<c r="%s" t="s"><v>%d</v></c>' % (ref, strings.index(value))
                else:
                    cells += b'<c r="%s"><v>%r</v></c>' % (ref, value)
            xml += b'<row r="%d">%s</row>' % (r, cells)
        width = max(map(len, rows), default=1) or 1
        parts["xl/worksheets/sheet%d.xml" % number] = (
            b'<worksheet xmlns="%s"><dimension ref="A1:%s%d"/><sheetData>%s</sheetData></worksheet>'
            % (MAIN.encode(), column_letters(width).encode(), max(len(rows), 1), xml))
    count = len(sheets)
    parts["[Content_Types].xml"] = (
        b'<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        b'<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        b'<Default Extension="xml" ContentType="application/xml"/>'
        b'<Override PartName="/xl/workbook.xml" ContentType="%ssheet.main+xml"/>'
        b'<Override PartName="/xl/styles.xml" ContentType="%sstyles+xml"/>'
        b'<Override PartName="/xl/sharedStrings.xml" ContentType="%ssharedStrings+xml"/>%s</Types>'
        % (TYPES.encode(), TYPES.encode(), TYPES.encode(), types))
    parts["_rels/.rels"] = (
        b'<Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" '
        b'Target="xl/workbook.xml"/></Relationships>' % (PACKAGE.encode(), RELS.encode()))
    parts["xl/workbook.xml"] = (b'<workbook xmlns="%s" xmlns:r="%s"><sheets>%s</sheets></workbook>'
                                % (MAIN.encode(), RELS.encode(), book))
    parts["xl/_rels/workbook.xml.rels"] = (
        b'<Relationships xmlns="%s">%s'
        b'<Relationship Id="rId%d" Type="%s/styles" Target="styles.xml"/>'
        b'<Relationship Id="rId%d" Type="%s/sharedStrings" Target="sharedStrings.xml"/></Relationships>'
        % (PACKAGE.encode(), rels, count + 1, RELS.encode(), count + 2, RELS.encode()))
    # Cell format 0 is general, 1 a date (built-in number format 14).
    parts["xl/styles.xml"] = (
        b'<styleSheet xmlns="%s"><cellXfs count="2"><xf numFmtId="0"/>'
        b'<xf numFmtId="14" applyNumberFormat="1"/></cellXfs></styleSheet>' % MAIN.encode())
    parts["xl/sharedStrings.xml"] = b'<sst xmlns="%s" count="%d" uniqueCount="%d">%s</sst>' % (
        MAIN.encode(), len(strings), len(strings),
        b"".join(b'<si><t xml:space="preserve">%s</t></si>' % raw(s) for s in strings))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in parts.items():
            archive.writestr(name, data)


def python(code, *args, cwd=None, **env):
    """Runs code in a fresh interpreter with env added to (or, for None
    values, removed from) the environment."""
    environment = dict(os.environ)
    for key, value in env.items():
        if value is None:
            environment.pop(key, None)
        else:
            environment[key] = value
    return subprocess.run([sys.executable, "-c", code, *args], capture_output=True,
                          text=True, env=environment, cwd=cwd)


class BookTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def book(self, sheets, name="book.xlsx"):
        path = os.path.join(self.dir, name)
        write_book(path, sheets)
        return path


class SheetNames(BookTest):
    def test_names_in_workbook_order_each_readable(self):
        names = ["Zeta", "Übersicht", "R&D <2024>", "two words", "1", "日本語", "Ünïcødé 🙂"]
        path = self.book({name: [[number]] for number, name in enumerate(names)})
        self.assertEqual(tabulon.sheet_names(path), names)
        for number, name in enumerate(names):
            with self.subTest(name=name):
                self.assertEqual(tabulon.read_sheet(path, name), [[str(number)]])
                self.assertEqual(tabulon.read_sheet(path, number), [[str(number)]])

    def test_bytes_that_are_not_utf8(self):
        path = self.book({b"Bad\xffName": [[b"ok \xff"]]})
        names = tabulon.sheet_names(path)
        self.assertEqual(names, ["Bad\udcffName"])
        # A listed name can be asked for again, whatever its bytes.
        self.assertEqual(tabulon.read_sheet(path, names[0]), [["ok \ufffd"]])


class ListSheetsEntryPoint(BookTest):
    """The library's listSheets itself, through the module's lock."""

    def test_follows_the_loaded_workbook(self):
        first = self.book({"One": [[1]], "Two": [[2]]}, name="first.xlsx")
        second = self.book({"Three": [[3]]}, name="second.xlsx")
        with _library.locked_library() as lib:
            lib.closeExcel()
            self.assertEqual(lib.listSheets(), b"")
            self.assertEqual(lib.openExcel(first.encode()), 0)
            self.assertEqual(lib.listSheets(), b"One\nTwo\n")
            self.assertEqual(ctypes.string_at(lib.getSheetData(b"Two")), b"2;\n")
            self.assertEqual(lib.openExcel(second.encode()), 0)
            self.assertEqual(lib.listSheets(), b"Three\n")
            lib.closeExcel()
            self.assertEqual(lib.listSheets(), b"")


class ReadSheet(BookTest):
    def test_sample(self):
        self.assertEqual(tabulon.sheet_names(SAMPLE), SAMPLE_SHEETS)
        for sheet in [None, "Sales", 0]:
            with self.subTest(sheet=sheet):
                self.assertEqual(tabulon.read_sheet(SAMPLE, sheet), SALES)
        self.assertEqual(tabulon.read_sheet(SAMPLE, "Übersicht")[1],
                         ["North", "Åsa Lindqvist", "2023-12-30 09:00:00"])
        self.assertEqual(tabulon.read_text(SAMPLE, "Notes"),
                         "Figures are illustrative.;\nPrices in EUR units per day.;\n")

    def test_default_is_the_first_sheet_and_names_pick_others(self):
        path = self.book({
            "Later": [["name", "when", "amount"],
                      ["Ann", ("date", 45000.5), 1.25],
                      ["Bo", None, -3]],
            "Other": [["x"]],
        })
        later = [["name", "when", "amount"], ["Ann", "2023-03-15 12:00:00", "1.25"], ["Bo", "", "-3"]]
        self.assertEqual(tabulon.read_sheet(path), later)
        self.assertEqual(tabulon.read_sheet(path, "Later"), later)
        self.assertEqual(tabulon.read_sheet(path, "Other"), [["x"]])

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


class Errors(BookTest):
    def test_failures_become_exceptions(self):
        text_file = os.path.join(self.dir, "text.xlsx")
        with open(text_file, "w") as f:
            f.write("not a workbook\n" * 20)
        other_zip = os.path.join(self.dir, "other.zip")
        with zipfile.ZipFile(other_zip, "w") as z:
            z.writestr("readme.txt", "hello")
        partless = self.book({"Gone": None, "Here": [[1]]})
        fifo = os.path.join(self.dir, "pipe.xlsx")
        os.mkfifo(fifo)
        cases = [
            # path, sheet, exception, text in its message
            (os.path.join(self.dir, "missing.xlsx"), None, FileNotFoundError, "missing.xlsx"),
            (self.dir, None, IsADirectoryError, self.dir),
            (fifo, None, tabulon.WorkbookError, "pipe.xlsx: not a regular file"),
            (text_file, None, tabulon.WorkbookError, "text.xlsx: not a workbook"),
            (other_zip, None, tabulon.WorkbookError, "other.zip: cannot load the workbook"),
            (SAMPLE, "Nope", tabulon.UnknownSheetError, "its sheets: 'Sales', 'Übersicht', 'Notes'"),
            (SAMPLE, "sales", ValueError, "no sheet 'sales' in"),
            (SAMPLE, 3, ValueError, "no sheet number 3"),
            (SAMPLE, -1, ValueError, "no sheet number -1"),
            (SAMPLE, 1.0, TypeError, "not float"),
            (partless, "Gone", tabulon.TabulonError, "sheet 'Gone' of %s cannot be read" % partless),
            (self.book({}, name="nosheets.xlsx"), None, tabulon.UnknownSheetError, "no sheets"),
        ]
        for path, sheet, error, message in cases:
            with self.subTest(path=os.path.basename(path), sheet=sheet):
                with self.assertRaises(error) as caught:
                    tabulon.read_sheet(path, sheet)
                self.assertIn(message, str(caught.exception))
        self.assertTrue(issubclass(tabulon.WorkbookError, tabulon.TabulonError))
        # Each failure released the lock and closed the workbook.
        self.assertEqual(tabulon.read_sheet(partless, "Here"), [["1"]])
        with self.assertRaises(tabulon.UnknownSheetError) as caught:
            tabulon.read_sheet(SAMPLE, "Nope")
        self.assertEqual(caught.exception.sheets, SAMPLE_SHEETS)
        self.assertIsInstance(caught.exception, tabulon.TabulonError)

    def test_read_frame_without_pandas(self):
        result = python(
            "import sys; sys.modules['pandas'] = None\n"
            "import tabulon\n"
            "print(len(tabulon.read_sheet(sys.argv[1])))\n"
            "try:\n"
            "    tabulon.read_frame(sys.argv[1])\n"
            "except ImportError as e:\n"
            "    print(e)\n", SAMPLE)
        self.assertEqual(result.returncode, 0, result.stderr)
        count, message = result.stdout.splitlines()
        self.assertEqual(count, "6")
        self.assertIn("read_frame needs pandas", message)


class LibraryLookup(BookTest):
    """Where the module finds tabulon.so, each case in a fresh interpreter."""

    def module_copy(self, *where):
        """A copy of the module at dir/*where/tabulon, without any library."""
        root = os.path.join(self.dir, *where)
        shutil.copytree(MODULE, os.path.join(root, "tabulon"),
                        ignore=shutil.ignore_patterns("__pycache__", "*.so"))
        return root

    def found(self, root, **env):
        return python("import tabulon, sys; print(tabulon.library_path()); print(tabulon.sheet_names(sys.argv[1]))",
                      SAMPLE, PYTHONPATH=root, **env)

    def test_places_in_order(self):
        library = _library.library_path()
        # The source tree: <tree>/python/tabulon and <tree>/build/tabulon.so.
        root = self.module_copy("tree", "python")
        os.makedirs(os.path.join(self.dir, "tree", "build"))
        built = os.path.join(self.dir, "tree", "build", "tabulon.so")
        os.symlink(library, built)
        result = self.found(root, TABULON_LIBRARY=None)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(), [built, str(SAMPLE_SHEETS)])
        # Beside the module comes first, as when installed.
        beside = os.path.join(root, "tabulon", "tabulon.so")
        os.symlink(library, beside)
        self.assertEqual(self.found(root, TABULON_LIBRARY=None).stdout.splitlines()[0], beside)
        # And the environment before both.
        chosen = os.path.join(self.dir, "chosen.so")
        os.symlink(library, chosen)
        self.assertEqual(self.found(root, TABULON_LIBRARY=chosen).stdout.splitlines()[0], chosen)

    def test_a_library_that_cannot_be_found_or_loaded(self):
        root = self.module_copy("lone")
        result = self.found(root, TABULON_LIBRARY=None)
        self.assertIn("tabulon.TabulonError: cannot find tabulon.so (looked at %s, %s)"
                      % (os.path.join(root, "tabulon", "tabulon.so"),
                         os.path.join(self.dir, "build", "tabulon.so")), result.stderr)
        self.assertIn("set TABULON_LIBRARY", result.stderr)
        # A wrong TABULON_LIBRARY is reported even though another copy exists.
        os.symlink(_library.library_path(), os.path.join(root, "tabulon", "tabulon.so"))
        nowhere = os.path.join(self.dir, "nowhere.so")
        result = self.found(root, TABULON_LIBRARY=nowhere)
        self.assertIn("cannot find tabulon.so (looked at %s)" % nowhere, result.stderr)
        not_a_library = os.path.join(self.dir, "text.so")
        with open(not_a_library, "w") as f:
            f.write("text\n")
        result = self.found(root, TABULON_LIBRARY=not_a_library)
        self.assertIn("tabulon.TabulonError: cannot load %s" % not_a_library, result.stderr)
        # Importing never needs the library.
        result = python("import tabulon", PYTHONPATH=root, TABULON_LIBRARY=nowhere)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_version(self):
        self.assertEqual(tabulon.version(), "Tabulon - Version 0.2.60 - Merrowind")


class Threads(BookTest):
    def test_calls_from_many_threads_are_serialised(self):
        # Two workbooks read over and over from several threads at once: each
        # call must see its own workbook from open to close.
        other = self.book({"Numbers": [[i, i * 2] for i in range(1, 300)]})
        expected_other = [[str(i), str(i * 2)] for i in range(1, 300)]
        failures = []
        start = threading.Barrier(6)

        def work(turn):
            try:
                start.wait()
                for _ in range(20):
                    if turn % 2:
                        self.assertEqual(tabulon.read_sheet(SAMPLE), SALES)
                        self.assertEqual(tabulon.sheet_names(SAMPLE), SAMPLE_SHEETS)
                    else:
                        self.assertEqual(tabulon.read_sheet(other), expected_other)
                        with self.assertRaises(ValueError):
                            tabulon.read_sheet(other, "Sales")
            except Exception as error:  # reported by the main thread
                failures.append(repr(error))

        threads = [threading.Thread(target=work, args=(i,)) for i in range(6)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(failures, [])


@unittest.skipIf(pandas is None, "pandas is not installed")
class ReadFrame(BookTest):
    def test_sample_columns_get_their_types(self):
        frame = tabulon.read_frame(SAMPLE)
        self.assertEqual(list(frame.columns), SALES[0])
        self.assertEqual(len(frame), 5)
        self.assertEqual(str(frame["Date"].dtype), "datetime64[ns]")
        self.assertEqual(frame["Date"].iloc[3], pandas.Timestamp("2024-01-06"))
        self.assertEqual(frame["Region"].tolist(), ["North", "South", "East", "West", "North"])
        self.assertEqual(str(frame["Units"].dtype), "int64")
        self.assertEqual(str(frame["Unit price"].dtype), "float64")
        self.assertEqual(frame["Unit price"].tolist(), [2.5, 0.35, 0.8, 2.5, 14.99])
        # Whole numbers with a gap: float64, the gap missing.
        self.assertEqual(str(frame["Paid"].dtype), "float64")
        self.assertEqual(frame["Paid"].tolist()[:4], [1, 1, 0, 1])
        self.assertTrue(pandas.isna(frame["Paid"].iloc[4]))
        review = tabulon.read_frame(SAMPLE, "Übersicht")["Last review"]
        self.assertEqual(review.iloc[1], pandas.Timestamp("2023-12-31 16:30:00"))

    def test_without_header(self):
        frame = tabulon.read_frame(SAMPLE, header=False)
        self.assertEqual(list(frame.columns), list(range(6)))
        self.assertEqual(len(frame), 6)
        # The header row is data now, so every column is text.
        self.assertEqual(frame[3].tolist(), [row[3] for row in SALES])
        self.assertEqual(frame[0].iloc[1], "2024-01-01 00:00:00")

    def test_column_kinds(self):
        path = self.book({"S": [
            ["int", "float", "mixed", "date", "year 9999", "empty", "text", "not numbers"],
            [7, 1.5, 1, ("date", 45000.5), ("date", 2958465), None, "a", "1"],
            [-2, None, "x", ("date", 45001), ("date", 44927), None, None, "inf"],
            [0, 2, 2, None, None, None, "c", "nan"],
        ]})
        frame = tabulon.read_frame(path)
        self.assertEqual(str(frame["int"].dtype), "int64")
        self.assertEqual(frame["int"].tolist(), [7, -2, 0])
        self.assertEqual(str(frame["float"].dtype), "float64")
        self.assertEqual(frame["float"].tolist()[::2], [1.5, 2])
        self.assertTrue(pandas.isna(frame["float"].iloc[1]))
        self.assertEqual(frame["mixed"].tolist(), ["1", "x", "2"])
        self.assertEqual(str(frame["date"].dtype), "datetime64[ns]")
        self.assertEqual(frame["date"].tolist()[:2],
                         [pandas.Timestamp("2023-03-15 12:00:00"), pandas.Timestamp("2023-03-16")])
        self.assertTrue(pandas.isna(frame["date"].iloc[2]))
        # A timestamp pandas cannot take keeps the column as text.
        self.assertEqual(frame["year 9999"].tolist()[:2], ["9999-12-31 00:00:00", "2023-01-01 00:00:00"])
        self.assertTrue(frame["empty"].isna().all())
        self.assertEqual(frame["text"].tolist(), ["a", None, "c"])
        self.assertEqual(frame["not numbers"].tolist(), ["1", "inf", "nan"])

    def test_header_only_and_empty_sheets(self):
        path = self.book({"Empty": [], "Header": [["a", "b"]]})
        self.assertEqual(tabulon.read_frame(path, "Empty").shape, (0, 0))
        frame = tabulon.read_frame(path, "Header")
        self.assertEqual((list(frame.columns), len(frame)), (["a", "b"], 0))


# The examples of the README section for the module, verbatim: each block
# runs in the source folder and prints exactly its '# -> ' lines.
README_EXAMPLES = [
    '''\
import tabulon

book = "examples/sample.xlsx"
print(tabulon.sheet_names(book))
# -> ['Sales', 'Übersicht', 'Notes']
print(tabulon.read_sheet(book, "Übersicht")[1])
# -> ['North', 'Åsa Lindqvist', '2023-12-30 09:00:00']
frame = tabulon.read_frame(book)  # the first sheet, its first row as column names
print(frame["Units"].sum(), frame["Date"].max(), frame["Date"].dtype)
# -> 1257 2024-01-07 00:00:00 datetime64[ns]
''',
    '''\
import tabulon

try:
    tabulon.read_sheet("examples/sample.xlsx", "Summary")
except ValueError as error:
    print(error)
# -> no sheet 'Summary' in examples/sample.xlsx; its sheets: 'Sales', 'Übersicht', 'Notes'
try:
    tabulon.sheet_names("README.md")
except tabulon.TabulonError as error:
    print(error)
# -> README.md: not a workbook (not a zip archive, or a damaged one)
''',
]
# The README's check that an installed module works.
README_INSTALLED_CHECK = "import tabulon; print(tabulon.version())"


class ReadmeDraft(unittest.TestCase):
    def test_examples(self):
        for block in README_EXAMPLES:
            with self.subTest(block=block.splitlines()[2]):
                if "read_frame" in block and pandas is None:
                    continue  # pandas is optional
                result = python(block, cwd=SOURCE)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout.splitlines(), re.findall(r"^# -> (.*)$", block, re.M))

    @unittest.skipUnless(os.environ.get("TABULON_BUILD_DIR"), "needs TABULON_BUILD_DIR")
    def test_installed_module(self):
        folder = os.environ.get("TABULON_PYTHON_INSTALL_DIR",
                                "lib/python%d.%d/dist-packages" % sys.version_info[:2])
        if os.path.isabs(folder):
            self.skipTest("the module is installed outside the prefix")
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run(["cmake", "--install", os.environ["TABULON_BUILD_DIR"], "--prefix", prefix],
                           check=True, capture_output=True)
            module = os.path.join(prefix, folder)
            self.assertFalse(os.path.exists(os.path.join(module, "tabulon", "__pycache__")))
            environment = {k: None for k in os.environ if k.startswith("TABULON_")}
            result = python(README_INSTALLED_CHECK + "; print(tabulon.library_path())",
                            PYTHONPATH=module, cwd=prefix, **environment)
            self.assertEqual(result.returncode, 0, result.stderr)
            text, found = result.stdout.splitlines()
            self.assertEqual(text, "Tabulon - Version 0.2.60 - Merrowind")
            self.assertEqual(found, os.path.join(module, "tabulon", "tabulon.so"))
            self.assertTrue(os.path.realpath(found).startswith(os.path.realpath(prefix) + os.sep))


if __name__ == "__main__":
    unittest.main()
