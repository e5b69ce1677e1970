"""Rows of text turned into a pandas DataFrame with typed columns."""
import math
import re

TIMESTAMP_FORMAT = "%Y-%m-%d %H:%M:%S"
TIMESTAMP = re.compile(r"\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}")


def import_pandas():
    try:
        import pandas
    except ImportError as error:
        raise ImportError(
            "tabulon.read_frame needs pandas, which is not installed "
            "(Debian: apt-get install python3-pandas; otherwise: pip install pandas). "
            "tabulon.read_sheet works without it.") from error
    return pandas


def looks_numeric(text):
    try:
        float(text)
    except ValueError:
        return False
    return True


def typed_column(pandas, column):
    """One column (a Series of str): numbers if every non-empty cell is a
    number, timestamps if every one is a rendered timestamp, else text.
    Empty cells become missing values (NaN, NaT, None)."""
    present = column != ""
    if not present.any():
        return pandas.Series(math.nan, index=column.index, dtype="float64")
    values = column.where(present)
    first = column[present].iloc[0]  # a cheap look before converting them all
    if looks_numeric(first):
        numbers = pandas.to_numeric(values, errors="coerce")
        # "inf" and "infinity" parse as numbers but are text in a sheet.
        if numbers[present].notna().all() and not numbers.isin([math.inf, -math.inf]).any():
            return numbers
    elif TIMESTAMP.fullmatch(first):
        stamps = pandas.to_datetime(values, format=TIMESTAMP_FORMAT, errors="coerce")
        # A year pandas cannot hold: keep the text rather than lose it.
        if stamps[present].notna().all():
            return stamps
    return column.where(present, None)


def to_frame(rows, header):
    pandas = import_pandas()
    names = None
    if header and rows:
        names, rows = rows[0], rows[1:]
    width = len(names) if names is not None else max(map(len, rows), default=0)
    cells = pandas.DataFrame(rows, columns=range(width) if rows else None, dtype=object)
    cells = cells.reindex(columns=range(width)).fillna("")
    frame = pandas.concat([typed_column(pandas, cells[i]) for i in range(width)], axis=1) \
        if width else pandas.DataFrame(index=range(len(rows)))
    frame.columns = names if names is not None else range(width)
    return frame
