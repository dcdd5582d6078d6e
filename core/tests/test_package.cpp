#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "helpers.h"
#include "package.h"

namespace tessary {
namespace {

using testing::expect_bytes;

#define DECL "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
#define OOXML "http://schemas.openxmlformats.org"

Sheet named(std::string name) {
    Sheet s;
    s.name = std::move(name);
    return s;
}

TEST(RootRels, Golden) {
    const std::string got = root_rels();
    EXPECT_EQ(got.size(), 587u);
    expect_bytes(got, DECL
                 "<Relationships xmlns=\"" OOXML "/package/2006/relationships\">"
                   "<Relationship Id=\"rId1\" Type=\"" OOXML
                   "/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/>"
                   "<Relationship Id=\"rId2\" Type=\"" OOXML
                   "/package/2006/relationships/metadata/core-properties\" Target=\"docProps/core.xml\"/>"
                   "<Relationship Id=\"rId3\" Type=\"" OOXML
                   "/officeDocument/2006/relationships/extended-properties\" Target=\"docProps/app.xml\"/>"
                 "</Relationships>");
}

TEST(ContentTypes, OneOverridePerSheet) {
    const char* head = DECL
        "<Types xmlns=\"" OOXML "/package/2006/content-types\">"
          "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
          "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
          "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
          "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
    const char* tail =
          "<Override PartName=\"/docProps/core.xml\" ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
          "<Override PartName=\"/docProps/app.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>"
        "</Types>";
    auto sheet = [](int i) {
        return "<Override PartName=\"/xl/worksheets/sheet" + std::to_string(i) +
               ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    };
    expect_bytes(content_types(0), std::string(head) + tail);
    expect_bytes(content_types(1), head + sheet(1) + tail);
    expect_bytes(content_types(12), head + [&] {
        std::string s;
        for (int i = 1; i <= 12; ++i) s += sheet(i);
        return s;
    }() + tail);
}

struct OptCase {
    std::optional<std::string> value;
    std::string_view want;
};
TEST(PushOpt, AbsentWritesNothingPresentIsEscaped) {
    const OptCase cases[] = {
        {std::nullopt, "<p>"},
        {"", "<p><dc:title></dc:title>"},
        {"A<B & \"C\"", "<p><dc:title>A&lt;B &amp; &quot;C&quot;</dc:title>"},
    };
    for (const OptCase& c : cases) {
        std::string out = "<p>";
        push_opt(out, "dc:title", c.value);
        EXPECT_EQ(out, c.want);
    }
}

std::string text_of(const std::vector<Part>& parts, std::string_view name) {
    for (const Part& p : parts)
        if (p.name == name) return p.data;
    ADD_FAILURE() << "no part " << name;
    return {};
}

TEST(AssembleParts, FixedOrderAndNumbering) {
    const std::vector<Sheet> sheets = {named("Data"), named("R&D"), named("Last")};
    const std::vector<Part> parts =
        assemble_parts(sheets, WriteOptions{}, "<styles/>", {"<s1/>", "<s2/>", "<s3/>"});
    const std::vector<std::string> want_names = {
        "[Content_Types].xml", "_rels/.rels", "docProps/core.xml", "docProps/app.xml",
        "xl/workbook.xml", "xl/_rels/workbook.xml.rels", "xl/styles.xml",
        "xl/worksheets/sheet1.xml", "xl/worksheets/sheet2.xml", "xl/worksheets/sheet3.xml"};
    ASSERT_EQ(parts.size(), want_names.size());
    for (size_t i = 0; i < parts.size(); ++i) EXPECT_EQ(parts[i].name, want_names[i]);
    EXPECT_EQ(parts[0].data, content_types(3));
    EXPECT_EQ(parts[1].data, root_rels());
    EXPECT_EQ(parts[6].data, "<styles/>");
    EXPECT_EQ(parts[9].data, "<s3/>");
    expect_bytes(text_of(parts, "xl/workbook.xml"), DECL
                 "<workbook xmlns=\"" OOXML "/spreadsheetml/2006/main\" xmlns:r=\"" OOXML
                 "/officeDocument/2006/relationships\">"
                   "<sheets>"
                     "<sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/>"
                     "<sheet name=\"R&amp;D\" sheetId=\"2\" r:id=\"rId2\"/>"
                     "<sheet name=\"Last\" sheetId=\"3\" r:id=\"rId3\"/>"
                   "</sheets>"
                 "</workbook>");
    expect_bytes(text_of(parts, "xl/_rels/workbook.xml.rels"), DECL
                 "<Relationships xmlns=\"" OOXML "/package/2006/relationships\">"
                   "<Relationship Id=\"rId1\" Type=\"" OOXML "/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                   "<Relationship Id=\"rId2\" Type=\"" OOXML "/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet2.xml\"/>"
                   "<Relationship Id=\"rId3\" Type=\"" OOXML "/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet3.xml\"/>"
                   "<Relationship Id=\"rId4\" Type=\"" OOXML "/officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>"
                 "</Relationships>");
}

struct PropsCase {
    const char* what;
    DocMeta meta;
    std::string_view core_body, app_body;
};
TEST(AssembleParts, DocumentProperties) {
    const PropsCase cases[] = {
        {"none", {}, "", ""},
        {"empty title", {"", {}, {}, {}}, "<dc:title></dc:title>", ""},
        {"all four",
         {"T", "A<B", "S&", "Co \"X\""},  // title, author, subject, company
         "<dc:title>T</dc:title><dc:creator>A&lt;B</dc:creator><dc:subject>S&amp;</dc:subject>",
         "<Company>Co &quot;X&quot;</Company>"},
    };
    for (const PropsCase& c : cases) {
        WriteOptions opts;
        opts.meta = c.meta;
        const std::vector<Sheet> sheets = {named("S")};
        const std::vector<Part> parts = assemble_parts(sheets, opts, "", {""});
        SCOPED_TRACE(c.what);
        expect_bytes(text_of(parts, "docProps/core.xml"),
                     DECL "<cp:coreProperties xmlns:cp=\"" OOXML
                          "/package/2006/metadata/core-properties\" "
                          "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">" +
                         std::string(c.core_body) + "</cp:coreProperties>");
        expect_bytes(text_of(parts, "docProps/app.xml"),
                     DECL "<Properties xmlns=\"" OOXML "/officeDocument/2006/extended-properties\">"
                          "<Application>tessary</Application>" +
                         std::string(c.app_body) + "</Properties>");
    }
}

// The archive is the stored ZIP of the part list; Python's zipfile and XML parser, where present,
// read every part back and find each one well formed.
TEST(FinishPackage, IsTheArchiveOfThePartsAndParsesElsewhere) {
    const std::vector<Sheet> sheets = {named("Data"), named("Q&A <1>")};
    WriteOptions opts;
    opts.meta.title = "Report & \"more\"";
    opts.meta.company = "";
    const std::string sheet_xml = DECL "<worksheet xmlns=\"" OOXML "/spreadsheetml/2006/main\"/>";
    const std::string zip = finish_package(sheets, opts, DECL "<styleSheet/>", {sheet_xml, sheet_xml});
    EXPECT_EQ(zip, write_archive(assemble_parts(sheets, opts, DECL "<styleSheet/>",
                                                {sheet_xml, sheet_xml})));
    EXPECT_EQ(zip, finish_package(sheets, opts, DECL "<styleSheet/>", {sheet_xml, sheet_xml}));

    if (std::system("python3 -c 'import zipfile' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
    const std::string path = ::testing::TempDir() + "tessary_package.zip";
    std::ofstream(path, std::ios::binary).write(zip.data(), static_cast<std::streamsize>(zip.size()));
    const std::string cmd =
        "python3 -c \"import sys, zipfile, xml.dom.minidom as m; z = zipfile.ZipFile(sys.argv[1]); "
        "assert z.testzip() is None; [m.parseString(z.read(n)) for n in z.namelist()]; "
        "wb = m.parseString(z.read('xl/workbook.xml')); "
        "assert [s.getAttribute('name') for s in wb.getElementsByTagName('sheet')] == "
        "['Data', 'Q&A <1>']; "
        "core = m.parseString(z.read('docProps/core.xml')); "
        "assert core.getElementsByTagName('dc:title')[0].firstChild.data == 'Report & \\\"more\\\"'\" " +
        path;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace tessary
