// Tests of number-format keys: number, percent, currency (symbols and placement by locale), date
// keys, the negative-number sections and the bound on decimal counts.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "helpers.h"
#include "numfmt.h"

// The cases name only the fields they set; the others stay absent on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tessary {
namespace {

std::string describe(const NumFmtKey& k) {
    return k.is_builtin() ? "builtin " + std::to_string(k.id()) : "custom " + k.code();
}

NumFmtKey C(std::string code) { return NumFmtKey::custom(std::move(code)); }
NumFmtKey B(uint32_t id) { return NumFmtKey::builtin(id); }

TEST(NumFmtKey, ComparesByContent) {
    EXPECT_EQ(NumFmtKey(), B(0));
    EXPECT_EQ(C("0.0%"), C("0.0%"));
    EXPECT_FALSE(B(0) == C("0"));       // a custom code is never a built-in id
    EXPECT_FALSE(B(0) == C(""));
    EXPECT_FALSE(B(9) == B(10));
    std::unordered_set<NumFmtKey> set{B(0), C("0"), C(""), B(14), C("#,##0")};
    EXPECT_EQ(set.size(), 5u);
    EXPECT_EQ(set.count(C("#,##0")), 1u);
    EXPECT_EQ(set.count(B(22)), 0u);
}

TEST(GroupedBody, IntegerPartAndDecimals) {
    struct Case { uint32_t decimals; bool grouped; std::string_view want; };
    constexpr Case CASES[] = {
        {0, true, "#,##0"}, {2, true, "#,##0.00"}, {0, false, "0"}, {3, false, "0.000"},
        {1, true, "#,##0.0"},
    };
    for (const Case& c : CASES)
        EXPECT_EQ(grouped_body(c.decimals, c.grouped), c.want) << c.decimals << " " << c.grouped;
}

TEST(WithNegative, Sections) {
    struct Case { std::optional<Negative> negative; std::string_view want; };
    const Case CASES[] = {
        {std::nullopt, "0.0"},
        {Negative::Minus, "0.0"},
        {Negative::Red, "0.0;[Red]-0.0"},
        {Negative::Parens, "0.0;(0.0)"},
        {Negative::RedParens, "0.0;[Red](0.0)"},
    };
    for (const Case& c : CASES) EXPECT_EQ(with_negative("0.0", c.negative), c.want);
}

TEST(Number, Codes) {
    struct Case { NumberFormat format; std::string_view want; };
    const Case CASES[] = {
        {{}, "#,##0"},
        {{.decimals = 2}, "#,##0.00"},
        {{.grouped = false}, "0"},
        {{.decimals = 1, .grouped = false}, "0.0"},
        {{.decimals = 2, .negative = Negative::Red}, "#,##0.00;[Red]-#,##0.00"},
        {{.negative = Negative::Parens}, "#,##0;(#,##0)"},
        {{.negative = Negative::RedParens}, "#,##0;[Red](#,##0)"},
        {{.negative = Negative::Minus}, "#,##0"},
        {{.decimals = 4, .grouped = false, .negative = Negative::Red, .raw = "0.0E+00"}, "0.0E+00"},
        {{.raw = ""}, ""},
        {{.raw = "General"}, "General"},   // raw codes are never turned into built-in ids
    };
    for (const Case& c : CASES) {
        const NumFmtKey k = number(c.format);
        EXPECT_EQ(k, C(std::string(c.want))) << describe(k);
    }
}

TEST(Percent, Keys) {
    struct Case { uint32_t decimals; NumFmtKey want; };
    const Case CASES[] = {
        {0, B(9)}, {2, B(10)}, {1, C("0.0%")}, {3, C("0.000%")}, {4, C("0.0000%")},
    };
    for (const Case& c : CASES) {
        const NumFmtKey k = percent(c.decimals);
        EXPECT_EQ(k, c.want) << c.decimals << " gave " << describe(k);
    }
}

TEST(Currency, SymbolsAndPlacement) {
    struct Case { CurrencyFormat format; std::string_view locale; std::string_view want; };
    const Case CASES[] = {
        {{.code = "USD"}, "en-US", "\"$\"#,##0.00"},
        {{.code = "EUR", .locale = "de-DE"}, "en-US", "#,##0.00\"\xE2\x82\xAC\""},
        {{.code = "EUR"}, "fr-FR", "#,##0.00\"\xE2\x82\xAC\""},
        {{.code = "EUR"}, "en-GB", "\"\xE2\x82\xAC\"#,##0.00"},
        {{.code = "EUR", .locale = "en-IE"}, "de-DE", "#,##0.00\"\xE2\x82\xAC\""},   // own locale wins
        {{.code = "USD", .symbol = false}, "en-US", "\"USD \"#,##0.00"},
        {{.code = "USD", .symbol = false}, "de-DE", "#,##0.00\"USD \""},
        {{.code = "CHF", .symbol = true}, "en-US", "\"CHF\"#,##0.00"},
        {{.code = "CHF", .symbol = true}, "de-CH", "#,##0.00\"CHF\""},
        {{.code = "JPY", .decimals = 0}, "en-US", "\"\xC2\xA5\"#,##0"},
        {{.code = "CNY"}, "en-US", "\"\xC2\xA5\"#,##0.00"},
        {{.code = "GBP", .decimals = 1}, "en-GB", "\"\xC2\xA3\"#,##0.0"},
        {{.code = "BRL"}, "pt-BR", "\"R$\"#,##0.00"},
        {{.code = "MXN"}, "es-MX", "\"$\"#,##0.00"},
        {{.code = "CAD"}, "en-CA", "\"$\"#,##0.00"},
        {{.code = "AUD"}, "en-AU", "\"$\"#,##0.00"},
        {{.code = "ARS"}, "es-AR", "\"$\"#,##0.00"},
        {{.code = "CLP"}, "es-CL", "\"$\"#,##0.00"},
        {{.code = "COP"}, "es-CO", "\"$\"#,##0.00"},
        {{.code = "usd"}, "en-US", "\"usd\"#,##0.00"},                 // exact, case-sensitive
        {{.code = "BITCOIN"}, "en-US", "\"BITCOIN\"#,##0.00"},
        {{.code = ""}, "en-US", "\"\"#,##0.00"},
        {{.code = "a\"b"}, "en-US", "\"a\"b\"#,##0.00"},               // inserted verbatim
        {{.code = "USD", .negative = Negative::RedParens}, "en-US",
         "\"$\"#,##0.00;[Red](\"$\"#,##0.00)"},
        {{.code = "EUR", .negative = Negative::Red}, "de-DE",
         "#,##0.00\"\xE2\x82\xAC\";[Red]-#,##0.00\"\xE2\x82\xAC\""},
        {{.code = "USD", .negative = Negative::Parens}, "en-US", "\"$\"#,##0.00;(\"$\"#,##0.00)"},
        {{.code = "USD", .negative = Negative::Minus}, "en-US", "\"$\"#,##0.00"},
        // Regions: only the exact two-letter upper-case part after the first "-".
        {{.code = "EUR"}, "de", "\"\xE2\x82\xAC\"#,##0.00"},
        {{.code = "EUR"}, "de-de", "\"\xE2\x82\xAC\"#,##0.00"},
        {{.code = "EUR"}, "zh-Hans-CN", "\"\xE2\x82\xAC\"#,##0.00"},
        {{.code = "EUR"}, "de-DE-1996", "#,##0.00\"\xE2\x82\xAC\""},
        {{.code = "EUR"}, "-DE", "#,##0.00\"\xE2\x82\xAC\""},
        {{.code = "EUR"}, "de-DEU", "\"\xE2\x82\xAC\"#,##0.00"},
        {{.code = "EUR"}, "de-", "\"\xE2\x82\xAC\"#,##0.00"},
        {{.code = "EUR"}, "", "\"\xE2\x82\xAC\"#,##0.00"},
        {{.code = "EUR"}, "x-DE-", "#,##0.00\"\xE2\x82\xAC\""},
    };
    for (const Case& c : CASES) {
        const NumFmtKey k = currency(c.format, c.locale);
        EXPECT_EQ(k, C(std::string(c.want)))
            << c.format.code << " under " << c.locale << " gave " << describe(k);
    }
    // Every region that places the marker after the amount.
    for (std::string_view r : {"ES", "PT", "FR", "DE", "IT", "NL", "BE", "AT", "IE", "FI", "GR", "PL",
                               "SE", "DK", "CZ", "HU", "RO", "NO", "CH"}) {
        const NumFmtKey k = currency({.code = "X"}, "xx-" + std::string(r));
        EXPECT_EQ(k, C("#,##0.00\"X\"")) << r;
    }
    for (std::string_view r : {"US", "GB", "JP", "BR", "CA", "LU", "es", "De"}) {
        const NumFmtKey k = currency({.code = "X"}, "xx-" + std::string(r));
        EXPECT_EQ(k, C("\"X\"#,##0.00")) << r;
    }
}

TEST(DateKey, BuiltInOrRaw) {
    struct Case { std::optional<DateFormat> format; NumFmtKey want; };
    const Case CASES[] = {
        {std::nullopt, B(14)},
        {DateFormat{}, B(14)},
        {DateFormat{.kind = DateKind::Date}, B(14)},
        {DateFormat{.kind = DateKind::Datetime}, B(22)},
        {DateFormat{.kind = DateKind::MonthYear}, B(17)},
        {DateFormat{.raw = "yyyy-mm-dd"}, C("yyyy-mm-dd")},
        {DateFormat{.kind = DateKind::Datetime, .raw = "d/m"}, C("d/m")},
    };
    for (const Case& c : CASES) {
        const NumFmtKey k = date_key(c.format);
        EXPECT_EQ(k, c.want) << describe(k);
    }
}

// Counts up to MAX_DECIMALS are exact; beyond it they write MAX_DECIMALS places.
TEST(Decimals, BoundedAtMaxDecimals) {
    static_assert(MAX_DECIMALS == 30);
    const std::string zeros30(30, '0');
    EXPECT_EQ(grouped_body(30, true), "#,##0." + zeros30);
    EXPECT_EQ(grouped_body(29, false), "0." + std::string(29, '0'));
    for (uint32_t absurd : {31u, 1000u, 4294967295u}) {
        EXPECT_EQ(grouped_body(absurd, true), grouped_body(30, true)) << absurd;
        EXPECT_EQ(number({.decimals = absurd, .negative = Negative::Red}),
                  C("#,##0." + zeros30 + ";[Red]-#,##0." + zeros30)) << absurd;
        EXPECT_EQ(percent(absurd), C("0." + zeros30 + "%")) << absurd;
        EXPECT_EQ(currency({.code = "USD", .decimals = absurd}, "en-US"),
                  C("\"$\"#,##0." + zeros30)) << absurd;
    }
    EXPECT_EQ(percent(30), C("0." + zeros30 + "%"));
    EXPECT_EQ(currency({.code = "USD", .decimals = 30}, "en-US"), C("\"$\"#,##0." + zeros30));
}

}  // namespace
}  // namespace tessary
