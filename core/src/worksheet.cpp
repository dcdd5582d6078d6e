// worksheet: number text, column letters, A1 references, the worksheet frame and the row renderer.
// Text goes straight into the caller's buffers through small stack arrays; the only heap work per
// cell is growing the sheet buffer, except for cells with a style of their own.
#include "worksheet.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_set>

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
            out += text;  // letters, digits and a colon: nothing to escape
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

}  // namespace tessary
