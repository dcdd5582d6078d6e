#include <gtest/gtest.h>

#include "error.h"

namespace tessary {
namespace {

struct Case {
    std::string_view in, want;
};
constexpr Case QUOTES[] = {
    {"Sheet1", "\"Sheet1\""},
    {"a\"b", "\"a\\\"b\""},
    {"back\\slash", "\"back\\\\slash\""},
    {"t\tr\rn\n", "\"t\\tr\\rn\\n\""},
    {std::string_view("nul\0x", 5), "\"nul\\0x\""},
    {"bell\x07" "esc\x1b", "\"bell\\u{7}esc\\u{1b}\""},
    {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
    {"del\x7f", "\"del\\u{7f}\""},
    {"c1\xc2\x80\xc2\x9f", "\"c1\\u{80}\\u{9f}\""},                 // C1 controls
    {"nbsp\xc2\xa0", "\"nbsp\xc2\xa0\""},                             // printable, kept
    {"soft\xc2\xad" "hy", "\"soft\\u{ad}hy\""},
    {"zw\xe2\x80\x8b" "sp", "\"zw\\u{200b}sp\""},
    {"\xef\xbb\xbf" "bom", "\"\\u{feff}bom\""},
    {"nc\xef\xbf\xbf", "\"nc\\u{ffff}\""},
    {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},                     // astral, kept
    {"bad\xff\xc2", "\"bad\xff\xc2\""},                               // not UTF-8: as is
};

TEST(QuoteInto, EscapesLikeMessageValues) {
    for (const Case& c : QUOTES) {
        std::string out = "name ";
        quote_into(out, c.in);
        EXPECT_EQ(out, "name " + std::string(c.want)) << "input: " << c.in;
    }
}

TEST(CodeName, SpellsEveryCode) {
    EXPECT_EQ(code_name(ErrorCode::EmptyWorkbook), "EmptyWorkbook");
    EXPECT_EQ(code_name(ErrorCode::Encryption), "Encryption");
    EXPECT_EQ(lint_name(LintCode::ClampedFreeze), "ClampedFreeze");
}

}  // namespace
}  // namespace tessary
