// model: reading the workbook records from JSON text and from JSON values. The record rules are
// written once, as templates over a source: TextSource drives the text reader token by token
// straight into the records, ValueSource walks a JSON value and moves its strings out. A cell is
// buffered whole (its keys in order, values as JSON values) and its variant read by the value rules.
#include "model.h"

#include <limits>
#include <span>
#include <utility>

namespace tessary {

namespace {

using json::Kind;
using json::Number;
using json::Value;
using Names = std::span<const std::string_view>;

// Key comparison on the hot path: lengths first, then the bytes.
inline bool same(std::string_view a, std::string_view b) {
    return a.size() == b.size() && __builtin_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string field_message(std::string_view head, std::string_view name) {
    std::string msg(head);
    msg += " `";
    msg += name;
    msg += '`';
    return msg;
}

// ---- Field names and spellings, in declaration order ----

constexpr std::string_view WORKBOOK_FIELDS[] = {"schemaVersion", "locale", "sheets"};
constexpr std::string_view SHEET_FIELDS[] = {"name", "columns", "rows", "merges", "freeze", "outline"};
constexpr std::string_view COLUMN_FIELDS[] = {"key", "width", "outlineLevel", "hidden", "style"};
constexpr std::string_view ROW_FIELDS[] = {"cells", "outlineLevel", "height", "isTotal"};
constexpr std::string_view FREEZE_FIELDS[] = {"rows", "cols"};
constexpr std::string_view OUTLINE_FIELDS[] = {"columnsCollapsed"};
constexpr std::string_view STYLE_FIELDS[] = {"font", "fill", "align", "border"};
constexpr std::string_view FONT_FIELDS[] = {"bold", "italic", "size", "color", "name"};
constexpr std::string_view ALIGN_FIELDS[] = {"horizontal", "vertical", "wrap"};
constexpr std::string_view BORDER_FIELDS[] = {"top", "bottom", "left", "right"};
constexpr std::string_view EDGE_FIELDS[] = {"style", "color"};
constexpr std::string_view NUMFMT_FIELDS[] = {"decimals", "grouped", "negative", "raw"};
constexpr std::string_view CURRENCY_FIELDS[] = {"code", "locale", "decimals", "negative", "symbol"};
constexpr std::string_view DATEFMT_FIELDS[] = {"kind", "raw"};

constexpr std::string_view HALIGN_NAMES[] = {"left", "center", "right"};
constexpr std::string_view VALIGN_NAMES[] = {"top", "middle", "bottom"};
constexpr std::string_view BORDER_STYLE_NAMES[] = {"thin", "medium", "thick", "double"};
constexpr std::string_view DATE_KIND_NAMES[] = {"date", "datetime", "month-year"};
constexpr std::string_view NEGATIVE_NAMES[] = {"red", "parens", "minus", "red-parens"};
constexpr std::string_view CELL_TYPES[] = {"string", "number", "currency", "percent",
                                           "date", "boolean", "blank"};

// The fields of each cell variant, in the order of CELL_TYPES.
constexpr std::string_view STRING_CELL[] = {"value", "style"};
constexpr std::string_view NUMBER_CELL[] = {"value", "format", "style"};
constexpr std::string_view CURRENCY_CELL[] = {"value", "currency", "style"};
constexpr std::string_view PERCENT_CELL[] = {"value", "decimals", "style"};
constexpr std::string_view DATE_CELL[] = {"value", "format", "style"};
constexpr std::string_view BOOLEAN_CELL[] = {"value", "style"};
constexpr std::string_view BLANK_CELL[] = {"style"};

// ---- The value source ----

class ValueSource {
public:
    explicit ValueSource(Value* root) : cur_(root) {}

    bool fail(std::string message) {
        if (!failed_) {
            failed_ = true;
            error_ = std::move(message);
        }
        return false;
    }
    std::string take_error() { return std::move(error_); }

    bool colon() { return true; }
    bool duplicate_field(std::string_view name) { return fail(field_message("duplicate field", name)); }
    bool missing_field(std::string_view name) { return fail(field_message("missing field", name)); }
    bool unknown_field(std::string_view key, Names names) {
        return fail(json::unknown_field_message(key, names));
    }
    bool value_error(std::string message) { return fail(std::move(message)); }
    bool value_error_unplaced(std::string message) { return fail(std::move(message)); }

    int option() { return cur_->kind == Kind::Null ? 0 : 1; }

    bool read_string(std::string& out) {
        if (cur_->kind != Kind::String) return fail(json::invalid_type_message(*cur_, "a string"));
        out = std::move(cur_->s);
        return true;
    }
    bool number(Number& out, std::string_view expecting) {
        switch (cur_->kind) {
            case Kind::UInt: out.kind = Kind::UInt; out.u = cur_->u; return true;
            case Kind::Int: out.kind = Kind::Int; out.i = cur_->i; return true;
            case Kind::Double: out.kind = Kind::Double; out.d = cur_->d; return true;
            default: return fail(json::invalid_type_message(*cur_, expecting));
        }
    }
    bool read_bool(bool& out) {
        if (cur_->kind != Kind::Bool) return fail(json::invalid_type_message(*cur_, "a boolean"));
        out = cur_->b;
        return true;
    }
    bool read_enum(Names names, size_t& index) {
        auto variant = [&](std::string_view text) {
            for (size_t k = 0; k < names.size(); ++k) {
                if (names[k] == text) {
                    index = k;
                    return true;
                }
            }
            return fail(json::unknown_variant_message(text, names));
        };
        if (cur_->kind == Kind::String) return variant(cur_->s);
        if (cur_->kind == Kind::Object) {
            // The one-key form {"left": null}.
            if (cur_->obj.size() != 1) return fail("invalid value: map, expected map with a single key");
            if (!variant(cur_->obj[0].first)) return false;
            const Value& unit = cur_->obj[0].second;
            if (unit.kind != Kind::Null) return fail(json::invalid_type_message(unit, "unit"));
            return true;
        }
        return fail(json::invalid_type_message(*cur_, "string or map"));
    }

    template <class F>
    bool read_seq(std::string_view expecting, F&& element) {
        if (cur_->kind != Kind::Array) return fail(json::invalid_type_message(*cur_, expecting));
        Value* list = cur_;
        for (Value& item : list->arr) {
            cur_ = &item;
            if (!element()) return false;
        }
        return true;
    }

    // Where a positional record stands: its array and the next element.
    struct Cursor {
        Value* list;
        size_t next;
    };
    int next_positional(Cursor& at) {
        if (at.next == at.list->arr.size()) return 0;
        cur_ = &at.list->arr[at.next++];
        return 1;
    }

    // A record: an object read key by key, or an array read by `positional`.
    template <class F, class G, class P>
    bool read_struct(std::string_view expecting, F&& on_key, G&& on_end, P&& positional) {
        if (cur_->kind == Kind::Array) {
            Cursor at{cur_, 0};
            if (!positional(at)) return false;
            if (at.next != at.list->arr.size()) {
                std::string msg = "invalid length ";
                msg += std::to_string(at.list->arr.size());
                msg += ", expected fewer elements in array";
                return fail(std::move(msg));
            }
            return true;
        }
        if (cur_->kind != Kind::Object) return fail(json::invalid_type_message(*cur_, expecting));
        Value* record = cur_;
        for (auto& entry : record->obj) {
            cur_ = &entry.second;
            if (!on_key(std::string_view(entry.first))) return false;
        }
        return on_end();
    }

    bool read_cell(Cell& cell);

    // The buffered form of a cell: its keys and values in order ("type" among them or not).
    bool read_cell_variant(size_t tag, std::span<std::pair<std::string, Value>> fields, Cell& cell);

private:
    Value* cur_;
    bool failed_ = false;
    std::string error_;
};

// ---- The text source ----

class TextSource {
public:
    explicit TextSource(json::Reader& reader) : r_(reader) {}

    bool colon() { return r_.colon(); }
    bool duplicate_field(std::string_view name) { return r_.custom(field_message("duplicate field", name)); }
    bool missing_field(std::string_view name) { return r_.custom(field_message("missing field", name)); }
    bool unknown_field(std::string_view key, Names names) {
        return r_.custom(json::unknown_field_message(key, names));
    }
    bool value_error(std::string message) {
        r_.custom(std::move(message));
        r_.fix_position();
        return false;
    }
    // An error placed by the enclosing list's end.
    bool value_error_unplaced(std::string message) { return r_.custom(std::move(message)); }

    int option() { return r_.read_option(); }

    bool read_string(std::string& out) {
        std::string_view text;
        if (!r_.read_str(text, "a string")) return false;
        out.assign(text);
        return true;
    }
    bool number(Number& out, std::string_view expecting) { return r_.read_number(out, expecting); }
    bool read_bool(bool& out) { return r_.read_bool(out, "a boolean"); }
    bool read_enum(Names names, size_t& index) { return r_.read_enum(names, index); }

    template <class F>
    bool read_seq(std::string_view expecting, F&& element) {
        if (!r_.begin_seq(expecting)) return false;
        bool first = true;
        bool ok = true;
        for (;;) {
            const int more = r_.next_elem(first);
            if (more <= 0) {
                ok = more == 0;
                break;
            }
            if (!element()) {
                ok = false;
                break;
            }
        }
        return r_.end_seq(ok);
    }

    struct Cursor {
        bool first;
    };
    int next_positional(Cursor& at) { return r_.next_elem(at.first); }

    template <class F, class G, class P>
    bool read_struct(std::string_view expecting, F&& on_key, G&& on_end, P&& positional) {
        if (r_.skip_blanks() == '[') {
            if (!r_.begin_seq(expecting)) return false;
            Cursor at{true};
            // Elements beyond the record's fields are left for the closing bracket to report.
            return r_.end_seq(positional(at));
        }
        if (!r_.begin_map(expecting)) return false;
        bool first = true;
        bool ok = true;
        for (;;) {
            std::string_view key;
            const int more = r_.next_key(first, key);
            if (more <= 0) {
                ok = more == 0;
                break;
            }
            if (!on_key(key)) {
                ok = false;
                break;
            }
        }
        if (ok) ok = on_end();
        return r_.end_map(ok);
    }

    bool read_cell(Cell& cell);

private:
    // The next entry of the cell buffer, its value emptied but its storage kept.
    Value& buffer_slot(std::string_view key) {
        if (used_ == buffer_.size()) buffer_.emplace_back();
        auto& slot = buffer_[used_++];
        slot.first.assign(key);
        Value& v = slot.second;
        v.kind = Kind::Null;
        v.s.clear();
        v.arr.clear();
        v.obj.clear();
        return v;
    }

    json::Reader& r_;
    json::Object buffer_;  // the entries of the cell being read, reused from cell to cell
    size_t used_ = 0;
};

// ---- Field kinds ----

template <class S>
bool read_f64(S& s, double& out) {
    Number n;
    if (!s.number(n, "f64")) return false;
    out = n.kind == Kind::UInt ? static_cast<double>(n.u)
          : n.kind == Kind::Int ? static_cast<double>(n.i)
                                : n.d;
    return true;
}

std::string integer_message(std::string_view head, const Number& n, std::string_view expecting) {
    Value v;
    v.kind = n.kind;
    v.u = n.u;
    v.i = n.i;
    v.d = n.d;
    std::string msg(head);
    json::push_unexpected(msg, v);
    msg += ", expected ";
    msg += expecting;
    return msg;
}

template <class S>
bool read_u32(S& s, uint32_t& out) {
    Number n;
    if (!s.number(n, "u32")) return false;
    if (n.kind == Kind::Double) return s.value_error(integer_message("invalid type: ", n, "u32"));
    if (n.kind == Kind::Int || n.u > std::numeric_limits<uint32_t>::max())
        return s.value_error(integer_message("invalid value: ", n, "u32"));
    out = static_cast<uint32_t>(n.u);
    return true;
}

template <class S>
bool read_i64(S& s, int64_t& out) {
    Number n;
    if (!s.number(n, "i64")) return false;
    if (n.kind == Kind::Double) return s.value_error(integer_message("invalid type: ", n, "i64"));
    if (n.kind == Kind::UInt) {
        if (n.u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
            return s.value_error(integer_message("invalid value: ", n, "i64"));
        out = static_cast<int64_t>(n.u);
        return true;
    }
    out = n.i;
    return true;
}

template <class S, class E, size_t N>
bool read_enum_as(S& s, const std::string_view (&names)[N], E& out) {
    size_t index = 0;
    if (!s.read_enum(Names(names), index)) return false;
    out = static_cast<E>(index);
    return true;
}

// An optional field: null or absent is not given; anything else is read by `read`.
template <class S, class T, class F>
bool opt(S& s, std::optional<T>& out, F&& read) {
    const int present = s.option();
    if (present < 0) return false;
    if (present == 0) {
        out.reset();
        return true;
    }
    return read(out.emplace());
}

template <class S>
bool opt_string(S& s, std::optional<std::string>& out) {
    return opt(s, out, [&](std::string& v) { return s.read_string(v); });
}
template <class S>
bool opt_bool(S& s, std::optional<bool>& out) {
    return opt(s, out, [&](bool& v) { return s.read_bool(v); });
}
template <class S>
bool opt_f64(S& s, std::optional<double>& out) {
    return opt(s, out, [&](double& v) { return read_f64(s, v); });
}
template <class S>
bool opt_u32(S& s, std::optional<uint32_t>& out) {
    return opt(s, out, [&](uint32_t& v) { return read_u32(s, v); });
}
template <class S, class E, size_t N>
bool opt_enum(S& s, const std::string_view (&names)[N], std::optional<E>& out) {
    return opt(s, out, [&](E& v) { return read_enum_as(s, names, v); });
}

// A record: every key must be one of `names`, each at most once; `read_field` reads the value
// of field k; `on_end` checks the required fields after the closing brace. The positional form
// is an array of the field values in declaration order; a missing element is an error except for
// the fields in `defaulted` (bit k for field k), which keep their default.
template <class S, size_t N, class F, class G>
bool record(S& s, std::string_view expecting, const std::string_view (&names)[N], bool (&seen)[N],
            F&& read_field, G&& on_end, unsigned defaulted = 0) {
    return s.read_struct(
        expecting,
        [&](std::string_view key) {
            size_t k = 0;
            while (k < N && !same(names[k], key)) ++k;
            if (k == N) return s.unknown_field(key, Names(names));
            if (seen[k]) return s.duplicate_field(names[k]);
            seen[k] = true;
            return s.colon() && read_field(k);
        },
        on_end,
        [&](typename S::Cursor& at) {
            for (size_t k = 0; k < N; ++k) {
                const int more = s.next_positional(at);
                if (more < 0) return false;
                if (more == 0) {
                    if (defaulted & (1u << k)) continue;
                    std::string msg = "invalid length ";
                    msg += std::to_string(k);
                    msg += ", expected ";
                    msg += expecting;
                    msg += " with ";
                    msg += std::to_string(N);
                    msg += N == 1 ? " element" : " elements";
                    return s.value_error_unplaced(std::move(msg));
                }
                seen[k] = true;
                if (!read_field(k)) return false;
            }
            return true;
        });
}

template <class S, size_t N, class F>
bool record(S& s, std::string_view expecting, const std::string_view (&names)[N], bool (&seen)[N],
            F&& read_field) {
    return record(s, expecting, names, seen, read_field, [] { return true; });
}

// ---- Records ----

template <class S>
bool read_font(S& s, Font& f) {
    bool seen[5] = {};
    return record(s, "struct Font", FONT_FIELDS, seen, [&](size_t k) {
        switch (k) {
            case 0: return opt_bool(s, f.bold);
            case 1: return opt_bool(s, f.italic);
            case 2: return opt_f64(s, f.size);
            case 3: return opt_string(s, f.color);
            default: return opt_string(s, f.name);
        }
    });
}

template <class S>
bool read_align(S& s, Align& a) {
    bool seen[3] = {};
    return record(s, "struct Align", ALIGN_FIELDS, seen, [&](size_t k) {
        switch (k) {
            case 0: return opt_enum(s, HALIGN_NAMES, a.horizontal);
            case 1: return opt_enum(s, VALIGN_NAMES, a.vertical);
            default: return opt_bool(s, a.wrap);
        }
    });
}

template <class S>
bool read_edge(S& s, BorderEdge& e) {
    bool seen[2] = {};
    return record(s, "struct BorderEdge", EDGE_FIELDS, seen, [&](size_t k) {
        if (k == 0) return opt_enum(s, BORDER_STYLE_NAMES, e.style);
        return opt_string(s, e.color);
    });
}

template <class S>
bool read_border(S& s, Border& b) {
    bool seen[4] = {};
    return record(s, "struct Border", BORDER_FIELDS, seen, [&](size_t k) {
        std::optional<BorderEdge>& edge = k == 0 ? b.top : k == 1 ? b.bottom : k == 2 ? b.left : b.right;
        return opt(s, edge, [&](BorderEdge& v) { return read_edge(s, v); });
    });
}

template <class S>
bool read_style(S& s, CellStyle& st) {
    bool seen[4] = {};
    return record(s, "struct CellStyle", STYLE_FIELDS, seen, [&](size_t k) {
        switch (k) {
            case 0: return opt(s, st.font, [&](Font& v) { return read_font(s, v); });
            case 1: return opt_string(s, st.fill);
            case 2: return opt(s, st.align, [&](Align& v) { return read_align(s, v); });
            default: return opt(s, st.border, [&](Border& v) { return read_border(s, v); });
        }
    });
}

template <class S>
bool opt_style(S& s, std::optional<CellStyle>& out) {
    return opt(s, out, [&](CellStyle& v) { return read_style(s, v); });
}

template <class S>
bool opt_style(S& s, Boxed<CellStyle>& out) {
    std::optional<CellStyle> style;
    if (!opt_style(s, style)) return false;
    out = std::move(style);
    return true;
}

template <class S>
bool read_number_format(S& s, NumberFormat& f) {
    bool seen[4] = {};
    return record(s, "struct NumberFormat", NUMFMT_FIELDS, seen, [&](size_t k) {
        switch (k) {
            case 0: return opt_u32(s, f.decimals);
            case 1: return opt_bool(s, f.grouped);
            case 2: return opt_enum(s, NEGATIVE_NAMES, f.negative);
            default: return opt_string(s, f.raw);
        }
    });
}

template <class S>
bool read_currency_format(S& s, CurrencyFormat& f) {
    bool seen[5] = {};
    return record(
        s, "struct CurrencyFormat", CURRENCY_FIELDS, seen,
        [&](size_t k) {
            switch (k) {
                case 0: return s.read_string(f.code);
                case 1: return opt_string(s, f.locale);
                case 2: return opt_u32(s, f.decimals);
                case 3: return opt_enum(s, NEGATIVE_NAMES, f.negative);
                default: return opt_bool(s, f.symbol);
            }
        },
        [&] { return seen[0] || s.missing_field("code"); });
}

template <class S>
bool read_date_format(S& s, DateFormat& f) {
    bool seen[2] = {};
    return record(s, "struct DateFormat", DATEFMT_FIELDS, seen, [&](size_t k) {
        if (k == 0) return opt_enum(s, DATE_KIND_NAMES, f.kind);
        return opt_string(s, f.raw);
    });
}

template <class S>
bool read_freeze(S& s, Freeze& f) {
    bool seen[2] = {};
    return record(s, "struct Freeze", FREEZE_FIELDS, seen,
                  [&](size_t k) { return opt_u32(s, k == 0 ? f.rows : f.cols); });
}

template <class S>
bool read_outline(S& s, Outline& o) {
    bool seen[1] = {};
    return record(s, "struct Outline", OUTLINE_FIELDS, seen,
                  [&](size_t) { return opt_bool(s, o.columns_collapsed); });
}

template <class S>
bool read_column(S& s, Column& c) {
    bool seen[5] = {};
    return record(s, "struct Column", COLUMN_FIELDS, seen, [&](size_t k) {
        switch (k) {
            case 0: return opt_string(s, c.key);
            case 1: return opt_f64(s, c.width);
            case 2: return opt_u32(s, c.outline_level);
            case 3: return opt_bool(s, c.hidden);
            default: return opt_style(s, c.style);
        }
    });
}

// Rows of a sheet are usually equally wide: the cell list starts with the previous row's width.
template <class S>
bool read_row(S& s, Row& row, size_t width_hint = 0) {
    bool seen[4] = {};
    return record(
        s, "struct Row", ROW_FIELDS, seen,
        [&](size_t k) {
            switch (k) {
                case 0:
                    row.cells.reserve(width_hint);
                    return s.read_seq("a sequence", [&] {
                        row.cells.emplace_back();
                        return s.read_cell(row.cells.back());
                    });
                case 1: return opt_u32(s, row.outline_level);
                case 2: return opt_f64(s, row.height);
                default: return opt_bool(s, row.is_total);
            }
        },
        [&] { return seen[0] || s.missing_field("cells"); });
}

template <class S>
bool read_sheet(S& s, Sheet& sheet) {
    bool seen[6] = {};
    return record(
        s, "struct Sheet", SHEET_FIELDS, seen,
        [&](size_t k) {
            switch (k) {
                case 0: return s.read_string(sheet.name);
                case 1:
                    return s.read_seq("a sequence", [&] {
                        sheet.columns.emplace_back();
                        return read_column(s, sheet.columns.back());
                    });
                case 2:
                    return s.read_seq("a sequence", [&] {
                        const size_t hint = sheet.rows.empty() ? 0 : sheet.rows.back().cells.size();
                        sheet.rows.emplace_back();
                        return read_row(s, sheet.rows.back(), hint);
                    });
                case 3:
                    return s.read_seq("a sequence", [&] {
                        sheet.merges.emplace_back();
                        return s.read_string(sheet.merges.back());
                    });
                case 4: return opt(s, sheet.freeze, [&](Freeze& v) { return read_freeze(s, v); });
                default: return opt(s, sheet.outline, [&](Outline& v) { return read_outline(s, v); });
            }
        },
        [&] { return seen[0] || s.missing_field("name"); }, 0b1110);
}

template <class S>
bool read_workbook(S& s, Workbook& book) {
    bool seen[3] = {};
    return record(
        s, "struct Workbook", WORKBOOK_FIELDS, seen,
        [&](size_t k) {
            switch (k) {
                case 0: return opt_string(s, book.schema_version);
                case 1: return opt_string(s, book.locale);
                default:
                    return s.read_seq("a sequence", [&] {
                        book.sheets.emplace_back();
                        return read_sheet(s, book.sheets.back());
                    });
            }
        },
        [&] { return seen[2] || s.missing_field("sheets"); });
}

// ---- Cells ----

// The fields of a cell variant from its buffered form: unknown keys (the tag among them) are
// skipped, a known key twice is a duplicate, then the required value.
template <size_t N, class F>
bool variant_fields(ValueSource& s, std::span<std::pair<std::string, Value>> fields, Value*& cur,
                    const std::string_view (&names)[N], bool value_required, F&& read_field) {
    bool seen[N] = {};
    for (auto& entry : fields) {
        size_t k = 0;
        while (k < N && !same(names[k], entry.first)) ++k;
        if (k == N) continue;
        if (seen[k]) return s.duplicate_field(names[k]);
        seen[k] = true;
        cur = &entry.second;
        if (!read_field(k)) return false;
    }
    if (value_required && !seen[0]) return s.missing_field("value");
    return true;
}

bool ValueSource::read_cell_variant(size_t tag, std::span<std::pair<std::string, Value>> fields,
                                    Cell& cell) {
    switch (tag) {
        case 0: {
            StringCell& c = cell.emplace<StringCell>();
            return variant_fields(*this, fields, cur_, STRING_CELL, true, [&](size_t k) {
                return k == 0 ? read_string(c.value) : opt_style(*this, c.style);
            });
        }
        case 1: {
            NumberCell& c = cell.emplace<NumberCell>();
            return variant_fields(*this, fields, cur_, NUMBER_CELL, true, [&](size_t k) {
                if (k == 0) return read_f64(*this, c.value);
                if (k == 1)
                    return opt(*this, c.format, [&](NumberFormat& v) { return read_number_format(*this, v); });
                return opt_style(*this, c.style);
            });
        }
        case 2: {
            CurrencyCell& c = cell.emplace<CurrencyCell>();
            bool have_currency = false;
            if (!variant_fields(*this, fields, cur_, CURRENCY_CELL, true, [&](size_t k) {
                    if (k == 0) return read_i64(*this, c.value);
                    if (k == 1) {
                        have_currency = true;
                        return read_currency_format(*this, c.currency);
                    }
                    return opt_style(*this, c.style);
                }))
                return false;
            return have_currency || missing_field("currency");
        }
        case 3: {
            PercentCell& c = cell.emplace<PercentCell>();
            return variant_fields(*this, fields, cur_, PERCENT_CELL, true, [&](size_t k) {
                if (k == 0) return read_f64(*this, c.value);
                if (k == 1) return opt_u32(*this, c.decimals);
                return opt_style(*this, c.style);
            });
        }
        case 4: {
            DateCell& c = cell.emplace<DateCell>();
            return variant_fields(*this, fields, cur_, DATE_CELL, true, [&](size_t k) {
                if (k == 0) {
                    // DateValue is untagged: a number first, then a string.
                    switch (cur_->kind) {
                        case Kind::UInt: c.value = static_cast<double>(cur_->u); return true;
                        case Kind::Int: c.value = static_cast<double>(cur_->i); return true;
                        case Kind::Double: c.value = cur_->d; return true;
                        case Kind::String: c.value = std::move(cur_->s); return true;
                        default: return fail("data did not match any variant of untagged enum DateValue");
                    }
                }
                if (k == 1)
                    return opt(*this, c.format, [&](DateFormat& v) { return read_date_format(*this, v); });
                return opt_style(*this, c.style);
            });
        }
        case 5: {
            BooleanCell& c = cell.emplace<BooleanCell>();
            return variant_fields(*this, fields, cur_, BOOLEAN_CELL, true, [&](size_t k) {
                return k == 0 ? read_bool(c.value) : opt_style(*this, c.style);
            });
        }
        default: {
            BlankCell& c = cell.emplace<BlankCell>();
            return variant_fields(*this, fields, cur_, BLANK_CELL, false,
                                  [&](size_t) { return opt_style(*this, c.style); });
        }
    }
}

bool cell_tag(std::string_view text, size_t& tag) {
    for (size_t k = 0; k < std::size(CELL_TYPES); ++k) {
        if (same(CELL_TYPES[k], text)) {
            tag = k;
            return true;
        }
    }
    return false;
}

bool ValueSource::read_cell(Cell& cell) {
    if (cur_->kind != Kind::Object)
        return fail(json::invalid_type_message(*cur_, "internally tagged enum Cell"));
    json::Object& fields = cur_->obj;
    bool have_tag = false;
    size_t tag = 0;
    for (const auto& entry : fields) {
        if (!same(entry.first, "type")) continue;
        if (have_tag) return duplicate_field("type");
        if (entry.second.kind != Kind::String)
            return fail(json::invalid_type_message(entry.second, "variant identifier"));
        if (!cell_tag(entry.second.s, tag))
            return fail(json::unknown_variant_message(entry.second.s, Names(CELL_TYPES)));
        have_tag = true;
    }
    if (!have_tag) return missing_field("type");
    return read_cell_variant(tag, fields, cell);
}

bool TextSource::read_cell(Cell& cell) {
    const int c = r_.skip_blanks();
    if (c < 0) return r_.peek_error("EOF while parsing a value");
    if (c != '{') return r_.invalid_type("internally tagged enum Cell");
    if (!r_.begin_map("internally tagged enum Cell")) return false;
    used_ = 0;
    bool have_tag = false;
    size_t tag = 0;
    bool first = true;
    bool ok = true;
    for (;;) {
        std::string_view key;
        const int more = r_.next_key(first, key);
        if (more <= 0) {
            ok = more == 0;
            break;
        }
        if (same(key, "type")) {
            if (have_tag) {
                ok = r_.custom(field_message("duplicate field", "type"));
                break;
            }
            std::string_view text;
            if (!r_.colon() || !r_.read_str(text, "variant identifier")) {
                ok = false;
                break;
            }
            if (!cell_tag(text, tag)) {
                r_.custom(json::unknown_variant_message(text, Names(CELL_TYPES)));
                r_.fix_position();
                ok = false;
                break;
            }
            have_tag = true;
            continue;
        }
        Value& slot = buffer_slot(key);
        if (!r_.colon() || !r_.read_any(slot)) {
            ok = false;
            break;
        }
    }
    if (ok && !have_tag) ok = r_.custom(field_message("missing field", "type"));
    if (!r_.end_map(ok)) return false;
    // The variant is read from the buffered form by the value rules; its errors take the
    // position of the enclosing list.
    ValueSource values(nullptr);
    if (!values.read_cell_variant(tag, std::span(buffer_.data(), used_), cell))
        return r_.custom(values.take_error());
    return true;
}

template <class T, class F>
Result<T> from_value(Value&& value, F&& read) {
    ValueSource s(&value);
    T out;
    if (!read(s, out)) return TessaryError{ErrorCode::SchemaViolation, s.take_error()};
    return out;
}

}  // namespace

Result<Workbook> from_json_str(std::string_view text) {
    json::Reader reader(text);
    TextSource s(reader);
    Workbook book;
    if (!read_workbook(s, book) || !reader.end()) return reader.take_error(false);
    return book;
}

Result<std::vector<Row>> rows_from_json_str(std::string_view text) {
    json::Reader reader(text);
    TextSource s(reader);
    std::vector<Row> rows;
    const bool ok = s.read_seq("a sequence", [&] {
        const size_t hint = rows.empty() ? 0 : rows.back().cells.size();
        rows.emplace_back();
        return read_row(s, rows.back(), hint);
    });
    if (!ok || !reader.end()) return reader.take_error(true);
    return rows;
}

Result<Workbook> from_json_value(json::Value&& value) {
    return from_value<Workbook>(std::move(value), [](ValueSource& s, Workbook& b) { return read_workbook(s, b); });
}

Result<Sheet> sheet_from_value(json::Value&& value) {
    return from_value<Sheet>(std::move(value), [](ValueSource& s, Sheet& v) { return read_sheet(s, v); });
}

Result<Row> row_from_value(json::Value&& value) {
    return from_value<Row>(std::move(value), [](ValueSource& s, Row& v) { return read_row(s, v); });
}

Result<Column> column_from_value(json::Value&& value) {
    return from_value<Column>(std::move(value), [](ValueSource& s, Column& v) { return read_column(s, v); });
}

Result<CellStyle> cell_style_from_value(json::Value&& value) {
    return from_value<CellStyle>(std::move(value), [](ValueSource& s, CellStyle& v) { return read_style(s, v); });
}

Result<CurrencyFormat> currency_format_from_value(json::Value&& value) {
    return from_value<CurrencyFormat>(std::move(value),
                                      [](ValueSource& s, CurrencyFormat& v) { return read_currency_format(s, v); });
}

}  // namespace tessary
