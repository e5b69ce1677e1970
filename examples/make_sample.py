#!/usr/bin/env python3
"""Writes examples/sample.xlsx: a small workbook with shared strings, dates,
numbers, a boolean, an empty row and a sheet name outside ASCII.

Only the standard library is used, and the bytes are the same on every run
(fixed member times), so the committed sample can be checked against it.
"""
import os
import sys
import zipfile
from xml.sax.saxutils import escape

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
RELS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'

strings = []


def shared(text):
    if text not in strings:
        strings.append(text)
    return strings.index(text)


def column(n):
    letters = ""
    while n:
        n, r = divmod(n - 1, 26)
        letters = chr(65 + r) + letters
    return letters


def cell(ref, value):
    """A cell from a Python value: str -> shared string, bool, ('date', serial),
    ('datetime', serial), or a number."""
    if isinstance(value, bool):
        return '<c r="%s" t="b"><v>%d</v></c>' % (ref, value)
    if isinstance(value, str):
        return '<c r="%s" t="s"><v>%d</v></c>' % (ref, shared(value))
    if isinstance(value, tuple):
        style = {"date": 1, "datetime": 2}[value[0]]
        return '<c r="%s" s="%d"><v>%s</v></c>' % (ref, style, value[1])
    return '<c r="%s"><v>%s</v></c>' % (ref, value)


def sheet(rows):
    """rows: {row number: [values]}; None leaves a cell out."""
    width = max(len(v) for v in rows.values())
    last = max(rows)
    xml = [HEAD, '<worksheet xmlns="%s" xmlns:r="%s">' % (MAIN, RELS),
           '<dimension ref="A1:%s%d"/><sheetData>' % (column(width), last)]
    for r in sorted(rows):
        cells = "".join(cell("%s%d" % (column(c + 1), r), v)
                        for c, v in enumerate(rows[r]) if v is not None)
        xml.append('<row r="%d" spans="1:%d">%s</row>' % (r, width, cells))
    xml.append("</sheetData></worksheet>")
    return "".join(xml)


SHEETS = [
    ("Sales", {
        1: ["Date", "Region", "Product", "Units", "Unit price", "Paid"],
        2: [("date", 45292), "North", "Notebook", 120, 2.5, True],
        3: [("date", 45293), "South", "Pencil", 800, 0.35, True],
        4: [("date", 45294), "East", "Eraser", 250, 0.8, False],
        # row 5 is empty on purpose
        6: [("date", 45297), "West", "Notebook", 75, 2.5, True],
        7: [("date", 45298), "North", "Stapler", 12, 14.99, None],
    }),
    ("Übersicht", {
        1: ["Region", "Manager", "Last review"],
        2: ["North", "Åsa Lindqvist", ("datetime", "45290.375")],
        3: ["South", "José Núñez", ("datetime", "45291.6875")],
        4: ["East", "Chloé Durand", ("datetime", "45287.5")],
    }),
    ("Notes", {
        1: ["Figures are illustrative."],
        3: ["Prices in EUR; units per day."],
    }),
]


def workbook_parts():
    sheets_xml = [render for render in (sheet(rows) for _, rows in SHEETS)]
    parts = []
    types = ['<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">',
             '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>',
             '<Default Extension="xml" ContentType="application/xml"/>',
             '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>',
             '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>',
             '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>']
    for i in range(len(SHEETS)):
        types.append('<Override PartName="/xl/worksheets/sheet%d.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>' % (i + 1))
    types.append("</Types>")
    parts.append(("[Content_Types].xml", HEAD + "".join(types)))
    parts.append(("_rels/.rels", HEAD + '<Relationships xmlns="%s"><Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % (PKG, RELS)))
    book = [HEAD, '<workbook xmlns="%s" xmlns:r="%s"><sheets>' % (MAIN, RELS)]
    rels = [HEAD, '<Relationships xmlns="%s">' % PKG]
    for i, (name, _) in enumerate(SHEETS):
        book.append('<sheet name="%s" sheetId="%d" r:id="rId%d"/>' % (escape(name, {'"': "&quot;"}), i + 1, i + 1))
        rels.append('<Relationship Id="rId%d" Type="%s/worksheet" Target="worksheets/sheet%d.xml"/>' % (i + 1, RELS, i + 1))
    n = len(SHEETS)
    rels.append('<Relationship Id="rId%d" Type="%s/styles" Target="styles.xml"/>' % (n + 1, RELS))
    rels.append('<Relationship Id="rId%d" Type="%s/sharedStrings" Target="sharedStrings.xml"/>' % (n + 2, RELS))
    book.append("</sheets></workbook>")
    rels.append("</Relationships>")
    parts.append(("xl/workbook.xml", "".join(book)))
    parts.append(("xl/_rels/workbook.xml.rels", "".join(rels)))
    for i, xml in enumerate(sheets_xml):
        parts.append(("xl/worksheets/sheet%d.xml" % (i + 1), xml))
    # Cell formats: 0 general, 1 a date (id 14), 2 a date and time (id 22).
    parts.append(("xl/styles.xml", HEAD +
                  '<styleSheet xmlns="%s"><fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
                  '<fills count="1"><fill><patternFill patternType="none"/></fill></fills>'
                  '<borders count="1"><border/></borders>'
                  '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>'
                  '<cellXfs count="3"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>'
                  '<xf numFmtId="14" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/>'
                  '<xf numFmtId="22" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>'
                  '</styleSheet>' % MAIN))
    items = "".join("<si><t>%s</t></si>" % escape(s) for s in strings)
    parts.append(("xl/sharedStrings.xml", HEAD + '<sst xmlns="%s" count="%d" uniqueCount="%d">%s</sst>'
                  % (MAIN, len(strings), len(strings), items)))
    return parts


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "sample.xlsx")
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, text in workbook_parts():
            info = zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, text.encode("utf-8"))


if __name__ == "__main__":
    main()
