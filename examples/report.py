"""Write a styled two-sheet sales report to disk, a password-protected copy of it and a large
streamed export, then read the report back.

    python3 examples/report.py [output-dir]      (default: build/report)
"""

import datetime
import os
import random
import sys

import tessary

NAVY, PALE, GREY = "#1F3864", "#DDEBF7", "#BFBFBF"
THIN = {"style": "thin", "color": GREY}
BOXED = {"top": THIN, "bottom": THIN, "left": THIN, "right": THIN}
HEADER = {"font": {"bold": True, "color": "#FFFFFF", "name": "Calibri", "size": 11},
          "fill": NAVY, "align": {"horizontal": "center", "vertical": "middle", "wrap": True},
          "border": BOXED}
EUR = {"code": "EUR", "decimals": 2, "negative": "red-parens"}


def text(value, style=None):
    cell = {"type": "string", "value": value}
    if style:
        cell["style"] = style
    return cell


def money(cents):
    return {"type": "currency", "value": cents, "currency": EUR, "style": {"border": BOXED}}


def header(*titles):
    return {"cells": [text(t, HEADER) for t in titles], "height": 24}


def summary_sheet(regions):
    title_style = {"font": {"bold": True, "size": 16, "color": NAVY}}
    rows = [{"cells": [text("Quarterly sales by region", title_style)], "height": 28},
            {"cells": []},
            header("Region", "Q1", "Q2", "Q3", "Growth", "Last order")]
    for name, quarters, growth, last in regions:
        rows.append({"cells": [text(name, {"border": BOXED})] + [money(c) for c in quarters] + [
            {"type": "percent", "value": growth, "decimals": 1},
            {"type": "date", "value": last.isoformat(), "format": {"kind": "date"}}]})
    totals = [sum(r[1][q] for r in regions) for q in range(3)]
    rows.append({"isTotal": True, "cells": [text("Total", {"font": {"bold": True}})] + [
        money(c) for c in totals]})
    return {"name": "Summary", "rows": rows, "merges": ["A1:F1"], "freeze": {"rows": 3, "cols": 1},
            "columns": [{"width": 22}, {"width": 14}, {"width": 14}, {"width": 14},
                        {"width": 10}, {"width": 12}]}


def orders_sheet(orders):
    rows = [header("Order", "Placed", "Region", "Items", "Amount", "Paid")]
    for number, placed, region, items, cents, paid in orders:
        rows.append({"outlineLevel": 1, "cells": [
            {"type": "number", "value": number, "format": {"grouped": False}},
            {"type": "date", "value": placed.isoformat(timespec="minutes"),
             "format": {"kind": "datetime"}},
            text(region),
            {"type": "number", "value": items, "format": {"decimals": 0}},
            money(cents),
            {"type": "boolean", "value": paid}]})
    return {"name": "Orders", "rows": rows, "freeze": {"rows": 1},
            "columns": [{"width": 10}, {"width": 18}, {"width": 16}, {"width": 8},
                        {"width": 14}, {"width": 8, "style": {"align": {"horizontal": "center"}}}]}


def sample(rng):
    names = ["North", "South", "East", "West", "Central"]
    start = datetime.date(2024, 7, 1)
    regions = [(n, [rng.randrange(50_000_00, 250_000_00) for _ in range(3)], rng.uniform(-0.1, 0.3),
                start + datetime.timedelta(days=rng.randrange(90))) for n in names]
    orders = [(10_000 + i, datetime.datetime(2024, 7, 1, 8) + datetime.timedelta(minutes=97 * i),
               rng.choice(names), rng.randrange(1, 40), rng.randrange(-5_000, 900_000),
               rng.random() < 0.8) for i in range(200)]
    return regions, orders


def stream_export(path, rng, rows=100_000):
    """The large-export path: typed columns and rows of bare values, streamed."""
    writer = tessary.create_writer({"locale": "de-DE", "meta": {"title": "Ledger"}})
    writer.start_sheet({"name": "Ledger", "freeze": {"rows": 1},
                        "columns": [{"width": 10}, {"width": 12}, {"width": 30}, {"width": 14}]})
    writer.write_row(header("Id", "Booked", "Memo", "Amount"))
    columns = [{"type": "number", "format": {"grouped": False}}, {"type": "date"},
               {"type": "string"}, {"type": "currency", "currency": {"code": "EUR"}}]
    writer.write_table(columns, ((i, 45_000 + i // 500, "entry %d" % i, rng.randrange(-10**6, 10**6))
                                 for i in range(rows)))
    data, _lints = writer.finish()
    with open(path, "wb") as f:
        f.write(data)
    return len(data)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join("build", "report")
    os.makedirs(out, exist_ok=True)
    rng = random.Random(7)
    regions, orders = sample(rng)
    book = {"schemaVersion": "1", "locale": "de-DE",
            "sheets": [summary_sheet(regions), orders_sheet(orders)]}
    meta = {"title": "Quarterly sales", "author": "Sales desk", "subject": "Q3 2024",
            "company": "Example GmbH"}

    data, lints = tessary.write_full(book, {"meta": meta})
    report = os.path.join(out, "report.xlsx")
    with open(report, "wb") as f:
        f.write(data)
    print("wrote %s (%d bytes, %d lints)" % (report, len(data), len(lints)))

    protected = os.path.join(out, "report-protected.xlsx")
    with open(protected, "wb") as f:
        f.write(tessary.write(book, {"meta": meta, "password": "open sesame"}))
    print("wrote %s (password: open sesame)" % protected)

    ledger = os.path.join(out, "ledger.xlsx")
    print("wrote %s (%d bytes, streamed)" % (ledger, stream_export(ledger, rng)))

    if hasattr(tessary, "parse"):
        with open(report, "rb") as f:
            again = f.read()
        print("\nSummary sheet, read back:\n")
        print(tessary.parse(again, "md", "Summary"))


if __name__ == "__main__":
    main()
