"""Typed columns turned into a pandas DataFrame."""

import collections.abc
import math

from . import _arrow

# Microseconds that datetime64[ns] can hold (NaT, the smallest int64, aside).
_NS_FIRST_US = -(2**63 - 1) // 1000 + 1
_NS_LAST_US = (2**63 - 1) // 1000
# Whole numbers below this are written without a fraction, as the sheet text does.
_WHOLE_LIMIT = 2.0**53


def import_pandas():
    try:
        import pandas
    except ImportError as error:
        raise ImportError(
            "tabulon.read_frame needs pandas, which is not installed "
            "(Debian: apt-get install python3-pandas; otherwise: pip install pandas). "
            "tabulon.read_sheet works without it.") from error
    return pandas


def header_flag(header):
    """True when the first row read names the columns. pandas users say 0
    for that and None for no header; other rows are chosen with skiprows."""
    if header is None or isinstance(header, bool):
        return bool(header)
    if header == 0 and isinstance(header, int):
        return True
    raise ValueError("header must be True, False, 0 or None (%r given); skiprows chooses "
                     "the header row" % (header,))


def row_options(skiprows, nrows):
    """skiprows and nrows checked, as (skip_rows, max_rows) for the library."""
    for name, value in (("skiprows", skiprows), ("nrows", nrows)):
        if value is None and name == "nrows":
            continue
        if not isinstance(value, int) or isinstance(value, bool):
            raise TypeError("%s must be an int%s, not %s"
                            % (name, " or None" if name == "nrows" else "", type(value).__name__))
        if value < 0:
            raise ValueError("%s must not be negative (%d)" % (name, value))
    return skiprows, -1 if nrows is None else nrows


def column_names(columns, header):
    """With header, the header row's names, "Unnamed: N" for a missing one,
    repeats numbered as pandas' readers number them ("a", "a.1", "a.2", a
    number skipped when the sheet has that name itself); without, the
    positions 0..n-1."""
    if not header:
        return list(range(len(columns)))
    given = [column.name or "Unnamed: %d" % position for position, column in enumerate(columns)]
    taken = set(given)
    repeats = {}  # name -> the suffix its next repeat tries first
    names = []
    for name in given:
        number = repeats.get(name, 0)
        repeats[name] = number + 1
        if number:
            while "%s.%d" % (name, number) in taken:
                number += 1
            repeats[name] = number + 1
            name = "%s.%d" % (name, number)
            taken.add(name)
        names.append(name)
    return names


def _missing_to(values, valid, filler):
    if valid is not None:
        values[~valid] = filler
    return values


def _timestamps(numpy, column):
    """datetime64[ns] when every value fits it, else objects: datetime.datetime
    (numpy.datetime64 beyond the years 1 to 9999) and None for missing."""
    micros, valid = column.values, column.valid
    present = micros if valid is None else micros[valid]
    if present.size == 0 or (present.min() >= _NS_FIRST_US and present.max() <= _NS_LAST_US):
        nanos = micros * 1000
        return _missing_to(nanos, valid, numpy.iinfo(numpy.int64).min).view("datetime64[ns]")
    values = micros.view("datetime64[us]").astype(object)
    stamps = micros.view("datetime64[us]")
    for i, value in enumerate(values):
        if type(value) is int:  # numpy's answer beyond what datetime.datetime holds
            values[i] = stamps[i]
    return _missing_to(values, valid, None)


def typed_values(pandas, numpy, column, rows):
    """The array (numpy or pandas) that becomes the column's Series."""
    kind, values, valid = column.kind, column.values, column.valid
    if kind == _arrow.NULL:
        return numpy.full(rows, math.nan)
    if kind == _arrow.NUMBER:
        return _missing_to(values, valid, math.nan)
    if kind == _arrow.BOOLEAN:
        if valid is None:
            return values
        return pandas.arrays.BooleanArray(values, ~valid)
    if kind == _arrow.TIMESTAMP:
        return _timestamps(numpy, column)
    return values  # text: str objects, None where missing


def _number_text(value):
    if value.is_integer() and abs(value) < _WHOLE_LIMIT:
        return str(int(value))
    return repr(value)


def text_values(numpy, column, rows):
    """Each cell as read_sheet writes it: numbers without a needless ".0",
    booleans 1/0, date-times "YYYY-MM-DD HH:MM:SS"; None for missing."""
    kind, values, valid = column.kind, column.values, column.valid
    if kind == _arrow.NULL:
        return numpy.full(rows, None, dtype=object)
    if kind == _arrow.TEXT:
        return values
    if kind == _arrow.NUMBER:
        texts = numpy.array([_number_text(v) for v in values.tolist()], dtype=object)
    elif kind == _arrow.BOOLEAN:
        texts = numpy.where(values, "1", "0").astype(object)
    else:
        seconds = (values + 500_000) // 1_000_000  # to the nearest second
        texts = numpy.datetime_as_string(seconds.view("datetime64[s]"))
        texts = numpy.char.replace(texts, "T", " ").astype(object)
    if texts.size == 0:
        texts = texts.astype(object)
    return _missing_to(texts, valid, None)


def _is_text_type(pandas, wanted):
    return isinstance(wanted, pandas.StringDtype) or (
        not isinstance(wanted, pandas.api.extensions.ExtensionDtype) and wanted.kind in "OUS")


def converted(pandas, numpy, column, rows, name, dtype):
    """The column as the type asked for in read_frame's dtype."""
    try:
        wanted = pandas.api.types.pandas_dtype(dtype)
    except TypeError as error:
        raise TypeError("dtype of column %r: %s" % (name, error)) from None
    if _is_text_type(pandas, wanted):
        series = pandas.Series(text_values(numpy, column, rows), dtype=object)
        return series.astype(wanted) if isinstance(wanted, pandas.StringDtype) else series
    series = pandas.Series(typed_values(pandas, numpy, column, rows))
    try:
        if getattr(wanted, "kind", None) == "M":
            if column.kind not in (_arrow.TIMESTAMP, _arrow.TEXT, _arrow.NULL):
                raise ValueError("its cells are %ss, not dates" % column.kind)
            return pandas.to_datetime(series).astype("datetime64[ns]")
        if wanted == numpy.dtype(bool) and series.isna().any():
            raise ValueError("it has missing values, which bool cannot hold (\"boolean\" can)")
        return series.astype(wanted)
    except (ValueError, TypeError, OverflowError) as error:
        raise ValueError("column %r cannot be made %s: %s" % (name, wanted, error)) from None


def to_frame(pandas, numpy, rows, columns, header, dtype):
    """The DataFrame of readColumns' columns (already copied out)."""
    names = column_names(columns, header)
    if dtype is None:
        wanted = {}
    elif isinstance(dtype, collections.abc.Mapping):
        unknown = [key for key in dtype if key not in names]
        if unknown:
            raise ValueError("dtype names columns the sheet does not have: %s; its columns: %s"
                             % (", ".join(map(repr, unknown)), ", ".join(map(repr, names))))
        wanted = dtype
    else:
        wanted = dict.fromkeys(names, dtype)  # one type for every column
    data = {}
    for position, (name, column) in enumerate(zip(names, columns)):
        if name in wanted:
            data[position] = converted(pandas, numpy, column, rows, name, wanted[name])
        else:
            data[position] = typed_values(pandas, numpy, column, rows)
    # Every array is the module's own copy: pandas may keep it as it is.
    frame = pandas.DataFrame(data, index=pandas.RangeIndex(rows), copy=False)
    frame.columns = names if header else pandas.RangeIndex(len(names))
    return frame
