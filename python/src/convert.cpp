// convert: the conversions every entry point shares. The value walk tests the concrete built-in
// types first (bool before int, since bool is an int) and the abstract Sequence and Mapping last,
// so ordinary dicts and lists never pay for an isinstance check.
#include "convert.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "bind.h"
#include "errors.h"

namespace tessary::py {

namespace {

PyObject* g_sequence_abc = nullptr;
PyObject* g_mapping_abc = nullptr;

TessaryError schema_error(std::string message) {
    return TessaryError{ErrorCode::SchemaViolation, std::move(message)};
}

std::string cannot_convert_text(PyObject* obj, std::string_view target) {
    std::string msg = "unexpected type: '";
    msg += type_name(obj);
    msg += "' object cannot be converted to '";
    msg.append(target);
    msg += '\'';
    return msg;
}

// The value walk. Returns false with the failure text in `err`; a Python exception met on the way
// is turned into text and cleared at once, so none is left pending.
class Walker {
public:
    std::string err;

    bool walk(PyObject* obj, json::Value& out, int depth) {
        // `out` is a fresh null value: only the fields of the kind found are set, in place.
        if (obj == Py_None) return true;
        // The exact built-in types first, by identity: under the limited API every type check is a
        // call, and the concrete types are disjoint, so their order does not matter here.
        PyTypeObject* type = Py_TYPE(obj);
        if (type == &PyUnicode_Type) return string(obj, out);
        if (type == &PyDict_Type) return enter(depth) && dict(obj, out, depth + 1);
        if (type == &PyLong_Type) return integer(obj, out);
        if (type == &PyList_Type) return enter(depth) && sequence(obj, out, depth + 1);
        if (type == &PyFloat_Type) return real(obj, out);
        if (type == &PyBool_Type) {
            out.kind = json::Kind::Bool;
            out.b = obj == Py_True;
            return true;
        }
        if (PyBool_Check(obj)) {
            out.kind = json::Kind::Bool;
            out.b = obj == Py_True;
            return true;
        }
        if (PyLong_Check(obj)) return integer(obj, out);
        if (PyList_Check(obj) || PyTuple_Check(obj)) {
            if (!enter(depth)) return false;
            return sequence(obj, out, depth + 1);
        }
        if (PyDict_Check(obj)) {
            if (!enter(depth)) return false;
            return dict(obj, out, depth + 1);
        }
        if (PyUnicode_Check(obj)) return string(obj, out);
        if (PyBytes_Check(obj)) {
            err = "invalid type: byte array, expected any valid JSON value";
            return false;
        }
        if (PyByteArray_Check(obj)) {
            err = cannot_convert_text(obj, "PyBytes");
            return false;
        }
        if (PyFloat_Check(obj)) return real(obj, out);
        if (PyAnySet_Check(obj)) {
            if (!enter(depth)) return false;
            return set(obj, out, depth + 1);
        }
        int is_seq = PyObject_IsInstance(obj, g_sequence_abc);
        if (is_seq < 0) return fail_with_exception();
        if (is_seq) {
            if (!enter(depth)) return false;
            return sequence(obj, out, depth + 1);
        }
        int is_map = PyObject_IsInstance(obj, g_mapping_abc);
        if (is_map < 0) return fail_with_exception();
        if (is_map) {
            if (!enter(depth)) return false;
            return mapping(obj, out, depth + 1);
        }
        err = "unsupported type " + type_qualname(obj);
        return false;
    }

private:
    bool fail_with_exception() {
        err = take_exception_text();
        return false;
    }

    bool enter(int depth) {
        if (depth >= json::MAX_DEPTH) {
            err = "recursion limit exceeded";
            return false;
        }
        return true;
    }

    bool string(PyObject* obj, json::Value& out) {
        Utf8 text;
        if (!text.set(obj)) return fail_with_exception();
        out.kind = json::Kind::String;
        out.s.assign(text.view());
        return true;
    }

    // NaN and the infinities have no JSON form and become null.
    bool real(PyObject* obj, json::Value& out) {
        double d = PyFloat_AsDouble(obj);
        if (d == -1.0 && PyErr_Occurred()) return fail_with_exception();
        if (std::isfinite(d)) {
            out.kind = json::Kind::Double;
            out.d = d;
        }
        return true;
    }

    bool integer(PyObject* obj, json::Value& out) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
        if (v == -1 && PyErr_Occurred()) return fail_with_exception();
        if (overflow == 0) {
            if (v >= 0) {
                out.kind = json::Kind::UInt;
                out.u = static_cast<uint64_t>(v);
            } else {
                out.kind = json::Kind::Int;
                out.i = static_cast<int64_t>(v);
            }
            return true;
        }
        if (overflow > 0) {
            unsigned long long u = PyLong_AsUnsignedLongLong(obj);
            if (!(u == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
                out.kind = json::Kind::UInt;
                out.u = static_cast<uint64_t>(u);
                return true;
            }
            PyErr_Clear();
        }
        // Beyond 64 bits: within 128 bits the value is a JSON number the model cannot hold;
        // beyond that the conversion's own OverflowError text is reported.
        Ref method(PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyLong_Type), "to_bytes"));
        if (!method) return fail_with_exception();
        Ref args(Py_BuildValue("(Ois)", obj, 16, "little"));
        Ref kwargs(Py_BuildValue("{s:O}", "signed", overflow < 0 ? Py_True : Py_False));
        if (!args || !kwargs) return fail_with_exception();
        Ref bytes(PyObject_Call(method.get(), args.get(), kwargs.get()));
        if (!bytes) return fail_with_exception();
        err = "JSON number out of range";
        return false;
    }

    // A list, a tuple or any Sequence: the length once, then the items by index.
    bool sequence(PyObject* obj, json::Value& out, int depth) {
        bool list = PyList_CheckExact(obj);
        bool tuple = PyTuple_CheckExact(obj);
        Py_ssize_t n = list ? PyList_Size(obj) : tuple ? PyTuple_Size(obj) : PySequence_Size(obj);
        if (n < 0) return fail_with_exception();
        out.kind = json::Kind::Array;
        json::Array& arr = out.arr;
        arr.resize(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (list || tuple) {
                PyObject* item = list ? PyList_GetItem(obj, i) : PyTuple_GetItem(obj, i);
                if (item == nullptr) return fail_with_exception();
                if (!walk(item, arr[static_cast<std::size_t>(i)], depth)) return false;
            } else {
                Ref item(PySequence_GetItem(obj, i));
                if (!item) return fail_with_exception();
                if (!walk(item.get(), arr[static_cast<std::size_t>(i)], depth)) return false;
            }
        }
        return true;
    }

    bool key_text(PyObject* key, std::string& out) {
        if (!PyUnicode_Check(key)) {
            err = cannot_convert_text(key, "PyString");
            return false;
        }
        Utf8 text;
        if (!text.set(key)) return fail_with_exception();
        out.assign(text.view());
        return true;
    }

    // A dict or subclass, in insertion order. The entries are read from the dict's own storage,
    // which gives the same pairs as its key and value lists.
    bool dict(PyObject* obj, json::Value& out, int depth) {
        out.kind = json::Kind::Object;
        json::Object& members = out.obj;
        members.reserve(static_cast<std::size_t>(PyDict_Size(obj)));
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(obj, &pos, &key, &value)) {
            members.emplace_back();
            auto& member = members.back();
            if (!key_text(key, member.first)) return false;
            // The item is held while it is walked: the caller's code run on the way may change the
            // dict.
            Py_INCREF(value);
            Ref hold(value);
            if (!walk(value, member.second, depth)) return false;
        }
        return true;
    }

    // Any other Mapping: through its keys() and values().
    bool mapping(PyObject* obj, json::Value& out, int depth) {
        Ref keys(PyMapping_Keys(obj));
        if (!keys) return fail_with_exception();
        Ref values(PyMapping_Values(obj));
        if (!values) return fail_with_exception();
        Ref key_list(PySequence_List(keys.get()));
        if (!key_list) return fail_with_exception();
        Ref value_list(PySequence_List(values.get()));
        if (!value_list) return fail_with_exception();
        Py_ssize_t n = PyList_Size(key_list.get());
        Py_ssize_t nv = PyList_Size(value_list.get());
        if (nv < n) n = nv;
        out.kind = json::Kind::Object;
        json::Object& members = out.obj;
        members.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i) {
            members.emplace_back();
            auto& member = members.back();
            if (!key_text(PyList_GetItem(key_list.get(), i), member.first)) return false;
            if (!walk(PyList_GetItem(value_list.get(), i), member.second, depth)) return false;
        }
        return true;
    }

    // A set or frozenset: its members in iteration order.
    bool set(PyObject* obj, json::Value& out, int depth) {
        Ref iter(PyObject_GetIter(obj));
        if (!iter) return fail_with_exception();
        out.kind = json::Kind::Array;
        json::Array& arr = out.arr;
        while (true) {
            Ref item(PyIter_Next(iter.get()));
            if (!item) {
                if (PyErr_Occurred()) return fail_with_exception();
                break;
            }
            arr.emplace_back();
            if (!walk(item.get(), arr.back(), depth)) return false;
        }
        return true;
    }
};

// The shape of a rejected value in a schema message ("integer `5`", "string \"x\"").
void push_found(std::string& out, const json::Value& v) {
    switch (v.kind) {
        case json::Kind::Null:
            out += "unit value";
            return;
        case json::Kind::Bool:
            out += v.b ? "boolean `true`" : "boolean `false`";
            return;
        case json::Kind::UInt:
            out += "integer `" + std::to_string(v.u) + "`";
            return;
        case json::Kind::Int:
            out += "integer `" + std::to_string(v.i) + "`";
            return;
        case json::Kind::Double: {
            char buf[400];
            auto res = std::to_chars(buf, buf + sizeof buf, v.d, std::chars_format::fixed);
            std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
            out += "floating point `";
            out += text;
            if (text.find('.') == std::string_view::npos) out += ".0";
            out += '`';
            return;
        }
        case json::Kind::String:
            out += "string ";
            quote_into(out, v.s);
            return;
        case json::Kind::Array:
            out += "sequence";
            return;
        case json::Kind::Object:
            out += "map";
            return;
    }
}

TessaryError invalid_type(const json::Value& v, std::string_view wanted) {
    std::string msg = "invalid type: ";
    push_found(msg, v);
    msg += ", expected ";
    msg.append(wanted);
    return schema_error(std::move(msg));
}

Status read_opt_string(json::Value&& v, std::optional<std::string>& out) {
    if (v.kind == json::Kind::Null) {
        out.reset();
        return Ok{};
    }
    if (v.kind != json::Kind::String) return invalid_type(v, "a string");
    out = std::move(v.s);
    return Ok{};
}

template <class T, class Read>
Status read_list(json::Value&& v, std::vector<T>& out, Read read) {
    if (v.kind != json::Kind::Array) return invalid_type(v, "a sequence");
    out.clear();
    out.reserve(v.arr.size());
    for (json::Value& item : v.arr) {
        Result<T> got = read(std::move(item));
        if (!got.ok()) return std::move(got.error());
        out.push_back(std::move(got.value()));
    }
    return Ok{};
}

// Reads a NumberFormat or DateFormat by the cell reader's rules: the value is placed as the
// "format" of a one-cell row of the given type and read with the row reader.
template <class Format, class CellT>
std::optional<Format> lenient_format(json::Value&& value, const char* type) {
    json::Object cell;
    cell.emplace_back("type", json::Value::string(type));
    cell.emplace_back("value", json::Value::uinteger(0));
    cell.emplace_back("format", std::move(value));
    json::Array cells;
    cells.push_back(json::Value::object(std::move(cell)));
    json::Object row;
    row.emplace_back("cells", json::Value::array(std::move(cells)));
    Result<Row> got = row_from_value(json::Value::object(std::move(row)));
    if (!got.ok() || got.value().cells.size() != 1) return std::nullopt;
    auto* c = std::get_if<CellT>(&got.value().cells[0]);
    if (c == nullptr) return std::nullopt;
    return std::move(c->format);
}

// spec[key] by Python subscription; NULL (with the exception cleared) when that raises.
PyObject* subscript(PyObject* spec, const char* key) {
    Ref k(PyUnicode_FromString(key));
    if (!k) {
        PyErr_Clear();
        return nullptr;
    }
    PyObject* v = PyObject_GetItem(spec, k.get());
    if (v == nullptr) PyErr_Clear();
    return v;
}

bool raise_schema_false(std::string_view message) {
    raise_schema(message);
    return false;
}

bool to_double(PyObject* item, double* out) {
    double d = PyFloat_AsDouble(item);
    if (d == -1.0 && PyErr_Occurred()) return false;
    *out = d;
    return true;
}

}  // namespace

bool init_convert() {
    Ref abc(PyImport_ImportModule("collections.abc"));
    if (!abc) return false;
    g_sequence_abc = PyObject_GetAttrString(abc.get(), "Sequence");
    g_mapping_abc = PyObject_GetAttrString(abc.get(), "Mapping");
    return g_sequence_abc != nullptr && g_mapping_abc != nullptr;
}

std::string take_exception_text() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    Ref t(type);
    Ref v(value);
    Ref b(tb);
    std::string text = "?";
    if (type != nullptr) {
        Ref name(PyObject_GetAttrString(type, "__name__"));
        if (name && PyUnicode_Check(name.get())) utf8_copy(name.get(), &text);
        PyErr_Clear();
    }
    text += ": ";
    Ref str(value != nullptr ? PyObject_Str(value) : nullptr);
    std::string detail;
    if (str && PyUnicode_Check(str.get()) && utf8_copy(str.get(), &detail)) {
        text += detail;
    } else {
        text += "<exception str() failed>";
    }
    PyErr_Clear();
    return text;
}

Result<json::Value> json_value_from_py(PyObject* obj) {
    Walker walker;
    json::Value value;
    if (!walker.walk(obj, value, 0)) return schema_error(std::move(walker.err));
    return value;
}

bool opt_str_item(PyObject* dict, const char* key, std::optional<std::string>* out) {
    Ref k(PyUnicode_FromString(key));
    if (!k) return false;
    PyObject* v = PyDict_GetItemWithError(dict, k.get());
    if (v == nullptr) {
        if (PyErr_Occurred()) return false;
        out->reset();
        return true;
    }
    if (!PyUnicode_Check(v)) return raise_cannot_convert(v, "PyString");
    std::string text;
    if (!utf8_copy(v, &text)) return false;
    *out = std::move(text);
    return true;
}

bool write_options(PyObject* opts, WriteOptions* out) {
    *out = WriteOptions{};
    if (opts == nullptr) return true;
    Ref key(PyUnicode_FromString("meta"));
    if (!key) return false;
    PyObject* meta = PyDict_GetItemWithError(opts, key.get());
    if (meta == nullptr && PyErr_Occurred()) return false;
    if (meta != nullptr) {
        if (!PyDict_Check(meta)) return raise_cannot_convert(meta, "PyDict");
        Py_INCREF(meta);
        Ref hold(meta);
        if (!opt_str_item(meta, "title", &out->meta.title) ||
            !opt_str_item(meta, "author", &out->meta.author) ||
            !opt_str_item(meta, "subject", &out->meta.subject) ||
            !opt_str_item(meta, "company", &out->meta.company)) {
            return false;
        }
    }
    return opt_str_item(opts, "password", &out->password);
}

PyObject* bytes_from(const std::string& data) {
    return PyBytes_FromStringAndSize(data.data(), static_cast<Py_ssize_t>(data.size()));
}

PyObject* result_to_tuple(WriteResult&& result) {
    Ref bytes(bytes_from(result.bytes));
    if (!bytes) return nullptr;
    std::string().swap(result.bytes);
    std::vector<Lint> lints = result.lints.take();
    Ref list(PyList_New(static_cast<Py_ssize_t>(lints.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < lints.size(); ++i) {
        std::string_view code = lint_name(lints[i].code);
        Ref dict(PyDict_New());
        Ref code_obj(PyUnicode_FromStringAndSize(code.data(), static_cast<Py_ssize_t>(code.size())));
        Ref msg(PyUnicode_FromStringAndSize(lints[i].message.data(),
                                            static_cast<Py_ssize_t>(lints[i].message.size())));
        if (!dict || !code_obj || !msg || PyDict_SetItemString(dict.get(), "code", code_obj.get()) < 0 ||
            PyDict_SetItemString(dict.get(), "message", msg.get()) < 0) {
            return nullptr;
        }
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), dict.release());  // steals
    }
    return PyTuple_Pack(2, bytes.get(), list.get());
}

Result<RowsInput> rows_input_from_value(json::Value&& value) {
    if (value.kind != json::Kind::Object) return invalid_type(value, "struct RowsInput");
    RowsInput input;
    bool seen[4] = {false, false, false, false};
    static constexpr const char* KEYS[4] = {"sheetName", "locale", "columns", "rows"};
    for (auto& [key, v] : value.obj) {
        int k = 0;
        while (k < 4 && key != KEYS[k]) ++k;
        if (k == 4) continue;
        if (seen[k]) return schema_error(std::string("duplicate field `") + KEYS[k] + "`");
        seen[k] = true;
        switch (k) {
            case 0:
                TESSARY_TRY(read_opt_string(std::move(v), input.sheet_name));
                break;
            case 1:
                TESSARY_TRY(read_opt_string(std::move(v), input.locale));
                break;
            case 2:
                TESSARY_TRY(read_list(std::move(v), input.columns, column_from_value));
                break;
            default:
                TESSARY_TRY(read_list(std::move(v), input.rows, row_from_value));
                break;
        }
    }
    return input;
}

bool parse_colspec(PyObject* spec, ColKind* out) {
    *out = ColKind{};
    Ref type(subscript(spec, "type"));
    if (!type) return raise_schema_false("column spec needs a 'type'");
    if (!PyUnicode_Check(type.get())) return raise_cannot_convert(type.get(), "PyString");
    Utf8 text;
    if (!text.set(type.get())) return false;
    std::string_view t = text.view();
    using Tag = ColKind::Tag;
    if (t == "string") {
        out->tag = Tag::String;
    } else if (t == "boolean") {
        out->tag = Tag::Boolean;
    } else if (t == "number" || t == "date") {
        out->tag = t == "number" ? Tag::Number : Tag::Date;
        Ref format(subscript(spec, "format"));
        if (format) {
            Result<json::Value> v = json_value_from_py(format.get());
            if (v.ok() && v.value().kind != json::Kind::Null) {
                if (out->tag == Tag::Number) {
                    out->number = lenient_format<NumberFormat, NumberCell>(std::move(v.value()), "number");
                } else {
                    out->date = lenient_format<DateFormat, DateCell>(std::move(v.value()), "date");
                }
            }
        }
    } else if (t == "percent") {
        out->tag = Tag::Percent;
        Ref decimals(subscript(spec, "decimals"));
        if (decimals && PyIndex_Check(decimals.get())) {
            Ref index(PyNumber_Index(decimals.get()));
            if (index) {
                unsigned long long d = PyLong_AsUnsignedLongLong(index.get());
                if (!(d == static_cast<unsigned long long>(-1) && PyErr_Occurred()) &&
                    d <= 0xFFFFFFFFull) {
                    out->decimals = static_cast<uint32_t>(d);
                }
            }
            PyErr_Clear();
        }
    } else if (t == "currency") {
        out->tag = Tag::Currency;
        Ref currency(subscript(spec, "currency"));
        if (!currency) return raise_schema_false("currency column needs a 'currency' spec");
        Result<json::Value> v = json_value_from_py(currency.get());
        if (!v.ok()) return raise_core(v.error()), false;
        Result<CurrencyFormat> fmt = currency_format_from_value(std::move(v.value()));
        if (!fmt.ok()) return raise_core(fmt.error()), false;
        out->currency = std::move(fmt.value());
    } else {
        std::string msg = "unknown column type ";
        quote_into(msg, t);
        return raise_schema_false(msg);
    }
    return true;
}

// A row buffer is reused for every row of a table, and each position always holds a cell of its
// column's kind (or a blank): when the cell is already of the kind only its value is replaced, so
// the column's format is copied once per column rather than once per cell, and text reuses the
// capacity of the previous row's string.
bool cell_from_py(const ColKind& kind, PyObject* item, Cell* out) {
    if (item == Py_None) {
        if (!std::holds_alternative<BlankCell>(*out)) *out = BlankCell{};
        return true;
    }
    using Tag = ColKind::Tag;
    switch (kind.tag) {
        case Tag::String: {
            if (!PyUnicode_Check(item)) return raise_cannot_convert(item, "PyString");
            Utf8 text;
            if (!text.set(item)) return false;
            if (auto* cell = std::get_if<StringCell>(out)) {
                cell->value.assign(text.view());
            } else {
                *out = StringCell{std::string(text.view()), std::nullopt};
            }
            return true;
        }
        case Tag::Boolean: {
            bool value = item == Py_True;
            if (!PyBool_Check(item)) {
                if (!is_bool_like(item)) return raise_cannot_convert(item, "PyBool");
                int truth = PyObject_IsTrue(item);
                if (truth < 0) return false;
                value = truth != 0;
            }
            if (auto* cell = std::get_if<BooleanCell>(out)) {
                cell->value = value;
            } else {
                *out = BooleanCell{value, std::nullopt};
            }
            return true;
        }
        case Tag::Number: {
            double d = 0;
            if (!to_double(item, &d)) return false;
            if (auto* cell = std::get_if<NumberCell>(out)) {
                cell->value = d;
            } else {
                *out = NumberCell{d, kind.number, std::nullopt};
            }
            return true;
        }
        case Tag::Currency: {
            long long v = 0;
            if (PyLong_Check(item)) {
                v = PyLong_AsLongLong(item);
            } else {
                Ref index(PyNumber_Index(item));
                if (!index) return false;
                v = PyLong_AsLongLong(index.get());
            }
            if (v == -1 && PyErr_Occurred()) return false;
            if (auto* cell = std::get_if<CurrencyCell>(out)) {
                cell->value = static_cast<int64_t>(v);
            } else {
                *out = CurrencyCell{static_cast<int64_t>(v), kind.currency, std::nullopt};
            }
            return true;
        }
        case Tag::Percent: {
            double d = 0;
            if (!to_double(item, &d)) return false;
            if (auto* cell = std::get_if<PercentCell>(out)) {
                cell->value = d;
            } else {
                *out = PercentCell{d, kind.decimals, std::nullopt};
            }
            return true;
        }
        case Tag::Date: {
            DateValue value;
            bool text_done = false;
            if (PyUnicode_Check(item)) {
                Utf8 text;
                if (text.set(item)) {
                    value = std::string(text.view());
                    text_done = true;
                } else {
                    PyErr_Clear();
                }
            }
            if (!text_done) {
                double d = 0;
                if (!to_double(item, &d)) return false;
                value = d;
            }
            if (auto* cell = std::get_if<DateCell>(out)) {
                cell->value = std::move(value);
            } else {
                *out = DateCell{std::move(value), kind.date, std::nullopt};
            }
            return true;
        }
    }
    return false;
}

}  // namespace tessary::py
