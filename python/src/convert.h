// convert: Python objects into core values (JSON values, write options, typed-column cells) and
// core results back into Python objects. Nothing here keeps a reference after it returns.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string>
#include <vector>

#include "error.h"
#include "json.h"
#include "lib.h"
#include "model.h"

namespace tessary::py {

// An owned reference, released when the holder goes.
class Ref {
    PyObject* p_ = nullptr;

public:
    Ref() = default;
    explicit Ref(PyObject* p) : p_(p) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ~Ref() { Py_XDECREF(p_); }
    PyObject* get() const { return p_; }
    PyObject* release() {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    explicit operator bool() const { return p_ != nullptr; }
};

// Imports collections.abc once (module initialisation); false with an exception set.
bool init_convert();

// Walks any Python object into a JSON value. Failures (an unsupported type, an int out of range,
// an exception raised by the caller's objects, nesting deeper than json::MAX_DEPTH) come back as a
// SchemaViolation with the conversion message; no Python exception is left set.
Result<json::Value> json_value_from_py(PyObject* obj);

// Turns the pending Python exception into "{type name}: {text}" and clears it.
std::string take_exception_text();

// Reads `opts` (NULL, or a dict already checked by the binding) into WriteOptions: meta's title,
// author, subject and company, then password. False with TypeError set.
bool write_options(PyObject* opts, WriteOptions* out);

// The string rule of the options: a missing key is absent; a present value must be a str
// ("'{type}' object cannot be converted to 'PyString'" otherwise, None included).
bool opt_str_item(PyObject* dict, const char* key, std::optional<std::string>* out);

// (bytes, [{"code": ..., "message": ...}, ...]); NULL with an exception set.
PyObject* result_to_tuple(WriteResult&& result);

// A new bytes object holding `data`.
PyObject* bytes_from(const std::string& data);

// The one-sheet input of write_rows: {sheetName?, locale?, columns?, rows?}; unknown keys ignored.
struct RowsInput {
    std::optional<std::string> sheet_name;
    std::optional<std::string> locale;
    std::vector<Column> columns;
    std::vector<Row> rows;
};

Result<RowsInput> rows_input_from_value(json::Value&& value);

// The parsed kind of one write_table column.
struct ColKind {
    enum class Tag { String, Boolean, Number, Currency, Percent, Date };
    Tag tag = Tag::String;
    std::optional<NumberFormat> number;
    CurrencyFormat currency;
    std::optional<uint32_t> decimals;
    std::optional<DateFormat> date;
};

// Reads one column spec. False with an exception set: TessaryError (SchemaViolation) for a spec
// without a usable "type", an unknown type or a bad currency spec; TypeError for a non-str "type".
bool parse_colspec(PyObject* spec, ColKind* out);

// Converts one bare value into a cell of the column's kind; None is always a blank cell. False
// with the conversion's own Python exception set.
bool cell_from_py(const ColKind& kind, PyObject* item, Cell* out);

}  // namespace tessary::py
