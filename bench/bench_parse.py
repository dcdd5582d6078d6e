"""Reading an .xlsx back: tessary.parse against python-calamine and openpyxl (read_only).

The input is an XlsxWriter file (deflated members, shared strings) of N rows x 10 columns: text,
repeated text, integers, floats, booleans and dates. Every job runs in its own child process so
that its peak memory can be read from the operating system (ru_maxrss over the baseline with the
file already loaded); times are the best of a few runs, as wall-clock and as CPU time of the process
(the CPU time is the steadier figure on a shared machine).

    python bench/bench_parse.py [--rows 200000] [--repeat 3] [--skip-openpyxl]
"""
import argparse
import datetime
import io
import json
import os
import subprocess
import sys
import tempfile

JOBS = {
    "tessary json+loads": "json.loads(tessary.parse(data))",
    "tessary typed json+loads": "json.loads(tessary.parse(data, typed=True))",
    "tessary csv": "tessary.parse(data, 'csv')",
    "calamine to_python": "python_calamine.load_workbook(io.BytesIO(data)).get_sheet_by_index(0).to_python()",
    "openpyxl read_only": "[r for r in openpyxl.load_workbook(io.BytesIO(data), read_only=True).worksheets[0]"
    ".iter_rows(values_only=True)]",
}

CHILD = r"""
import io, json, sys, time
path, stmt, repeat = sys.argv[1], sys.argv[2], int(sys.argv[3])
mods = {}
for name in ("tessary", "python_calamine", "openpyxl"):
    try:
        mods[name] = __import__(name)
    except ImportError:
        pass
def hwm_kib():
    # VmHWM belongs to this process image; ru_maxrss would carry the parent's peak across exec.
    for line in open("/proc/self/status"):
        if line.startswith("VmHWM:"):
            return int(line.split()[1])
data = open(path, "rb").read()
base = hwm_kib()
env = dict(mods, io=io, json=json, data=data)
best = cpu = None
for _ in range(repeat):
    t, c = time.perf_counter(), time.process_time()
    out = eval(stmt, env)
    t, c = time.perf_counter() - t, time.process_time() - c
    del out
    best = t if best is None else min(best, t)
    cpu = c if cpu is None else min(cpu, c)
peak = hwm_kib() - base
print(json.dumps({"seconds": best, "cpu": cpu, "peak_mib": peak / 1024}))
"""


def make_file(rows, path):
    import xlsxwriter

    wb = xlsxwriter.Workbook(path, {"constant_memory": False})
    ws = wb.add_worksheet("Data")
    date = wb.add_format({"num_format": "yyyy-mm-dd"})
    cities = ["Oslo", "Lima", "Kyoto", "Quito", "Perth", "Accra", "Hanoi", "Turku"]
    start = datetime.datetime(2020, 1, 1)
    ws.write_row(0, 0, ["id", "name", "city", "qty", "price", "ratio", "ok", "day", "code", "note"])
    for r in range(1, rows + 1):
        ws.write_number(r, 0, r)
        ws.write_string(r, 1, f"customer {r}")
        ws.write_string(r, 2, cities[r % len(cities)])
        ws.write_number(r, 3, r % 97)
        ws.write_number(r, 4, r * 0.25 + 0.01)
        ws.write_number(r, 5, 1 / (r + 1))
        ws.write_boolean(r, 6, r % 3 == 0)
        ws.write_datetime(r, 7, start + datetime.timedelta(days=r % 3650), date)
        ws.write_string(r, 8, f"C-{r % 1000:04d}")
        ws.write_string(r, 9, "lorem ipsum, dolor" if r % 2 else "sit \"amet\"")
    wb.close()


def run(path, stmt, repeat):
    out = subprocess.run([sys.executable, "-c", CHILD, path, stmt, str(repeat)],
                         check=True, capture_output=True, text=True)
    return json.loads(out.stdout)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=200_000)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--skip-openpyxl", action="store_true")
    args = ap.parse_args()

    path = os.path.join(tempfile.gettempdir(), f"tessary_bench_parse_{args.rows}.xlsx")
    if not os.path.exists(path):
        make_file(args.rows, path)
    size = os.path.getsize(path)
    print(f"input: {args.rows} rows x 10 columns, XlsxWriter, {size / 2**20:.1f} MiB")

    results = {}
    for name, stmt in JOBS.items():
        if name.startswith("openpyxl") and args.skip_openpyxl:
            continue
        results[name] = run(path, stmt, 1 if name.startswith("openpyxl") else args.repeat)

    print(f"{'job':28} {'wall s':>8} {'cpu s':>8} {'peak MiB':>9}")
    for name, r in results.items():
        print(f"{name:28} {r['seconds']:8.3f} {r['cpu']:8.3f} {r['peak_mib']:9.1f}")

    def ratio(peer, ours, goal):
        a, b = results[peer], results[ours]
        print(f"{peer} / {ours}: wall {a['seconds'] / b['seconds']:.2f}x, "
              f"cpu {a['cpu'] / b['cpu']:.2f}x (goal >= {goal})")

    ratio("calamine to_python", "tessary json+loads", 1.5)
    ratio("calamine to_python", "tessary csv", 3)
    if "openpyxl read_only" in results:
        ratio("openpyxl read_only", "tessary json+loads", 20)

if __name__ == "__main__":
    main()
