"""The Python module over the built library (TABULON_LIBRARY), and the
library's sheet listing as a host sees it."""
import ctypes
import datetime
import math
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest
import unittest.mock
import zipfile
from xml.sax.saxutils import escape, quoteattr

import tabulon
from tabulon import _arrow, _library

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
    import numpy
    import pandas
except ImportError:
    numpy = pandas = None

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


def write_book(path, sheets, date1904=False):
    """Writes a small workbook. sheets: sheet name (str, or bytes put into the
    XML as they are) -> rows, or None for a sheet without a worksheet part.
    A row is a list of cells: str or bytes (a shared string), int or float (a
    number), bool (a boolean), ("date", serial) (a number in the built-in
    date format 14), ("custom", serial) (a number in the custom format
    "yyyy-mm-dd hh:mm"), ("inline", text) (an inline string), ("iso", text)
    (a date cell), or None (no cell). date1904: the 1904 date system."""
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
                if isinstance(value, bool):
                    cells += b'<c r="%s" t="b"><v>%d</v></c>' % (ref, value)
                elif isinstance(value, tuple) and value[0] in ("date", "custom"):
                    style = 1 if value[0] == "date" else 2
                    cells += b'<c r="%s" s="%d"><v>%r</v></c>' % (ref, style, value[1])
                elif isinstance(value, tuple) and value[0] == "inline":
                    cells += b'<c r="%s" t="inlineStr"><is><t>%s</t></is></c>' % (ref, raw(value[1]))
                elif isinstance(value, tuple):
                    cells += b'<c r="%s" t="d"><v>%s</v></c>' % (ref, raw(value[1]))
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
    parts["xl/workbook.xml"] = (b'<workbook xmlns="%s" xmlns:r="%s">%s<sheets>%s</sheets></workbook>'
                                % (MAIN.encode(), RELS.encode(),
                                   b'<workbookPr date1904="1"/>' if date1904 else b"", book))
    parts["xl/_rels/workbook.xml.rels"] = (
        b'<Relationships xmlns="%s">%s'
        b'<Relationship Id="rId%d" Type="%s/styles" Target="styles.xml"/>'
        b'<Relationship Id="rId%d" Type="%s/sharedStrings" Target="sharedStrings.xml"/></Relationships>'
        % (PACKAGE.encode(), rels, count + 1, RELS.encode(), count + 2, RELS.encode()))
    # Cell format 0 is general, 1 a date (built-in number format 14), 2 a
    # custom date-time format.
    parts["xl/styles.xml"] = (
        b'<styleSheet xmlns="%s"><numFmts count="1"><numFmt numFmtId="164" '
        b'formatCode="yyyy-mm-dd hh:mm"/></numFmts><cellXfs count="3"><xf numFmtId="0"/>'
        b'<xf numFmtId="14" applyNumberFormat="1"/><xf numFmtId="164" applyNumberFormat="1"/>'
        b'</cellXfs></styleSheet>' % MAIN.encode())
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

    def book(self, sheets, name="book.xlsx", date1904=False):
        path = os.path.join(self.dir, name)
        write_book(path, sheets, date1904)
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
        # bytes hold a workbook (test_sources.py); a path in bytes is decoded first.
        for path in [SAMPLE, pathlib.Path(SAMPLE), os.fsdecode(os.fsencode(SAMPLE))]:
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
        ods = os.path.join(self.dir, "table.ods")
        with zipfile.ZipFile(ods, "w") as z:
            z.writestr("mimetype", "application/vnd.oasis.opendocument.spreadsheet")
        partless = self.book({"Gone": None, "Here": [[1]]})
        fifo = os.path.join(self.dir, "pipe.xlsx")
        os.mkfifo(fifo)
        cases = [
            # path, sheet, exception, text in its message
            (os.path.join(self.dir, "missing.xlsx"), None, FileNotFoundError, "missing.xlsx"),
            (self.dir, None, IsADirectoryError, self.dir),
            (fifo, None, tabulon.WorkbookError, "pipe.xlsx: not a regular file"),
            (text_file, None, tabulon.NotASpreadsheetError, "text.xlsx: not a workbook: a text file"),
            (ods, None, tabulon.OpenDocumentError, "table.ods: an OpenDocument spreadsheet (.ods)"),
            (other_zip, None, tabulon.WorkbookError, "other.zip: cannot load the workbook"),
            (SAMPLE, "Nope", tabulon.UnknownSheetError, "its sheets: 'Sales', 'Übersicht', 'Notes'"),
            (SAMPLE, "sales", ValueError, "no sheet 'sales' in"),
            (SAMPLE, 3, ValueError, "no sheet number 3"),
            (SAMPLE, -1, ValueError, "no sheet number -1"),
            (SAMPLE, 1.0, TypeError, "not float"),
            (partless, "Gone", tabulon.TabulonError, "sheet 'Gone' of %s cannot be read" % partless),
            (self.book({}, name="nosheets.xlsx"), None, tabulon.UnknownSheetError, "no sheets"),
        ]
        readers = [tabulon.read_sheet] + ([tabulon.read_frame] if pandas is not None else [])
        for path, sheet, error, message in cases:
            for reader in readers:
                with self.subTest(path=os.path.basename(path), sheet=sheet, reader=reader.__name__):
                    with self.assertRaises(error) as caught:
                        reader(path, sheet)
                    self.assertIn(message, str(caught.exception))
        self.assertTrue(issubclass(tabulon.WorkbookError, tabulon.TabulonError))
        # Each failure released the lock and closed the workbook.
        self.assertEqual(tabulon.read_sheet(partless, "Here"), [["1"]])
        with self.assertRaises(tabulon.UnknownSheetError) as caught:
            tabulon.read_sheet(SAMPLE, "Nope")
        self.assertEqual(caught.exception.sheets, SAMPLE_SHEETS)
        self.assertIsInstance(caught.exception, tabulon.TabulonError)

    def test_library_failure_codes(self):
        cases = [
            # code, exception
            (_library.OUT_OF_MEMORY, MemoryError),
            (_library.NO_SUCH_FILE, FileNotFoundError),
            (_library.UNREADABLE, OSError),
            (_library.NOT_A_FILE, tabulon.WorkbookError),
            (_library.NOT_A_ZIP, tabulon.WorkbookError),
            (_library.NO_SUCH_SHEET, tabulon.UnknownSheetError),
            (_library.DAMAGED_MEMBER, tabulon.TabulonError),
            (_library.MISSING_PART, tabulon.TabulonError),
            (_library.INTERNAL, tabulon.TabulonError),
            (_library.ENCRYPTED, tabulon.PasswordProtectedError),
            (_library.LEGACY_XLS, tabulon.LegacyXlsError),
            (_library.BINARY_XLSB, tabulon.XlsbError),
            (_library.OPENDOCUMENT, tabulon.OpenDocumentError),
            (_library.NOT_A_SPREADSHEET, tabulon.NotASpreadsheetError),
            (_library.UNKNOWN_ENCODING, tabulon.EncodingError),
        ]
        for code, error in cases:
            with self.subTest(code=code):
                made = _library.failure_error(code, "/a/b.xlsx: the reason", "/a/b.xlsx",
                                              "sheet 'S' of /a/b.xlsx cannot be read", ["S"])
                self.assertIsInstance(made, error)
                # The library's text, less the path the message names already.
                self.assertIn("sheet 'S' of /a/b.xlsx cannot be read: the reason", str(made))
        self.assertEqual(_library.failure_error(_library.NO_SUCH_SHEET, "", "p", "w", ["S"]).sheets, ["S"])

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
    def test_calls_from_many_threads_at_once(self):
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
                        if pandas is not None:
                            frame = tabulon.read_frame(other, header=False)
                            self.assertEqual(frame[1].tolist(), list(range(2, 600, 2)))
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


@unittest.skipIf(numpy is None, "numpy is not installed")
class ArrowColumns(unittest.TestCase):
    """Reading the Arrow C structs, on structs made here: offsets, validity
    bits and dictionaries in forms the library may not produce today but
    the interface allows."""

    def setUp(self):
        self.keep = []  # buffers and structs must outlive the reading

    def buffer(self, data):
        if data is None:
            return None
        block = ctypes.create_string_buffer(bytes(data), len(data) or 1)
        self.keep.append(block)
        return ctypes.addressof(block)

    def array(self, length, buffers, offset=0, children=(), dictionary=None):
        array = _arrow.ArrowArray(length=length, offset=offset, n_buffers=len(buffers),
                                  n_children=len(children))
        slots = (ctypes.c_void_p * max(len(buffers), 1))(*map(self.buffer, buffers))
        kids = (ctypes.POINTER(_arrow.ArrowArray) * max(len(children), 1))(
            *[ctypes.pointer(c) for c in children])
        array.buffers = ctypes.cast(slots, ctypes.POINTER(ctypes.c_void_p))
        array.children = ctypes.cast(kids, ctypes.POINTER(ctypes.POINTER(_arrow.ArrowArray)))
        if dictionary is not None:
            array.dictionary = ctypes.pointer(dictionary)
        self.keep += [array, slots, kids]
        return array

    def schema(self, format, name=b"", children=(), dictionary=None):
        schema = _arrow.ArrowSchema(format=format, name=name, n_children=len(children))
        kids = (ctypes.POINTER(_arrow.ArrowSchema) * max(len(children), 1))(
            *[ctypes.pointer(c) for c in children])
        schema.children = ctypes.cast(kids, ctypes.POINTER(ctypes.POINTER(_arrow.ArrowSchema)))
        if dictionary is not None:
            schema.dictionary = ctypes.pointer(dictionary)
        self.keep += [schema, kids]
        return schema

    def test_children_of_every_kind_with_offsets(self):
        bits = lambda *values: bytes([sum(v << i for i, v in enumerate(values))])
        words = self.array(3, [None, numpy.array([0, 2, 5, 10], "int32").tobytes(), "abxyzÅsa!".encode()])
        columns = [
            # schema, array (the struct's offset 1 applies on top of each child's)
            (self.schema(b"n", b"none"), self.array(5, [])),
            (self.schema(b"b", b"flag"), self.array(6, [bits(0, 1, 1, 0, 1, 1), bits(0, 0, 1, 0, 1, 0)], offset=1)),
            (self.schema(b"g", b"number"), self.array(5, [None, numpy.array([9, 1.5, -2, 0.25, 7]).tobytes()])),
            (self.schema(b"tsu:", "Zeit".encode()),
             self.array(5, [bits(1, 1, 0, 1, 1), numpy.array([0, 86_400_000_000, 0, -1, 1], "int64").tobytes()])),
            (self.schema(b"i", b"word", dictionary=self.schema(b"u")),
             self.array(5, [bits(1, 1, 1, 0, 1), numpy.array([1, 0, 2, 99, 2], "int32").tobytes()],
                        dictionary=words)),
        ]
        schema = self.schema(b"+s", children=[s for s, _ in columns])
        array = self.array(4, [None], offset=1, children=[a for _, a in columns])
        rows, taken = _arrow.take_columns(numpy, schema, array)
        self.assertEqual(rows, 4)
        self.assertEqual([c.name for c in taken], ["none", "flag", "number", "Zeit", "word"])
        self.assertEqual([c.kind for c in taken], ["null", "bool", "number", "timestamp", "text"])
        self.assertIsNone(taken[0].values)
        self.assertEqual(taken[1].values.tolist()[1:], [False, True, False])
        self.assertEqual(taken[1].valid.tolist(), [True, False, True, True])
        self.assertEqual(taken[2].values.tolist(), [1.5, -2, 0.25, 7])
        self.assertIsNone(taken[2].valid)
        self.assertEqual(taken[3].valid.tolist(), [True, False, True, True])
        self.assertEqual(taken[3].values.tolist()[::2], [86_400_000_000, -1])
        # The index under a missing value (99) is never looked up.
        self.assertEqual(taken[4].values.tolist(), ["ab", "Åsa!", None, "Åsa!"])

    def test_what_cannot_be_taken(self):
        for schema, array, message in [
            (self.schema(b"+s", children=[self.schema(b"z", b"odd")]),
             self.array(1, [None], children=[self.array(1, [None, b"x"])]), "'odd' has a type"),
            (self.schema(b"+s", children=[self.schema(b"i", b"w")]),
             self.array(1, [None], children=[self.array(1, [None, b"\0\0\0\0"])]), "dictionary"),
            (self.schema(b"+s", children=[self.schema(b"g", b"short")]),
             self.array(3, [None], children=[self.array(2, [None, bytes(16)])]), "has 2 rows"),
            (self.schema(b"g"), self.array(1, [None, bytes(8)]), "instead of a struct"),
        ]:
            with self.subTest(message=message):
                with self.assertRaises(tabulon.TabulonError) as caught:
                    _arrow.take_columns(numpy, schema, array)
                self.assertIn(message, str(caught.exception))


def missing(value):
    return value is None or (pandas is not None and value is pandas.NA) or \
        (isinstance(value, float) and math.isnan(value)) or value is pandas.NaT


def as_text(value):
    """A typed frame value written as the library's sheet text writes it."""
    if missing(value):
        return ""
    if isinstance(value, (bool, numpy.bool_)):
        return "1" if value else "0"
    if isinstance(value, float):
        return str(int(value)) if value.is_integer() else repr(value)
    if isinstance(value, pandas.Timestamp):
        return value.strftime("%Y-%m-%d %H:%M:%S")
    return value


@unittest.skipIf(pandas is None, "pandas is not installed")
class ReadFrame(BookTest):
    def assertColumn(self, series, dtype, values):
        """series has dtype and values; None stands for a missing value."""
        self.assertEqual(str(series.dtype), dtype, series.name)
        got = series.tolist()
        self.assertEqual([missing(v) for v in got], [v is None for v in values], series.name)
        self.assertEqual([v for v in got if not missing(v)], [v for v in values if v is not None],
                         series.name)

    def test_sample_columns_get_their_types(self):
        frame = tabulon.read_frame(SAMPLE)
        self.assertEqual(list(frame.columns), SALES[0])
        # Row 5 of the sheet is empty: it stays, all missing, as a row of the frame.
        self.assertEqual(len(frame), 6)
        self.assertTrue(frame.iloc[3].isna().all())
        T = pandas.Timestamp
        for name, dtype, values in [
            ("Date", "datetime64[ns]", [T("2024-01-01"), T("2024-01-02"), T("2024-01-03"), None,
                                        T("2024-01-06"), T("2024-01-07")]),
            ("Region", "object", ["North", "South", "East", None, "West", "North"]),
            ("Units", "float64", [120, 800, 250, None, 75, 12]),
            ("Unit price", "float64", [2.5, 0.35, 0.8, None, 2.5, 14.99]),
            ("Paid", "boolean", [True, True, False, None, True, None]),
        ]:
            with self.subTest(column=name):
                self.assertColumn(frame[name], dtype, values)
        review = tabulon.read_frame(SAMPLE, "Übersicht")["Last review"]
        self.assertEqual(review.iloc[1], pandas.Timestamp("2023-12-31 16:30:00"))

    def test_agrees_with_the_sheet_text(self):
        for sheet in SAMPLE_SHEETS:
            rows = tabulon.read_sheet(SAMPLE, sheet)
            for dtype in [None, str]:
                with self.subTest(sheet=sheet, dtype=dtype):
                    frame = tabulon.read_frame(SAMPLE, sheet, header=False, dtype=dtype)
                    typed = tabulon.read_frame(SAMPLE, sheet, dtype=dtype)
                    self.assertEqual(list(typed.columns), rows[0])
                    for table in (frame, typed):
                        # The text leaves out rows without values; the frame keeps them.
                        cells = [[as_text(v) for v in row] for row in table.itertuples(index=False)]
                        cells = [row for row in cells if any(row)]
                        if sheet == "Notes":
                            # Typed text keeps the ";" that the sheet text drops.
                            cells = [[re.sub("[;\r]", "", c) for c in row] for row in cells]
                        self.assertEqual(cells, rows if table is frame else rows[1:])
        self.assertEqual(tabulon.read_frame(SAMPLE, "Notes", header=False)[0].tolist(),
                         ["Figures are illustrative.", None, "Prices in EUR; units per day."])

    def test_column_kinds(self):
        T = pandas.Timestamp
        columns = [
            # header, cells, dtype, values (None: missing)
            ("int", [7, -2, 0], "float64", [7, -2, 0]),
            ("float", [1.5, None, 2], "float64", [1.5, None, 2]),
            ("mixed", [1, "x", 2.5], "object", ["1", "x", "2.5"]),
            ("date", [("date", 45000.5), ("date", 45001), None], "datetime64[ns]",
             [T("2023-03-15 12:00:00"), T("2023-03-16"), None]),
            ("custom", [("custom", 45000.25), None, ("custom", 45001.75)], "datetime64[ns]",
             [T("2023-03-15 06:00:00"), None, T("2023-03-16 18:00:00")]),
            ("mixed date", [("date", 45000), "x", 3], "object", ["2023-03-15 00:00:00", "x", "3"]),
            ("empty", [None, None, None], "float64", [None, None, None]),
            ("text", ["a", None, "a"], "object", ["a", None, "a"]),
            ("inline", [("inline", "in"), "shared", ("inline", b"x;y&#13;")], "object",
             ["in", "shared", "x;y\r"]),
            ("not numbers", ["1", "inf", "nan"], "object", ["1", "inf", "nan"]),
            ("flag", [True, False, True], "bool", [True, False, True]),
            ("flag gap", [None, False, True], "boolean", [None, False, True]),
            ("flag and number", [True, 0, None], "object", ["1", "0", None]),
            ("late", [("date", 2958465), ("date", 1), None], "object",
             [datetime.datetime(9999, 12, 31), datetime.datetime(1900, 1, 1), None]),
        ]
        rows = [[c[0] for c in columns]] + [[c[1][r] for c in columns] for r in range(3)]
        frame = tabulon.read_frame(self.book({"S": rows}))
        self.assertEqual(list(frame.columns), [c[0] for c in columns])
        for name, _, dtype, values in columns:
            with self.subTest(column=name):
                self.assertColumn(frame[name], dtype, values)
        self.assertEqual(type(frame["text"].iloc[0]), str)
        # A time a hair before midnight stays a time, not the next day's text.
        near = tabulon.read_frame(self.book({"S": [[("date", 44927.99999999)]]}, name="near.xlsx"),
                                  header=False)[0].iloc[0]
        self.assertLess(abs(near - T("2023-01-02")), pandas.Timedelta(milliseconds=1))

    def test_iso_date_cells(self):
        path = self.book({"S": [["iso"], [("iso", "2024-02-29T10:30:00")], [None], [("iso", "2024-03-01")]]})
        self.assertColumn(tabulon.read_frame(path)["iso"], "datetime64[ns]",
                          [pandas.Timestamp("2024-02-29 10:30"), None, pandas.Timestamp("2024-03-01")])

    def test_1904_date_system(self):
        path = self.book({"S": [["when", "custom"], [("date", 0), ("custom", 1.5)]]}, date1904=True)
        frame = tabulon.read_frame(path)
        self.assertEqual(frame.iloc[0].tolist(), [pandas.Timestamp("1904-01-01"),
                                                  pandas.Timestamp("1904-01-02 12:00")])

    def test_rows_inside_and_outside_the_values(self):
        path = self.book({"S": [[None, None], [None, "a", None, "b"], [], [None, 1, None, "x"],
                                [None, None, None, None], [None, 3]]})
        frame = tabulon.read_frame(path)
        # Columns from the first to the last holding a value, rows likewise;
        # the empty ones inside stay, all missing.
        self.assertEqual(list(frame.columns), ["a", "Unnamed: 1", "b"])
        self.assertColumn(frame["a"], "float64", [None, 1, None, 3])
        self.assertColumn(frame["Unnamed: 1"], "float64", [None] * 4)
        self.assertColumn(frame["b"], "object", [None, "x", None, None])

    def test_header_skiprows_nrows(self):
        path = self.book({"S": [["Report"], [], ["a", "b", "a", None, "a.1"],
                                [1, "x", True, 5, 6], [2, "y", False, 5, 6], [3, "z", True, 5, 6]]})
        cases = [
            # arguments, column names, column "a" or 0 (None: not checked)
            (dict(skiprows=2), ["a", "b", "a.2", "Unnamed: 3", "a.1"], [1, 2, 3]),
            (dict(skiprows=2, header=0), ["a", "b", "a.2", "Unnamed: 3", "a.1"], [1, 2, 3]),
            (dict(skiprows=2, nrows=2), ["a", "b", "a.2", "Unnamed: 3", "a.1"], [1, 2]),
            (dict(skiprows=2, nrows=0), ["a", "b", "a.2", "Unnamed: 3", "a.1"], []),
            (dict(skiprows=3, header=False), [0, 1, 2, 3, 4], [1, 2, 3]),
            (dict(skiprows=3, header=None, nrows=1), [0, 1, 2, 3, 4], [1]),
            # A header row of numbers and booleans names columns by their text.
            (dict(skiprows=3, nrows=10), ["1", "x", "1.1", "5", "6"], [2, 3]),
        ]
        for arguments, names, first in cases:
            with self.subTest(**arguments):
                frame = tabulon.read_frame(path, **arguments)
                self.assertEqual(list(frame.columns), names)
                self.assertEqual(frame.iloc[:, 0].tolist(), first)
                self.assertEqual(list(frame.index), list(range(len(first))))
        frame = tabulon.read_frame(path, skiprows=2, nrows=1)
        self.assertEqual(frame.iloc[0].tolist(), [1, "x", True, 5, 6])
        self.assertEqual(len(tabulon.read_frame(path, skiprows=50)), 0)
        # Without skiprows the title row names the first column.
        self.assertEqual(tabulon.read_frame(path).columns[0], "Report")

    def test_header_only_and_empty_sheets(self):
        path = self.book({"Empty": [], "Header": [["a", "b"]]})
        for header in [True, False]:
            self.assertEqual(tabulon.read_frame(path, "Empty", header).shape, (0, 0))
        frame = tabulon.read_frame(path, "Header")
        self.assertEqual((list(frame.columns), len(frame)), (["a", "b"], 0))

    def test_dtype(self):
        T = pandas.Timestamp
        path = self.book({"S": [
            ["n", "whole", "d", "f", "g", "t", "s", "e", "w"],
            [1, 1, ("date", 45000.5), True, True, "1", "2024-01-02", None, "x"],
            [2.5, None, None, False, None, "2.5", "2024-03-04 05:06", None, "y"],
        ]})
        cases = [
            # column, dtype, result dtype, values
            ("n", str, "object", ["1", "2.5"]),
            ("n", "str", "object", ["1", "2.5"]),
            ("n", object, "object", ["1", "2.5"]),
            ("n", "string", "string", ["1", "2.5"]),
            ("d", str, "object", ["2023-03-15 12:00:00", None]),
            ("f", "object", "object", ["1", "0"]),
            ("e", str, "object", [None, None]),
            ("whole", "Int64", "Int64", [1, None]),
            ("t", "float64", "float64", [1, 2.5]),
            ("t", float, "float64", [1, 2.5]),
            ("s", "datetime64[ns]", "datetime64[ns]", [T("2024-01-02"), T("2024-03-04 05:06")]),
            ("d", "datetime64[ns]", "datetime64[ns]", [T("2023-03-15 12:00"), None]),
            ("e", "datetime64[ns]", "datetime64[ns]", [None, None]),
            ("f", bool, "bool", [True, False]),
            ("g", "boolean", "boolean", [True, None]),
            ("w", "category", "category", ["x", "y"]),
        ]
        for name, dtype, result, values in cases:
            with self.subTest(column=name, dtype=dtype):
                frame = tabulon.read_frame(path, dtype={name: dtype})
                self.assertColumn(frame[name], result, values)
                # The other columns keep their guess.
                self.assertEqual(str(frame["w" if name != "w" else "n"].dtype),
                                 "object" if name != "w" else "float64")
        everything = tabulon.read_frame(path, dtype=str)
        self.assertEqual(everything.iloc[0].tolist(),
                         ["1", "1", "2023-03-15 12:00:00", "1", "1", "1", "2024-01-02", None, "x"])
        failures = [
            # dtype, exception, text in its message
            ({"nope": str}, ValueError, "'nope'"),
            ({"n": "datetime64[ns]"}, ValueError, "column 'n' cannot be made datetime64[ns]"),
            ({"g": bool}, ValueError, "missing values"),
            ({"w": "float64"}, ValueError, "column 'w'"),
            ({"n": "no such type"}, TypeError, "column 'n'"),
        ]
        for dtype, error, message in failures:
            with self.subTest(dtype=dtype):
                with self.assertRaises(error) as caught:
                    tabulon.read_frame(path, dtype=dtype)
                self.assertIn(message, str(caught.exception))

    def test_bad_arguments(self):
        for arguments, error in [
            (dict(skiprows=-1), ValueError), (dict(skiprows="2"), TypeError),
            (dict(skiprows=True), TypeError), (dict(nrows=1.5), TypeError),
            (dict(nrows=-2), ValueError), (dict(header=2), ValueError),
        ]:
            with self.subTest(**arguments):
                with self.assertRaises(error):
                    tabulon.read_frame(SAMPLE, **arguments)

    def test_failures_and_the_library_structs(self):
        # Every struct the library hands out is released once, on success and
        # on failure alike, and failures name the sheet and the reason.
        released = []
        real = tabulon._arrow.release

        def counting(structure):
            released.append(bool(structure.release))
            real(structure)
            self.assertFalse(structure.release)

        ods = os.path.join(self.dir, "table.ods")
        with zipfile.ZipFile(ods, "w") as z:
            z.writestr("mimetype", "application/vnd.oasis.opendocument.spreadsheet")
        partless = self.book({"Gone": None, "Here": [[1]]})
        with unittest.mock.patch.object(tabulon._arrow, "release", counting):
            self.assertEqual(tabulon.read_frame(partless, "Here", header=False)[0].tolist(), [1])
            self.assertEqual(released, [True, True])
            released.clear()
            with self.assertRaises(tabulon.TabulonError) as caught:
                tabulon.read_frame(partless, "Gone")
            self.assertIn("sheet 'Gone' of %s cannot be read: " % partless, str(caught.exception))
            self.assertEqual(released, [])
        self.assertEqual(tabulon.read_frame(partless, "Here", header=False).shape, (1, 1))


# The examples of the README section for the module, verbatim: each block
# runs in the source folder and prints exactly its '# -> ' lines.
README_EXAMPLES = [
    '''\
import tabulon

print(tabulon.sheet_names("examples/sample.xlsx"))
# -> ['Sales', 'Übersicht', 'Notes']
print(tabulon.read_sheet("examples/sample.xlsx", "Übersicht")[1])
# -> ['North', 'Åsa Lindqvist', '2023-12-30 09:00:00']
try:
    tabulon.read_sheet("examples/sample.xlsx", "Summary")
except ValueError as error:
    print(error)
# -> no sheet 'Summary' in examples/sample.xlsx; its sheets: 'Sales', 'Übersicht', 'Notes'
''',
    '''\
import tabulon

book = "examples/sample.xlsx"
frame = tabulon.read_frame(book)  # first sheet, first row as header
print(list(frame.dtypes.astype(str)))
# -> ['datetime64[ns]', 'object', 'object', 'float64', 'float64', 'boolean']
print(frame["Units"].sum(), frame["Date"].max(), len(frame))
# -> 1257.0 2024-01-07 00:00:00 6
first = tabulon.read_frame(book, "Sales", nrows=2, dtype={"Units": "Int64", "Paid": str})
print(first[["Units", "Paid"]].values.tolist())
# -> [[120, '1'], [800, '1']]
print(tabulon.read_frame(book, "Notes", header=False, skiprows=1)[0].tolist())
# -> [None, 'Prices in EUR; units per day.']
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
# -> README.md: not a workbook: a text file (CSV or other plain text)
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
