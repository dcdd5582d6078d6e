// numfmt: number-format codes (stub; the full implementation follows).
#include "numfmt.h"

namespace tessary {

std::string grouped_body(uint32_t, bool) { return "0"; }
std::string with_negative(std::string_view body, std::optional<Negative>) { return std::string(body); }
NumFmtKey number(const NumberFormat&) { return NumFmtKey::custom("#,##0"); }
NumFmtKey percent(uint32_t) { return NumFmtKey::builtin(PERCENT_2_NUMFMT_ID); }
NumFmtKey currency(const CurrencyFormat&, std::string_view) { return NumFmtKey::custom("0"); }
NumFmtKey date_key(const DateFormat*) { return NumFmtKey::builtin(DATE_NUMFMT_ID); }

}  // namespace tessary
