#!/usr/bin/python3
"""Checks an .xlsx workbook against expected sheets, with readers independent of ours.

Usage: check_xlsx.py WORKBOOK EXPECTED_JSON

EXPECTED_JSON is {"sheets": [{"name": str, "rows": [[str, ...], ...]}, ...]}. An empty
string expects a blank cell. Checks, in order: the sheet names, every cell value as
openpyxl reads it (nothing outside the expected rows and columns), and, in the raw sheet
XML, that every cell is stored as text (t="s" or t="inlineStr").
Exit status 0 when all agree, 1 with the differences on stderr otherwise.
"""
import json
import re
import sys
import zipfile
import xml.etree.ElementTree as ET

import openpyxl

MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")


def as_excel_shows(value):
    """Decodes the _xHHHH_ escapes of cell text the way Excel does."""
    if isinstance(value, str):
        return ESCAPE.sub(lambda m: chr(int(m.group(1), 16)), value)
    return value


def short(value):
    text = repr(value)
    return text if len(text) <= 80 else f"{text[:60]}... ({len(value)} characters)"


def main():
    workbook_path, expected_path = sys.argv[1], sys.argv[2]
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)["sheets"]
    problems = []

    book = openpyxl.load_workbook(workbook_path, read_only=True)
    names = book.sheetnames
    want_names = [sheet["name"] for sheet in expected]
    if names != want_names:
        problems.append(f"sheet names {names!r}, expected {want_names!r}")
    for sheet in expected:
        if sheet["name"] not in names:
            continue
        got = {}
        for row in book[sheet["name"]].iter_rows():
            for cell in row:
                if cell.value is not None:
                    got[(cell.row, cell.column)] = as_excel_shows(cell.value)
        want = {}
        for r, row in enumerate(sheet["rows"], start=1):
            for c, value in enumerate(row, start=1):
                if value != "":
                    want[(r, c)] = value
        for key in sorted(set(got) | set(want)):
            if got.get(key) != want.get(key):
                problems.append(f"{sheet['name']} row {key[0]} column {key[1]}: "
                                f"{short(got.get(key))}, expected {short(want.get(key))}")
                if len(problems) > 20:
                    break
    book.close()

    with zipfile.ZipFile(workbook_path) as archive:
        for name in archive.namelist():
            if not name.startswith("xl/worksheets/sheet"):
                continue
            for _, element in ET.iterparse(archive.open(name)):
                if element.tag == MAIN + "c" and element.get("t") not in ("s", "inlineStr"):
                    problems.append(f"{name} cell {element.get('r')} has type "
                                    f"{element.get('t')!r}, not text")
                element.clear()

    for problem in problems[:20]:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
