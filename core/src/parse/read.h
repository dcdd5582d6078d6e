// read: the workbook parser. Turns the bytes of an .xlsx package into named sheets of typed cell
// values, with shared strings resolved and numeric cells under a date style rendered as ISO 8601
// text. Formulas, formatting, merges and hidden states are not read; apart from a missing workbook
// part nothing in the XML makes it fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "parse/unzip.h"

namespace tessary::parse {

enum class CellKind : uint8_t { Empty, Str, Float, Bool, DateText };

// One cell of a parsed sheet, 16 bytes. Texts (Str, DateText) are slices of a text arena that the
// sheet owns: its own, or the workbook's shared-string arena when `shared` is set.
struct CellValue {
    CellKind kind = CellKind::Empty;
    bool shared = false;
    bool flag = false;   // the value of a Bool
    uint32_t len = 0;    // text length in bytes
    union {
        double number;
        uint64_t offset;  // text start in its arena
    };

    CellValue() : offset(0) {}
    static CellValue empty() { return CellValue(); }
    static CellValue boolean(bool v) { CellValue c; c.kind = CellKind::Bool; c.flag = v; return c; }
    static CellValue num(double v) { CellValue c; c.kind = CellKind::Float; c.number = v; return c; }
};
static_assert(sizeof(CellValue) == 16);

// One worksheet: its name and ragged rows of cells, all rows in one cell list.
class ParsedSheet {
public:
    std::string name;

    std::size_t row_count() const { return row_ends_.size(); }
    std::span<const CellValue> row(std::size_t i) const {
        std::size_t begin = i == 0 ? 0 : row_ends_[i - 1];
        return {cells_.data() + begin, row_ends_[i] - begin};
    }
    // The text of a Str or DateText cell of this sheet; empty for the other kinds.
    std::string_view text(const CellValue& c) const {
        if (c.kind != CellKind::Str && c.kind != CellKind::DateText) return {};
        const std::string& arena = c.shared ? *shared_ : text_;
        return std::string_view(arena).substr(c.offset, c.len);
    }

    // Building, used by the parser and by tests.
    void push_cell(CellValue c) { cells_.push_back(c); }
    // Appends a Str (or DateText) cell whose text is copied into the sheet's own arena.
    void push_text(CellKind kind, std::string_view text);
    // Appends a Str cell that refers to `len` bytes at `offset` of the shared arena.
    void push_shared(uint64_t offset, uint32_t len);
    // Ends the row under construction (possibly empty).
    void end_row() { row_ends_.push_back(cells_.size()); }
    // Drops the cells pushed since the last end_row.
    void drop_open_row() { cells_.resize(row_ends_.empty() ? 0 : row_ends_.back()); }
    // Cells of the row under construction.
    std::size_t open_row_len() const {
        return cells_.size() - (row_ends_.empty() ? 0 : row_ends_.back());
    }
    void set_shared(std::shared_ptr<const std::string> arena) { shared_ = std::move(arena); }
    void reserve_cells(std::size_t n) { cells_.reserve(n); }

private:
    std::vector<CellValue> cells_;
    std::vector<std::size_t> row_ends_;  // one past the last cell of each row
    std::string text_;
    std::shared_ptr<const std::string> shared_ = std::make_shared<const std::string>();
};

struct ParsedWorkbook {
    std::vector<ParsedSheet> sheets;
};

// Reads every worksheet the workbook part lists, in its order. BadZip or BadDeflate from the
// extraction, NotXlsx without a member "xl/workbook.xml"; nothing else fails. The result owns all
// its texts and does not refer to `bytes`.
Result<ParsedWorkbook, ReadError> parse(std::span<const uint8_t> bytes);

// Appends the ISO 8601 text of a date serial (days since 1899-12-30, the fraction a time of day):
// "YYYY-MM-DD", or "YYYY-MM-DDTHH:MM:SS" when the fraction exceeds 1e-9. Day counts beyond
// +-2^53 are clamped to that bound; NaN counts as 0.
void push_date_text(std::string& out, double serial);

// A cell's number text: a binary64 in the forms spreadsheet XML writes (optional sign, digits,
// fraction, exponent; "inf", "infinity", "nan" in any case). False for anything else.
bool parse_number(std::string_view text, double* out);

// Appends `text` with every `_xHHHH_` run (ECMA-376 Part 1, 22.9.2.19 ST_Xstring) decoded to the
// character it names; a surrogate pair written as two runs becomes one character, a lone surrogate
// run stays as written.
void push_xstring(std::string& out, std::string_view text);

// Whether the custom number-format code formats dates: it holds y, d or "h:" (ASCII case ignored)
// outside quoted text, bracketed sections and backslash escapes.
bool is_date_code(std::string_view code);

}  // namespace tessary::parse
