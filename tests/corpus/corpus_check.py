#!/usr/bin/python3
"""Renders every sheet of every workbook in a folder through tabulon.so and
compares the cells with what openpyxl reads from the same workbook.

Each workbook is rendered in a child process, so a crash is counted against
that workbook and the run goes on. A library built with AddressSanitizer is
recognised and run with the sanitizer runtime preloaded.

Exit status: 0 when no workbook crashed or hung and every sheet that
differs from the reference is listed in KNOWN_DIFFERENCES; 1 otherwise; 77
when there is nothing to check (no corpus folder, or no openpyxl).
"""

import argparse
import base64
import ctypes
import datetime
import fnmatch
import io
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

# Sheets of the corpus known to differ from the reference reader, by
# (file, sheet), with the reason. Any other differing sheet fails the check;
# a listed sheet that has become equal is reported, to be taken off.
KNOWN_DIFFERENCES = {
    ("calamine__date_iso.xlsx", "Sheet"):
        "t=\"d\" cell holding a time of day alone (10:10:10): no date, so kept as written",
    ("exceldatareader__strict_TestOpen.xlsx", "Sheet1"):
        "t=\"d\" cells holding a time of day alone (10:59:59.99...): no date, so kept as written",
    ("phpspreadsheet__explicitdate.xlsx", "Sheet"):
        "t=\"d\" cell holding a time of day alone (23:44:51.894): no date, so kept as written",
}

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


def linked_library(library, stem):
    """Where the loader finds library's dependency stem (e.g. "libasan")."""
    out = subprocess.run(["ldd", library], capture_output=True, text=True).stdout
    for line in out.splitlines():
        m = re.match(r"\s*(\S+)\s*=>\s*(\S+)", line)
        if m and m.group(1).startswith(stem + ".so") and os.path.exists(m.group(2)):
            return m.group(2)
    return None


def sanitizer_preload(library):
    """The libraries to preload into the interpreter: the sanitizer runtime
    must come first, and the C++ runtime must be there when it starts, or
    it cannot intercept exceptions thrown by the library."""
    runtime = linked_library(library, "libasan")
    cxx = linked_library(library, "libstdc++")
    if runtime is None or cxx is None:
        return None
    return runtime + " " + cxx


class Library:
    def __init__(self, path):
        self.path = os.path.abspath(path)
        self.env = dict(os.environ)
        self.label = "plain"
        if needs_sanitizer(self.path):
            preload = sanitizer_preload(self.path)
            if preload is None:
                sys.exit("cannot find the AddressSanitizer runtime for " + self.path)
            self.label = "asan"
            self.env["LD_PRELOAD"] = preload
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
    keys = ("AddressSanitizer", "runtime error:", "SUMMARY:", "Traceback", "Error")
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
#
# openpyxl's workbook loader gives up on many real files for reasons that
# have nothing to do with cells (style records it cannot model, part names
# in another case, defined names of missing sheets), and it renumbers
# number formats. So the package is walked here, by its relationships, and
# openpyxl's own worksheet and shared-string parsers read the cells.

MAIN_NS = b"http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL_NS = b"http://schemas.openxmlformats.org/officeDocument/2006/relationships"
OTHER_MAIN_NS = (b"http://purl.oclc.org/ooxml/spreadsheetml/main",)
# Written by a pre-release of the format, with other element names.
BETA_NS = b"http://schemas.microsoft.com/office/excel/2006/2"
OTHER_REL_NS = (b"http://purl.oclc.org/ooxml/officeDocument/relationships",)
MAIN = "{%s}" % MAIN_NS.decode()
REL = "{%s}" % REL_NS.decode()


class Unreadable(Exception):
    pass


class NoWorksheet(dict):
    """A sheet without a worksheet part (chart, dialog, macro or module
    sheets): no cells, whether the library answers "" or "0"."""


def local(tag):
    return tag.rsplit("}", 1)[-1]


def normalised_xml(data):
    """Part text as openpyxl's parsers expect it: UTF-8, the transitional
    namespaces."""
    if data.startswith((b"\xff\xfe", b"\xfe\xff")):
        text = data.decode("utf-16")
        data = re.sub(r"^(<\?xml[^>]*encoding=)[\"'][^\"']*[\"']", r'\1"UTF-8"', text).encode("utf-8")
    for ns in OTHER_MAIN_NS:
        data = data.replace(ns, MAIN_NS)
    for ns in OTHER_REL_NS:
        data = data.replace(ns, REL_NS)
    return data


class Package:
    def __init__(self, path):
        import zipfile
        try:
            self.zip = zipfile.ZipFile(path)
        except Exception as e:
            raise Unreadable("not a zip archive: %s" % e)
        self.names = {}
        self.folded = {}
        for info in self.zip.infolist():
            name = info.filename.replace("\\", "/").lstrip("/")
            if name in self.names:
                raise Unreadable("two archive members named " + name)
            self.names[name] = info
            self.folded.setdefault(name.lower(), name)

    def find(self, name):
        """The member's name, matched exactly or else ignoring case."""
        name = name.lstrip("/")
        return name if name in self.names else self.folded.get(name.lower())

    def read(self, name):
        found = self.find(name)
        if found is None:
            return None
        try:
            return normalised_xml(self.zip.read(self.names[found]))
        except Exception as e:
            raise Unreadable("%s: %s" % (name, e))

    def parse(self, name):
        import xml.etree.ElementTree as ET
        data = self.read(name)
        if data is None:
            return None
        try:
            return ET.fromstring(data)
        except ET.ParseError as e:
            raise Unreadable("%s: %s" % (name, e))

    def relationships(self, part):
        """[(id, kind, target part)] of a part; kind is the type's last word."""
        folder, _, file = part.rpartition("/")
        root = self.parse((folder + "/" if folder else "") + "_rels/" + file + ".rels")
        rels = []
        for rel in [] if root is None else root:
            if local(rel.tag) != "Relationship" or rel.get("TargetMode") == "External":
                continue
            target = rel.get("Target", "")
            if not target.startswith("/"):
                parts = (folder.split("/") if folder else []) + target.split("/")
                resolved = []
                for p in parts:
                    if p == "..":
                        resolved and resolved.pop()
                    elif p not in ("", "."):
                        resolved.append(p)
                target = "/".join(resolved)
            rels.append((rel.get("Id"), rel.get("Type", "").rsplit("/", 1)[-1], target.lstrip("/")))
        return rels


def number_formats(root):
    """The number format id of every cell format, and those that are dates."""
    from openpyxl.styles.numbers import BUILTIN_FORMATS, is_date_format, is_timedelta_format
    custom = {}
    ids = []
    for group in [] if root is None else root:
        if group.tag == MAIN + "numFmts":
            for el in group:
                if el.tag == MAIN + "numFmt" and el.get("numFmtId") is not None:
                    custom[int(el.get("numFmtId"))] = el.get("formatCode")
        elif group.tag == MAIN + "cellXfs":
            ids = [int(xf.get("numFmtId") or 0) for xf in group if xf.tag == MAIN + "xf"]
    dates, spans = set(), set()
    for index, fmt_id in enumerate(ids):
        fmt = custom.get(fmt_id, BUILTIN_FORMATS.get(fmt_id))
        if is_date_format(fmt):
            dates.add(index)
        if is_timedelta_format(fmt):
            spans.add(index)
    return ids, dates, spans


def shared_strings(data):
    from openpyxl.cell.text import Text
    from openpyxl.xml.functions import iterparse
    strings = []
    tag = "{%s}si" % MAIN_NS.decode()
    for _, node in iterparse(io.BytesIO(data)):
        if node.tag == tag:
            strings.append(Text.from_tree(node).content)
            node.clear()
    return strings


def sheet_cells(data, strings, epoch, ids, dates, spans):
    from openpyxl.worksheet._reader import WorkSheetParser, ROW_TAG
    from openpyxl.xml.functions import iterparse
    parser = WorkSheetParser(None, strings, data_only=True, epoch=epoch,
                             date_formats=dates, timedelta_formats=spans)
    cells = {}
    for _, element in iterparse(io.BytesIO(data)):
        if element.tag != ROW_TAG:
            continue
        # parse_row reads every child of the row as a cell, in order.
        types = [child.get("t") for child in element]
        _, row = parser.parse_row(element)
        element.clear()
        for cell, written_type in zip(row, types):
            value = cell["value"]
            if value is None or value == "":
                continue
            style = cell["style_id"] or 0
            fmt_id = ids[style] if 0 <= style < len(ids) else 0
            # A later cell of a row number met again replaces the earlier one;
            # an empty one was skipped above, so it removes nothing.
            cells[(cell["row"], cell["column"])] = (value, fmt_id, written_type == "d")
    return cells


def reference(path):
    """The workbook's sheets as the reference reads them.

    Returns (date1904, [(name, cells or Unreadable)]) where cells maps
    (row, col) to (value, numFmtId, stored as ISO text) for every cell that
    holds a value.
    Raises Unreadable when not even the sheet list can be read."""
    from openpyxl.utils.datetime import MAC_EPOCH, WINDOWS_EPOCH
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        package = Package(path)
        workbook = next((t for _, kind, t in package.relationships("") if kind == "officeDocument"),
                        "xl/workbook.xml")
        root = package.parse(workbook)
        if root is None:
            raise Unreadable("no workbook part " + workbook)
        if root.tag.startswith("{%s}" % BETA_NS.decode()):
            raise Unreadable("pre-release namespace %s, not the file format" % BETA_NS.decode())
        date1904 = False
        sheets = []
        for el in root:
            if el.tag == MAIN + "workbookPr":
                date1904 = (el.get("date1904") or "").lower() in ("1", "true")
            elif el.tag == MAIN + "sheets":
                sheets = [(s.get("name"), s.get(REL + "id")) for s in el if s.tag == MAIN + "sheet"]
        rels = package.relationships(package.find(workbook))
        by_id = {rid: (kind, target) for rid, kind, target in rels}

        def table(kind, usual):
            target = next((t for _, k, t in rels if k == kind and package.find(t)), None)
            return target or workbook.rpartition("/")[0] + "/" + usual

        strings_xml = package.read(table("sharedStrings", "sharedStrings.xml"))
        try:
            strings = shared_strings(strings_xml) if strings_xml else []
        except Exception as e:
            raise Unreadable("shared strings: %s" % e)
        ids, dates, spans = number_formats(package.parse(table("styles", "styles.xml")))
        epoch = MAC_EPOCH if date1904 else WINDOWS_EPOCH

        result = []
        for position, (name, rid) in enumerate(sheets, 1):
            if rels:
                kind, target = by_id.get(rid, ("none", None))
            else:
                # Only a package without relationships is read by position.
                kind, target = "worksheet", "xl/worksheets/sheet%d.xml" % position
            if kind != "worksheet":
                result.append((name, NoWorksheet()))
                continue
            try:
                data = package.read(target)
                if data is None:
                    raise Unreadable("worksheet part %s is missing" % target)
                result.append((name, sheet_cells(data, strings, epoch, ids, dates, spans)))
            except Unreadable as e:
                result.append((name, e))
            except Exception as e:
                result.append((name, Unreadable("%s: %s: %s" % (target, type(e).__name__, str(e)[:120]))))
        return date1904, result


# --------------------------------------------------------------------------
# Our text.


ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")


def decode_escapes(text):
    """Decodes the spreadsheet's "_xHHHH_" character escapes, as the writing
    programs show them; the reference reader leaves them as written."""
    out = []
    pos = 0
    while True:
        m = ESCAPE.search(text, pos)
        if not m:
            break
        out.append(text[pos:m.start()])
        unit = int(m.group(1), 16)
        end = m.end()
        if 0xD800 <= unit <= 0xDBFF:
            low = ESCAPE.match(text, end)
            if low and 0xDC00 <= int(low.group(1), 16) <= 0xDFFF:
                out.append(chr(0x10000 + ((unit - 0xD800) << 10) + (int(low.group(1), 16) - 0xDC00)))
                pos = low.end()
                continue
            unit = -1
        elif 0xDC00 <= unit <= 0xDFFF:
            unit = -1
        if unit <= 0:
            out.append("_")
            pos = m.start() + 1
            continue
        out.append(chr(unit))
        pos = end
    out.append(text[pos:])
    return "".join(out)


def expected_text(value):
    """Cell text as we write it: every ';' and carriage return dropped."""
    return decode_escapes(value).encode("utf-8").replace(b"\r", b"").replace(b";", b"")


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
DATE_FORMATS = range(14, 23)
SECOND = 1.0 / 86400.0
# We round to whole seconds, the reference to milliseconds.
ROUNDING = 0.501 * SECOND


def as_number(text):
    return float(text) if NUMBER.match(text) else None


def our_day_serial(d, date1904):
    """The serial whose timestamp we print with date d."""
    if date1904:
        return (d - datetime.date(1904, 1, 1)).days
    if d >= datetime.date(1900, 3, 1):
        return (d - datetime.date(1899, 12, 30)).days
    # Serials below the 1900 system's phantom leap day are shifted by one
    # day, negative ones included.
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
            days = our_day_serial(datetime.date(y, mo, d), date1904)
        except ValueError:
            return None
    return days + (h * 3600 + mi * 60 + s) * SECOND


def stamp_datetime(text):
    m = STAMP.match(text)
    if not m:
        return None
    try:
        return datetime.datetime(*(int(g) for g in m.groups()))
    except ValueError:
        return None


def reference_day_serials(d, date1904):
    """The serials openpyxl turns into date d (it has no 1900-02-29, and
    it shifts only the serials from 0 to 60)."""
    if date1904:
        return [(d - datetime.date(1904, 1, 1)).days]
    if d >= datetime.date(1900, 3, 1) or d <= datetime.date(1899, 12, 30):
        return [(d - datetime.date(1899, 12, 30)).days]
    days = (d - datetime.date(1899, 12, 31)).days
    return [days, 60] if days == 59 else [days]


def day_seconds(value):
    return value.hour * 3600 + value.minute * 60 + value.second + value.microsecond / 1e6


def reference_serials(value, date1904):
    """Candidate serial numbers of a date or time value; [] for others."""
    if isinstance(value, datetime.timedelta):
        return [value.total_seconds() * SECOND]
    if isinstance(value, datetime.datetime):
        return [d + day_seconds(value) * SECOND for d in reference_day_serials(value.date(), date1904)]
    if isinstance(value, datetime.date):
        return reference_day_serials(value, date1904)
    if isinstance(value, datetime.time):
        return [day_seconds(value) * SECOND]
    return []


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
        a = reference_serials(parsed, False)
        b = reference_serials(value, False)
        return bool(a and b) and abs(a[0] - b[0]) <= 0.001 * SECOND
    return False


EQUAL = None
QUIRK_ISO_TIME = "kept quirk: t=\"d\" time of day alone keeps its ISO text"


def compare_cell(ours, value, numfmt, date1904, iso=False):
    """Returns EQUAL, a quirk text, or a description of the difference."""
    if isinstance(value, bool):
        return EQUAL if ours == (b"1" if value else b"0") else "boolean"
    serials = reference_serials(value, date1904)
    if serials:
        # An ISO date or date and time is written as a timestamp whatever
        # its format; its day needs no date system.
        as_stamp = numfmt in DATE_FORMATS or (iso and isinstance(value, datetime.date))
        if as_stamp and iso:
            # A calendar date as written, so compared as one, not as serials
            # (whose mapping differs before 1900-03-01).
            mine = stamp_datetime(ours)
            if mine is not None:
                if not isinstance(value, datetime.datetime):
                    value = datetime.datetime(value.year, value.month, value.day)
                near = abs((mine - value).total_seconds()) <= ROUNDING / SECOND
                return EQUAL if near else "timestamp"
        elif as_stamp:
            mine = stamp_serial(ours, date1904)
            if mine is not None:
                near = any(abs(mine - s) <= ROUNDING for s in serials)
                return EQUAL if near else "timestamp"
        else:
            mine = as_number(ours)
            if mine is not None:
                near = any(math.isclose(mine, s, rel_tol=1e-9, abs_tol=0.001 * SECOND) for s in serials)
                return EQUAL if near else "date serial"
        if iso and isinstance(value, datetime.time) and iso_equal(ours, value):
            return QUIRK_ISO_TIME
        return "timestamp expected" if as_stamp else "serial number expected"
    if isinstance(value, (int, float)):
        mine = as_number(ours)
        if mine is not None:
            return EQUAL if math.isclose(mine, value, rel_tol=1e-9) else "number"
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
        elif compare_cell(field, cell[0], cell[1], date1904, cell[2]) not in (EQUAL, QUIRK_ISO_TIME):
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
                verdict = compare_cell(field, cell[0], cell[1], date1904, cell[2])
                if verdict is not EQUAL:
                    result.add((row, col), ref, field, cell[0], verdict)


# --------------------------------------------------------------------------
# Comparing one workbook.


def decode_name(raw):
    return raw.decode("utf-8", errors="backslashreplace")


def compare_workbook(file, rendered, ref):
    """Returns (sheet results, notes, unreadable) where unreadable lists the
    sheets the reference cannot read, with what we made of them."""
    date1904, ref_sheets = ref
    notes = []
    results = []
    unreadable = []
    ours = [(decode_name(unb64(s["name"])), unb64(s["text"])) for s in rendered["sheets"]]
    if not rendered.get("listing_ok", True):
        notes.append("sheet list does not end with a line feed")

    ref_names = [name for name, _ in ref_sheets]
    our_names = [name for name, _ in ours]
    if [n for n in our_names if n in ref_names] != [n for n in ref_names if n in our_names]:
        notes.append("listSheets gives the sheets in another order than the workbook")
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
    for name, cells in unmatched_ref:
        pairs.append((name, None, None, cells))

    for rname, oname, text, cells in pairs:
        if isinstance(cells, Unreadable):
            if text is None:
                ours_said = "not listed"
            elif text == b"0":
                ours_said = "\"0\""
            else:
                ours_said = "%d lines" % text.count(b"\n")
            unreadable.append((rname, str(cells), ours_said))
            continue
        r = SheetResult(file, rname)
        r.cells = len(cells)
        if rendered["open"] != 0:
            r.note = "openExcel returned %d" % rendered["open"]
        elif oname is None:
            r.note = "sheet missing from our list"
        elif oname != rname:
            r.note = "sheet name %s, reference %s" % (show(oname), show(rname))
        elif isinstance(cells, NoWorksheet):
            if text not in (b"", b"0"):
                r.note = "sheet without a worksheet part, but we show %d lines" % len(text.split(b"\n")[:-1])
        elif text == b"0":
            r.note = "getSheetData returned \"0\""
        else:
            compare_sheet(r, text, cells, date1904)
        results.append(r)
    for name, text in unmatched_ours:
        r = SheetResult(file, name)
        r.note = "sheet not in the workbook's sheet list"
        results.append(r)
    return results, notes, unreadable


# --------------------------------------------------------------------------
# Report.


def pct(a, b):
    return "%.2f%%" % (100.0 * a / b) if b else "n/a"


def describe(result, limit):
    out = []
    if result.note:
        out.append(result.note)
    for label, items in (("differs", result.diffs), ("quirk", result.quirks)):
        for key, ref, ours, expected, verdict in sorted(items, key=lambda d: d[0])[:limit]:
            out.append("%-7s %-10s ours %s  reference %s  (%s)" % (
                label, ref, show(ours) if ours is not None else "-",
                show(expected) if expected is not None else "-", verdict))
        if len(items) > limit:
            out.append("... %d more %s cells" % (len(items) - limit, label))
    return out


class Run:
    """Everything one library made of the corpus."""

    def __init__(self, library):
        self.lib = library
        self.results = []       # SheetResult of every compared sheet
        self.notes = {}         # file -> [note]
        self.crashes = []       # (file, what happened)
        self.unreadable = []    # (file, sheet or None, why, what we made of it)
        self.seconds = []       # (seconds, file)

    def check(self, file, path, ref, timeout):
        rendered, failure, seconds = self.lib.run(path, timeout)
        self.seconds.append((seconds, file))
        if isinstance(ref, Unreadable):
            outcome = failure or "openExcel %d, %d sheets" % (rendered["open"], len(rendered["sheets"]))
            self.unreadable.append((file, None, str(ref), outcome))
        if failure:
            self.crashes.append((file, failure))
        if isinstance(ref, Unreadable):
            return
        if failure:
            for name, cells in ref[1]:
                if not isinstance(cells, Unreadable):
                    r = SheetResult(file, name)
                    r.note = "not rendered: " + failure
                    self.results.append(r)
            return
        results, notes, unreadable = compare_workbook(file, rendered, ref)
        self.results.extend(results)
        self.unreadable.extend((file, name, why, ours) for name, why, ours in unreadable)
        if notes:
            self.notes[file] = notes

    def share(self):
        equal = sum(1 for r in self.results if r.equal)
        return equal / len(self.results) if self.results else 1.0

    def unexpected(self):
        """Differing sheets that are not known to differ."""
        return [r for r in self.results if not r.equal and (r.file, r.sheet) not in KNOWN_DIFFERENCES]

    def now_equal(self):
        """Sheets known to differ that read equal now."""
        return [r for r in self.results if r.equal and (r.file, r.sheet) in KNOWN_DIFFERENCES]

    def report(self, files, corpus, limit):
        results = self.results
        equal = [r for r in results if r.equal]
        differing = [r for r in results if not r.equal]
        quirk_only = [r for r in differing if not r.diffs and r.note is None]
        unreadable_files = [u for u in self.unreadable if u[1] is None]
        unreadable_sheets = [u for u in self.unreadable if u[1] is not None]
        unexpected = self.unexpected()
        now_equal = self.now_equal()
        print()
        print("Corpus check of %s (%s build)" % (self.lib.path, self.lib.label))
        print("  corpus                            %s" % os.path.abspath(corpus))
        print("  files                             %d" % len(files))
        print("  files the reference cannot read   %d (not counted)" % len(unreadable_files))
        print("  sheets the reference cannot read  %d (not counted)" % len(unreadable_sheets))
        print("  sheets compared                   %d" % len(results))
        print("  sheets equal                      %d (%s)" % (len(equal), pct(len(equal), len(results))))
        print("  sheets differing                  %d (%d of them only by kept quirks)" % (
            len(differing), len(quirk_only)))
        holding = [r for r in results if r.cells]
        print("  sheets holding cells              %d, equal %d (%s)" % (
            len(holding), sum(1 for r in holding if r.equal),
            pct(sum(1 for r in holding if r.equal), len(holding))))
        print("  cells compared                    %d" % sum(r.cells for r in results))
        print("  crashes and timeouts              %d" % len(self.crashes))
        print("  differing, known                  %d" % (len(differing) - len(unexpected)))
        print("  differing, NOT known              %d" % len(unexpected))
        print("  known to differ, now equal        %d" % len(now_equal))
        slowest = sorted(self.seconds, reverse=True)[:3]
        print("  slowest files                     " + ", ".join("%s %.1fs" % (f, s) for s, f in slowest))

        if unexpected:
            print()
            print("  Differing sheets not in KNOWN_DIFFERENCES (these fail the check):")
            for r in unexpected:
                first = r.first()
                print("    %s | %s | %s" % (r.file, show(r.sheet), r.note if first is None else
                                          "%s ours %s reference %s (%s)" % (
                                              first[1], show(first[2]) if first[2] is not None else "-",
                                              show(first[3]) if first[3] is not None else "-", first[4])))
        if now_equal:
            print()
            print("  Known to differ but equal now (take them off KNOWN_DIFFERENCES):")
            for r in now_equal:
                print("    %s | %s" % (r.file, show(r.sheet)))
        if differing:
            print()
            print("  Differing sheets, first differing cell:")
            for r in differing:
                first = r.first()
                if first is None:
                    print("    %s | %s | %s" % (r.file, show(r.sheet), r.note))
                else:
                    _, ref, ours, expected, verdict = first
                    print("    %s | %s | %s | ours %s | reference %s | %s" % (
                        r.file, show(r.sheet), ref, show(ours) if ours is not None else "-",
                        show(expected) if expected is not None else "-", verdict))
        if self.crashes:
            print()
            print("  Crashes and timeouts:")
            for file, failure in self.crashes:
                print("    %s: %s" % (file, failure))
        if self.unreadable:
            print()
            print("  Not counted, the reference cannot read them (damaged on purpose):")
            for file, sheet, why, ours in self.unreadable:
                where = file if sheet is None else "%s | %s" % (file, show(sheet))
                print("    %s: %s | ours: %s" % (where, why, ours))

        print()
        print("  Per-file differences:")
        by_file = {}
        for r in differing:
            by_file.setdefault(r.file, []).append(r)
        for file in files:
            if file not in by_file and file not in self.notes:
                continue
            print("    %s" % file)
            for note in self.notes.get(file, []):
                print("      note: " + note)
            for r in by_file.get(file, []):
                print("      sheet %s: %d differing, %d quirk cells of %d" % (
                    show(r.sheet), len(r.diffs), len(r.quirks), r.cells))
                for line in describe(r, limit):
                    print("        " + line)

    def dump(self):
        def cells(items):
            return [[ref, show(o) if o is not None else None, show(e) if e is not None else None, v]
                    for _, ref, o, e, v in sorted(items, key=lambda d: d[0])]
        return {
            "library": self.lib.path, "build": self.lib.label, "share": self.share(),
            "crashes": self.crashes, "unreadable": self.unreadable,
            "differing": [{"file": r.file, "sheet": r.sheet, "note": r.note, "cells": r.cells,
                           "diffs": cells(r.diffs), "quirks": cells(r.quirks)}
                          for r in self.results if not r.equal],
        }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--corpus", required=True, help="folder of workbooks")
    parser.add_argument("--library", action="append", required=True,
                        help="tabulon.so to check; repeat to check several builds")
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
    for path in args.library:
        if not os.path.isfile(path):
            print("no library at " + path)
            return 2
    runs = [Run(Library(p)) for p in args.library]
    for run in runs:
        _, failure, _ = run.lib.run(os.devnull, 60)
        if failure:
            print("cannot use %s: %s" % (run.lib.path, failure))
            return 2

    files = sorted(f for f in os.listdir(args.corpus)
                   if f.lower().endswith((".xlsx", ".xlsm")) and not f.startswith("~$"))
    if args.only:
        files = [f for f in files if any(fnmatch.fnmatch(f, p) for p in args.only)]
    if not files:
        print("no workbooks in %s: skipped" % args.corpus)
        return SKIP

    for file in files:
        path = os.path.join(args.corpus, file)
        try:
            ref = reference(path)
        except Unreadable as e:
            ref = e
        for run in runs:
            run.check(file, path, ref, args.timeout)

    for run in runs:
        run.report(files, args.corpus, args.cells)
    if args.json:
        with open(args.json, "w") as f:
            json.dump([run.dump() for run in runs], f, indent=1)
    failed = any(run.crashes or run.unexpected() for run in runs)
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--render":
        sys.stdout.write(json.dumps(render_workbook(sys.argv[2], sys.argv[3])))
        sys.exit(0)
    sys.exit(main())
