// Fuzz target for the worksheet texts built from caller data: date texts, A1 references, merge
// ranges, number text and a rendered row whose cells, formats and colours come from the input.
// Lines of the input are the fields.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "style.h"
#include "worksheet.h"

using namespace tessary;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields;
    for (size_t start = 0; start <= input.size();) {
        size_t end = input.find('\n', start);
        if (end == std::string_view::npos) end = input.size();
        fields.emplace_back(input.substr(start, end - start));
        start = end + 1;
    }

    Row row;
    std::string scratch;
    for (const std::string& f : fields) {
        if (std::optional<double> serial = date_serial(f)) {
            if (!std::isfinite(*serial)) std::abort();
            push_num(scratch, *serial);
        }
        if (std::optional<CellRef> ref = parse_cell_ref(f)) {
            push_col_letters(scratch, ref->col);
            push_uint(scratch, uint64_t{ref->row} + 1);
        }
        double bits = 0;
        if (f.size() >= sizeof bits) {
            std::memcpy(&bits, f.data(), sizeof bits);
            push_num(scratch, bits);
        }
        row.cells.push_back(DateCell{f, DateFormat{DateKind::Datetime, std::nullopt}, std::nullopt});
        row.cells.push_back(StringCell{f, std::nullopt});
        CellStyle style;
        style.fill = f;
        row.cells.push_back(NumberCell{bits, NumberFormat{{}, {}, {}, f}, style});
    }

    Diagnostics lints;
    Result<std::string> suffix = sheet_suffix(fields, lints);
    if (suffix.ok() && suffix.value().size() < 12) std::abort();

    std::vector<Column> columns(2);
    columns[1].style = CellStyle{};
    columns[1].style->font = Font{};
    columns[1].style->font->name = fields.front();
    StyleTable styles;
    ColCache cache;
    std::string out = "<sheetData>";
    Status s = row_xml(out, columns, row, static_cast<uint32_t>(size), "de-DE", styles, lints, cache);
    if (!s.ok() && out != "<sheetData>") std::abort();
    (void)styles.to_xml();
    return 0;
}
