"""parse(): files written by XlsxWriter, openpyxl, pandas and LibreOffice read back and compared with
openpyxl's own reading of them; the typed JSON written again; the argument checks and messages."""
import datetime
import io
import json
import math
import os
import shutil
import struct
import subprocess
import zipfile

import pytest

import tessary
from tessary import TessaryError

openpyxl = pytest.importorskip("openpyxl")
xlsxwriter = pytest.importorskip("xlsxwriter")


# ---- reference values through openpyxl ----


def openpyxl_value(v):
    """A cell value as parse() gives it in grid JSON."""
    if isinstance(v, bool) or v is None or isinstance(v, str):
        return v
    if isinstance(v, (int, float)):
        return float(v)
    if isinstance(v, datetime.datetime):
        if v.time() == datetime.time(0):
            return v.date().isoformat()
        return v.replace(microsecond=0).isoformat()
    if isinstance(v, datetime.date):
        return v.isoformat()
    if isinstance(v, datetime.time):
        return "1899-12-30T" + v.replace(microsecond=0).isoformat()
    raise AssertionError(f"unexpected openpyxl value {v!r}")


def trimmed(rows):
    """Rows without trailing empty cells and without trailing empty rows."""
    out = []
    for row in rows:
        row = list(row)
        while row and row[-1] is None:
            row.pop()
        out.append(row)
    while out and not out[-1]:
        out.pop()
    return out


def same(a, b):
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    return type(a) is type(b) and a == b


def assert_matches_openpyxl(data):
    ours = json.loads(tessary.parse(data))
    ref = openpyxl.load_workbook(io.BytesIO(data))
    assert [s["name"] for s in ours["sheets"]] == ref.sheetnames
    for sheet, ws in zip(ours["sheets"], ref.worksheets):
        want = trimmed([[openpyxl_value(v) for v in row] for row in ws.iter_rows(values_only=True)])
        got = trimmed(sheet["rows"])
        assert len(got) == len(want), sheet["name"]
        for r, (g, w) in enumerate(zip(got, want)):
            assert len(g) == len(w) and all(same(x, y) for x, y in zip(g, w)), (sheet["name"], r, g, w)
    return ours


# ---- files from other writers ----

TEXTS = ["plain", "a,b", 'say "hi"', "two\nlines", "pipe|bar", "caf\u00e9 \u6771\u4eac", " lead", ""]
# Texts that XlsxWriter stores with _xHHHH_ escapes (openpyxl leaves those undecoded in inline
# strings, so the input itself is the oracle).
ESCAPED_TEXTS = ["_x0041_", "cr\r\nlf", "bell\x07", "tab\tend", "_x005F_", "x_x12_"]
NUMBERS = [0, 1, -1, 2.5, 0.1, 1e16, 1.5e-7, 123456789.125, -0.0, 2**53]


def xlsxwriter_book(numbers=NUMBERS, **options):
    buf = io.BytesIO()
    wb = xlsxwriter.Workbook(buf, options)
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    stamp = wb.add_format({"num_format": "yyyy-mm-dd hh:mm:ss"})
    clock = wb.add_format({"num_format": "h:mm"})
    red = wb.add_format({"num_format": "#,##0.00;[Red]-#,##0.00"})
    usd = wb.add_format({"num_format": '"USD "#,##0.00'})
    ws = wb.add_worksheet("Data")
    ws.write_row(0, 0, ["text", "number", "flag", "date"])
    for i, t in enumerate(TEXTS):
        ws.write_string(i + 1, 0, t)
    for i, n in enumerate(numbers):
        ws.write_number(i + 1, 1, n)
    ws.write_boolean(1, 2, True)
    ws.write_boolean(2, 2, False)
    ws.write_datetime(1, 3, datetime.datetime(2024, 1, 31), date)
    ws.write_datetime(2, 3, datetime.datetime(2024, 2, 29, 13, 45, 10), stamp)
    ws.write_datetime(3, 3, datetime.datetime(1999, 12, 31, 23, 59, 59), stamp)
    ws.write_number(4, 3, 0.25, clock)
    ws.write_number(5, 3, -1234.5, red)
    ws.write_number(6, 3, 99.99, usd)
    ws.write_number(40, 7, 7)  # far away: empty rows and columns before it
    gaps = wb.add_worksheet("Gaps")
    gaps.write(2, 2, "C3")
    gaps.write(2, 0, "A3")
    gaps.write(5, 1, 5)
    wb.add_worksheet("Empty")
    wb.close()
    return buf.getvalue()


def openpyxl_book():
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "First"
    ws.append(["name", "value", "ok", "when"])
    ws.append(["alpha", 1.25, True, datetime.datetime(2020, 5, 17, 8, 30)])
    ws.append(["\u00df\u00e9", -3, False, datetime.date(1970, 1, 1)])
    ws["F10"] = "far"
    ws["B12"] = 1e-300
    ws2 = wb.create_sheet("Second & more")
    ws2["A1"] = "x"
    ws2["A1"].number_format = "@"
    ws2["B2"] = 44927
    ws2["B2"].number_format = "d-mmm-yy"
    ws2["C2"] = 44927
    ws2["C2"].number_format = "0.00"
    buf = io.BytesIO()
    wb.save(buf)
    return buf.getvalue()


@pytest.mark.parametrize(
    "make",
    [
        pytest.param(lambda: xlsxwriter_book(), id="xlsxwriter-shared-strings"),
        pytest.param(lambda: xlsxwriter_book(constant_memory=True), id="xlsxwriter-constant-memory"),
        pytest.param(openpyxl_book, id="openpyxl"),
    ],
)
def test_other_writers_read_as_openpyxl_reads_them(make):
    assert_matches_openpyxl(make())


def test_xlsxwriter_values_in_every_form():
    data = xlsxwriter_book()
    grid = json.loads(tessary.parse(data))
    rows = grid["sheets"][0]["rows"]
    assert rows[1][3] == "2024-01-31"
    assert rows[2][3] == "2024-02-29T13:45:10"
    assert rows[4][3] == "1899-12-30T06:00:00"
    assert rows[5][3] == -1234.5 and rows[6][3] == 99.99  # [Red] and "USD " are not date codes
    assert len(rows) == 41 and rows[40] == [None] * 7 + [7.0]
    assert grid["sheets"][1]["rows"] == [[], [], ["A3", None, "C3"], [], [], [None, 5.0]]
    assert grid["sheets"][2] == {"name": "Empty", "rows": []}
    csv = tessary.parse(data, "csv", "Gaps")
    assert csv == "\n\nA3,,C3\n\n\n,5\n"
    md = tessary.parse(data, "md", "Gaps")
    assert md.splitlines()[:3] == ["|  |  |  |", "| --- | --- | --- |", "|  |  |  |"]
    first = tessary.parse(data, "csv").splitlines()
    assert first[0] == "text,number,flag,date"
    assert first[1] == "plain,0,TRUE,2024-01-31"
    assert first[3] == '"say ""hi""",-1,,1999-12-31T23:59:59'


@pytest.mark.parametrize("options", [{}, {"constant_memory": True}])
def test_escaped_texts_read_back_as_written(options):
    buf = io.BytesIO()
    wb = xlsxwriter.Workbook(buf, options)
    ws = wb.add_worksheet()
    for i, t in enumerate(ESCAPED_TEXTS):
        ws.write_string(i, 0, t)
    wb.close()
    rows = json.loads(tessary.parse(buf.getvalue()))["sheets"][0]["rows"]
    assert rows == [[t] for t in ESCAPED_TEXTS]


@pytest.mark.parametrize("engine", ["openpyxl", "xlsxwriter"])
def test_pandas_frames(engine):
    pd = pytest.importorskip("pandas")
    frame = pd.DataFrame(
        {
            "name": ["a", "b", None, "d"],
            "count": [1, 2, 3, 4],
            "ratio": [0.5, float("nan"), 1.25, -2.0],
            "flag": [True, False, True, False],
            "day": pd.to_datetime(["2021-03-04", "2021-03-05 06:07:08", None, "1900-03-01"], format="ISO8601"),
        }
    )
    buf = io.BytesIO()
    with pd.ExcelWriter(buf, engine=engine) as writer:
        frame.to_excel(writer, sheet_name="Frame", index=False)
        frame.head(2).to_excel(writer, sheet_name="Head")
    data = buf.getvalue()
    assert_matches_openpyxl(data)
    back = pd.read_csv(io.StringIO(tessary.parse(data, "csv", "Frame")))
    assert list(back["count"]) == [1, 2, 3, 4]
    assert list(back["name"].fillna("")) == ["a", "b", "", "d"]


def test_libreoffice_converted_csv(tmp_path):
    soffice = shutil.which("soffice")
    if soffice is None:
        pytest.skip("LibreOffice is not installed")
    src = tmp_path / "table.csv"
    src.write_text("city,pop,flag\nOslo,709037,TRUE\n\"Ham, burg\",1.5,\nKyoto,-3e2,FALSE\n")
    profile = (tmp_path / "profile").as_uri()
    try:
        subprocess.run(
            [soffice, f"-env:UserInstallation={profile}", "--headless", "--convert-to", "xlsx",
             "--outdir", str(tmp_path), str(src)],
            check=True, capture_output=True, timeout=120,
        )
    except (subprocess.SubprocessError, OSError) as exc:
        pytest.skip(f"LibreOffice conversion failed: {exc}")
    data = (tmp_path / "table.xlsx").read_bytes()
    ours = assert_matches_openpyxl(data)
    assert ours["sheets"][0]["rows"][2][0] == "Ham, burg"
    assert ours["sheets"][0]["rows"][1][1] == 709037.0


# ---- round trip through the writer ----


def test_typed_json_writes_back_to_the_same_typed_json():
    write_from_json = getattr(tessary, "write_from_json", None)
    if write_from_json is None:
        pytest.skip("write_from_json is not available")
    # The writer stores negative zero as 0, so it is left out here.
    numbers = [n for n in NUMBERS if not (n == 0 and math.copysign(1, n) < 0)]
    for data in (xlsxwriter_book(numbers), xlsxwriter_book(numbers, constant_memory=True), openpyxl_book()):
        typed = tessary.parse(data, typed=True)
        out = write_from_json(typed)
        again = out[0] if isinstance(out, tuple) else out
        assert tessary.parse(again, typed=True) == typed
        assert tessary.parse(again) == tessary.parse(data)


# ---- forms and choices ----


def small_book():
    buf = io.BytesIO()
    wb = xlsxwriter.Workbook(buf)
    wb.add_worksheet("Totals").write_row(0, 0, ["a|b", 1, True])
    wb.add_worksheet("Other").write(0, 0, "o")
    wb.close()
    return buf.getvalue()


def test_forms_and_sheet_choice():
    data = small_book()
    grid = tessary.parse(data)
    assert isinstance(grid, str)
    assert grid == (
        '{"sheets":[{"name":"Totals","rows":[["a|b",1.0,true]]},{"name":"Other","rows":[["o"]]}]}'
    )
    for same_grid in (tessary.parse(data, "json"), tessary.parse(data, None),
                      tessary.parse(data, format=None, sheet=None, typed=False),
                      tessary.parse(data, "json", "Nope")):
        assert same_grid == grid
    assert tessary.parse(data, typed=True) == (
        '{"schemaVersion":"1.0","sheets":['
        '{"name":"Totals","rows":[{"cells":[{"type":"string","value":"a|b"},'
        '{"type":"number","value":1.0},{"type":"boolean","value":true}]}]},'
        '{"name":"Other","rows":[{"cells":[{"type":"string","value":"o"}]}]}]}'
    )
    assert tessary.parse(data, "csv") == "a|b,1,TRUE\n"
    assert tessary.parse(data, "csv", "Other") == "o\n"
    assert tessary.parse(data, "csv", typed=True) == "a|b,1,TRUE\n"
    assert tessary.parse(data, "md") == "| a\\|b | 1 | TRUE |\n| --- | --- | --- |\n"
    assert tessary.parse(data, "markdown", "Other") == tessary.parse(data, "md", "Other")


def stored_zip(members):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_STORED) as z:
        for name, text in members:
            z.writestr(name, text)
    return buf.getvalue()


def bad_deflate_book():
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("xl/workbook.xml", "<workbook><sheets/></workbook>" * 20)
    data = bytearray(buf.getvalue())
    name_len, extra_len = struct.unpack_from("<HH", data, 26)
    data[30 + name_len + extra_len] = 0xFF  # BFINAL 1, BTYPE 3: reserved
    return bytes(data)


NO_SHEETS = stored_zip([("xl/workbook.xml", "<workbook><sheets/></workbook>")])
EMPTY_ZIP = stored_zip([])

ERRORS = [
    ((b"",), "malformed OPC zip container"),
    ((b"PK\x03\x04 not really a zip" * 3,), "malformed OPC zip container"),
    ((EMPTY_ZIP,), "not an .xlsx (no xl/workbook.xml)"),
    ((stored_zip([("xl/other.xml", "<x/>")]),), "not an .xlsx (no xl/workbook.xml)"),
    ((bad_deflate_book(),), "malformed DEFLATE stream"),
    ((b"", "xml"), "malformed OPC zip container"),  # the read comes before the format
    ((small_book(), "MD"), 'unknown parse format "MD"'),
    ((small_book(), "xml"), 'unknown parse format "xml"'),
    ((small_book(), 'a"b\\\n'), 'unknown parse format "a\\"b\\\\\\n"'),
    ((small_book(), "csv", "totals"), 'no sheet named "totals"'),
    ((small_book(), "md", "Totals "), 'no sheet named "Totals "'),
    ((NO_SHEETS, "csv"), "workbook has no sheets"),
    ((NO_SHEETS, "md"), "workbook has no sheets"),
    ((NO_SHEETS, "csv", "A"), 'no sheet named "A"'),
]


@pytest.mark.parametrize("args,message", ERRORS)
def test_read_and_choice_errors(args, message):
    with pytest.raises(TessaryError) as err:
        tessary.parse(*args)
    assert (err.value.code, err.value.message) == ("SchemaViolation", message)


def test_workbook_without_sheets_as_json():
    assert tessary.parse(EMPTY_ZIP[:0] + NO_SHEETS) == '{"sheets":[]}'
    assert tessary.parse(NO_SHEETS, typed=True) == '{"schemaVersion":"1.0","sheets":[]}'


class BytesChild(bytes):
    pass


class StrChild(str):
    pass


def test_subclasses_and_numpy_bools_are_accepted():
    data = small_book()
    assert tessary.parse(BytesChild(data), StrChild("csv"), StrChild("Other")) == "o\n"
    np = pytest.importorskip("numpy")
    assert tessary.parse(data, typed=np.bool_(True)) == tessary.parse(data, typed=True)
    assert tessary.parse(data, typed=np.bool_(False)) == tessary.parse(data)


TYPE_ERRORS = [
    ((), {}, "parse() missing 1 required positional argument: 'data'"),
    ((b"", None, None, False, 1), {}, "parse() takes from 1 to 4 positional arguments but 5 were given"),
    ((b"",), {"fmt": "csv"}, "parse() got an unexpected keyword argument 'fmt'"),
    ((b"",), {"data": b""}, "parse() got multiple values for argument 'data'"),
    ((bytearray(b"x"),), {}, "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'"),
    ((memoryview(b"x"),), {}, "argument 'data': 'memoryview' object cannot be converted to 'PyBytes'"),
    (("text",), {}, "argument 'data': 'str' object cannot be converted to 'PyBytes'"),
    ((None,), {}, "argument 'data': 'NoneType' object cannot be converted to 'PyBytes'"),
    ((b"", 1), {}, "argument 'format': 'int' object cannot be converted to 'PyString'"),
    ((b"", b"csv"), {}, "argument 'format': 'bytes' object cannot be converted to 'PyString'"),
    ((b"", "csv", 0), {}, "argument 'sheet': 'int' object cannot be converted to 'PyString'"),
    ((b"",), {"typed": None}, "argument 'typed': 'NoneType' object cannot be converted to 'PyBool'"),
    ((b"",), {"typed": 1}, "argument 'typed': 'int' object cannot be converted to 'PyBool'"),
    ((b"",), {"typed": "yes"}, "argument 'typed': 'str' object cannot be converted to 'PyBool'"),
    # checked in the order data, format, sheet, typed
    ((bytearray(),), {"format": 1, "typed": None}, "argument 'data': 'bytearray' object cannot be converted to 'PyBytes'"),
    ((b"", 1, 2), {"typed": None}, "argument 'format': 'int' object cannot be converted to 'PyString'"),
    ((b"", None, 2), {"typed": None}, "argument 'sheet': 'int' object cannot be converted to 'PyString'"),
]


@pytest.mark.parametrize("args,kwargs,message", TYPE_ERRORS)
def test_argument_shape_errors(args, kwargs, message):
    with pytest.raises(TypeError) as err:
        tessary.parse(*args, **kwargs)
    assert str(err.value) == message


def test_docstring():
    assert tessary.parse.__doc__ == (
        "Read an `.xlsx` into JSON / CSV / Markdown (`tessary-parse` build only).\n"
        "`format` = `\"json\"` (default) / `\"csv\"` / `\"md\"`; `typed` selects the\n"
        "round-trippable typed JSON; `sheet` picks a sheet by name for csv/md."
    )
    assert tessary.parse.__text_signature__ == "(data, format=None, sheet=None, typed=False)"


def test_repeated_reads_do_not_leak():
    import gc

    data = small_book()
    for _ in range(200):
        tessary.parse(data, typed=True)
    gc.collect()
    before = len(gc.get_objects())
    for _ in range(2000):
        tessary.parse(data)
        tessary.parse(data, "csv")
        try:
            tessary.parse(data, "nope")
        except TessaryError:
            pass
    gc.collect()
    assert len(gc.get_objects()) - before < 50
