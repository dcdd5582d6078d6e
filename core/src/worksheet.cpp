// worksheet: number text, column letters, A1 references, the worksheet frame and the row renderer.
// Text goes straight into the caller's buffers through small stack arrays; the only heap work per
// cell is growing the sheet buffer, except for cells with a style of their own.
#include "worksheet.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_set>

#include "numfmt.h"
#include "style.h"
#include "xml.h"

namespace tessary {

namespace {

constexpr std::string_view XML_DECLARATION =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view NS_MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

constexpr uint32_t MAX_FREEZE = 16384;
constexpr double MAX_COLUMN_WIDTH = 255;
constexpr uint32_t MAX_OUTLINE_LEVEL = 7;

// Largest magnitude written through the integer fast path.
constexpr double INTEGRAL_LIMIT = 9e15;
// Below this magnitude, a decimal m / 10^k with m integral holds at most 15 significant digits.
constexpr double SHORT_DECIMAL_LIMIT = 1e15;
constexpr int MAX_SHORT_FRACTION = 9;
constexpr double POW10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// Longest number text: "-0." then 323 zeros and 17 digits, or 309 integer digits.
constexpr size_t NUM_CHARS = 352;

char* uint_chars(char* p, uint64_t value) {
    return std::to_chars(p, p + 20, value).ptr;
}

// Writes the digits of `m` (no sign) with a decimal point `k` digits from the right.
char* fixed_point_chars(char* p, uint64_t m, int k) {
    char digits[20];
    char* end = std::to_chars(digits, digits + 20, m).ptr;
    int n = static_cast<int>(end - digits);
    if (n <= k) {
        *p++ = '0';
        *p++ = '.';
        for (int i = n; i < k; ++i) *p++ = '0';
        std::memcpy(p, digits, n);
        return p + n;
    }
    std::memcpy(p, digits, n - k);
    p += n - k;
    *p++ = '.';
    std::memcpy(p, digits + n - k, k);
    return p + k;
}

// Shortest round-trip digits laid out positionally. The digits come from the scientific form of
// std::to_chars ("d.ddde+XX"), which is the shortest that reads back to the same double.
char* general_chars(char* p, double value) {
    char sci[32];
    char* end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
    const char* s = sci;
    if (*s == '-') {
        *p++ = '-';
        ++s;
    }
    char digits[20];
    int n = 0;
    const char* e = s;
    for (; e < end && *e != 'e'; ++e) {
        if (*e != '.') digits[n++] = *e;
    }
    int exp = 0;
    std::from_chars(e + 1 + (e[1] == '+'), end, exp);
    // The value is 0.d1d2...dn times 10^(exp + 1); `point` digits stand before the decimal point.
    int point = exp + 1;
    if (point <= 0) {
        *p++ = '0';
        *p++ = '.';
        for (int i = point; i < 0; ++i) *p++ = '0';
        std::memcpy(p, digits, n);
        return p + n;
    }
    if (point >= n) {
        std::memcpy(p, digits, n);
        p += n;
        for (int i = n; i < point; ++i) *p++ = '0';
        return p;
    }
    std::memcpy(p, digits, point);
    p += point;
    *p++ = '.';
    std::memcpy(p, digits + point, n - point);
    return p + (n - point);
}

// The number text of a cell value into `p` (room for NUM_CHARS).
char* num_chars(char* p, double value) {
    if (!std::isfinite(value)) {
        *p++ = '0';
        return p;
    }
    double mag = std::fabs(value);
    if (mag < INTEGRAL_LIMIT && value == std::trunc(value)) {
        if (value < 0) *p++ = '-';
        return uint_chars(p, static_cast<uint64_t>(mag));
    }
    // Short decimals: the first k with m / 10^k == |value| (m integral, below 1e15) gives the
    // shortest digits. The division is correctly rounded, so the decimal m·10^-k reads back to the
    // value; with at most 15 significant digits no other decimal of as few digits lies within half
    // an ulp of it.
    if (mag < SHORT_DECIMAL_LIMIT) {
        for (int k = 1; k <= MAX_SHORT_FRACTION; ++k) {
            double scaled = mag * POW10[k];
            if (scaled >= SHORT_DECIMAL_LIMIT) break;
            double m = std::nearbyint(scaled);
            if (m / POW10[k] == mag) {
                if (value < 0) *p++ = '-';
                return fixed_point_chars(p, static_cast<uint64_t>(m), k);
            }
        }
    }
    return general_chars(p, value);
}

char* col_letters_chars(char* p, uint32_t column) {
    char letters[7];
    int n = 7;
    uint64_t c = uint64_t{column} + 1;
    while (c != 0) {
        --c;
        letters[--n] = static_cast<char>('A' + c % 26);
        c /= 26;
    }
    std::memcpy(p, letters + n, 7 - n);
    return p + (7 - n);
}

void append_chars(std::string& out, const char* begin, const char* end) {
    out.append(begin, static_cast<size_t>(end - begin));
}

// Clamps an outline level to 7, reporting "outline level {0} clamped to 7".
uint32_t clamp_outline(uint32_t level, Diagnostics& lints) {
    if (level <= MAX_OUTLINE_LEVEL) return level;
    std::string msg = "outline level ";
    push_uint(msg, level);
    msg += " clamped to 7";
    lints.push(LintCode::ClampedOutlineLevel, std::move(msg));
    return MAX_OUTLINE_LEVEL;
}

uint32_t clamp_freeze(uint32_t split, Diagnostics& lints) {
    if (split <= MAX_FREEZE) return split;
    std::string msg = "freeze split ";
    push_uint(msg, split);
    msg += " clamped to 16384";
    lints.push(LintCode::ClampedFreeze, std::move(msg));
    return MAX_FREEZE;
}

// dimension: the used range from A1 to the last column and row.
void write_dimension(std::string& out, uint32_t rows, uint32_t max_cells) {
    out += "<dimension ref=\"A1";
    if (rows != 0) {
        out += ":";
        push_col_letters(out, max_cells == 0 ? 0 : max_cells - 1);
        push_uint(out, rows);
    }
    out += "\"/>";
}

// sheetViews: one view; a frozen pane splits it at the top-left cell of the scrolling pane.
void write_sheet_views(std::string& out, const std::optional<Freeze>& freeze, Diagnostics& lints) {
    out += "<sheetViews><sheetView workbookViewId=\"0\">";
    if (freeze) {
        uint32_t r = clamp_freeze(freeze->rows.value_or(0), lints);
        uint32_t c = clamp_freeze(freeze->cols.value_or(0), lints);
        if (r != 0 || c != 0) {
            std::string top_left;
            push_col_letters(top_left, c);
            push_uint(top_left, uint64_t{r} + 1);
            out += "<pane";
            if (c != 0) {
                out += " xSplit=\"";
                push_uint(out, c);
                out += '"';
            }
            if (r != 0) {
                out += " ySplit=\"";
                push_uint(out, r);
                out += '"';
            }
            out += " topLeftCell=\"";
            out += top_left;
            out += "\" activePane=\"bottomRight\" state=\"frozen\"/>";
            out += "<selection pane=\"bottomRight\" activeCell=\"";
            out += top_left;
            out += "\" sqref=\"";
            out += top_left;
            out += "\"/>";
        }
    }
    out += "</sheetView></sheetViews>";
}

// col: one element per specification, each covering exactly one column.
void write_col(std::string& out, const Column& column, uint64_t n, bool collapsed,
               Diagnostics& lints) {
    out += "<col min=\"";
    push_uint(out, n);
    out += "\" max=\"";
    push_uint(out, n);
    out += '"';
    if (!column.width) {
        out += " width=\"8.43\"";
    } else {
        double width = *column.width;
        if (width < 0 || width > MAX_COLUMN_WIDTH) {
            double clamped = width < 0 ? 0 : MAX_COLUMN_WIDTH;
            std::string msg = "column width ";
            push_num(msg, width);
            msg += " clamped to ";
            push_num(msg, clamped);
            lints.push(LintCode::ClampedColumnWidth, std::move(msg));
            width = clamped;
        }
        out += " width=\"";
        push_num(out, width);
        out += "\" customWidth=\"1\"";
    }
    uint32_t level = column.outline_level ? clamp_outline(*column.outline_level, lints) : 0;
    if (level != 0) {
        out += " outlineLevel=\"";
        push_uint(out, level);
        out += '"';
    }
    if (column.hidden.value_or(false) || (collapsed && level != 0)) out += " hidden=\"1\"";
    out += "/>";
}

}  // namespace

void push_uint(std::string& out, uint64_t value) {
    char buf[20];
    append_chars(out, buf, uint_chars(buf, value));
}

void push_num(std::string& out, double value) {
    char buf[NUM_CHARS];
    append_chars(out, buf, num_chars(buf, value));
}

void push_col_letters(std::string& out, uint32_t column) {
    char buf[7];
    append_chars(out, buf, col_letters_chars(buf, column));
}

std::optional<CellRef> parse_cell_ref(std::string_view text) {
    size_t digit = 0;
    while (digit < text.size() && (text[digit] < '0' || text[digit] > '9')) ++digit;
    if (digit == 0 || digit == text.size() || digit > 3) return std::nullopt;
    uint64_t col = 0;
    for (size_t i = 0; i < digit; ++i) {
        char ch = text[i];
        if (ch < 'A' || ch > 'Z') return std::nullopt;
        col = col * 26 + static_cast<uint64_t>(ch - 'A' + 1);
    }
    uint64_t row = 0;
    for (size_t i = digit; i < text.size(); ++i) {
        char ch = text[i];
        if (ch < '0' || ch > '9') return std::nullopt;
        row = row * 10 + static_cast<uint64_t>(ch - '0');
        if (row > UINT32_MAX) return std::nullopt;
    }
    if (row == 0) return std::nullopt;
    return CellRef{static_cast<uint32_t>(col - 1), static_cast<uint32_t>(row - 1)};
}

std::string sheet_prefix(const Sheet& sheet, uint32_t rows, uint32_t max_cells,
                         Diagnostics& lints) {
    std::string out;
    out.reserve(512 + sheet.columns.size() * 64);
    out += XML_DECLARATION;
    out += "<worksheet xmlns=\"";
    out += NS_MAIN;
    out += "\">";
    if (sheet.outline) out += "<sheetPr><outlinePr summaryBelow=\"1\" summaryRight=\"1\"/></sheetPr>";
    write_dimension(out, rows, max_cells);
    write_sheet_views(out, sheet.freeze, lints);
    out += "<sheetFormatPr defaultRowHeight=\"15\"/>";
    if (!sheet.columns.empty()) {
        bool collapsed = sheet.outline && sheet.outline->columns_collapsed.value_or(false);
        out += "<cols>";
        for (size_t i = 0; i < sheet.columns.size(); ++i) {
            write_col(out, sheet.columns[i], uint64_t{i} + 1, collapsed, lints);
        }
        out += "</cols>";
    }
    out += "<sheetData>";
    return out;
}

Result<std::string> sheet_suffix(const std::vector<std::string>& merges, Diagnostics& lints) {
    std::string out = "</sheetData>";
    if (!merges.empty()) {
        // A valid range holds only uppercase letters, digits and one colon, so its upper-cased text
        // is the text itself and the kept set can hold the ranges as listed.
        std::unordered_set<std::string_view> kept_set;
        std::vector<std::string_view> kept;
        kept_set.reserve(merges.size());
        for (const std::string& range : merges) {
            std::string_view text = range;
            size_t colon = text.find(':');
            if (colon == std::string_view::npos || !parse_cell_ref(text.substr(0, colon)) ||
                !parse_cell_ref(text.substr(colon + 1))) {
                std::string msg = "invalid merge range ";
                quote_into(msg, text);
                return TessaryError{ErrorCode::BadCellRef, std::move(msg)};
            }
            if (!kept_set.insert(text).second) {
                std::string msg = "duplicate merge ";
                msg += text;
                msg += " dropped";
                lints.push(LintCode::DroppedDuplicateMerge, std::move(msg));
                continue;
            }
            kept.push_back(text);
        }
        out += "<mergeCells count=\"";
        push_uint(out, kept.size());
        out += "\">";
        for (std::string_view text : kept) {
            out += "<mergeCell ref=\"";
            escape_into(out, text);
            out += "\"/>";
        }
        out += "</mergeCells>";
    }
    out += "</worksheet>";
    return out;
}

void write_open_tag(std::string& out, uint64_t row_number, uint32_t col, uint32_t style,
                    std::string_view type_attr) {
    char buf[64];
    char* p = buf;
    std::memcpy(p, "<c r=\"", 6);
    p += 6;
    p = col_letters_chars(p, col);
    p = uint_chars(p, row_number);
    *p++ = '"';
    if (style != 0) {
        std::memcpy(p, " s=\"", 4);
        p += 4;
        p = uint_chars(p, style);
        *p++ = '"';
    }
    append_chars(out, buf, p);
    out += type_attr;
}


namespace {

constexpr std::string_view TYPE_BOOLEAN = " t=\"b\"";
constexpr std::string_view TYPE_INLINE_STRING = " t=\"inlineStr\"";
constexpr std::string_view INLINE_STRING_OPEN = "><is><t xml:space=\"preserve\">";
constexpr std::string_view INLINE_STRING_CLOSE = "</t></is></c>";

constexpr double POW10_EXACT[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A currency amount in minor units as the displayed amount: divided by 10^decimals, or by 100.
double currency_amount(const CurrencyCell& cell) {
    uint32_t decimals = cell.currency.decimals.value_or(2);
    double divisor = decimals < std::size(POW10_EXACT) ? POW10_EXACT[decimals]
                                                       : std::pow(10.0, static_cast<double>(decimals));
    return static_cast<double>(cell.value) / divisor;
}

bool same_number_format(const std::optional<NumberFormat>& a,
                        const std::optional<NumberFormat>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    return a->decimals == b->decimals && a->grouped == b->grouped && a->negative == b->negative &&
           a->raw == b->raw;
}

bool same_currency_format(const CurrencyFormat& a, const CurrencyFormat& b) {
    return a.code == b.code && a.locale == b.locale && a.decimals == b.decimals &&
           a.negative == b.negative && a.symbol == b.symbol;
}

// The cell's own style, or nullptr.
const CellStyle* cell_style(const Cell& cell) {
    return std::visit([](const auto& c) { return c.style.get(); }, cell);
}

// Whether a decimal text piece (optional "+", digits only) fits a signed 64-bit value.
std::optional<int64_t> parse_date_int(std::string_view piece) {
    if (!piece.empty() && piece.front() == '+') piece.remove_prefix(1);
    if (piece.empty() || piece.front() < '0' || piece.front() > '9') return std::nullopt;
    int64_t v = 0;
    auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), v);
    if (ec != std::errc() || end != piece.data() + piece.size()) return std::nullopt;
    return v;
}

constexpr int64_t SMALL_YEAR_LIMIT = 1000000000000000;

// Days from 1899-12-30 to year-month-day (month 1 to 12), in integers of type `Int`.
template <class Int>
Int day_count(int64_t year, int64_t month, int64_t day) {
    Int y = Int{year} - (month <= 2 ? 1 : 0);
    Int mp = month >= 3 ? month - 3 : month + 9;
    Int era = (y >= 0 ? y : y - 399) / 400;
    Int yoe = y - era * 400;
    return era * 146097 + 365 * yoe + yoe / 4 - yoe / 100 + (153 * mp + 2) / 5 + day - 693900;
}

// A decimal floating-point piece: optional sign, digits with an optional fraction and exponent.
// Infinity and NaN spellings are not numbers here.
std::optional<double> parse_time_num(std::string_view piece) {
    std::string_view body = piece;
    if (!body.empty() && (body.front() == '+' || body.front() == '-')) body.remove_prefix(1);
    if (body.empty() || !((body.front() >= '0' && body.front() <= '9') || body.front() == '.')) {
        return std::nullopt;
    }
    double v = 0;
    auto [end, ec] =
        std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::general);
    if (ec != std::errc() || end != body.data() + body.size()) return std::nullopt;
    return piece.front() == '-' ? -v : v;
}

// Appends a cell whose content is one number: <c r=".." s=".."><v>..</v></c>, in one append.
void write_number_cell(std::string& out, std::string_view row_digits, uint32_t col,
                       uint32_t style, double value) {
    char buf[NUM_CHARS + 64];
    char* p = buf;
    std::memcpy(p, "<c r=\"", 6);
    p += 6;
    p = col_letters_chars(p, col);
    std::memcpy(p, row_digits.data(), row_digits.size());
    p += row_digits.size();
    *p++ = '"';
    if (style != 0) {
        std::memcpy(p, " s=\"", 4);
        p += 4;
        p = uint_chars(p, style);
        *p++ = '"';
    }
    std::memcpy(p, "><v>", 4);
    p = num_chars(p + 4, value);
    std::memcpy(p, "</v></c>", 8);
    append_chars(out, buf, p + 8);
}

// Appends the opening of a cell (<c r=".." s=".."{type}) followed by `tail`, in one append.
void write_cell_head(std::string& out, std::string_view row_digits, uint32_t col, uint32_t style,
                     std::string_view type_attr, std::string_view tail) {
    char buf[128];
    char* p = buf;
    std::memcpy(p, "<c r=\"", 6);
    p += 6;
    p = col_letters_chars(p, col);
    std::memcpy(p, row_digits.data(), row_digits.size());
    p += row_digits.size();
    *p++ = '"';
    if (style != 0) {
        std::memcpy(p, " s=\"", 4);
        p += 4;
        p = uint_chars(p, style);
        *p++ = '"';
    }
    if (!type_attr.empty()) {
        std::memcpy(p, type_attr.data(), type_attr.size());
        p += type_attr.size();
    }
    std::memcpy(p, tail.data(), tail.size());
    append_chars(out, buf, p + tail.size());
}

// What a cell writes, once its kind and value are known.
enum class Content { Number, Boolean, Text, Empty };

struct CellPlan {
    Content content = Content::Empty;
    double number = 0;
    bool flag = false;
    std::string_view text;
};

// The row renderer's state for one call.
class RowRenderer {
public:
    RowRenderer(std::string& out, const std::vector<Column>& columns, const Row& row,
                uint32_t row_index, std::string_view locale, StyleTable& styles, ColCache& cache)
        : out_(out), columns_(columns), locale_(locale), styles_(styles),
          cache_(cache), total_(row.is_total.value_or(false)) {
        row_len_ = static_cast<size_t>(uint_chars(row_digits_, uint64_t{row_index} + 1) - row_digits_);
    }

    std::string_view row_digits() const { return {row_digits_, row_len_}; }

    Status cell(size_t i, const Cell& cell) {
        const CellStyle* column_style =
            i < columns_.size() && columns_[i].style ? &*columns_[i].style : nullptr;
        const CellStyle* own = cell_style(cell);
        CellPlan plan;
        uint32_t style = 0;
        if (!total_ && !own) {
            ColCache::Slot& slot = cache_.slot(i);
            if (slot.base != column_style) {
                slot = ColCache::Slot{};
                slot.base = column_style;
            }
            TESSARY_TRY(cached_style(slot, column_style, cell, plan, style));
        } else {
            TESSARY_TRY(merged_style(column_style, own, cell, plan, style));
        }
        write(static_cast<uint32_t>(i), style, plan);
        return Ok{};
    }

private:
    // The style index of `key` under the column's style (an empty one when the column has none).
    Result<uint32_t> column_index(const CellStyle* column_style, const NumFmtKey& key) {
        if (column_style == nullptr || is_empty_style(*column_style)) {
            return styles_.intern_plain(key);
        }
        return styles_.intern_record(*column_style, key);
    }

    // Cached lookup of a built-in format's index in one of the slot's fixed places.
    Status builtin_index(uint32_t& place, const CellStyle* column_style, uint32_t id,
                         uint32_t& style) {
        if (place == ColCache::Slot::NONE) {
            Result<uint32_t> r = column_index(column_style, NumFmtKey::builtin(id));
            if (!r.ok()) return std::move(r.error());
            place = r.value();
        }
        style = place;
        return Ok{};
    }

    // A cell that takes its column's style unchanged: the index comes from the column's slot, and
    // on a miss from interning the column's style (or the plain-format map) with the cell's key.
    Status cached_style(ColCache::Slot& slot, const CellStyle* column_style, const Cell& cell,
                        CellPlan& plan, uint32_t& style) {
        switch (cell.index()) {
            case 1: {
                const NumberCell& c = std::get<1>(cell);
                plan = {Content::Number, c.value, false, {}};
                if (slot.entry && slot.entry->kind == ColEntry::Kind::Number &&
                    same_number_format(slot.entry->number, c.format)) {
                    style = slot.entry->style;
                    return Ok{};
                }
                Result<uint32_t> r =
                    column_index(column_style, c.format ? number(*c.format) : NumFmtKey());
                if (!r.ok()) return std::move(r.error());
                style = r.value();
                slot.entry = ColEntry{ColEntry::Kind::Number, c.format, std::nullopt, std::nullopt,
                                      style};
                return Ok{};
            }
            case 2: {
                const CurrencyCell& c = std::get<2>(cell);
                plan = {Content::Number, currency_amount(c), false, {}};
                if (slot.entry && slot.entry->kind == ColEntry::Kind::Currency &&
                    same_currency_format(*slot.entry->currency, c.currency)) {
                    style = slot.entry->style;
                    return Ok{};
                }
                Result<uint32_t> r = column_index(column_style, currency(c.currency, locale_));
                if (!r.ok()) return std::move(r.error());
                style = r.value();
                slot.entry = ColEntry{ColEntry::Kind::Currency, std::nullopt, c.currency,
                                      std::nullopt, style};
                return Ok{};
            }
            case 3: {
                const PercentCell& c = std::get<3>(cell);
                plan = {Content::Number, c.value, false, {}};
                if (slot.entry && slot.entry->kind == ColEntry::Kind::Percent &&
                    slot.entry->decimals == c.decimals) {
                    style = slot.entry->style;
                    return Ok{};
                }
                Result<uint32_t> r = column_index(column_style, percent(c.decimals.value_or(2)));
                if (!r.ok()) return std::move(r.error());
                style = r.value();
                slot.entry = ColEntry{ColEntry::Kind::Percent, std::nullopt, std::nullopt,
                                      c.decimals, style};
                return Ok{};
            }
            case 4: {
                const DateCell& c = std::get<4>(cell);
                if (!date_plan(c, plan)) {
                    return builtin_index(slot.general, column_style, GENERAL_NUMFMT_ID, style);
                }
                if (c.format && c.format->raw) {
                    if (!slot.date_raw || *slot.date_raw != *c.format->raw) {
                        Result<uint32_t> r =
                            column_index(column_style, NumFmtKey::custom(*c.format->raw));
                        if (!r.ok()) return std::move(r.error());
                        slot.date_raw = *c.format->raw;
                        slot.date_raw_style = r.value();
                    }
                    style = slot.date_raw_style;
                    return Ok{};
                }
                switch (c.format ? c.format->kind.value_or(DateKind::Date) : DateKind::Date) {
                    case DateKind::Date:
                        return builtin_index(slot.date14, column_style, DATE_NUMFMT_ID, style);
                    case DateKind::Datetime:
                        return builtin_index(slot.date22, column_style, DATETIME_NUMFMT_ID, style);
                    case DateKind::MonthYear:
                        return builtin_index(slot.date17, column_style, MONTH_YEAR_NUMFMT_ID,
                                             style);
                }
                return Ok{};
            }
            default:
                other_plan(cell, plan);
                return builtin_index(slot.general, column_style, GENERAL_NUMFMT_ID, style);
        }
    }

    // A cell of a total row or with a style of its own: the column style, then the total-row
    // style, then the cell's style, interned with the cell's key.
    Status merged_style(const CellStyle* column_style, const CellStyle* own,
                        const Cell& cell, CellPlan& plan, uint32_t& style) {
        NumFmtKey key;
        switch (cell.index()) {
            case 1: {
                const NumberCell& c = std::get<1>(cell);
                plan = {Content::Number, c.value, false, {}};
                if (c.format) key = number(*c.format);
                break;
            }
            case 2: {
                const CurrencyCell& c = std::get<2>(cell);
                plan = {Content::Number, currency_amount(c), false, {}};
                key = currency(c.currency, locale_);
                break;
            }
            case 3: {
                const PercentCell& c = std::get<3>(cell);
                plan = {Content::Number, c.value, false, {}};
                key = percent(c.decimals.value_or(2));
                break;
            }
            case 4: {
                const DateCell& c = std::get<4>(cell);
                if (date_plan(c, plan)) key = date_key(c.format);
                break;
            }
            default:
                other_plan(cell, plan);
                break;
        }
        const CellStyle* effective = own;
        CellStyle merged;
        if (total_ || (column_style != nullptr && own)) {
            if (column_style != nullptr) merged = *column_style;
            if (total_) {
                CellStyle total_style;
                total_style.font = Font{};
                total_style.font->bold = true;
                total_style.border = Border{};
                total_style.border->top = BorderEdge{BorderStyle::Thin, std::nullopt};
                overlay(merged, total_style);
            }
            if (own) overlay(merged, *own);
            effective = &merged;
        }
        if (is_empty_style(*effective)) {
            style = styles_.intern_plain(key);
            return Ok{};
        }
        Result<uint32_t> r = styles_.intern_record(*effective, key);
        if (!r.ok()) return std::move(r.error());
        style = r.value();
        return Ok{};
    }

    // A date cell's content: its serial, or its text when the text is not a date.
    static bool date_plan(const DateCell& c, CellPlan& plan) {
        if (const double* serial = std::get_if<double>(&c.value)) {
            plan = {Content::Number, *serial, false, {}};
            return true;
        }
        const std::string& text = std::get<std::string>(c.value);
        if (std::optional<double> serial = date_serial(text)) {
            plan = {Content::Number, *serial, false, {}};
            return true;
        }
        plan = {Content::Text, 0, false, text};
        return false;
    }

    // Strings, booleans and blanks, which all take the general format.
    static void other_plan(const Cell& cell, CellPlan& plan) {
        if (const StringCell* s = std::get_if<StringCell>(&cell)) {
            plan = {Content::Text, 0, false, s->value};
        } else if (const BooleanCell* b = std::get_if<BooleanCell>(&cell)) {
            plan = {Content::Boolean, 0, b->value, {}};
        } else {
            plan = {Content::Empty, 0, false, {}};
        }
    }

    void write(uint32_t col, uint32_t style, const CellPlan& plan) {
        switch (plan.content) {
            case Content::Number:
                write_number_cell(out_, row_digits(), col, style, plan.number);
                return;
            case Content::Boolean:
                write_cell_head(out_, row_digits(), col, style, TYPE_BOOLEAN,
                                plan.flag ? "><v>1</v></c>" : "><v>0</v></c>");
                return;
            case Content::Text:
                write_cell_head(out_, row_digits(), col, style, TYPE_INLINE_STRING,
                                INLINE_STRING_OPEN);
                escape_cell_text_into(out_, plan.text);
                out_ += INLINE_STRING_CLOSE;
                return;
            case Content::Empty:
                write_cell_head(out_, row_digits(), col, style, {}, "/>");
                return;
        }
    }

    std::string& out_;
    const std::vector<Column>& columns_;
    std::string_view locale_;
    StyleTable& styles_;
    ColCache& cache_;
    bool total_;
    char row_digits_[20];
    size_t row_len_ = 0;
};

}  // namespace

// row: the row number, its optional height and outline level, then its cells in column order.
Status row_xml(std::string& out, const std::vector<Column>& columns, const Row& row,
               uint32_t row_index, std::string_view locale, StyleTable& styles, Diagnostics& lints,
               ColCache& cache) {
    const size_t out_size = out.size();
    const size_t lint_count = lints.lints().size();
    RowRenderer renderer(out, columns, row, row_index, locale, styles, cache);
    out += "<row r=\"";
    out += renderer.row_digits();
    out += '"';
    if (row.height) {
        out += " ht=\"";
        push_num(out, *row.height);
        out += "\" customHeight=\"1\"";
    }
    if (row.outline_level) {
        uint32_t level = clamp_outline(*row.outline_level, lints);
        if (level != 0) {
            out += " outlineLevel=\"";
            push_uint(out, level);
            out += '"';
        }
    }
    out += '>';
    if (!row.cells.empty()) cache.slot(row.cells.size() - 1);
    for (size_t i = 0; i < row.cells.size(); ++i) {
        Status s = renderer.cell(i, row.cells[i]);
        if (!s.ok()) {
            out.resize(out_size);
            std::vector<Lint>& list = lints.lints();
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(lint_count), list.end());
            return std::move(s.error());
        }
    }
    out += "</row>";
    return Ok{};
}

std::optional<double> date_serial(std::string_view text) {
    size_t t = text.find('T');
    std::string_view date = text.substr(0, t);
    size_t d1 = date.find('-');
    if (d1 == std::string_view::npos) return std::nullopt;
    size_t d2 = date.find('-', d1 + 1);
    if (d2 == std::string_view::npos || date.find('-', d2 + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    std::optional<int64_t> year = parse_date_int(date.substr(0, d1));
    std::optional<int64_t> month = parse_date_int(date.substr(d1 + 1, d2 - d1 - 1));
    std::optional<int64_t> day = parse_date_int(date.substr(d2 + 1));
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31) {
        return std::nullopt;
    }
    // Days from 1899-12-30 in the proleptic Gregorian calendar, counted from a year starting in
    // March so that a leap day falls at the end. Years of up to 15 digits fit 64-bit arithmetic;
    // 128-bit arithmetic holds every other 64-bit year.
    double serial = *year < SMALL_YEAR_LIMIT
                        ? static_cast<double>(day_count<int64_t>(*year, *month, *day))
                        : static_cast<double>(day_count<__int128>(*year, *month, *day));
    if (t != std::string_view::npos) {
        std::string_view time = text.substr(t + 1);
        size_t c1 = time.find(':');
        if (c1 == std::string_view::npos) return std::nullopt;
        size_t c2 = time.find(':', c1 + 1);
        if (c2 != std::string_view::npos && time.find(':', c2 + 1) != std::string_view::npos) {
            return std::nullopt;
        }
        std::optional<double> hours = parse_time_num(time.substr(0, c1));
        std::optional<double> minutes =
            parse_time_num(c2 == std::string_view::npos ? time.substr(c1 + 1)
                                                        : time.substr(c1 + 1, c2 - c1 - 1));
        std::optional<double> seconds =
            c2 == std::string_view::npos ? std::optional<double>(0.0)
                                         : parse_time_num(time.substr(c2 + 1));
        if (!hours || !minutes || !seconds) return std::nullopt;
        serial += (*hours * 3600 + *minutes * 60 + *seconds) / 86400;
    }
    if (!std::isfinite(serial)) return std::nullopt;
    return serial;
}

}  // namespace tessary
