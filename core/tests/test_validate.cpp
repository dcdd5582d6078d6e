#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "helpers.h"
#include "model.h"
#include "validate.h"

namespace tessary {
namespace {

using tessary::testing::expect_error;

Workbook book_of(std::vector<std::string> names) {
    Workbook b;
    for (std::string& n : names) {
        Sheet s;
        s.name = std::move(n);
        b.sheets.push_back(std::move(s));
    }
    return b;
}

std::string repeat(std::string_view piece, int n) {
    std::string out;
    for (int k = 0; k < n; ++k) out += piece;
    return out;
}

TEST(Validate, EmptyWorkbook) {
    expect_error(validate(Workbook{}), ErrorCode::EmptyWorkbook, "a workbook needs at least one sheet");
}

struct Case {
    std::vector<std::string> names;
    ErrorCode code;
    std::string message;  // empty: valid
};

const Case CASES[] = {
    {{"Sheet1"}, ErrorCode::InvalidSheetName, ""},
    {{std::string(31, 'a')}, ErrorCode::InvalidSheetName, ""},
    {{repeat("\xc3\xa9", 31)}, ErrorCode::InvalidSheetName, ""},  // 31 letters, 62 bytes
    {{repeat("\xf0\x9f\x98\x80", 31)}, ErrorCode::InvalidSheetName, ""},  // outside the BMP
    {{std::string(32, 'a')}, ErrorCode::InvalidSheetName,
     "sheet name \"" + std::string(32, 'a') + "\" exceeds 31 characters"},
    {{repeat("\xc3\xa9", 32)}, ErrorCode::InvalidSheetName,
     "sheet name \"" + repeat("\xc3\xa9", 32) + "\" exceeds 31 characters"},
    {{""}, ErrorCode::InvalidSheetName, "sheet name must not be empty"},
    {{"Q1/Q2"}, ErrorCode::InvalidSheetName,
     "sheet name \"Q1/Q2\" contains a forbidden character (: \\ / ? * [ ])"},
    {{"a:b"}, ErrorCode::InvalidSheetName, "sheet name \"a:b\" contains a forbidden character (: \\ / ? * [ ])"},
    {{"a\\b"}, ErrorCode::InvalidSheetName,
     "sheet name \"a\\\\b\" contains a forbidden character (: \\ / ? * [ ])"},
    {{"a?"}, ErrorCode::InvalidSheetName, "sheet name \"a?\" contains a forbidden character (: \\ / ? * [ ])"},
    {{"*"}, ErrorCode::InvalidSheetName, "sheet name \"*\" contains a forbidden character (: \\ / ? * [ ])"},
    {{"[x"}, ErrorCode::InvalidSheetName, "sheet name \"[x\" contains a forbidden character (: \\ / ? * [ ])"},
    {{"x]"}, ErrorCode::InvalidSheetName, "sheet name \"x]\" contains a forbidden character (: \\ / ? * [ ])"},
    // The length is checked before the characters.
    {{std::string(39, 'a') + "/"}, ErrorCode::InvalidSheetName,
     "sheet name \"" + std::string(39, 'a') + "/\" exceeds 31 characters"},
    {{"Data", "DATA"}, ErrorCode::DuplicateSheetName, "duplicate sheet name \"DATA\""},
    {{"a\"b", "A\"B"}, ErrorCode::DuplicateSheetName, "duplicate sheet name \"A\\\"B\""},
    {{"ok", ""}, ErrorCode::InvalidSheetName, "sheet name must not be empty"},
    {{"a/b", ""}, ErrorCode::InvalidSheetName,
     "sheet name \"a/b\" contains a forbidden character (: \\ / ? * [ ])"},
    {{"'quoted'", "   ", "History"}, ErrorCode::InvalidSheetName, ""},
    // Full Unicode lower case, not ASCII only, and not case folding.
    {{"\xc3\x84pfel", "\xc3\xa4PFEL"}, ErrorCode::DuplicateSheetName, "duplicate sheet name \"\xc3\xa4PFEL\""},
    {{"\xd0\x94\xd0\xb0\xd0\xbd\xd0\xbd\xd1\x8b\xd0\xb5", "\xd0\xb4\xd0\xb0\xd0\xbd\xd0\xbd\xd1\x8b\xd0\xb5"},
     ErrorCode::DuplicateSheetName,
     "duplicate sheet name \"\xd0\xb4\xd0\xb0\xd0\xbd\xd0\xbd\xd1\x8b\xd0\xb5\""},
    {{"Stra\xc3\x9f" "e", "STRASSE"}, ErrorCode::InvalidSheetName, ""},
    {{"\xe1\xba\x9e", "\xc3\x9f"}, ErrorCode::DuplicateSheetName, "duplicate sheet name \"\xc3\x9f\""},
    {{"\xc4\xb0", "i\xcc\x87"}, ErrorCode::DuplicateSheetName, "duplicate sheet name \"i\xcc\x87\""},
    {{"\xc4\xb0", "i"}, ErrorCode::InvalidSheetName, ""},
    {{"\xf0\x90\x90\x80", "\xf0\x90\x90\xa8"}, ErrorCode::DuplicateSheetName,
     "duplicate sheet name \"\xf0\x90\x90\xa8\""},
    // Capital sigma lowers to final sigma at the end of a word, to sigma elsewhere.
    {{"\xce\x9f\xce\x94\xce\x9f\xce\xa3", "\xce\xbf\xce\xb4\xce\xbf\xcf\x82"}, ErrorCode::DuplicateSheetName,
     "duplicate sheet name \"\xce\xbf\xce\xb4\xce\xbf\xcf\x82\""},
    {{"\xce\x9f\xce\x94\xce\x9f\xce\xa3", "\xce\xbf\xce\xb4\xce\xbf\xcf\x83"}, ErrorCode::InvalidSheetName, ""},
    {{"\xce\xa3\xce\x91", "\xcf\x83\xce\xb1"}, ErrorCode::DuplicateSheetName,
     "duplicate sheet name \"\xcf\x83\xce\xb1\""},
    // Names are judged without the characters the workbook part cannot hold; messages quote the
    // name as given.
    {{"ab", "a\x01" "b"}, ErrorCode::DuplicateSheetName, "duplicate sheet name \"a\\u{1}b\""},
    {{"ab", "A\xef\xbf\xbe" "B"}, ErrorCode::DuplicateSheetName, "duplicate sheet name \"A\\u{fffe}B\""},
    {{"\x01\x02"}, ErrorCode::InvalidSheetName, "sheet name must not be empty"},
    {{"\xef\xbf\xbf"}, ErrorCode::InvalidSheetName, "sheet name must not be empty"},
    {{std::string(31, 'a') + "\x1f\x1f"}, ErrorCode::InvalidSheetName, ""},
    {{"a\tb", "ab"}, ErrorCode::InvalidSheetName, ""},  // tab is kept, so the names differ
    {{std::string(31, 'a') + "\t"}, ErrorCode::InvalidSheetName,
     "sheet name \"" + std::string(31, 'a') + "\\t\" exceeds 31 characters"},
};

TEST(Validate, SheetNames) {
    for (const Case& c : CASES) {
        SCOPED_TRACE(c.names.back());
        Status st = validate(book_of(c.names));
        if (c.message.empty()) {
            EXPECT_TRUE(st.ok()) << st.error().message;
        } else {
            expect_error(st, c.code, c.message);
        }
    }
}

TEST(Validate, OnlyNamesAreChecked) {
    Workbook b = book_of({"S"});
    Column wide;
    wide.width = 300;
    b.sheets[0].columns.push_back(wide);
    b.sheets[0].merges.push_back("not a range");
    EXPECT_TRUE(validate(b).ok());
}

TEST(CheckSheetName, RecordsOnlyAcceptedNames) {
    std::vector<std::string> seen;
    EXPECT_TRUE(check_sheet_name("Data", seen).ok());
    expect_error(check_sheet_name("a/b", seen), ErrorCode::InvalidSheetName,
                 "sheet name \"a/b\" contains a forbidden character (: \\ / ? * [ ])");
    expect_error(check_sheet_name("DATA", seen), ErrorCode::DuplicateSheetName, "duplicate sheet name \"DATA\"");
    EXPECT_TRUE(check_sheet_name("\xc3\x89t\xc3\xa9", seen).ok());
    EXPECT_EQ(seen, (std::vector<std::string>{"data", "\xc3\xa9t\xc3\xa9"}));
}

TEST(LowerInto, FullMapping) {
    struct L {
        std::string_view in, want;
    };
    const L cases[] = {
        {"ABC xyz 123", "abc xyz 123"},
        {"\xc3\x80\xc3\x9e", "\xc3\xa0\xc3\xbe"},
        {"\xc4\xb0", "i\xcc\x87"},
        {"\xe1\xbe\x88", "\xe1\xbe\x80"},  // capital alpha with psili and prosgegrammeni
        {"\xce\x91\xce\xa3 \xce\xa3", "\xce\xb1\xcf\x82 \xcf\x83"},  // final, then alone
        {"\xce\x91\xce\xa3'", "\xce\xb1\xcf\x82'"},  // an apostrophe is case-ignorable
        {"\xce\x91\xce\xa3\xce\x91", "\xce\xb1\xcf\x83\xce\xb1"},
        {"\xe2\x84\xaa", "k"},  // Kelvin sign
        {"bad\xff", "bad\xff"},
    };
    for (const L& c : cases) {
        std::string out = "=";
        lower_into(out, c.in);
        EXPECT_EQ(out, "=" + std::string(c.want)) << c.in;
    }
}

}  // namespace
}  // namespace tessary
