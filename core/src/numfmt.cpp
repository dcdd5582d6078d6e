// numfmt: format codes for number, percent, currency and date cells (ECMA-376 Part 1, 18.8.31
// numFmts). Each code is built with one reservation of its final length.
#include "numfmt.h"

#include <algorithm>

namespace tessary {

namespace {

constexpr std::string_view GROUPED_INT = "#,##0";

// The symbol of a currency code, or the code itself when the table has none for it.
std::string_view currency_symbol(std::string_view code) {
    if (code == "USD" || code == "MXN" || code == "CAD" || code == "AUD" || code == "ARS" ||
        code == "CLP" || code == "COP")
        return "$";
    if (code == "EUR") return "\xE2\x82\xAC";   // U+20AC
    if (code == "GBP") return "\xC2\xA3";       // U+00A3
    if (code == "JPY" || code == "CNY") return "\xC2\xA5";   // U+00A5
    if (code == "BRL") return "R$";
    return code;
}

// The two-letter region of a locale tag ("de-DE", "de-DE-1996"), or empty when it has none.
std::string_view locale_region(std::string_view locale) {
    const size_t dash = locale.find('-');
    if (dash == std::string_view::npos) return {};
    std::string_view rest = locale.substr(dash + 1);
    rest = rest.substr(0, rest.find('-'));
    return rest.size() == 2 ? rest : std::string_view{};
}

// Regions whose convention puts the currency after the amount.
bool symbol_follows(std::string_view region) {
    static constexpr std::string_view AFTER[] = {"ES", "PT", "FR", "DE", "IT", "NL", "BE",
                                                 "AT", "IE", "FI", "GR", "PL", "SE", "DK",
                                                 "CZ", "HU", "RO", "NO", "CH"};
    return std::find(std::begin(AFTER), std::end(AFTER), region) != std::end(AFTER);
}

}  // namespace

std::string grouped_body(uint32_t decimals, bool grouped) {
    decimals = std::min(decimals, MAX_DECIMALS);
    std::string body;
    body.reserve(GROUPED_INT.size() + 1 + decimals);
    body += grouped ? GROUPED_INT : std::string_view("0");
    if (decimals != 0) {
        body += '.';
        body.append(decimals, '0');
    }
    return body;
}

std::string with_negative(std::string_view body, std::optional<Negative> negative) {
    std::string_view between, after;
    switch (negative.value_or(Negative::Minus)) {
        case Negative::Red: between = ";[Red]-"; break;
        case Negative::Parens: between = ";("; after = ")"; break;
        case Negative::RedParens: between = ";[Red]("; after = ")"; break;
        case Negative::Minus: return std::string(body);
    }
    std::string code;
    code.reserve(2 * body.size() + between.size() + after.size());
    code += body;
    code += between;
    code += body;
    code += after;
    return code;
}

NumFmtKey number(const NumberFormat& format) {
    if (format.raw) return NumFmtKey::custom(*format.raw);
    const std::string body = grouped_body(format.decimals.value_or(0), format.grouped.value_or(true));
    if (!format.negative || *format.negative == Negative::Minus) return NumFmtKey::custom(body);
    return NumFmtKey::custom(with_negative(body, format.negative));
}

NumFmtKey percent(uint32_t decimals) {
    if (decimals == 0) return NumFmtKey::builtin(PERCENT_NUMFMT_ID);
    if (decimals == 2) return NumFmtKey::builtin(PERCENT_2_NUMFMT_ID);
    decimals = std::min(decimals, MAX_DECIMALS);
    std::string code;
    code.reserve(3 + decimals);
    code += "0.";
    code.append(decimals, '0');
    code += '%';
    return NumFmtKey::custom(std::move(code));
}

NumFmtKey currency(const CurrencyFormat& format, std::string_view workbook_locale) {
    const std::string_view locale = format.locale ? std::string_view(*format.locale) : workbook_locale;
    const bool with_symbol = format.symbol.value_or(true);
    const std::string_view mark = with_symbol ? currency_symbol(format.code) : format.code;
    const uint32_t decimals = std::min(format.decimals.value_or(2), MAX_DECIMALS);

    // One section: the marker in quotation marks ("$" or "USD ") before or after the body.
    std::string section;
    section.reserve(GROUPED_INT.size() + 1 + decimals + mark.size() + 3);
    auto push_marker = [&] {
        section += '"';
        section += mark;
        if (!with_symbol) section += ' ';
        section += '"';
    };
    const bool after = symbol_follows(locale_region(locale));
    if (!after) push_marker();
    section += GROUPED_INT;
    if (decimals != 0) {
        section += '.';
        section.append(decimals, '0');
    }
    if (after) push_marker();
    if (!format.negative || *format.negative == Negative::Minus)
        return NumFmtKey::custom(std::move(section));
    return NumFmtKey::custom(with_negative(section, format.negative));
}

NumFmtKey date_key(const DateFormat* format) {
    if (format == nullptr) return NumFmtKey::builtin(DATE_NUMFMT_ID);
    if (format->raw) return NumFmtKey::custom(*format->raw);
    switch (format->kind.value_or(DateKind::Date)) {
        case DateKind::Date: return NumFmtKey::builtin(DATE_NUMFMT_ID);
        case DateKind::Datetime: return NumFmtKey::builtin(DATETIME_NUMFMT_ID);
        case DateKind::MonthYear: return NumFmtKey::builtin(MONTH_YEAR_NUMFMT_ID);
    }
    return NumFmtKey::builtin(DATE_NUMFMT_ID);
}

}  // namespace tessary
