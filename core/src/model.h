// model: the typed workbook that every write path consumes, and the options of a write. Records own
// their strings and lists; an optional value not given is held as absent, never as a sentinel.
// The records are read from JSON text or values by the schema's rules (declared below); nothing
// here validates or clamps.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <string>
#include <variant>
#include <vector>

namespace tessary {

enum class HAlign { Left, Center, Right };
enum class VAlign { Top, Middle, Bottom };
enum class BorderStyle { Thin, Medium, Thick, Double };
enum class DateKind { Date, Datetime, MonthYear };
enum class Negative { Red, Parens, Minus, RedParens };

struct Font {
    std::optional<bool> bold;
    std::optional<bool> italic;
    std::optional<double> size;
    std::optional<std::string> color;
    std::optional<std::string> name;
};

struct Align {
    std::optional<HAlign> horizontal;
    std::optional<VAlign> vertical;
    std::optional<bool> wrap;
};

struct BorderEdge {
    std::optional<BorderStyle> style;
    std::optional<std::string> color;
};

struct Border {
    std::optional<BorderEdge> top;
    std::optional<BorderEdge> bottom;
    std::optional<BorderEdge> left;
    std::optional<BorderEdge> right;
};

struct CellStyle {
    std::optional<Font> font;
    std::optional<std::string> fill;
    std::optional<Align> align;
    std::optional<Border> border;
};

struct NumberFormat {
    std::optional<uint32_t> decimals;
    std::optional<bool> grouped;
    std::optional<Negative> negative;
    std::optional<std::string> raw;
};

struct CurrencyFormat {
    std::string code;
    std::optional<std::string> locale;
    std::optional<uint32_t> decimals;
    std::optional<Negative> negative;
    std::optional<bool> symbol;
};

struct DateFormat {
    std::optional<DateKind> kind;
    std::optional<std::string> raw;
};

// A spreadsheet serial date (number form) or a textual date (string form).
using DateValue = std::variant<double, std::string>;

struct StringCell {
    std::string value;
    std::optional<CellStyle> style;
};

struct NumberCell {
    double value = 0;
    std::optional<NumberFormat> format;
    std::optional<CellStyle> style;
};

struct CurrencyCell {
    int64_t value = 0;  // minor units of the currency
    CurrencyFormat currency;
    std::optional<CellStyle> style;
};

struct PercentCell {
    double value = 0;
    std::optional<uint32_t> decimals;
    std::optional<CellStyle> style;
};

struct DateCell {
    DateValue value;
    std::optional<DateFormat> format;
    std::optional<CellStyle> style;
};

struct BooleanCell {
    bool value = false;
    std::optional<CellStyle> style;
};

struct BlankCell {
    std::optional<CellStyle> style;
};

// The variants in declaration order: string, number, currency, percent, date, boolean, blank.
using Cell = std::variant<StringCell, NumberCell, CurrencyCell, PercentCell, DateCell, BooleanCell,
                          BlankCell>;

struct Column {
    std::optional<std::string> key;
    std::optional<double> width;
    std::optional<uint32_t> outline_level;
    std::optional<bool> hidden;
    std::optional<CellStyle> style;
};

struct Row {
    std::vector<Cell> cells;
    std::optional<uint32_t> outline_level;
    std::optional<double> height;
    std::optional<bool> is_total;
};

struct Freeze {
    std::optional<uint32_t> rows;
    std::optional<uint32_t> cols;
};

struct Outline {
    std::optional<bool> columns_collapsed;
};

struct Sheet {
    std::string name;
    std::vector<Column> columns;
    std::vector<Row> rows;
    std::vector<std::string> merges;
    std::optional<Freeze> freeze;
    std::optional<Outline> outline;
};

struct Workbook {
    std::optional<std::string> schema_version;
    std::optional<std::string> locale;
    std::vector<Sheet> sheets;
};

struct DocMeta {
    std::optional<std::string> title;
    std::optional<std::string> author;
    std::optional<std::string> subject;
    std::optional<std::string> company;
};

struct WriteOptions {
    DocMeta meta;
    std::optional<std::string> password;
};

}  // namespace tessary

// ---- Reading the records (the JSON front door) ----
// Text errors carry the code InvalidJson (syntax) or SchemaViolation (schema) and the suffix
// " at line L column C"; value errors are always SchemaViolation without a position.

#include "error.h"
#include "json.h"

namespace tessary {

Result<Workbook> from_json_str(std::string_view text);
Result<Workbook> from_json_value(json::Value&& value);

// One record read from a value by the same rules (the streaming writer and the binding).
Result<Sheet> sheet_from_value(json::Value&& value);
Result<Row> row_from_value(json::Value&& value);
Result<Column> column_from_value(json::Value&& value);
Result<CellStyle> cell_style_from_value(json::Value&& value);
Result<CurrencyFormat> currency_format_from_value(json::Value&& value);

// A JSON array text of Row objects (the streaming writer's chunk path): syntax and schema errors
// alike come back as SchemaViolation with the position suffix.
Result<std::vector<Row>> rows_from_json_str(std::string_view text);

}  // namespace tessary
