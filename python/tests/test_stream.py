"""The streaming writer: its state machine, the three row paths, re-entrancy, and the typed-column
fast path with write_rows. Packages are read back with openpyxl."""

import io
import json
import zipfile

import openpyxl
import pytest

import tessary


def grid(data, sheet=0):
    wb = openpyxl.load_workbook(io.BytesIO(data))
    ws = wb.worksheets[sheet]
    return [list(r) for r in ws.iter_rows(values_only=True)]


def sheet_names(data):
    return openpyxl.load_workbook(io.BytesIO(data)).sheetnames


def s(text):
    return {"type": "string", "value": text}


def row(*texts, **extra):
    return dict(cells=[s(t) for t in texts], **extra)


def error_of(fn, *args):
    with pytest.raises(tessary.TessaryError) as err:
        fn(*args)
    return err.value.code, err.value.message


# ---- the state machine ----

def test_rows_without_an_open_sheet_are_dropped():
    w = tessary.WorkbookWriter()
    assert w.write_row(row("lost")) is None
    assert w.write_rows_json(json.dumps([row("lost")])) is None
    assert w.write_table([{"type": "string"}], [["lost"]]) is None
    assert w.end_sheet() is None and w.end_sheet() is None
    w.start_sheet({"name": "A"})
    w.write_row(row("a1"))
    w.end_sheet()
    w.end_sheet()
    w.write_row(row("lost"))
    w.start_sheet({"name": "B", "rows": [row("ignored")]})
    w.write_row(row("b1"))
    w.start_sheet({"name": "C"})  # closes B, which keeps its row
    data, lints = w.finish()
    assert lints == []
    assert sheet_names(data) == ["A", "B", "C"]
    assert [grid(data, i) for i in range(3)] == [[["a1"]], [["b1"]], []]
    names = [n for n in zipfile.ZipFile(io.BytesIO(data)).namelist() if "worksheets/sheet" in n]
    assert names == ["xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml"]


def test_start_sheet_checks_rows_it_ignores():
    w = tessary.create_writer()
    assert error_of(w.start_sheet, {"name": "S", "rows": [{"cells": "bad"}]}) == (
        "SchemaViolation", "invalid type: string \"bad\", expected a sequence")
    assert error_of(w.start_sheet, {"rows": []}) == ("SchemaViolation", "missing field `name`")
    w.start_sheet({"name": "S"})
    assert grid(w.finish()[0]) == []


def test_streamed_sheet_matches_the_one_shot_write():
    rows = [row("a", "b", "c", "d"), row("e"), row("f", "g")]
    meta = {"name": "S", "columns": [{"width": 12}], "merges": ["A1:B1"], "freeze": {"rows": 1}}
    w = tessary.WorkbookWriter()
    w.start_sheet(meta)
    for r in rows:
        w.write_row(r)
    streamed = w.finish()[0]
    one_shot = tessary.write({"sheets": [dict(meta, rows=rows)]})
    sheet = "xl/worksheets/sheet1.xml"
    assert zipfile.ZipFile(io.BytesIO(streamed)).read(sheet) == zipfile.ZipFile(
        io.BytesIO(one_shot)).read(sheet)
    assert b'<dimension ref="A1:D3"/>' in zipfile.ZipFile(io.BytesIO(streamed)).read(sheet)


def test_finished_writer_refuses_everything_after_its_own_checks():
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "S"})
    w.finish()
    finished = ("SchemaViolation", "writer already finished")
    assert error_of(w.finish) == finished
    assert error_of(w.end_sheet) == finished
    assert error_of(w.start_sheet, {"name": "T"}) == finished
    assert error_of(w.write_row, row("a")) == finished
    assert error_of(w.write_rows_json, "[]") == finished
    assert error_of(w.write_table, [{"type": "string"}], 5) == finished  # rows never looked at
    # a bad argument's own error wins
    assert error_of(w.start_sheet, {}) == ("SchemaViolation", "missing field `name`")
    assert error_of(w.write_row, {"cells": [], "x": 1})[1].startswith("unknown field `x`")
    assert error_of(w.write_rows_json, "[] x") == (
        "SchemaViolation", "trailing characters at line 1 column 4")
    assert error_of(w.write_table, [{}], []) == ("SchemaViolation", "column spec needs a 'type'")
    with pytest.raises(TypeError):
        w.write_rows_json(b"[]")


def test_sheet_name_rules_and_empty_finish():
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "Data"})
    w.write_row(row("kept"))
    assert error_of(w.start_sheet, {"name": "data"})[0] == "DuplicateSheetName"
    assert error_of(w.start_sheet, {"name": ""})[0] == "InvalidSheetName"
    assert error_of(w.start_sheet, {"name": "x" * 32})[0] == "InvalidSheetName"
    assert error_of(w.start_sheet, {"name": "a/b"})[0] == "InvalidSheetName"
    w.write_row(row("still open"))  # nothing was closed
    data = w.finish()[0]
    assert grid(data) == [["kept"], ["still open"]]

    empty = tessary.WorkbookWriter()
    assert error_of(empty.finish) == ("EmptyWorkbook", "a workbook needs at least one sheet")
    assert error_of(empty.finish) == ("SchemaViolation", "writer already finished")


def test_failed_row_leaves_nothing_behind():
    bad = {"cells": [s("x"), s("y"), s("z"), {"type": "string", "value": "w", "style": {"fill": "#zz"}}]}
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "S"})
    chunk = [row("r1"), row("r2"), bad, row("r4"), row("r5")]
    code, _ = error_of(w.write_rows_json, json.dumps(chunk))
    assert code == "BadColor"
    assert error_of(w.write_row, bad)[0] == "BadColor"
    w.write_row(row("r3"))
    data = w.finish()[0]
    assert grid(data) == [["r1"], ["r2"], ["r3"]]


def test_write_rows_json_positions():
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "S"})
    w.write_rows_json("[]")
    w.write_rows_json(" [ ] \n\t")
    cases = [
        ("[] x", "trailing characters at line 1 column 4"),
        ("[", "EOF while parsing a list at line 1 column 1"),
        ('[{"cells": 1}]', "invalid type: integer `1`, expected a sequence at line 1 column 12"),
    ]
    for text, message in cases:
        assert error_of(w.write_rows_json, text) == ("SchemaViolation", message)
    w.write_rows_json(json.dumps([row("a"), row("b")]))
    assert grid(w.finish()[0]) == [["a"], ["b"]]


def test_lint_order_and_locale_and_password():
    import msoffcrypto

    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "S", "columns": [{"width": 300}]})
    w.write_row(row("a", outlineLevel=9))
    assert [l["code"] for l in w.finish()[1]] == ["ClampedOutlineLevel", "ClampedColumnWidth"]

    def euros(writer):
        writer.start_sheet({"name": "S"})
        writer.write_table([{"type": "currency", "currency": {"code": "EUR"}}], [[1999]])
        return writer.finish()[0]

    german = euros(tessary.create_writer({"locale": "de-DE"}))
    assert german == euros(tessary.WorkbookWriter("de-DE", {"locale": "de-DE"}))
    assert german != euros(tessary.WorkbookWriter())
    assert euros(tessary.WorkbookWriter()) == euros(tessary.create_writer())

    for writer in (tessary.create_writer({"password": "pw"}),
                   tessary.WorkbookWriter(opts={"password": "pw"})):
        sealed = euros(writer)
        office = msoffcrypto.OfficeFile(io.BytesIO(sealed))
        office.load_key(password="pw")
        out = io.BytesIO()
        office.decrypt(out)
        assert grid(out.getvalue()) == [[19.99]]
    assert zipfile.is_zipfile(io.BytesIO(euros(tessary.create_writer({"password": ""}))))


# ---- re-entrancy ----

def test_reentrant_calls_are_refused_and_the_call_goes_on():
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "S"})
    seen = []

    def call_back(fn, *args):
        try:
            fn(*args)
        except RuntimeError as e:
            seen.append(str(e))

    def rows():
        for i in range(3):
            call_back(w.finish)
            yield [float(i)]

    class Sneaky:
        def __float__(self):
            call_back(w.write_row, row("x"))
            return 7.0

    class SneakyKeys(dict):
        pass

    w.write_table([{"type": "number"}], rows())
    w.write_table([{"type": "number"}], [[Sneaky()]])

    import collections.abc

    class Cell(collections.abc.Mapping):
        def __init__(self):
            self.d = s("m")

        def __iter__(self):
            return iter(self.d)

        def __len__(self):
            return len(self.d)

        def __getitem__(self, k):
            return self.d[k]

        def keys(self):
            call_back(w.end_sheet)
            return self.d.keys()

    w.write_row({"cells": [Cell()]})
    assert seen == ["Already borrowed"] * 5
    assert grid(w.finish()[0]) == [[0], [1], [2], [7], ["m"]]


# ---- write_table ----

class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


class Floaty:
    def __float__(self):
        return 2.5


TABLE_OK = [
    ({"type": "string"}, ["a", "", "\u00e9\u6f22"], ["a", "", "\u00e9\u6f22"]),
    ({"type": "boolean"}, [True, False], [True, False]),
    ({"type": "number"}, [1.5, 3, True, Floaty(), Index(4), 2**70], [1.5, 3, 1, 2.5, 4, float(2**70)]),
    ({"type": "percent", "decimals": 1}, [0.25, 1], [0.25, 1]),
    ({"type": "currency", "currency": {"code": "USD"}}, [1999, -5, True, Index(100)],
     [19.99, -0.05, 0.01, 1]),
    ({"type": "date"}, ["2024-03-01", 45000, 45000.5], [45352, 45000, 45000.5]),
]


@pytest.mark.parametrize("spec,items,want", TABLE_OK)
def test_write_table_conversions(spec, items, want):
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "S"})
    w.write_table([spec, {"type": "string"}], [(item, None) for item in items] + [[None, "end"]])
    got = grid(w.finish()[0])
    values = [r[0] for r in got[:-1]]
    if spec["type"] == "date":
        import datetime
        base = datetime.datetime(1899, 12, 30)
        values = [(v - base).total_seconds() / 86400 for v in values]
    assert values == pytest.approx(want) if spec["type"] != "string" else values == want
    assert got[-1] == [None, "end"]


TABLE_FAILS = [
    ({"type": "string"}, 5, TypeError, "'int' object cannot be converted to 'PyString'"),
    ({"type": "string"}, b"x", TypeError, "'bytes' object cannot be converted to 'PyString'"),
    ({"type": "boolean"}, 1, TypeError, "'int' object cannot be converted to 'PyBool'"),
    ({"type": "boolean"}, "true", TypeError, "'str' object cannot be converted to 'PyBool'"),
    ({"type": "number"}, "1", TypeError, None),
    ({"type": "number"}, 2**1100, OverflowError, None),
    ({"type": "percent"}, [1], TypeError, None),
    ({"type": "currency", "currency": {"code": "USD"}}, 19.99, TypeError, None),
    ({"type": "currency", "currency": {"code": "USD"}}, 2**63, OverflowError, None),
    ({"type": "date"}, object(), TypeError, None),
]


@pytest.mark.parametrize("spec,item,exc,message", TABLE_FAILS)
def test_write_table_conversion_failures(spec, item, exc, message):
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "S"})
    with pytest.raises(exc) as err:
        w.write_table([spec], [[None], [item], [None]])
    if message is not None:
        assert str(err.value) == message
    assert len(grid(w.finish()[0])) == 1  # the row before stays, the rest is not read


def test_write_table_specs():
    def cells_xml(columns, rows):
        w = tessary.WorkbookWriter()
        w.start_sheet({"name": "S"})
        w.write_table(columns, rows)
        data = w.finish()[0]
        z = zipfile.ZipFile(io.BytesIO(data))
        return z.read("xl/worksheets/sheet1.xml"), z.read("xl/styles.xml"), data

    two = cells_xml([{"type": "number", "format": {"decimals": 2}}], [[1.5]])
    ws = openpyxl.load_workbook(io.BytesIO(two[2])).active
    assert ws["A1"].number_format == "#,##0.00"
    plain = cells_xml([{"type": "number"}], [[1.5]])
    for bad in ("x", None, {"decimals": -1}, {"nope": 1}, {1: 2}):
        assert cells_xml([{"type": "number", "format": bad}], [[1.5]])[:2] == plain[:2]
    pct = cells_xml([{"type": "percent"}], [[0.25]])
    for bad in (-1, 2**32, 1.5, "2", None):
        assert cells_xml([{"type": "percent", "decimals": bad}], [[0.25]])[:2] == pct[:2]
    assert cells_xml([{"type": "date", "format": "x"}], [[45000]])[:2] == cells_xml(
        [{"type": "date"}], [[45000]])[:2]

    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "S"})

    def never():
        raise AssertionError("rows must not be read")
        yield

    cases = [
        ([{"type": "currency"}], ("SchemaViolation", "currency column needs a 'currency' spec")),
        ([{"type": "currency", "currency": {}}], ("SchemaViolation", "missing field `code`")),
        ([{"type": "currency", "currency": {"code": object()}}],
         ("SchemaViolation", "unsupported type object")),
        ([{"type": "Money"}], ("SchemaViolation", 'unknown column type "Money"')),
        ([{"type": 'a"b\\c\n\t'}], ("SchemaViolation", 'unknown column type "a\\"b\\\\c\\n\\t"')),
        ([{}], ("SchemaViolation", "column spec needs a 'type'")),
        ([[1]], ("SchemaViolation", "column spec needs a 'type'")),
        ([{"type": "string"}, 5], ("SchemaViolation", "column spec needs a 'type'")),
    ]
    for columns, want in cases:
        assert error_of(w.write_table, columns, never()) == want
    with pytest.raises(TypeError) as err:
        w.write_table([{"type": 5}], never())
    assert str(err.value) == "'int' object cannot be converted to 'PyString'"
    with pytest.raises(TypeError):
        w.write_table(5, [])
    with pytest.raises(TypeError):
        w.write_table([], 5)


def test_write_table_rows():
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "S"})
    cols = [{"type": "string"}, {"type": "boolean"}]
    with pytest.raises(TypeError) as err:
        w.write_table(cols, [("a", True), (None, None), ("b", 1), ("never", True)])
    assert str(err.value) == "'int' object cannot be converted to 'PyBool'"
    w.write_table([{"type": "string"}], [["c", "ignored"]])
    with pytest.raises(IndexError):
        w.write_table(cols, [["short"]])
    w.write_table([], [[1], [2]])  # rows with no cells still count
    w.write_table([{"type": "string"}], ({0: "dict row"},))  # any subscriptable row
    w.write_table([{"type": "string"}], (r for r in [["gen"]]))
    assert grid(w.finish()[0]) == [["a", True], [None, None], ["c", None], [None, None],
                                   [None, None], ["dict row", None], ["gen", None]]


def test_write_table_numpy_and_pandas():
    np = pytest.importorskip("numpy")
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "S"})
    cols = [{"type": "boolean"}, {"type": "number"}, {"type": "currency", "currency": {"code": "USD"}}]
    w.write_table(cols, [(np.bool_(True), np.float64(1.5), np.int64(250)),
                         (np.bool_(False), np.int32(3), np.uint8(7))])
    with pytest.raises(TypeError):
        w.write_table(cols, [(np.int64(1), 1.0, 1)])
    try:
        import pandas as pd
    except ImportError:
        pd = None
    if pd is not None:
        df = pd.DataFrame({"flag": [True], "x": [2.25], "cents": [99]})
        w.write_table(cols, df.itertuples(index=False))
    got = grid(w.finish()[0])
    assert got[:2] == [[True, 1.5, 2.5], [False, 3, 0.07]]
    if pd is not None:
        assert got[2] == [True, 2.25, 0.99]


# ---- write_rows ----

def test_write_rows():
    empty = tessary.write_rows({"rows": []})
    assert sheet_names(empty) == ["Sheet1"] and grid(empty) == []
    for same in ({}, {"sheetName": None, "rows": []}, {"rows": [], "colour": 1},
                 {"locale": None, "columns": []}):
        assert tessary.write_rows(same) == empty
    wb = {"sheetName": "Data", "locale": "de-DE", "columns": [{"width": 20}],
          "rows": [row("a"), {"cells": [{"type": "currency", "value": 150, "currency": {"code": "EUR"}}]}]}
    data = tessary.write_rows(wb, {"meta": {"title": "T"}, "locale": "ignored"})
    assert data == tessary.write({"locale": "de-DE", "sheets": [
        {"name": "Data", "columns": wb["columns"], "rows": wb["rows"]}]}, {"meta": {"title": "T"}})
    assert grid(data) == [["a"], [1.5]]
    cases = [
        ({"rows": None}, ("SchemaViolation", "invalid type: unit value, expected a sequence")),
        ({"columns": None}, ("SchemaViolation", "invalid type: unit value, expected a sequence")),
        ("x", ("SchemaViolation", 'invalid type: string "x", expected struct RowsInput')),
        ({"sheetName": 5}, ("SchemaViolation", "invalid type: integer `5`, expected a string")),
        ({"rows": [{"cells": [], "x": 1}]},
         ("SchemaViolation", "unknown field `x`, expected one of `cells`, `outlineLevel`, `height`, `isTotal`")),
        ({"rows": [], "x": object()}, ("SchemaViolation", "unsupported type object")),
    ]
    for value, want in cases:
        assert error_of(tessary.write_rows, value) == want
    assert error_of(tessary.write_rows, {"sheetName": "", "rows": []})[0] == "InvalidSheetName"
