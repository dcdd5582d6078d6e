// Number text, column letters, A1 references and the worksheet frame (prefix and suffix).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "helpers.h"
#include "worksheet.h"

namespace tessary {
namespace {

using testing::expect_bytes;
using testing::expect_error;

struct NumCase {
    double in;
    std::string_view want;
};

// Expected texts printed by Python: repr() digits laid out by Decimal in positional form.
constexpr NumCase NUMBERS[] = {
    {3.0, "3"},
    {-0.0, "0"},
    {-2.5, "-2.5"},
    {1e+16, "10000000000000000"},
    {0.1, "0.1"},
    {9000000000000000.0, "9000000000000000"},
    {8999999999999999.0, "8999999999999999"},
    {-8999999999999999.0, "-8999999999999999"},
    {1e+21, "1000000000000000000000"},
    {1.5e-07, "0.00000015"},
    {123.45, "123.45"},
    {-123.45, "-123.45"},
    {0.256, "0.256"},
    {0.3333333333333333, "0.3333333333333333"},
    {-0.6666666666666666, "-0.6666666666666666"},
    {1.2345678901234569e+23, "123456789012345690000000"},
    {1000000000000000.5, "1000000000000000.5"},
    {999999999999999.9, "999999999999999.9"},
    {0.30000000000000004, "0.30000000000000004"},
    {1e-05, "0.00001"},
    {45306.5, "45306.5"},
    {4503599627370497.0, "4503599627370497"},
    {9007199254740992.0, "9007199254740992"},
    {0.000123, "0.000123"},
    {100.001, "100.001"},
    {12345678.9, "12345678.9"},
    {1e+22, "10000000000000000000000"},
    {1.0000000000000002, "1.0000000000000002"},
    {0.9999999999999999, "0.9999999999999999"},
    {123456.123456789, "123456.123456789"},
    {0.1234567891, "0.1234567891"},
    {-9.0, "-9"},
    {9.5e15, "9500000000000000"},
    {-1e21, "-1000000000000000000000"},
};

TEST(PushNum, WritesShortestPositionalText) {
    for (const NumCase& c : NUMBERS) {
        std::string out = "<v>";
        push_num(out, c.in);
        EXPECT_EQ(out, "<v>" + std::string(c.want)) << "value " << c.in;
    }
}

TEST(PushNum, WritesExtremesWithoutExponent) {
    struct Case {
        double in;
        std::string want;
    };
    const Case cases[] = {
        {5e-324, "0." + std::string(323, '0') + "5"},
        {2.2250738585072014e-308, "0." + std::string(307, '0') + "22250738585072014"},
        {1.7976931348623157e308, "17976931348623157" + std::string(292, '0')},
        {-1e300, "-1" + std::string(300, '0')},
    };
    for (const Case& c : cases) {
        std::string out;
        push_num(out, c.in);
        EXPECT_EQ(out, c.want) << "value " << c.in;
    }
}

TEST(PushNum, WritesZeroForNonFinite) {
    for (double v : {std::nan(""), -std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        std::string out;
        push_num(out, v);
        EXPECT_EQ(out, "0");
    }
}

// The number of significant digits of a plain decimal text.
size_t significant_digits(const std::string& text) {
    std::string digits;
    for (char ch : text) {
        if (ch >= '0' && ch <= '9') digits += ch;
    }
    size_t first = digits.find_first_not_of('0');
    size_t last = digits.find_last_not_of('0');
    return first == std::string::npos ? 0 : last - first + 1;
}

// Over many values of the forms cells carry (short decimals of every scale, and arbitrary bit
// patterns), the text is positional, reads back with strtod to the same double and has as many
// significant digits as the shortest scientific form of std::to_chars.
TEST(PushNum, RoundTripsWithShortestDigits) {
    std::mt19937_64 rng(20240115);
    std::vector<double> values;
    for (int i = 0; i < 20000; ++i) {
        int64_t m = static_cast<int64_t>(rng() % 2000000000000LL) - 1000000000000LL;
        double scale = std::pow(10.0, static_cast<int>(rng() % 24) - 12);
        values.push_back(static_cast<double>(m) / std::pow(10.0, static_cast<int>(rng() % 10)));
        values.push_back(static_cast<double>(m % 100000) * scale);
        uint64_t bits = rng();
        double any;
        std::memcpy(&any, &bits, sizeof any);
        if (std::isfinite(any)) values.push_back(any);
    }
    for (double v : values) {
        std::string out;
        push_num(out, v);
        ASSERT_EQ(out.find_first_of("eE+"), std::string::npos) << out;
        ASSERT_EQ(std::strtod(out.c_str(), nullptr), v) << out;
        char sci[40];
        char* end = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr;
        std::string mantissa(sci, std::find(sci, end, 'e'));
        ASSERT_EQ(significant_digits(out), significant_digits(mantissa)) << out << " vs " << sci;
        if (out.find('.') != std::string::npos) {
            ASSERT_NE(out.back(), '0') << out;
        }
    }
}

TEST(PushUint, WritesDecimal) {
    std::string out;
    push_uint(out, 0);
    out += ' ';
    push_uint(out, 1048576);
    out += ' ';
    push_uint(out, UINT64_MAX);
    EXPECT_EQ(out, "0 1048576 18446744073709551615");
}

TEST(PushColLetters, WritesBijectiveBase26) {
    struct Case {
        uint32_t in;
        std::string_view want;
    };
    constexpr Case cases[] = {
        {0, "A"},      {25, "Z"},       {26, "AA"},         {51, "AZ"},  {52, "BA"},
        {701, "ZZ"},   {702, "AAA"},    {16383, "XFD"},     {18277, "ZZZ"},
        {18278, "AAAA"}, {4294967295u, "MWLQKWV"},
    };
    for (const Case& c : cases) {
        std::string out = "r=";
        push_col_letters(out, c.in);
        EXPECT_EQ(out, "r=" + std::string(c.want)) << "column " << c.in;
    }
}

TEST(ParseCellRef, AcceptsA1References) {
    struct Case {
        std::string_view in;
        CellRef want;
    };
    constexpr Case cases[] = {
        {"A1", {0, 0}},
        {"AA10", {26, 9}},
        {"XFD1048576", {16383, 1048575}},
        {"A01", {0, 0}},
        {"A0001", {0, 0}},
        {"ZZZ1", {18277, 0}},
        {"A4294967295", {0, 4294967294u}},
        {"B00000000000000000007", {1, 6}},
    };
    for (const Case& c : cases) {
        std::optional<CellRef> got = parse_cell_ref(c.in);
        ASSERT_TRUE(got.has_value()) << c.in;
        EXPECT_EQ(*got, c.want) << c.in;
    }
}

TEST(ParseCellRef, RejectsEverythingElse) {
    constexpr std::string_view cases[] = {
        "a1", "$A$1", "A$1", "A0", "1A", "ABCD1", "A1B", "A-1", "A", "", "A4294967296",
        "A99999999999999999999", "1", "A 1", " A1", "A1 ", "Ä1", "A1:B2", "A+1", "A00",
    };
    for (std::string_view c : cases) EXPECT_FALSE(parse_cell_ref(c).has_value()) << c;
}

// ---- Frame ----

constexpr std::string_view HEAD =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
constexpr std::string_view EMPTY_VIEW =
    "<sheetViews><sheetView workbookViewId=\"0\"></sheetView></sheetViews>";
constexpr std::string_view FORMAT_PR = "<sheetFormatPr defaultRowHeight=\"15\"/>";

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

TEST(SheetPrefix, EmptySheet) {
    Sheet sheet;
    Diagnostics lints;
    expect_bytes(sheet_prefix(sheet, 0, 0, lints),
                 std::string(HEAD) +
                     "<dimension ref=\"A1\"/>" +
                     std::string(EMPTY_VIEW) +
                     std::string(FORMAT_PR) +
                     "<sheetData>");
    EXPECT_TRUE(lints.lints().empty());
}

TEST(SheetPrefix, DimensionFromCounts) {
    struct Case {
        uint32_t rows, cells;
        std::string_view want;
    };
    constexpr Case cases[] = {
        {0, 5, "A1"},          {10, 3, "A1:C10"},         {2, 0, "A1:A2"},
        {3, 4, "A1:D3"},       {1, 1, "A1:A1"},           {1048576, 16384, "A1:XFD1048576"},
        {UINT32_MAX, UINT32_MAX, "A1:MWLQKWU4294967295"},
    };
    for (const Case& c : cases) {
        Sheet sheet;
        Diagnostics lints;
        std::string got = sheet_prefix(sheet, c.rows, c.cells, lints);
        std::string want = "<dimension ref=\"" + std::string(c.want) + "\"/>";
        EXPECT_NE(got.find(want), std::string::npos) << got;
    }
}

TEST(SheetPrefix, FrozenPanes) {
    struct Case {
        std::optional<uint32_t> rows, cols;
        std::string_view view;
        std::string_view lints;
    };
    const Case cases[] = {
        {1, std::nullopt,
         "<pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomRight\" state=\"frozen\"/>"
         "<selection pane=\"bottomRight\" activeCell=\"A2\" sqref=\"A2\"/>",
         ""},
        {std::nullopt, 2,
         "<pane xSplit=\"2\" topLeftCell=\"C1\" activePane=\"bottomRight\" state=\"frozen\"/>"
         "<selection pane=\"bottomRight\" activeCell=\"C1\" sqref=\"C1\"/>",
         ""},
        {1, 2,
         "<pane xSplit=\"2\" ySplit=\"1\" topLeftCell=\"C2\" activePane=\"bottomRight\" "
         "state=\"frozen\"/>"
         "<selection pane=\"bottomRight\" activeCell=\"C2\" sqref=\"C2\"/>",
         ""},
        {0, 0, "", ""},
        {std::nullopt, std::nullopt, "", ""},
        {20000, UINT32_MAX,
         "<pane xSplit=\"16384\" ySplit=\"16384\" topLeftCell=\"XFE16385\" activePane=\"bottomRight\" "
         "state=\"frozen\"/>"
         "<selection pane=\"bottomRight\" activeCell=\"XFE16385\" sqref=\"XFE16385\"/>",
         "ClampedFreeze: freeze split 20000 clamped to 16384\n"
         "ClampedFreeze: freeze split 4294967295 clamped to 16384\n"},
        {16384, std::nullopt,
         "<pane ySplit=\"16384\" topLeftCell=\"A16385\" activePane=\"bottomRight\" "
         "state=\"frozen\"/>"
         "<selection pane=\"bottomRight\" activeCell=\"A16385\" sqref=\"A16385\"/>",
         ""},
    };
    for (const Case& c : cases) {
        Sheet sheet;
        sheet.freeze = Freeze{c.rows, c.cols};
        Diagnostics lints;
        expect_bytes(sheet_prefix(sheet, 0, 0, lints),
                     std::string(HEAD) +
                         "<dimension ref=\"A1\"/>"
                         "<sheetViews><sheetView workbookViewId=\"0\">" +
                             std::string(c.view) +
                         "</sheetView></sheetViews>" +
                         std::string(FORMAT_PR) +
                         "<sheetData>");
        EXPECT_EQ(lints_text(lints), c.lints);
    }
}

TEST(SheetPrefix, Columns) {
    struct Case {
        Column column;
        bool collapsed;
        std::string_view col;
        std::string_view lints;
    };
    auto col = [](std::optional<double> width, std::optional<uint32_t> level,
                  std::optional<bool> hidden) {
        Column c;
        c.width = width;
        c.outline_level = level;
        c.hidden = hidden;
        return c;
    };
    const Case cases[] = {
        {col({}, {}, {}), false, "<col min=\"1\" max=\"1\" width=\"8.43\"/>", ""},
        {col(8, {}, {}), false, "<col min=\"1\" max=\"1\" width=\"8\" customWidth=\"1\"/>", ""},
        {col(8.5, {}, {}), false, "<col min=\"1\" max=\"1\" width=\"8.5\" customWidth=\"1\"/>", ""},
        {col(255, {}, {}), false, "<col min=\"1\" max=\"1\" width=\"255\" customWidth=\"1\"/>", ""},
        {col(0, {}, {}), false, "<col min=\"1\" max=\"1\" width=\"0\" customWidth=\"1\"/>", ""},
        {col(300, {}, {}), false, "<col min=\"1\" max=\"1\" width=\"255\" customWidth=\"1\"/>",
         "ClampedColumnWidth: column width 300 clamped to 255\n"},
        {col(-2, {}, {}), false, "<col min=\"1\" max=\"1\" width=\"0\" customWidth=\"1\"/>",
         "ClampedColumnWidth: column width -2 clamped to 0\n"},
        {col(255.5, {}, {}), false, "<col min=\"1\" max=\"1\" width=\"255\" customWidth=\"1\"/>",
         "ClampedColumnWidth: column width 255.5 clamped to 255\n"},
        {col({}, 0, {}), false, "<col min=\"1\" max=\"1\" width=\"8.43\"/>", ""},
        {col({}, 7, {}), false, "<col min=\"1\" max=\"1\" width=\"8.43\" outlineLevel=\"7\"/>", ""},
        {col({}, 9, {}), false, "<col min=\"1\" max=\"1\" width=\"8.43\" outlineLevel=\"7\"/>",
         "ClampedOutlineLevel: outline level 9 clamped to 7\n"},
        {col(300, 8, {}), false,
         "<col min=\"1\" max=\"1\" width=\"255\" customWidth=\"1\" outlineLevel=\"7\"/>",
         "ClampedColumnWidth: column width 300 clamped to 255\n"
         "ClampedOutlineLevel: outline level 8 clamped to 7\n"},
        {col({}, {}, true), false, "<col min=\"1\" max=\"1\" width=\"8.43\" hidden=\"1\"/>", ""},
        {col({}, {}, false), false, "<col min=\"1\" max=\"1\" width=\"8.43\"/>", ""},
        {col({}, 1, false), true,
         "<col min=\"1\" max=\"1\" width=\"8.43\" outlineLevel=\"1\" hidden=\"1\"/>", ""},
        {col({}, 0, false), true, "<col min=\"1\" max=\"1\" width=\"8.43\"/>", ""},
        {col({}, {}, true), true, "<col min=\"1\" max=\"1\" width=\"8.43\" hidden=\"1\"/>", ""},
    };
    const std::string_view sheet_pr =
        "<sheetPr><outlinePr summaryBelow=\"1\" summaryRight=\"1\"/></sheetPr>";
    for (const Case& c : cases) {
        Sheet sheet;
        sheet.columns = {c.column};
        if (c.collapsed) sheet.outline = Outline{true};
        Diagnostics lints;
        expect_bytes(sheet_prefix(sheet, 0, 0, lints),
                     std::string(HEAD) + std::string(c.collapsed ? sheet_pr : "") +
                         "<dimension ref=\"A1\"/>" +
                         std::string(EMPTY_VIEW) +
                         std::string(FORMAT_PR) +
                         "<cols>" +
                             std::string(c.col) +
                         "</cols>"
                         "<sheetData>");
        EXPECT_EQ(lints_text(lints), c.lints) << c.col;
    }
}

// Everything at once, with the lints in the order frozen rows, frozen columns, then column by
// column its width before its outline level.
TEST(SheetPrefix, FullFrameAndLintOrder) {
    Sheet sheet;
    sheet.outline = Outline{};
    sheet.freeze = Freeze{20001, 20002};
    Column a;
    a.width = 300;
    a.outline_level = 9;
    Column b;
    b.key = "ignored";
    b.width = 12.25;
    b.outline_level = 2;
    Column c;
    c.width = -1;
    c.hidden = true;
    c.style = CellStyle{};
    sheet.columns = {a, b, c};
    Diagnostics lints;
    expect_bytes(sheet_prefix(sheet, 3, 4, lints),
                 std::string(HEAD) +
                     "<sheetPr><outlinePr summaryBelow=\"1\" summaryRight=\"1\"/></sheetPr>"
                     "<dimension ref=\"A1:D3\"/>"
                     "<sheetViews>"
                       "<sheetView workbookViewId=\"0\">"
                         "<pane xSplit=\"16384\" ySplit=\"16384\" topLeftCell=\"XFE16385\" "
                         "activePane=\"bottomRight\" state=\"frozen\"/>"
                         "<selection pane=\"bottomRight\" activeCell=\"XFE16385\" "
                         "sqref=\"XFE16385\"/>"
                       "</sheetView>"
                     "</sheetViews>"
                     "<sheetFormatPr defaultRowHeight=\"15\"/>"
                     "<cols>"
                       "<col min=\"1\" max=\"1\" width=\"255\" customWidth=\"1\" outlineLevel=\"7\"/>"
                       "<col min=\"2\" max=\"2\" width=\"12.25\" customWidth=\"1\" outlineLevel=\"2\"/>"
                       "<col min=\"3\" max=\"3\" width=\"0\" customWidth=\"1\" hidden=\"1\"/>"
                     "</cols>"
                     "<sheetData>");
    EXPECT_EQ(lints_text(lints),
              "ClampedFreeze: freeze split 20001 clamped to 16384\n"
              "ClampedFreeze: freeze split 20002 clamped to 16384\n"
              "ClampedColumnWidth: column width 300 clamped to 255\n"
              "ClampedOutlineLevel: outline level 9 clamped to 7\n"
              "ClampedColumnWidth: column width -1 clamped to 0\n");
}

TEST(SheetSuffix, WithoutMerges) {
    Diagnostics lints;
    Result<std::string> got = sheet_suffix({}, lints);
    ASSERT_TRUE(got.ok());
    expect_bytes(got.value(), "</sheetData></worksheet>");
}

TEST(SheetSuffix, KeepsFirstOfDuplicates) {
    Diagnostics lints;
    lints.push(LintCode::ClampedFreeze, "earlier");
    Result<std::string> got =
        sheet_suffix({"A1:B2", "C3:D4", "A1:B2", "XFD1:A1048576", "C3:D4"}, lints);
    ASSERT_TRUE(got.ok());
    expect_bytes(got.value(),
                 "</sheetData>"
                 "<mergeCells count=\"3\">"
                   "<mergeCell ref=\"A1:B2\"/>"
                   "<mergeCell ref=\"C3:D4\"/>"
                   "<mergeCell ref=\"XFD1:A1048576\"/>"
                 "</mergeCells>"
                 "</worksheet>");
    EXPECT_EQ(lints_text(lints),
              "ClampedFreeze: earlier\n"
              "DroppedDuplicateMerge: duplicate merge A1:B2 dropped\n"
              "DroppedDuplicateMerge: duplicate merge C3:D4 dropped\n");
}

TEST(SheetSuffix, RejectsInvalidRanges) {
    struct Case {
        std::string in;
        std::string_view message;
    };
    const Case cases[] = {
        {"A1", "invalid merge range \"A1\""},
        {"a1:B2", "invalid merge range \"a1:B2\""},
        {"A1:B2:C3", "invalid merge range \"A1:B2:C3\""},
        {"$A$1:B2", "invalid merge range \"$A$1:B2\""},
        {":", "invalid merge range \":\""},
        {"A1:", "invalid merge range \"A1:\""},
        {"A1:B0", "invalid merge range \"A1:B0\""},
        {"A1 :B2", "invalid merge range \"A1 :B2\""},
        {"\"\\\n:\t", "invalid merge range \"\\\"\\\\\\n:\\t\""},
        {std::string("A1\0:B2", 6), "invalid merge range \"A1\\0:B2\""},
    };
    for (const Case& c : cases) {
        Diagnostics lints;
        expect_error(sheet_suffix({"A1:A2", c.in, "A1:A2"}, lints), ErrorCode::BadCellRef,
                     c.message);
        EXPECT_TRUE(lints.lints().empty()) << "the duplicate after the bad range is never reached";
    }
}

// Validity is tested before duplication, so a bad range after a duplicate still fails and the
// duplicate's lint stays in the list.
TEST(SheetSuffix, DuplicateLintStaysWhenALaterRangeFails) {
    Diagnostics lints;
    expect_error(sheet_suffix({"A1:B2", "A1:B2", "nope"}, lints), ErrorCode::BadCellRef,
                 "invalid merge range \"nope\"");
    EXPECT_EQ(lints_text(lints), "DroppedDuplicateMerge: duplicate merge A1:B2 dropped\n");
}

TEST(WriteOpenTag, WritesReferenceStyleAndType) {
    struct Case {
        uint64_t row;
        uint32_t col, style;
        std::string_view type, want;
    };
    constexpr Case cases[] = {
        {5, 0, 0, "", "<c r=\"A5\""},
        {7, 1, 3, " t=\"b\"", "<c r=\"B7\" s=\"3\" t=\"b\""},
        {1048576, 16383, 4294967295u, " t=\"inlineStr\"",
         "<c r=\"XFD1048576\" s=\"4294967295\" t=\"inlineStr\""},
        {4294967296u, 4294967295u, 0, "", "<c r=\"MWLQKWV4294967296\""},
    };
    for (const Case& c : cases) {
        std::string out = "<row>";
        write_open_tag(out, c.row, c.col, c.style, c.type);
        EXPECT_EQ(out, "<row>" + std::string(c.want));
    }
}

}  // namespace
}  // namespace tessary
