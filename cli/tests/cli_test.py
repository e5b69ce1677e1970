"""The command-line program, the C host example, the bundled sample, the
README's shell examples and the installed layout."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

CLI = os.environ["TABULON_CLI"]
HOST = os.environ["TABULON_EXAMPLE_HOST"]
LIBRARY = os.environ["TABULON_LIBRARY"]
BUILD = os.environ["TABULON_BUILD_DIR"]
SOURCE = os.environ["TABULON_SOURCE_DIR"]
SAMPLE = os.path.join(SOURCE, "examples", "sample.xlsx")

SALES = (
    "Date;Region;Product;Units;Unit price;Paid;\n"
    "2024-01-01 00:00:00;North;Notebook;120;2.5;1;\n"
    "2024-01-02 00:00:00;South;Pencil;800;0.35;1;\n"
    "2024-01-03 00:00:00;East;Eraser;250;0.8;0;\n"
    "2024-01-06 00:00:00;West;Notebook;75;2.5;1;\n"
    "2024-01-07 00:00:00;North;Stapler;12;14.99;;\n"
)


def run(*args, cli=CLI):
    return subprocess.run([cli, *args], capture_output=True, text=True)


def write_book(path, cells_xml, name="S"):
    """A one-sheet workbook whose sheetData holds cells_xml."""
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("xl/workbook.xml", '<workbook><sheets><sheet name="%s" sheetId="1"/></sheets></workbook>' % name)
        z.writestr("xl/worksheets/sheet1.xml", "<worksheet><sheetData>%s</sheetData></worksheet>" % cells_xml)


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def test_outputs_and_exit_codes(self):
        text_file = os.path.join(self.dir, "notes.xlsx")
        with open(text_file, "w") as f:
            f.write("not a workbook\n" * 10)
        broken = os.path.join(self.dir, "broken.xlsx")
        with zipfile.ZipFile(broken, "w") as z:
            z.writestr("xl/styles.xml", "<styleSheet/>")
        no_part = os.path.join(self.dir, "nopart.xlsx")
        with zipfile.ZipFile(no_part, "w") as z:
            z.writestr("xl/workbook.xml", '<workbook><sheets><sheet name="Gone" sheetId="1"/></sheets></workbook>')
        cases = [
            # arguments, exit status, standard output, text in standard error
            ((), 0, SALES, ""),
            ((SAMPLE,), 0, SALES, ""),
            ((SAMPLE, "Sales"), 0, SALES, ""),
            (("--list", SAMPLE), 0, "Sales\nÜbersicht\nNotes\n", ""),
            (("--version",), 0, "Tabulon - Version 0.2.60 - Merrowind\n", ""),
            ((SAMPLE, "Nope"), 5, "", "its sheets: 'Sales', 'Übersicht', 'Notes'"),
            ((SAMPLE, "sales"), 5, "", "no sheet 'sales'"),
            ((os.path.join(self.dir, "missing.xlsx"),), 3, "", "No such file"),
            ((self.dir,), 3, "", "not a regular file"),
            ((text_file,), 4, "", "not a workbook"),
            ((broken,), 4, "", "not a workbook"),
            ((no_part,), 6, "", "cannot be read"),
            (("--bogus",), 2, "", "unknown option"),
            ((SAMPLE, "Sales", "extra"), 2, "", "too many arguments"),
        ]
        for args, status, out, err in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.returncode, status, result.stderr)
                self.assertEqual(result.stdout, out)
                self.assertIn(err, result.stderr)
                if status != 0:
                    self.assertTrue(result.stderr.startswith("tabulon: "), result.stderr)

    def test_help_names_the_exit_codes(self):
        result = run("--help")
        self.assertEqual(result.returncode, 0)
        self.assertIn("usage: tabulon", result.stdout)
        self.assertIn("5 no such sheet", result.stdout)

    def test_csv(self):
        path = os.path.join(self.dir, "q.xlsx")
        # Fields that need quotes: a comma, a quote, a line feed; the last
        # column is empty in every row but stays a field.
        write_book(path,
                   '<row r="1"><c r="A1" t="inlineStr"><is><t>a,b</t></is></c>'
                   '<c r="B1" t="inlineStr"><is><t>say "hi"</t></is></c><c r="D1"><v>1</v></c></row>'
                   '<row r="2"><c r="A2" t="inlineStr"><is><t>two\nlines</t></is></c><c r="B2"><v>2</v></c></row>')
        result = subprocess.run([CLI, "--csv", path], capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.decode().replace("\r\n", "|"),
                         '"a,b","say ""hi""",,1|"two\nlines",2,,|')


class Sample(unittest.TestCase):
    def test_sample_is_what_its_script_writes(self):
        with tempfile.TemporaryDirectory() as d:
            fresh = os.path.join(d, "sample.xlsx")
            subprocess.run([sys.executable, os.path.join(SOURCE, "examples", "make_sample.py"), fresh], check=True)
            with open(fresh, "rb") as a, open(SAMPLE, "rb") as b:
                self.assertEqual(a.read(), b.read(), "examples/sample.xlsx is stale: run examples/make_sample.py")

    def test_c_host_prints_every_sheet(self):
        result = subprocess.run([HOST, LIBRARY, SAMPLE], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stdout.startswith("== Sales\n" + SALES + "== Übersicht\nRegion;Manager;Last review;\n"))
        self.assertIn("== Notes\nFigures are illustrative.;\nPrices in EURunits per day.;\n", result.stdout)


class Readme(unittest.TestCase):
    def test_shell_examples(self):
        """Every '$ tabulon ...' line of a console block in the README, run in
        the source folder, prints the lines that follow it."""
        with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as f:
            readme = f.read()
        blocks = re.findall(r"```console\n(.*?)```", readme, re.S)
        self.assertTrue(blocks)
        for block in blocks:
            for command, expected in re.findall(r"^\$ (tabulon[^\n]*)\n((?:(?!\$ )[^\n]*\n)*)", block, re.M):
                with self.subTest(command=command):
                    args = command.split()[1:]
                    result = subprocess.run([CLI, *args], capture_output=True, text=True, cwd=SOURCE)
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(result.stdout.replace("\r\n", "\n"), expected)


class Install(unittest.TestCase):
    def test_installed_layout_works(self):
        with tempfile.TemporaryDirectory() as prefix:
            subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix], check=True, capture_output=True)
            cli = os.path.join(prefix, "bin", "tabulon")
            for path in ["include/tabulon.h", "share/tabulon/sample.xlsx"]:
                self.assertTrue(os.path.isfile(os.path.join(prefix, path)), path)
            libs = [os.path.join(r, f) for r, _, fs in os.walk(prefix) for f in fs if f in ("tabulon.so", "tabulon.pc")]
            self.assertTrue(any(p.endswith("tabulon.pc") for p in libs), libs)
            self.assertTrue(any(p.endswith("tabulon.so") for p in libs), libs)
            # Without arguments the installed program renders the installed sample.
            result = run(cli=cli)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout, SALES)
            module = os.path.join(prefix, "lib", "python3", "dist-packages")
            if os.path.isdir(os.path.join(module, "tabulon")):
                env = dict(os.environ, PYTHONPATH=module)
                env.pop("TABULON_LIBRARY", None)
                check = subprocess.run(
                    [sys.executable, "-c", "import tabulon, sys; print(tabulon.sheet_names(sys.argv[1]))",
                     os.path.join(prefix, "share", "tabulon", "sample.xlsx")],
                    capture_output=True, text=True, env=env, cwd=prefix)
                self.assertEqual(check.returncode, 0, check.stderr)
                self.assertIn("Übersicht", check.stdout)


if __name__ == "__main__":
    unittest.main()
