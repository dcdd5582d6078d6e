#include <gtest/gtest.h>

#include <string>

#include "helpers.h"
#include "model.h"

namespace tessary {
namespace {

using tessary::testing::expect_error;

json::Value value_of(std::string_view text) {
    Result<json::Value> v = json::parse(text);
    EXPECT_TRUE(v.ok()) << text;
    return v.ok() ? std::move(v.value()) : json::Value{};
}

struct SchemaCase {
    std::string_view in;
    ErrorCode code;
    std::string_view text_message;
    // The message of the same input given as a value; "" when it is the text message without its
    // position.
    std::string_view value_message;
};

const SchemaCase SCHEMA[] = {
    {R"("x")",
     ErrorCode::SchemaViolation, R"(invalid type: string "x", expected struct Workbook at line 1 column 3)",
     ""},
    {R"(null)",
     ErrorCode::SchemaViolation, R"(invalid type: unit value, expected struct Workbook at line 1 column 4)",
     ""},
    {R"({"sheets": [{"name": "A", "name": "B"}]})",
     ErrorCode::SchemaViolation, R"(duplicate field `name` at line 1 column 32)",
     ""},
    {R"({"sheets": [{"rows": []}]})",
     ErrorCode::SchemaViolation, R"(missing field `name` at line 1 column 24)",
     ""},
    {R"({"sheets": [{"name": null}]})",
     ErrorCode::SchemaViolation, R"(invalid type: unit value, expected a string at line 1 column 25)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": null}]})",
     ErrorCode::SchemaViolation, R"(invalid type: unit value, expected a sequence at line 1 column 38)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [], "note": 1}]}]})",
     ErrorCode::SchemaViolation, R"(unknown field `note`, expected one of `cells`, `outlineLevel`, `height`, `isTotal` at line 1 column 55)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{}]}]})",
     ErrorCode::SchemaViolation, R"(missing field `cells` at line 1 column 37)",
     ""},
    {R"({"sheets": [{"name": "S", "freeze": {"rows": 1.5}}]})",
     ErrorCode::SchemaViolation, R"(invalid type: floating point `1.5`, expected u32 at line 1 column 48)",
     ""},
    {R"({"sheets": [{"name": "S", "freeze": {"cols": 4294967296}}]})",
     ErrorCode::SchemaViolation, R"(invalid value: integer `4294967296`, expected u32 at line 1 column 55)",
     ""},
    {R"({"sheets": [{"name": "S", "columns": [{"width": "10"}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: string "10", expected f64 at line 1 column 52)",
     ""},
    {R"({"sheets": [{"name": "S", "columns": [{"hidden": 1}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `1`, expected a boolean at line 1 column 50)",
     ""},
    {R"({"sheets": [{"name": "S", "columns": [{"style": {"font": {"bold": "yes"}}}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: string "yes", expected a boolean at line 1 column 71)",
     ""},
    {R"({"sheets": [{"name": "S", "columns": [{"style": {"align": {"horizontal": "centre"}}}]}]})",
     ErrorCode::SchemaViolation, R"(unknown variant `centre`, expected one of `left`, `center`, `right` at line 1 column 81)",
     ""},
    {R"({"sheets": [{"name": "S", "columns": [{"style": {"align": {"horizontal": {}}}}]}]})",
     ErrorCode::InvalidJson, R"(expected value at line 1 column 75)",
     R"(invalid value: map, expected map with a single key)"},
    {R"({"sheets": [{"name": "S", "columns": [{"style": {"align": {"horizontal": {"left": 1}}}}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `1`, expected unit at line 1 column 83)",
     ""},
    {R"({"sheets": [{"name": "S", "columns": [{"style": {"border": {"top": {"style": "dotted"}}}}]}]})",
     ErrorCode::SchemaViolation, R"(unknown variant `dotted`, expected one of `thin`, `medium`, `thick`, `double` at line 1 column 85)",
     ""},
    {R"({"sheets": [{"name": "S", "columns": [{"style": {"colour": "#000000"}}]}]})",
     ErrorCode::SchemaViolation, R"(unknown field `colour`, expected one of `font`, `fill`, `align`, `border` at line 1 column 57)",
     ""},
    {R"({"sheets": [{"name": "S", "merges": [1]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `1`, expected a string at line 1 column 38)",
     ""},
    {R"({"sheets": [{"name": "S", "outline": {"columnsCollapsed": null, "x": 1}}]})",
     ErrorCode::SchemaViolation, R"(unknown field `x`, expected `columnsCollapsed` at line 1 column 67)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [5]}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `5`, expected internally tagged enum Cell at line 1 column 47)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"value": 1}]}]}]})",
     ErrorCode::SchemaViolation, R"(missing field `type` at line 1 column 58)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "Number", "value": 1}]}]}]})",
     ErrorCode::SchemaViolation, R"(unknown variant `Number`, expected one of `string`, `number`, `currency`, `percent`, `date`, `boolean`, `blank` at line 1 column 63)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": 5}]}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `5`, expected variant identifier at line 1 column 56)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "blank", "type": "blank"}]}]}]})",
     ErrorCode::SchemaViolation, R"(duplicate field `type` at line 1 column 70)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "string"}]}]}]})",
     ErrorCode::SchemaViolation, R"(missing field `value` at line 1 column 65)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "string", "value": "a", "value": "b"}]}]}]})",
     ErrorCode::SchemaViolation, R"(duplicate field `value` at line 1 column 93)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "currency", "value": 19.99, "currency": {"code": "USD"}}]}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: floating point `19.99`, expected i64 at line 1 column 112)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "currency", "value": 9223372036854775808, "currency": {"code": "USD"}}]}]}]})",
     ErrorCode::SchemaViolation, R"(invalid value: integer `9223372036854775808`, expected i64 at line 1 column 126)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "currency", "value": 1, "currency": {}}]}]}]})",
     ErrorCode::SchemaViolation, R"(missing field `code` at line 1 column 95)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "currency", "value": 1, "currency": {"code": "USD", "fx": 1}}]}]}]})",
     ErrorCode::SchemaViolation, R"(unknown field `fx`, expected one of `code`, `locale`, `decimals`, `negative`, `symbol` at line 1 column 117)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "percent", "value": 0.5, "decimals": -1}]}]}]})",
     ErrorCode::SchemaViolation, R"(invalid value: integer `-1`, expected u32 at line 1 column 96)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "boolean", "value": 1}]}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `1`, expected a boolean at line 1 column 78)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "date", "value": null}]}]}]})",
     ErrorCode::SchemaViolation, R"(data did not match any variant of untagged enum DateValue at line 1 column 78)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "date", "value": 1, "format": {"kind": "time"}}]}]}]})",
     ErrorCode::SchemaViolation, R"(unknown variant `time`, expected one of `date`, `datetime`, `month-year` at line 1 column 103)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "number", "value": 1, "format": {"negative": true}}]}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: boolean `true`, expected string or map at line 1 column 107)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "number", "value": 1, "style": {"align": {"vertical": 5}}}]}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `5`, expected string or map at line 1 column 114)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "number", "value": 1, "style": 5}]}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `5`, expected struct CellStyle at line 1 column 89)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "blank", "style": {"fill": 1}}]}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `1`, expected a string at line 1 column 86)",
     ""},
    {R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "blank"}], "height": true}]}]})",
     ErrorCode::SchemaViolation, R"(invalid type: boolean `true`, expected f64 at line 1 column 80)",
     ""},
    {R"({"schemaVersion": 2, "sheets": []})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `2`, expected a string at line 1 column 19)",
     ""},
    {R"({"locale": null, "sheets": [], "sheets": []})",
     ErrorCode::SchemaViolation, R"(duplicate field `sheets` at line 1 column 39)",
     ""},
    // From the document examples.
    {R"({"sheets": [], "extra": 1})",
     ErrorCode::SchemaViolation, R"(unknown field `extra`, expected one of `schemaVersion`, `locale`, `sheets` at line 1 column 22)",
     ""},
    {R"({})",
     ErrorCode::SchemaViolation, R"(missing field `sheets` at line 1 column 2)",
     ""},
    {R"({"sheets": 5})",
     ErrorCode::SchemaViolation, R"(invalid type: integer `5`, expected a sequence at line 1 column 12)",
     ""},
    {R"({"sheets": [{"name": "S", "freeze": {"rows": -1}}]})",
     ErrorCode::SchemaViolation, R"(invalid value: integer `-1`, expected u32 at line 1 column 47)",
     ""},
    // An enumeration of the wrong kind: a syntax error in text, a type error in a value.
    {R"({"sheets": [{"name": "S", "columns": [{"style": {"align": {"horizontal": 5}}}]}]})",
     ErrorCode::InvalidJson, R"(expected value at line 1 column 74)",
     R"(invalid type: integer `5`, expected string or map)"},
    {R"({"sheets": [{"name": "S", "columns": [{"style": {"align": {"horizontal": {"left": null, "right": null}}}}]}]})",
     ErrorCode::InvalidJson, R"(expected value at line 1 column 86)",
     R"(invalid value: map, expected map with a single key)"},
};

TEST(FromJson, SchemaMessagesForTextAndValues) {
    for (const SchemaCase& c : SCHEMA) {
        SCOPED_TRACE(std::string(c.in));
        expect_error(from_json_str(c.in), c.code, c.text_message);
        std::string value_message(c.value_message);
        if (value_message.empty()) value_message = c.text_message.substr(0, c.text_message.rfind(" at line "));
        expect_error(from_json_value(value_of(c.in)), ErrorCode::SchemaViolation, value_message);
    }
}

constexpr std::string_view FULL = R"({
  "schemaVersion": "1.2", "locale": "de-DE",
  "sheets": [
    {"name": "Report",
     "columns": [{"key": "k", "width": 12.5, "outlineLevel": 1, "hidden": false,
                  "style": {"font": {"bold": true, "italic": false, "size": 11, "color": "#112233",
                                     "name": "Arial"},
                            "fill": "#ffffff",
                            "align": {"horizontal": "center", "vertical": {"bottom": null}, "wrap": true},
                            "border": {"top": {"style": "thin", "color": "#000000"},
                                       "bottom": {"style": "double"}, "left": null, "right": {}}}},
                 {}],
     "rows": [
       {"cells": [
          {"type": "string", "value": "caf\u00e9", "note": [1, {"deep": null}]},
          {"type": "number", "value": 3, "format": {"decimals": 2, "grouped": true,
                                                   "negative": "red-parens", "raw": null}},
          {"type": "currency", "value": -9223372036854775808,
           "currency": {"code": "EUR", "locale": "fr-FR", "decimals": 0, "negative": "minus",
                        "symbol": true}},
          {"type": "percent", "value": 0.25, "decimals": 1},
          {"type": "date", "value": 45000.5, "format": {"kind": "month-year"}},
          {"type": "date", "value": "2024-03-01", "format": {"raw": "yyyy"}},
          {"type": "boolean", "value": true, "style": {"fill": "#00ff00"}},
          {"type": "blank"}
        ], "outlineLevel": 4294967295, "height": 20, "isTotal": true},
       {"cells": []}
     ],
     "merges": ["A1:B2"],
     "freeze": {"rows": 1, "cols": null},
     "outline": {"columnsCollapsed": true}},
    {"name": "Empty", "freeze": {}, "outline": null}
  ]
})";

void check_full(const Workbook& b) {
    EXPECT_EQ(b.schema_version, "1.2");
    EXPECT_EQ(b.locale, "de-DE");
    ASSERT_EQ(b.sheets.size(), 2u);
    const Sheet& s = b.sheets[0];
    EXPECT_EQ(s.name, "Report");
    ASSERT_EQ(s.columns.size(), 2u);
    const Column& c = s.columns[0];
    EXPECT_EQ(c.key, "k");
    EXPECT_EQ(c.width, 12.5);
    EXPECT_EQ(c.outline_level, 1u);
    EXPECT_EQ(c.hidden, false);
    ASSERT_TRUE(c.style && c.style->font && c.style->align && c.style->border);
    EXPECT_EQ(c.style->font->bold, true);
    EXPECT_EQ(c.style->font->italic, false);
    EXPECT_EQ(c.style->font->size, 11.0);
    EXPECT_EQ(c.style->font->color, "#112233");
    EXPECT_EQ(c.style->font->name, "Arial");
    EXPECT_EQ(c.style->fill, "#ffffff");
    EXPECT_EQ(c.style->align->horizontal, HAlign::Center);
    EXPECT_EQ(c.style->align->vertical, VAlign::Bottom);
    EXPECT_EQ(c.style->align->wrap, true);
    EXPECT_EQ(c.style->border->top->style, BorderStyle::Thin);
    EXPECT_EQ(c.style->border->top->color, "#000000");
    EXPECT_EQ(c.style->border->bottom->style, BorderStyle::Double);
    EXPECT_FALSE(c.style->border->left.has_value());
    ASSERT_TRUE(c.style->border->right.has_value());
    EXPECT_FALSE(c.style->border->right->style.has_value());
    const Column& bare = s.columns[1];
    EXPECT_FALSE(bare.key || bare.width || bare.outline_level || bare.hidden || bare.style);

    ASSERT_EQ(s.rows.size(), 2u);
    const Row& r = s.rows[0];
    EXPECT_EQ(r.outline_level, 4294967295u);
    EXPECT_EQ(r.height, 20.0);
    EXPECT_EQ(r.is_total, true);
    ASSERT_EQ(r.cells.size(), 8u);
    EXPECT_EQ(std::get<StringCell>(r.cells[0]).value, "caf\xc3\xa9");
    const NumberCell& n = std::get<NumberCell>(r.cells[1]);
    EXPECT_EQ(n.value, 3.0);
    EXPECT_EQ(n.format->decimals, 2u);
    EXPECT_EQ(n.format->grouped, true);
    EXPECT_EQ(n.format->negative, Negative::RedParens);
    EXPECT_FALSE(n.format->raw.has_value());
    const CurrencyCell& cur = std::get<CurrencyCell>(r.cells[2]);
    EXPECT_EQ(cur.value, INT64_MIN);
    EXPECT_EQ(cur.currency.code, "EUR");
    EXPECT_EQ(cur.currency.locale, "fr-FR");
    EXPECT_EQ(cur.currency.decimals, 0u);
    EXPECT_EQ(cur.currency.negative, Negative::Minus);
    EXPECT_EQ(cur.currency.symbol, true);
    const PercentCell& pc = std::get<PercentCell>(r.cells[3]);
    EXPECT_EQ(pc.value, 0.25);
    EXPECT_EQ(pc.decimals, 1u);
    const DateCell& d1 = std::get<DateCell>(r.cells[4]);
    EXPECT_EQ(std::get<double>(d1.value), 45000.5);
    EXPECT_EQ(d1.format->kind, DateKind::MonthYear);
    const DateCell& d2 = std::get<DateCell>(r.cells[5]);
    EXPECT_EQ(std::get<std::string>(d2.value), "2024-03-01");
    EXPECT_EQ(d2.format->raw, "yyyy");
    const BooleanCell& bc = std::get<BooleanCell>(r.cells[6]);
    EXPECT_TRUE(bc.value);
    EXPECT_EQ(bc.style->fill, "#00ff00");
    EXPECT_FALSE(std::get<BlankCell>(r.cells[7]).style.has_value());
    EXPECT_TRUE(s.rows[1].cells.empty());
    EXPECT_FALSE(s.rows[1].outline_level || s.rows[1].height || s.rows[1].is_total);
    EXPECT_EQ(s.merges, std::vector<std::string>{"A1:B2"});
    EXPECT_EQ(s.freeze->rows, 1u);
    EXPECT_FALSE(s.freeze->cols.has_value());
    EXPECT_EQ(s.outline->columns_collapsed, true);

    const Sheet& e = b.sheets[1];
    EXPECT_TRUE(e.columns.empty() && e.rows.empty() && e.merges.empty());
    ASSERT_TRUE(e.freeze.has_value());
    EXPECT_FALSE(e.freeze->rows || e.freeze->cols);
    EXPECT_FALSE(e.outline.has_value());
}

TEST(FromJson, ReadsEveryFieldFromTextAndValue) {
    Result<Workbook> text = from_json_str(FULL);
    ASSERT_TRUE(text.ok()) << text.error().message;
    check_full(text.value());
    Result<Workbook> value = from_json_value(value_of(FULL));
    ASSERT_TRUE(value.ok()) << value.error().message;
    check_full(value.value());
}

TEST(FromJson, NumberFormsOfFields) {
    Result<Workbook> b = from_json_str(R"({"sheets": [{"name": "S", "rows": [{"cells": [
        {"type": "number", "value": 3}, {"type": "number", "value": -2}, {"type": "number", "value": 1e2},
        {"type": "number", "value": 18446744073709551616}, {"type": "date", "value": -1}]}]}]})");
    ASSERT_TRUE(b.ok()) << b.error().message;
    const std::vector<Cell>& cells = b.value().sheets[0].rows[0].cells;
    EXPECT_EQ(std::get<NumberCell>(cells[0]).value, 3.0);
    EXPECT_EQ(std::get<NumberCell>(cells[1]).value, -2.0);
    EXPECT_EQ(std::get<NumberCell>(cells[2]).value, 100.0);
    EXPECT_EQ(std::get<NumberCell>(cells[3]).value, 18446744073709551616.0);
    EXPECT_EQ(std::get<double>(std::get<DateCell>(cells[4]).value), -1.0);
}

// An error inside a cell is placed where the list of cells goes on: at the next cell, or at the
// closing bracket of the last one.
TEST(FromJson, PositionsAcrossLines) {
    expect_error(from_json_str("{\"sheets\": [{\"name\": \"S\", \"rows\": [{\"cells\": [\n"
                               "  {\"type\": \"number\", \"value\": \"3\"},\n"
                               "  {\"type\": \"blank\"}\n"
                               "]}]}]}"),
                 ErrorCode::SchemaViolation, "invalid type: string \"3\", expected f64 at line 3 column 2");
    expect_error(from_json_str("{\"sheets\": [{\"name\": \"S\", \"rows\": [{\"cells\": [\n"
                               "  {\"type\": \"number\", \"value\": \"3\"}\n"
                               "]}]}]}"),
                 ErrorCode::SchemaViolation, "invalid type: string \"3\", expected f64 at line 3 column 1");
    expect_error(from_json_str("{\"sheets\": [\n{\"name\": \"S\",\n \"bogus\": 1}]}"), ErrorCode::SchemaViolation,
                 "unknown field `bogus`, expected one of `name`, `columns`, `rows`, `merges`, `freeze`, "
                 "`outline` at line 3 column 8");
    expect_error(from_json_str("{\"sheets\": [\n{\n}\n]}"), ErrorCode::SchemaViolation,
                 "missing field `name` at line 3 column 1");
}

TEST(FromJson, SyntaxErrorsKeepTheirCode) {
    expect_error(from_json_str(""), ErrorCode::InvalidJson, "EOF while parsing a value at line 1 column 0");
    expect_error(from_json_str(R"({"sheets": [{"name": "A"}]} {"sheets": []})"), ErrorCode::InvalidJson,
                 "trailing characters at line 1 column 29");
    expect_error(from_json_str(R"({"sheets": [{"name": "A",}]})"), ErrorCode::InvalidJson,
                 "trailing comma at line 1 column 26");
    // A syntax error inside a buffered cell is still a syntax error.
    expect_error(from_json_str(R"({"sheets": [{"name": "A", "rows": [{"cells": [{"type": "blank", "x": [1,]}]}]}]})"),
                 ErrorCode::InvalidJson, "trailing comma at line 1 column 73");
    std::string deep = R"({"sheets": [{"name": "A", "rows": [{"cells": [{"type": "blank", "x": )";
    deep += std::string(200, '[');
    Result<Workbook> r = from_json_str(deep);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().code, ErrorCode::InvalidJson);
    EXPECT_EQ(r.error().message.rfind("recursion limit exceeded at line 1 column ", 0), 0u);
}

TEST(FromJson, AcceptsWhatTheSchemaAllows) {
    constexpr std::string_view ok[] = {
        R"({"sheets": []})",
        R"({"sheets": [{"name": "S"}]})",
        R"({"schemaVersion": "anything at all", "locale": null, "sheets": []})",
        R"({"sheets": [{"name": "S", "freeze": {"rows": null, "cols": null}}]})",
        R"({"sheets": [{"name": "S", "rows": [{"cells": [{"type": "string", "value": "x", "note": 1}]}]}]})",
        R"({"sheets": [{"name": "S", "rows": [{"cells": [{"style": null, "type": "blank"}]}]}]})",
        R"({"sheets": [{"name": "S", "rows": [{"cells": [{"value": false, "type": "boolean", "x": {}, "value2": 1}]}]}]})",
    };
    for (std::string_view in : ok) {
        EXPECT_TRUE(from_json_str(in).ok()) << in;
        EXPECT_TRUE(from_json_value(value_of(in)).ok()) << in;
    }
}

TEST(FromJsonValue, MovesStringsOutOfTheValue) {
    const std::string long_text(100, 'x');
    json::Value cell = json::Value::object({{"type", json::Value::string("string")},
                                            {"value", json::Value::string(long_text)}});
    json::Value row = json::Value::object({{"cells", json::Value::array({})}});
    row.obj[0].second.arr.push_back(std::move(cell));
    const char* data = row.obj[0].second.arr[0].obj[1].second.s.data();
    Result<Row> r = row_from_value(std::move(row));
    ASSERT_TRUE(r.ok());
    const std::string& got = std::get<StringCell>(r.value().cells[0]).value;
    EXPECT_EQ(got, long_text);
    EXPECT_EQ(got.data(), data);  // the same buffer: moved, not copied
}

TEST(FromJsonValue, RecordReaders) {
    Result<Sheet> sheet = sheet_from_value(value_of(R"({"name": "S", "merges": ["A1:B1"]})"));
    ASSERT_TRUE(sheet.ok());
    EXPECT_EQ(sheet.value().merges.size(), 1u);
    expect_error(sheet_from_value(value_of(R"({"rows": []})")), ErrorCode::SchemaViolation, "missing field `name`");
    expect_error(row_from_value(value_of(R"({"cells": [], "note": 1})")), ErrorCode::SchemaViolation,
                 "unknown field `note`, expected one of `cells`, `outlineLevel`, `height`, `isTotal`");
    expect_error(column_from_value(value_of(R"({"width": "1"})")), ErrorCode::SchemaViolation,
                 "invalid type: string \"1\", expected f64");
    Result<CellStyle> style = cell_style_from_value(value_of(R"({"align": {"horizontal": {"right": null}}})"));
    ASSERT_TRUE(style.ok());
    EXPECT_EQ(style.value().align->horizontal, HAlign::Right);
    expect_error(cell_style_from_value(value_of("5")), ErrorCode::SchemaViolation,
                 "invalid type: integer `5`, expected struct CellStyle");
    Result<CurrencyFormat> cur = currency_format_from_value(value_of(R"({"code": "JPY", "symbol": false})"));
    ASSERT_TRUE(cur.ok());
    EXPECT_EQ(cur.value().code, "JPY");
    expect_error(currency_format_from_value(value_of(R"({"locale": "en"})")), ErrorCode::SchemaViolation,
                 "missing field `code`");
}

// A record may also be written as an array of its field values in declaration order.
struct PositionalCase {
    std::string_view in;
    std::string_view text_message;   // empty: accepted
    std::string_view value_message;  // "": the text message without its position
};
const PositionalCase POSITIONAL[] = {
    {R"([null, null, [["S", [], [[[{"type": "blank"}], 2, null, true]], ["A1:B1"], [1, 2], [true]]]])", "", ""},
    {R"({"sheets": [["S"]]})", "invalid length 4, expected struct Sheet with 6 elements at line 1 column 17", ""},
    {R"({"sheets": [{"name": "S", "rows": [[[]]]}]})",
     "invalid length 1, expected struct Row with 4 elements at line 1 column 39", ""},
    {R"({"sheets": [{"name": "S", "outline": []}]})",
     "invalid length 0, expected struct Outline with 1 element at line 1 column 39", ""},
    {R"({"sheets": [{"name": "S", "outline": [true, false]}]})", "trailing characters at line 1 column 45",
     "invalid length 2, expected fewer elements in array"},
    {R"({"sheets": [{"name": "S", "freeze": [1, -1]}]})",
     "invalid value: integer `-1`, expected u32 at line 1 column 42", ""},
};

TEST(FromJson, PositionalRecords) {
    for (const PositionalCase& c : POSITIONAL) {
        SCOPED_TRACE(std::string(c.in));
        Result<Workbook> text = from_json_str(c.in);
        Result<Workbook> value = from_json_value(value_of(c.in));
        if (c.text_message.empty()) {
            ASSERT_TRUE(text.ok()) << text.error().message;
            ASSERT_TRUE(value.ok()) << value.error().message;
            const Sheet& s = text.value().sheets[0];
            EXPECT_EQ(s.name, "S");
            EXPECT_EQ(s.rows[0].outline_level, 2u);
            EXPECT_EQ(s.rows[0].is_total, true);
            EXPECT_EQ(s.merges[0], "A1:B1");
            EXPECT_EQ(s.freeze->cols, 2u);
            EXPECT_EQ(value.value().sheets[0].outline->columns_collapsed, true);
            continue;
        }
        ASSERT_FALSE(text.ok());
        EXPECT_EQ(text.error().message, c.text_message);
        std::string want(c.value_message);
        if (want.empty()) want = c.text_message.substr(0, c.text_message.rfind(" at line "));
        expect_error(value, ErrorCode::SchemaViolation, want);
    }
}

struct RowsCase {
    std::string_view in, message;
};
const RowsCase ROWS_ERRORS[] = {
    {"", "EOF while parsing a value at line 1 column 0"},
    {"{}", "invalid type: map, expected a sequence at line 1 column 0"},
    {"[{\"cells\": []},]", "trailing comma at line 1 column 16"},
    {"[{\"cells\": [{\"type\": \"blank\"}], \"x\": 1}]", "unknown field `x`, expected one of `cells`, `outlineLevel`, "
                                                      "`height`, `isTotal` at line 1 column 35"},
    {"[{\"cells\": [{\"type\": \"number\", \"value\": true}]}]",
     "invalid type: boolean `true`, expected f64 at line 1 column 46"},
    {"[] []", "trailing characters at line 1 column 4"},
};

TEST(RowsFromJsonStr, EveryErrorIsASchemaViolation) {
    for (const RowsCase& c : ROWS_ERRORS) {
        SCOPED_TRACE(std::string(c.in));
        expect_error(rows_from_json_str(c.in), ErrorCode::SchemaViolation, c.message);
    }
    Result<std::vector<Row>> rows = rows_from_json_str(R"([{"cells": [{"type": "string", "value": "a"}]}, {"cells": []}])");
    ASSERT_TRUE(rows.ok());
    ASSERT_EQ(rows.value().size(), 2u);
    EXPECT_EQ(std::get<StringCell>(rows.value()[0].cells[0]).value, "a");
}

}  // namespace
}  // namespace tessary
