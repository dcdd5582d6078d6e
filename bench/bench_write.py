"""Write the same table with tessary's four Python paths and with the peer libraries, each in a
fresh process, and print time, peak memory, file size and ratios side by side.

    python3 bench/bench_write.py [--rows 1000000] [--only name,name]

The rows (10 mixed columns: integers, text, floats, currency cents, booleans, dates, percentages)
are generated in memory before the clock starts, in the form each contender takes: bare tuples
for write_table and the peers, cell dicts for tessary.write, write_row and write_rows_json. The
timed part (wall and CPU time of the process) is the write call plus writing the file; for write_rows_json it includes the caller's
json.dumps of 10,000-row chunks. Peak RSS is the process's high-water mark after the write, and
"write RSS" its growth over the level reached once the input was built.
"""

import argparse
import datetime
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

HEAD = ["id", "name", "price", "qty", "amount", "paid", "day", "share", "region", "note"]
REGIONS = ["North", "South", "East", "West", "Central"]
BASE = datetime.date(1899, 12, 30)


def bare_rows(n):
    """Tuples of bare values; the day column as a serial number."""
    return [(i, "customer %d" % (i % 9973), (i % 1000) * 1.25, i % 17, (i * 37) % 100000 - 20000,
             i % 3 != 0, 45000 + i % 400, (i % 101) / 100.0, REGIONS[i % 5], "n%x" % (i * 2654435761 % 2**32))
            for i in range(n)]


def cell_dicts(rows):
    usd = {"code": "USD"}
    fmt2 = {"decimals": 2}
    out = []
    for r in rows:
        out.append({"cells": [
            {"type": "number", "value": r[0]},
            {"type": "string", "value": r[1]},
            {"type": "number", "value": r[2], "format": fmt2},
            {"type": "number", "value": r[3]},
            {"type": "currency", "value": r[4], "currency": usd},
            {"type": "boolean", "value": r[5]},
            {"type": "date", "value": r[6]},
            {"type": "percent", "value": r[7], "decimals": 1},
            {"type": "string", "value": r[8]},
            {"type": "string", "value": r[9]},
        ]})
    return out


COLUMNS = [{"type": "number"}, {"type": "string"}, {"type": "number", "format": {"decimals": 2}},
           {"type": "number"}, {"type": "currency", "currency": {"code": "USD"}}, {"type": "boolean"},
           {"type": "date"}, {"type": "percent", "decimals": 1}, {"type": "string"}, {"type": "string"}]


# ---- contenders: prepare(n) builds the input, run(data, path) writes the file ----

def tessary_write_prepare(n):
    return {"sheets": [{"name": "Data", "rows": cell_dicts(bare_rows(n))}]}


def tessary_write_run(book, path):
    import tessary
    with open(path, "wb") as f:
        f.write(tessary.write(book))


def tessary_table_prepare(n):
    return bare_rows(n)


def tessary_table_run(rows, path):
    import tessary
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "Data"})
    w.write_table(COLUMNS, rows)
    with open(path, "wb") as f:
        f.write(w.finish()[0])


def tessary_json_prepare(n):
    return cell_dicts(bare_rows(n))


def tessary_json_run(rows, path):
    import tessary
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "Data"})
    for i in range(0, len(rows), 10_000):
        w.write_rows_json(json.dumps(rows[i:i + 10_000]))
    with open(path, "wb") as f:
        f.write(w.finish()[0])


def tessary_row_run(rows, path):
    import tessary
    w = tessary.WorkbookWriter()
    w.start_sheet({"name": "Data"})
    for r in rows:
        w.write_row(r)
    with open(path, "wb") as f:
        f.write(w.finish()[0])


def xlsxwriter_run(rows, path, constant_memory):
    import xlsxwriter
    wb = xlsxwriter.Workbook(path, {"constant_memory": constant_memory})
    ws = wb.add_worksheet("Data")
    f2 = wb.add_format({"num_format": "#,##0.00"})
    cur = wb.add_format({"num_format": '"$"#,##0.00'})
    day = wb.add_format({"num_format": "mm-dd-yy"})
    pct = wb.add_format({"num_format": "0.0%"})
    for i, r in enumerate(rows):
        ws.write_number(i, 0, r[0])
        ws.write_string(i, 1, r[1])
        ws.write_number(i, 2, r[2], f2)
        ws.write_number(i, 3, r[3])
        ws.write_number(i, 4, r[4] / 100, cur)
        ws.write_boolean(i, 5, r[5])
        ws.write_number(i, 6, r[6], day)
        ws.write_number(i, 7, r[7], pct)
        ws.write_string(i, 8, r[8])
        ws.write_string(i, 9, r[9])
    wb.close()


def openpyxl_run(rows, path):
    import openpyxl
    from openpyxl.cell import WriteOnlyCell
    wb = openpyxl.Workbook(write_only=True)
    ws = wb.create_sheet("Data")
    fmts = {2: "#,##0.00", 4: '"$"#,##0.00', 6: "mm-dd-yy", 7: "0.0%"}
    for r in rows:
        out = []
        for j, v in enumerate(r):
            if j == 4:
                v = v / 100
            if j in fmts:
                c = WriteOnlyCell(ws, value=v)
                c.number_format = fmts[j]
                out.append(c)
            else:
                out.append(v)
        ws.append(out)
    wb.save(path)


def pyexcelerate_run(rows, path):
    from pyexcelerate import Workbook
    wb = Workbook()
    data = [[r[0], r[1], r[2], r[3], r[4] / 100, r[5], BASE + datetime.timedelta(days=r[6]), r[7],
             r[8], r[9]] for r in rows]
    wb.new_sheet("Data", data=data)
    wb.save(path)


CONTENDERS = {
    "tessary.write (dict)": (tessary_write_prepare, tessary_write_run),
    "tessary write_table": (tessary_table_prepare, tessary_table_run),
    "tessary write_rows_json": (tessary_json_prepare, tessary_json_run),
    "tessary write_row": (tessary_json_prepare, tessary_row_run),
    "XlsxWriter": (bare_rows, lambda d, p: xlsxwriter_run(d, p, False)),
    "XlsxWriter constant_memory": (bare_rows, lambda d, p: xlsxwriter_run(d, p, True)),
    "openpyxl write_only": (bare_rows, openpyxl_run),
    "pyexcelerate": (bare_rows, pyexcelerate_run),
}
PEERS = ["XlsxWriter", "XlsxWriter constant_memory", "openpyxl write_only", "pyexcelerate"]


def rss_now_mib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize() / 2**20


def child(name, rows, path):
    prepare, run = CONTENDERS[name]
    data = prepare(rows)
    before = rss_now_mib()
    cpu = time.process_time()
    start = time.perf_counter()
    run(data, path)
    seconds = time.perf_counter() - start
    cpu = time.process_time() - cpu
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(json.dumps({"seconds": seconds, "cpu": cpu, "peak_mib": peak,
                      "write_mib": max(0.0, peak - before), "bytes": os.path.getsize(path)}))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=1_000_000)
    ap.add_argument("--only", default="")
    ap.add_argument("--child", default="")
    ap.add_argument("--path", default="")
    args = ap.parse_args()
    if args.child:
        child(args.child, args.rows, args.path)
        return
    names = [n for n in CONTENDERS if not args.only or any(o in n for o in args.only.split(","))]
    results = {}
    with tempfile.TemporaryDirectory() as tmp:
        for name in names:
            path = os.path.join(tmp, "out.xlsx")
            proc = subprocess.run([sys.executable, __file__, "--child", name, "--rows", str(args.rows),
                                   "--path", path], capture_output=True, text=True)
            if proc.returncode != 0:
                print("%s failed:\n%s" % (name, proc.stderr[-2000:]), file=sys.stderr)
                continue
            results[name] = json.loads(proc.stdout.strip().splitlines()[-1])
            os.remove(path)
            r = results[name]
            print("  %-28s %8.2f s wall %8.2f s cpu" % (name, r["seconds"], r["cpu"]), file=sys.stderr,
                  flush=True)
    # Ratios use CPU time, which a machine shared with other work disturbs far less than wall time.
    peers = [results[p]["cpu"] for p in PEERS if p in results]
    fastest_peer = min(peers) if peers else None
    cm = results.get("XlsxWriter constant_memory", {}).get("cpu")
    cells = args.rows * len(HEAD)
    print("\n%d rows x %d columns (%d cells)\n" % (args.rows, len(HEAD), cells))
    print("| contender | wall s | CPU s | cells/CPU s | peak RSS MiB | write RSS MiB | file MiB "
          "| write RSS / file | fastest peer / this | XlsxWriter cm / this |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for name, r in results.items():
        mib = r["bytes"] / 2**20
        print("| %s | %.2f | %.2f | %.0f | %.0f | %.0f | %.1f | %.2f | %s | %s |" % (
            name, r["seconds"], r["cpu"], cells / r["cpu"], r["peak_mib"], r["write_mib"], mib,
            r["write_mib"] / mib if mib else 0,
            "%.1f" % (fastest_peer / r["cpu"]) if fastest_peer else "-",
            "%.1f" % (cm / r["cpu"]) if cm else "-"))


if __name__ == "__main__":
    main()
