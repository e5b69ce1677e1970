"""Workbook sources (paths, bytes, buffers, file-like objects), the
Workbook object of tabulon.open, and reads from many threads at once."""
import io
import os
import pathlib
import shutil
import tempfile
import threading
import unittest
import zipfile

import tabulon
from tabulon import _arrow
from test_tabulon import SALES, SAMPLE, SAMPLE_SHEETS, write_book

try:
    import pandas
except ImportError:
    pandas = None


def sample_bytes():
    with open(SAMPLE, "rb") as f:
        return f.read()


class Unseekable(io.RawIOBase):
    """A pipe-like binary stream: read() only."""

    def __init__(self, data):
        self._data = io.BytesIO(data)

    def readable(self):
        return True

    def readinto(self, buffer):
        chunk = self._data.read(min(len(buffer), 1000))
        buffer[:len(chunk)] = chunk
        return len(chunk)


def sources(path):
    """Every kind of source for the workbook at path, by a name for subTest."""
    with open(path, "rb") as f:
        data = f.read()
    prefixed = io.BytesIO(b"junk" + data)
    prefixed.seek(4)  # read from where the stream stands
    return {
        "str": path,
        "Path": pathlib.Path(path),
        "bytes": data,
        "bytearray": bytearray(data),
        "memoryview": memoryview(data),
        "memoryview of a slice": memoryview(b"--" + data)[2:],
        "BytesIO": io.BytesIO(data),
        "BytesIO part way": prefixed,
        "open file": open(path, "rb"),
        "buffered stream": io.BufferedReader(Unseekable(data)),
    }


class Sources(unittest.TestCase):
    def test_every_source_reads_alike(self):
        readers = [("sheet_names", lambda s: tabulon.sheet_names(s)),
                   ("read_sheet", lambda s: tabulon.read_sheet(s, "Übersicht")),
                   ("read_text", lambda s: tabulon.read_text(s, 2))]
        if pandas is not None:
            readers.append(("read_frame", lambda s: tabulon.read_frame(s).astype(str).values.tolist()))
        for what, reader in readers:
            expected = reader(SAMPLE)
            for kind, source in sources(SAMPLE).items():
                with self.subTest(reader=what, source=kind):
                    self.assertEqual(reader(source), expected)
                if hasattr(source, "close"):
                    source.close()

    def test_bad_sources_are_refused_alike(self):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        good = sample_bytes()
        empty_zip = io.BytesIO()
        with zipfile.ZipFile(empty_zip, "w") as z:
            z.writestr("readme.txt", "hello")
        cases = {
            "empty": b"",
            "text": b"not a workbook\n" * 20,
            "truncated": good[:len(good) // 2],
            "end record cut off": good[:-10],
            "another zip": empty_zip.getvalue(),
        }
        for what, data in cases.items():
            path = os.path.join(tmp, "bad.xlsx")
            with open(path, "wb") as f:
                f.write(data)
            with self.assertRaises(tabulon.WorkbookError) as caught:
                tabulon.sheet_names(path)
            reason = str(caught.exception)[len(path):]
            self.assertTrue(reason.startswith(": "), caught.exception)
            for kind, source in [("bytes", data), ("bytearray", bytearray(data)),
                                 ("memoryview", memoryview(data)), ("file-like", io.BytesIO(data))]:
                with self.subTest(case=what, source=kind):
                    with self.assertRaises(tabulon.WorkbookError) as caught:
                        tabulon.read_sheet(source)
                    message = str(caught.exception)
                    self.assertTrue(message.startswith("<"), message)
                    self.assertEqual(message[message.index(">") + 1:], reason)

    def test_what_is_not_a_source(self):
        for source, message in [(12, "not int"), (None, "not NoneType"),
                                (io.StringIO("text"), "binary mode"),
                                (os.fsencode("/no/such/file.xlsx"), "not a workbook")]:
            with self.subTest(source=source):
                with self.assertRaises((TypeError, tabulon.WorkbookError)) as caught:
                    tabulon.read_sheet(source)
                self.assertIn(message, str(caught.exception))


class OpenWorkbook(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def test_workbook_object(self):
        with tabulon.open(SAMPLE) as book:
            self.assertIsInstance(book, tabulon.Workbook)
            self.assertEqual(book.sheet_names, SAMPLE_SHEETS)
            self.assertEqual(book.sheets, [(name, "worksheet", "visible") for name in SAMPLE_SHEETS])
            self.assertEqual(book.name, SAMPLE)
            self.assertEqual(book.read_sheet(), SALES)
            self.assertEqual(book.read_sheet(1), book.read_sheet("Übersicht"))
            self.assertEqual(book.read_text("Notes"), tabulon.read_text(SAMPLE, "Notes"))
            with self.assertRaises(tabulon.UnknownSheetError) as caught:
                book.read_text(3)
            self.assertEqual(caught.exception.sheets, SAMPLE_SHEETS)
            self.assertFalse(book.closed)
        self.assertTrue(book.closed)
        book.close()  # again: nothing
        for read in [book.read_text, book.read_sheet]:
            with self.assertRaises(ValueError) as caught:
                read("Sales")
            self.assertIn("is closed", str(caught.exception))

    def test_all_dates(self):
        path = os.path.join(self.dir, "dates.xlsx")
        write_book(path, {"D": [[("custom", 45000.5), ("date", 45000)]]})
        with tabulon.open(path) as book:
            self.assertEqual(book.read_text(), "45000.5;2023-03-15 00:00:00;\n")
            self.assertEqual(book.read_text(all_dates=True), "2023-03-15 12:00:00;2023-03-15 00:00:00;\n")

    def test_sheets_without_cells_of_their_own(self):
        path = os.path.join(self.dir, "partless.xlsx")
        write_book(path, {"Gone": None, "Here": [[1]]})
        with tabulon.open(path) as book:
            self.assertEqual(book.read_sheet("Here"), [["1"]])
            with self.assertRaises(tabulon.TabulonError) as caught:
                book.read_sheet("Gone")
            self.assertIn("sheet 'Gone' of %s cannot be read: " % path, str(caught.exception))

    @unittest.skipIf(pandas is None, "pandas is not installed")
    def test_read_columns_and_frames(self):
        with tabulon.open(sample_bytes()) as book:
            options = _arrow.ReadOptions(max_rows=2, header=1)
            rows, columns = book.read_columns("Sales", options)
            self.assertEqual(rows, 2)
            self.assertEqual([c.name for c in columns], SALES[0])
            self.assertEqual(columns[3].values.tolist(), [120.0, 800.0])
            frame = book.read_frame("Sales", nrows=2)
            self.assertEqual(frame["Units"].tolist(), [120.0, 800.0])
            self.assertEqual(book.name, "<bytes>")

    def test_collected_workbooks_close(self):
        import gc
        import weakref
        book = tabulon.open(SAMPLE)
        closer = book._closer
        gone = weakref.ref(book)
        del book
        gc.collect()
        self.assertIsNone(gone())
        self.assertFalse(closer.alive)


class ManyThreads(unittest.TestCase):
    def test_one_workbook_and_many_from_many_threads(self):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        other = os.path.join(tmp, "other.xlsx")
        write_book(other, {"N": [[i, "x%d" % i] for i in range(1, 3000)]})
        expected_other = tabulon.read_sheet(other)
        shared = tabulon.open(sample_bytes())
        with open(other, "rb") as f:
            data = f.read()
        failures = []
        start = threading.Barrier(6)

        def work(turn):
            try:
                start.wait()
                for _ in range(10):
                    self.assertEqual(shared.read_sheet("Sales"), SALES)
                    if turn % 2:
                        self.assertEqual(tabulon.read_sheet(io.BytesIO(data)), expected_other)
                    else:
                        with tabulon.open(other) as book:
                            self.assertEqual(book.read_sheet(), expected_other)
                    if pandas is not None:
                        self.assertEqual(shared.read_frame()["Units"].tolist()[0], 120)
            except Exception as error:  # reported by the main thread
                failures.append(repr(error))

        threads = [threading.Thread(target=work, args=(i,)) for i in range(6)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        shared.close()
        self.assertEqual(failures, [])

    def test_close_while_another_thread_reads(self):
        tmp = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, tmp)
        path = os.path.join(tmp, "big.xlsx")
        write_book(path, {"N": [[i, i * 0.5, "t%d" % (i % 50)] for i in range(1, 20000)]})
        expected = tabulon.read_text(path)
        with open(path, "rb") as f:
            book = tabulon.open(f.read())
        results = []
        started = threading.Event()

        def reader():
            while True:
                try:
                    started.set()
                    results.append(book.read_text() == expected)
                except ValueError as error:  # closed: the expected end
                    results.append("closed" if "is closed" in str(error) else repr(error))
                    return

        thread = threading.Thread(target=reader)
        thread.start()
        started.wait()
        book.close()
        thread.join()
        self.assertEqual(results[-1], "closed")
        self.assertTrue(all(r is True for r in results[:-1]), results)


if __name__ == "__main__":
    unittest.main()
