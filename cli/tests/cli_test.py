"""The command-line program, the C host example, the bundled sample, the
README's examples and the installed layout."""
import csv
import struct
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

CLI = os.environ["TABULON_CLI"]
HOST = os.environ["TABULON_EXAMPLE_HOST"]
LIBRARY = os.environ["TABULON_LIBRARY"]
BUILD = os.environ["TABULON_BUILD_DIR"]
SOURCE = os.environ["TABULON_SOURCE_DIR"]
PYTHON_DIR = os.environ.get("TABULON_PYTHON_INSTALL_DIR", "lib/python3/dist-packages")
SAMPLE = os.path.join(SOURCE, "examples", "sample.xlsx")
SHEETS = "Sales\nÜbersicht\nNotes\n"

SALES = (
    "Date;Region;Product;Units;Unit price;Paid;\n"
    "2024-01-01 00:00:00;North;Notebook;120;2.5;1;\n"
    "2024-01-02 00:00:00;South;Pencil;800;0.35;1;\n"
    "2024-01-03 00:00:00;East;Eraser;250;0.8;0;\n"
    "2024-01-06 00:00:00;West;Notebook;75;2.5;1;\n"
    "2024-01-07 00:00:00;North;Stapler;12;14.99;;\n"
)


def run(*args, cli=CLI, **options):
    return subprocess.run([cli, *args], capture_output=True, text=True, **options)


def write_book(path, sheets):
    """A workbook of inline-string and number cells: sheets maps each sheet
    name to its sheetData content (None: the sheet has no part)."""
    entries = "".join('<sheet name="%s" sheetId="%d"/>' % (name, i)
                      for i, name in enumerate(sheets, start=1))
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("xl/workbook.xml", "<workbook><sheets>%s</sheets></workbook>" % entries)
        for i, rows in enumerate(sheets.values(), start=1):
            if rows is not None:
                z.writestr("xl/worksheets/sheet%d.xml" % i,
                           "<worksheet><sheetData>%s</sheetData></worksheet>" % rows)


def text_cell(ref, text):
    return '<c r="%s" t="inlineStr"><is><t xml:space="preserve">%s</t></is></c>' % (ref, text)


def number_cell(ref, number):
    return '<c r="%s"><v>%s</v></c>' % (ref, number)


def compound_file(names):
    """A compound file (the container of .xls and of encrypted workbooks)
    of 512-byte sectors whose directory lists the given stream names."""
    entries = ["Root Entry"] + list(names)
    dir_sectors = (len(entries) + 3) // 4
    header = bytearray(512)
    header[0:8] = b"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"
    struct.pack_into("<HHHHH", header, 24, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIII", header, 44, 1, 1, 0, 4096, 0xFFFFFFFE, 0, 0xFFFFFFFE, 0)
    struct.pack_into("<I", header, 76, 0)
    for i in range(1, 109):
        struct.pack_into("<I", header, 76 + 4 * i, 0xFFFFFFFF)
    fat = [0xFFFFFFFD] + [2 + s if s + 1 < dir_sectors else 0xFFFFFFFE for s in range(dir_sectors)]
    fat += [0xFFFFFFFF] * (128 - len(fat))
    directory = bytearray(512 * dir_sectors)
    for e, name in enumerate(entries):
        encoded = name.encode("utf-16-le")
        directory[128 * e:128 * e + len(encoded)] = encoded
        struct.pack_into("<HB", directory, 128 * e + 64, len(encoded) + 2, 5 if e == 0 else 2)
    return bytes(header) + struct.pack("<128I", *fat) + bytes(directory)


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def test_custom_date_formats_are_dates(self):
        # The library's getSheetData keeps such cells as serials; the program
        # writes them as dates, in text and CSV alike.
        book = self.path("dates.xlsx")
        with zipfile.ZipFile(book, "w") as z:
            z.writestr("xl/workbook.xml", '<workbook><sheets><sheet name="D" sheetId="1"/></sheets></workbook>')
            z.writestr("xl/styles.xml",
                       '<styleSheet><numFmts><numFmt numFmtId="164" formatCode="dd/mm/yyyy hh:mm"/>'
                       '<numFmt numFmtId="165" formatCode="0.0&quot; kg&quot;"/></numFmts>'
                       '<cellXfs><xf numFmtId="0"/><xf numFmtId="164"/><xf numFmtId="165"/></cellXfs></styleSheet>')
            z.writestr("xl/worksheets/sheet1.xml",
                       '<worksheet><sheetData><row r="1"><c r="A1" s="1"><v>45000.75</v></c>'
                       '<c r="B1" s="2"><v>1.5</v></c></row></sheetData></worksheet>')
        for args, expected in [((book,), "2023-03-15 18:00:00;1.5;\n"),
                               (("--csv", book), "2023-03-15 18:00:00,1.5\n")]:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, expected)

    def test_outputs_and_exit_codes(self):
        text_file = self.path("notes.xlsx")
        with open(text_file, "w") as f:
            f.write("not a workbook\n" * 10)
        empty_file = self.path("empty.xlsx")
        open(empty_file, "w").close()
        broken = self.path("broken.xlsx")  # a zip, but no workbook part
        with zipfile.ZipFile(broken, "w") as z:
            z.writestr("xl/styles.xml", "<styleSheet/>")
        protected, legacy = self.path("protected.xlsx"), self.path("old.xls")
        with open(protected, "wb") as f:
            f.write(compound_file(["EncryptionInfo", "EncryptedPackage"]))
        with open(legacy, "wb") as f:
            f.write(compound_file(["Workbook"]))
        books = {
            "formats.xlsx": {"F": '<row r="1"><c r="A1" s="1"/></row>'},
            "nopart.xlsx": {"Gone": None},
            "nosheets.xlsx": {},
            "blank.xlsx": {"Blank": "", "Full": '<row r="1">%s</row>' % number_cell("A1", 7)},
            "dash.xlsx": {"-x": '<row r="1">%s</row>' % number_cell("A1", 1)},
        }
        for name, sheets in books.items():
            write_book(self.path(name), sheets)
        cases = [
            # arguments, exit status, standard output, text in standard error
            ((), 0, SALES, ""),
            ((SAMPLE,), 0, SALES, ""),
            ((SAMPLE, "Sales"), 0, SALES, ""),
            (("--list", SAMPLE), 0, SHEETS, ""),
            ((SAMPLE, "--list"), 0, SHEETS, ""),
            (("--list",), 0, SHEETS, ""),
            (("--version",), 0, "Tabulon - Version 0.2.60 - Merrowind\n", ""),
            ((self.path("blank.xlsx"), "Blank"), 0, "", "holds no values"),
            ((self.path("blank.xlsx"), "Full"), 0, "7;\n", ""),
            (("--", self.path("dash.xlsx"), "-x"), 0, "1;\n", ""),
            ((SAMPLE, "Nope"), 5, "", "its sheets: 'Sales', 'Übersicht', 'Notes'"),
            ((SAMPLE, "sales"), 5, "", "no sheet 'sales'"),
            ((self.path("nosheets.xlsx"),), 5, "", "no sheets"),
            ((self.path("missing.xlsx"),), 3, "", "No such file"),
            ((self.dir,), 3, "", "not a regular file"),
            (("/dev/null",), 3, "", "not a regular file"),
            ((text_file,), 9, "", "not a workbook: a text file"),
            ((empty_file,), 4, "", "not a workbook"),
            ((broken,), 4, "", "not a workbook"),
            ((self.path("nopart.xlsx"),), 6, "", "cannot be read"),
            ((protected,), 8, "", "protected.xlsx: password-protected; save it without a password"),
            ((legacy,), 9, "", "old.xls: a legacy .xls workbook"),
            ((self.path("formats.xlsx"),), 0, "", "holds no values (its part holds 1 cell element,"),
            (("--bogus",), 2, "", "unknown option --bogus"),
            ((SAMPLE, "Sales", "extra"), 2, "", "too many arguments"),
            (("--list", SAMPLE, "Sales"), 2, "", "too many arguments"),
            (("--list", "--csv", SAMPLE), 2, "", "do not go together"),
        ]
        for args, status, out, err in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(result.stdout, out)
                self.assertIn(err, result.stderr)
                if result.stderr:
                    self.assertTrue(result.stderr.startswith("tabulon: "), result.stderr)
                if status == 2:
                    self.assertIn("tabulon --help", result.stderr)

    def test_standard_input_reads_as_the_file(self):
        with open(SAMPLE, "rb") as f:
            sample = f.read()
        cases = [
            # arguments besides "-", what the file gives
            ((), (SAMPLE,)), (("Notes",), (SAMPLE, "Notes")), (("--csv",), ("--csv", SAMPLE)),
            (("--list",), ("--list", SAMPLE)), (("Nope",), (SAMPLE, "Nope")),
        ]
        for args, same in cases:
            with self.subTest(args=args):
                args = ("-",) + args if args != ("--list",) and args != ("--csv",) else args + ("-",)
                result = subprocess.run([CLI, *args], input=sample, capture_output=True)
                expected = subprocess.run([CLI, *same], capture_output=True)
                self.assertEqual((result.returncode, result.stdout), (expected.returncode, expected.stdout))
                self.assertEqual(result.stderr.replace(b"standard input", SAMPLE.encode()), expected.stderr)
        # Bad bytes are refused as the same bytes in a file are.
        # (A text file is named as one: exit 9, a file of another format.)
        for what, data, status in [("empty", b"", 4), ("text", b"not a workbook\n" * 20, 9),
                                   ("truncated", sample[:1000], 4), ("end cut off", sample[:-30], 4)]:
            with self.subTest(bad=what):
                with open(self.path("bad.xlsx"), "wb") as f:
                    f.write(data)
                result = subprocess.run([CLI, "-"], input=data, capture_output=True, text=False)
                expected = run(self.path("bad.xlsx"))
                self.assertEqual(result.returncode, status)
                self.assertEqual(result.returncode, expected.returncode)
                self.assertEqual(result.stderr.decode().replace("standard input", self.path("bad.xlsx")),
                                 expected.stderr)
        result = run("--out", self.dir, "-")
        self.assertEqual(result.returncode, 2)
        self.assertIn("without --out only", result.stderr)

    @unittest.skipIf(os.geteuid() == 0, "root reads every file")
    def test_unreadable_file(self):
        shutil.copy(SAMPLE, self.path("locked.xlsx"))
        os.chmod(self.path("locked.xlsx"), 0)
        result = run(self.path("locked.xlsx"))
        self.assertEqual((result.returncode, result.stdout), (3, ""))
        self.assertIn("Permission denied", result.stderr)

    def test_output_that_cannot_be_written(self):
        with open("/dev/full", "w") as full:
            result = subprocess.run([CLI, SAMPLE], stdout=full, stderr=subprocess.PIPE, text=True)
        self.assertEqual(result.returncode, 7)
        self.assertIn("tabulon: cannot write the output", result.stderr)

    def test_help_names_every_exit_status_and_the_sample(self):
        result = run("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("usage: tabulon", result.stdout)
        for status in ["0 done", "2 usage error", "3 no such file", "4 not a workbook",
                       "5 no such sheet", "6 the sheet\ncannot be read", "7 the output",
                       "8 the workbook is\npassword-protected", "9 a file of another format"]:
            self.assertIn(status, result.stdout)
        self.assertIn("bundled sample: " + SAMPLE, result.stdout)


class Batch(unittest.TestCase):
    """--out: many workbooks, one file per sheet, worker processes."""

    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.out = os.path.join(self.dir, "out")

    def path(self, *names):
        return os.path.join(self.dir, *names)

    def book(self, name, sheets):
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        write_book(self.path(name), {sheet: '<row r="1">%s</row>' % text_cell("A1", text)
                                     for sheet, text in sheets.items()})
        return self.path(name)

    def batch(self, *args, **options):
        return run("--out", self.out, *args, **options)

    def written(self):
        return sorted(os.listdir(self.out)) if os.path.isdir(self.out) else []

    def test_every_sheet_as_single_conversion_writes_it(self):
        other = self.book("other.xlsx", {"One": "x", "Two": "y,z"})
        result = self.batch("--csv", "--sheet", "all", SAMPLE, other)
        self.assertEqual(result.returncode, 0, result.stderr)
        names = ["sample.Sales.csv", "sample.Übersicht.csv", "sample.Notes.csv",
                 "other.One.csv", "other.Two.csv"]
        # Listed in workbook and sheet order, whatever order the workers finished in.
        self.assertEqual(result.stdout, "".join(os.path.join(self.out, n) + "\n" for n in names))
        self.assertEqual(self.written(), sorted(names))
        for book, sheet, name in [(SAMPLE, "Sales", names[0]), (SAMPLE, "Übersicht", names[1]),
                                  (SAMPLE, "Notes", names[2]), (other, "Two", names[4])]:
            with open(os.path.join(self.out, name), newline="", encoding="utf-8") as f:
                self.assertEqual(f.read(), run("--csv", book, sheet).stdout.replace("\n", "\r\n"))
        self.assertIn("2 of 2 workbooks converted (5 files)", result.stderr)

    def test_sheet_choice_and_file_names(self):
        book = self.book("my book.v2.xlsx", {"a/b": "1", "a_b": "2", "Q1.2024": "3", "all": "4",
                                             "7": "5", "-x *?": "6"})
        cases = [
            # --sheet, files written (none: usage error)
            (None, ["my_book_v2.a_b.txt"]),
            ("2", ["my_book_v2.a_b~2.txt"]),
            ("a_b", ["my_book_v2.a_b~2.txt"]),
            ("Q1.2024", ["my_book_v2.Q1_2024.txt"]),
            ("=all", ["my_book_v2.all.txt"]),
            ("=7", ["my_book_v2.7.txt"]),
            ("5", ["my_book_v2.7.txt"]),
            ("-x *?", ["my_book_v2._x___.txt"]),
            ("all", ["my_book_v2.a_b.txt", "my_book_v2.a_b~2.txt", "my_book_v2.Q1_2024.txt", "my_book_v2.all.txt",
                     "my_book_v2.7.txt", "my_book_v2._x___.txt"]),
        ]
        for sheet, files in cases:
            with self.subTest(sheet=sheet):
                shutil.rmtree(self.out, ignore_errors=True)
                result = self.batch(*(["--sheet", sheet] if sheet else []), book)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout.splitlines(), [os.path.join(self.out, f) for f in files])
                self.assertEqual(self.written(), sorted(files))
        with open(os.path.join(self.out, "my_book_v2.Q1_2024.txt"), encoding="utf-8") as f:
            self.assertEqual(f.read(), "3;\n")

    def test_threads_write_what_processes_write(self):
        other = self.book("other.xlsx", {"One": "x", "Two": "y,z"})
        missing = self.path("missing.xlsx")
        outputs = []
        for mode in [(), ("--threads",)]:
            shutil.rmtree(self.out, ignore_errors=True)
            result = self.batch("--csv", "--sheet", "all", "--jobs", "2", *mode, SAMPLE, missing, other)
            self.assertEqual(result.returncode, 3, result.stderr)
            contents = {}
            for name in self.written():
                with open(os.path.join(self.out, name), "rb") as f:
                    contents[name] = f.read()
            outputs.append((result.stdout, contents, "missing.xlsx: No such file" in result.stderr))
        self.assertEqual(outputs[0], outputs[1])
        self.assertEqual(len(outputs[0][1]), 5)

    def test_an_interrupted_batch_leaves_no_temporary_files(self):
        # Big sheets, so that files are being written most of the time.
        row = "".join(text_cell("%s1" % c, "some text to write out, quite a lot of it " * 3) for c in "ABCDEFGH")
        rows = "".join('<row r="%d">%s</row>' % (r, row.replace("1\"", "%d\"" % r)) for r in range(1, 5001))
        books = []
        for i in range(6):
            books.append(self.path("big%d.xlsx" % i))
            write_book(books[-1], {"S": rows})
        for mode, how in [((), "group"), (("--threads",), "group"), ((), "main process")]:
            with self.subTest(mode=mode, signal_to=how):
                # A file is being written only for moments: a batch that ends
                # before one is seen is run again (a few times at most).
                caught = False
                for _ in range(5):
                    shutil.rmtree(self.out, ignore_errors=True)
                    os.makedirs(self.out)
                    process = subprocess.Popen([CLI, "--out", self.out, "--jobs", "2", "--force", *mode, *books],
                                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                               start_new_session=True)
                    while process.poll() is None and not caught:
                        if any(".part-" in name for name in os.listdir(self.out)):
                            os.killpg(process.pid, signal.SIGSTOP)
                            # Still there while everything stands still: interrupt now.
                            caught = any(".part-" in name for name in os.listdir(self.out))
                            if caught:
                                if how == "group":
                                    os.killpg(process.pid, signal.SIGINT)
                                else:
                                    os.kill(process.pid, signal.SIGTERM)
                            os.killpg(process.pid, signal.SIGCONT)
                    process.communicate(timeout=120)
                    if caught:
                        break
                self.assertTrue(caught, "the batch ended before a file was caught being written, five times")
                self.assertLess(process.returncode, 0)
                # Workers that got the signal from the main process end a moment later.
                deadline = time.monotonic() + 10
                while time.monotonic() < deadline and any(".part-" in n for n in os.listdir(self.out)):
                    time.sleep(0.05)
                self.assertEqual([n for n in os.listdir(self.out) if ".part-" in n], [])

    def test_workbooks_of_the_same_name_do_not_collide(self):
        books = [self.book(name, {"S": name}) for name in
                 ["2023/jan/book.xlsx", "2024/jan/book.xlsx", "2024/book.xlsx", "book.xlsm"]]
        books.append(books[0])  # the same workbook twice
        result = self.batch(*books, "--jobs", "2")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([os.path.basename(line) for line in result.stdout.splitlines()],
                         ["2023_jan_book.S.txt", "2024_jan_book.S.txt", "2024_book.S.txt",
                          os.path.basename(self.dir) + "_book.S.txt", "2023_jan_book~2.S.txt"])
        with open(os.path.join(self.out, "2024_book.S.txt")) as f:
            self.assertEqual(f.read(), "2024/book.xlsx;\n")

    def test_existing_files_are_kept_unless_forced(self):
        first = self.batch("--csv", SAMPLE)
        self.assertEqual(first.returncode, 0, first.stderr)
        target = os.path.join(self.out, "sample.Sales.csv")
        with open(target, "w") as f:
            f.write("mine\n")
        again = self.batch("--csv", SAMPLE, "--sheet", "all")
        self.assertEqual((again.returncode, again.stdout), (7, ""))
        self.assertIn("sample.Sales.csv exists (pass --force to replace it)", again.stderr)
        # Nothing of that workbook was written, and no temporary file is left.
        self.assertEqual(self.written(), ["sample.Sales.csv"])
        with open(target) as f:
            self.assertEqual(f.read(), "mine\n")
        forced = self.batch("--csv", "--force", SAMPLE)
        self.assertEqual(forced.returncode, 0, forced.stderr)
        with open(target, newline="") as f:
            self.assertEqual(f.read(), SALES.replace(";\n", "\r\n").replace(";", ","))
        self.assertEqual(self.written(), ["sample.Sales.csv"])

    def test_a_bad_workbook_does_not_stop_the_others(self):
        not_book = self.path("notes.xlsx")
        with open(not_book, "w") as f:
            f.write("not a workbook\n")
        good = self.book("good.xlsx", {"Sales": "fine"})
        missing = self.path("missing.xlsx")
        nopart = self.path("nopart.xlsx")
        write_book(nopart, {"Sales": None})
        cases = [
            # workbooks, --sheet, exit status, texts in standard error, files written
            ([missing, good], "Sales", 3, ["missing.xlsx: No such file"], ["good.Sales.txt"]),
            ([good, not_book], "1", 9, ["notes.xlsx: not a workbook"], ["good.Sales.txt"]),
            ([self.dir, good], "Sales", 3, [self.dir + ": not a regular file"], ["good.Sales.txt"]),
            ([SAMPLE, good], "Notes", 5, ["no sheet 'Notes' in %s; its sheets: 'Sales'" % good],
             ["sample.Notes.txt"]),
            ([SAMPLE, good], "3", 5, ["has no sheet number 3 (counted from 1); its sheets: 'Sales'"],
             ["sample.Notes.txt"]),
            ([good], "99999999999999999999", 5, ["has no sheet number 99999999999999999999"], []),
            ([good, nopart], "Sales", 6, ["sheet 'Sales' of %s cannot be read" % nopart], ["good.Sales.txt"]),
            ([missing, not_book, SAMPLE, good], "Sales", 1,
             ["missing.xlsx: No such file", "notes.xlsx: not a workbook"],
             ["good.Sales.txt", "sample.Sales.txt"]),
        ]
        for books, sheet, status, errors, files in cases:
            with self.subTest(books=[os.path.basename(b) for b in books], sheet=sheet):
                shutil.rmtree(self.out, ignore_errors=True)
                result = self.batch("--sheet", sheet, *books)
                self.assertEqual(result.returncode, status, result.stderr)
                for error in errors:
                    self.assertIn(error, result.stderr)
                for line in result.stderr.splitlines():
                    self.assertTrue(line.startswith("tabulon: "), line)
                self.assertEqual(self.written(), files)
                self.assertIn("%d failed" % (len(books) - len(files)), result.stderr)

    def test_usage_errors(self):
        cases = [
            (("--sheet", "all", SAMPLE), "go with --out"),
            (("--force", SAMPLE), "go with --out"),
            (("--jobs", "2", SAMPLE), "go with --out"),
            (("--out", self.out), "needs at least one workbook"),
            (("--out", self.out, "--sheet", "0", SAMPLE), "count from 1"),
            (("--out", self.out, "--sheet=", SAMPLE), "--sheet needs a sheet"),
            (("--out", self.out, "--jobs", "x", SAMPLE), "--jobs needs a number"),
            (("--out", self.out, "--jobs", "0", SAMPLE), "--jobs needs a number"),
            (("--out", self.out, "--jobs=", SAMPLE), "--jobs needs a value"),
            (("--out", self.out, "--list", SAMPLE), "do not go together"),
            (("--out",), "--out needs a value"),
            (("--out=", SAMPLE), "--out needs a folder"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(self.out))

    def test_an_output_folder_that_cannot_be_made(self):
        blocker = self.path("file")
        open(blocker, "w").close()
        result = run("--out", os.path.join(blocker, "sub"), SAMPLE)
        self.assertEqual(result.returncode, 7)
        self.assertIn("cannot make the output folder", result.stderr)
        result = run("--out", blocker, SAMPLE)
        self.assertEqual(result.returncode, 7)
        self.assertIn("not a folder", result.stderr)

    def test_progress_line_only_on_a_terminal(self):
        import pty
        books = [self.book("b%d.xlsx" % i, {"S": str(i)}) for i in range(6)]
        leader, follower = pty.openpty()
        try:
            result = subprocess.run([CLI, "--out", self.out, *books], stdout=subprocess.PIPE,
                                    stderr=follower, text=True)
            os.close(follower)
            follower = None
            seen = b""
            while True:
                try:
                    chunk = os.read(leader, 4096)
                except OSError:  # the terminal's other end is closed
                    break
                if not chunk:
                    break
                seen += chunk
        finally:
            os.close(leader)
            if follower is not None:
                os.close(follower)
        self.assertEqual(result.returncode, 0)
        shown = seen.decode()
        self.assertRegex(shown, r"\rtabulon: 6/6 workbooks, [0-9.]+/s, 0:00 left")
        self.assertIn("6 of 6 workbooks converted (6 files)", shown)
        plain = self.batch("--force", *books)
        self.assertNotIn("\r", plain.stderr)
        self.assertEqual(plain.stderr.count("\n"), 1, plain.stderr)


class Csv(unittest.TestCase):
    def convert(self, rows_xml):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "q.xlsx")
            write_book(path, {"S": rows_xml})
            result = subprocess.run([CLI, "--csv", path], capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.decode()

    def test_quoting_and_record_ends(self):
        # Fields that need quotes: a comma, a quote, a line feed; the last
        # column is empty in every row but stays a field.
        out = self.convert(
            '<row r="1">%s%s%s</row><row r="2">%s%s</row>' % (
                text_cell("A1", "a,b"), text_cell("B1", 'say "hi"'), number_cell("D1", 1),
                text_cell("A2", "two\nlines"), number_cell("B2", 2)))
        self.assertEqual(out.replace("\r\n", "|"), '"a,b","say ""hi""",,1|"two\nlines",2,,|')

    def test_every_character_of_a_cell_is_kept(self):
        # Carriage returns, ';' and quotes stay, quoted as RFC 4180 asks (a
        # raw CR LF in XML text reads as LF, as any XML reader has it).
        out = self.convert('<row r="1">%s%s%s</row>' % (
            text_cell("A1", "right,_x000D__x000D_This"), text_cell("B1", "a;b"),
            text_cell("C1", 'end\r\n"q"')))
        records = list(csv.reader(io.StringIO(out, newline="")))
        self.assertEqual(records, [["right,\r\rThis", "a;b", 'end\n"q"']])

    def test_rows_end_at_the_last_column_holding_a_value(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "wide.xlsx")
            with zipfile.ZipFile(path, "w") as z:
                z.writestr("xl/workbook.xml", '<workbook><sheets><sheet name="W" sheetId="1"/></sheets></workbook>')
                z.writestr("xl/worksheets/sheet1.xml",
                           '<worksheet><dimension ref="A1:XFD1048576"/><sheetData><row r="1">%s</row>'
                           '<row r="2">%s</row></sheetData></worksheet>'
                           % (number_cell("A1", 1), number_cell("C2", 3)))
            self.assertEqual(run(path).stdout, "1;;;\n;;3;\n")
            self.assertEqual(run("--csv", path).stdout, "1,,\n,,3\n")

    def test_line_feeds_anywhere_in_a_row_keep_the_row_whole(self):
        # A line feed at the start of a cell ends a line of the text right
        # after a ';', which alone does not end the row.
        cases = [
            ["\nstart", "x", "y"],
            ["x", "\nstart", "y"],
            ["x", "y", "end\n"],
            ["a\n\nb", "", "c\nd"],
        ]
        for cells in cases:
            with self.subTest(cells=cells):
                row = "".join(text_cell("%s1" % "ABC"[i], text) for i, text in enumerate(cells) if text)
                out = self.convert('<row r="1">%s</row><row r="2">%s</row>'
                                   % (row, number_cell("A2", 5)))
                records = list(csv.reader(io.StringIO(out, newline="")))
                self.assertEqual(records, [cells, ["5", "", ""]])

    def test_sample(self):
        result = run("--csv", SAMPLE, "Sales")
        self.assertEqual(result.returncode, 0, result.stderr)
        expected = SALES.replace(";\n", "\r\n").replace(";", ",")
        self.assertEqual(result.stdout, expected.replace("\r\n", "\n"))  # text mode reads CRLF as LF
        raw = subprocess.run([CLI, "--csv"], capture_output=True).stdout
        self.assertEqual(raw.decode(), expected)


class Sample(unittest.TestCase):
    def test_sample_is_what_its_script_writes(self):
        with tempfile.TemporaryDirectory() as d:
            fresh = os.path.join(d, "sample.xlsx")
            subprocess.run([sys.executable, os.path.join(SOURCE, "examples", "make_sample.py"), fresh],
                           check=True)
            with zipfile.ZipFile(fresh) as a, zipfile.ZipFile(SAMPLE) as b:
                members = [(i.filename, a.read(i)) for i in a.infolist()]
                committed = [(i.filename, b.read(i)) for i in b.infolist()]
            self.assertEqual(members, committed,
                             "examples/sample.xlsx is stale: run examples/make_sample.py")

    def test_every_sheet_renders(self):
        for sheet in SHEETS.split():
            with self.subTest(sheet=sheet):
                result = run(SAMPLE, sheet)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertTrue(result.stdout.endswith(";\n"), result.stdout)


class ExampleHost(unittest.TestCase):
    def test_c_host_prints_every_sheet(self):
        result = subprocess.run([HOST, LIBRARY, SAMPLE], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stdout.startswith(
            "== Sales\n" + SALES + "== Übersicht\nRegion;Manager;Last review;\n"))
        self.assertIn("== Notes\nFigures are illustrative.;\nPrices in EUR units per day.;\n", result.stdout)

    def test_c_host_reports_failures(self):
        for args in [(LIBRARY,), (LIBRARY, os.path.join(SOURCE, "README.md")),
                     (os.path.join(SOURCE, "README.md"), SAMPLE)]:
            with self.subTest(args=args):
                result = subprocess.run([HOST, *args], capture_output=True, text=True)
                self.assertNotEqual(result.returncode, 0)
                self.assertEqual(result.stdout, "")
                self.assertTrue(result.stderr)


def readme():
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
        return f.read()


class Readme(unittest.TestCase):
    def test_shell_examples(self):
        """Every '$ tabulon ...' line of a console block in the README, run in
        the source folder, prints the lines that follow it."""
        blocks = re.findall(r"```console\n(.*?)```", readme(), re.S)
        self.assertTrue(blocks)
        for block in blocks:
            for command, expected in re.findall(r"^\$ (tabulon[^\n]*)\n((?:(?!\$ )[^\n]*\n)*)", block, re.M):
                with self.subTest(command=command):
                    args = command.split()[1:]
                    stdin = None
                    if "<" in args:  # "< FILE": standard input from the file
                        at = args.index("<")
                        stdin = open(os.path.join(SOURCE, args[at + 1]), "rb")
                        del args[at:at + 2]
                    with stdin or open(os.devnull, "rb") as given:
                        result = run(*args, cwd=SOURCE, stdin=given)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(result.stdout.replace("\r\n", "\n"), expected)

    def test_python_examples(self):
        """Every python block of the README runs in the source folder without
        an error; a line '# -> TEXT' after a print states what it prints."""
        blocks = re.findall(r"```python\n(.*?)```", readme(), re.S)
        if not blocks:
            self.skipTest("the README has no Python example")
        has_pandas = subprocess.run([sys.executable, "-c", "import pandas"],
                                    capture_output=True).returncode == 0
        for block in blocks:
            with self.subTest(block=block.splitlines()[0]):
                if "read_frame" in block and not has_pandas:
                    continue  # pandas is optional
                result = subprocess.run([sys.executable, "-c", block], capture_output=True,
                                        text=True, cwd=SOURCE)
                self.assertEqual(result.returncode, 0, result.stderr)
                expected = re.findall(r"^# -> (.*)$", block, re.M)
                if expected:
                    self.assertEqual(result.stdout.splitlines(), expected)

    def test_r_examples(self):
        """The README's 'R CMD INSTALL r' line installs the package (into a
        temporary library); then every r block runs in the source folder
        without an error, printing what its '# -> TEXT' lines state."""
        installs = re.findall(r"^(R CMD INSTALL r)\b", readme(), re.M)
        blocks = re.findall(r"```r\n(.*?)```", readme(), re.S)
        if not blocks:
            self.skipTest("the README has no R example")
        self.assertTrue(installs, "the README shows no 'R CMD INSTALL r'")
        if shutil.which("R") is None or shutil.which("Rscript") is None:
            self.skipTest("R is not installed")
        with tempfile.TemporaryDirectory() as library:
            # R CMD INSTALL puts the package into the first folder of R_LIBS.
            env = dict(os.environ, R_LIBS=library)
            result = subprocess.run(installs[0], shell=True, capture_output=True, text=True,
                                    cwd=SOURCE, env=env)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            for block in blocks:
                with self.subTest(block=block.splitlines()[0]):
                    result = subprocess.run(["Rscript", "-e", block], capture_output=True,
                                            text=True, cwd=SOURCE, env=env)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    expected = re.findall(r"^# -> (.*)$", block, re.M)
                    self.assertEqual(result.stdout.splitlines(), expected)

    def test_c_handles_command(self):
        """The README's command that builds and runs the handles example."""
        commands = re.findall(r"^(cc [^\n]*examples/handles\.c[^\n]*)$", readme(), re.M)
        if not commands:
            self.skipTest("the README shows no handles example")
        if shutil.which("cc") is None:
            self.skipTest("no C compiler")
        with tempfile.TemporaryDirectory() as d:
            for folder in ["examples", "include"]:
                shutil.copytree(os.path.join(SOURCE, folder), os.path.join(d, folder))
            os.makedirs(os.path.join(d, "build"))
            os.symlink(LIBRARY, os.path.join(d, "build", "tabulon.so"))
            result = subprocess.run(commands[0], shell=True, capture_output=True, text=True, cwd=d)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout.splitlines()[:3],
                             ["Sales: 6 lines", "Übersicht: 4 lines", "Notes: 2 lines"])
            self.assertIn("closed twice: the workbook handle is not open", result.stdout)

    def test_c_host_command(self):
        """The README's command that builds and runs the C host."""
        commands = re.findall(r"^(cc examples/host\.c[^\n]*)$", readme(), re.M)
        if not commands:
            self.skipTest("the README shows no C host command")
        cc = shutil.which("cc")
        if cc is None:
            self.skipTest("no C compiler")
        with tempfile.TemporaryDirectory() as d:
            shutil.copytree(os.path.join(SOURCE, "examples"), os.path.join(d, "examples"))
            os.makedirs(os.path.join(d, "build"))
            os.symlink(LIBRARY, os.path.join(d, "build", "tabulon.so"))
            for command in commands:
                result = subprocess.run(command, shell=True, capture_output=True, text=True, cwd=d)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertTrue(result.stdout.startswith("== Sales\n" + SALES), result.stdout)


class Install(unittest.TestCase):
    def test_installed_layout_works(self):
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True,
                           capture_output=True)
            lib = next(os.path.join(root, "tabulon.so") for root, _, files in os.walk(prefix)
                       if "tabulon.so" in files and "pkgconfig" not in root
                       and not os.path.islink(os.path.join(root, "tabulon.so")))
            for path in ["include/tabulon.h", "share/tabulon/sample.xlsx", "bin/tabulon"]:
                self.assertTrue(os.path.isfile(os.path.join(prefix, path)), path)
            # The program finds the installed library and sample, not the build tree's.
            cli = os.path.join(prefix, "bin", "tabulon")
            env = {k: v for k, v in os.environ.items() if not k.startswith("TABULON_")}
            ldd = subprocess.run(["ldd", cli], capture_output=True, text=True).stdout
            self.assertIn(os.path.realpath(lib), [os.path.realpath(p) for p in re.findall(r"=> (\S+)", ldd)])
            result = run(cli=cli, env=env)
            self.assertEqual((result.returncode, result.stdout), (0, SALES), result.stderr)
            self.assertIn(os.path.join(prefix, "bin", "..", "share", "tabulon", "sample.xlsx"),
                          run("--help", cli=cli, env=env).stdout)

            # The Python module, with the library beside it.
            module = os.path.join(prefix, PYTHON_DIR)
            check = subprocess.run(
                [sys.executable, "-c",
                 "import tabulon, sys; print(tabulon.library_path()); print(tabulon.sheet_names(sys.argv[1]))",
                 os.path.join(prefix, "share", "tabulon", "sample.xlsx")],
                capture_output=True, text=True, env=dict(env, PYTHONPATH=module), cwd=prefix)
            self.assertEqual(check.returncode, 0, check.stderr)
            found, names = check.stdout.splitlines()
            self.assertEqual(os.path.realpath(found), os.path.realpath(lib))
            self.assertEqual(names, "['Sales', 'Übersicht', 'Notes']")

            # A C host built with what pkg-config says.
            pkgconfig = dict(env, PKG_CONFIG_PATH=os.path.dirname(
                next(os.path.join(r, "tabulon.pc") for r, _, fs in os.walk(prefix) if "tabulon.pc" in fs)))
            query = lambda *a: subprocess.run(["pkg-config", *a, "tabulon"], capture_output=True,
                                              text=True, env=pkgconfig, check=True).stdout.strip()
            self.assertEqual(os.path.realpath(query("--variable=library")), os.path.realpath(lib))
            self.assertTrue(os.path.isfile(os.path.join(query("--variable=includedir"), "tabulon.h")))
            if shutil.which("cc"):
                host = os.path.join(prefix, "host")
                subprocess.run(["cc", *query("--cflags").split(), os.path.join(SOURCE, "examples", "host.c"),
                                "-o", host, "-ldl"], check=True)
                result = run(query("--variable=library"), os.path.join(prefix, "share/tabulon/sample.xlsx"),
                             cli=host, env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertTrue(result.stdout.startswith("== Sales\n" + SALES))


if __name__ == "__main__":
    unittest.main()
