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
