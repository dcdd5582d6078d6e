#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"
#include "lib.h"
#include "package.h"
#include "stored_zip.h"
#include "style.h"
#include "worksheet.h"

namespace tessary {
namespace {

using testing::entry;
using testing::expect_bytes;
using testing::expect_error;
using testing::python_check;
using testing::python_has;
using testing::stored_entries;

Cell num(double v) { return NumberCell{v, std::nullopt, std::nullopt}; }
Cell str(std::string v) { return StringCell{std::move(v), std::nullopt}; }
Cell boolean(bool v) { return BooleanCell{v, std::nullopt}; }
Cell date(std::string v) { return DateCell{std::move(v), std::nullopt, std::nullopt}; }
Cell pct(double v) { return PercentCell{v, std::nullopt, std::nullopt}; }
Cell cur(int64_t minor, std::string code) {
    CurrencyCell c;
    c.value = minor;
    c.currency.code = std::move(code);
    return c;
}
Cell filled(std::string fill) {
    CellStyle style;
    style.fill = std::move(fill);
    return StringCell{"x", style};
}
Row row(std::vector<Cell> cells) {
    Row r;
    r.cells = std::move(cells);
    return r;
}
Sheet sheet(std::string name, std::vector<Row> rows = {}) {
    Sheet s;
    s.name = std::move(name);
    s.rows = std::move(rows);
    return s;
}
Column styled_column(std::string fill) {
    Column c;
    c.style.emplace().fill = std::move(fill);
    return c;
}

Workbook two_sheets() {
    Workbook book;
    Sheet a = sheet("Data", {row({str("name"), num(1.5), cur(1999, "EUR"), pct(0.25)}),
                            row({date("2024-03-01"), boolean(true)}),
                            row({})});
    a.columns = {styled_column("#FFEE00"), Column{}};
    a.merges = {"A3:B3"};
    book.sheets.push_back(std::move(a));
    book.sheets.push_back(sheet("More", {row({num(-2), filled("#112233"), cur(5, "USD")})}));
    return book;
}

// The pipeline wires the pieces together: one style table for the whole workbook, the locale,
// zero-based row positions, a fresh column cache per sheet, the style sheet rendered after every
// sheet. The expected package is assembled here from the same pieces by hand.
TEST(Write, AssemblesTheRenderedSheetsInOrder) {
    for (const char* locale : {"de-DE", "en-US"}) {
        Workbook book = two_sheets();
        book.locale = locale;
        WriteOptions opts;
        opts.meta.title = "T";
        Result<WriteResult> got = write(book, opts);
        ASSERT_TRUE(got.ok()) << got.error().message;

        StyleTable styles;
        Diagnostics lints;
        std::vector<std::string> xmls;
        for (const Sheet& s : book.sheets) {
            size_t cells = 0;
            for (const Row& r : s.rows) cells = std::max(cells, r.cells.size());
            std::string text =
                sheet_prefix(s, static_cast<uint32_t>(s.rows.size()), static_cast<uint32_t>(cells), lints);
            ColCache cache;
            for (uint32_t i = 0; i < s.rows.size(); ++i)
                ASSERT_TRUE(row_xml(text, s.columns, s.rows[i], i, locale, styles, lints, cache).ok());
            Result<std::string> suffix = sheet_suffix(s.merges, lints);
            ASSERT_TRUE(suffix.ok());
            xmls.push_back(text + suffix.value());
        }
        const std::string want = finish_package(book.sheets, opts, styles.to_xml(), xmls);
        expect_bytes(entry(got.value().bytes, "xl/worksheets/sheet1.xml"), xmls[0]);
        expect_bytes(entry(got.value().bytes, "xl/worksheets/sheet2.xml"), xmls[1]);
        expect_bytes(got.value().bytes, want);
        EXPECT_TRUE(got.value().lints.lints().empty());
    }
}

// One wide row over many empty ones: sizing the sheet text by rows x widest row would ask for
// about 90 GB; the write needs only what the cells take.
TEST(Write, SparseWideSheetSizesByItsCells) {
    Workbook book;
    Sheet s = sheet("Wide");
    s.rows.resize(200000);
    for (int i = 0; i < 16384; ++i) s.rows[0].cells.push_back(num(i));
    book.sheets.push_back(std::move(s));
    Result<WriteResult> got = write(book, {});
    ASSERT_TRUE(got.ok());
    const std::string xml = entry(got.value().bytes, "xl/worksheets/sheet1.xml");
    EXPECT_NE(xml.find("<dimension ref=\"A1:XFD200000\"/>"), std::string::npos);
    EXPECT_NE(xml.find("<row r=\"200000\""), std::string::npos);
}

TEST(Write, LocaleDefaultsToEnUs) {
    Workbook book = two_sheets();
    Result<WriteResult> plain = write(book, {});
    book.locale = "en-US";
    Result<WriteResult> en = write(book, {});
    book.locale = "de-DE";
    Result<WriteResult> de = write(book, {});
    ASSERT_TRUE(plain.ok() && en.ok() && de.ok());
    EXPECT_EQ(plain.value().bytes, en.value().bytes);
    EXPECT_NE(de.value().bytes, en.value().bytes);
    EXPECT_EQ(write(book, {}).value().bytes, de.value().bytes) << "deterministic";
}

TEST(Write, PackageIsStoredAndWellFormed) {
    Result<WriteResult> got = write(two_sheets(), {});
    ASSERT_TRUE(got.ok());
    std::vector<std::string> names;
    for (const Part& p : stored_entries(got.value().bytes)) names.push_back(p.name);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "[Content_Types].xml", "_rels/.rels", "docProps/core.xml",
                         "docProps/app.xml", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                         "xl/styles.xml", "xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml"}));
    if (!python_has("zipfile")) GTEST_SKIP() << "no python3";
    EXPECT_TRUE(python_check(got.value().bytes, testing::PY_WELL_FORMED, "lib_well_formed"));
}

// openpyxl, where installed, reads back the values of every kind.
TEST(Write, OpenpyxlReadsTheValues) {
    if (!python_has("openpyxl")) GTEST_SKIP() << "openpyxl not installed";
    Result<WriteResult> got = write(two_sheets(), {});
    ASSERT_TRUE(got.ok());
    const std::string script = R"(
import sys, datetime, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
assert wb.sheetnames == ['Data', 'More'], wb.sheetnames
a = wb['Data']
got = [[c.value for c in r] for r in a.iter_rows()]
assert got[0] == ['name', 1.5, 19.99, 0.25], got
assert got[1][0] == datetime.datetime(2024, 3, 1) and got[1][1] is True, got
assert [str(r) for r in a.merged_cells.ranges] == ['A3:B3']
b = wb['More']
assert [c.value for c in b[1]] == [-2, 'x', 0.05], [c.value for c in b[1]]
assert b['B1'].fill.fgColor.rgb == 'FF112233'
)";
    EXPECT_TRUE(python_check(got.value().bytes, script, "lib_openpyxl"));
}

struct ErrorCase {
    const char* what;
    Workbook book;
    ErrorCode code;
    std::string_view message;
};

Workbook with_sheets(std::vector<Sheet> sheets) {
    Workbook b;
    b.sheets = std::move(sheets);
    return b;
}

TEST(Write, FirstErrorEndsTheWrite) {
    std::vector<Row> rows;
    for (int i = 0; i < 4; ++i) rows.push_back(row({num(i)}));
    rows.push_back(row({num(5), filled("#12")}));  // row 5
    Sheet bad_merge = sheet("M", {row({num(1)})});
    bad_merge.merges = {"A1"};
    Sheet wide = sheet("W");
    wide.columns.push_back(Column{});
    wide.columns[0].width = 300;  // a lint that must not survive the failure
    const ErrorCase cases[] = {
        {"no sheets", with_sheets({}), ErrorCode::EmptyWorkbook,
         "a workbook needs at least one sheet"},
        // Validation runs before rendering: the bad colour of the first sheet is never reached.
        {"duplicate", with_sheets({sheet("A", rows), sheet("a")}), ErrorCode::DuplicateSheetName,
         "duplicate sheet name \"a\""},
        {"empty name", with_sheets({sheet("S"), sheet("")}), ErrorCode::InvalidSheetName,
         "sheet name must not be empty"},
        {"bad colour in row 5", with_sheets({wide, sheet("S", rows)}), ErrorCode::BadColor,
         "invalid colour \"#12\"; expected #rrggbb hex"},
        {"bad merge", with_sheets({wide, bad_merge}), ErrorCode::BadCellRef,
         "invalid merge range \"A1\""},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        expect_error(write(c.book, {}), c.code, c.message);
    }
}

TEST(Write, LintsInTheOrderTheyArise) {
    Sheet first = sheet("One");
    first.freeze = Freeze{20000, std::nullopt};
    first.columns.resize(1);
    first.columns[0].width = 300;
    first.rows.push_back(row({num(1)}));
    first.rows.back().outline_level = 9;
    first.merges = {"A1:B2", "A1:B2"};
    Sheet second = sheet("Two");
    second.columns.resize(1);
    second.columns[0].width = -5;
    Result<WriteResult> got = write(with_sheets({first, second}), {});
    ASSERT_TRUE(got.ok());
    std::vector<std::pair<std::string_view, std::string>> lints;
    for (const Lint& l : got.value().lints.lints()) lints.emplace_back(lint_name(l.code), l.message);
    const std::vector<std::pair<std::string_view, std::string>> want = {
        {"ClampedFreeze", "freeze split 20000 clamped to 16384"},
        {"ClampedColumnWidth", "column width 300 clamped to 255"},
        {"ClampedOutlineLevel", "outline level 9 clamped to 7"},
        {"DroppedDuplicateMerge", "duplicate merge A1:B2 dropped"},
        {"ClampedColumnWidth", "column width -5 clamped to 0"},
    };
    EXPECT_EQ(lints, want);
}

TEST(BuildResult, PasswordRule) {
    const Workbook book = with_sheets({sheet("S", {row({num(1)})})});
    WriteOptions empty;
    empty.password = "";
    Result<WriteResult> plain = write(book, empty);
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.value().bytes.substr(0, 4), "PK\x03\x04");
    EXPECT_EQ(plain.value().bytes, write(book, {}).value().bytes);

    WriteOptions secret;
    secret.password = "s3cret";
    Result<WriteResult> locked = write(book, secret);
    ASSERT_TRUE(locked.ok()) << locked.error().message;
    EXPECT_EQ(locked.value().bytes.substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    if (!python_has("msoffcrypto")) GTEST_SKIP() << "msoffcrypto-tool not installed";
    // Decrypting gives back exactly the plain package.
    const std::string script = R"(
import sys, io, msoffcrypto
f = msoffcrypto.OfficeFile(open(sys.argv[1], 'rb'))
f.load_key(password='s3cret')
out = io.BytesIO()
f.decrypt(out)
sys.exit(0 if out.getvalue() == open(sys.argv[1] + '.plain', 'rb').read() else 1)
)";
    const std::string plain_path = ::testing::TempDir() + "tessary_lib_password.xlsx.plain";
    std::ofstream(plain_path, std::ios::binary) << plain.value().bytes;
    EXPECT_TRUE(python_check(locked.value().bytes, script, "lib_password"));
    std::remove(plain_path.c_str());
}

TEST(WriteRows, OneSheetWorkbook) {
    std::vector<Column> columns(1);
    columns[0].width = 300;
    Result<WriteResult> got =
        write_rows(std::nullopt, columns, {row({str("a")}), row({num(2)})}, "de-DE", {});
    ASSERT_TRUE(got.ok());
    Workbook book;
    book.locale = "de-DE";
    Sheet s = sheet("Sheet1", {row({str("a")}), row({num(2)})});
    s.columns = columns;
    book.sheets.push_back(s);
    Result<WriteResult> want = write(book, {});
    expect_bytes(got.value().bytes, want.value().bytes);
    ASSERT_EQ(got.value().lints.lints().size(), 1u);

    expect_error(write_rows("", {}, {}, std::nullopt, {}), ErrorCode::InvalidSheetName,
                 "sheet name must not be empty");
    expect_error(write_rows("a/b", {}, {}, std::nullopt, {}), ErrorCode::InvalidSheetName,
                 "sheet name \"a/b\" contains a forbidden character (: \\ / ? * [ ])");
}

TEST(WriteFromJson, TextAndValueGiveTheModelsBytes) {
    const std::string_view text =
        R"({"locale": "de-DE", "sheets": [{"name": "S", "merges": ["A1:B1"], "rows": [)"
        R"({"cells": [{"type": "string", "value": "a"}, {"type": "number", "value": 2.5}]},)"
        R"({"cells": [{"type": "currency", "value": 1999, "currency": {"code": "EUR"}}]}]}]})";
    Workbook book;
    book.locale = "de-DE";
    Sheet s = sheet("S", {row({str("a"), num(2.5)}), row({cur(1999, "EUR")})});
    s.merges = {"A1:B1"};
    book.sheets.push_back(s);
    const std::string want = write(book, {}).value().bytes;

    Result<WriteResult> from_text = write_from_json_str(text, {});
    ASSERT_TRUE(from_text.ok()) << from_text.error().message;
    expect_bytes(from_text.value().bytes, want);
    Result<json::Value> value = json::parse(text);
    ASSERT_TRUE(value.ok());
    Result<WriteResult> from_value = write_from_json_value(std::move(value.value()), {});
    ASSERT_TRUE(from_value.ok()) << from_value.error().message;
    expect_bytes(from_value.value().bytes, want);

    Result<WriteResult> broken = write_from_json_str("{", {});
    ASSERT_FALSE(broken.ok());
    EXPECT_EQ(broken.error().code, ErrorCode::InvalidJson);
    expect_error(write_from_json_str(R"({"sheets": []})", {}), ErrorCode::EmptyWorkbook,
                 "a workbook needs at least one sheet");
}

}  // namespace
}  // namespace tessary
