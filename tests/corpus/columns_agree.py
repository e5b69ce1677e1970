#!/usr/bin/python3
"""Reads every sheet of every workbook in a folder both as text and as typed
columns through tabulon.so, and checks that they say the same, cell by cell.

For each sheet:
  * getSheetText(name, TABULON_TEXT_ALL_DATES) and readColumns(name, NULL)
    must both succeed or both fail the same way;
  * each typed value, written as the text writes it, equals the text's
    field at the same place: numbers as floats, booleans as "1"/"0",
    date-times to the nearest second, text after the edits the text makes;
  * the typed extent places each row and column where the text has it (the
    text keeps only rows holding a value and starts at column A);
  * getSheetData differs from the text of all dates only in cells of
    custom date formats, where it keeps the serial whose date the columns
    hold;
  * with every kind told apart (TABULON_READ_KINDS), each cell's kind and
    value agree with what openpyxl reads from the same cell (when openpyxl
    is installed): numbers, integral columns, booleans, date-times,
    durations, times of day, errors and empty text. Where the two readers'
    rules differ on purpose the cell is counted as a known difference, not
    a disagreement.

Each workbook is read in a child process, so a crash is reported against
its file. Exit status: 0 when everything agrees, 1 otherwise, 77 when there
is no corpus folder.
"""

import argparse
import ctypes
import datetime
import json
import math
import os
import re
import struct
import subprocess
import sys
import time

SKIP = 77
SANITIZER_EXIT = 86
ALL_DATES = 1
# Disagreements listed per sheet; the count covers all of them.
LISTED_PER_SHEET = 5


# --------------------------------------------------------------------------
# What the text does to a string cell.


def text_field(value):
    """A string as the sheet's text writes it: a ';' would end the field and
    a carriage return the line, so each goes, and only it."""
    return value.replace(b"\r", b"").replace(b";", b"")


# --------------------------------------------------------------------------
# The Arrow C data interface, as readColumns fills it.


class ArrowSchema(ctypes.Structure):
    pass


ArrowSchema._fields_ = [
    ("format", ctypes.c_char_p),
    ("name", ctypes.c_char_p),
    ("metadata", ctypes.c_char_p),
    ("flags", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowSchema))),
    ("dictionary", ctypes.POINTER(ArrowSchema)),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowSchema))),
    ("private_data", ctypes.c_void_p),
]


class ArrowArray(ctypes.Structure):
    pass


ArrowArray._fields_ = [
    ("length", ctypes.c_int64),
    ("null_count", ctypes.c_int64),
    ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64),
    ("n_children", ctypes.c_int64),
    ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowArray))),
    ("dictionary", ctypes.POINTER(ArrowArray)),
    ("release", ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArray))),
    ("private_data", ctypes.c_void_p),
]


class ReadOptions(ctypes.Structure):
    _fields_ = [
        ("skip_rows", ctypes.c_int64),
        ("max_rows", ctypes.c_int64),
        ("header", ctypes.c_int),
        ("flags", ctypes.c_uint),
        ("first_row", ctypes.c_int64),
        ("last_row", ctypes.c_int64),
        ("first_column", ctypes.c_int64),
        ("last_column", ctypes.c_int64),
        ("columns", ctypes.POINTER(ctypes.c_int64)),
        ("column_count", ctypes.c_int64),
        ("text_columns", ctypes.POINTER(ctypes.c_int64)),
        ("text_column_count", ctypes.c_int64),
    ]


def buffer_bytes(array, index, size):
    pointer = array.buffers[index]
    return ctypes.string_at(pointer, size) if size > 0 else b""


def valid_rows(array, length):
    """Per row, True when it has a value (no validity bitmap: all have)."""
    if not array.buffers[0]:
        return [True] * length
    bits = buffer_bytes(array, 0, (length + 7) // 8)
    return [bool(bits[i >> 3] >> (i & 7) & 1) for i in range(length)]


def decode_column(schema, array):
    """(name, format, values): values per row, None where missing; numbers
    as floats, booleans as bools, date-times as microseconds, text as bytes."""
    fmt = schema.format.decode()
    name = schema.name.decode("utf-8", "replace")
    n = array.length
    if fmt == "n":
        return name, fmt, [None] * n
    present = valid_rows(array, n)
    if fmt == "g":
        data = struct.unpack("<%dd" % n, buffer_bytes(array, 1, 8 * n))
    elif fmt == "tsu:":
        data = struct.unpack("<%dq" % n, buffer_bytes(array, 1, 8 * n))
    elif fmt == "b":
        bits = buffer_bytes(array, 1, (n + 7) // 8)
        data = [bool(bits[i >> 3] >> (i & 7) & 1) for i in range(n)]
    elif fmt == "i":
        indexes = struct.unpack("<%di" % n, buffer_bytes(array, 1, 4 * n))
        d = array.dictionary.contents
        offsets = struct.unpack("<%di" % (d.length + 1), buffer_bytes(d, 1, 4 * (d.length + 1)))
        chars = buffer_bytes(d, 2, offsets[-1])
        words = [chars[offsets[k]:offsets[k + 1]] for k in range(d.length)]
        data = [words[k] for k in indexes]
    elif fmt in ("l", "tDu", "ttu"):
        data = struct.unpack("<%dq" % n, buffer_bytes(array, 1, 8 * n))
    elif fmt == "u":
        offsets = struct.unpack("<%di" % (n + 1), buffer_bytes(array, 1, 4 * (n + 1)))
        chars = buffer_bytes(array, 2, offsets[-1])
        data = [chars[offsets[k]:offsets[k + 1]] for k in range(n)]
    elif fmt == UNION:
        return name, fmt, decode_union(schema, array)
    else:
        raise ValueError("unknown column format " + fmt)
    return name, fmt, [v if p else None for v, p in zip(data, present)]


UNION = "+ud:0,1,2,3,4,5,6,7"
# The kind codes of a union's cells, and the kind of each plain format.
KIND_OF_FORMAT = {"b": 1, "g": 2, "l": 2, "tsu:": 3, "tDu": 4, "ttu": 5, "i": 6, "u": 6}


def decode_union(schema, array):
    """Per row (kind code, value), or None for a missing cell."""
    n = array.length
    codes = struct.unpack("<%db" % n, buffer_bytes(array, 0, n))
    offsets = struct.unpack("<%di" % n, buffer_bytes(array, 1, 4 * n))
    children = [decode_column(schema.children[k].contents, array.children[k].contents)[2]
                for k in range(schema.n_children)]
    return [None if c == 0 else (c, children[c][o]) for c, o in zip(codes, offsets)]


# --------------------------------------------------------------------------
# Child side: read one workbook's sheets both ways and compare them.


def load(library):
    lib = ctypes.CDLL(library)
    lib.openExcel.argtypes = [ctypes.c_char_p]
    lib.listSheets.restype = ctypes.c_char_p
    lib.getSheetData.argtypes = [ctypes.c_char_p]
    lib.getSheetData.restype = ctypes.c_char_p
    lib.getSheetText.argtypes = [ctypes.c_char_p, ctypes.c_uint]
    lib.getSheetText.restype = ctypes.c_char_p
    lib.readColumns.argtypes = [ctypes.c_char_p, ctypes.POINTER(ReadOptions),
                                ctypes.POINTER(ArrowSchema), ctypes.POINTER(ArrowArray)]
    lib.lastError.argtypes = [ctypes.POINTER(ctypes.c_int)]
    lib.lastError.restype = ctypes.c_char_p
    return lib


def last_error(lib):
    code = ctypes.c_int(-1)
    text = lib.lastError(ctypes.byref(code))
    return code.value, (text or b"").decode("utf-8", "replace")


def column_number(letters):
    n = 0
    for ch in letters:
        if not "A" <= ch <= "Z":
            return None
        n = n * 26 + ord(ch) - 64
    return n


EPOCH = datetime.datetime(1970, 1, 1)
# Where serial day numbers count from once 29 February 1900 is behind.
SERIAL_EPOCH = datetime.datetime(1899, 12, 30)
DATE_1904_OFFSET = 1462
FEBRUARY_29_1900 = b"1900-02-29 00:00:00"


LAST_SECOND_OF_9999 = 2958466 * 86400 - 1


def round_half_away(x):
    return math.floor(x + 0.5) if x >= 0 else -math.floor(-x + 0.5)


def seconds_text(day, seconds):
    return ("%s %02d:%02d:%02d" % (day.strftime("%Y-%m-%d"), seconds // 3600, seconds // 60 % 60,
                                   seconds % 60)).encode()


def micros_text(micros):
    """A typed date-time as the text writes that moment: the nearest second,
    half a second up, carried into the date."""
    seconds = (micros + 500000) // 1000000
    days, rest = divmod(seconds, 86400)
    try:
        return seconds_text(EPOCH + datetime.timedelta(days=days), rest)
    except (OverflowError, ValueError):
        return None


def serial_text(serial, date1904):
    """A serial number as the text writes it as a date, in either system:
    rounded to the nearest second with the carry into the day; the last
    second of 9999 stays there."""
    if date1904:
        serial += DATE_1904_OFFSET
    if not math.isfinite(serial) or abs(serial) > 1e9:
        return None
    seconds = round_half_away(serial * 86400.0)
    if seconds > LAST_SECOND_OF_9999 and serial < 2958466.0:
        seconds = LAST_SECOND_OF_9999
    days, rest = divmod(seconds, 86400)
    if days == 60 and rest == 0:
        return FEBRUARY_29_1900
    if days < 60:
        days += 1
    try:
        return seconds_text(SERIAL_EPOCH + datetime.timedelta(days=days), rest)
    except (OverflowError, ValueError):
        return None


def as_float(field):
    try:
        return float(field)
    except ValueError:
        return None


# Differences that are known and explained, counted but not failures.
KNOWN = {
    "february 29": "the text writes serial 60 as 29 February 1900, a day that never was; "
                   "a timestamp holds 28 February",
    "fraction dated": "getSheetData dates cells of the built-in formats 12 and 13 (fractions), "
                      "the text of all dates and the columns keep their numbers",
}


def typed_as_text(fmt, value):
    """The text's field for a typed value, or a predicate on the field."""
    if fmt == "g":
        return lambda f: as_float(f) == value
    if fmt == "b":
        return b"1" if value else b"0"
    if fmt == "tsu:":
        return micros_text(value)
    return text_field(value)


def split_rows(text, filled, columns, first_column, problem):
    """The text's fields, row by row, for the rows that hold a value.

    A string cell may hold a line feed, which the text keeps, so lines are
    not split at every line end: a field of a text column is taken whole
    when the text has the typed string there. Every line has the same number
    of fields, and fields of strings have lost their ';', so the width is
    the text's ';' count over its lines. None when the text has another
    shape than the columns."""
    if not filled:
        if text != b"":
            problem("extent", "no row holds a value, the text has %d bytes" % len(text))
        return None
    width, odd = divmod(text.count(b";"), len(filled))
    if odd:
        problem("extent", "%d rows hold a value; the text's %d ';' are no whole number of fields per row"
                % (len(filled), text.count(b";")))
        return None
    if first_column - 1 + len(columns) > width:
        problem("extent", "the columns reach column %d, the text has %d fields"
                % (first_column - 1 + len(columns), width))
        return None
    rows, pos = [], 0
    for r in filled:
        fields = []
        for f in range(width):
            k = f - (first_column - 1)
            value = columns[k][2][r] if 0 <= k < len(columns) else None
            if isinstance(value, bytes):
                whole = text_field(value) + b";"
                if text.startswith(whole, pos):
                    fields.append(whole[:-1])
                    pos += len(whole)
                    continue
            end = text.find(b";", pos)
            if end < 0:
                problem("extent", "the text ends inside row %d" % (r + 1))
                return None
            fields.append(text[pos:end])
            pos = end + 1
        if not text.startswith(b"\n", pos):
            problem("extent", "row %d does not end where the columns end it" % (r + 1))
            return None
        pos += 1
        rows.append(fields)
    if pos != len(text):
        problem("extent", "the text goes on after the last row holding a value")
        return None
    return rows


def compare_sheet(lib, name):
    """Compares one sheet's text with its columns. Returns a summary dict."""
    found = {"cells": 0, "problems": [], "problem_count": 0, "rows": 0, "columns": 0}

    def problem(kind, text):
        found["problem_count"] += 1
        if len(found["problems"]) < LISTED_PER_SHEET:
            found["problems"].append({"kind": kind, "text": text})

    def known(kind):
        found.setdefault("known", {})
        found["known"][kind] = found["known"].get(kind, 0) + 1

    text = lib.getSheetText(name, ALL_DATES)
    text_code, text_error = last_error(lib)
    plain = lib.getSheetData(name)
    plain_code, _ = last_error(lib)
    schema, array = ArrowSchema(), ArrowArray()
    status = lib.readColumns(name, None, ctypes.byref(schema), ctypes.byref(array))
    code, error = last_error(lib)

    if status != 0:
        if schema.release or array.release:
            problem("release", "a failed readColumns left a struct unreleased")
        if text != b"0":
            problem("failure", "readColumns failed (%d: %s) where the text did not" % (code, error))
        elif code != text_code:
            problem("failure", "the text failed with %d (%s), the columns with %d (%s)"
                    % (text_code, text_error, code, error))
        found["failed"] = code
        return found
    if text == b"0":
        problem("failure", "the text failed (%d: %s) where the columns did not" % (text_code, text_error))
    if plain_code != text_code:
        problem("failure", "getSheetData ended with %d, getSheetText with %d" % (plain_code, text_code))

    try:
        columns = [decode_column(schema.children[c].contents, array.children[c].contents)
                   for c in range(schema.n_children)]
        rows = array.length
    finally:
        array.release(ctypes.byref(array))
        schema.release(ctypes.byref(schema))
    found["rows"], found["columns"] = rows, len(columns)
    if text == b"0":
        return found

    first_column = column_number(columns[0][0]) if columns else 1
    if first_column is None:
        problem("extent", "a column is named %r, not by letters" % columns[0][0])
        return found
    for k, (cname, _, _) in enumerate(columns):
        if column_number(cname) != first_column + k:
            problem("extent", "column %d is named %r" % (k, cname))

    # Rows of the extent that hold a value, in order, against the lines;
    # the extent is tight: its first and last rows and columns hold values.
    filled = [r for r in range(rows) if any(col[2][r] is not None for col in columns)]
    if filled and (filled[0] != 0 or filled[-1] != rows - 1):
        problem("extent", "the first or last of %d rows holds no value" % rows)
    for k in (0, len(columns) - 1) if columns else ():
        if all(v is None for v in columns[k][2]):
            problem("extent", "column %s at the edge holds no value" % columns[k][0])
    lines = split_rows(text, filled, columns, first_column, problem)
    if lines is None:
        return found
    plain_lines = None
    if plain != b"0":
        plain_lines = split_rows(plain, filled, columns, first_column,
                                 lambda kind, what: problem("plain", "getSheetData: " + what))

    for line_index, (r, line) in enumerate(zip(filled, lines)):
        plain_line = plain_lines[line_index] if plain_lines is not None else None
        where = "row %d (line %d)" % (r + 1, line_index + 1)
        for f, field in enumerate(line):
            k = f - (first_column - 1)
            if k < 0 or k >= len(columns):
                if field != b"":
                    problem("extent", "%s field %d holds %r outside the columns" % (where, f + 1, field))
                continue
            cname, fmt, values = columns[k]
            value = values[r]
            found["cells"] += 1
            if value is None:
                if field != b"":
                    problem("missing", "%s %s: no typed value, the text has %r" % (where, cname, field))
            else:
                expected = typed_as_text(fmt, value)
                agree = expected(field) if callable(expected) else expected == field
                if not agree and fmt == "tsu:" and field == FEBRUARY_29_1900 and \
                        micros_text(value) == b"1900-02-28 00:00:00":
                    known("february 29")
                elif not agree:
                    problem("value", "%s %s [%s]: typed %r, text %r" % (where, cname, fmt, value, field))
            if plain_line is None or plain_line[f] == field:
                continue
            # Only dates of custom formats may differ: there getSheetData
            # keeps the serial of the date that the text of all dates has.
            serial, plain_serial = as_float(field), as_float(plain_line[f])
            if plain_serial is not None and field in (serial_text(plain_serial, False),
                                                      serial_text(plain_serial, True)):
                found["serials"] = found.get("serials", 0) + 1
            elif serial is not None and plain_line[f] in (serial_text(serial, False), serial_text(serial, True)):
                known("fraction dated")
            else:
                problem("plain", "%s %s [%s]: getSheetData %r, getSheetText %r"
                        % (where, cname, fmt, plain_line[f], field))
    return found


READ_KINDS = 2
SKIP_FROM_FIRST_ROW = 1
# Sheets with more cells than this are left out of the kinds check: openpyxl
# takes seconds per hundred thousand cells.
KINDS_CELL_LIMIT = 300000


def kind_cells(lib, name):
    """The sheet's cells with every kind told apart, from row 1: a dict of
    (row, column) -> (kind code, value), or an error text."""
    options = ReadOptions()
    options.max_rows = -1
    options.flags = READ_KINDS | SKIP_FROM_FIRST_ROW
    schema, array = ArrowSchema(), ArrowArray()
    if lib.readColumns(name, ctypes.byref(options), ctypes.byref(schema), ctypes.byref(array)) != 0:
        return "readColumns failed: %d %s" % last_error(lib)
    cells = {}
    try:
        for c in range(schema.n_children):
            cname, fmt, values = decode_column(schema.children[c].contents, array.children[c].contents)
            column = column_number(cname)
            for r, v in enumerate(values):
                if v is None:
                    continue
                cells[(r + 1, column)] = v if fmt == UNION else (KIND_OF_FORMAT[fmt], v, fmt)
    finally:
        array.release(ctypes.byref(array))
        schema.release(ctypes.byref(schema))
    return cells


MARCH_1900 = -2203891200000000  # 1900-03-01 00:00:00 in microseconds since 1970


def micros_of(moment):
    """Microseconds since 1970 of a naive datetime."""
    delta = moment - datetime.datetime(1970, 1, 1)
    return (delta.days * 86400 + delta.seconds) * 1000000 + delta.microseconds


def peer_book(path):
    """The workbook as openpyxl reads it (values, not formulas), or None when
    openpyxl is missing or cannot read it."""
    try:
        import openpyxl
    except ImportError:
        return None
    try:
        return openpyxl.load_workbook(path, read_only=True, data_only=True)
    except Exception:  # noqa: BLE001 - any failure of the peer: nothing to compare
        return None


def compare_kinds(lib, book, name, found):
    """Each cell of the typed columns against openpyxl's reading of it."""
    from openpyxl.cell.read_only import EmptyCell
    wanted = name.decode("utf-8", "replace")
    kinds = found.setdefault("kinds", {})
    try:
        if wanted not in book.sheetnames or not hasattr(book[wanted], "iter_rows"):
            return
        sheet = book[wanted]
        # The stored dimension may be wrong either way: read the rows as
        # they are.
        sheet.reset_dimensions()
        ours = kind_cells(lib, name)
        if isinstance(ours, str):
            found["problem_count"] += 1
            found["problems"].append({"kind": "kinds", "text": ours})
            return
        if len(ours) > KINDS_CELL_LIMIT:
            kinds["sheets too large"] = 1
            return
        theirs = {}
        for row in sheet.iter_rows():
            for cell in row:
                if isinstance(cell, EmptyCell) or cell.value is None:
                    continue
                theirs[(cell.row, cell.column)] = cell
                if len(theirs) > KINDS_CELL_LIMIT:
                    kinds["sheets too large"] = 1
                    return
    except Exception:  # noqa: BLE001
        kinds["peer failed"] = kinds.get("peer failed", 0) + 1
        return

    def count(kind):
        kinds[kind] = kinds.get(kind, 0) + 1

    def disagree(where, what):
        found["problem_count"] += 1
        if len(found["problems"]) < LISTED_PER_SHEET:
            found["problems"].append({"kind": "kinds", "text": "%s: %s" % (where, what)})

    # Integral columns: every number openpyxl reads there is whole.
    for place in set(ours) | set(theirs):
        mine = ours.get(place)
        cell = theirs.get(place)
        where = "%s%d" % (column_letters(place[1]), place[0])
        value = cell.value if cell is not None else None
        if mine is None:
            if value == "" or (isinstance(value, str) and cell.data_type == "s"):
                count("known: openpyxl keeps a text the columns leave out")
            elif place[1] > 16384 or place[0] > 1048576:
                count("known: beyond the sheet's last row or column")
            else:
                disagree(where, "no typed value, openpyxl reads %r" % (value,))
            continue
        code, got = mine[0], mine[1]
        fmt = mine[2] if len(mine) > 2 else UNION
        if cell is None:
            if code == 6 and got == b"":
                count("known: an empty text openpyxl reads as no value")
            else:
                # The sheet's text holds these values too (checked above);
                # openpyxl's reader leaves some out (duplicate members,
                # rows it does not walk).
                count("known: a value openpyxl does not show")
            continue
        count("cells")
        if isinstance(value, bool):
            ok = code == 1 and got == value
        elif cell.data_type == "e":
            ok = code == 7 and got.decode("utf-8", "replace") == value
        elif isinstance(value, (int, float)):
            ok = code == 2 and (got == value or (math.isnan(got) and math.isnan(value)) or
                                abs(got - value) <= 1e-9 * max(1.0, abs(value)))
            if ok and fmt == "l" and float(value) != math.floor(float(value)):
                ok = False
            if not ok and code in (3, 4, 5):
                count("known: a number format the two readers class differently")
                continue
            if not ok and code == 6:
                count("known: a number written in a way only openpyxl reads")
                continue
        elif isinstance(value, (datetime.datetime, datetime.date)):
            if not isinstance(value, datetime.datetime):
                value = datetime.datetime(value.year, value.month, value.day)
            ok = code == 3 and abs(got - micros_of(value)) <= 1000000
            if not ok and code == 3 and min(got, micros_of(value)) < MARCH_1900:
                count("known: a date before March 1900, where the two readers count days differently")
                continue
            if not ok and code in (2, 4, 5, 6):
                count("known: a date format the two readers class differently")
                continue
        elif isinstance(value, datetime.timedelta):
            micros = (value.days * 86400 + value.seconds) * 1000000 + value.microseconds
            ok = code == 4 and abs(got - micros) <= 1000
            if not ok and code in (2, 3, 5):
                count("known: an elapsed-time format the two readers class differently")
                continue
        elif isinstance(value, datetime.time):
            micros = ((value.hour * 60 + value.minute) * 60 + value.second) * 1000000 + value.microsecond
            ok = code == 5 and abs(got - micros) <= 1000
            if not ok and code == 6 and cell.data_type == "d":
                count("known: an ISO 8601 time without a date, text in the columns")
                continue
            if not ok and code in (2, 3, 4):
                # openpyxl makes a time of every date format below one day.
                count("known: a value below one day in a date format")
                continue
        elif isinstance(value, str):
            text = got.decode("utf-8", "replace") if isinstance(got, bytes) else None
            ok = code == 6 and text == value
            if not ok and code == 6 and text is not None and text.strip() == value.strip():
                count("known: white space around a text")
                continue
            if not ok and code in (2, 3, 4, 6):
                count("known: a text the two readers decode differently")
                continue
        else:
            ok = False
        if ok:
            count("agreeing cells")
        else:
            disagree(where, "typed [%s] %r, openpyxl %r (%s)" % (fmt, mine[:2], value, cell.data_type))


def column_letters(n):
    letters = ""
    while n > 0:
        n, r = divmod(n - 1, 26)
        letters = chr(65 + r) + letters
    return letters


def child(library, path):
    lib = load(library)
    result = {"open": lib.openExcel(os.fsencode(path)), "sheets": []}
    if result["open"] == 0:
        names = (lib.listSheets() or b"").split(b"\n")[:-1]
        book = peer_book(path)
        for name in names:
            summary = compare_sheet(lib, name)
            if book is not None:
                compare_kinds(lib, book, name, summary)
            summary["name"] = name.decode("utf-8", "replace")
            result["sheets"].append(summary)
    lib.closeExcel()
    json.dump(result, sys.stdout)
    return 0


# --------------------------------------------------------------------------
# Parent side: one child per workbook.


def linked(library, stem):
    listing = subprocess.run(["ldd", library], capture_output=True, text=True).stdout
    for line in listing.splitlines():
        m = re.match(r"\s*(\S+)\s*=>\s*(\S+)", line)
        if m and m.group(1).startswith(stem + ".so") and os.path.exists(m.group(2)):
            return m.group(2)
    return None


def child_environment(library):
    env = dict(os.environ)
    with open(library, "rb") as f:
        sanitized = b"libasan.so" in f.read()
    if sanitized:
        runtime, cxx = linked(library, "libasan"), linked(library, "libstdc++")
        if runtime is None or cxx is None:
            sys.exit("cannot find the sanitizer runtime of " + library)
        # The runtime first; the C++ runtime loaded before the library, so
        # that exceptions it throws are intercepted.
        env["LD_PRELOAD"] = runtime + " " + cxx
        env["ASAN_OPTIONS"] = "detect_leaks=0:verify_asan_link_order=0:exitcode=%d" % SANITIZER_EXIT
        env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1:exitcode=%d" % SANITIZER_EXIT
    return env, "asan" if sanitized else "plain"


def run_child(library, env, path, timeout):
    cmd = [sys.executable, os.path.abspath(__file__), "--child", library, path]
    try:
        proc = subprocess.run(cmd, env=env, capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None, "no answer after %d s" % timeout
    if proc.returncode != 0:
        err = proc.stderr.decode(errors="replace").splitlines()
        keys = ("Sanitizer", "runtime error", "SUMMARY", "Traceback", "Error")
        said = [l.strip() for l in err if any(k in l for k in keys)][:3] or err[-1:]
        how = "signal %d" % -proc.returncode if proc.returncode < 0 else "exit status %d" % proc.returncode
        return None, "; ".join([how] + said)
    try:
        return json.loads(proc.stdout), None
    except ValueError:
        return None, "unreadable answer: " + proc.stderr.decode(errors="replace")[-300:]


def workbooks(folder):
    found = []
    for root, _, files in os.walk(folder):
        for name in files:
            if name.lower().endswith((".xlsx", ".xlsm")):
                found.append(os.path.join(root, name))
    return sorted(found)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--child", nargs=2, metavar=("LIBRARY", "WORKBOOK"), help=argparse.SUPPRESS)
    parser.add_argument("--corpus", help="folder of workbooks")
    parser.add_argument("--library", action="append", default=[], help="tabulon.so to check (repeatable)")
    parser.add_argument("--timeout", type=int, default=300, help="seconds per workbook")
    parser.add_argument("--json", help="write every sheet's summary here")
    args = parser.parse_args()
    if args.child:
        return child(*args.child)
    if not args.corpus or not args.library:
        parser.error("--corpus and --library are needed")
    if not os.path.isdir(args.corpus):
        print("no corpus at %s: nothing to check" % args.corpus)
        return SKIP
    books = workbooks(args.corpus)
    if not books:
        print("no workbooks in %s: nothing to check" % args.corpus)
        return SKIP

    bad = False
    report = {}
    for library in args.library:
        library = os.path.abspath(library)
        env, label = child_environment(library)
        started = time.monotonic()
        known = {}
        kinds_counted = {}
        counts = {"files": 0, "opened": 0, "sheets": 0, "failed sheets": 0, "cells": 0,
                  "serials": 0, "crashes": 0, "disagreeing sheets": 0, "disagreements": 0}
        for path in books:
            counts["files"] += 1
            shown = os.path.relpath(path, args.corpus)
            result, crash = run_child(library, env, path, args.timeout)
            if crash is not None:
                counts["crashes"] += 1
                print("[%s] %s: CRASH: %s" % (label, shown, crash))
                continue
            counts["opened"] += result["open"] == 0
            for sheet in result["sheets"]:
                counts["sheets"] += 1
                counts["cells"] += sheet["cells"]
                counts["serials"] += sheet.get("serials", 0)
                counts["failed sheets"] += "failed" in sheet
                for kind, n in sheet.get("known", {}).items():
                    known.setdefault(kind, []).append("%s / %s (%d)" % (shown, sheet["name"], n))
                for kind, n in sheet.get("kinds", {}).items():
                    kinds_counted[kind] = kinds_counted.get(kind, 0) + n
                if sheet["problem_count"]:
                    counts["disagreeing sheets"] += 1
                    counts["disagreements"] += sheet["problem_count"]
                    print("[%s] %s / %s: %d disagreements" % (label, shown, sheet["name"], sheet["problem_count"]))
                    for p in sheet["problems"]:
                        print("    %s: %s" % (p["kind"], p["text"]))
            report.setdefault(label, {})[shown] = result
        seconds = time.monotonic() - started
        print("[%s] %d files (%d opened), %d sheets (%d failed both ways), %d cells compared, "
              "%d custom-date serials in getSheetData; %d crashes, %d disagreements in %d sheets; %.0f s"
              % (label, counts["files"], counts["opened"], counts["sheets"], counts["failed sheets"],
                 counts["cells"], counts["serials"], counts["crashes"], counts["disagreements"],
                 counts["disagreeing sheets"], seconds))
        for kind, where in sorted(known.items()):
            print("[%s] known difference, %s: %s" % (label, kind, KNOWN[kind]))
            print("    in " + "; ".join(where))
        if kinds_counted:
            print("[%s] every kind against openpyxl: %s" % (label, ", ".join(
                "%s %d" % (k, n) for k, n in sorted(kinds_counted.items()))))
        bad = bad or counts["crashes"] > 0 or counts["disagreements"] > 0
    if args.json:
        with open(args.json, "w") as f:
            json.dump(report, f, indent=1)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
