// The row renderer: row attributes, every cell kind, effective styles, date texts, the column cache
// and what a failed row leaves behind.
#include <random>
#include <string>
#include <vector>

#include "helpers.h"
#include "numfmt.h"
#include "style.h"
#include "worksheet.h"
#include "xml.h"

namespace tessary {
namespace {

using testing::expect_bytes;
using testing::expect_error;

CellStyle fill_style(std::string color) {
    CellStyle s;
    s.fill = std::move(color);
    return s;
}

CellStyle bold_style(bool bold) {
    CellStyle s;
    s.font = Font{};
    s.font->bold = bold;
    return s;
}

CurrencyFormat usd(std::optional<uint32_t> decimals = std::nullopt) {
    CurrencyFormat f;
    f.code = "USD";
    f.decimals = decimals;
    return f;
}

DateFormat date_format(std::optional<DateKind> kind, std::optional<std::string> raw = {}) {
    return DateFormat{kind, std::move(raw)};
}

std::string lints_text(const Diagnostics& lints) {
    std::string out;
    for (const Lint& lint : lints.lints()) {
        out += lint_name(lint.code);
        out += ": ";
        out += lint.message;
        out += '\n';
    }
    return out;
}

struct Rendered {
    std::string xml;
    StyleTable styles;
    Diagnostics lints;
};

Rendered render(const Row& row, uint32_t index = 0, const std::vector<Column>& columns = {},
                std::string_view locale = "en-US") {
    Rendered r;
    ColCache cache;
    Status s = row_xml(r.xml, columns, row, index, locale, r.styles, r.lints, cache);
    EXPECT_TRUE(s.ok()) << (s.ok() ? "" : s.error().message);
    return r;
}

Row row_of(std::vector<Cell> cells) {
    Row row;
    row.cells = std::move(cells);
    return row;
}

TEST(RowXml, RowAttributes) {
    struct Case {
        uint32_t index;
        std::optional<double> height;
        std::optional<uint32_t> level;
        std::string_view want, lints;
    };
    const Case cases[] = {
        {0, {}, {}, "<row r=\"1\"></row>", ""},
        {4, 20, {}, "<row r=\"5\" ht=\"20\" customHeight=\"1\"></row>", ""},
        {0, 12.75, 3, "<row r=\"1\" ht=\"12.75\" customHeight=\"1\" outlineLevel=\"3\"></row>", ""},
        {0, {}, 0, "<row r=\"1\"></row>", ""},
        {0, {}, 7, "<row r=\"1\" outlineLevel=\"7\"></row>", ""},
        {0, {}, 9, "<row r=\"1\" outlineLevel=\"7\"></row>",
         "ClampedOutlineLevel: outline level 9 clamped to 7\n"},
        {0, -1, UINT32_MAX, "<row r=\"1\" ht=\"-1\" customHeight=\"1\" outlineLevel=\"7\"></row>",
         "ClampedOutlineLevel: outline level 4294967295 clamped to 7\n"},
        {0, std::nan(""), {}, "<row r=\"1\" ht=\"0\" customHeight=\"1\"></row>", ""},
        {UINT32_MAX, {}, {}, "<row r=\"4294967296\"></row>", ""},
    };
    for (const Case& c : cases) {
        Row row;
        row.height = c.height;
        row.outline_level = c.level;
        Rendered r = render(row, c.index);
        expect_bytes(r.xml, c.want);
        EXPECT_EQ(lints_text(r.lints), c.lints);
    }
}

// One cell in column A of row 5 of a fresh table: the cell's text, and the cell format and custom
// number formats that the table holds afterwards.
struct CellCase {
    const char* name;
    Cell cell;
    std::string_view want;
    std::string_view xf;       // the table's last cell format, when the cell needs one
    std::string_view numfmt;   // the custom code, when one was made
};

void check_cells(const std::vector<CellCase>& cases, std::string_view locale = "en-US") {
    for (const CellCase& c : cases) {
        SCOPED_TRACE(c.name);
        Rendered r = render(row_of({c.cell}), 4, {}, locale);
        expect_bytes(r.xml, "<row r=\"5\">" + std::string(c.want) + "</row>");
        const Interner& xfs = r.styles.cell_formats();
        if (c.xf.empty()) {
            EXPECT_EQ(xfs.size(), 1u);
        } else {
            ASSERT_EQ(xfs.size(), 2u);
            EXPECT_EQ(xfs[1], c.xf);
        }
        if (c.numfmt.empty()) {
            EXPECT_TRUE(r.styles.custom_formats().empty());
        } else {
            ASSERT_EQ(r.styles.custom_formats().size(), 1u);
            EXPECT_EQ(r.styles.custom_formats()[0].code, c.numfmt);
        }
    }
}

TEST(RowXml, CellKinds) {
    check_cells({
        {"number", NumberCell{42, {}, {}}, "<c r=\"A5\"><v>42</v></c>", "", ""},
        {"negative fraction", NumberCell{-2.5, {}, {}}, "<c r=\"A5\"><v>-2.5</v></c>", "", ""},
        {"NaN", NumberCell{std::nan(""), {}, {}}, "<c r=\"A5\"><v>0</v></c>", "", ""},
        {"number with format", NumberCell{1234.5, NumberFormat{2, {}, {}, {}}, {}},
         "<c r=\"A5\" s=\"1\"><v>1234.5</v></c>",
         "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         "#,##0.00"},
        {"string", StringCell{"a<b", {}},
         "<c r=\"A5\" t=\"inlineStr\"><is><t xml:space=\"preserve\">a&lt;b</t></is></c>", "", ""},
        {"string with an escape-like run", StringCell{"_x0041_ & \x01", {}},
         "<c r=\"A5\" t=\"inlineStr\"><is><t xml:space=\"preserve\">_x005F_x0041_ &amp; </t></is>"
         "</c>",
         "", ""},
        {"empty string", StringCell{"", {}},
         "<c r=\"A5\" t=\"inlineStr\"><is><t xml:space=\"preserve\"></t></is></c>", "", ""},
        {"true", BooleanCell{true, {}}, "<c r=\"A5\" t=\"b\"><v>1</v></c>", "", ""},
        {"false", BooleanCell{false, {}}, "<c r=\"A5\" t=\"b\"><v>0</v></c>", "", ""},
        {"blank", BlankCell{}, "<c r=\"A5\"/>", "", ""},
        {"currency 2 decimals", CurrencyCell{12345, usd(2), {}},
         "<c r=\"A5\" s=\"1\"><v>123.45</v></c>",
         "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         "\"$\"#,##0.00"},
        {"currency default decimals", CurrencyCell{12345, usd(), {}},
         "<c r=\"A5\" s=\"1\"><v>123.45</v></c>",
         "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         "\"$\"#,##0.00"},
        {"currency 0 decimals", CurrencyCell{12345, usd(0), {}},
         "<c r=\"A5\" s=\"1\"><v>12345</v></c>",
         "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         "\"$\"#,##0"},
        {"currency negative 3 decimals", CurrencyCell{-1, usd(3), {}},
         "<c r=\"A5\" s=\"1\"><v>-0.001</v></c>",
         "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         "\"$\"#,##0.000"},
        {"currency 40 decimals", CurrencyCell{5, usd(40), {}},
         "<c r=\"A5\" s=\"1\"><v>0.0000000000000000000000000000000000000005</v></c>",
         "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         "\"$\"#,##0.000000000000000000000000000000"},
        {"currency largest amount", CurrencyCell{INT64_MAX, usd(0), {}},
         "<c r=\"A5\" s=\"1\"><v>9223372036854776000</v></c>",
         "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         "\"$\"#,##0"},
        {"percent", PercentCell{0.256, {}, {}}, "<c r=\"A5\" s=\"1\"><v>0.256</v></c>",
         "<xf numFmtId=\"10\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         ""},
        {"percent 0 decimals", PercentCell{1.5, 0, {}}, "<c r=\"A5\" s=\"1\"><v>1.5</v></c>",
         "<xf numFmtId=\"9\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         ""},
        {"percent 1 decimal", PercentCell{-0.5, 1, {}}, "<c r=\"A5\" s=\"1\"><v>-0.5</v></c>",
         "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         "0.0%"},
        {"date text", DateCell{std::string("2024-01-15"), {}, {}},
         "<c r=\"A5\" s=\"1\"><v>45306</v></c>",
         "<xf numFmtId=\"14\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         ""},
        {"date serial", DateCell{45000.5, {}, {}}, "<c r=\"A5\" s=\"1\"><v>45000.5</v></c>",
         "<xf numFmtId=\"14\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         ""},
        {"datetime", DateCell{std::string("2024-01-15T12:00"), date_format(DateKind::Datetime), {}},
         "<c r=\"A5\" s=\"1\"><v>45306.5</v></c>",
         "<xf numFmtId=\"22\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         ""},
        {"month-year", DateCell{std::string("2024-01-15"), date_format(DateKind::MonthYear), {}},
         "<c r=\"A5\" s=\"1\"><v>45306</v></c>",
         "<xf numFmtId=\"17\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         ""},
        {"format without kind", DateCell{1.0, date_format(std::nullopt), {}},
         "<c r=\"A5\" s=\"1\"><v>1</v></c>",
         "<xf numFmtId=\"14\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         ""},
        {"raw date code wins over kind",
         DateCell{std::string("2024-01-15"), date_format(DateKind::MonthYear, "yyyy-mm-dd"), {}},
         "<c r=\"A5\" s=\"1\"><v>45306</v></c>",
         "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
         "applyNumberFormat=\"1\"/>",
         "yyyy-mm-dd"},
        {"date text that is not a date", DateCell{std::string("2024/01/15"), {}, {}},
         "<c r=\"A5\" t=\"inlineStr\"><is><t xml:space=\"preserve\">2024/01/15</t></is></c>", "",
         ""},
        {"not a date, custom code unused",
         DateCell{std::string("soon & later"), date_format(DateKind::Date, "yyyy"), {}},
         "<c r=\"A5\" t=\"inlineStr\"><is><t xml:space=\"preserve\">soon &amp; later</t></is></c>",
         "", ""},
    });
}

TEST(RowXml, CurrencyUsesTheLocale) {
    CurrencyFormat eur;
    eur.code = "EUR";
    CurrencyFormat own = eur;
    own.locale = "en-GB";
    check_cells({{"workbook locale", CurrencyCell{250, eur, {}},
                  "<c r=\"A5\" s=\"1\"><v>2.5</v></c>",
                  "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
                  "applyNumberFormat=\"1\"/>",
                  "#,##0.00\"\xE2\x82\xAC\""},
                 {"own locale", CurrencyCell{250, own, {}}, "<c r=\"A5\" s=\"1\"><v>2.5</v></c>",
                  "<xf numFmtId=\"164\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
                  "applyNumberFormat=\"1\"/>",
                  "\"\xE2\x82\xAC\"#,##0.00"}},
                "de-DE");
}

TEST(RowXml, CellsFollowColumnPositions) {
    std::vector<Column> columns(2);
    columns[1].style = fill_style("#FF0000");
    Rendered r = render(row_of({NumberCell{1, {}, {}}, StringCell{"x", {}}, BlankCell{},
                                BooleanCell{true, {}}}),
                        9, columns);
    expect_bytes(r.xml,
                 "<row r=\"10\">"
                   "<c r=\"A10\"><v>1</v></c>"
                   "<c r=\"B10\" s=\"1\" t=\"inlineStr\"><is><t xml:space=\"preserve\">x</t></is></c>"
                   "<c r=\"C10\"/>"
                   "<c r=\"D10\" t=\"b\"><v>1</v></c>"
                 "</row>");
    EXPECT_EQ(r.styles.cell_formats()[1],
              "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"2\" borderId=\"0\" xfId=\"0\" "
              "applyFill=\"1\"/>");
}

// Column style, then the total-row style (bold, thin top border), then the cell's own style.
TEST(RowXml, TotalRowStyles) {
    std::vector<Column> columns(3);
    columns[0].style = fill_style("00ff00");
    CellStyle italic;
    italic.font = Font{};
    italic.font->italic = true;
    Row row = row_of({NumberCell{10, {}, {}}, NumberCell{20, {}, bold_style(false)},
                      StringCell{"sum", italic}, BlankCell{}});
    row.is_total = true;
    Rendered r = render(row, 2, columns);
    expect_bytes(r.xml,
                 "<row r=\"3\">"
                   "<c r=\"A3\" s=\"1\"><v>10</v></c>"
                   "<c r=\"B3\" s=\"2\"><v>20</v></c>"
                   "<c r=\"C3\" s=\"3\" t=\"inlineStr\"><is><t xml:space=\"preserve\">sum</t></is></c>"
                   "<c r=\"D3\" s=\"4\"/>"
                 "</row>");
    const Interner& fonts = r.styles.fonts();
    ASSERT_EQ(fonts.size(), 3u);
    EXPECT_EQ(fonts[1],
              "<font><b/><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/>"
              "<family val=\"2\"/></font>");
    EXPECT_EQ(fonts[2],
              "<font><b/><i/><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/>"
              "<family val=\"2\"/></font>");
    ASSERT_EQ(r.styles.borders().size(), 2u);
    EXPECT_EQ(r.styles.borders()[1],
              "<border><left/><right/><top style=\"thin\"><color rgb=\"FF000000\"/></top>"
              "<bottom/><diagonal/></border>");
    const Interner& xfs = r.styles.cell_formats();
    ASSERT_EQ(xfs.size(), 5u);
    EXPECT_EQ(xfs[1], "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"2\" borderId=\"1\" xfId=\"0\" "
                      "applyFont=\"1\" applyFill=\"1\" applyBorder=\"1\"/>");
    // bold false from the cell wins over the total row's bold: the default font
    EXPECT_EQ(xfs[2], "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"1\" xfId=\"0\" "
                      "applyBorder=\"1\"/>");
    EXPECT_EQ(xfs[3], "<xf numFmtId=\"0\" fontId=\"2\" fillId=\"0\" borderId=\"1\" xfId=\"0\" "
                      "applyFont=\"1\" applyBorder=\"1\"/>");
    EXPECT_EQ(xfs[4], "<xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"1\" xfId=\"0\" "
                      "applyFont=\"1\" applyBorder=\"1\"/>");
}

// A style that sets nothing takes the plain path and the default cell format.
TEST(RowXml, EmptyStylesAreThePlainFormat) {
    std::vector<Column> columns(1);
    columns[0].style = CellStyle{};
    Rendered r = render(row_of({NumberCell{1, {}, CellStyle{}}, PercentCell{0.5, {}, CellStyle{}}}),
                        0, columns);
    expect_bytes(r.xml, "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\" s=\"1\"><v>0.5</v></c></row>");
    EXPECT_EQ(r.styles.cell_formats().size(), 2u);
}

struct DateCase {
    std::string_view text;
    double serial;
};

TEST(DateSerial, ParsesDateTexts) {
    const DateCase cases[] = {
        {"2024-01-15", 45306},
        {"2024-01-15T12:00", 45306.5},
        {"1970-01-01T06:00:00", 25569.25},
        {"1899-12-30", 0},
        {"1899-12-31", 1},
        {"1900-03-01", 61},
        {"1900-02-28", 60},
        {"1900-01-01", 2},
        {"1899-12-29", -1},
        {"0000-03-01", -693899},
        {"0000-01-01", -693959},
        {"2024-02-31", 45353},        // counts on into March: 2024-03-02
        {"2023-02-29", 44986},        // 2023-03-01
        {"9999-12-31", 2958465},
        {"+2024-+01-+15", 45306},
        {"02024-001-015", 45306},
        {"2024-01-15T+1:-30:90", 45306 + (3600 - 1800 + 90) / 86400.0},
        {"2024-01-15T1.5:0", 45306.0625},
        {"2024-01-15T1e1:.5:5.", 45306 + (36000 + 30 + 5) / 86400.0},
        {"2024-01-15T48:00", 45308},
        {"2024-01-15T-6:00", 45305.75},
        {"10000-01-01", 2958466},
        {"9223372036854775807-12-31", 3.36876746117093e21},
        {"4000000000000000000-03-01", 1.4609699999999994e21},
    };
    for (const DateCase& c : cases) {
        std::optional<double> got = date_serial(c.text);
        ASSERT_TRUE(got.has_value()) << c.text;
        EXPECT_DOUBLE_EQ(*got, c.serial) << c.text;
    }
}

// Years where 64-bit day arithmetic would overflow are computed exactly in wider arithmetic; the
// serial is the nearest double to the exact day count (expected values from Python integers).
TEST(DateSerial, LargeYearsAreExact) {
    const DateCase cases[] = {
        {"25000000000000000-06-15", 9.131062499999306e+18},
        {"100000000000000000-02-29", 3.6524249999999308e+19},
        {"2500000000000000000-06-15", 9.131062499999993e+20},
        {"9223372036854775807-01-01", 3.36876746117093e+21},
        {"2500000000000-01-01", 913106249306041},
        {"999999999999999-12-31", 3.6524249999930605e+17},
        {"1000000000000000-01-01", 3.6524249999930605e+17},
    };
    for (const DateCase& c : cases) {
        std::optional<double> got = date_serial(c.text);
        ASSERT_TRUE(got.has_value()) << c.text;
        EXPECT_EQ(*got, c.serial) << c.text;
    }
}

TEST(DateSerial, RejectsOtherTexts) {
    constexpr std::string_view cases[] = {
        "2024-13-01", "2024-00-01", "2024-01-32", "2024-01-00", "2024/01/15", "2024-01-15 10:00",
        "2024-01-15T", "2024-01-15T10", "15.01.2024", "", "-", "--", "2024-01", "2024-01-15-1",
        "-2024-01-15", "2024--01-15", "2024-1 -15", " 2024-01-15", "2024-01-15t10:00",
        "2024-01-15T10:00:00:00", "2024-01-15T10::00", "2024-01-15T10:00:", "2024-01-15Tinf:00",
        "2024-01-15Tnan:00", "2024-01-15T1e999:00", "2024-01-15T10:00Z",
        "2024-01-15T10:00+01:00", "2024-01-15T0x10:00", "++2024-01-15", "2024-+-1-15",
        "9223372036854775808-01-01", "2024-18446744073709551617-01", "T10:00",
        "2024-01-15T1e308:1e308",
    };
    for (std::string_view c : cases) EXPECT_FALSE(date_serial(c).has_value()) << c;
}

TEST(RowXml, UnparsedDateTextsAreStrings) {
    for (std::string_view text : {"2024-13-01", "2024-01-32", "2024/01/15", "2024-01-15 10:00",
                                  "2024-01-15T", "2024-01-15T10", "15.01.2024"}) {
        Rendered r = render(row_of({DateCell{std::string(text), date_format(DateKind::Datetime), {}}}));
        expect_bytes(r.xml, "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t xml:space=\"preserve\">" +
                                std::string(text) + "</t></is></c></row>");
        EXPECT_EQ(r.styles.cell_formats().size(), 1u) << "general format, no cell format";
    }
}

TEST(RowXml, ColumnCacheFollowsTheSpecification) {
    CurrencyFormat usd_red = usd();
    usd_red.negative = Negative::Red;
    std::vector<Row> rows = {
        row_of({CurrencyCell{100, usd(), {}}}),
        row_of({CurrencyCell{200, usd(), {}}}),     // same specification: same index
        row_of({CurrencyCell{300, usd_red, {}}}),   // another: its own index, replaces the entry
        row_of({CurrencyCell{400, usd(), {}}}),     // back: the first index again
        row_of({CurrencyCell{500, usd(2), {}}}),    // decimals 2 given is not decimals absent
        row_of({NumberCell{1, {}, {}}}),            // another kind in the same column
    };
    std::string xml;
    StyleTable styles;
    Diagnostics lints;
    ColCache cache;
    for (size_t i = 0; i < rows.size(); ++i) {
        ASSERT_TRUE(row_xml(xml, {}, rows[i], static_cast<uint32_t>(i), "en-US", styles, lints, cache).ok());
    }
    expect_bytes(xml,
                 "<row r=\"1\"><c r=\"A1\" s=\"1\"><v>1</v></c></row>"
                 "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>2</v></c></row>"
                 "<row r=\"3\"><c r=\"A3\" s=\"2\"><v>3</v></c></row>"
                 "<row r=\"4\"><c r=\"A4\" s=\"1\"><v>4</v></c></row>"
                 "<row r=\"5\"><c r=\"A5\" s=\"1\"><v>5</v></c></row>"
                 "<row r=\"6\"><c r=\"A6\"><v>1</v></c></row>");
    ASSERT_EQ(cache.size(), 1u);
    const std::optional<ColEntry>& entry = cache.slot(0).entry;
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->kind, ColEntry::Kind::Number);
    EXPECT_EQ(styles.cell_formats().size(), 3u);
}

// A row that fails part-way leaves the buffer and the lint list as they were, and the next row
// renders as if the failed one had never been tried.
TEST(RowXml, FailedRowLeavesNothingBehind) {
    std::string xml = "<sheetData>";
    StyleTable styles;
    Diagnostics lints;
    lints.push(LintCode::ClampedFreeze, "earlier");
    ColCache cache;
    Row bad = row_of({NumberCell{1, {}, {}}, StringCell{"two", fill_style("#00FF00")},
                      NumberCell{3, {}, {}}, StringCell{"four", fill_style("red")}});
    bad.outline_level = 9;
    bad.height = 30;
    expect_error(row_xml(xml, {}, bad, 0, "en-US", styles, lints, cache), ErrorCode::BadColor,
                 "invalid colour \"red\"; expected #rrggbb hex");
    EXPECT_EQ(xml, "<sheetData>");
    EXPECT_EQ(lints_text(lints), "ClampedFreeze: earlier\n");

    // A bad column style fails every cell of its column, on any path, even with a cache that
    // holds an index for the column from rendering with another column list.
    std::vector<Column> columns(1);
    columns[0].style = fill_style("#12345");
    for (Cell cell : {Cell{NumberCell{1, {}, {}}}, Cell{StringCell{"s", {}}},
                      Cell{NumberCell{1, {}, bold_style(true)}}}) {
        expect_error(row_xml(xml, columns, row_of({cell}), 0, "en-US", styles, lints, cache),
                     ErrorCode::BadColor, "invalid colour \"#12345\"; expected #rrggbb hex");
        EXPECT_EQ(xml, "<sheetData>");
    }

    Row good = row_of({NumberCell{1, {}, {}}, StringCell{"two", fill_style("#00FF00")}});
    ASSERT_TRUE(row_xml(xml, {}, good, 0, "en-US", styles, lints, cache).ok());
    expect_bytes(xml,
                 "<sheetData>"
                 "<row r=\"1\">"
                   "<c r=\"A1\"><v>1</v></c>"
                   "<c r=\"B1\" s=\"1\" t=\"inlineStr\"><is><t xml:space=\"preserve\">two</t></is></c>"
                 "</row>");
}

// ---- The caches never change the output ----

// The effective style of a cell without any cache: a copy of the column style, the total-row
// style, then the cell's own style.
CellStyle reference_style(const std::vector<Column>& columns, size_t i, const Row& row,
                          const std::optional<CellStyle>& own) {
    CellStyle s;
    if (i < columns.size() && columns[i].style) s = *columns[i].style;
    if (row.is_total.value_or(false)) {
        CellStyle total;
        total.font = Font{};
        total.font->bold = true;
        total.border = Border{};
        total.border->top = BorderEdge{BorderStyle::Thin, std::nullopt};
        overlay(s, total);
    }
    if (own) overlay(s, *own);
    return s;
}

// Renders rows cell by cell through intern_record alone: no column cache, no plain-format map.
std::string reference_rows(const std::vector<Column>& columns, const std::vector<Row>& rows,
                           std::string_view locale, StyleTable& styles) {
    std::string out;
    for (size_t r = 0; r < rows.size(); ++r) {
        const Row& row = rows[r];
        out += "<row r=\"" + std::to_string(r + 1) + "\">";
        for (size_t i = 0; i < row.cells.size(); ++i) {
            const Cell& cell = row.cells[i];
            std::optional<CellStyle> own;
            NumFmtKey key;
            std::string type, content;
            std::visit([&](const auto& c) { if (c.style) own = *c.style; }, cell);
            if (auto* n = std::get_if<NumberCell>(&cell)) {
                if (n->format) key = number(*n->format);
                content = "<v>";
                push_num(content, n->value);
            } else if (auto* c = std::get_if<CurrencyCell>(&cell)) {
                key = currency(c->currency, locale);
                content = "<v>";
                push_num(content, static_cast<double>(c->value) /
                                      std::pow(10.0, c->currency.decimals.value_or(2)));
            } else if (auto* p = std::get_if<PercentCell>(&cell)) {
                key = percent(p->decimals.value_or(2));
                content = "<v>";
                push_num(content, p->value);
            } else if (auto* d = std::get_if<DateCell>(&cell)) {
                const std::string& text = std::get<std::string>(d->value);
                if (std::optional<double> serial = date_serial(text)) {
                    key = date_key(d->format);
                    content = "<v>";
                    push_num(content, *serial);
                } else {
                    type = " t=\"inlineStr\"";
                    content = "<is><t xml:space=\"preserve\">";
                    escape_cell_text_into(content, text);
                    content += "</t></is>";
                }
            } else if (auto* s = std::get_if<StringCell>(&cell)) {
                type = " t=\"inlineStr\"";
                content = "<is><t xml:space=\"preserve\">";
                escape_cell_text_into(content, s->value);
                content += "</t></is>";
            } else if (auto* b = std::get_if<BooleanCell>(&cell)) {
                type = " t=\"b\"";
                content = b->value ? "<v>1" : "<v>0";
            }
            if (content.rfind("<v>", 0) == 0) content += "</v>";
            Result<uint32_t> index =
                styles.intern_record(reference_style(columns, i, row, own), key);
            EXPECT_TRUE(index.ok());
            write_open_tag(out, r + 1, static_cast<uint32_t>(i), index.value(), type);
            out += content.empty() ? "/>" : ">" + content + "</c>";
        }
        out += "</row>";
    }
    return out;
}

// Random rows over a handful of formats and styles, with styled and unstyled columns, cell styles
// and total rows mixed in, so that every cell meets the cache in some state (hit, miss, replaced).
TEST(RowXml, CachesNeverChangeTheOutput) {
    std::mt19937 rng(7);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    CellStyle border_style;
    border_style.border = Border{};
    border_style.border->bottom = BorderEdge{BorderStyle::Double, std::string("#0000FF")};
    CellStyle wrap_style;
    wrap_style.align = Align{HAlign::Center, VAlign::Middle, true};
    const std::vector<std::optional<CellStyle>> styles_pool = {
        std::nullopt, std::nullopt, std::nullopt, bold_style(true), bold_style(false),
        fill_style("#ABCDEF"), border_style, wrap_style, CellStyle{},
    };
    const std::vector<std::optional<NumberFormat>> number_pool = {
        std::nullopt, NumberFormat{}, NumberFormat{2, false, Negative::Red, {}},
        NumberFormat{{}, {}, {}, std::string("0.0E+00")}, NumberFormat{0, true, {}, {}},
    };
    CurrencyFormat eur;
    eur.code = "EUR";
    CurrencyFormat chf_plain;
    chf_plain.code = "CHF";
    chf_plain.symbol = false;
    chf_plain.locale = "de-CH";
    CurrencyFormat eur_us = eur;
    eur_us.locale = "en-US";
    const std::vector<CurrencyFormat> currency_pool = {usd(), usd(2), usd(0), eur, eur_us,
                                                       chf_plain};
    const std::vector<std::optional<uint32_t>> percent_pool = {std::nullopt, 0, 1, 2, 3};
    const std::vector<std::optional<DateFormat>> date_pool = {
        std::nullopt, date_format(DateKind::Date), date_format(DateKind::Datetime),
        date_format(DateKind::MonthYear), date_format(std::nullopt, "d mmm yyyy"),
        date_format(DateKind::Date, "yyyy"),
    };
    const std::vector<std::string> date_texts = {"2024-01-15", "2024-01-15T08:30",
                                                 "not a date", "1900-02-29"};

    std::vector<Column> columns(6);
    columns[1].style = fill_style("#ABCDEF");
    columns[3].style = bold_style(true);
    columns[4].style = CellStyle{};
    std::vector<Row> rows;
    for (int r = 0; r < 600; ++r) {
        Row row;
        row.is_total = pick(10) == 0;
        size_t n = 1 + pick(8);
        for (size_t i = 0; i < n; ++i) {
            // Columns favour one kind each so the cache sees long runs as well as changes.
            size_t kind = pick(3) == 0 ? pick(7) : (i % 7);
            std::optional<CellStyle> style = styles_pool[pick(styles_pool.size())];
            switch (kind) {
                case 0: row.cells.push_back(StringCell{"s&" + std::to_string(pick(5)), style}); break;
                case 1:
                    row.cells.push_back(NumberCell{static_cast<double>(pick(1000)) / 8,
                                                   number_pool[pick(number_pool.size())], style});
                    break;
                case 2:
                    row.cells.push_back(CurrencyCell{static_cast<int64_t>(pick(100000)) - 500,
                                                     currency_pool[pick(currency_pool.size())],
                                                     style});
                    break;
                case 3:
                    row.cells.push_back(PercentCell{static_cast<double>(pick(100)) / 100,
                                                    percent_pool[pick(percent_pool.size())], style});
                    break;
                case 4:
                    row.cells.push_back(DateCell{date_texts[pick(date_texts.size())],
                                                 date_pool[pick(date_pool.size())], style});
                    break;
                case 5: row.cells.push_back(BooleanCell{pick(2) == 0, style}); break;
                default: row.cells.push_back(BlankCell{style}); break;
            }
        }
        rows.push_back(std::move(row));
    }

    StyleTable styles;
    Diagnostics lints;
    ColCache cache;
    std::string got;
    for (size_t r = 0; r < rows.size(); ++r) {
        ASSERT_TRUE(row_xml(got, columns, rows[r], static_cast<uint32_t>(r), "fr-FR", styles, lints,
                            cache)
                        .ok());
    }
    StyleTable reference_styles;
    std::string want = reference_rows(columns, rows, "fr-FR", reference_styles);
    expect_bytes(got, want);
    expect_bytes(styles.to_xml(), reference_styles.to_xml());
    EXPECT_GT(styles.cell_formats().size(), 40u) << "the input should exercise many formats";
}

}  // namespace
}  // namespace tessary
