#!/usr/bin/python3
"""Renders every sheet of every workbook in a folder through tabulon.so and
compares the cells with what openpyxl reads from the same workbook.

Each workbook is rendered in a child process, so a crash is counted against
that workbook and the run goes on. A library built with AddressSanitizer is
recognised and run with the sanitizer runtime preloaded.

Exit status: 0 when no workbook crashed or hung and the share of equal
sheets reaches --threshold; 1 otherwise; 77 when there is nothing to check
(no corpus folder, or no openpyxl).
"""

import argparse
import base64
import ctypes
import datetime
import fnmatch
import json
import math
import os
import re
import subprocess
import sys
import time
import warnings

SKIP = 77
SANITIZER_EXIT = 86

# --------------------------------------------------------------------------
# Child side: open one workbook and render all its sheets.


def render_workbook(library, path):
    lib = ctypes.CDLL(library)
    lib.openExcel.argtypes = [ctypes.c_char_p]
    lib.openExcel.restype = ctypes.c_int
    lib.listSheets.restype = ctypes.c_char_p
    lib.getSheetData.argtypes = [ctypes.c_char_p]
    lib.getSheetData.restype = ctypes.c_char_p
    lib.closeExcel.restype = ctypes.c_int

    result = {"open": lib.openExcel(os.fsencode(path)), "sheets": []}
    if result["open"] == 0:
        listing = lib.listSheets() or b""
        names = listing.split(b"\n")
        result["listing_ok"] = listing == b"" or listing.endswith(b"\n")
        for name in names[:-1] if result["listing_ok"] else names:
            text = lib.getSheetData(name)
            result["sheets"].append({"name": b64(name), "text": b64(text or b"")})
    lib.closeExcel()
    return result


def b64(data):
    return base64.b64encode(data).decode("ascii")


def unb64(text):
    return base64.b64decode(text.encode("ascii"))


# --------------------------------------------------------------------------
# Running the child.


def needs_sanitizer(library):
    """True when the library links the AddressSanitizer runtime."""
    try:
        with open(library, "rb") as f:
            return b"libasan.so" in f.read()
    except OSError:
        return False


def sanitizer_runtime(library):
    out = subprocess.run(["ldd", library], capture_output=True, text=True).stdout
    for line in out.splitlines():
        m = re.match(r"\s*(libasan\.so\S*)\s*=>\s*(\S+)", line)
        if m and os.path.exists(m.group(2)):
            return m.group(2)
    out = subprocess.run(["gcc", "-print-file-name=libasan.so"], capture_output=True, text=True)
    path = out.stdout.strip()
    return path if os.path.isabs(path) and os.path.exists(path) else None


class Library:
    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.env = dict(os.environ)
        self.label = "plain"
        if needs_sanitizer(self.path):
            runtime = sanitizer_runtime(self.path)
            if runtime is None:
                sys.exit("cannot find the AddressSanitizer runtime for " + self.path)
            self.label = "asan"
            self.env["LD_PRELOAD"] = runtime
            # The interpreter itself leaks by design; only memory errors count.
            self.env["ASAN_OPTIONS"] = "detect_leaks=0:verify_asan_link_order=0:exitcode=%d" % SANITIZER_EXIT
            self.env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1:exitcode=%d" % SANITIZER_EXIT

    def run(self, workbook, timeout):
        """Returns (result or None, failure text or None, seconds)."""
        started = time.monotonic()
        cmd = [sys.executable, os.path.abspath(__file__), "--render", self.path, workbook]
        try:
            proc = subprocess.run(cmd, env=self.env, capture_output=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            return None, "timeout after %ds" % timeout, time.monotonic() - started
        seconds = time.monotonic() - started
        if proc.returncode != 0:
            return None, crash_text(proc), seconds
        try:
            return json.loads(proc.stdout), None, seconds
        except ValueError:
            return None, "unreadable child output: " + proc.stderr.decode(errors="replace")[-300:], seconds


def crash_text(proc):
    err = proc.stderr.decode(errors="replace")
    lines = err.splitlines()
    keys = ("ERROR: AddressSanitizer", "runtime error:", "SUMMARY:", "Traceback", "Error")
    picked = [l.strip() for l in lines if any(k in l for k in keys)][:3]
    if proc.returncode < 0:
        head = "killed by signal %d" % -proc.returncode
    else:
        head = "exit status %d" % proc.returncode
    if not picked and lines:
        picked = [lines[-1].strip()]
    return "; ".join([head] + picked)


# --------------------------------------------------------------------------
# Reference values.


class Unreadable(Exception):
    pass


def reference(path):
    """Sheet list and cells as openpyxl reads them.

    Returns (date1904, [(name, cells)]) where cells maps (row, col) to
    (value, numFmtId) for every cell that holds a value; None for a sheet
    openpyxl does not model as a worksheet (charts)."""
    import openpyxl
    from openpyxl.utils.datetime import MAC_EPOCH

    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        try:
            wb = openpyxl.load_workbook(path, read_only=False, data_only=True)
        except Exception as e:  # any failure to read counts as a damaged file
            raise Unreadable("%s: %s" % (type(e).__name__, str(e)[:160]))
    sheets = []
    for ws in wb._sheets:
        cells = {}
        for (row, col), cell in getattr(ws, "_cells", {}).items():
            value = cell.value
            if value is None or value == "":
                continue
            cells[(row, col)] = (value, cell._style.numFmtId)
        sheets.append((ws.title, cells))
    date1904 = wb.epoch == MAC_EPOCH
    wb.close()
    return date1904, sheets


# --------------------------------------------------------------------------
# Our text.


def erase_after(text, mark):
    """Drops each occurrence of mark together with the byte after it."""
    if mark not in text:
        return text
    out = bytearray()
    i = 0
    n = len(text)
    while i < n:
        if text[i] == mark:
            i += 2
        else:
            out.append(text[i])
            i += 1
    return bytes(out)


def expected_text(value):
    data = value.encode("utf-8")
    return erase_after(erase_after(data, 0x0D), 0x3B)


def split_lines(text):
    """Splits sheet text into lines of fields.

    Cell text may hold a line feed, so lines are found by the field count
    instead: every line has the same number of ";"-ended fields. Returns
    (lines, None) or (None, complaint)."""
    if text == b"":
        return [], None
    pieces = text.split(b";")
    if pieces[-1] != b"\n":
        return None, "text does not end with ';\\n'"
    pieces.pop()
    for width in range(1, len(pieces) + 1):
        if len(pieces) % width:
            continue
        if width < len(pieces) and not pieces[width].startswith(b"\n"):
            continue
        if all(pieces[k].startswith(b"\n") for k in range(width, len(pieces), width)):
            lines = []
            for k in range(0, len(pieces), width):
                line = pieces[k:k + width]
                if k:
                    line[0] = line[0][1:]
                lines.append(line)
            return lines, None
    return None, "lines do not all have the same number of fields"


# --------------------------------------------------------------------------
# Comparing one cell.

NUMBER = re.compile(rb"^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$")
STAMP = re.compile(rb"^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})$")
DATE_FORMATS = range(12, 23)
SECOND = 1.0 / 86400.0


def as_number(text):
    return float(text) if NUMBER.match(text) else None


def day_serial(d, date1904):
    if date1904:
        return (d - datetime.date(1904, 1, 1)).days
    if d >= datetime.date(1900, 3, 1):
        return (d - datetime.date(1899, 12, 30)).days
    # Days before the 1900 system's phantom leap day count one fewer.
    return (d - datetime.date(1899, 12, 31)).days


def stamp_serial(text, date1904):
    m = STAMP.match(text)
    if not m:
        return None
    y, mo, d, h, mi, s = (int(g) for g in m.groups())
    if (y, mo, d) == (1900, 2, 29) and not date1904:
        days = 60
    else:
        try:
            days = day_serial(datetime.date(y, mo, d), date1904)
        except ValueError:
            return None
    return days + (h * 3600 + mi * 60 + s) * SECOND


def reference_serial(value, date1904):
    if isinstance(value, datetime.timedelta):
        return value.total_seconds() * SECOND
    if isinstance(value, datetime.datetime):
        seconds = value.hour * 3600 + value.minute * 60 + value.second + value.microsecond / 1e6
        return day_serial(value.date(), date1904) + seconds * SECOND
    if isinstance(value, datetime.date):
        return day_serial(value, date1904)
    if isinstance(value, datetime.time):
        return (value.hour * 3600 + value.minute * 60 + value.second + value.microsecond / 1e6) * SECOND
    return None


def iso_equal(text, value):
    """True when text is ISO 8601 date/time text naming value."""
    try:
        s = text.decode("ascii")
    except UnicodeDecodeError:
        return False
    for parse in (datetime.datetime.fromisoformat, datetime.date.fromisoformat,
                  datetime.time.fromisoformat):
        try:
            parsed = parse(s)
        except ValueError:
            continue
        if isinstance(parsed, datetime.datetime) and parsed.tzinfo is not None:
            parsed = parsed.replace(tzinfo=None)
        a = reference_serial(parsed, False)
        b = reference_serial(value, False)
        return a is not None and b is not None and abs(a - b) <= 0.001 * SECOND
    return False


EQUAL = None
QUIRK_ISO = "kept quirk: t=\"d\" cell keeps its ISO text"
QUIRK_FRACTION = "kept quirk: numFmtId 12/13 is a date for us, a fraction for openpyxl"


def compare_cell(ours, value, numfmt, date1904):
    """Returns EQUAL, a quirk text, or a description of the difference."""
    if isinstance(value, bool):
        return EQUAL if ours == (b"1" if value else b"0") else "boolean"
    serial = reference_serial(value, date1904)
    if serial is not None:
        if numfmt in DATE_FORMATS:
            mine = stamp_serial(ours, date1904)
            if mine is not None:
                # We truncate to whole seconds, openpyxl rounds to milliseconds.
                return EQUAL if abs(mine - serial) <= 1.001 * SECOND else "timestamp"
        else:
            mine = as_number(ours)
            if mine is not None:
                close = math.isclose(mine, serial, rel_tol=1e-9, abs_tol=0.001 * SECOND)
                return EQUAL if close else "date serial"
        return QUIRK_ISO if iso_equal(ours, value) else "date"
    if isinstance(value, (int, float)):
        mine = as_number(ours)
        if mine is not None:
            return EQUAL if math.isclose(mine, value, rel_tol=1e-9) else "number"
        if numfmt in DATE_FORMATS:
            mine = stamp_serial(ours, date1904)
            if mine is not None and abs(mine - value) <= 1.001 * SECOND:
                return QUIRK_FRACTION
        return "number"
    if isinstance(value, str):
        return EQUAL if ours == expected_text(value) else "text"
    return "unknown reference type " + type(value).__name__


def is_quirk(verdict):
    return verdict is not None and verdict.startswith("kept quirk")


# --------------------------------------------------------------------------
# Comparing one sheet.


def col_letters(col):
    letters = ""
    while col > 0:
        col, rem = divmod(col - 1, 26)
        letters = chr(65 + rem) + letters
    return letters


def show(value):
    if isinstance(value, bytes):
        value = value.decode("utf-8", errors="backslashreplace")
    text = repr(value)
    return text if len(text) <= 60 else text[:57] + "..."


class SheetResult:
    def __init__(self, file, sheet):
        self.file = file
        self.sheet = sheet
        self.cells = 0          # reference cells compared
        self.diffs = []         # (sort key, ref, ours, reference, verdict)
        self.quirks = []
        self.note = None        # sheet-level failure

    @property
    def equal(self):
        return self.note is None and not self.diffs and not self.quirks

    def first(self):
        pool = self.diffs or self.quirks
        return min(pool, key=lambda d: d[0]) if pool else None

    def add(self, key, ref, ours, expected, verdict):
        (self.quirks if is_quirk(verdict) else self.diffs).append((key, ref, ours, expected, verdict))


def row_matches(line, row_cells, date1904):
    for col, field in enumerate(line, 1):
        cell = row_cells.get(col)
        if cell is None:
            if field:
                return False
        elif compare_cell(field, cell[0], cell[1], date1904) not in (EQUAL, QUIRK_ISO, QUIRK_FRACTION):
            return False
    return all(col <= len(line) for col in row_cells)


def align(lines, rows, by_row, date1904):
    """Pairs our lines with reference rows, in order; unpaired ones get None."""
    if len(lines) == len(rows):
        return list(zip(lines, rows))
    pairs = []
    i = j = 0
    window = 64
    while i < len(lines) and j < len(rows):
        if row_matches(lines[i], by_row[rows[j]], date1904):
            pairs.append((lines[i], rows[j]))
            i += 1
            j += 1
            continue
        skip_rows = next((d for d in range(1, window)
                          if j + d < len(rows) and row_matches(lines[i], by_row[rows[j + d]], date1904)), None)
        skip_lines = next((d for d in range(1, window)
                           if i + d < len(lines) and row_matches(lines[i + d], by_row[rows[j]], date1904)), None)
        if skip_rows is not None and (skip_lines is None or skip_rows <= skip_lines):
            pairs.extend((None, rows[j + d]) for d in range(skip_rows))
            j += skip_rows
        elif skip_lines is not None:
            pairs.extend((lines[i + d], None) for d in range(skip_lines))
            i += skip_lines
        else:
            pairs.append((lines[i], rows[j]))
            i += 1
            j += 1
    pairs.extend((line, None) for line in lines[i:])
    pairs.extend((None, row) for row in rows[j:])
    return pairs


def compare_sheet(result, text, cells, date1904):
    lines, complaint = split_lines(text)
    result.cells = len(cells)
    if complaint:
        result.note = "malformed text: " + complaint
        return
    by_row = {}
    for (row, col), cell in cells.items():
        by_row.setdefault(row, {})[col] = cell
    rows = sorted(by_row)
    previous_row = 0
    for line, row in align(lines, rows, by_row, date1904):
        if row is None:
            firsts = [(c, f) for c, f in enumerate(line, 1) if f]
            col, field = firsts[0] if firsts else (1, b"")
            where = "line after row %d" % previous_row
            result.add((previous_row, 0), where + ", " + col_letters(col), field, None, "extra line")
            continue
        previous_row = row
        row_cells = by_row[row]
        if line is None:
            col = min(row_cells)
            result.add((row, col), col_letters(col) + str(row), None, row_cells[col][0], "missing row")
            continue
        for col in sorted(set(row_cells) | {c for c, f in enumerate(line, 1) if f}):
            ref = col_letters(col) + str(row)
            field = line[col - 1] if col <= len(line) else None
            cell = row_cells.get(col)
            if cell is None:
                result.add((row, col), ref, field, None, "extra value")
            elif field is None:
                result.add((row, col), ref, None, cell[0], "column beyond line width")
            elif field == b"" and expected_text(str(cell[0])) != b"":
                result.add((row, col), ref, field, cell[0], "missing value")
            else:
                verdict = compare_cell(field, cell[0], cell[1], date1904)
                if verdict is not EQUAL:
                    result.add((row, col), ref, field, cell[0], verdict)


# --------------------------------------------------------------------------
# Comparing one workbook.


def decode_name(raw):
    return raw.decode("utf-8", errors="backslashreplace")


def compare_workbook(file, rendered, ref):
    """Returns (sheet results, notes)."""
    date1904, ref_sheets = ref
    notes = []
    results = []
    ours = [(decode_name(unb64(s["name"])), unb64(s["text"])) for s in rendered["sheets"]]
    if rendered["open"] != 0:
        for name, _ in ref_sheets:
            r = SheetResult(file, name)
            r.note = "openExcel returned %d" % rendered["open"]
            results.append(r)
        return results, notes
    if not rendered.get("listing_ok", True):
        notes.append("sheet list does not end with a line feed")

    ref_names = [name for name, _ in ref_sheets]
    our_names = [name for name, _ in ours]
    pairs = []
    unmatched_ours = [o for o in ours if o[0] not in ref_names]
    unmatched_ref = [r for r in ref_sheets if r[0] not in our_names]
    by_name = dict(ours)
    for name, cells in ref_sheets:
        if name in by_name:
            pairs.append((name, name, by_name[name], cells))
    # Leftovers of equal number are taken as the same sheets under a name
    # we spell differently.
    if len(unmatched_ours) == len(unmatched_ref):
        for (oname, text), (rname, cells) in zip(unmatched_ours, unmatched_ref):
            pairs.append((rname, oname, text, cells))
        unmatched_ours = unmatched_ref = []

    for rname, oname, text, cells in pairs:
        r = SheetResult(file, rname)
        if oname != rname:
            r.note = "sheet name %s, reference %s" % (show(oname), show(rname))
        elif text == b"0":
            r.note = "getSheetData returned \"0\""
        else:
            compare_sheet(r, text, cells, date1904)
        results.append(r)
    for name, cells in unmatched_ref:
        r = SheetResult(file, name)
        r.note = "sheet missing from our list"
        results.append(r)
    for name, text in unmatched_ours:
        # Dialog and macro sheets: openpyxl skips them; they hold no cells for us either.
        if text == b"":
            notes.append("sheet %s not read by openpyxl; empty for us too" % show(name))
        else:
            r = SheetResult(file, name)
            r.note = "sheet not read by openpyxl but has text for us"
            results.append(r)
    return results, notes


# --------------------------------------------------------------------------
# Report.


def pct(a, b):
    return "%.2f%%" % (100.0 * a / b) if b else "n/a"


def describe(result, limit):
    out = []
    if result.note:
        out.append("      " + result.note)
    for label, items in (("differs", result.diffs), ("quirk", result.quirks)):
        for key, ref, ours, expected, verdict in sorted(items, key=lambda d: d[0])[:limit]:
            out.append("      %-7s %-10s ours %s  reference %s  (%s)" % (
                label, ref, show(ours) if ours is not None else "-",
                show(expected) if expected is not None else "-", verdict))
        if len(items) > limit:
            out.append("      ... %d more %s cells" % (len(items) - limit, label))
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", required=True, help="folder of workbooks")
    parser.add_argument("--library", action="append", required=True,
                        help="tabulon.so to check; repeat to check several builds")
    parser.add_argument("--threshold", type=float, default=0.97,
                        help="least share of equal sheets (default 0.97)")
    parser.add_argument("--timeout", type=int, default=600, help="seconds per workbook")
    parser.add_argument("--only", action="append", help="check only files matching this pattern")
    parser.add_argument("--cells", type=int, default=3, help="differing cells listed per sheet")
    parser.add_argument("--json", help="write every difference to this file")
    args = parser.parse_args()

    if not os.path.isdir(args.corpus):
        print("no corpus at %s: skipped" % args.corpus)
        return SKIP
    try:
        import openpyxl  # noqa: F401
    except ImportError:
        print("openpyxl is not installed for %s: skipped" % sys.executable)
        return SKIP
    libraries = [Library(p) for p in args.library]
    for lib in libraries:
        if not os.path.isfile(lib.path):
            print("no library at " + lib.path)
            return 2

    files = sorted(f for f in os.listdir(args.corpus)
                   if f.lower().endswith((".xlsx", ".xlsm")) and not f.startswith("~$"))
    if args.only:
        files = [f for f in files if any(fnmatch.fnmatch(f, p) for p in args.only)]
    if not files:
        print("no workbooks in %s: skipped" % args.corpus)
        return SKIP

    damaged = []            # (file, why openpyxl failed, our outcome)
    runs = {lib.label + ":" + lib.path: {"lib": lib, "results": [], "notes": {}, "crashes": [], "slow": []}
            for lib in libraries}
    for file in files:
        path = os.path.join(args.corpus, file)
        try:
            ref = reference(path)
            why = None
        except Unreadable as e:
            ref = None
            why = str(e)
        for run in runs.values():
            rendered, failure, seconds = run["lib"].run(path, args.timeout)
            run["slow"].append((seconds, file))
            if failure:
                run["crashes"].append((file, failure))
                if ref is not None:
                    for name, _ in ref[1]:
                        r = SheetResult(file, name)
                        r.note = "not rendered: " + failure
                        run["results"].append(r)
                continue
            if ref is None:
                if run is next(iter(runs.values())):
                    damaged.append((file, why, "openExcel %d, %d sheets" % (rendered["open"], len(rendered["sheets"]))))
                continue
            results, notes = compare_workbook(file, rendered, ref)
            run["results"].extend(results)
            if notes:
                run["notes"][file] = notes
        sys.stdout.flush()

    failed = False
    dump = {}
    for key, run in runs.items():
        results = run["results"]
        equal = [r for r in results if r.equal]
        differing = [r for r in results if not r.equal]
        share = len(equal) / len(results) if results else 1.0
        print()
        print("Corpus check of %s" % run["lib"].path)
        print("  build                 %s" % run["lib"].label)
        print("  corpus                %s" % os.path.abspath(args.corpus))
        print("  files                 %d" % len(files))
        print("  files openpyxl cannot open (not counted)  %d" % len(damaged))
        print("  sheets compared       %d" % len(results))
        print("  sheets equal          %d (%s)" % (len(equal), pct(len(equal), len(results))))
        print("  sheets differing      %d (%d only by kept quirks)" % (
            len(differing), sum(1 for r in differing if not r.diffs and r.note is None)))
        print("  crashes and timeouts  %d" % len(run["crashes"]))
        print("  threshold             %.4f -> %s" % (args.threshold, "met" if share >= args.threshold else "NOT met"))
        slowest = sorted(run["slow"], reverse=True)[:3]
        print("  slowest files         " + ", ".join("%s %.1fs" % (f, s) for s, f in slowest))

        if differing:
            print()
            print("  Differing sheets (first differing cell):")
            print("    %-44s %-24s %-8s %-26s %-26s %s" % ("file", "sheet", "cell", "ours", "reference", "why"))
            for r in differing:
                first = r.first()
                if first is None:
                    print("    %-44s %-24s %-8s %s" % (r.file, show(r.sheet), "-", r.note))
                else:
                    _, ref, ours, expected, verdict = first
                    print("    %-44s %-24s %-8s %-26s %-26s %s" % (
                        r.file, show(r.sheet), ref, show(ours) if ours is not None else "-",
                        show(expected) if expected is not None else "-", verdict))
        if run["crashes"]:
            print()
            print("  Crashes and timeouts:")
            for file, failure in run["crashes"]:
                print("    %s: %s" % (file, failure))
        if damaged and run is next(iter(runs.values())):
            print()
            print("  Files openpyxl cannot open (damaged on purpose; ours shown, not counted):")
            for file, why, outcome in damaged:
                print("    %s: %s | ours: %s" % (file, why, outcome))

        print()
        print("  Per-file differences:")
        by_file = {}
        for r in differing:
            by_file.setdefault(r.file, []).append(r)
        for file in files:
            if file not in by_file and file not in run["notes"]:
                continue
            print("    %s" % file)
            for note in run["notes"].get(file, []):
                print("      note: " + note)
            for r in by_file.get(file, []):
                print("      sheet %s: %d differing, %d quirk cells of %d" % (
                    show(r.sheet), len(r.diffs), len(r.quirks), r.cells))
                for line in describe(r, args.cells):
                    print("  " + line)

        if run["crashes"] or share < args.threshold:
            failed = True
        dump[key] = {
            "share": share,
            "crashes": run["crashes"],
            "damaged": damaged,
            "differing": [{
                "file": r.file, "sheet": r.sheet, "note": r.note, "cells": r.cells,
                "diffs": [[ref, show(o) if o is not None else None, show(e) if e is not None else None, v]
                          for _, ref, o, e, v in sorted(r.diffs, key=lambda d: d[0])],
                "quirks": [[ref, show(o) if o is not None else None, show(e) if e is not None else None, v]
                           for _, ref, o, e, v in sorted(r.quirks, key=lambda d: d[0])],
            } for r in differing],
        }
    if args.json:
        with open(args.json, "w") as f:
            json.dump(dump, f, indent=1)
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--render":
        sys.stdout.write(json.dumps(render_workbook(sys.argv[2], sys.argv[3])))
        sys.exit(0)
    sys.exit(main())
