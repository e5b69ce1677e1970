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
    hold.

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
    else:
        raise ValueError("unknown column format " + fmt)
    return name, fmt, [v if p else None for v, p in zip(data, present)]


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


def child(library, path):
    lib = load(library)
    result = {"open": lib.openExcel(os.fsencode(path)), "sheets": []}
    if result["open"] == 0:
        names = (lib.listSheets() or b"").split(b"\n")[:-1]
        for name in names:
            summary = compare_sheet(lib, name)
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
        bad = bad or counts["crashes"] > 0 or counts["disagreements"] > 0
    if args.json:
        with open(args.json, "w") as f:
            json.dump(report, f, indent=1)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
