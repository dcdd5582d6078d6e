// worksheet: the worksheet part (ECMA-376 Part 1, 18.3): number and column-letter text, A1
// references, the frame around the rows (prefix and suffix) and the row renderer with its per-sheet
// column cache. Everything appends to caller-owned buffers; only merge ranges and colours can fail.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "model.h"

namespace tessary {

class StyleTable;

// ---- Number and reference text ----

// Appends `value` in decimal ("0" to "18446744073709551615").
void push_uint(std::string& out, uint64_t value);

// Appends the text of a cell value: "0" for NaN and infinities; whole values below 9e15 in
// magnitude as integers (negative zero as "0"); anything else as the shortest decimal that reads back
// to the same double, positional, never with an exponent (1e21 as 1 and 21 zeros, 1.5e-7 as
// 0.00000015).
void push_num(std::string& out, double value);

// Appends the letters of a zero-based column index in bijective base 26 (0 "A", 26 "AA", 16383
// "XFD", 4294967295 "MWLQKWV").
void push_col_letters(std::string& out, uint32_t column);

// A zero-based cell position: column 0 is "A", row 0 is spreadsheet row 1.
struct CellRef {
    uint32_t col;
    uint32_t row;
    bool operator==(const CellRef&) const = default;
};

// The position of an A1 reference: 1 to 3 uppercase letters, then a row number of digits only
// (leading zeros allowed) from 1 to 4294967295. No sheet bounds; "$A$1", "a1", "A0" and anything
// else give nothing.
std::optional<CellRef> parse_cell_ref(std::string_view text);

// ---- Frame ----

// The worksheet text before the rows: declaration, sheet properties when `outline` is present, the
// dimension from `rows` and `max_cells`, the sheet view with frozen panes, the default row height,
// the column definitions and "<sheetData>". Out-of-range freeze splits, column widths and column
// outline levels are clamped and reported in that order (ClampedFreeze, ClampedColumnWidth,
// ClampedOutlineLevel). Never fails.
std::string sheet_prefix(const Sheet& sheet, uint32_t rows, uint32_t max_cells, Diagnostics& lints);

// The worksheet text after the rows: "</sheetData>", the merged ranges and "</worksheet>". A range
// that is not two A1 references joined by a colon fails with BadCellRef "invalid merge range
// \"...\""; a repeated range is dropped with DroppedDuplicateMerge. Lints already appended stay.
Result<std::string> sheet_suffix(const std::vector<std::string>& merges, Diagnostics& lints);

// ---- Rows and cells ----

// Opens a cell element (<c r="B7" s="3" t="b"); the caller closes it with "/>" or ">" and content.
// `row_number` is one-based; the s attribute is written only for a style other than 0; `type_attr`
// is appended verbatim ("", " t=\"b\"" or " t=\"inlineStr\"").
void write_open_tag(std::string& out, uint64_t row_number, uint32_t col, uint32_t style,
                    std::string_view type_attr);

// The numeric kind and format of the last cell cached for a column, with the style index used for it.
struct ColEntry {
    enum class Kind { Number, Currency, Percent };
    Kind kind = Kind::Number;
    std::optional<NumberFormat> number;   // Kind::Number: the cell's format, or absent
    std::optional<CurrencyFormat> currency;  // Kind::Currency: the cell's specification
    std::optional<uint32_t> decimals;     // Kind::Percent: the cell's decimals, or absent
    uint32_t style = 0;
};

// Per-sheet memory of the row renderer: for each column, the style indexes already found for cells
// that take their column's style unchanged (no cell style, not a total row). The cache only saves
// work: every index it holds is what interning the column's style with the cell's number format
// gives. One cache belongs to one sheet and that sheet's column list; start a fresh one per sheet
// (a slot met with another column's style object starts over).
class ColCache {
public:
    // A column's slot: the numeric entry plus the indexes of the built-in formats 0 (general: text,
    // booleans, blanks), 14, 17 and 22 (dates), and of the last custom date code.
    struct Slot {
        static constexpr uint32_t NONE = UINT32_MAX;
        // The column style the indexes below were found for; another one empties the slot.
        const CellStyle* base = nullptr;
        std::optional<ColEntry> entry;
        uint32_t general = NONE;
        uint32_t date14 = NONE;
        uint32_t date17 = NONE;
        uint32_t date22 = NONE;
        std::optional<std::string> date_raw;
        uint32_t date_raw_style = 0;
    };

    // The slot of column `col`, grown with empty slots on demand.
    Slot& slot(size_t col) {
        if (col >= slots_.size()) slots_.resize(col + 1);
        return slots_[col];
    }
    size_t size() const { return slots_.size(); }

private:
    std::vector<Slot> slots_;
};

// Appends one <row> element for `row` at zero-based position `row_index`: cells at positions i in
// column i, each with the style index that `styles` assigns to its effective style (column style,
// then the total-row style, then the cell's style) and its number format; `locale` places currency
// markers. A row outline level above 7 is clamped with ClampedOutlineLevel.
// Fails only with BadColor from the style table. On failure `out` and `lints` are exactly as they
// were before the call (styles interned meanwhile stay in the table), so a streaming caller can go on
// writing rows. The caller counts rows and the largest cell count for the dimension.
Status row_xml(std::string& out, const std::vector<Column>& columns, const Row& row,
               uint32_t row_index, std::string_view locale, StyleTable& styles, Diagnostics& lints,
               ColCache& cache);

// The serial of a date text: "YYYY-MM-DD" with an optional "T" and "hh:mm" or "hh:mm:ss" time
// (days from 1899-12-30, proleptic Gregorian, plus the fraction of the day). Pieces are decimal
// integers with an optional "+" (the time pieces decimal numbers); the month must be 1 to 12 and
// the day 1 to 31 (a 31st of February counts on into March). Every year of a signed 64-bit piece is
// computed exactly; a larger year, a non-finite result or any other text gives nothing.
std::optional<double> date_serial(std::string_view text);

}  // namespace tessary
