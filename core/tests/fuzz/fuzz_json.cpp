// Fuzz target of the JSON front door: the whole-workbook reader, the row-chunk reader, the value
// parser with the value path behind it, and printing a parsed value back. Any input must give a
// result or one error, never a crash, a hang or an out-of-bounds read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "json.h"
#include "model.h"
#include "validate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tessary::Result<tessary::Workbook> book = tessary::from_json_str(text);
    if (book.ok()) {
        (void)tessary::validate(book.value());
    } else if (book.error().message.find(" at line ") == std::string::npos) {
        std::abort();  // every text error carries its position
    }
    (void)tessary::rows_from_json_str(text);
    tessary::Result<tessary::json::Value> value = tessary::json::parse(text);
    if (value.ok()) {
        std::string printed;
        tessary::json::print_into(printed, value.value());
        // Printing is compact JSON that reads back.
        if (!tessary::json::parse(printed).ok()) std::abort();
        tessary::Result<tessary::Workbook> from_value = tessary::from_json_value(std::move(value.value()));
        // A text and its value agree on acceptance, except for enumerations of the wrong kind
        // (a syntax error in text only).
        if (from_value.ok() && !book.ok() && book.error().code == tessary::ErrorCode::SchemaViolation)
            std::abort();
        if (book.ok() && !from_value.ok()) std::abort();
    }
    return 0;
}
