"""Cell values and worksheet settings as independent readers see them: number text that reads back
to the same double, date texts against Python's own calendar, texts that are not dates, the
worksheet XML against a strict XML parser, and the order of lints."""

import datetime
import io
import math
import random
import struct
import xml.dom.minidom
import zipfile

import openpyxl
import pytest

import tessary


def one_sheet(rows, **sheet):
    return {"sheets": [dict({"name": "S", "rows": rows}, **sheet)]}


def load_sheet(data):
    return openpyxl.load_workbook(io.BytesIO(data))["S"]


def sheet_xml(data):
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        return z.read("xl/worksheets/sheet1.xml").decode("utf-8")


def sample_doubles():
    rng = random.Random(1504)
    values = [0.1, 0.2 + 0.1, 1 / 3, 2.5, -2.5, 1e16, 9e15, 9e15 - 1, 1e21, 1.5e-7, 5e-324,
              1.7976931348623157e308, -1e300, 2.2250738585072014e-308, 123456789012345678901234.0,
              1e15 + 0.5, 999999999999999.9, 0.000123, 8.43, 1.0000000000000002]
    for _ in range(600):
        values.append(rng.randrange(-10**12, 10**12) / 10 ** rng.randrange(0, 12))
        x = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
        if math.isfinite(x):
            values.append(x)
    return values


def test_numbers_read_back_exactly():
    values = sample_doubles()
    data = tessary.write(one_sheet([{"cells": [{"type": "number", "value": v}]} for v in values]))
    sheet = load_sheet(data)
    got = [sheet.cell(row=i + 1, column=1).value for i in range(len(values))]
    assert [float(g) for g in got] == values
    texts = [t.split("</v>")[0] for t in sheet_xml(data).split("<v>")[1:]]
    assert len(texts) == len(values)
    for text, v in zip(texts, values):
        assert "e" not in text.lower() and "+" not in text, text
        assert float(text) == v
        # Python's repr gives the shortest digits that read back
        shortest = repr(v).lower().split("e")[0].replace("-", "").replace(".", "").strip("0")
        assert text.replace("-", "").replace(".", "").strip("0") == shortest, (text, v)


@pytest.mark.parametrize("value,text", [
    (float("-0.0"), "0"), (3.0, "3"), (-2.5, "-2.5"), (1e16, "1" + "0" * 16), (0.1, "0.1"),
])
def test_number_text(value, text):
    data = tessary.write(one_sheet([{"cells": [{"type": "number", "value": value}]}]))
    assert "<c r=\"A1\"><v>" + text + "</v></c>" in sheet_xml(data)


def random_date_texts():
    rng = random.Random(77)
    base = datetime.date(1900, 3, 1).toordinal()
    last = datetime.date(9999, 12, 31).toordinal()
    out = []
    for i in range(400):
        d = datetime.date.fromordinal(rng.randrange(base, last + 1))
        text = d.isoformat()
        moment = datetime.datetime(d.year, d.month, d.day)
        if i % 3 == 1:
            h, m = rng.randrange(24), rng.randrange(60)
            text += "T%02d:%02d" % (h, m)
            moment = moment.replace(hour=h, minute=m)
        elif i % 3 == 2:
            h, m, s = rng.randrange(24), rng.randrange(60), rng.randrange(60)
            text += "T%02d:%02d:%02d" % (h, m, s)
            moment = moment.replace(hour=h, minute=m, second=s)
        out.append((text, moment))
    return out


def test_date_texts_match_the_calendar():
    cases = random_date_texts()
    rows = [{"cells": [{"type": "date", "value": text, "format": {"kind": "datetime"}}]}
            for text, _ in cases]
    sheet = load_sheet(tessary.write(one_sheet(rows)))
    for i, (text, moment) in enumerate(cases):
        cell = sheet.cell(row=i + 1, column=1)
        assert cell.is_date, text
        assert abs((cell.value - moment).total_seconds()) < 0.001, text


@pytest.mark.parametrize("text", [
    "2024-13-01", "2024-01-32", "2024/01/15", "2024-01-15 10:00", "2024-01-15T", "2024-01-15T10",
    "15.01.2024", "2024-01-15T10:00Z", "-2024-01-15", "2024-01-15Tinf:00", "99999999999999999999-01-01",
])
def test_texts_that_are_not_dates_stay_text(text):
    sheet = load_sheet(tessary.write(one_sheet([{"cells": [{"type": "date", "value": text}]}])))
    assert sheet["A1"].value == text
    assert sheet["A1"].number_format == "General"


def test_every_part_of_a_mixed_sheet_is_well_formed_xml():
    rng = random.Random(5)
    kinds = [
        lambda: {"type": "string", "value": "".join(rng.choice("ab<>&\"' \t\n\x01\u00e9_x0041_")
                                                    for _ in range(rng.randrange(12)))},
        lambda: {"type": "number", "value": rng.uniform(-1e6, 1e6), "format": {"decimals": 2}},
        lambda: {"type": "currency", "value": rng.randrange(-10**6, 10**6),
                 "currency": {"code": rng.choice(["USD", "EUR", "A&B"])}},
        lambda: {"type": "percent", "value": rng.random(), "decimals": rng.randrange(4)},
        lambda: {"type": "date", "value": rng.choice(["2024-01-15", "nope<", "2024-02-30T25:61"])},
        lambda: {"type": "boolean", "value": rng.random() < 0.5},
        lambda: {"type": "blank", "style": {"fill": "#ABCDEF"}},
    ]
    rows = []
    for r in range(200):
        row = {"cells": [rng.choice(kinds)() for _ in range(rng.randrange(9))]}
        if r % 17 == 0:
            row["isTotal"] = True
        if r % 5 == 0:
            row["outlineLevel"] = rng.randrange(10)
        rows.append(row)
    book = one_sheet(rows, columns=[{"width": 300}, {"style": {"font": {"name": "A&B"}}}],
                     merges=["K300:L301", "M3:N4", "K300:L301"], freeze={"rows": 1})
    data = tessary.write(book)
    with zipfile.ZipFile(io.BytesIO(data)) as z:
        for name in z.namelist():
            if name.endswith(".xml") or name.endswith(".rels"):
                xml.dom.minidom.parseString(z.read(name))
    assert sheet_xml(data).count("<row ") == 200
    sheet = load_sheet(data)
    cells = sum(1 for row in sheet.iter_rows() for c in row if c.value is not None)
    assert cells == sum(1 for r in rows for c in r["cells"] if c["type"] != "blank")


def test_lints_arrive_prefix_then_rows_then_merges():
    book = one_sheet(
        [{"cells": [], "outlineLevel": 9}, {"cells": [], "outlineLevel": 12}],
        columns=[{"width": 300, "outlineLevel": 8}],
        freeze={"rows": 20000},
        merges=["A1:B2", "A1:B2"],
    )
    _, lints = tessary.write_full(book)
    assert [(l["code"], l["message"]) for l in lints] == [
        ("ClampedFreeze", "freeze split 20000 clamped to 16384"),
        ("ClampedColumnWidth", "column width 300 clamped to 255"),
        ("ClampedOutlineLevel", "outline level 8 clamped to 7"),
        ("ClampedOutlineLevel", "outline level 9 clamped to 7"),
        ("ClampedOutlineLevel", "outline level 12 clamped to 7"),
        ("DroppedDuplicateMerge", "duplicate merge A1:B2 dropped"),
    ]


@pytest.mark.parametrize("merge", ["A1", "a1:B2", "A1:B2:C3", "$A$1:B2"])
def test_bad_merge_ranges(merge):
    with pytest.raises(tessary.TessaryError) as err:
        tessary.write(one_sheet([], merges=[merge]))
    assert (err.value.code, err.value.message) == ("BadCellRef", 'invalid merge range "%s"' % merge)
