"""What an independent reader (openpyxl) sees in the workbooks the one-shot and streaming paths
write: values, number formats, fonts, fills, borders, alignment, merges, panes, columns and rows."""

import datetime
import io
import os
import shutil
import subprocess
import tempfile
import zipfile

import openpyxl
import pytest

import tessary

RED = "#FF0000"
STYLE = {
    "font": {"bold": True, "italic": True, "size": 14, "color": "#1F4E79", "name": "Arial"},
    "fill": "#FFF2CC",
    "align": {"horizontal": "center", "vertical": "top", "wrap": True},
    "border": {"top": {"style": "thin", "color": RED}, "bottom": {"style": "double"},
               "left": {"style": "medium"}, "right": {"style": "thick", "color": "#00FF00"}},
}


def usd(cents, **fmt):
    return {"type": "currency", "value": cents, "currency": dict({"code": "USD"}, **fmt)}


ROWS = [
    {"cells": [{"type": "string", "value": "Styled <&> \u00e9", "style": STYLE},
               {"type": "number", "value": 1234.5, "format": {"decimals": 2}},
               {"type": "number", "value": -3, "format": {"grouped": False, "negative": "parens"}},
               {"type": "number", "value": 0.5, "format": {"raw": "0.0E+00"}},
               {"type": "boolean", "value": True},
               {"type": "blank", "style": {"fill": "#CCCCCC"}}],
     "height": 30},
    {"cells": [usd(1999), {"type": "currency", "value": 1999, "currency": {"code": "EUR", "locale": "de-DE"}},
               {"type": "percent", "value": 0.125, "decimals": 1}, {"type": "percent", "value": 0.5},
               {"type": "percent", "value": 0.25, "decimals": 0}, {"type": "number", "value": 7}],
     "outlineLevel": 1},
    {"cells": [{"type": "date", "value": "2024-03-01"},
               {"type": "date", "value": 45000.5, "format": {"kind": "datetime"}},
               {"type": "date", "value": 45000, "format": {"kind": "month-year"}},
               {"type": "date", "value": 45000, "format": {"raw": "yyyy-mm-dd"}}],
     "outlineLevel": 2},
    {"cells": [{"type": "string", "value": "Total"}, {"type": "number", "value": 1241.5}], "isTotal": True},
]

SHEET = {
    "name": "Report",
    "columns": [{"width": 30, "style": {"font": {"bold": True}}}, {"width": 12.5},
                {"hidden": True}, {"outlineLevel": 1}, {"outlineLevel": 2, "width": 8}],
    "rows": ROWS,
    "merges": ["A6:C7"],
    "freeze": {"rows": 1, "cols": 2},
}
WORKBOOK = {"schemaVersion": "1", "locale": "en-US",
            "sheets": [SHEET, {"name": "Second", "rows": [{"cells": [{"type": "string", "value": "x"}]}]}]}


def load(data):
    return openpyxl.load_workbook(io.BytesIO(data))


@pytest.fixture(scope="module")
def sheet():
    data, lints = tessary.write_full(WORKBOOK)
    assert lints == []
    wb = load(data)
    assert wb.sheetnames == ["Report", "Second"]
    return wb["Report"]


def serial(v):
    return (v - datetime.datetime(1899, 12, 30)).total_seconds() / 86400


VALUES = [
    ("A1", "Styled <&> \u00e9"), ("B1", 1234.5), ("C1", -3), ("D1", 0.5), ("E1", True), ("F1", None),
    ("A2", 19.99), ("B2", 19.99), ("C2", 0.125), ("D2", 0.5), ("E2", 0.25), ("F2", 7),
    ("A4", "Total"), ("B4", 1241.5),
]


@pytest.mark.parametrize("ref,want", VALUES)
def test_values(sheet, ref, want):
    assert sheet[ref].value == want


def test_dates(sheet):
    assert [serial(sheet[r].value) for r in ("A3", "B3", "C3", "D3")] == [45352, 45000.5, 45000, 45000]
    assert all(sheet[r].is_date for r in ("A3", "B3", "C3", "D3"))


FORMATS = [
    ("B1", "#,##0.00"), ("C1", "0;(0)"), ("D1", "0.0E+00"), ("E1", "General"),
    ("A2", '"$"#,##0.00'), ("B2", '#,##0.00"\u20ac"'), ("C2", "0.0%"), ("D2", "0.00%"), ("E2", "0%"),
    ("A3", "mm-dd-yy"), ("B3", "m/d/yy h:mm"), ("C3", "mmm-yy"), ("D3", "yyyy-mm-dd"),
]


@pytest.mark.parametrize("ref,code", FORMATS)
def test_number_formats(sheet, ref, code):
    assert sheet[ref].number_format == code


def rgb(color):
    return color.rgb[-6:].upper() if color is not None and color.rgb else None


def test_cell_style(sheet):
    c = sheet["A1"]
    assert (c.font.b, c.font.i, c.font.sz, c.font.name, rgb(c.font.color)) == (
        True, True, 14, "Arial", "1F4E79")
    assert c.fill.fill_type == "solid" and rgb(c.fill.fgColor) == "FFF2CC"
    assert (c.alignment.horizontal, c.alignment.vertical, c.alignment.wrap_text) == ("center", "top", True)
    b = c.border
    assert (b.top.style, b.bottom.style, b.left.style, b.right.style) == ("thin", "double", "medium", "thick")
    assert (rgb(b.top.color), rgb(b.right.color)) == ("FF0000", "00FF00")
    assert rgb(sheet["F1"].fill.fgColor) == "CCCCCC"
    # the column style reaches cells without a style of their own
    assert sheet["A2"].font.b and sheet["A3"].font.b and not sheet["B2"].font.b


def test_sheet_layout(sheet):
    assert [str(r) for r in sheet.merged_cells.ranges] == ["A6:C7"]
    assert sheet.freeze_panes == "C2"
    dims = sheet.column_dimensions
    assert dims["A"].width == pytest.approx(30) and dims["B"].width == pytest.approx(12.5)
    assert dims["C"].hidden
    assert (dims["D"].outline_level, dims["E"].outline_level) == (1, 2)
    assert sheet.row_dimensions[1].height == 30
    assert (sheet.row_dimensions[2].outline_level, sheet.row_dimensions[3].outline_level) == (1, 2)
    assert sheet.calculate_dimension() == "A1:F7"  # the rows, and the merge below them


def test_streamed_workbook_reads_the_same():
    w = tessary.WorkbookWriter("en-US")
    for meta in WORKBOOK["sheets"]:
        w.start_sheet(meta)
        for r in meta["rows"]:
            w.write_row(r)
    streamed, lints = w.finish()
    assert lints == []
    one_shot = tessary.write(WORKBOOK)
    a, b = zipfile.ZipFile(io.BytesIO(streamed)), zipfile.ZipFile(io.BytesIO(one_shot))
    assert a.namelist() == b.namelist()
    for name in a.namelist():
        assert a.read(name) == b.read(name), name
    assert all(i.compress_type == zipfile.ZIP_STORED for i in a.infolist())
    assert a.testzip() is None


def test_text_round_trip():
    texts = ["", " lead", "trail ", "tab\there", "line\nbreak", "\u6f22\u5b57", "\U0001f600",
             "a" * 32767, "<tag attr=\"v\">&amp;</tag>"]
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "T"})
    w.write_table([{"type": "string"}], [[t] for t in texts])
    ws = load(w.finish()[0])["T"]
    got = [ws.cell(row=i + 1, column=1).value for i in range(len(texts))]
    assert got == texts


def soffice():
    return shutil.which("soffice") or shutil.which("libreoffice")


@pytest.mark.skipif(soffice() is None, reason="LibreOffice is not installed")
def test_libreoffice_reads_the_workbook_as_csv():
    book = {"sheets": [{"name": "Data", "rows": [
        {"cells": [{"type": "string", "value": "name"}, {"type": "string", "value": "amount"},
                   {"type": "string", "value": "flag"}, {"type": "string", "value": "day"}]},
        {"cells": [{"type": "string", "value": "caf\u00e9, \"x\""}, {"type": "number", "value": 2.5},
                   {"type": "boolean", "value": True},
                   {"type": "date", "value": "2024-03-01", "format": {"raw": "yyyy-mm-dd"}}]},
        {"cells": [{"type": "string", "value": "_x0041_"}, usd(-1999), {"type": "boolean", "value": False},
                   {"type": "blank"}]},
    ]}]}
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "book.xlsx")
        with open(src, "wb") as f:
            f.write(tessary.write(book))
        env = dict(os.environ, HOME=tmp)
        subprocess.run([soffice(), "--headless", "-env:UserInstallation=file://" + tmp + "/profile",
                        "--convert-to", "csv:Text - txt - csv (StarCalc):44,34,76", "--outdir", tmp, src],
                       check=True, capture_output=True, timeout=180, env=env)
        with open(os.path.join(tmp, "book.csv"), encoding="utf-8") as f:
            lines = f.read().splitlines()
    assert lines == [
        "name,amount,flag,day",
        '"caf\u00e9, ""x""",2.5,TRUE,2024-03-01',
        '_x0041_,-$19.99,FALSE,',  # the literal text, not an escaped "A"
    ]
