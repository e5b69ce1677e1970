"""Typed columns turned into a pandas DataFrame."""

import collections.abc
import math

from . import _arrow

# Microseconds that datetime64[ns] can hold (NaT, the smallest int64, aside).
_NS_FIRST_US = -(2**63 - 1) // 1000 + 1
_NS_LAST_US = (2**63 - 1) // 1000
# Whole numbers below this are written without a fraction, as the sheet text does.
_WHOLE_LIMIT = 2.0**53


def import_pandas(who="tabulon.read_frame"):
    try:
        import pandas
    except ImportError as error:
        raise ImportError(
            who + " needs pandas, which is not installed "
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
    if kind == _arrow.DURATION:
        nanos = values * 1000
        return _missing_to(nanos, valid, numpy.iinfo(numpy.int64).min).view("timedelta64[ns]")
    if kind == _arrow.TIME:
        times = _times_of_day(numpy, values)
        return _missing_to(times, valid, None)
    return values  # text: str objects, None where missing


def frame_column(numpy, column, rows):
    """A column as read_frame types it: integers as numbers, error cells
    missing, and a column still of more than one kind as text."""
    if column.kind == _arrow.INTEGER:
        return _arrow.Column(column.name, _arrow.NUMBER, column.values.astype(numpy.float64),
                             column.valid)
    if column.kind != _arrow.MIXED:
        return column
    error = _arrow.MIXED_KINDS.index(_arrow.ERROR)
    codes = numpy.where(column.codes == error, 0, column.codes).astype(numpy.int8)
    single = single_kind(numpy, _arrow.Column(column.name, _arrow.MIXED, None, None, codes,
                                              column.offsets, column.parts))
    if single.kind != _arrow.MIXED:
        return frame_column(numpy, single, rows)
    texts = numpy.full(rows, None, dtype=object)
    for code, part in enumerate(column.parts):
        if part is None or code == error:
            continue
        where = codes == code
        texts[where] = text_values(numpy, part, len(part.values))[column.offsets[where]]
    return _arrow.Column(column.name, _arrow.TEXT, texts, texts != None)  # noqa: E711


def _number_text(value):
    if value.is_integer() and abs(value) < _WHOLE_LIMIT:
        return str(int(value))
    return repr(value)


def _clock_text(micros):
    """A duration or time of day as H:MM:SS (hours not wrapped at 24)."""
    seconds = (micros + 500_000) // 1_000_000
    sign = "-" if seconds < 0 else ""
    hours, rest = divmod(abs(seconds), 3600)
    return "%s%02d:%02d:%02d" % (sign, hours, rest // 60, rest % 60)


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
    elif kind in (_arrow.DURATION, _arrow.TIME):
        texts = numpy.array([_clock_text(v) for v in values.tolist()], dtype=object)
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
    columns = [frame_column(numpy, column, rows) for column in columns]
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


# ---- Cells as Python objects, and the columns of a read_excel frame ----

def _datetimes(numpy, micros):
    return micros.view("datetime64[us]").astype(object)


def _timedeltas(numpy, micros):
    return micros.view("timedelta64[us]").astype(object)


def _times_of_day(numpy, micros):
    stamps = micros.view("datetime64[us]").astype(object)  # on 1970-01-01
    out = numpy.empty(len(micros), dtype=object)
    out[:] = [stamp.time() for stamp in stamps]
    return out


def _numbers(numpy, values, convert_float):
    """Numbers as Python objects: int where the value is integral (and
    convert_float is set), float otherwise."""
    out = numpy.empty(len(values), dtype=object)
    if values.dtype.kind == "i":
        out[:] = values.tolist() if convert_float else values.astype(float).tolist()
        return out
    floats = values.tolist()
    if convert_float:
        out[:] = [int(v) if v.is_integer() else v for v in floats]
    else:
        out[:] = floats
    return out


def to_milliseconds(micros):
    """Microseconds rounded to the millisecond: the precision of the
    spreadsheet's own clock, which readers of cell values keep."""
    return (micros + 500) // 1000 * 1000


def kind_objects(numpy, column, convert_float=True):
    """The present cells of a single-kind column as Python objects, as a
    reader of cell values gives them: bool, int or float, datetime.datetime,
    datetime.timedelta, datetime.time (to the millisecond), str; errors as
    NaN."""
    kind, values = column.kind, column.values
    if kind in (_arrow.TIMESTAMP, _arrow.DURATION, _arrow.TIME):
        values = to_milliseconds(values)
    if kind == _arrow.BOOLEAN:
        out = numpy.empty(len(values), dtype=object)
        out[:] = values.tolist()
        return out
    if kind in (_arrow.NUMBER, _arrow.INTEGER):
        return _numbers(numpy, values, convert_float)
    if kind == _arrow.TIMESTAMP:
        return _datetimes(numpy, values)
    if kind == _arrow.DURATION:
        return _timedeltas(numpy, values)
    if kind == _arrow.TIME:
        return _times_of_day(numpy, values)
    if kind == _arrow.ERROR:
        errors = numpy.empty(len(values), dtype=object)
        errors.fill(numpy.nan)  # that very object, as pandas' readers give it (full copies it)
        return errors
    return values.copy()  # text: str


def cell_objects(numpy, column, rows, convert_float=True):
    """Every row of the column as a Python object, "" where a cell has no
    value (the grid pandas' readers build from cell values)."""
    out = numpy.full(rows, "", dtype=object)
    if column.kind == _arrow.NULL:
        return out
    if column.kind != _arrow.MIXED:
        values = kind_objects(numpy, column, convert_float)
        if column.valid is None:
            out[:] = values
        else:
            out[column.valid] = values[column.valid]
        return out
    for code, part in enumerate(column.parts):
        if part is None:
            continue
        where = column.codes == code
        values = kind_objects(numpy, part, convert_float)
        if part.valid is not None:
            where &= part.valid[column.offsets]
        out[where] = values[column.offsets[where]]
    return out


def present_cells(numpy, column, rows):
    """A bool array: the rows where the column has a value that is not
    empty text (what a grid of cell values counts as filled)."""
    kind = column.kind
    if kind == _arrow.NULL:
        return numpy.zeros(rows, dtype=bool)
    if kind == _arrow.MIXED:
        filled = column.codes != 0
        text = column.parts[6]
        if text is not None:
            is_text = column.codes == 6
            empty = numpy.zeros(rows, dtype=bool)
            empty[is_text] = text.values[column.offsets[is_text]] == ""
            filled &= ~empty
        return filled
    filled = numpy.ones(rows, dtype=bool) if column.valid is None else column.valid.copy()
    if kind == _arrow.TEXT:
        filled &= column.values != ""
    return filled


def take_rows(numpy, column, idx):
    """The column's rows at idx (an int64 array; -1: a row without value)."""
    kind = column.kind
    if kind == _arrow.NULL:
        return column
    outside = idx < 0
    if not outside.any():
        if len(idx) and idx[-1] - idx[0] == len(idx) - 1:
            chosen = slice(int(idx[0]), int(idx[-1]) + 1)  # consecutive: views
        else:
            chosen = idx
        if kind == _arrow.MIXED:
            return _arrow.Column(column.name, kind, None, None, column.codes[chosen],
                                 column.offsets[chosen], column.parts)
        valid = None if column.valid is None else column.valid[chosen]
        return _arrow.Column(column.name, kind, column.values[chosen], valid,
                             strings=column.strings)
    safe = numpy.where(outside, 0, idx)
    if kind == _arrow.MIXED:
        codes = column.codes[safe]
        codes[outside] = 0
        return _arrow.Column(column.name, kind, None, None, codes, column.offsets[safe],
                             column.parts)
    values = column.values[safe]
    valid = ~outside if column.valid is None else column.valid[safe] & ~outside
    if values.dtype == object:
        values[~valid] = None
    return _arrow.Column(column.name, kind, values, valid, strings=column.strings)


def single_kind(numpy, column):
    """A mixed column whose rows hold one kind (and missing cells) as a
    column of that kind; other columns as they are."""
    if column.kind != _arrow.MIXED:
        return column
    codes = column.codes
    kinds = [k for k in numpy.unique(codes).tolist() if k != 0]
    if not kinds:
        return _arrow.Column(column.name, _arrow.NULL, None, None)
    if len(kinds) > 1:
        return column
    code = kinds[0]
    part = column.parts[code]
    valid = codes == code
    values = part.values[numpy.where(valid, column.offsets, 0)] if len(part.values) else \
        numpy.zeros(len(codes), dtype=part.values.dtype)
    if part.valid is not None:
        valid &= part.valid[numpy.where(valid, column.offsets, 0)]
    if values.dtype == object:
        values[~valid] = None
    return _arrow.Column(column.name, _arrow.MIXED_KINDS[code], values,
                         None if valid.all() else valid)


_BOOL_TEXTS = frozenset(["True", "TRUE", "true", "False", "FALSE", "false"])


def _plain_text(pandas, values, valid):
    """True when pandas' parser keeps these strings as they are: none is a
    missing-value marker, and at least one is neither a number nor a
    boolean (so the column is not converted)."""
    from pandas._libs.parsers import STR_NA_VALUES
    present = values if valid is None else values[valid]
    distinct = pandas.unique(present)
    plain = False
    for text in distinct.tolist():
        if text in STR_NA_VALUES:
            return False
        if not plain and text not in _BOOL_TEXTS:
            try:
                float(text)
            except ValueError:
                plain = True
    return plain


def _parsed_by_pandas(pandas, numpy, column, rows):
    """The column as pandas' parser makes it of its cell values."""
    from pandas.io.parsers import TextParser
    cells = cell_objects(numpy, column, rows)
    frame = TextParser([[cell] for cell in cells.tolist()], header=None,
                       skip_blank_lines=False).read()
    return frame.iloc[:, 0].array if rows else numpy.empty(0, dtype=object)


def excel_values(pandas, numpy, column, rows):
    """The array of one read_excel column (data rows only), as pandas'
    parser would type the cells: whole numbers int64, other numbers
    float64, booleans bool (float64 with missing cells), dates
    datetime64[ns], text object with NaN; anything else through pandas."""
    column = single_kind(numpy, column)
    kind, values, valid = column.kind, column.values, column.valid
    if valid is not None and valid.all():
        valid = None
    if kind == _arrow.NULL or (valid is not None and not valid.any()):
        return numpy.full(rows, math.nan)
    if kind in (_arrow.NUMBER, _arrow.INTEGER):
        if kind == _arrow.NUMBER:
            present = values if valid is None else values[valid]
            if not numpy.isfinite(present).all():
                return _parsed_by_pandas(pandas, numpy, column, rows)
            whole = (numpy.floor(present) == present).all() and (
                present.size == 0 or (present.min() >= -2.0**63 and present.max() < 2.0**63))
        else:
            whole = True
        if valid is None and whole:
            return values.astype(numpy.int64)
        floats = values.astype(numpy.float64)
        return _missing_to(floats, valid, math.nan)
    if kind == _arrow.BOOLEAN:
        if valid is None:
            return values.copy()
        return _missing_to(values.astype(numpy.float64), valid, math.nan)
    if kind == _arrow.TIMESTAMP:
        present = values if valid is None else values[valid]
        if present.min() >= _NS_FIRST_US and present.max() <= _NS_LAST_US:
            nanos = to_milliseconds(values) * 1000
            return _missing_to(nanos, valid, numpy.iinfo(numpy.int64).min).view("datetime64[ns]")
    if kind == _arrow.TEXT and _plain_text(pandas, values, valid):
        out = values.copy()
        if valid is not None:
            out[~valid] = math.nan
        return out
    return _parsed_by_pandas(pandas, numpy, column, rows)
