// Fuzz target: the workbook parser and every read-out. An input that starts with "PK" is read as a
// whole package; any other input is split at 0x01 bytes into a worksheet, a shared-strings part, a
// styles part and a workbook part, which are stored in a package around fixed relationships, so the
// mutations reach the XML rather than the ZIP directory. Nothing may crash or read out of bounds,
// and both JSON read-outs must be well-formed JSON.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json.h"
#include "parse/read.h"
#include "parse/serialize.h"

namespace {

void put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A stored ZIP archive (APPNOTE 4.3) of the members; CRCs are left 0, which the reader ignores.
std::string stored_zip(const std::vector<std::pair<std::string_view, std::string_view>>& members) {
    std::string out, dir;
    for (const auto& [name, data] : members) {
        uint32_t offset = static_cast<uint32_t>(out.size());
        put32(out, 0x04034B50);
        for (int i = 0; i < 7; ++i) put16(out, 0);
        put32(out, static_cast<uint32_t>(data.size()));
        put32(out, static_cast<uint32_t>(data.size()));
        put16(out, static_cast<uint32_t>(name.size()));
        put16(out, 0);
        out += name;
        out += data;
        put32(dir, 0x02014B50);
        for (int i = 0; i < 8; ++i) put16(dir, 0);
        put32(dir, static_cast<uint32_t>(data.size()));
        put32(dir, static_cast<uint32_t>(data.size()));
        put16(dir, static_cast<uint32_t>(name.size()));
        for (int i = 0; i < 4; ++i) put16(dir, 0);
        put32(dir, 0);
        put32(dir, offset);
        dir += name;
    }
    uint32_t dir_offset = static_cast<uint32_t>(out.size());
    out += dir;
    put32(out, 0x06054B50);
    put32(out, 0);
    put16(out, static_cast<uint32_t>(members.size()));
    put16(out, static_cast<uint32_t>(members.size()));
    put32(out, static_cast<uint32_t>(dir.size()));
    put32(out, dir_offset);
    put16(out, 0);
    return out;
}

constexpr std::string_view WORKBOOK =
    "<workbook xmlns:r=\"r\"><workbookPr date1904=\"0\"/><sheets><sheet name=\"A\" r:id=\"rId1\"/>"
    "<sheet name=\"B\" r:id=\"rId2\"/></sheets></workbook>";
constexpr std::string_view RELS =
    "<Relationships><Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\"/>"
    "<Relationship Id=\"rId2\" Target=\"/xl/worksheets/sheet1.xml\"/></Relationships>";

void check(std::span<const uint8_t> package) {
    using namespace tessary;
    auto r = parse::parse(package);
    if (!r.ok()) return;
    const parse::ParsedWorkbook& book = r.value();
    if (!json::parse(parse::to_json_grid(book)).ok()) std::abort();
    if (!json::parse(parse::to_json_typed(book)).ok()) std::abort();
    for (const parse::ParsedSheet& s : book.sheets) {
        std::string csv = parse::to_csv(s);
        std::string md = parse::to_markdown(s);
        if (s.row_count() == 0 && (!csv.empty() || !md.empty())) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    if (in.substr(0, 2) == "PK") {
        check(std::span<const uint8_t>(data, size));
        return 0;
    }
    std::string_view parts[4] = {};
    std::size_t n = 0;
    while (n < 3) {
        std::size_t at = in.find('\x01');
        if (at == std::string_view::npos) break;
        parts[n++] = in.substr(0, at);
        in.remove_prefix(at + 1);
    }
    parts[n] = in;
    std::string pkg = stored_zip({
        {"xl/workbook.xml", parts[3].empty() ? WORKBOOK : parts[3]},
        {"xl/_rels/workbook.xml.rels", RELS},
        {"xl/worksheets/sheet1.xml", parts[0]},
        {"xl/sharedStrings.xml", parts[1]},
        {"xl/styles.xml", parts[2]},
    });
    check(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(pkg.data()), pkg.size()));
    return 0;
}
