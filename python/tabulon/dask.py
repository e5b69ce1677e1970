"""Sheets of many workbooks as one Dask DataFrame, one partition per workbook.

    import tabulon.dask
    frame = tabulon.dask.read_sheet("data/*.xlsx", sheet="Sales")
    frame.groupby("Region").Units.sum().compute()

The same code runs with Dask's local schedulers and on a cluster
(dask.distributed): each partition is read by whichever worker runs it, so
every worker needs the module and the library. Partitions read in parallel
under every scheduler: the default threaded one (the library's calls
release the GIL, and no frame is pickled), scheduler="processes", and a
distributed cluster.

This module imports without Dask; read_sheet raises ImportError then.
"""
import os

from . import _many

__all__ = ["read_sheet"]


def _import_dask_dataframe():
    try:
        import dask.dataframe
    except ImportError as error:
        raise ImportError(
            "tabulon.dask.read_sheet needs Dask with its DataFrame part, which is not installed "
            "(Debian: apt-get install python3-dask; otherwise: pip install 'dask[dataframe]'). "
            "tabulon.read_frames reads many workbooks without it.") from error
    return dask.dataframe


def _conform(frame, meta, path):
    """The frame with the columns and types of meta, or a ValueError saying
    which column of which workbook does not fit."""
    if list(frame.columns) != list(meta.columns):
        raise ValueError("%s: columns %s differ from the expected %s (taken from the first workbook "
                         "unless meta= is given)" % (path, list(frame.columns), list(meta.columns)))
    for name, wanted in meta.dtypes.items():
        column = frame[name]
        if column.dtype == wanted:
            continue
        kinds = column.dtype.kind + wanted.kind
        # Widening and all-missing columns convert; a number never becomes a
        # date or text a number.
        fits = (column.isna().all() or wanted.kind == "O"
                or (kinds[0] in "iuf" and kinds[1] in "iuf"))
        try:
            if fits:
                frame[name] = column.astype(wanted)
                continue
        except (TypeError, ValueError):
            pass
        raise ValueError("%s: column %r is %s where %s is expected (taken from the first workbook "
                         "unless meta= is given)" % (path, name, column.dtype, wanted))
    return frame


class _Partition:
    """Reads one workbook into a partition (picklable: it travels to the
    workers)."""

    def __init__(self, sheet, options, meta, source, paths):
        self.sheet, self.options, self.meta = sheet, options, meta
        self.source, self.paths = source, paths

    def __call__(self, path):
        from . import read_frame
        frame = _conform(read_frame(path, self.sheet, **self.options), self.meta, path)
        if self.source is not None:
            import pandas
            frame.insert(0, self.source, pandas.Categorical([path] * len(frame), categories=self.paths))
        return frame

    def __dask_tokenize__(self):
        # The same files read the same way make the same graph; a changed
        # file makes a new one.
        stamps = [os.stat(path).st_mtime_ns if os.path.exists(path) else None for path in self.paths]
        return (self.sheet, sorted(self.options.items()), list(self.meta.columns),
                [str(t) for t in self.meta.dtypes], self.source, self.paths, stamps)


def read_sheet(paths, sheet=None, *, meta=None, source="source", **options):
    """A dask.dataframe.DataFrame of one sheet of many workbooks, one
    partition per workbook in the order given (a glob pattern's matches
    sorted).

    sheet and the other keyword options are those of tabulon.read_frame.
    Column names and types come from meta (an empty pandas DataFrame) or,
    without it, from the first workbook, read here; every workbook must have
    the same columns, and a column whose type differs is converted where no
    value is lost (whole numbers to float, an all-empty column to any type),
    else computing its partition raises ValueError. source names a
    categorical column giving each row's workbook (None leaves it out).
    Reading errors (missing files, unknown sheets) surface when the
    partition is computed."""
    dataframe = _import_dask_dataframe()
    paths = list(dict.fromkeys(os.fsdecode(os.fspath(p)) for p in _many.expand(paths)))
    if not paths:
        raise ValueError("no workbooks given")
    if meta is None:
        from . import read_frame
        meta = read_frame(paths[0], sheet, **options).iloc[:0]
    elif len(meta):
        meta = meta.iloc[:0]
    if source is not None and source in meta.columns:
        raise ValueError("the sheet already has a column %r; choose another name with source=" % (source,))
    reader = _Partition(sheet, dict(options), meta, source, paths)
    shown = _meta_with_source(meta, source, paths)
    return dataframe.from_map(reader, paths, meta=shown, label="tabulon-read-sheet",
                              enforce_metadata=False)


def _meta_with_source(meta, source, paths):
    meta = meta.copy()
    if source is not None:
        import pandas
        meta.insert(0, source, pandas.Categorical([], categories=paths))
    return meta
