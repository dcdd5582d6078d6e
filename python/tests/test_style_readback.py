"""Styles, number formats and cell text as independent readers see them: openpyxl for xl/styles.xml
and the number-format codes, LibreOffice for cell text holding _xHHHH_ runs."""

import csv
import io
import os
import shutil
import subprocess
import tempfile
import zipfile

import pytest

import tessary

openpyxl = pytest.importorskip("openpyxl")

pytestmark = pytest.mark.skipif(not hasattr(tessary, "write"), reason="tessary.write not built")


def book(*cells, locale=None, columns=None):
    sheet = {"name": "S", "rows": [{"cells": [c]} for c in cells]}
    if columns is not None:
        sheet["columns"] = columns
    wb = {"sheets": [sheet]}
    if locale is not None:
        wb["locale"] = locale
    return wb


def load(wb):
    return openpyxl.load_workbook(io.BytesIO(tessary.write(wb))).active


EURO = "\u20ac"

# (cell, workbook locale, the number format openpyxl reports)
NUMBER_FORMATS = [
    ({"type": "number", "value": 1}, None, "General"),
    ({"type": "number", "value": 1, "format": {}}, None, "#,##0"),
    ({"type": "number", "value": 1, "format": {"decimals": 2, "negative": "red"}}, None,
     "#,##0.00;[Red]-#,##0.00"),
    ({"type": "number", "value": 1, "format": {"grouped": False, "decimals": 3}}, None, "0.000"),
    ({"type": "number", "value": 1, "format": {"raw": "0.0E+00"}}, None, "0.0E+00"),
    ({"type": "percent", "value": 0.5}, None, "0.00%"),
    ({"type": "percent", "value": 0.5, "decimals": 0}, None, "0%"),
    ({"type": "percent", "value": 0.5, "decimals": 1}, None, "0.0%"),
    ({"type": "currency", "value": 12345, "currency": {"code": "USD"}}, None, '"$"#,##0.00'),
    ({"type": "currency", "value": 1, "currency": {"code": "EUR"}}, "de-DE", '#,##0.00"' + EURO + '"'),
    ({"type": "currency", "value": 1, "currency": {"code": "USD", "symbol": False}}, None,
     '"USD "#,##0.00'),
    ({"type": "currency", "value": 1, "currency": {"code": "USD", "negative": "red-parens"}}, None,
     '"$"#,##0.00;[Red]("$"#,##0.00)'),
    ({"type": "date", "value": "2024-01-15"}, None, "mm-dd-yy"),                      # built-in 14
    ({"type": "date", "value": 45306, "format": {"kind": "datetime"}}, None, "m/d/yy h:mm"),   # 22
    ({"type": "date", "value": 45306, "format": {"kind": "month-year"}}, None, "mmm-yy"),      # 17
    ({"type": "date", "value": 45306, "format": {"raw": "yyyy-mm-dd"}}, None, "yyyy-mm-dd"),
    ({"type": "number", "value": 1, "format": {"raw": 'a&b<"c">'}}, None, 'a&b<"c">'),   # escaped in XML
]


@pytest.mark.parametrize("cell, locale, want", NUMBER_FORMATS)
def test_number_format_codes(cell, locale, want):
    assert load(book(cell, locale=locale))["A1"].number_format == want


def test_styles_read_back():
    styled = {
        "font": {"bold": True, "italic": True, "size": 10.5, "color": "#1a2b3c", "name": "Arial"},
        "fill": "#ff0000",
        "border": {"bottom": {"style": "thin"}, "top": {"style": "double", "color": "#00ff00"},
                   "left": {"color": "#0000ff"}},
        "align": {"horizontal": "center", "vertical": "middle", "wrap": True},
    }
    ws = load(book({"type": "string", "value": "x", "style": styled},
                   {"type": "string", "value": "plain"}))
    a1, a2 = ws["A1"], ws["A2"]
    assert (a1.font.b, a1.font.i, a1.font.sz, a1.font.color.rgb, a1.font.name) == \
        (True, True, 10.5, "FF1A2B3C", "Arial")
    assert (a1.fill.fill_type, a1.fill.fgColor.rgb) == ("solid", "FFFF0000")
    assert (a1.border.bottom.style, a1.border.bottom.color.rgb) == ("thin", "FF000000")
    assert (a1.border.top.style, a1.border.top.color.rgb) == ("double", "FF00FF00")
    assert a1.border.left.style is None and a1.border.right.style is None
    assert (a1.alignment.horizontal, a1.alignment.vertical, a1.alignment.wrap_text) == \
        ("center", "center", True)
    assert (a2.font.b, a2.font.sz, a2.font.name, a2.fill.fill_type) == (False, 11, "Calibri", None)


def test_equal_styles_share_one_cell_format():
    same = {"fill": "#ABCDEF", "font": {"bold": True}}
    data = tessary.write(book({"type": "string", "value": "a", "style": same},
                              {"type": "string", "value": "b", "style": {"fill": "abcdef",
                                                                         "font": {"bold": True}}},
                              {"type": "number", "value": 2, "style": same}))
    styles = zipfile.ZipFile(io.BytesIO(data)).read("xl/styles.xml").decode()
    assert '<cellXfs count="2">' in styles
    assert '<fills count="3">' in styles and '<fonts count="2">' in styles


@pytest.mark.parametrize("colour", ["red", "#fff", "#12345", "#1234567", ""])
def test_bad_colour(colour):
    with pytest.raises(tessary.TessaryError) as err:
        tessary.write(book({"type": "string", "value": "x", "style": {"fill": colour}}))
    assert (err.value.code, err.value.message) == \
        ("BadColor", 'invalid colour "%s"; expected #rrggbb hex' % colour)


# Cell texts that hold _xHHHH_ runs or pieces of them; each must read back as given.
RUN_TEXTS = [
    "_x0041_", "_x0041_x0042_", "__x0041_", "_x005F_", "_x00ab_ and _x00AB_", "_x0041__x0042_",
    "snake_case_", "_X0041_", "_x004g_", "a&b<c>_x0026_", "_x000D_",
]


needs_libreoffice = pytest.mark.skipif(shutil.which("soffice") is None,
                                       reason="LibreOffice not installed")


def libreoffice_column(wb):
    """Column A of the first sheet as LibreOffice shows it (formatted), through its CSV export."""
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "book.xlsx")
        with open(src, "wb") as f:
            f.write(tessary.write(wb))
        # CSV filter: comma, double quote, UTF-8, from line 1, cell content as shown.
        subprocess.run(["soffice", "-env:UserInstallation=file://" + os.path.join(tmp, "profile"),
                        "--headless", "--convert-to",
                        "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true",
                        "--outdir", tmp, src],
                       check=True, capture_output=True, timeout=180)
        with open(os.path.join(tmp, "book.csv"), newline="", encoding="utf-8") as f:
            return [row[0] if row else "" for row in csv.reader(f)]


@needs_libreoffice
def test_escape_runs_read_back_in_libreoffice():
    assert libreoffice_column(book(*[{"type": "string", "value": t} for t in RUN_TEXTS])) == RUN_TEXTS


# (cell, its text as LibreOffice shows it under the en-US workbook locale)
SHOWN = [
    ({"type": "number", "value": 1234.5, "format": {}}, "1,235"),
    ({"type": "number", "value": -1234.5, "format": {"decimals": 2, "negative": "parens"}}, "(1,234.50)"),
    ({"type": "number", "value": -3, "format": {"decimals": 1, "grouped": False, "negative": "red"}},
     "-3.0"),
    ({"type": "percent", "value": 0.256}, "25.60%"),
    ({"type": "percent", "value": 0.256, "decimals": 0}, "26%"),
    ({"type": "percent", "value": 0.256, "decimals": 1}, "25.6%"),
    ({"type": "currency", "value": 123450, "currency": {"code": "USD"}}, "$1,234.50"),
    ({"type": "currency", "value": -123450, "currency": {"code": "USD", "negative": "red-parens"}},
     "($1,234.50)"),
    ({"type": "currency", "value": 500, "currency": {"code": "EUR", "locale": "de-DE"}}, "5.00" + EURO),
    ({"type": "currency", "value": 500, "currency": {"code": "USD", "symbol": False}}, "USD 5.00"),
    ({"type": "currency", "value": 1234, "currency": {"code": "JPY", "decimals": 0}}, "\u00a51,234"),
    ({"type": "date", "value": "2024-01-15", "format": {"raw": "yyyy-mm-dd"}}, "2024-01-15"),
    # A decimal count past the bound shows the bound's 30 places.
    ({"type": "number", "value": 0.5, "format": {"decimals": 40}}, "0.5" + "0" * 29),
]


@needs_libreoffice
def test_number_formats_as_libreoffice_shows_them():
    assert libreoffice_column(book(*[cell for cell, _ in SHOWN])) == [want for _, want in SHOWN]


@pytest.mark.skipif(not hasattr(tessary, "parse"), reason="tessary.parse not built")
def test_escape_runs_read_back_in_our_reader():
    data = tessary.write(book(*[{"type": "string", "value": t} for t in RUN_TEXTS]))
    got = list(csv.reader(io.StringIO(tessary.parse(data, "csv"))))
    assert [row[0] for row in got] == RUN_TEXTS
