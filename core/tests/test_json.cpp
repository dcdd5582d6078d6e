#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "helpers.h"
#include "json.h"

namespace tessary::json {
namespace {

using tessary::testing::expect_error;

struct SyntaxCase {
    std::string_view in, message;
};

// The reader stops at the byte named by the column (1-based); at the end of the input the column
// is the number of bytes on the last line.
const SyntaxCase SYNTAX[] = {
    {"", "EOF while parsing a value at line 1 column 0"},
    {"   ", "EOF while parsing a value at line 1 column 3"},
    {"[1, 2", "EOF while parsing a list at line 1 column 5"},
    {"{\"a\": 1", "EOF while parsing an object at line 1 column 7"},
    {"\"abc", "EOF while parsing a string at line 1 column 4"},
    {"[1,", "EOF while parsing a value at line 1 column 3"},
    {"{\"a\" 1}", "expected `:` at line 1 column 6"},
    //     ^
    {"[1 2]", "expected `,` or `]` at line 1 column 4"},
    //    ^
    {"{\"a\":1 \"b\":2}", "expected `,` or `}` at line 1 column 8"},
    //        ^
    {"[tru]", "expected ident at line 1 column 5"},
    //     ^
    {"nul", "EOF while parsing a value at line 1 column 3"},
    {"[+1]", "expected value at line 1 column 2"},
    //  ^
    {"{1:2}", "key must be a string at line 1 column 2"},
    //  ^
    {"\"a\\qb\"", "invalid escape at line 1 column 4"},
    //     ^
    {"\"\\u12x4\"", "invalid escape at line 1 column 7"},
    //        ^ (after the four characters of the escape)
    {"[01]", "invalid number at line 1 column 3"},
    //   ^
    {"[1.]", "invalid number at line 1 column 4"},
    //    ^
    {"1.", "EOF while parsing a value at line 1 column 2"},
    {"[1e]", "invalid number at line 1 column 4"},
    {"[-x]", "invalid number at line 1 column 3"},
    {"[1e400]", "number out of range at line 1 column 6"},
    //      ^ (the last digit)
    {"[-1e400]", "number out of range at line 1 column 7"},
    {"[123456789012345678901234567890e300]", "number out of range at line 1 column 35"},
    {"\"a\x01\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
    //    ^
    {"\"\\ud800x\"", "unexpected end of hex escape at line 1 column 8"},
    //         ^
    {"\"\\ud800\\n\"", "unexpected end of hex escape at line 1 column 9"},
    {"\"\\ud800\\u0041\"", "lone leading surrogate in hex escape at line 1 column 13"},
    {"\"\\udc00\"", "lone leading surrogate in hex escape at line 1 column 7"},
    {"\"\\u12", "EOF while parsing a string at line 1 column 5"},
    {"\"\xff\"", "invalid unicode code point at line 1 column 3"},
    {"\"\xed\xa0\x80\"", "invalid unicode code point at line 1 column 5"},  // encoded surrogate
    {"[1,]", "trailing comma at line 1 column 4"},
    //    ^
    {"{\"a\":1,}", "trailing comma at line 1 column 8"},
    {"[1] x", "trailing characters at line 1 column 5"},
    //     ^
    {"{}\n\n  }", "trailing characters at line 3 column 3"},
    {"[\n1,\n2 3]", "expected `,` or `]` at line 3 column 3"},
};

TEST(Parse, SyntaxMessagesAndPositions) {
    for (const SyntaxCase& c : SYNTAX) {
        SCOPED_TRACE(std::string(c.in));
        expect_error(parse(c.in), ErrorCode::InvalidJson, c.message);
    }
}

TEST(Parse, RecursionLimit) {
    // 127 nested arrays are read; the 128th opening bracket is refused where it stands.
    std::string ok = std::string(127, '[') + std::string(127, ']');
    EXPECT_TRUE(parse(ok).ok());
    std::string deep(100000, '[');
    expect_error(parse(deep), ErrorCode::InvalidJson, "recursion limit exceeded at line 1 column 128");
    std::string objects;
    for (int k = 0; k < 200; ++k) objects += "{\"a\":";
    expect_error(parse(objects), ErrorCode::InvalidJson, "recursion limit exceeded at line 1 column 636");
}

// y_ inputs are read; n_ inputs are refused (RFC 8259 grammar, strictly).
constexpr std::string_view Y_FIXTURES[] = {
    "[]", "{}", "[null,true,false]", " [1] ", "\t\r\n[]\n", "-0", "0", "1E2", "1e+2", "1.5e-3",
    "-123.456e-789", "123456789012345678901234567890", "\"\"", "\"\\u0000\"", "\"\\/\"",
    "\"\\ud83d\\ude00\"", "\"\xf0\x9f\x98\x80\"", "\"\xe2\x82\xac\"", "{\"a\":[{\"b\":{}}]}",
    "{\"a\":1,\"a\":2}", "1e-99999999999999999999", "0e99999999999999999999",
};
constexpr std::string_view N_FIXTURES[] = {
    "[", "]", "[1,,2]", "[,1]", "{,}", "{\"a\"}", "{\"a\":}", "{'a':1}", "[NaN]", "[Infinity]",
    "[.5]", "[5.]", "[1.e5]", "[0x10]", "[00]", "[-01]", "[- 1]", "[\"\\x41\"]", "[\"a\tb\"]",
    "[True]", "[nulls]", "\xef\xbb\xbf[]", "[1]]", "[\"\\u00\"]", "{\"a\":1}{", "/* c */ []",
    "[1e99999999999999999999]",
};

TEST(Parse, AcceptsAndRejectsFixtures) {
    for (std::string_view y : Y_FIXTURES) EXPECT_TRUE(parse(y).ok()) << "y_: " << y;
    for (std::string_view n : N_FIXTURES) {
        Result<Value> r = parse(n);
        ASSERT_FALSE(r.ok()) << "n_: " << n;
        EXPECT_EQ(r.error().code, ErrorCode::InvalidJson) << n;
    }
}

TEST(Parse, ClassifiesNumbers) {
    struct Case {
        std::string_view in;
        Kind kind;
        uint64_t u;
        int64_t i;
        double d;
    };
    const Case cases[] = {
        {"0", Kind::UInt, 0, 0, 0},
        {"18446744073709551615", Kind::UInt, 18446744073709551615u, 0, 0},
        {"18446744073709551616", Kind::Double, 0, 0, 18446744073709551616.0},
        {"-1", Kind::Int, 0, -1, 0},
        {"-9223372036854775808", Kind::Int, 0, INT64_MIN, 0},
        {"-9223372036854775809", Kind::Double, 0, 0, -9223372036854775809.0},
        {"-0", Kind::Double, 0, 0, -0.0},
        {"2.0", Kind::Double, 0, 0, 2.0},
        {"1e2", Kind::Double, 0, 0, 100.0},
        {"1e-400", Kind::Double, 0, 0, 0.0},
        {"-1e-400", Kind::Double, 0, 0, -0.0},
    };
    for (const Case& c : cases) {
        Result<Value> r = parse(c.in);
        ASSERT_TRUE(r.ok()) << c.in;
        EXPECT_EQ(r.value().kind, c.kind) << c.in;
        EXPECT_EQ(r.value().u, c.u) << c.in;
        EXPECT_EQ(r.value().i, c.i) << c.in;
        EXPECT_EQ(r.value().d, c.d) << c.in;
        EXPECT_EQ(std::signbit(r.value().d), std::signbit(c.d)) << c.in;
    }
}

// glibc's strtod rounds correctly; every number text must give the same double.
TEST(Parse, NumbersAreCorrectlyRounded) {
    std::mt19937_64 rng(7);
    const char* hard[] = {"2.2250738585072011e-308", "2.2250738585072012e-308",
                          "9007199254740993", "1.00000000000000011102230246251565404236316680908203125",
                          "0.1", "4.9406564584124654e-324", "2.4703282292062327e-324",
                          "1.7976931348623157e308", "7.2057594037927933e16"};
    auto check = [](const std::string& text) {
        Result<Value> r = parse(text);
        ASSERT_TRUE(r.ok()) << text;
        const double want = std::strtod(text.c_str(), nullptr);
        const double got = r.value().kind == Kind::Double ? r.value().d : static_cast<double>(r.value().u);
        EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << text;
    };
    for (const char* h : hard) check(h);
    for (int k = 0; k < 20000; ++k) {
        std::string text = std::to_string(rng() % 1000000000);
        text += '.';
        const int frac = 1 + static_cast<int>(rng() % 25);
        for (int f = 0; f < frac; ++f) text += static_cast<char>('0' + rng() % 10);
        text += 'e';
        text += std::to_string(static_cast<int>(rng() % 620) - 330);
        check(text);
    }
}

TEST(Parse, StringsAndObjects) {
    Result<Value> r = parse("{\"k\\u00e9y\": \"a\\\"b\\\\c\\/d\\b\\f\\n\\r\\t\\ud83d\\ude00\", \"n\": [1, -2, 2.5]}");
    ASSERT_TRUE(r.ok());
    const Value& v = r.value();
    ASSERT_EQ(v.kind, Kind::Object);
    ASSERT_EQ(v.obj.size(), 2u);
    EXPECT_EQ(v.obj[0].first, "k\xc3\xa9y");
    EXPECT_EQ(v.obj[0].second.s, "a\"b\\c/d\b\f\n\r\t\xf0\x9f\x98\x80");
    EXPECT_EQ(v.obj[1].second.arr[1].i, -2);
}

// The string scanner reads eight bytes at a time: a byte that needs attention is found at every
// offset of every block.
TEST(Parse, StringBytesAtEveryOffset) {
    for (size_t len = 1; len < 26; ++len) {
        for (size_t at = 0; at < len; ++at) {
            std::string plain(len, 'a');
            std::string ctrl = plain, esc = plain, utf = plain, bad = plain;
            ctrl[at] = '\x1f';
            expect_error(parse("\"" + ctrl + "\""), ErrorCode::InvalidJson,
                         "control character (\\u0000-\\u001F) found while parsing a string at line 1 column " +
                             std::to_string(at + 2));
            esc.replace(at, 1, "\\n");
            Result<Value> e = parse("\"" + esc + "\"");
            ASSERT_TRUE(e.ok());
            EXPECT_EQ(e.value().s, plain.substr(0, at) + "\n" + plain.substr(at + 1));
            utf.replace(at, 1, "\xc3\xa9");
            Result<Value> u = parse("\"" + utf + "\"");
            ASSERT_TRUE(u.ok());
            EXPECT_EQ(u.value().s, utf);
            bad[at] = '\x80';
            expect_error(parse("\"" + bad + "\""), ErrorCode::InvalidJson,
                         "invalid unicode code point at line 1 column " + std::to_string(len + 2));
            Result<Value> quoted = parse("[\"" + plain.substr(0, at) + "\",1]");
            ASSERT_TRUE(quoted.ok());
            EXPECT_EQ(quoted.value().arr[0].s, plain.substr(0, at));
        }
    }
}

struct PrintCase {
    double in;
    std::string_view want;
};
const PrintCase DOUBLES[] = {
    {1, "1.0"},
    {45292, "45292.0"},
    {1e15, "1000000000000000.0"},
    {0.00001, "0.00001"},
    {12.5, "12.5"},
    {1e16, "1e+16"},
    {1.5e-7, "1.5e-7"},
    {1e-300, "1e-300"},
    {1.7976931348623157e308, "1.7976931348623157e+308"},
    {0.0, "0.0"},
    {-0.0, "-0.0"},
    {-2.5, "-2.5"},
    {123456789012345680.0, "1.2345678901234568e+17"},
    {0.000001, "1e-6"},
    {0.1 + 0.2, "0.30000000000000004"},
    {NAN, "null"},
    {INFINITY, "null"},
    {-INFINITY, "null"},
};

TEST(PrintInto, DoubleLayout) {
    for (const PrintCase& c : DOUBLES) {
        std::string out = "x";
        print_into(out, Value::number(c.in));
        EXPECT_EQ(out, "x" + std::string(c.want)) << c.in;
    }
}

TEST(PrintInto, CompactValues) {
    Value v = Value::object({
        {"s", Value::string("a\"b\\c\x01\x1f/\xc3\xa9\b\f\n\r\t")},
        {"n", Value::array({Value::null(), Value::boolean(true), Value::boolean(false),
                            Value::uinteger(18446744073709551615u), Value::integer(INT64_MIN),
                            Value::number(2)})},
        {"e", Value::object({})},
    });
    std::string out;
    print_into(out, v);
    tessary::testing::expect_bytes(out,
                                   "{\"s\":\"a\\\"b\\\\c\\u0001\\u001f/\xc3\xa9\\b\\f\\n\\r\\t\","
                                   "\"n\":[null,true,false,18446744073709551615,-9223372036854775808,2.0],"
                                   "\"e\":{}}");
}

TEST(PrintInto, ReadsBackThroughTheReader) {
    std::mt19937_64 rng(11);
    for (int k = 0; k < 5000; ++k) {
        uint64_t bits = rng();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        if (!std::isfinite(d)) continue;
        std::string out;
        print_into(out, Value::number(d));
        Result<Value> back = parse(out);
        ASSERT_TRUE(back.ok()) << out;
        EXPECT_EQ(back.value().d, d) << out;
    }
}

TEST(FloatText, ShortestPositional) {
    const PrintCase cases[] = {
        {2.0, "2.0"}, {2.5, "2.5"}, {-0.0, "-0.0"}, {1e-7, "0.0000001"}, {1e21, "1000000000000000000000.0"},
        {0.1 + 0.2, "0.30000000000000004"}, {-1234.5, "-1234.5"},
    };
    for (const PrintCase& c : cases) {
        std::string out;
        push_float_text(out, c.in);
        EXPECT_EQ(out, c.want) << c.in;
    }
    std::string big;
    push_float_text(big, 1e300);
    EXPECT_EQ(big, "1" + std::string(300, '0') + ".0");
}

TEST(Messages, OneOfAndUnexpected) {
    constexpr std::string_view one[] = {"a"}, two[] = {"a", "b"}, three[] = {"a", "b", "c"};
    EXPECT_EQ(unknown_field_message("x", one), "unknown field `x`, expected `a`");
    EXPECT_EQ(unknown_field_message("x", two), "unknown field `x`, expected `a` or `b`");
    EXPECT_EQ(unknown_variant_message("x", three), "unknown variant `x`, expected one of `a`, `b`, `c`");
    const std::pair<Value, std::string_view> found[] = {
        {Value::null(), "unit value"},
        {Value::boolean(true), "boolean `true`"},
        {Value::uinteger(5), "integer `5`"},
        {Value::integer(-5), "integer `-5`"},
        {Value::number(2), "floating point `2.0`"},
        {Value::string("a\"b"), "string \"a\\\"b\""},
        {Value::array({}), "sequence"},
        {Value::object({}), "map"},
    };
    for (const auto& [v, want] : found) {
        std::string out;
        push_unexpected(out, v);
        EXPECT_EQ(out, want);
    }
}

}  // namespace
}  // namespace tessary::json
