"""Many workbooks at once: read_frames (threads or worker processes) and tabulon.dask."""
import logging
import os
import pickle
import shutil
import subprocess
import sys
import tempfile
import unittest
import unittest.mock
import warnings

import tabulon
from test_tabulon import SAMPLE, python, write_book

try:
    import pandas
except ImportError:
    pandas = None

try:
    import dask.dataframe  # noqa: F401
    import distributed
except ImportError:
    distributed = None

# Three small workbooks of the same shape; the second has a missing amount,
# so its column is float where the others' is int.
BOOKS = {
    "north.xlsx": [["Day", "Item", "Amount"], [("date", 45292), "pen", 3], [("date", 45293), "ink", 4]],
    "south.xlsx": [["Day", "Item", "Amount"], [("date", 45294), "pad", None], [("date", 45295), "pen", 1],
                   [("date", 45296), "cap", 7]],
    "east.xlsx": [["Day", "Item", "Amount"], [("date", 45297), "ink", 2]],
}


class ManyTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        self.paths = []
        for name, rows in BOOKS.items():
            self.paths.append(os.path.join(self.dir, name))
            write_book(self.paths[-1], {"Data": rows, "Other": [["x"]]})
        self.not_book = os.path.join(self.dir, "text.xlsx")
        with open(self.not_book, "w") as f:
            f.write("not a workbook\n")


class Errors(ManyTest):
    def test_errors_survive_the_trip_between_processes(self):
        errors = [tabulon.WorkbookError("b.xlsx: not a workbook", "b.xlsx"),
                  tabulon.UnknownSheetError("no sheet 'X'", ["A", "B"]),
                  tabulon.ReadErrors({"a.xlsx": FileNotFoundError(2, "gone")})]
        for error in errors:
            with self.subTest(error=type(error).__name__):
                copy = pickle.loads(pickle.dumps(error))
                self.assertEqual((type(copy), str(copy)), (type(error), str(error)))
                self.assertEqual(vars(copy).keys(), vars(error).keys())
        self.assertEqual(pickle.loads(pickle.dumps(errors[1])).sheets, ["A", "B"])


@unittest.skipIf(pandas is None, "needs pandas")
class ReadFrames(ManyTest):
    def test_one_frame_with_the_source_of_each_row(self):
        frame = tabulon.read_frames(self.paths, "Data", workers=2)
        expected = pandas.concat([tabulon.read_frame(p, "Data") for p in self.paths], ignore_index=True)
        pandas.testing.assert_frame_equal(frame.drop(columns="source"), expected)
        self.assertEqual(frame["source"].dtype, "category")
        self.assertEqual(list(frame["source"].cat.categories), self.paths)
        self.assertEqual(list(frame["source"]), [self.paths[0]] * 2 + [self.paths[1]] * 3 + [self.paths[2]])
        self.assertEqual(frame["Day"].dtype, "datetime64[ns]")

    def test_dict_glob_and_options(self):
        frames = tabulon.read_frames(os.path.join(self.dir, "*h.xlsx"), 0, combine=False, header=False)
        self.assertEqual(list(frames), sorted(p for p in self.paths if p.endswith("h.xlsx")))
        for path, frame in frames.items():
            pandas.testing.assert_frame_equal(frame, tabulon.read_frame(path, 0, header=False))
        one = tabulon.read_frames([self.paths[0], self.paths[0]], "Data", source=None)
        pandas.testing.assert_frame_equal(one, tabulon.read_frame(self.paths[0], "Data"))
        empty = tabulon.read_frames([], combine=True)
        self.assertEqual((len(empty), list(empty.columns)), (0, ["source"]))

    def test_failures_are_collected_then_raised_or_skipped(self):
        missing = os.path.join(self.dir, "missing.xlsx")
        lacking = os.path.join(self.dir, "lacking.xlsx")
        write_book(lacking, {"Elsewhere": [["x"]]})
        paths = [self.paths[0], missing, self.not_book, lacking, self.paths[1]]
        with self.assertRaises(tabulon.ReadErrors) as caught:
            tabulon.read_frames(paths, "Data")
        errors = caught.exception.errors
        self.assertEqual(list(errors), [missing, self.not_book, lacking])
        self.assertIsInstance(errors[missing], FileNotFoundError)
        self.assertIsInstance(errors[self.not_book], tabulon.WorkbookError)
        self.assertIsInstance(errors[lacking], tabulon.UnknownSheetError)
        self.assertEqual(errors[lacking].sheets, ["Elsewhere"])
        message = str(caught.exception)
        self.assertIn("3 workbooks could not be read", message)
        for text in ["missing.xlsx: FileNotFoundError", "text.xlsx: not a workbook", "no sheet 'Data' in"]:
            self.assertIn(text, message)
        self.assertIsInstance(caught.exception, tabulon.TabulonError)

        with warnings.catch_warnings(record=True) as caught_warnings:
            warnings.simplefilter("always")
            frame = tabulon.read_frames(paths, "Data", on_error="skip")
        self.assertEqual(list(frame["source"].cat.categories), [self.paths[0], self.paths[1]])
        self.assertEqual(len(frame), 5)
        self.assertEqual(len(caught_warnings), 1)
        self.assertIn("missing.xlsx", str(caught_warnings[0].message))

    def test_threads_and_processes_read_alike(self):
        threads = tabulon.read_frames(self.paths, "Data")
        processes = tabulon.read_frames(self.paths, "Data", executor="processes", workers=2)
        pandas.testing.assert_frame_equal(threads, processes)
        with self.assertRaises(ValueError):
            tabulon.read_frames(self.paths, executor="fibres")

    def test_a_reader_that_dies_costs_only_its_workbook(self):
        from tabulon import _many
        real = _many._read_one

        def dying(path, sheet, options):
            if path.endswith("south.xlsx"):
                os.abort()  # as a crash in the reader would
            return real(path, sheet, options)

        # Pickled by name, and found under it in the forked workers.
        dying.__module__, dying.__qualname__ = _many.__name__, "_read_one"
        with unittest.mock.patch.object(_many, "_read_one", dying):
            with self.assertRaises(tabulon.ReadErrors) as caught:
                tabulon.read_frames(self.paths, "Data", executor="processes", workers=2, start_method="fork")
        errors = caught.exception.errors
        self.assertEqual(list(errors), [self.paths[1]])
        self.assertIsInstance(errors[self.paths[1]], tabulon.ReaderDied)
        self.assertIn("stopped abruptly", str(errors[self.paths[1]]))

    def test_a_script_on_standard_input(self):
        # The workers cannot import such a main module again.
        result = subprocess.run(
            [sys.executable, "-", *self.paths],
            input="import sys, tabulon\nprint(len(tabulon.read_frames(sys.argv[1:], 'Data')))\n",
            capture_output=True, text=True)
        self.assertEqual((result.returncode, result.stdout), (0, "6\n"), result.stderr)

    def test_bad_arguments(self):
        cases = [
            (dict(paths=os.path.join(self.dir, "none*.xlsx")), FileNotFoundError, "no workbook matches"),
            (dict(paths=self.paths, on_error="ignore"), ValueError, "on_error"),
            (dict(paths=self.paths, sheet="Data", source="Item"), ValueError, "already has a column 'Item'"),
            (dict(paths=[self.paths[0], 3]), TypeError, "int"),
        ]
        for arguments, error, text in cases:
            with self.subTest(arguments=arguments):
                with self.assertRaises(error) as caught:
                    tabulon.read_frames(**arguments)
                self.assertIn(text, str(caught.exception))


class WithoutOptionalModules(unittest.TestCase):
    def test_modules_import_and_calls_say_what_is_missing(self):
        cases = [
            # modules hidden, call, text of the ImportError
            (["dask", "dask.dataframe"], "import tabulon.dask; tabulon.dask.read_sheet(sys.argv[1])",
             "tabulon.dask.read_sheet needs Dask"),
            (["pandas"], "import tabulon; tabulon.read_frames([sys.argv[1]])", "tabulon.read_frames needs pandas"),
        ]
        for hidden, call, message in cases:
            with self.subTest(hidden=hidden):
                result = python(
                    "import sys\n"
                    + "".join("sys.modules[%r] = None\n" % name for name in hidden)
                    + "try:\n    %s\nexcept ImportError as e:\n    print(e)\n" % call, SAMPLE)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn(message, result.stdout)


@unittest.skipIf(pandas is None or distributed is None, "needs pandas, dask and distributed")
class DaskFrames(ManyTest):
    def test_partitions_on_a_local_cluster_are_the_workbooks(self):
        import tabulon.dask
        frame = tabulon.dask.read_sheet(self.paths, "Data")
        self.assertEqual(frame.npartitions, 3)
        # Types come from the first workbook: a workbook whose amounts are
        # text cannot be float64, so that partition fails, naming it.
        odd = os.path.join(self.dir, "other", "odd.xlsx")
        os.makedirs(os.path.dirname(odd))
        write_book(odd, {"Data": [["Day", "Item", "Amount"], [("date", 45298), "cup", "n/a"]]})
        with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                      host="127.0.0.1", dashboard_address=None,
                                      silence_logs=logging.CRITICAL) as cluster, \
                distributed.Client(cluster) as client:
            self.assertEqual(len(client.scheduler_info()["workers"]), 2)
            with self.assertRaises(ValueError) as caught:
                tabulon.dask.read_sheet([self.paths[0], odd], "Data").compute()
            self.assertIn("odd.xlsx: column 'Amount' is object where float64 is expected", str(caught.exception))

            meta = tabulon.read_frame(self.paths[1], "Data").iloc[:0]
            frame = tabulon.dask.read_sheet(os.path.join(self.dir, "*.xlsx"), "Data", meta=meta)
            self.assertEqual(frame.npartitions, 4)  # the glob takes text.xlsx too
            good = frame.partitions[:3]
            pids = set(client.run(os.getpid).values())
            for i, path in enumerate(sorted(self.paths)):
                with self.subTest(path=os.path.basename(path)):
                    part = good.get_partition(i).compute()
                    expected = tabulon.read_frame(path, "Data").astype({"Amount": "float64"})
                    pandas.testing.assert_frame_equal(part.drop(columns="source"), expected)
                    self.assertEqual(set(part["source"]), {path})
            total = good.Amount.sum().compute()
            self.assertEqual(total, 3 + 4 + 1 + 7 + 2)
            self.assertNotIn(os.getpid(), pids)
            with self.assertRaises(tabulon.WorkbookError):
                frame.partitions[3].compute()

    def test_meta_and_local_scheduler(self):
        import tabulon.dask
        frame = tabulon.dask.read_sheet(self.paths[::2], "Data", source=None)
        self.assertEqual(list(frame.dtypes.astype(str)), ["datetime64[ns]", "object", "float64"])
        expected = pandas.concat([tabulon.read_frame(p, "Data") for p in self.paths[::2]])
        for scheduler in ["threads", "processes"]:
            with self.subTest(scheduler=scheduler):
                pandas.testing.assert_frame_equal(frame.compute(scheduler=scheduler), expected)
        with self.assertRaises(ValueError) as caught:
            tabulon.dask.read_sheet(self.paths, "Other", meta=frame._meta).compute(scheduler="sync")
        self.assertIn("columns ['x'] differ from the expected ['Day', 'Item', 'Amount']", str(caught.exception))
