// parse: binds parse()'s arguments, reads the package with the core's parser, picks the read-out
// and, for CSV and Markdown, the sheet, and hands the text back as a new str.
#include "parse.h"

#include <exception>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bind.h"
#include "error.h"
#include "errors.h"
#include "parse/read.h"
#include "parse/serialize.h"

namespace tessary::py {
namespace {

// The sheet a CSV or Markdown read-out prints: the first one named exactly `name`, or the first
// sheet when no name is given. NULL with TessaryError set when there is none.
const parse::ParsedSheet* parse_pick(const parse::ParsedWorkbook& book,
                                     const std::optional<std::string>& name) {
    if (name) {
        for (const parse::ParsedSheet& s : book.sheets) {
            if (s.name == *name) return &s;
        }
        std::string msg = "no sheet named ";
        quote_into(msg, *name);
        raise_schema(msg);
        return nullptr;
    }
    if (book.sheets.empty()) {
        raise_schema("workbook has no sheets");
        return nullptr;
    }
    return &book.sheets.front();
}

PyObject* run(PyObject* args, PyObject* kwargs) {
    static const char* const NAMES[] = {"data", "format", "sheet", "typed"};
    PyObject* bound[4] = {nullptr, nullptr, nullptr, nullptr};
    if (!bind_args("parse()", NAMES, 1, args, kwargs, bound)) return nullptr;
    std::string_view data;
    std::optional<std::string> format;
    std::optional<std::string> sheet;
    bool typed = false;
    if (!bytes_arg("data", bound[0], &data)) return nullptr;
    if (!opt_str_arg("format", bound[1], &format)) return nullptr;
    if (!opt_str_arg("sheet", bound[2], &sheet)) return nullptr;
    if (!bool_arg("typed", bound[3], false, &typed)) return nullptr;

    auto read = parse::parse(
        std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    if (!read.ok()) return raise_schema(parse::message(read.error()));
    const parse::ParsedWorkbook& book = read.value();

    std::string out;
    std::string_view fmt = format ? std::string_view(*format) : std::string_view("json");
    if (fmt == "json") {
        out = typed ? parse::to_json_typed(book) : parse::to_json_grid(book);
    } else if (fmt == "csv" || fmt == "md" || fmt == "markdown") {
        const parse::ParsedSheet* picked = parse_pick(book, sheet);
        if (picked == nullptr) return nullptr;
        out = fmt == "csv" ? parse::to_csv(*picked) : parse::to_markdown(*picked);
    } else {
        std::string msg = "unknown parse format ";
        quote_into(msg, fmt);
        return raise_schema(msg);
    }
    return PyUnicode_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size()));
}

}  // namespace

PyObject* py_parse(PyObject* /*self*/, PyObject* args, PyObject* kwargs) {
    try {
        return run(args, kwargs);
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

}  // namespace tessary::py
