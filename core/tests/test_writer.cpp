#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"
#include "lib.h"
#include "stored_zip.h"
#include "writer.h"

namespace tessary {
namespace {

using testing::entry;
using testing::expect_bytes;
using testing::expect_error;
using testing::python_check;
using testing::python_has;

Cell num(double v) { return NumberCell{v, std::nullopt, std::nullopt}; }
Cell str(std::string v) { return StringCell{std::move(v), std::nullopt}; }
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

WriteResult finish_ok(WorkbookWriter& w) {
    Result<WriteResult> r = std::move(w).finish();
    EXPECT_TRUE(r.ok()) << r.error().message;
    return r.ok() ? std::move(r.value()) : WriteResult{};
}

// A streamed workbook is byte for byte the one-shot write of the same sheets and rows.
TEST(WorkbookWriter, StreamsTheOneShotPackage) {
    Workbook book;
    book.locale = "de-DE";
    Sheet a = sheet("Data", {row({str("a"), num(1), cur(1999, "EUR"), num(4)}), row({num(2)}),
                            row({str("c"), num(3)})});
    a.merges = {"A5:B5"};
    a.freeze = Freeze{1, 1};
    a.columns.resize(2);
    a.columns[1].style.emplace().fill = "#00FF00";
    book.sheets = {a, sheet("Empty"), sheet("Last", {row({cur(5, "USD")})})};
    WriteOptions opts;
    opts.meta.author = "me";
    Result<WriteResult> want = write(book, opts);
    ASSERT_TRUE(want.ok());

    WorkbookWriter w("de-DE", opts);
    for (const Sheet& s : book.sheets) {
        Sheet meta = s;
        meta.rows = {row({str("never written")})};  // rows of the metadata are ignored
        ASSERT_TRUE(w.start_sheet(meta).ok());
        for (const Row& r : s.rows) ASSERT_TRUE(w.write_row(r).ok());
    }
    const WriteResult got = finish_ok(w);
    expect_bytes(got.bytes, want.value().bytes);
    EXPECT_NE(entry(got.bytes, "xl/worksheets/sheet1.xml").find("<dimension ref=\"A1:D3\"/>"),
              std::string::npos);
}

TEST(WorkbookWriter, RowsWithoutAnOpenSheetAreDropped) {
    WorkbookWriter w(std::nullopt, {});
    EXPECT_TRUE(w.write_row(row({str("before")})).ok());
    EXPECT_TRUE(w.close_open().ok());
    ASSERT_TRUE(w.start_sheet(sheet("S")).ok());
    ASSERT_TRUE(w.write_row(row({num(1)})).ok());
    EXPECT_TRUE(w.close_open().ok());
    EXPECT_TRUE(w.close_open().ok()) << "second close does nothing";
    EXPECT_TRUE(w.write_row(row({str("after")})).ok());
    EXPECT_EQ(w.sheet_count(), 1u);
    const WriteResult got = finish_ok(w);
    Result<WriteResult> want = write_rows("S", {}, {row({num(1)})}, std::nullopt, {});
    expect_bytes(got.bytes, want.value().bytes);
}

struct NameCase {
    const char* what;
    std::vector<std::string> names;  // all but the last succeed
    ErrorCode code;
    std::string_view message;
};

// Sheet names follow the one-shot rules; a refused name leaves the writer as it was: the open
// sheet stays open and takes further rows.
TEST(WorkbookWriter, StartSheetChecksNamesAndChangesNothingOnFailure) {
    const NameCase cases[] = {
        {"duplicate of the open sheet", {"Data", "DATA"}, ErrorCode::DuplicateSheetName,
         "duplicate sheet name \"DATA\""},
        {"duplicate of a closed sheet", {"a", "b", "A"}, ErrorCode::DuplicateSheetName,
         "duplicate sheet name \"A\""},
        {"empty", {"a", ""}, ErrorCode::InvalidSheetName, "sheet name must not be empty"},
        {"too long", {"a", std::string(40, 'x')}, ErrorCode::InvalidSheetName,
         "sheet name \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\" exceeds 31 characters"},
        {"forbidden", {"a", "Q1/Q2"}, ErrorCode::InvalidSheetName,
         "sheet name \"Q1/Q2\" contains a forbidden character (: \\ / ? * [ ])"},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.what);
        WorkbookWriter w(std::nullopt, {});
        Workbook book;
        for (size_t i = 0; i + 1 < c.names.size(); ++i) {
            ASSERT_TRUE(w.start_sheet(sheet(c.names[i])).ok());
            ASSERT_TRUE(w.write_row(row({num(static_cast<double>(i))})).ok());
            book.sheets.push_back(sheet(c.names[i], {row({num(static_cast<double>(i))})}));
        }
        expect_error(w.start_sheet(sheet(c.names.back())), c.code, c.message);
        EXPECT_TRUE(w.has_open_sheet());
        ASSERT_TRUE(w.write_row(row({str("more")})).ok());
        book.sheets.back().rows.push_back(row({str("more")}));
        expect_bytes(finish_ok(w).bytes, write(book, {}).value().bytes);
    }
}

TEST(WorkbookWriter, FinishWithoutSheetsFails) {
    WorkbookWriter w(std::nullopt, {});
    EXPECT_TRUE(w.write_row(row({num(1)})).ok());
    expect_error(std::move(w).finish(), ErrorCode::EmptyWorkbook,
                 "a workbook needs at least one sheet");
}

// A bad merge loses the sheet being closed; the writer goes on, and the lost sheet's name is free.
TEST(WorkbookWriter, BadMergeLosesOnlyThatSheet) {
    WorkbookWriter w(std::nullopt, {});
    Sheet bad = sheet("A");
    bad.merges = {"nope"};
    ASSERT_TRUE(w.start_sheet(bad).ok());
    ASSERT_TRUE(w.write_row(row({num(1)})).ok());
    expect_error(w.start_sheet(sheet("B")), ErrorCode::BadCellRef, "invalid merge range \"nope\"");
    EXPECT_FALSE(w.has_open_sheet()) << "the new sheet is not opened";
    EXPECT_TRUE(w.write_row(row({num(2)})).ok());  // dropped
    ASSERT_TRUE(w.start_sheet(sheet("A")).ok());
    ASSERT_TRUE(w.write_row(row({num(3)})).ok());
    ASSERT_TRUE(w.start_sheet(sheet("B")).ok()) << "B was never opened";
    bad.merges = {"bad"};
    bad.name = "C";
    ASSERT_TRUE(w.start_sheet(bad).ok());
    expect_error(w.close_open(), ErrorCode::BadCellRef, "invalid merge range \"bad\"");
    EXPECT_TRUE(w.close_open().ok());
    Workbook book;
    book.sheets = {sheet("A", {row({num(3)})}), sheet("B")};
    expect_bytes(finish_ok(w).bytes, write(book, {}).value().bytes);

    WorkbookWriter lost_all(std::nullopt, {});
    ASSERT_TRUE(lost_all.start_sheet(bad).ok());
    expect_error(std::move(lost_all).finish(), ErrorCode::BadCellRef,
                 "invalid merge range \"bad\"");
}

// A row that fails in its fourth cell leaves nothing behind: the next row takes its number, the
// sheet is the one-shot sheet of the good rows, and the package reads back elsewhere.
TEST(WorkbookWriter, FailedRowLeavesNothing) {
    WorkbookWriter w(std::nullopt, {});
    ASSERT_TRUE(w.start_sheet(sheet("S")).ok());
    ASSERT_TRUE(w.write_row(row({str("first"), num(1)})).ok());
    Row broken = row({str("a"), num(2), str("c"), filled("#nothex"), num(5)});
    broken.outline_level = 12;
    expect_error(w.write_row(broken), ErrorCode::BadColor,
                 "invalid colour \"#nothex\"; expected #rrggbb hex");
    EXPECT_EQ(w.open_rows(), 1u);
    EXPECT_TRUE(w.lints().lints().empty()) << "the failed row's lint is gone with it";
    ASSERT_TRUE(w.write_row(row({str("second"), num(2)})).ok());
    const WriteResult got = finish_ok(w);
    Result<WriteResult> want =
        write_rows("S", {}, {row({str("first"), num(1)}), row({str("second"), num(2)})},
                   std::nullopt, {});
    expect_bytes(entry(got.bytes, "xl/worksheets/sheet1.xml"),
                 entry(want.value().bytes, "xl/worksheets/sheet1.xml"));
    if (!python_has("openpyxl")) GTEST_SKIP() << "openpyxl not installed";
    const std::string script = R"(
import sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1])['S']
got = [[c.value for c in r] for r in ws.iter_rows()]
assert got == [['first', 1], ['second', 2]], got
)";
    EXPECT_TRUE(python_check(got.bytes, script, "writer_failed_row"));
}

// Streaming raises a sheet's row lints while the rows arrive, before its prefix and merge lints.
TEST(WorkbookWriter, RowLintsComeBeforeFrameLints) {
    WorkbookWriter w(std::nullopt, {});
    Sheet s = sheet("S");
    s.columns.resize(1);
    s.columns[0].width = 300;
    s.merges = {"A1:A2", "A1:A2"};
    ASSERT_TRUE(w.start_sheet(s).ok());
    Row r = row({num(1)});
    r.outline_level = 8;
    ASSERT_TRUE(w.write_row(r).ok());
    ASSERT_TRUE(w.start_sheet(sheet("T")).ok());
    r.outline_level = 10;
    ASSERT_TRUE(w.write_row(r).ok());
    const WriteResult got = finish_ok(w);
    std::vector<std::pair<std::string_view, std::string>> lints;
    for (const Lint& l : got.lints.lints()) lints.emplace_back(lint_name(l.code), l.message);
    const std::vector<std::pair<std::string_view, std::string>> want = {
        {"ClampedOutlineLevel", "outline level 8 clamped to 7"},
        {"ClampedColumnWidth", "column width 300 clamped to 255"},
        {"DroppedDuplicateMerge", "duplicate merge A1:A2 dropped"},
        {"ClampedOutlineLevel", "outline level 10 clamped to 7"},
    };
    EXPECT_EQ(lints, want);
}

TEST(WorkbookWriter, PasswordEncryptsTheFinishedPackage) {
    WriteOptions opts;
    opts.password = "pw";
    WorkbookWriter w(std::nullopt, opts);
    ASSERT_TRUE(w.start_sheet(sheet("S")).ok());
    const WriteResult got = finish_ok(w);
    EXPECT_EQ(got.bytes.substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
}

}  // namespace
}  // namespace tessary
