// The four read-out texts of a parsed workbook: JSON number layouts, string escaping, key order,
// CSV quoting and Markdown escaping, each checked byte for byte.
#include "parse/serialize.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "helpers.h"

namespace tessary::parse {
namespace {

using tessary::testing::expect_bytes;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

struct NumCase {
    double v;
    std::string plain, json;
};
const NumCase NUMBERS[] = {
    {0.0, "0", "0.0"},
    {-0.0, "-0", "-0.0"},
    {1, "1", "1.0"},
    {3, "3", "3.0"},
    {2.5, "2.5", "2.5"},
    {-2.5, "-2.5", "-2.5"},
    {0.1, "0.1", "0.1"},
    {12.5, "12.5", "12.5"},
    {45292, "45292", "45292.0"},
    {1e15, "1000000000000000", "1000000000000000.0"},
    {1e16, "10000000000000000", "1e+16"},
    {1.5e16, "15000000000000000", "1.5e+16"},
    {1e21, "1000000000000000000000", "1e+21"},
    {0.00001, "0.00001", "0.00001"},
    {0.000001, "0.000001", "1e-6"},
    {1.5e-7, "0.00000015", "1.5e-7"},
    {-1.5e-7, "-0.00000015", "-1.5e-7"},
    {1e-300, "0." + std::string(299, '0') + "1", "1e-300"},
    {1.7976931348623157e308, "17976931348623157" + std::string(292, '0'), "1.7976931348623157e+308"},
    {5e-324, "0." + std::string(323, '0') + "5", "5e-324"},
    {123456.789, "123456.789", "123456.789"},
    {9007199254740993.0, "9007199254740992", "9007199254740992.0"},
    {0.30000000000000004, "0.30000000000000004", "0.30000000000000004"},
    {999999999999999, "999999999999999", "999999999999999.0"},
    {-999999999999999, "-999999999999999", "-999999999999999.0"},
    {4503599627370495.5, "4503599627370495.5", "4503599627370495.5"},
    {-7, "-7", "-7.0"},
    {NaN, "NaN", "null"},
    {-NaN, "NaN", "null"},
    {INF, "inf", "null"},
    {-INF, "-inf", "null"},
};

TEST(Numbers, PlainAndJsonLayouts) {
    for (const NumCase& c : NUMBERS) {
        std::string plain = "<", json = "<";  // appenders keep what is there
        push_plain_number(plain, c.v);
        push_json_number(json, c.v);
        EXPECT_EQ(plain, "<" + c.plain) << c.json;
        EXPECT_EQ(json, "<" + c.json) << c.plain;
    }
}

// A sheet from cells given as a small literal language: each row a list of cells.
struct Cell {
    CellKind kind;
    std::string text;
    double number = 0;
    bool flag = false;
};
Cell S(std::string t) { return {CellKind::Str, std::move(t)}; }
Cell D(std::string t) { return {CellKind::DateText, std::move(t)}; }
Cell N(double v) { return {CellKind::Float, "", v}; }
Cell B(bool v) { return {CellKind::Bool, "", 0, v}; }
Cell E() { return {CellKind::Empty, ""}; }

ParsedSheet sheet_of(std::string name, const std::vector<std::vector<Cell>>& rows) {
    ParsedSheet s;
    s.name = std::move(name);
    for (const auto& row : rows) {
        for (const Cell& c : row) {
            switch (c.kind) {
                case CellKind::Empty: s.push_cell(CellValue::empty()); break;
                case CellKind::Float: s.push_cell(CellValue::num(c.number)); break;
                case CellKind::Bool: s.push_cell(CellValue::boolean(c.flag)); break;
                default: s.push_text(c.kind, c.text); break;
            }
        }
        s.end_row();
    }
    return s;
}

ParsedWorkbook book_of(std::vector<ParsedSheet> sheets) {
    ParsedWorkbook b;
    b.sheets = std::move(sheets);
    return b;
}

TEST(Serialize, NoSheets) {
    ParsedWorkbook empty;
    expect_bytes(to_json_grid(empty), "{\"sheets\":[]}");
    expect_bytes(to_json_typed(empty), "{\"schemaVersion\":\"1.0\",\"sheets\":[]}");
}

TEST(Serialize, OneRowOfEveryKindInAllFourForms) {
    ParsedWorkbook b = book_of({sheet_of("Q1", {{N(1), S("x"), B(true), E(), D("2024-01-01"), B(false)}})});
    expect_bytes(to_json_grid(b),
                 "{\"sheets\":[{\"name\":\"Q1\",\"rows\":["
                     "[1.0,\"x\",true,null,\"2024-01-01\",false]"
                 "]}]}");
    expect_bytes(to_json_typed(b),
                 "{\"schemaVersion\":\"1.0\",\"sheets\":[{\"name\":\"Q1\",\"rows\":["
                     "{\"cells\":["
                         "{\"type\":\"number\",\"value\":1.0},"
                         "{\"type\":\"string\",\"value\":\"x\"},"
                         "{\"type\":\"boolean\",\"value\":true},"
                         "{\"type\":\"blank\"},"
                         "{\"type\":\"date\",\"value\":\"2024-01-01\"},"
                         "{\"type\":\"boolean\",\"value\":false}"
                     "]}"
                 "]}]}");
    expect_bytes(to_csv(b.sheets[0]), "1,x,TRUE,,2024-01-01,FALSE\n");
    expect_bytes(to_markdown(b.sheets[0]),
                 "| 1 | x | TRUE |  | 2024-01-01 | FALSE |\n"
                 "| --- | --- | --- | --- | --- | --- |\n");
}

TEST(Serialize, RaggedRowsSheetsAndSpecialNumbers) {
    ParsedWorkbook b = book_of({
        sheet_of("A", {{N(1e16), N(0.000001)}, {}, {N(NaN), N(-INF)}}),
        sheet_of("say \"hi\"\\", {}),
    });
    expect_bytes(to_json_grid(b),
                 "{\"sheets\":["
                     "{\"name\":\"A\",\"rows\":[[1e+16,1e-6],[],[null,null]]},"
                     "{\"name\":\"say \\\"hi\\\"\\\\\",\"rows\":[]}"
                 "]}");
    expect_bytes(to_json_typed(b),
                 "{\"schemaVersion\":\"1.0\",\"sheets\":["
                     "{\"name\":\"A\",\"rows\":["
                         "{\"cells\":[{\"type\":\"number\",\"value\":1e+16},"
                                     "{\"type\":\"number\",\"value\":1e-6}]},"
                         "{\"cells\":[]},"
                         "{\"cells\":[{\"type\":\"number\",\"value\":null},"
                                     "{\"type\":\"number\",\"value\":null}]}"
                     "]},"
                     "{\"name\":\"say \\\"hi\\\"\\\\\",\"rows\":[]}"
                 "]}");
    expect_bytes(to_csv(b.sheets[0]), "10000000000000000,0.000001\n\nNaN,-inf\n");
    expect_bytes(to_csv(b.sheets[1]), "");
    expect_bytes(to_markdown(b.sheets[1]), "");
}

TEST(Serialize, JsonStringEscapes) {
    ParsedWorkbook b = book_of({sheet_of("s", {{S("a\x01" "b"), S("caf\xc3\xa9/"), S("t\tn\nr\rf\fb\b\x1f")}})});
    expect_bytes(to_json_grid(b),
                 "{\"sheets\":[{\"name\":\"s\",\"rows\":[["
                     "\"a\\u0001b\",\"caf\xc3\xa9/\",\"t\\tn\\nr\\rf\\fb\\b\\u001f\""
                 "]]}]}");
}

struct CsvCase {
    std::string_view text, field;
};
constexpr CsvCase CSV_FIELDS[] = {
    {"plain", "plain"},
    {"a,b", "\"a,b\""},
    {"a\"b", "\"a\"\"b\""},
    {"\"\"", "\"\"\"\"\"\""},
    {"two\nlines", "\"two\nlines\""},
    {"cr\rhere", "\"cr\rhere\""},
    {" lead", " lead"},
    {"semi;colon|pipe", "semi;colon|pipe"},
};

TEST(Csv, QuotesFieldsThatNeedIt) {
    for (const CsvCase& c : CSV_FIELDS) {
        ParsedSheet s = sheet_of("s", {{S(std::string(c.text)), S(std::string(c.text))}});
        std::string f(c.field);
        EXPECT_EQ(to_csv(s), f + "," + f + "\n") << c.text;
    }
}

TEST(Markdown, EscapesPipesAndLineFeedsOnly) {
    ParsedSheet s = sheet_of("s", {{S("a|b")}, {S("two\nlines"), S("back\\slash\r*md*"), N(2.5)}});
    expect_bytes(to_markdown(s),
                 "| a\\|b |  |  |\n"
                 "| --- | --- | --- |\n"
                 "| two lines | back\\slash\r*md* | 2.5 |\n");
}

TEST(Markdown, RowsOfWidthZero) {
    ParsedSheet s = sheet_of("s", {{}, {}});
    expect_bytes(to_markdown(s), "|\n|\n|\n");
}

TEST(Markdown, MdRowPadsToWidth) {
    ParsedSheet s = sheet_of("s", {{S("a"), S("b")}});
    std::string out = "x";
    md_row(out, s, s.row(0), 3);
    expect_bytes(out, "x| a | b |  |\n");
}

TEST(Serialize, SharedArenaCells) {
    auto arena = std::make_shared<const std::string>("helloworld");
    ParsedSheet s;
    s.name = "s";
    s.set_shared(arena);
    s.push_shared(5, 5);
    s.push_text(CellKind::Str, "own");
    s.push_shared(0, 5);
    s.end_row();
    ParsedWorkbook b = book_of({});
    b.sheets.push_back(std::move(s));
    expect_bytes(to_csv(b.sheets[0]), "world,own,hello\n");
    expect_bytes(to_json_grid(b), "{\"sheets\":[{\"name\":\"s\",\"rows\":[[\"world\",\"own\",\"hello\"]]}]}");
}

}  // namespace
}  // namespace tessary::parse
