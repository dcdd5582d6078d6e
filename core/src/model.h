// model: the typed workbook that every write path consumes, and the options of a write. Records own
// their strings and lists; an optional value not given is held as absent, never as a sentinel.
// The records are read from JSON text or values by the schema's rules (declared below); nothing
// here validates or clamps.
#pragma once

#include <cstdint>
#include <memory>
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

// An optional value held out of line: a cell's own style is rare and large, so a cell keeps one
// pointer instead of the whole style. Copies are deep; the interface is that of std::optional.
template <class T>
class Boxed {
    std::unique_ptr<T> p_;

public:
    Boxed() = default;
    Boxed(std::nullopt_t) {}
    Boxed(T value) : p_(std::make_unique<T>(std::move(value))) {}
    Boxed(const std::optional<T>& value) {
        if (value) p_ = std::make_unique<T>(*value);
    }
    Boxed(std::optional<T>&& value) {
        if (value) p_ = std::make_unique<T>(std::move(*value));
    }
    Boxed(const Boxed& other) : p_(other.p_ ? std::make_unique<T>(*other.p_) : nullptr) {}
    Boxed(Boxed&&) noexcept = default;
    Boxed& operator=(const Boxed& other) {
        if (this != &other) p_ = other.p_ ? std::make_unique<T>(*other.p_) : nullptr;
        return *this;
    }
    Boxed& operator=(Boxed&&) noexcept = default;
    Boxed& operator=(std::nullopt_t) {
        p_.reset();
        return *this;
    }

    bool has_value() const { return p_ != nullptr; }
    explicit operator bool() const { return p_ != nullptr; }
    T& operator*() { return *p_; }
    const T& operator*() const { return *p_; }
    T* operator->() { return p_.get(); }
    const T* operator->() const { return p_.get(); }
    T& value() { return *p_; }
    const T& value() const { return *p_; }
    // The held value, or nullptr when absent.
    const T* get() const { return p_.get(); }
    void reset() { p_.reset(); }
    template <class... A>
    T& emplace(A&&... args) {
        p_ = std::make_unique<T>(std::forward<A>(args)...);
        return *p_;
    }
};

// A spreadsheet serial date (number form) or a textual date (string form).
using DateValue = std::variant<double, std::string>;

struct StringCell {
    std::string value;
    Boxed<CellStyle> style;
};

struct NumberCell {
    double value = 0;
    std::optional<NumberFormat> format;
    Boxed<CellStyle> style;
};

struct CurrencyCell {
    int64_t value = 0;  // minor units of the currency
    CurrencyFormat currency;
    Boxed<CellStyle> style;
};

struct PercentCell {
    double value = 0;
    std::optional<uint32_t> decimals;
    Boxed<CellStyle> style;
};

struct DateCell {
    DateValue value;
    std::optional<DateFormat> format;
    Boxed<CellStyle> style;
};

struct BooleanCell {
    bool value = false;
    Boxed<CellStyle> style;
};

struct BlankCell {
    Boxed<CellStyle> style;
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
