"""References and memory are released on every path: good and failing calls repeated thousands of
times leave the object count and the process's resident memory flat."""

import collections.abc
import gc
import json
import sys

import tessary

CELL = {"type": "string", "value": "abc", "style": {"font": {"bold": True}}}
GOOD = {"sheets": [{"name": "S", "columns": [{"width": 300}], "rows": [{"cells": [CELL] * 5}] * 5}]}
BAD_COLOR = {"sheets": [{"name": "S", "rows": [{"cells": [dict(CELL, style={"fill": "#12"})]}]}]}


class Boom(collections.abc.Sequence):
    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise KeyError("boom")


def expect(exc, fn, *args):
    try:
        fn(*args)
    except exc:
        return
    raise AssertionError("no %s from %r" % (exc.__name__, fn))


def stream_once():
    w = tessary.create_writer({"meta": {"title": "t"}})
    w.start_sheet({"name": "S", "columns": [{"width": 300}]})
    w.write_row({"cells": [CELL, {"type": "number", "value": 2**40}]})
    w.write_rows_json(json.dumps([{"cells": [CELL]}] * 3))
    w.write_table([{"type": "string"}, {"type": "currency", "currency": {"code": "EUR"}},
                   {"type": "date"}], [("a", 1, "2024-01-01"), ("b", None, 45000.0)])
    expect(TypeError, w.write_table, [{"type": "boolean"}], [[True], [1]])
    expect(tessary.TessaryError, w.write_table, [{"type": "money"}], [])
    expect(tessary.TessaryError, w.write_rows_json, "[{]")
    expect(tessary.TessaryError, w.write_row, {"cells": [dict(CELL, style={"fill": "x"})]})
    data, lints = w.finish()
    assert data and lints
    expect(tessary.TessaryError, w.finish)
    dropped = tessary.WorkbookWriter()
    dropped.start_sheet({"name": "S"})
    dropped.write_row({"cells": [CELL]})


def one_round():
    tessary.write(GOOD)
    tessary.write_full(GOOD)
    tessary.write_from_json(json.dumps(GOOD))
    tessary.write_rows({"rows": GOOD["sheets"][0]["rows"], "columns": [{"width": 1}]})
    expect(tessary.TessaryError, tessary.write, {"sheets": [{"name": "S", "x": 1}]})
    expect(tessary.TessaryError, tessary.write, BAD_COLOR)
    expect(tessary.TessaryError, tessary.write, {"sheets": [{"name": Boom()}]})
    expect(tessary.TessaryError, tessary.write, {"sheets": [{"name": 2**200}]})
    expect(tessary.TessaryError, tessary.write_from_json, "{bad")
    expect(TypeError, tessary.write, GOOD, {"meta": {"title": 5}})
    expect(TypeError, tessary.write, GOOD, [])
    expect(TypeError, tessary.write_full)
    stream_once()


def rss_kib():
    with open("/proc/self/statm") as f:
        pages = int(f.read().split()[1])
    import resource
    return pages * resource.getpagesize() // 1024


def test_repeated_calls_are_flat():
    for _ in range(300):
        one_round()
    gc.collect()
    objects, blocks, rss = len(gc.get_objects()), sys.getallocatedblocks(), rss_kib()
    for _ in range(3000):
        one_round()
    gc.collect()
    # One leaked reference per round would show as thousands of objects or blocks.
    assert len(gc.get_objects()) - objects < 100
    assert sys.getallocatedblocks() - blocks < 1000
    assert rss_kib() - rss < 4096
