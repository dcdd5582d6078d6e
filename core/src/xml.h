// xml: escaping of text into XML element content and attribute values. Clean runs are copied in one
// append; nothing here allocates beyond growing the caller's buffer, and nothing can fail. Numbers
// and cell references are written by the worksheet module.
#pragma once

#include <string>
#include <string_view>

namespace tessary {

// Appends `text` (UTF-8) to `out` with & < > " ' written as the five predefined entities. TAB, LF
// and CR pass; every other character below U+0020 and the non-characters U+FFFE and U+FFFF (which
// XML 1.0 does not allow) are dropped without a trace. Everything else, U+007F to U+009F included,
// is copied unchanged; no numeric character reference is ever written.
void escape_into(std::string& out, std::string_view text);

// Appends `text` as inline-string cell content: the escaping of escape_into, and in addition the
// leading underscore of every run `_xHHHH_` (underscore, x, four hex digits of either case,
// underscore) in the written text is written as `_x005F_`. Spreadsheet applications decode such
// runs in cell text (ECMA-376 Part 1, 22.9.2.19 ST_Xstring), so the cell reads back as given.
// Runs are found after dropped characters are removed, and overlapping runs ("_x0041_x0042_") are
// each protected.
void escape_cell_text_into(std::string& out, std::string_view text);

}  // namespace tessary
