"""Many workbooks read at once, in worker processes.

The library holds one workbook per process, so workbooks are read in
parallel by a pool of processes, each reading one workbook at a time.
"""
import concurrent.futures
import glob
import multiprocessing
import os
import sys
import warnings

from ._errors import TabulonError


class ReadErrors(TabulonError):
    """Some workbooks could not be read. `errors` maps each failed path (str)
    to its exception; the message names every one of them."""

    __module__ = "tabulon"

    def __init__(self, errors):
        self.errors = dict(errors)
        lines = ["%s: %s: %s" % (path, type(error).__name__, error) for path, error in self.errors.items()]
        super().__init__("%d workbook%s could not be read:\n  %s"
                         % (len(lines), "" if len(lines) == 1 else "s", "\n  ".join(lines)))

    def __reduce__(self):
        return (type(self), (self.errors,))


def expand(paths):
    """The workbook paths: a str or path-like is a glob pattern (its matches
    sorted; FileNotFoundError when there are none), anything else an
    iterable of paths, kept as given."""
    if isinstance(paths, (str, bytes, os.PathLike)):
        pattern = os.fspath(paths)
        found = sorted(glob.glob(pattern))
        if not found:
            raise FileNotFoundError(2, "no workbook matches", os.fsdecode(pattern))
        return found
    paths = list(paths)
    for path in paths:
        os.fspath(path)  # TypeError now rather than in a worker
    return paths


def _read_one(path, sheet, options):
    # Imported here: the worker may be a fresh interpreter.
    from . import read_frame
    return read_frame(path, sheet, **options)


def _context(name):
    # forkserver: workers do not inherit the caller's threads or locks (a
    # fork taken while another thread holds the library's lock would hang).
    # The server imports pandas once, so each worker starts with it.
    if name is None:
        name = "forkserver"
        main = getattr(sys.modules.get("__main__"), "__file__", None)
        if main is not None and not os.path.exists(main):
            name = "fork"  # a script on standard input cannot be imported again by the workers
    context = multiprocessing.get_context(name)
    if context.get_start_method() == "forkserver":
        context.set_forkserver_preload(["tabulon", "pandas"])
    return context


def read_frames(paths, sheet=None, *, combine=True, source="source", on_error="raise",
                workers=None, start_method=None, **options):
    """Reads the same sheet of many workbooks in parallel worker processes.

    paths: an iterable of paths, or a glob pattern (str). sheet: a name, a
    position (0 is the first) or None, as for read_frame; other keyword
    options go to read_frame. With combine (the default) the result is one
    DataFrame, the workbooks' rows one after the other, with a column
    `source` (categorical; None leaves it out) naming each row's workbook;
    otherwise a dict of DataFrames keyed by path (str), in the order given.
    Columns are matched by name; one missing from a workbook is missing
    values there.

    Failures are collected: on_error="raise" raises ReadErrors carrying
    every failed workbook's exception once all were tried; "skip" leaves
    them out with one RuntimeWarning naming them.

    workers: the number of processes (default: the usable cores, at most
    one per workbook). start_method: the multiprocessing start method
    (default "forkserver"); as with every process pool, a script that calls
    this belongs under `if __name__ == "__main__":`.
    """
    if on_error not in ("raise", "skip"):
        raise ValueError("on_error must be 'raise' or 'skip', not %r" % (on_error,))
    try:
        import pandas
    except ImportError as error:
        raise ImportError("tabulon.read_frames needs pandas, which is not installed "
                          "(Debian: apt-get install python3-pandas)") from error
    # A path given twice is read once: results are keyed by path.
    paths = list(dict.fromkeys(os.fsdecode(os.fspath(path)) for path in expand(paths)))
    frames, errors = {}, {}
    if paths:
        count = workers or min(len(paths), len(os.sched_getaffinity(0)) or 1)
        with concurrent.futures.ProcessPoolExecutor(count, mp_context=_context(start_method)) as pool:
            futures = [pool.submit(_read_one, path, sheet, options) for path in paths]
            for name, future in zip(paths, futures):
                try:
                    frames[name] = future.result()
                except concurrent.futures.process.BrokenProcessPool:
                    raise
                except Exception as error:  # every workbook's own failure, reported together
                    errors[name] = error
    if errors:
        failed = ReadErrors(errors)
        if on_error == "raise":
            raise failed
        warnings.warn("read_frames skipped what could not be read: %s" % failed, RuntimeWarning,
                      stacklevel=2)
    if not combine:
        return frames
    return _combined(pandas, frames, source)


def _combined(pandas, frames, source):
    if source is not None:
        for name, frame in frames.items():
            if source in frame.columns:
                raise ValueError("%s already has a column %r; choose another name with source="
                                 % (name, source))
    if not frames:
        return pandas.DataFrame({source: pandas.Categorical([])} if source is not None else {})
    combined = pandas.concat(list(frames.values()), ignore_index=True)
    if source is not None:
        import numpy
        # Codes rather than one string per row: cheap for millions of rows.
        codes = numpy.repeat(numpy.arange(len(frames)), [len(f) for f in frames.values()])
        combined.insert(0, source, pandas.Categorical.from_codes(codes, categories=list(frames)))
    return combined
