// serialize: grid JSON, typed JSON, CSV and Markdown printed from the parsed cells. Numbers use the
// shortest digits that read back to the same binary64; the two JSON forms and the two table forms
// differ only in how those digits are laid out.
#include "parse/serialize.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "json.h"

namespace tessary::parse {

namespace {

// The shortest round-trip digits of a finite, non-zero |v| and the decimal exponent of the first
// digit: v = d.ddd x 10^exp.
struct Digits {
    char buf[32];
    int len = 0;
    int exp = 0;
};

void shortest_digits(double v, Digits& d) {
    char tmp[40];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, std::fabs(v), std::chars_format::scientific);
    const char* p = tmp;
    while (p < r.ptr && *p != 'e') {
        if (*p != '.') d.buf[d.len++] = *p;
        ++p;
    }
    int e = 0;
    std::from_chars(p + 1 + (p[1] == '+'), r.ptr, e);
    d.exp = e;
}

// Writes the digits positionally; `int_suffix` adds ".0" to an integral value.
void push_positional(std::string& out, const Digits& d, bool int_suffix) {
    if (d.exp >= 0) {
        int whole = d.exp + 1;
        if (d.len <= whole) {
            out.append(d.buf, static_cast<std::size_t>(d.len));
            out.append(static_cast<std::size_t>(whole - d.len), '0');
            if (int_suffix) out += ".0";
        } else {
            out.append(d.buf, static_cast<std::size_t>(whole));
            out += '.';
            out.append(d.buf + whole, static_cast<std::size_t>(d.len - whole));
        }
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-d.exp - 1), '0');
        out.append(d.buf, static_cast<std::size_t>(d.len));
    }
}

void push_csv_field(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\n\r") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    std::size_t from = 0;
    for (std::size_t at = text.find('"'); at != std::string_view::npos; at = text.find('"', at + 1)) {
        out.append(text.data() + from, at + 1 - from);
        out += '"';
        from = at + 1;
    }
    out.append(text.data() + from, text.size() - from);
    out += '"';
}

// The CSV and Markdown text of a cell.
void push_cell_text(std::string& out, const ParsedSheet& sheet, const CellValue& c, bool csv) {
    switch (c.kind) {
        case CellKind::Empty:
            break;
        case CellKind::Str:
        case CellKind::DateText:
            if (csv) {
                push_csv_field(out, sheet.text(c));
            } else {
                for (char ch : sheet.text(c)) {
                    if (ch == '|') out += "\\|";
                    else if (ch == '\n') out += ' ';
                    else out += ch;
                }
            }
            break;
        case CellKind::Float:
            push_plain_number(out, c.number);
            break;
        case CellKind::Bool:
            out += c.flag ? "TRUE" : "FALSE";
            break;
    }
}

// A rough size of the JSON text, so that large workbooks grow the buffer only a few times.
std::size_t json_estimate(const ParsedWorkbook& book, std::size_t per_cell) {
    std::size_t n = 64;
    for (const ParsedSheet& s : book.sheets) {
        n += s.name.size() + 32 + s.row_count() * 16;
        if (s.row_count() != 0) {
            std::span<const CellValue> last = s.row(s.row_count() - 1);
            n += static_cast<std::size_t>(last.data() + last.size() - s.row(0).data()) * per_cell;
        }
    }
    return n;
}

void push_sheet_head(std::string& out, const ParsedSheet& sheet) {
    out += "{\"name\":";
    json::push_string(out, sheet.name);
    out += ",\"rows\":[";
}

// Integral values below 1e15 in magnitude: their decimal integer text, which is also their shortest
// round-trip digits. False for any other value.
bool push_small_integer(std::string& out, double v) {
    if (!(v > -1e15 && v < 1e15) || v != static_cast<double>(static_cast<int64_t>(v))) return false;
    char tmp[24];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, static_cast<int64_t>(v));
    out.append(tmp, r.ptr);
    return true;
}

}  // namespace

void push_plain_number(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
        return;
    }
    if (std::signbit(v)) out += '-';
    if (std::isinf(v)) {
        out += "inf";
        return;
    }
    if (v == 0) {
        out += '0';
        return;
    }
    if (push_small_integer(out, std::fabs(v))) return;
    Digits d;
    shortest_digits(v, d);
    push_positional(out, d, false);
}

void push_json_number(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    if (std::signbit(v)) out += '-';
    if (v == 0) {
        out += "0.0";
        return;
    }
    if (push_small_integer(out, std::fabs(v))) {
        out += ".0";
        return;
    }
    Digits d;
    shortest_digits(v, d);
    if (d.exp >= -5 && d.exp <= 15) {
        push_positional(out, d, true);
        return;
    }
    out += d.buf[0];
    if (d.len > 1) {
        out += '.';
        out.append(d.buf + 1, static_cast<std::size_t>(d.len - 1));
    }
    out += d.exp < 0 ? "e-" : "e+";
    char tmp[8];
    auto r = std::to_chars(tmp, tmp + sizeof tmp, d.exp < 0 ? -d.exp : d.exp);
    out.append(tmp, r.ptr);
}

std::string to_json_grid(const ParsedWorkbook& book) {
    std::string out;
    out.reserve(json_estimate(book, 12));
    out += "{\"sheets\":[";
    bool first_sheet = true;
    for (const ParsedSheet& sheet : book.sheets) {
        if (!first_sheet) out += ',';
        first_sheet = false;
        push_sheet_head(out, sheet);
        for (std::size_t r = 0; r < sheet.row_count(); ++r) {
            if (r != 0) out += ',';
            out += '[';
            bool first = true;
            for (const CellValue& c : sheet.row(r)) {
                if (!first) out += ',';
                first = false;
                switch (c.kind) {
                    case CellKind::Empty: out += "null"; break;
                    case CellKind::Str:
                    case CellKind::DateText: json::push_string(out, sheet.text(c)); break;
                    case CellKind::Float: push_json_number(out, c.number); break;
                    case CellKind::Bool: out += c.flag ? "true" : "false"; break;
                }
            }
            out += ']';
        }
        out += "]}";
    }
    out += "]}";
    return out;
}

std::string to_json_typed(const ParsedWorkbook& book) {
    std::string out;
    out.reserve(json_estimate(book, 36));
    out += "{\"schemaVersion\":\"1.0\",\"sheets\":[";
    bool first_sheet = true;
    for (const ParsedSheet& sheet : book.sheets) {
        if (!first_sheet) out += ',';
        first_sheet = false;
        push_sheet_head(out, sheet);
        for (std::size_t r = 0; r < sheet.row_count(); ++r) {
            if (r != 0) out += ',';
            out += "{\"cells\":[";
            bool first = true;
            for (const CellValue& c : sheet.row(r)) {
                if (!first) out += ',';
                first = false;
                switch (c.kind) {
                    case CellKind::Empty:
                        out += "{\"type\":\"blank\"}";
                        continue;
                    case CellKind::Str:
                        out += "{\"type\":\"string\",\"value\":";
                        json::push_string(out, sheet.text(c));
                        break;
                    case CellKind::DateText:
                        out += "{\"type\":\"date\",\"value\":";
                        json::push_string(out, sheet.text(c));
                        break;
                    case CellKind::Float:
                        out += "{\"type\":\"number\",\"value\":";
                        push_json_number(out, c.number);
                        break;
                    case CellKind::Bool:
                        out += "{\"type\":\"boolean\",\"value\":";
                        out += c.flag ? "true" : "false";
                        break;
                }
                out += '}';
            }
            out += "]}";
        }
        out += "]}";
    }
    out += "]}";
    return out;
}

std::string to_csv(const ParsedSheet& sheet) {
    std::string out;
    for (std::size_t r = 0; r < sheet.row_count(); ++r) {
        bool first = true;
        for (const CellValue& c : sheet.row(r)) {
            if (!first) out += ',';
            first = false;
            push_cell_text(out, sheet, c, true);
        }
        out += '\n';
    }
    return out;
}

void md_row(std::string& out, const ParsedSheet& sheet, std::span<const CellValue> row,
            std::size_t width) {
    out += '|';
    for (std::size_t i = 0; i < width; ++i) {
        out += ' ';
        if (i < row.size()) push_cell_text(out, sheet, row[i], false);
        out += " |";
    }
    out += '\n';
}

std::string to_markdown(const ParsedSheet& sheet) {
    std::string out;
    if (sheet.row_count() == 0) return out;
    std::size_t width = 0;
    for (std::size_t r = 0; r < sheet.row_count(); ++r) width = std::max(width, sheet.row(r).size());
    md_row(out, sheet, sheet.row(0), width);
    out += '|';
    for (std::size_t i = 0; i < width; ++i) out += " --- |";
    out += '\n';
    for (std::size_t r = 1; r < sheet.row_count(); ++r) md_row(out, sheet, sheet.row(r), width);
    return out;
}

}  // namespace tessary::parse
