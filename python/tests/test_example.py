"""The README's example writes a report, its protected copy and a streamed export that independent
readers open."""

import io
import os
import subprocess
import sys

import openpyxl
import pytest

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "report.py")


def test_example_report(tmp_path):
    msoffcrypto = pytest.importorskip("msoffcrypto")
    subprocess.run([sys.executable, EXAMPLE, str(tmp_path)], check=True, capture_output=True)
    report = openpyxl.load_workbook(tmp_path / "report.xlsx")
    assert report.sheetnames == ["Summary", "Orders"]
    summary = report["Summary"]
    assert summary["A1"].value == "Quarterly sales by region" and summary["A1"].font.b
    assert [str(r) for r in summary.merged_cells.ranges] == ["A1:F1"]
    assert summary.freeze_panes == "B4"
    assert summary["A9"].value == "Total"
    assert summary["B9"].value == pytest.approx(sum(summary.cell(row=r, column=2).value for r in range(4, 9)))
    assert report["Orders"].max_row == 201
    with open(tmp_path / "report-protected.xlsx", "rb") as f:
        office = msoffcrypto.OfficeFile(f)
        office.load_key(password="open sesame")
        plain = io.BytesIO()
        office.decrypt(plain)
    assert openpyxl.load_workbook(plain)["Summary"]["A9"].value == "Total"
    ledger = openpyxl.load_workbook(tmp_path / "ledger.xlsx", read_only=True)["Ledger"]
    assert next(ledger.iter_rows(min_row=2, max_row=2, values_only=True))[0] == 0
