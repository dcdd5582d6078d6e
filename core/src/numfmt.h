// numfmt: the number-format key of a cell (a built-in SpreadsheetML number-format id or a custom
// format code) and the codes for number, percent, currency and date cells. Building a key never
// fails and never validates a code: a raw code is passed on unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "model.h"

namespace tessary {

// Built-in number-format ids (ECMA-376 Part 1, 18.8.30 numFmt) that this system writes; no numFmt
// element is listed for them.
constexpr uint32_t GENERAL_NUMFMT_ID = 0;
constexpr uint32_t PERCENT_NUMFMT_ID = 9;        // 0%
constexpr uint32_t PERCENT_2_NUMFMT_ID = 10;     // 0.00%
constexpr uint32_t DATE_NUMFMT_ID = 14;          // date
constexpr uint32_t MONTH_YEAR_NUMFMT_ID = 17;    // month and year
constexpr uint32_t DATETIME_NUMFMT_ID = 22;      // date and time
// The first id of a custom format code.
constexpr uint32_t FIRST_CUSTOM_NUMFMT_ID = 164;

// Decimal counts above this are written as this many places. Spreadsheet applications offer at
// most 30 decimal places in their own format dialogs; more places would only show digits of
// magnitudes below 1e-30, while an absurd count would build a code of gigabytes. At or below the
// bound every code is exact.
constexpr uint32_t MAX_DECIMALS = 30;

// A built-in number-format id or a custom format code, compared and hashed by content. A custom
// code is never a built-in id, even when it reads like one ("#,##0" stays custom).
class NumFmtKey {
    std::variant<uint32_t, std::string> v_;

public:
    // The general key, built-in id 0.
    NumFmtKey() : v_(std::in_place_index<0>, GENERAL_NUMFMT_ID) {}
    static NumFmtKey builtin(uint32_t id) {
        NumFmtKey k;
        k.v_.emplace<0>(id);
        return k;
    }
    static NumFmtKey custom(std::string code) {
        NumFmtKey k;
        k.v_.emplace<1>(std::move(code));
        return k;
    }

    bool is_builtin() const { return v_.index() == 0; }
    // The id of a built-in key (only when is_builtin()).
    uint32_t id() const { return std::get<0>(v_); }
    // The code of a custom key (only when !is_builtin()).
    const std::string& code() const { return std::get<1>(v_); }

    friend bool operator==(const NumFmtKey& a, const NumFmtKey& b) { return a.v_ == b.v_; }
    size_t hash() const { return std::hash<std::variant<uint32_t, std::string>>{}(v_); }
};

struct NumFmtKeyHash {
    size_t operator()(const NumFmtKey& k) const { return k.hash(); }
};

// The numeric body of a code: "#,##0" when grouped, else "0", then "." and `decimals` zeros when
// `decimals` is not 0 (at most MAX_DECIMALS). 2 grouped gives "#,##0.00", 3 plain gives "0.000".
std::string grouped_body(uint32_t decimals, bool grouped);

// The full code for a body and a negative-number style: red "{0};[Red]-{0}", parens "{0};({0})",
// red-parens "{0};[Red]({0})", minus or absent the body alone.
std::string with_negative(std::string_view body, std::optional<Negative> negative);

// A number cell's format: custom `raw` unchanged when given, else with_negative(grouped_body(
// decimals or 0, grouped or true), negative). A NumberFormat with no fields gives "#,##0". A number
// cell without a format takes the general key instead of calling this.
NumFmtKey number(const NumberFormat& format);

// A percent cell's key: 0 decimals built-in 9, 2 built-in 10, any other count the custom
// "0." + that many zeros + "%" (the caller passes 2 when the cell gives none).
NumFmtKey percent(uint32_t decimals);

// A currency cell's key: the symbol (or, with `symbol` false, the code and a space) in quotation
// marks before or after a grouped body of `decimals` (2 when absent) places, placed by the region
// of `format.locale` or else of `workbook_locale`, then with_negative. Always custom.
NumFmtKey currency(const CurrencyFormat& format, std::string_view workbook_locale);

// A date cell's key: built-in 14 without a format; without `raw`, built-in 14, 22 or 17 for kind
// date, datetime or month-year (14 when no kind); custom `raw` when present, whatever the kind.
NumFmtKey date_key(const DateFormat* format);
inline NumFmtKey date_key(const std::optional<DateFormat>& format) {
    return date_key(format ? &*format : nullptr);
}

}  // namespace tessary

template <>
struct std::hash<tessary::NumFmtKey> {
    size_t operator()(const tessary::NumFmtKey& k) const { return k.hash(); }
};
