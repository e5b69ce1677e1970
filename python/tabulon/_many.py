"""Many workbooks read at once: by threads of this process (the default:
the library's calls release the GIL and run in parallel, and no frame is
pickled), or by worker processes, where a workbook that kills its reader
costs only itself.
"""
import concurrent.futures
import concurrent.futures.process
import glob
import multiprocessing
import os
import sys
import warnings

from ._errors import TabulonError


class ReaderDied(TabulonError):
    """The worker process reading a workbook stopped abruptly (a crash, or
    the system ran out of memory): the workbook was read again alone, and
    its reader died again."""

    __module__ = "tabulon"


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
    # fork taken while another thread holds some lock would hang). The
    # server imports pandas once, so each worker starts with it.
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
                workers=None, executor="threads", start_method=None, **options):
    """Reads the same sheet of many workbooks in parallel.

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

    executor: "threads" (the default) reads in threads of this process,
    sharing the library's worker threads; "processes" reads in worker
    processes: slower (each frame is pickled back), but a workbook that
    crashes its reader, or makes it run out of memory, is then reported as
    failed (ReaderDied) while the others are still read. workers: the
    number of threads or processes (default: the usable cores, at most one
    per workbook). start_method: the multiprocessing start method for
    processes (default "forkserver"); as with every process pool, a script
    that uses them belongs under `if __name__ == "__main__":`.
    """
    if executor not in ("threads", "processes"):
        raise ValueError("executor must be 'threads' or 'processes', not %r" % (executor,))
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
        read = _in_threads if executor == "threads" else _in_processes
        results = read(paths, sheet, options, count, start_method)
        for name in paths:  # in the order given
            ok, value = results[name]
            if ok:
                frames[name] = value
            else:
                errors[name] = value
    if errors:
        failed = ReadErrors(errors)
        if on_error == "raise":
            raise failed
        warnings.warn("read_frames skipped what could not be read: %s" % failed, RuntimeWarning,
                      stacklevel=2)
    if not combine:
        return frames
    return _combined(pandas, frames, source)


def _outcomes(futures):
    """path -> (True, frame) or (False, exception), for the futures that
    ended; the paths whose process pool broke are left out."""
    results = {}
    for name, future in futures.items():
        try:
            results[name] = (True, future.result())
        except concurrent.futures.process.BrokenProcessPool:
            pass
        except Exception as error:  # every workbook's own failure, reported together
            results[name] = (False, error)
    return results


def _in_threads(paths, sheet, options, count, start_method):
    with concurrent.futures.ThreadPoolExecutor(count, thread_name_prefix="tabulon") as pool:
        return _outcomes({path: pool.submit(_read_one, path, sheet, options) for path in paths})


def _in_processes(paths, sheet, options, count, start_method):
    context = _context(start_method)
    with concurrent.futures.ProcessPoolExecutor(count, mp_context=context) as pool:
        results = _outcomes({path: pool.submit(_read_one, path, sheet, options) for path in paths})
    # A worker died, and with it the pool: which workbook killed it is not
    # known. Each workbook the pool left is read again, alone in a process
    # of its own, so that only one that kills its reader again is lost.
    for path in paths:
        if path in results:
            continue
        with concurrent.futures.ProcessPoolExecutor(1, mp_context=context) as pool:
            again = _outcomes({path: pool.submit(_read_one, path, sheet, options)})
        results[path] = again.get(path) or (False, ReaderDied(
            "%s: the process reading it stopped abruptly (a crash, or out of memory), twice" % path))
    return results


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
