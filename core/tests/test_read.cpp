// The workbook parser on small packages built here: a stored ZIP writer of a few lines (and zlib for
// deflated members), hand-written SpreadsheetML parts, results read out as grid JSON.
#include "parse/read.h"

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "helpers.h"
#include "parse/serialize.h"

namespace tessary::parse {
namespace {

using tessary::testing::expect_bytes;

// ---- a minimal ZIP writer (APPNOTE 4.3): local headers, central directory, end record ----

void put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

struct Member {
    std::string name;
    std::string data;
    bool deflate = false;
};

std::string raw_deflate(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string zip_of(const std::vector<Member>& members) {
    std::string out, dir;
    for (const Member& m : members) {
        std::string body = m.deflate ? raw_deflate(m.data) : m.data;
        uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), static_cast<uInt>(m.data.size())));
        uint32_t offset = static_cast<uint32_t>(out.size());
        put32(out, 0x04034B50);
        put16(out, 20);
        put16(out, 0);
        put16(out, m.deflate ? 8 : 0);
        put32(out, 0);
        put32(out, crc);
        put32(out, static_cast<uint32_t>(body.size()));
        put32(out, static_cast<uint32_t>(m.data.size()));
        put16(out, static_cast<uint32_t>(m.name.size()));
        put16(out, 0);
        out += m.name;
        out += body;
        put32(dir, 0x02014B50);
        put16(dir, 20);
        put16(dir, 20);
        put16(dir, 0);
        put16(dir, m.deflate ? 8 : 0);
        put32(dir, 0);
        put32(dir, crc);
        put32(dir, static_cast<uint32_t>(body.size()));
        put32(dir, static_cast<uint32_t>(m.data.size()));
        put16(dir, static_cast<uint32_t>(m.name.size()));
        put16(dir, 0);
        put16(dir, 0);
        put16(dir, 0);
        put16(dir, 0);
        put32(dir, 0);
        put32(dir, offset);
        dir += m.name;
    }
    uint32_t dir_offset = static_cast<uint32_t>(out.size());
    out += dir;
    put32(out, 0x06054B50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(members.size()));
    put16(out, static_cast<uint32_t>(members.size()));
    put32(out, static_cast<uint32_t>(dir.size()));
    put32(out, dir_offset);
    put16(out, 0);
    return out;
}

// ---- SpreadsheetML parts ----

const char* const WORKBOOK_HEAD =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">";

std::string workbook_xml(const std::vector<std::string>& names, std::string_view extra = "") {
    std::string x = WORKBOOK_HEAD;
    x += extra;
    x += "<sheets>";
    for (std::size_t i = 0; i < names.size(); ++i) {
        x += "<sheet name=\"" + names[i] + "\" sheetId=\"" + std::to_string(i + 1) + "\" r:id=\"rId" +
             std::to_string(i + 1) + "\"/>";
    }
    x += "</sheets></workbook>";
    return x;
}

std::string rels_xml(const std::vector<std::string>& targets) {
    std::string x =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (std::size_t i = 0; i < targets.size(); ++i) {
        x += "<Relationship Id=\"rId" + std::to_string(i + 1) +
             "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
             "Target=\"" + targets[i] + "\"/>";
    }
    return x + "</Relationships>";
}

std::string sheet_xml(std::string_view data) {
    return "<?xml version=\"1.0\"?><worksheet xmlns=\"http://schemas.openxmlformats.org/"
           "spreadsheetml/2006/main\"><sheetData>" + std::string(data) + "</sheetData></worksheet>";
}

// Styles whose cellXfs are xf elements with the given numFmtIds, and custom formats 164, 165, ...
std::string styles_xml(const std::vector<std::string>& codes, const std::vector<int>& xf_ids) {
    std::string x = "<styleSheet><numFmts count=\"" + std::to_string(codes.size()) + "\">";
    for (std::size_t i = 0; i < codes.size(); ++i) {
        x += "<numFmt numFmtId=\"" + std::to_string(164 + i) + "\" formatCode=\"" + codes[i] + "\"/>";
    }
    x += "</numFmts><cellStyleXfs count=\"1\"><xf numFmtId=\"14\"/></cellStyleXfs><cellXfs>";
    for (int id : xf_ids) x += "<xf numFmtId=\"" + std::to_string(id) + "\" fontId=\"0\"/>";
    return x + "</cellXfs></styleSheet>";
}

struct Parts {
    std::string sheet_data;          // inside sheetData of the one sheet "S"
    std::string shared;              // whole sharedStrings part, or none
    std::string styles;              // whole styles part, or none
    std::string workbook_extra;      // inside workbook before sheets
};

std::string package(const Parts& p) {
    std::vector<Member> m = {
        {"[Content_Types].xml", "<Types/>"},
        {"xl/workbook.xml", workbook_xml({"S"}, p.workbook_extra)},
        {"xl/_rels/workbook.xml.rels", rels_xml({"worksheets/sheet1.xml"})},
        {"xl/worksheets/sheet1.xml", sheet_xml(p.sheet_data), true},
    };
    if (!p.shared.empty()) m.push_back({"xl/sharedStrings.xml", p.shared, true});
    if (!p.styles.empty()) m.push_back({"xl/styles.xml", p.styles});
    return zip_of(m);
}

Result<ParsedWorkbook, ReadError> parse_str(const std::string& bytes) {
    return parse(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

// The rows of the only sheet as grid JSON.
std::string rows_of(const Parts& p) {
    auto r = parse_str(package(p));
    if (!r.ok()) return "error: " + std::string(message(r.error()));
    std::string json = to_json_grid(r.value());
    const std::string head = "{\"sheets\":[{\"name\":\"S\",\"rows\":";
    if (json.rfind(head, 0) != 0) return json;
    return json.substr(head.size(), json.size() - head.size() - 3);
}

// ---- failures ----

TEST(Parse, ReadErrors) {
    std::string empty_zip = zip_of({});
    ASSERT_EQ(empty_zip.size(), 22u);
    struct Case {
        std::string bytes;
        ReadError want;
    };
    const Case cases[] = {
        {"", ReadError::BadZip},
        {"PK\x05\x06", ReadError::BadZip},
        {empty_zip, ReadError::NotXlsx},
        {zip_of({{"xl/Workbook.xml", workbook_xml({"S"})}}), ReadError::NotXlsx},
        {zip_of({{"/xl/workbook.xml", workbook_xml({"S"})}}), ReadError::NotXlsx},
    };
    for (const Case& c : cases) {
        auto r = parse_str(c.bytes);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(message(r.error()), message(c.want)) << c.bytes.size();
    }
}

// ---- cells ----

struct CellCase {
    std::string_view data, want;
};
const CellCase CELLS[] = {
    // padding and placement
    {"<row><c r=\"A1\"><v>1</v></c><c r=\"C1\"><v>3</v></c></row>", "[[1.0,null,3.0]]"},
    {"<row r=\"5\"><c r=\"D5\"><v>4</v></c></row>", "[[],[],[],[],[null,null,null,4.0]]"},
    {"<row><c r=\"B1\"><v>2</v></c><c r=\"A1\"><v>1</v></c></row>", "[[null,2.0,1.0]]"},
    {"<row><c><v>1</v></c><c><v>2</v></c><c r=\"b1\"><v>3</v></c></row>", "[[1.0,2.0,3.0]]"},
    {"<row><c r=\"1\"><v>1</v></c><c r=\"$B$1\"><v>2</v></c></row>", "[[1.0,2.0]]"},
    {"<row><c r=\"A1\"/><c r=\"C1\"></c></row>", "[[null,null,null]]"},
    // rows keep their places
    {"<row r=\"1\"><c><v>1</v></c></row><row r=\"3\"><c><v>3</v></c></row>", "[[1.0],[],[3.0]]"},
    {"<row r=\"2\"/>", "[]"},
    {"<row r=\"2\"></row>", "[[],[]]"},
    {"<row r=\"2\"></row><row r=\"2\"></row><row r=\"1\"></row><row></row>", "[[],[],[],[],[]]"},
    {"<row r=\"x\"></row><row r=\"0\"></row><row r=\"1048577\"></row>", "[[],[],[]]"},
    {"<row><c><v>1</v></c></row><row><c><v>2</v></c>", "[[1.0]]"},
    {"<row><c><v>1</v></c><row><c><v>2</v></c></row>", "[[2.0]]"},
    // columns beyond XFD are dropped
    {"<row><c r=\"XFD1\"><v>1</v></c><c r=\"XFE1\"><v>2</v></c><c r=\"AAAAAAAAAAAA1\"><v>3</v></c>"
     "<c><v>4</v></c></row>",
     "(16383 nulls, then 1.0 and 4.0: built below)"},
    // value kinds
    {"<row><c t=\"b\"><v>1</v></c><c t=\"b\"><v>true</v></c><c t=\"b\"><v>0</v></c><c t=\"b\"/></row>",
     "[[true,false,false,false]]"},
    {"<row><c><v> 1</v></c><c t=\"d\"><v>2024-01-31</v></c><c t=\"e\"><v>#N/A</v></c>"
     "<c t=\"n\"><v>-1.5E3</v></c><c t=\"zz\"><v>+7</v></c><c><v>1e400</v></c><c><v>-INF</v></c>"
     "<c><v>nan</v></c><c><v>nan(1)</v></c><c><v>0x10</v></c><c><v>.5</v></c><c><v>+-1</v></c></row>",
     "[[\" 1\",\"2024-01-31\",\"#N/A\",-1500.0,7.0,null,null,null,\"nan(1)\",\"0x10\",0.5,\"+-1\"]]"},
    {"<row><c t=\"str\"><f>A1</f><v>x_x000D_y</v></c><c t=\"e\"><v>_x0041_</v></c></row>",
     "[[\"x\\ry\",\"_x0041_\"]]"},
    // an empty string stays a string; a text cell without any text is blank
    {"<row><c t=\"str\"><v></v></c><c t=\"inlineStr\"><is><t xml:space=\"preserve\"></t></is></c>"
     "<c t=\"inlineStr\"><is><t/></is></c><c t=\"inlineStr\"><is></is></c><c t=\"inlineStr\"/>"
     "<c t=\"str\"><f>A1</f></c><c t=\"e\"><v></v></c><c><v></v></c></row>",
     "[[\"\",\"\",\"\",null,null,null,null,null]]"},
    {"<row><c t=\"inlineStr\"><is><r><t>ab</t></r><r><t xml:space=\"preserve\"> cd</t></r></is></c></row>",
     "[[\"ab cd\"]]"},
    {"<row><c t=\"inlineStr\"><is><t>\xe6\x9d\xb1</t><rPh sb=\"0\" eb=\"1\"><t>\xe3\x83\x88</t></rPh></is></c></row>",
     "[[\"\xe6\x9d\xb1\"]]"},
    {"<row><c t=\"inlineStr\"><is><t><![CDATA[a<b&amp;]]></t></is></c><c t=\"inlineStr\"><is><t>&lt;&#x41;</t></is></c></row>",
     "[[\"a<b&amp;\",\"<A\"]]"},
    {"<row><c><v>1</v><!-- a>b --></c><?pi x>y?><c><v>2</v></c></row >", "[[1.0,2.0]]"},
    // prefixed SpreadsheetML
    {"<x:row r=\"2\"><x:c r=\"B2\" t=\"inlineStr\"><x:is><x:t>p</x:t></x:is></x:c><x:c><x:v>1</x:v></x:c></x:row>",
     "[[],[null,\"p\",1.0]]"},
    // malformed markup is read, never fatal
    {"<row><c><v>1", "[]"},
    {"<row><c r=\"A1\"><v>1</v></c></row><row><c r=\"A", "[[1.0]]"},
    {"</c></v></row><row><c t=\"s\"><v>0</v></c></row>", "[[],[null]]"},
};

TEST(Parse, CellsAndRows) {
    for (const CellCase& c : CELLS) {
        std::string want(c.want);
        if (c.data.find("XFD1") != std::string_view::npos) {
            want = "[[";
            for (int i = 0; i < 16383; ++i) want += "null,";
            want += "1.0,4.0]]";
        }
        std::string got = rows_of({std::string(c.data), "", "", ""});
        EXPECT_TRUE(got == want) << c.data << "\n  got:  " << got.substr(0, 300)
                                 << "\n  want: " << want.substr(0, 300);
    }
}

// ---- shared strings ----

TEST(Parse, SharedStrings) {
    Parts p;
    p.shared =
        "<sst count=\"7\" uniqueCount=\"7\">"
        "<si><t>zero</t></si>"
        "<si/>"
        "<si><r><rPr><b/></rPr><t>ri</t></r><r><t>ch</t></r></si>"
        "<si><t>\xe6\x9d\xb1\xe4\xba\xac\xe9\x83\xbd</t><rPh sb=\"0\" eb=\"3\"><t>\xe3\x83\x88\xe3\x82\xa6</t></rPh>"
        "<phoneticPr fontId=\"1\"/></si>"
        "<si><t>a_x000D__x000A_b _x005F_x0041_ _xD83D__xDE00_ _xD83D_ _x12G4_ _x41_</t></si>"
        "<si><t xml:space=\"preserve\">  sp  </t></si>"
        "<x:si><x:t>pre</x:t></x:si>"
        "</sst>";
    p.sheet_data =
        "<row>"
        "<c t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c><c t=\"s\"><v>2</v></c><c t=\"s\"><v>3</v></c>"
        "<c t=\"s\"><v>4</v></c><c t=\"s\"><v>5</v></c><c t=\"s\"><v>6</v></c>"
        "<c t=\"s\"><v>7</v></c><c t=\"s\"><v>+0</v></c><c t=\"s\"><v></v></c><c t=\"s\"><v>-1</v></c>"
        "<c t=\"s\"><v>18446744073709551616</v></c>"
        "</row>";
    expect_bytes(rows_of(p),
                 "[[\"zero\",\"\",\"rich\",\"\xe6\x9d\xb1\xe4\xba\xac\xe9\x83\xbd\","
                 "\"a\\r\\nb _x0041_ \xf0\x9f\x98\x80 _xD83D_ _x12G4_ _x41_\",\"  sp  \",\"pre\","
                 "null,\"zero\",null,null,null]]");
}

// ---- dates ----

struct DateCase {
    double serial;
    std::string_view want;
};
const DateCase DATES[] = {
    {45292, "2024-01-01"},
    {45292.5, "2024-01-01T12:00:00"},
    {0.25, "1899-12-30T06:00:00"},
    {0, "1899-12-30"},
    {1, "1899-12-31"},
    {60, "1900-02-28"},
    {61, "1900-03-01"},
    {2958465, "9999-12-31"},
    {2958466, "10000-01-01"},
    {-1, "1899-12-29"},
    {-693593, "0001-01-01"},
    {-693594, "0000-12-31"},
    {-693959, "0000-01-01"},
    {-693960, "-0001-12-31"},
    {45292.99999999999, "2024-01-01T24:00:00"},
    {45292.0000000001, "2024-01-01"},
    {45292.0000001, "2024-01-01T00:00:00"},
    {45292.75, "2024-01-01T18:00:00"},
    {-0.75, "1899-12-29T06:00:00"},
    {std::numeric_limits<double>::quiet_NaN(), "1899-12-30"},
};

TEST(DateText, SerialsToIso) {
    for (const DateCase& c : DATES) {
        std::string out = "@";
        push_date_text(out, c.serial);
        EXPECT_EQ(out, "@" + std::string(c.want)) << c.serial;
    }
}

TEST(DateText, ExtremeSerialsDoNotFail) {
    const double extremes[] = {1e300, -1e300, std::numeric_limits<double>::infinity(),
                               -std::numeric_limits<double>::infinity(), 9.3e18, -9.3e18};
    for (double v : extremes) {
        std::string out;
        push_date_text(out, v);
        EXPECT_FALSE(out.empty()) << v;
        EXPECT_EQ(out.find('T'), std::string::npos) << v;
    }
}

struct CodeCase {
    std::string_view code;
    bool date;
};
constexpr CodeCase CODES[] = {
    {"yyyy-mm-dd", true},
    {"d/m", true},
    {"h:mm", true},
    {"HH:MM:SS", true},
    {"mmm YYYY", true},
    {"[h]:mm", false},
    {"[mm]:ss", false},
    {"0.00", false},
    {"#,##0.00;[Red]-#,##0.00", false},
    {"\"$\"#,##0.00;[Red](\"$\"#,##0.00)", false},
    {"\"USD \"#,##0.00", false},
    {"#,##0.00\"\xe2\x82\xac\"", false},
    {"0\\d", false},
    {"\"day\"0", false},
    {"[$-409]d-mmm", true},
    {"[Red]yyyy", true},
    {"\"unterminated d", false},
    {"[unterminated d", false},
    {"mm:ss", false},
    {"General", false},
};

TEST(DateStyles, CustomCodes) {
    for (const CodeCase& c : CODES) EXPECT_EQ(is_date_code(c.code), c.date) << c.code;
}

TEST(Parse, DateStylesFromCellFormats) {
    Parts p;
    // xf 0: general, 1: built-in 14, 2: yyyy-mm-dd, 3: [Red] number, 4: "USD " marker, 5: h:mm,
    // 6: built-in 47, 7: built-in 22, 8: built-in 45
    p.styles = styles_xml({"yyyy-mm-dd", "#,##0.00;[Red]-#,##0.00", "&quot;USD &quot;#,##0.00", "h:mm"},
                          {0, 14, 164, 165, 166, 167, 47, 22, 45});
    p.sheet_data =
        "<row>"
        "<c s=\"0\"><v>45292</v></c><c s=\"1\"><v>45292</v></c><c s=\"2\"><v>45292.5</v></c>"
        "<c s=\"3\"><v>45292</v></c><c s=\"4\"><v>45292</v></c><c s=\"5\"><v>0.25</v></c>"
        "<c s=\"6\"><v>1</v></c><c s=\"9\"><v>45292</v></c><c s=\"+1\"><v>45292</v></c>"
        "<c s=\"x\"><v>45292</v></c><c s=\"1\"><v>abc</v></c><c s=\"1\" t=\"s\"><v>0</v></c>"
        "<c s=\"18446744073709551617\"><v>45292</v></c>"
        "</row>";
    expect_bytes(rows_of(p),
                 "[[45292.0,\"2024-01-01\",\"2024-01-01T12:00:00\",45292.0,45292.0,"
                 "\"1899-12-30T06:00:00\",\"1899-12-31\",45292.0,\"2024-01-01\",45292.0,\"abc\",null,"
                 "45292.0]]");
}

TEST(Parse, StylesOnlyCountCellXfsAndValidIds) {
    Parts p;
    p.styles =
        "<styleSheet><numFmts><numFmt numFmtId=\"200\" formatCode=\"0.0\"/>"
        "<numFmt numFmtId=\"200\" formatCode=\"d\"/><numFmt numFmtId=\"x\" formatCode=\"d\"/>"
        "<numFmt numFmtId=\"4294967296\" formatCode=\"d\"/></numFmts>"
        "<cellXfs><xf numFmtId=\"200\"/><xf/><xf numFmtId=\"+14\"/></cellXfs>"
        "<cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs></styleSheet>";
    p.sheet_data =
        "<row><c s=\"0\"><v>1</v></c><c s=\"1\"><v>1</v></c><c s=\"2\"><v>1</v></c>"
        "<c s=\"3\"><v>1</v></c></row>";
    EXPECT_EQ(rows_of(p), "[[\"1899-12-31\",1.0,\"1899-12-31\",1.0]]");
}

TEST(Parse, Date1904System) {
    const char* const flags[][2] = {
        {"<workbookPr date1904=\"1\"/>", "\"2028-01-02\""},
        {"<workbookPr date1904=\"true\"/>", "\"2028-01-02\""},
        {"<workbookPr date1904=\"0\"/>", "\"2024-01-01\""},
        {"<workbookPr date1904=\"false\"/>", "\"2024-01-01\""},
        {"<workbookPr/>", "\"2024-01-01\""},
        {"", "\"2024-01-01\""},
        {"<x:workbookPr date1904=\"1\"/>", "\"2028-01-02\""},
    };
    for (const auto& f : flags) {
        Parts p;
        p.workbook_extra = f[0];
        p.styles = styles_xml({}, {0, 14});
        p.sheet_data = "<row><c s=\"1\"><v>45292</v></c><c><v>45292</v></c></row>";
        EXPECT_EQ(rows_of(p), "[[" + std::string(f[1]) + ",45292.0]]") << f[0];
    }
}

// ---- workbook, relationships, members ----

TEST(Parse, SheetTargetsAndRelationships) {
    const std::string data = sheet_xml("<row><c><v>1</v></c></row>");
    std::string wb = std::string(WORKBOOK_HEAD) +
                     "<sheets>"
                     "<sheet name=\"Rel\" r:id=\"rId1\"/>"
                     "<sheet name=\"Abs\" r:id=\"rId2\"/>"
                     "<sheet name=\"Up\" r:id=\"rId3\"/>"
                     "<sheet name=\"NoRel\" r:id=\"rId9\"/>"
                     "<sheet name=\"NoMember\" r:id=\"rId4\"/>"
                     "<sheet r:id=\"rId1\"/>"
                     "<sheet name=\"NoId\"/>"
                     "<sheet name=\"Other prefix\" rel:id=\"rId1\"/>"
                     "<sheet name=\"Unprefixed\" id=\"rId1\"/>"
                     "<x:sheet name=\"A&amp;B\" r:id=\"rId5\"/>"
                     "</sheets></workbook>";
    std::string rels =
        "<Relationships>"
        "<Relationship Id=\"rId1\" Target=\"worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId2\" Target=\"/xl/worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId3\" Target=\"../xl/worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId4\" Target=\"worksheets/missing.xml\"/>"
        "<Relationship Id=\"rId5\" Target=\"worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId5\" Target=\"worksheets/sheet2.xml\"/>"
        "</Relationships>";
    std::string pkg = zip_of({
        {"xl/workbook.xml", wb},
        {"xl/_rels/workbook.xml.rels", rels},
        {"xl/worksheets/sheet1.xml", data},
        {"xl/worksheets/sheet2.xml", sheet_xml("<row><c><v>2</v></c></row>")},
        {"xl/worksheets/sheet2.xml", sheet_xml("<row><c><v>3</v></c></row>")},
    });
    auto r = parse_str(pkg);
    ASSERT_TRUE(r.ok());
    expect_bytes(to_json_grid(r.value()),
                 "{\"sheets\":["
                     "{\"name\":\"Rel\",\"rows\":[[1.0]]},"
                     "{\"name\":\"Abs\",\"rows\":[[1.0]]},"
                     "{\"name\":\"Up\",\"rows\":[]},"
                     "{\"name\":\"NoRel\",\"rows\":[]},"
                     "{\"name\":\"NoMember\",\"rows\":[]},"
                     "{\"name\":\"Other prefix\",\"rows\":[[1.0]]},"
                     "{\"name\":\"A&B\",\"rows\":[[2.0]]}"
                 "]}");
}

TEST(Parse, MissingPartsGiveEmptySheets) {
    std::string pkg = zip_of({{"xl/workbook.xml", workbook_xml({"One", "Two"})}});
    auto r = parse_str(pkg);
    ASSERT_TRUE(r.ok());
    expect_bytes(to_json_grid(r.value()),
                 "{\"sheets\":[{\"name\":\"One\",\"rows\":[]},{\"name\":\"Two\",\"rows\":[]}]}");
    auto none = parse_str(zip_of({{"xl/workbook.xml", std::string(WORKBOOK_HEAD) + "<sheets/></workbook>"}}));
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none.value().sheets.empty());
}

TEST(Parse, InvalidUtf8IsReplaced) {
    Parts p;
    p.sheet_data = "<row><c t=\"inlineStr\"><is><t>a\xff" "b\xc3</t></is></c></row>";
    EXPECT_EQ(rows_of(p), "[[\"a\xef\xbf\xbd" "b\xef\xbf\xbd\"]]");
}

TEST(Parse, TextsAreOwnedByTheResult) {
    Parts p;
    p.shared = "<sst><si><t>shared</t></si></sst>";
    p.styles = styles_xml({}, {0, 14});
    p.sheet_data = "<row><c t=\"s\"><v>0</v></c><c t=\"inlineStr\"><is><t>own</t></is></c>"
                   "<c s=\"1\"><v>45292</v></c></row>";
    std::string bytes = package(p);
    auto r = parse_str(bytes);
    ASSERT_TRUE(r.ok());
    ParsedWorkbook book = std::move(r.value());
    std::fill(bytes.begin(), bytes.end(), '\0');
    ParsedSheet moved = std::move(book.sheets[0]);
    ASSERT_EQ(moved.row_count(), 1u);
    auto row = moved.row(0);
    ASSERT_EQ(row.size(), 3u);
    EXPECT_EQ(row[0].kind, CellKind::Str);
    EXPECT_EQ(moved.text(row[0]), "shared");
    EXPECT_EQ(moved.text(row[1]), "own");
    EXPECT_EQ(row[2].kind, CellKind::DateText);
    EXPECT_EQ(moved.text(row[2]), "2024-01-01");
}

struct NumberCase {
    std::string_view text;
    bool ok;
    double want;
};
const NumberCase NUMBER_TEXTS[] = {
    {"1", true, 1}, {"-1.5", true, -1.5}, {"+2", true, 2}, {"1e3", true, 1000}, {"1E-2", true, 0.01},
    {".5", true, 0.5}, {"5.", true, 5}, {"1e400", true, HUGE_VAL}, {"-1e400", true, -HUGE_VAL},
    {"1e-400", true, 0}, {"Infinity", true, HUGE_VAL}, {"-inf", true, -HUGE_VAL},
    {"", false, 0}, {"+", false, 0}, {"-", false, 0}, {" 1", false, 0}, {"1 ", false, 0},
    {"++1", false, 0}, {"+-1", false, 0}, {"1e", false, 0}, {"0x1p3", false, 0}, {"infinit", false, 0},
    {"nan(0)", false, 0}, {"1,5", false, 0}, {"e5", false, 0},
};

TEST(Parse, NumberTexts) {
    for (const NumberCase& c : NUMBER_TEXTS) {
        double v = -7;
        bool ok = parse_number(c.text, &v);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (ok && c.ok) {
            EXPECT_EQ(v, c.want) << c.text;
        }
    }
    double v = 0;
    ASSERT_TRUE(parse_number("NaN", &v));
    EXPECT_TRUE(std::isnan(v));
}

TEST(Parse, NumberTextsAgreeWithStrtod) {
    // Short decimals take a fast path; every length and point position is checked against libc.
    uint64_t state = 12345;
    auto next = [&state] { return state = state * 6364136223846793005u + 1442695040888963407u; };
    for (int i = 0; i < 200000; ++i) {
        int digits = 1 + static_cast<int>(next() >> 60) % 17;
        std::string text = (next() >> 63) ? "-" : "";
        int point = static_cast<int>(next() >> 59) % (digits + 2) - 1;  // -1: no point
        for (int d = 0; d < digits; ++d) {
            if (d == point) text += '.';
            text += static_cast<char>('0' + (next() >> 58) % 10);
        }
        if (point == digits) text += '.';
        double got = 0;
        ASSERT_TRUE(parse_number(text, &got)) << text;
        double want = std::strtod(text.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << text;
    }
}

}  // namespace
}  // namespace tessary::parse
