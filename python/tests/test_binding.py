"""The module surface: argument binding, value conversion, options, the exception, the one-shot
functions and their docstrings."""

import collections.abc
import datetime
import io
import json
import sys
import weakref
import zipfile

import pytest

import tessary
from tessary import _tessary


def book(name="S", cells=None, **sheet):
    cells = [{"type": "string", "value": "a"}] if cells is None else cells
    return {"sheets": [dict(name=name, rows=[{"cells": cells}], **sheet)]}


def raises_schema(fn, *args, **kwargs):
    with pytest.raises(tessary.TessaryError) as err:
        fn(*args, **kwargs)
    return err.value.code, err.value.message


# ---- module and class surface ----


def test_attribute_order():
    public = [k for k in vars(_tessary) if not k.startswith("__")]
    want = ["WorkbookWriter", "write", "write_full", "write_from_json", "write_rows",
            "create_writer", "parse", "TessaryError"]
    assert public == want


SIGNATURES = [
    (_tessary.write, "(workbook, opts=None)",
     "One-shot: a complete workbook dict -> `.xlsx` `bytes`. `opts` is an optional\n"
     "dict `{meta: {title, author, subject, company}, locale}`."),
    (_tessary.write_full, "(workbook, opts=None)", None),
    (_tessary.write_from_json, "(input, opts=None)",
     "JSON in: a JSON string OR a Python value matching the workbook schema.\n"
     "Validated fail-closed. Returns the `.xlsx` `bytes`."),
    (_tessary.write_rows, "(input, opts=None)",
     "Convenience fast-path: one sheet from typed columns + rows. NOT a CSV\n"
     "ingester. `input` is a dict `{sheetName?, locale?, columns?, rows}`."),
    (_tessary.create_writer, "(opts=None)",
     "Create a streaming writer for large sheets (module-level convenience)."),
    (_tessary.WorkbookWriter, "(locale=None, opts=None)",
     "A row-by-row streaming writer. Push a sheet, stream rows, end the sheet,\n"
     "finish the package. See the core [`core::WorkbookWriter`]."),
    (_tessary.WorkbookWriter.start_sheet, "($self, sheet)",
     "Begin a new sheet from its metadata dict (its `rows` are ignored \u2014 stream\n"
     "them with [`Self::write_row`])."),
    (_tessary.WorkbookWriter.write_row, "($self, row)", "Stream one row dict into the open sheet."),
    (_tessary.WorkbookWriter.write_rows_json, "($self, rows_json)", None),
    (_tessary.WorkbookWriter.write_table, "($self, columns, rows)",
     "Stream a typed table: `columns` is a list of per-column type specs\n"
     "(`{\"type\": \"currency\", \"currency\": {...}}`, `{\"type\": \"string\"}`, \u2026) and\n"
     "`rows` is an iterable of rows of BARE scalar values. This is the fastest\n"
     "Python path for large exports \u2014 no per-cell dicts and no JSON, so it\n"
     "sidesteps CPython's slow `json.dumps`/object building. A `None` value emits\n"
     "a blank cell."),
    (_tessary.WorkbookWriter.end_sheet, "($self)", "Close the open sheet (idempotent)."),
    (_tessary.WorkbookWriter.finish, "($self)",
     "Finish every sheet and ZIP the package, returning `(bytes, [lint...])`.\n"
     "The writer is consumed; calling any method afterwards raises."),
]


@pytest.mark.parametrize("obj,signature,doc", SIGNATURES)
def test_text_signatures_and_docs(obj, signature, doc):
    if isinstance(obj, type) and sys.version_info < (3, 10):
        # Before 3.10 a type made from a spec keeps its docstring without the signature line.
        assert obj.__text_signature__ is None
    else:
        assert obj.__text_signature__ == signature
    assert not obj.__doc__.startswith(obj.__name__)
    if doc is not None:
        assert obj.__doc__ == doc


def test_writer_class_shape():
    cls = tessary.WorkbookWriter
    assert cls.__module__ == "tessary" and cls.__qualname__ == "WorkbookWriter"
    assert cls.__bases__ == (object,)
    methods = [k for k in vars(cls) if not k.startswith("__")]
    assert methods == ["start_sheet", "write_row", "write_rows_json", "write_table", "end_sheet",
                       "finish"]
    assert "__init__" not in vars(cls)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    w = cls()
    with pytest.raises(AttributeError):
        w.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(w)


def test_error_instances():
    with pytest.raises(tessary.TessaryError) as err:
        tessary.write({"sheets": []})
    e = err.value
    assert (e.code, e.message) == ("EmptyWorkbook", "a workbook needs at least one sheet")
    assert e.args == (e.message,) and str(e) == e.message
    assert list(vars(e)) == ["code", "message"]
    assert type(e) is _tessary.TessaryError and type(e).__module__ == "tessary"
    assert issubclass(tessary.TessaryError, Exception)


# ---- argument binding ----

W = tessary.WorkbookWriter
BINDING = [
    (lambda: tessary.write(), "write() missing 1 required positional argument: 'workbook'"),
    (lambda: tessary.write(book(), None, 3),
     "write() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: tessary.write_full(book(), foo=1),
     "write_full() got an unexpected keyword argument 'foo'"),
    (lambda: tessary.write_from_json(book(), input=1),
     "write_from_json() got multiple values for argument 'input'"),
    (lambda: tessary.write_rows({}, None, opts=None),
     "write_rows() got multiple values for argument 'opts'"),
    (lambda: tessary.create_writer(None, None),
     "create_writer() takes from 0 to 1 positional arguments but 2 were given"),
    (lambda: W(None, None, None),
     "WorkbookWriter.__new__() takes from 0 to 2 positional arguments but 3 were given"),
    (lambda: W(local="x"), "WorkbookWriter.__new__() got an unexpected keyword argument 'local'"),
    (lambda: W().write_table(),
     "WorkbookWriter.write_table() missing 2 required positional arguments: 'columns' and 'rows'"),
    (lambda: W().write_table([], [], []),
     "WorkbookWriter.write_table() takes 2 positional arguments but 3 were given"),
    (lambda: W().write_row([], []),
     "WorkbookWriter.write_row() takes 1 positional arguments but 2 were given"),
    (lambda: W().end_sheet(1),
     "WorkbookWriter.end_sheet() takes 0 positional arguments but 1 was given"),
    (lambda: W().finish(now=True), "WorkbookWriter.finish() got an unexpected keyword argument 'now'"),
    (lambda: W().start_sheet(), "WorkbookWriter.start_sheet() missing 1 required positional argument: 'sheet'"),
    # argument types, checked while binding
    (lambda: tessary.write(book(), []),
     "argument 'opts': 'list' object cannot be converted to 'PyDict'"),
    (lambda: tessary.write_full(book(), opts=collections.OrderedDict().keys()),
     "argument 'opts': 'odict_keys' object cannot be converted to 'PyDict'"),
    (lambda: tessary.write_rows({}, opts=5),
     "argument 'opts': 'int' object cannot be converted to 'PyDict'"),
    (lambda: W(locale=5), "argument 'locale': 'int' object cannot be converted to 'PyString'"),
    (lambda: W("en-US", ()), "argument 'opts': 'tuple' object cannot be converted to 'PyDict'"),
    (lambda: tessary.create_writer({"locale": 5}), "'int' object cannot be converted to 'PyString'"),
    (lambda: tessary.create_writer({"locale": None}),
     "'NoneType' object cannot be converted to 'PyString'"),
    (lambda: W().write_rows_json(b"[]"),
     "argument 'rows_json': 'bytes' object cannot be converted to 'PyString'"),
]


@pytest.mark.parametrize("call,message", BINDING)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as err:
        call()
    assert str(err.value) == message


def test_keywords_and_none_opts():
    wb = book()
    plain = tessary.write(wb)
    assert tessary.write(workbook=wb, opts=None) == plain
    assert tessary.write_full(opts=None, workbook=wb)[0] == plain
    assert tessary.write_from_json(input=wb) == plain
    assert tessary.write(wb, {"locale": "de-DE", "other": 1}) == plain
    assert tessary.write(wb, collections.OrderedDict()) == plain  # dict subclasses are dicts


# ---- value conversion ----

class Seq(collections.abc.Sequence):
    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


class Map(collections.abc.Mapping):
    def __init__(self, **kv):
        self.kv = kv

    def __len__(self):
        return len(self.kv)

    def __iter__(self):
        return iter(self.kv)

    def __getitem__(self, k):
        return self.kv[k]


class Boom(collections.abc.Sequence):
    def __len__(self):
        return 1

    def __getitem__(self, i):
        raise ValueError("boom")


class BadStr(Exception):
    def __str__(self):
        raise RuntimeError("no")


class BadLen(collections.abc.Sequence):
    def __len__(self):
        raise BadStr()

    def __getitem__(self, i):
        return 0


class IntSub(int):
    pass


class StrSub(str):
    pass


def nested(depth):
    v = "x"
    for _ in range(depth):
        v = [v]
    return v


# A sheet name of each value: the conversion's result shows in the schema reader's message.
FOUND = [
    (5, "integer `5`"),
    (IntSub(7), "integer `7`"),
    (True, "boolean `true`"),
    (2**64 - 1, "integer `18446744073709551615`"),
    (-(2**63), "integer `-9223372036854775808`"),
    (2.5, "floating point `2.5`"),
    (2.0, "floating point `2.0`"),
    (None, "unit value"),
    (float("nan"), "unit value"),
    (float("-inf"), "unit value"),
    (("a",), "sequence"),
    (frozenset(["a"]), "sequence"),
    ({"a"}, "sequence"),
    (Seq("a"), "sequence"),
    ({}, "map"),
    (Map(a=1), "map"),
]


@pytest.mark.parametrize("value,found", FOUND)
def test_converted_values_reach_the_schema(value, found):
    got = raises_schema(tessary.write, {"sheets": [{"name": value}]})
    assert got == ("SchemaViolation", "invalid type: %s, expected a string" % found)


def test_containers_convert_like_lists_and_dicts():
    cell = {"type": "string", "value": "a"}
    want = tessary.write(book(cells=[cell, cell]))
    assert tessary.write(book(cells=(cell, Map(**cell)))) == want
    assert tessary.write(book(cells=Seq(cell, cell))) == want
    assert tessary.write(book(name=StrSub("S"), cells=[cell, cell])) == want
    assert tessary.write(book(cells=[cell, cell], merges={"A1:B1"})) == tessary.write(
        book(cells=[cell, cell], merges=["A1:B1"]))


CONVERSION_ERRORS = [
    (2**64, "JSON number out of range"),
    (-(2**63) - 1, "JSON number out of range"),
    (2**128 - 1, "JSON number out of range"),
    (-(2**127), "JSON number out of range"),
    (2**128, "OverflowError: int too big to convert"),
    (-(2**127) - 1, "OverflowError: int too big to convert"),
    ({1: "x"}, "unexpected type: 'int' object cannot be converted to 'PyString'"),
    (datetime.datetime(2024, 1, 1), "unsupported type datetime"),
    (datetime.date(2024, 1, 1), "unsupported type date"),
    (object(), "unsupported type object"),
    (b"x", "invalid type: byte array, expected any valid JSON value"),
    (bytearray(b"x"), "unexpected type: 'bytearray' object cannot be converted to 'PyBytes'"),
    ("\ud800", "UnicodeEncodeError: 'utf-8' codec can't encode character '\\ud800' in position 0:"
               " surrogates not allowed"),
    ({"\udc00": 1}, "UnicodeEncodeError: 'utf-8' codec can't encode character '\\udc00' in "
                    "position 0: surrogates not allowed"),
    (Boom(), "ValueError: boom"),
    (BadLen(), "BadStr: <exception str() failed>"),
    (nested(129), "recursion limit exceeded"),
]


@pytest.mark.parametrize("value,message", CONVERSION_ERRORS)
def test_conversion_errors(value, message):
    # The bad value sits where the schema would ignore it (an unknown key of a cell), so only the
    # conversion can fail.
    cell = {"type": "string", "value": "a", "note": value}
    for fn in (tessary.write, tessary.write_full, tessary.write_from_json, tessary.write_rows):
        assert raises_schema(fn, book(cells=[cell])) == ("SchemaViolation", message)


def test_nesting_limit_is_128_levels():
    # 128 levels convert: the workbook, sheet list, sheet, row list, row, cell list and cell make 7,
    # the cell's ignored key holds the other 121 ...
    cell = {"type": "string", "value": "a", "note": nested(121)}
    tessary.write(book(cells=[cell]))
    cell["note"] = nested(122)
    assert raises_schema(tessary.write, book(cells=[cell])) == (
        "SchemaViolation", "recursion limit exceeded")
    # ... and self-referencing containers stop at the limit instead of exhausting the C stack.
    loop = []
    loop.append(loop)
    looped = {}
    looped["k"] = looped
    for value in (loop, looped, nested(100000)):
        assert raises_schema(tessary.write, value) == ("SchemaViolation", "recursion limit exceeded")


# ---- options ----

OPTION_ERRORS = [
    ({"meta": None}, "'NoneType' object cannot be converted to 'PyDict'"),
    ({"meta": []}, "'list' object cannot be converted to 'PyDict'"),
    ({"meta": {"title": None}}, "'NoneType' object cannot be converted to 'PyString'"),
    ({"meta": {"title": "t", "company": 1}}, "'int' object cannot be converted to 'PyString'"),
    ({"password": b"pw"}, "'bytes' object cannot be converted to 'PyString'"),
]


@pytest.mark.parametrize("opts,message", OPTION_ERRORS)
def test_option_errors(opts, message):
    for fn in (tessary.write, tessary.write_full, tessary.write_from_json, tessary.write_rows,
               tessary.create_writer):
        arg = () if fn is tessary.create_writer else ({"sheets": [{"name": "S"}]},)
        with pytest.raises(TypeError) as err:
            fn(*arg, opts)
        assert str(err.value) == message
    with pytest.raises(TypeError) as err:
        tessary.WorkbookWriter(None, opts)
    assert str(err.value) == message


def test_order_of_workbook_and_option_errors():
    bad_book, bad_opts = {"sheets": [{"name": object()}]}, {"meta": None}
    assert raises_schema(tessary.write, bad_book, bad_opts)[1] == "unsupported type object"
    assert raises_schema(tessary.write_full, bad_book, bad_opts)[1] == "unsupported type object"
    with pytest.raises(TypeError):
        tessary.write_from_json(bad_book, bad_opts)
    with pytest.raises(TypeError):
        tessary.write_from_json("not json", bad_opts)


def test_meta_reaches_the_document_properties():
    import openpyxl

    meta = {"title": "Q3 <report>", "author": "Ann", "subject": "Sales", "company": "Acme & Co",
            "ignored": 1}
    data = tessary.write(book(), {"meta": meta, "locale": "ignored"})
    props = openpyxl.load_workbook(io.BytesIO(data)).properties
    assert (props.title, props.creator, props.subject) == ("Q3 <report>", "Ann", "Sales")
    app = zipfile.ZipFile(io.BytesIO(data)).read("docProps/app.xml").decode()
    assert "<Company>Acme &amp; Co</Company>" in app


def test_password():
    import msoffcrypto
    import openpyxl

    wb = book()
    assert zipfile.is_zipfile(io.BytesIO(tessary.write(wb, {"password": ""})))
    sealed = tessary.write(wb, {"password": "s3cret"})
    assert sealed.startswith(b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1")
    office = msoffcrypto.OfficeFile(io.BytesIO(sealed))
    office.load_key(password="s3cret")
    plain = io.BytesIO()
    office.decrypt(plain)
    assert openpyxl.load_workbook(plain).active["A1"].value == "a"


# ---- one-shot functions ----

def test_one_shot_paths_agree():
    wb = book(cells=[{"type": "number", "value": 1.5}, {"type": "boolean", "value": True}])
    data = tessary.write(wb)
    assert tessary.write_full(wb) == (data, [])
    assert tessary.write_from_json(wb) == data
    assert tessary.write_from_json(json.dumps(wb)) == data
    assert tessary.write_from_json(StrSub(json.dumps(wb))) == data


def test_lints():
    wb = book(columns=[{"width": 300}], merges=["A1:B1", "A1:B1"])
    data, lints = tessary.write_full(wb)
    assert lints == [
        {"code": "ClampedColumnWidth", "message": "column width 300 clamped to 255"},
        {"code": "DroppedDuplicateMerge", "message": "duplicate merge A1:B1 dropped"},
    ]
    assert all(list(d) == ["code", "message"] for d in lints)
    assert tessary.write(wb) == data


CORE_ERRORS = [
    (lambda: tessary.write_from_json(b"{}"),
     ("SchemaViolation", "invalid type: byte array, expected any valid JSON value")),
    (lambda: tessary.write_from_json(""), ("InvalidJson", "EOF while parsing a value at line 1 column 0")),
    (lambda: tessary.write_from_json("\ud800"),
     ("SchemaViolation", "UnicodeEncodeError: 'utf-8' codec can't encode character '\\ud800' in "
                         "position 0: surrogates not allowed")),
    (lambda: tessary.write({}), ("SchemaViolation", "missing field `sheets`")),
    (lambda: tessary.write({"sheets": [], "extra": 1}),
     ("SchemaViolation", "unknown field `extra`, expected one of `schemaVersion`, `locale`, `sheets`")),
    (lambda: tessary.write(5), ("SchemaViolation", "invalid type: integer `5`, expected struct Workbook")),
    (lambda: tessary.write(book(name="")), ("InvalidSheetName", None)),
    (lambda: tessary.write({"sheets": [{"name": "A"}, {"name": "a"}]}), ("DuplicateSheetName", None)),
    (lambda: tessary.write(book(merges=["A1"])), ("BadCellRef", None)),
    (lambda: tessary.write(book(cells=[{"type": "string", "value": "a", "style": {"fill": "red"}}])),
     ("BadColor", None)),
]


@pytest.mark.parametrize("call,want", CORE_ERRORS)
def test_core_errors(call, want):
    code, message = raises_schema(call)
    assert code == want[0]
    if want[1] is not None:
        assert message == want[1]
