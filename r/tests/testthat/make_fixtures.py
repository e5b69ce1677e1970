#!/usr/bin/env python3
"""Writes the package tests' workbooks into the folder given (standard
library only):

  types.xlsx     Types   one column per kind of value, an empty row and
                         empty columns inside
                 Année   a second sheet with a name outside ASCII
                 Report  starts at B2 after an empty row: a title, a header,
                         five rows
                 Names   a header with an empty and repeated names
                 Blank   no cells at all
  readxl.xlsx    sheets that show one rule each of reading a sheet as a
                 data frame (leading empty rows and columns, header and skip,
                 kinds and coercions, na and whitespace, names, ranges)
  date1904.xlsx  the same dates in the 1904 date system
  not-a-workbook.xlsx    text
"""
import os
import sys
import zipfile
from xml.sax.saxutils import escape

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
RELS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"

DATE, CUSTOM_DATE = ("style", 1), ("style", 2)  # cell formats 14 and 164
DURATION, TIME_OF_DAY = ("style", 3), ("style", 4)  # [h]:mm:ss and hh:mm:ss
strings = []


def text_element(text):
    """<t>, marked to keep its spaces where it has any at an end, as
    spreadsheet programs write it."""
    if text != text.strip():
        return '<t xml:space="preserve">%s</t>' % escape(text)
    return "<t>%s</t>" % escape(text)


def number(value):
    """A number as a spreadsheet program stores it: no ".0" on integers."""
    if isinstance(value, float) and value.is_integer() and abs(value) < 1e21:
        return "%d" % value
    return repr(value)


def cell(ref, value):
    """str: shared string; ("inline", str); bool; (style, serial); number."""
    if isinstance(value, bool):
        return '<c r="%s" t="b"><v>%d</v></c>' % (ref, value)
    if isinstance(value, str):
        if value not in strings:
            strings.append(value)
        return '<c r="%s" t="s"><v>%d</v></c>' % (ref, strings.index(value))
    if isinstance(value, tuple) and value[0] == "error":
        return '<c r="%s" t="e"><v>%s</v></c>' % (ref, escape(value[1]))
    if isinstance(value, tuple) and value[0] == "formula text":
        return '<c r="%s" t="str"><f>A1</f><v>%s</v></c>' % (ref, escape(value[1]))
    if isinstance(value, tuple) and value[0] == "inline":
        return '<c r="%s" t="inlineStr"><is>%s</is></c>' % (ref, text_element(value[1]))
    if isinstance(value, tuple):
        return '<c r="%s" s="%d"><v>%s</v></c>' % (ref, value[0][1], number(value[1]))
    return '<c r="%s"><v>%s</v></c>' % (ref, number(value))


def sheet(rows, first_column="A"):
    """rows: {row number: [values]}, None leaving a cell out."""
    xml = []
    for r in sorted(rows):
        cells = "".join(cell("%s%d" % (chr(ord(first_column) + i), r), v)
                        for i, v in enumerate(rows[r]) if v is not None)
        xml.append('<row r="%d">%s</row>' % (r, cells))
    return '<worksheet xmlns="%s"><sheetData>%s</sheetData></worksheet>' % (MAIN, "".join(xml))


def types_sheets():
    return [
    ("Types", sheet({
        1: ["Number", "Date", "Custom", "Flag", "Text", "Mixed", "Empty", None, "Last"],
        2: [1.5, (DATE, 45292), (CUSTOM_DATE, 45292.5), True, "alpha", 7, None, None, "x"],
        3: [-2, (DATE, 45293), (CUSTOM_DATE, 45293.25), False, ("inline", "Åsa; ok"), "seven"],
        4: [None, None, None, None, None, True],
        # row 5 is empty
        6: [1e10, (DATE, 45294), (CUSTOM_DATE, 45294), True, "alpha", None, None, None, "y"],
    })),
    ("Année", sheet({1: ["k", "v"], 2: ["a", 1], 3: ["b", 2]})),
    ("Report", sheet({
        2: ["Quarterly report"],
        3: ["when", "amount"],
        4: [(DATE, 45292), 10], 5: [(DATE, 45293), 20], 6: [(DATE, 45294), 30],
        7: [(DATE, 45295), 40], 8: [(DATE, 45296), 50],
    }, first_column="B")),
    ("Names", sheet({1: ["id", None, "x", "x", "y...9"], 2: [1, 2, 3, 4, 5]})),
    ("Blank", sheet({})),
    ]

STYLES = ('<styleSheet xmlns="%s">'
          '<numFmts count="3"><numFmt numFmtId="164" formatCode="d/m/yyyy h:mm"/>'
          '<numFmt numFmtId="165" formatCode="[h]:mm:ss"/>'
          '<numFmt numFmtId="166" formatCode="hh:mm:ss"/></numFmts>'
          '<fonts count="1"><font/></fonts><fills count="1"><fill/></fills>'
          '<borders count="1"><border/></borders>'
          '<cellStyleXfs count="1"><xf numFmtId="0"/></cellStyleXfs>'
          '<cellXfs count="5"><xf numFmtId="0" xfId="0"/>'
          '<xf numFmtId="14" xfId="0" applyNumberFormat="1"/>'
          '<xf numFmtId="164" xfId="0" applyNumberFormat="1"/>'
          '<xf numFmtId="165" xfId="0" applyNumberFormat="1"/>'
          '<xf numFmtId="166" xfId="0" applyNumberFormat="1"/></cellXfs>'
          '</styleSheet>' % MAIN)


def write_workbook(path, make_sheets, date1904=False):
    del strings[:]  # shared strings are per workbook; the sheets fill them
    sheets = make_sheets()
    n = len(sheets)
    overrides = "".join(
        '<Override PartName="/xl/worksheets/sheet%d.xml" ContentType="application/'
        'vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>' % i
        for i in range(1, n + 1))
    parts = {
        "[Content_Types].xml":
            '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            '<Override PartName="/xl/workbook.xml" ContentType="application/'
            'vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>%s</Types>' % overrides,
        "_rels/.rels":
            '<Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" '
            'Target="xl/workbook.xml"/></Relationships>' % (PKG, RELS),
        "xl/workbook.xml":
            '<workbook xmlns="%s" xmlns:r="%s">%s<sheets>%s</sheets></workbook>' % (
                MAIN, RELS, '<workbookPr date1904="1"/>' if date1904 else "", "".join('<sheet name="%s" sheetId="%d" r:id="rId%d"/>'
                                    % (escape(name), i, i)
                                    for i, (name, _) in enumerate(sheets, start=1))),
        "xl/_rels/workbook.xml.rels":
            '<Relationships xmlns="%s">%s'
            '<Relationship Id="rId%d" Type="%s/styles" Target="styles.xml"/>'
            '<Relationship Id="rId%d" Type="%s/sharedStrings" Target="sharedStrings.xml"/>'
            '</Relationships>' % (
                PKG, "".join('<Relationship Id="rId%d" Type="%s/worksheet" '
                             'Target="worksheets/sheet%d.xml"/>' % (i, RELS, i)
                             for i in range(1, n + 1)),
                n + 1, RELS, n + 2, RELS),
        "xl/styles.xml": STYLES,
    }
    for i, (_, xml) in enumerate(sheets, start=1):
        parts["xl/worksheets/sheet%d.xml" % i] = xml
    parts["xl/sharedStrings.xml"] = '<sst xmlns="%s">%s</sst>' % (
        MAIN, "".join("<si>%s</si>" % text_element(s) for s in strings))
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, text in parts.items():
            archive.writestr(name, text.encode("utf-8"))


def readxl_sheets():
    E = ("error", "#N/A")
    return [
        # Starts at C3: two empty rows and two empty columns before it.
        ("Lead", sheet({3: ["id", "name", "score"], 4: [1, "a", 2.5], 5: [2, "b", None],
                        7: [3, ("inline", "c"), 4]}, first_column="C")),
        # A title, an empty row, then the header.
        ("Titled", sheet({1: ["Report"], 3: ["when", "n", "ok"],
                          4: [(DATE, 45292), 1, True], 5: [(DATE, 45293.5), 2, False],
                          6: [(DATE, 45294), 3, None]})),
        # One column per kind, and columns mixing them.
        ("Kinds", sheet({
            1: ["num", "int", "date", "flag", "text", "num_text", "date_num", "flag_num",
                "errors", "blank", "spaces", "numeric_text", "duration", "clock"],
            2: [1.5, 1, (DATE, 45292), True, "x", 1, (DATE, 45292), True, 1, None, "  pad  ",
                "12", (DURATION, 1.5), (TIME_OF_DAY, 0.25)],
            3: [-2.25, 2, (CUSTOM_DATE, 45293.75), False, "", "two", 3.5, 0, E, None, "NA",
                "1e3", (DURATION, 0.5), (TIME_OF_DAY, 0.5)],
            4: [None, 3, None, None, ("inline", "y z"), 3, (DATE, 45294), None,
                ("error", "#DIV/0!"), None, " ", "no", (DURATION, 30), (TIME_OF_DAY, 0.75)],
            5: [1e15, 4, (DATE, 1), False, ("formula text", "f"), None, None, 2, "text", None,
                "-", " 7 ", None, None],
            6: [0.1, 5, (DATE, 59), True, "TRUE", 5, 1, True, 2, None, "x ", "x", None, None],
        })),
        # Repeated, empty and awkward names.
        ("Names", sheet({1: ["a", None, "a", " b c ", "...5", "", "1"], 2: [1, 2, 3, 4, 5, 6, 7]})),
        ("Empty", sheet({})),
        # Numbers, then text past readxl's 1,000 rows of guessing.
        ("Late", sheet(dict([(1, ["value"])] + [(r, [r]) for r in range(2, 1200)] +
                            [(1200, ["late text"])]))),
        ("HeaderOnly", sheet({1: ["x", "y"]})),
        # Values in a block from B2 to E8 with holes, for ranges.
        ("Grid", sheet({r: [r * 10 + c if (r + c) % 5 else None for c in range(1, 5)]
                        for r in range(2, 9)}, first_column="B")),
    ]


def date_sheets():
    return [("Dates", sheet({1: ["when", "day"], 2: [(DATE, 0), 0], 3: [(DATE, 1), 1],
                             4: [(DATE, 45292.5), 45292.5], 5: [(CUSTOM_DATE, 61), 61]}))]


def main():
    folder = sys.argv[1]
    write_workbook(os.path.join(folder, "types.xlsx"), types_sheets)
    write_workbook(os.path.join(folder, "readxl.xlsx"), readxl_sheets)
    write_workbook(os.path.join(folder, "date1900.xlsx"), date_sheets)
    write_workbook(os.path.join(folder, "date1904.xlsx"), date_sheets, date1904=True)
    with open(os.path.join(folder, "not-a-workbook.xlsx"), "w") as f:
        f.write("Region;Units\nNorth;120\n")


if __name__ == "__main__":
    main()
