// parse: the module function parse(), which reads the bytes of an .xlsx back into grid JSON, typed
// JSON, CSV or Markdown through the core's workbook reader and read-outs.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tessary::py {

inline constexpr const char* PARSE_DOC =
    "parse(data, format=None, sheet=None, typed=False)\n--\n\n"
    "Read an `.xlsx` into JSON / CSV / Markdown (`tessary-parse` build only).\n"
    "`format` = `\"json\"` (default) / `\"csv\"` / `\"md\"`; `typed` selects the\n"
    "round-trippable typed JSON; `sheet` picks a sheet by name for csv/md.";

// parse(data, format=None, sheet=None, typed=False) -> str. TypeError for the shape of an argument;
// TessaryError "SchemaViolation" for an unreadable package, an unknown format or a missing sheet.
PyObject* py_parse(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace tessary::py
