// lib: the extension module tessary._tessary: its initialisation, functions and streaming class.
// Every entry point holds the interpreter lock, binds its arguments, converts them into owned core
// values, calls the core and converts the result or raises TessaryError.
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bind.h"
#include "convert.h"
#include "errors.h"
#include "lib.h"
#include "parse.h"
#include "writer.h"

namespace tessary::py {
namespace {

int g_initialised = 0;
PyObject* g_writer_type = nullptr;

// Runs an entry point's body; a C++ exception never crosses into the interpreter.
template <class F>
PyObject* guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_Format(PyExc_RuntimeError, "internal error: %s", e.what());
        return nullptr;
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "internal error");
        return nullptr;
    }
}

PyObject* none() {
    Py_INCREF(Py_None);
    return Py_None;
}

// The conversion result or the raised SchemaViolation.
bool to_value(PyObject* obj, json::Value* out) {
    Result<json::Value> value = json_value_from_py(obj);
    if (!value.ok()) {
        raise_core(value.error());
        return false;
    }
    *out = std::move(value.value());
    return true;
}

// ---- One-shot functions ----

constexpr const char* WRITE_PARAMS[] = {"workbook", "opts"};

// write and write_full: workbook conversion first, then the options.
PyObject* one_shot(const char* function, PyObject* args, PyObject* kwargs, bool full) {
    PyObject* bound[2];
    PyObject* opts = nullptr;
    if (!bind_args(function, WRITE_PARAMS, 1, args, kwargs, bound) ||
        !opt_dict_arg("opts", bound[1], &opts)) {
        return nullptr;
    }
    json::Value value;
    if (!to_value(bound[0], &value)) return nullptr;
    WriteOptions options;
    if (!write_options(opts, &options)) return nullptr;
    Result<WriteResult> result = write_from_json_value(std::move(value), options);
    if (!result.ok()) return raise_core(result.error());
    if (full) return result_to_tuple(std::move(result.value()));
    return bytes_from(result.value().bytes);
}

PyObject* py_write(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] { return one_shot("write()", args, kwargs, false); });
}

PyObject* py_write_full(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&] { return one_shot("write_full()", args, kwargs, true); });
}

PyObject* py_write_from_json(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr const char* PARAMS[] = {"input", "opts"};
        PyObject* bound[2];
        PyObject* opts = nullptr;
        if (!bind_args("write_from_json()", PARAMS, 1, args, kwargs, bound) ||
            !opt_dict_arg("opts", bound[1], &opts)) {
            return nullptr;
        }
        WriteOptions options;
        if (!write_options(opts, &options)) return nullptr;
        std::optional<Result<WriteResult>> result;
        if (PyUnicode_Check(bound[0])) {
            Utf8 text;
            if (!text.set(bound[0])) {
                return raise_schema(take_exception_text());
            }
            result.emplace(write_from_json_str(text.view(), options));
        } else {
            json::Value value;
            if (!to_value(bound[0], &value)) return nullptr;
            result.emplace(write_from_json_value(std::move(value), options));
        }
        if (!result->ok()) return raise_core(result->error());
        return bytes_from(result->value().bytes);
    });
}

PyObject* py_write_rows(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr const char* PARAMS[] = {"input", "opts"};
        PyObject* bound[2];
        PyObject* opts = nullptr;
        if (!bind_args("write_rows()", PARAMS, 1, args, kwargs, bound) ||
            !opt_dict_arg("opts", bound[1], &opts)) {
            return nullptr;
        }
        json::Value value;
        if (!to_value(bound[0], &value)) return nullptr;
        Result<RowsInput> input = rows_input_from_value(std::move(value));
        if (!input.ok()) return raise_core(input.error());
        WriteOptions options;
        if (!write_options(opts, &options)) return nullptr;
        RowsInput& in = input.value();
        Result<WriteResult> result =
            tessary::write_rows(std::move(in.sheet_name), std::move(in.columns),
                                std::move(in.rows), std::move(in.locale), options);
        if (!result.ok()) return raise_core(result.error());
        return bytes_from(result.value().bytes);
    });
}

PyObject* py_create_writer(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr const char* PARAMS[] = {"opts"};
        PyObject* bound[1];
        PyObject* opts = nullptr;
        if (!bind_args("create_writer()", PARAMS, 0, args, kwargs, bound) ||
            !opt_dict_arg("opts", bound[0], &opts)) {
            return nullptr;
        }
        PyObject* locale = Py_None;
        if (opts != nullptr) {
            std::optional<std::string> checked;
            if (!opt_str_item(opts, "locale", &checked)) return nullptr;
            if (checked) locale = PyDict_GetItemString(opts, "locale");
        }
        return PyObject_CallFunctionObjArgs(g_writer_type, locale, opts ? opts : Py_None,
                                            nullptr);
    });
}

// ---- WorkbookWriter ----

struct WriterObject {
    PyObject_HEAD
    WorkbookWriter* core;  // nullptr once finish consumed the writer
    bool borrowed;
};

WriterObject* as_writer(PyObject* self) { return reinterpret_cast<WriterObject*>(self); }

// Exclusive use of a writer for one method call. The caller's code run during the call (an
// iterator, __getitem__, __float__ ...) that calls back into the same writer is refused.
class Borrow {
    WriterObject* w_;
    bool held_ = false;

public:
    explicit Borrow(PyObject* self) : w_(as_writer(self)) {
        if (w_->borrowed) {
            PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
            return;
        }
        w_->borrowed = true;
        held_ = true;
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    ~Borrow() {
        if (held_) w_->borrowed = false;
    }
    bool held() const { return held_; }
};

PyObject* raise_finished() { return raise_schema("writer already finished"); }

PyObject* writer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr const char* PARAMS[] = {"locale", "opts"};
        PyObject* bound[2];
        std::optional<std::string> locale;
        PyObject* opts = nullptr;
        if (!bind_args("WorkbookWriter.__new__()", PARAMS, 0, args, kwargs, bound) ||
            !opt_str_arg("locale", bound[0], &locale) || !opt_dict_arg("opts", bound[1], &opts)) {
            return nullptr;
        }
        WriteOptions options;
        if (!write_options(opts, &options)) return nullptr;
        auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
        PyObject* self = alloc(type, 0);
        if (self == nullptr) return nullptr;
        WriterObject* w = as_writer(self);
        w->core = nullptr;
        w->borrowed = false;
        try {
            w->core = new WorkbookWriter(std::move(locale), std::move(options));
        } catch (...) {
            Py_DECREF(self);
            throw;
        }
        return self;
    });
}

void writer_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete as_writer(self)->core;
    as_writer(self)->core = nullptr;
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(self);
    Py_DECREF(reinterpret_cast<PyObject*>(type));
}

PyObject* writer_start_sheet(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr const char* PARAMS[] = {"sheet"};
        PyObject* bound[1];
        if (!bind_args("WorkbookWriter.start_sheet()", PARAMS, 1, args, kwargs, bound)) {
            return nullptr;
        }
        Borrow borrow(self);
        if (!borrow.held()) return nullptr;
        json::Value value;
        if (!to_value(bound[0], &value)) return nullptr;
        Result<Sheet> sheet = sheet_from_value(std::move(value));
        if (!sheet.ok()) return raise_core(sheet.error());
        WorkbookWriter* core = as_writer(self)->core;
        if (core == nullptr) return raise_finished();
        Status status = core->start_sheet(std::move(sheet.value()));
        if (!status.ok()) return raise_core(status.error());
        return none();
    });
}

PyObject* writer_write_row(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr const char* PARAMS[] = {"row"};
        PyObject* bound[1];
        if (!bind_args("WorkbookWriter.write_row()", PARAMS, 1, args, kwargs, bound)) {
            return nullptr;
        }
        Borrow borrow(self);
        if (!borrow.held()) return nullptr;
        json::Value value;
        if (!to_value(bound[0], &value)) return nullptr;
        Result<Row> row = row_from_value(std::move(value));
        if (!row.ok()) return raise_core(row.error());
        WorkbookWriter* core = as_writer(self)->core;
        if (core == nullptr) return raise_finished();
        Status status = core->write_row(row.value());
        if (!status.ok()) return raise_core(status.error());
        return none();
    });
}

PyObject* writer_write_rows_json(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr const char* PARAMS[] = {"rows_json"};
        PyObject* bound[1];
        Utf8 text;
        if (!bind_args("WorkbookWriter.write_rows_json()", PARAMS, 1, args, kwargs, bound) ||
            !str_arg("rows_json", bound[0], &text)) {
            return nullptr;
        }
        Borrow borrow(self);
        if (!borrow.held()) return nullptr;
        Result<std::vector<Row>> rows = rows_from_json_str(text.view());
        if (!rows.ok()) return raise_core(rows.error());
        WorkbookWriter* core = as_writer(self)->core;
        if (core == nullptr) return raise_finished();
        for (const Row& row : rows.value()) {
            Status status = core->write_row(row);
            if (!status.ok()) return raise_core(status.error());
        }
        return none();
    });
}

// row[i] as a new reference: lists and tuples by their own accessors (whose IndexError is the
// interpreter's), anything else by Python subscription with the integer.
PyObject* row_item(PyObject* row, Py_ssize_t i, PyObject* index) {
    if (PyTuple_CheckExact(row)) {
        PyObject* item = PyTuple_GetItem(row, i);
        Py_XINCREF(item);
        return item;
    }
    if (PyList_CheckExact(row)) {
        PyObject* item = PyList_GetItem(row, i);
        Py_XINCREF(item);
        return item;
    }
    return PyObject_GetItem(row, index);
}

PyObject* writer_write_table(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static constexpr const char* PARAMS[] = {"columns", "rows"};
        PyObject* bound[2];
        if (!bind_args("WorkbookWriter.write_table()", PARAMS, 2, args, kwargs, bound)) {
            return nullptr;
        }
        Borrow borrow(self);
        if (!borrow.held()) return nullptr;
        std::vector<ColKind> kinds;
        {
            Ref iter(PyObject_GetIter(bound[0]));
            if (!iter) return nullptr;
            while (Ref spec{PyIter_Next(iter.get())}) {
                kinds.emplace_back();
                if (!parse_colspec(spec.get(), &kinds.back())) return nullptr;
            }
            if (PyErr_Occurred()) return nullptr;
        }
        if (as_writer(self)->core == nullptr) return raise_finished();
        std::vector<Ref> indexes;
        indexes.reserve(kinds.size());
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            indexes.emplace_back(PyLong_FromSsize_t(static_cast<Py_ssize_t>(i)));
            if (!indexes.back()) return nullptr;
        }
        Ref iter(PyObject_GetIter(bound[1]));
        if (!iter) return nullptr;
        Row row;
        row.cells.resize(kinds.size());
        while (Ref item{PyIter_Next(iter.get())}) {
            for (std::size_t i = 0; i < kinds.size(); ++i) {
                Ref value(row_item(item.get(), static_cast<Py_ssize_t>(i), indexes[i].get()));
                if (!value) return nullptr;
                if (!cell_from_py(kinds[i], value.get(), &row.cells[i])) return nullptr;
            }
            // The caller's code may not reach the writer meanwhile (the borrow refuses it), so
            // the slot still holds the live writer.
            Status status = as_writer(self)->core->write_row(row);
            if (!status.ok()) return raise_core(status.error());
        }
        if (PyErr_Occurred()) return nullptr;
        return none();
    });
}

PyObject* writer_end_sheet(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* bound[1];
        if (!bind_args("WorkbookWriter.end_sheet()", nullptr, 0, 0, args, kwargs, bound)) {
            return nullptr;
        }
        Borrow borrow(self);
        if (!borrow.held()) return nullptr;
        WorkbookWriter* core = as_writer(self)->core;
        if (core == nullptr) return raise_finished();
        Status status = core->close_open();
        if (!status.ok()) return raise_core(status.error());
        return none();
    });
}

PyObject* writer_finish(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        PyObject* bound[1];
        if (!bind_args("WorkbookWriter.finish()", nullptr, 0, 0, args, kwargs, bound)) {
            return nullptr;
        }
        Borrow borrow(self);
        if (!borrow.held()) return nullptr;
        WorkbookWriter* core = std::exchange(as_writer(self)->core, nullptr);
        if (core == nullptr) return raise_finished();
        std::unique_ptr<WorkbookWriter> owned(core);
        Result<WriteResult> result = std::move(*owned).finish();
        owned.reset();
        if (!result.ok()) return raise_core(result.error());
        return result_to_tuple(std::move(result.value()));
    });
}

#define TESSARY_METHOD(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyMethodDef WRITER_METHODS[] = {
    {"start_sheet", TESSARY_METHOD(writer_start_sheet), METH_VARARGS | METH_KEYWORDS,
     "start_sheet($self, sheet)\n--\n\n"
     "Begin a new sheet from its metadata dict (its `rows` are ignored \u2014 stream\n"
     "them with [`Self::write_row`])."},
    {"write_row", TESSARY_METHOD(writer_write_row), METH_VARARGS | METH_KEYWORDS,
     "write_row($self, row)\n--\n\n"
     "Stream one row dict into the open sheet."},
    {"write_rows_json", TESSARY_METHOD(writer_write_rows_json), METH_VARARGS | METH_KEYWORDS,
     "write_rows_json($self, rows_json)\n--\n\n"
     "Stream a chunk of rows from a JSON array string (`json.dumps(rows)`). This is\n"
     "the throughput path for large exports: the chunk is serialised on the Python\n"
     "side and parsed once by the extension, skipping the per-row walk over Python\n"
     "objects."},
    {"write_table", TESSARY_METHOD(writer_write_table), METH_VARARGS | METH_KEYWORDS,
     "write_table($self, columns, rows)\n--\n\n"
     "Stream a typed table: `columns` is a list of per-column type specs\n"
     "(`{\"type\": \"currency\", \"currency\": {...}}`, `{\"type\": \"string\"}`, \u2026) and\n"
     "`rows` is an iterable of rows of BARE scalar values. This is the fastest\n"
     "Python path for large exports \u2014 no per-cell dicts and no JSON, so it\n"
     "sidesteps CPython's slow `json.dumps`/object building. A `None` value emits\n"
     "a blank cell."},
    {"end_sheet", TESSARY_METHOD(writer_end_sheet), METH_VARARGS | METH_KEYWORDS,
     "end_sheet($self)\n--\n\n"
     "Close the open sheet (idempotent)."},
    {"finish", TESSARY_METHOD(writer_finish), METH_VARARGS | METH_KEYWORDS,
     "finish($self)\n--\n\n"
     "Finish every sheet and ZIP the package, returning `(bytes, [lint...])`.\n"
     "The writer is consumed; calling any method afterwards raises."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot WRITER_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>(
                    "WorkbookWriter(locale=None, opts=None)\n--\n\n"
                    "A row-by-row streaming writer. Push a sheet, stream rows, end the sheet,\n"
                    "finish the package. See the core [`core::WorkbookWriter`].")},
    {Py_tp_new, reinterpret_cast<void*>(writer_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(writer_dealloc)},
    {Py_tp_methods, WRITER_METHODS},
    {0, nullptr},
};

PyType_Spec WRITER_SPEC = {
    "tessary.WorkbookWriter",
    sizeof(WriterObject),
    0,
    Py_TPFLAGS_DEFAULT,
    WRITER_SLOTS,
};

// ---- Module ----

PyMethodDef MODULE_METHODS[] = {
    {"write", TESSARY_METHOD(py_write), METH_VARARGS | METH_KEYWORDS,
     "write(workbook, opts=None)\n--\n\n"
     "One-shot: a complete workbook dict -> `.xlsx` `bytes`. `opts` is an optional\n"
     "dict `{meta: {title, author, subject, company}, locale}`."},
    {"write_full", TESSARY_METHOD(py_write_full), METH_VARARGS | METH_KEYWORDS,
     "write_full(workbook, opts=None)\n--\n\n"
     "One-shot write returning `(bytes, [{code, message}, ...])`: the `.xlsx` plus\n"
     "the non-fatal lints (clamped widths, outline levels and freezes, dropped\n"
     "duplicate merges)."},
    {"write_from_json", TESSARY_METHOD(py_write_from_json), METH_VARARGS | METH_KEYWORDS,
     "write_from_json(input, opts=None)\n--\n\n"
     "JSON in: a JSON string OR a Python value matching the workbook schema.\n"
     "Validated fail-closed. Returns the `.xlsx` `bytes`."},
    {"write_rows", TESSARY_METHOD(py_write_rows), METH_VARARGS | METH_KEYWORDS,
     "write_rows(input, opts=None)\n--\n\n"
     "Convenience fast-path: one sheet from typed columns + rows. NOT a CSV\n"
     "ingester. `input` is a dict `{sheetName?, locale?, columns?, rows}`."},
    {"create_writer", TESSARY_METHOD(py_create_writer), METH_VARARGS | METH_KEYWORDS,
     "create_writer(opts=None)\n--\n\n"
     "Create a streaming writer for large sheets (module-level convenience)."},
    {"parse", TESSARY_METHOD(py_parse), METH_VARARGS | METH_KEYWORDS, PARSE_DOC},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT,
    "_tessary",
    "The Python extension module `tessary._tessary`. Re-exported by the\n"
    "pure-Python `tessary/__init__.py` shim.",
    -1,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Adds the attributes in their documented order: the class, the functions, the exception.
PyObject* make_module() {
    Ref module(PyModule_Create(&MODULE_DEF));
    if (!module) return nullptr;
    init_bind();
    if (!init_convert()) return nullptr;
    g_writer_type = PyType_FromSpec(&WRITER_SPEC);
    if (g_writer_type == nullptr) return nullptr;
    Py_INCREF(g_writer_type);  // one reference for the module attribute, one kept here
    if (PyModule_AddObject(module.get(), "WorkbookWriter", g_writer_type) < 0) {
        Py_DECREF(g_writer_type);
        return nullptr;
    }
    Ref name(PyUnicode_FromString("tessary._tessary"));
    if (!name) return nullptr;
    for (PyMethodDef* def = MODULE_METHODS; def->ml_name != nullptr; ++def) {
        Ref fn(PyCFunction_NewEx(def, nullptr, name.get()));
        if (!fn || PyModule_AddObject(module.get(), def->ml_name, fn.get()) < 0) return nullptr;
        fn.release();  // the module holds it now
    }
    PyObject* err = make_error_type();
    if (err == nullptr) return nullptr;
    if (PyModule_AddObject(module.get(), "TessaryError", err) < 0) {
        Py_DECREF(err);
        return nullptr;
    }
    return module.release();
}

}  // namespace
}  // namespace tessary::py

PyMODINIT_FUNC PyInit__tessary(void) {
    if (tessary::py::g_initialised) {
        PyErr_SetString(PyExc_ImportError,
                        "tessary._tessary cannot be initialised twice in one process");
        return nullptr;
    }
    PyObject* module = tessary::py::guarded([] { return tessary::py::make_module(); });
    if (module != nullptr) tessary::py::g_initialised = 1;
    return module;
}
