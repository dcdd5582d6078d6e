// Tests of XML text escaping: the entities, dropped characters, and the protection of _xHHHH_
// runs in inline-string cell text, checked against a decoder that reads such runs back.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "helpers.h"
#include "xml.h"

namespace tessary {
namespace {

struct Case {
    std::string_view in, want;
};

constexpr Case ESCAPES[] = {
    {"", ""},
    {"plain text", "plain text"},
    {"a<&>\"'", "a&lt;&amp;&gt;&quot;&apos;"},
    {"&&", "&amp;&amp;"},
    {"tab\tand\nline\rend", "tab\tand\nline\rend"},            // kept
    {"\x01" "a\t\x1f", "a\t"},                                  // other controls dropped
    {std::string_view("nul\0here", 8), "nulhere"},
    {"\x7f" "caf\xc3\xa9 \xc2\x80\xc2\x9f", "\x7f" "caf\xc3\xa9 \xc2\x80\xc2\x9f"},   // U+007F..U+009F pass
    {"a\xef\xbf\xbe" "b\xef\xbf\xbf" "c", "abc"},               // U+FFFE, U+FFFF dropped
    {"\xef\xbf\xbd\xef\xbf\xbc\xef\xbe\xbf\xef\x80\x80",        // U+FFFD, U+FFFC, U+FFBF, U+F000 pass
     "\xef\xbf\xbd\xef\xbf\xbc\xef\xbe\xbf\xef\x80\x80"},
    {"\xf0\x9f\x98\x80<", "\xf0\x9f\x98\x80&lt;"},              // four-byte UTF-8
    {"end\xef\xbf", "end\xef\xbf"},                             // a cut sequence is copied, never overread
    {"end\xef", "end\xef"},
    {"_x0041_", "_x0041_"},                                     // runs only matter in cell text
};

TEST(EscapeInto, AppendsEscapedText) {
    for (const Case& c : ESCAPES) {
        std::string out = "<t>";   // appends: earlier bytes stay
        escape_into(out, c.in);
        EXPECT_EQ(out, "<t>" + std::string(c.want)) << "input: " << c.in;
    }
}

// Texts are tested eight bytes at a time, the last group ending at the text's end: every byte
// that needs work is found at every position of texts from 1 to 24 bytes.
TEST(EscapeInto, FindsWorkAtEveryPosition) {
    struct Piece { std::string_view in, want; };
    constexpr Piece PIECES[] = {
        {"&", "&amp;"}, {"<", "&lt;"}, {">", "&gt;"}, {"\"", "&quot;"}, {"'", "&apos;"},
        {"\x01", ""}, {"\x1f", ""}, {"\xef\xbf\xbe", ""}, {"\xef\xbf\xbf", ""},
        {"\xef\xbf\xbd", "\xef\xbf\xbd"}, {"\t", "\t"}, {"_", "_"}, {"%", "%"}, {"\x7f", "\x7f"},
    };
    for (const Piece& p : PIECES) {
        for (size_t len = 1; len <= 24; ++len) {
            for (size_t at = 0; at < len; ++at) {
                const std::string text = std::string(at, 'a') + std::string(p.in) + std::string(len - at - 1, 'b');
                const std::string want = std::string(at, 'a') + std::string(p.want) + std::string(len - at - 1, 'b');
                std::string plain, cell;
                escape_into(plain, text);
                escape_cell_text_into(cell, text);
                ASSERT_EQ(plain, want) << "input: " << text;
                ASSERT_EQ(cell, want) << "input: " << text;
            }
        }
    }
}

TEST(EscapeCellTextInto, FindsRunsAtEveryPosition) {
    for (size_t before = 0; before <= 17; ++before) {
        for (size_t after = 0; after <= 9; ++after) {
            const std::string a(before, 'a'), b(after, 'b');
            std::string cell;
            escape_cell_text_into(cell, a + "_x0041_" + b);
            ASSERT_EQ(cell, a + "_x005F_x0041_" + b);
        }
    }
}

constexpr Case CELL_TEXT[] = {
    {"_x0041_", "_x005F_x0041_"},
    {"_x00ab_ and _x00AB_", "_x005F_x00ab_ and _x005F_x00AB_"},   // either case of hex
    {"_x005F_", "_x005F_x005F_"},
    {"_x0041_x0042_", "_x005F_x0041_x005F_x0042_"},               // overlapping runs
    {"__x0041_", "__x005F_x0041_"},
    {"_x0041__x0042_", "_x005F_x0041__x005F_x0042_"},
    {"a&_x0026_<", "a&amp;_x005F_x0026_&lt;"},
    {"_x" "\x01" "0041_", "_x005F_x0041_"},                       // run formed once the control goes
    {"_x00\xef\xbf\xbe" "41_", "_x005F_x0041_"},                  // and once U+FFFE goes
    {"_\x02x0041\x03_", "_x005F_x0041_"},
    // Not runs: left as they are.
    {"_X0041_", "_X0041_"},
    {"_x004g_", "_x004g_"},
    {"_x041_", "_x041_"},
    {"_x00411_", "_x00411_"},
    {"_x0041", "_x0041"},
    {"x0041_", "x0041_"},
    {"_x_0041_", "_x_0041_"},
    {"_x00\xc3\xa9" "41_", "_x00\xc3\xa9" "41_"},
    {"snake_case_name_", "snake_case_name_"},
    {"_", "_"},
    {"tab\tbell\x07", "tab\tbell"},
};

TEST(EscapeCellTextInto, ProtectsEscapeRuns) {
    for (const Case& c : CELL_TEXT) {
        std::string out = "<t>";
        escape_cell_text_into(out, c.in);
        EXPECT_EQ(out, "<t>" + std::string(c.want)) << "input: " << c.in;
    }
}

TEST(EscapeCellTextInto, MatchesEscapeIntoWithoutUnderscoreRuns) {
    for (const Case& c : ESCAPES) {
        if (std::string_view(c.in).find('_') != std::string_view::npos) continue;
        std::string a, b;
        escape_into(a, c.in);
        escape_cell_text_into(b, c.in);
        EXPECT_EQ(a, b) << "input: " << c.in;
    }
}

// Reads _xHHHH_ runs back as a spreadsheet application does: left to right, each run replaced by
// its (here always ASCII) character, every other byte as it is.
std::string decode_runs(std::string_view s) {
    auto hex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    std::string out;
    for (size_t i = 0; i < s.size();) {
        if (s.size() - i >= 7 && s[i] == '_' && s[i + 1] == 'x' && hex(s[i + 2]) && hex(s[i + 3]) &&
            hex(s[i + 4]) && hex(s[i + 5]) && s[i + 6] == '_') {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 2, 4)), nullptr, 16));
            i += 7;
        } else {
            out += s[i++];
        }
    }
    return out;
}

TEST(EscapeCellTextInto, ReadsBackUnchanged) {
    // Texts made of the pieces of runs (and a dropped control), so runs and near-runs abound.
    constexpr std::string_view ALPHABET = "_x0Ff5A9g\x01";
    std::mt19937 rng(7);
    for (int n = 0; n < 20000; ++n) {
        std::string text;
        const size_t len = rng() % 24;
        for (size_t i = 0; i < len; ++i) text += ALPHABET[rng() % ALPHABET.size()];
        std::string kept;
        for (char c : text)
            if (c != '\x01') kept += c;
        std::string written;
        escape_cell_text_into(written, text);
        ASSERT_EQ(decode_runs(written), kept) << "input: " << text << "\nwritten: " << written;
    }
}

}  // namespace
}  // namespace tessary
