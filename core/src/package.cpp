// package: fixed package parts and their assembly into the archive.
#include "package.h"

#include <charconv>
#include <utility>

#include "xml.h"

namespace tessary {
namespace {

constexpr std::string_view XML_DECLARATION =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
#define TESSARY_OOXML "http://schemas.openxmlformats.org"
constexpr std::string_view NS_PR = TESSARY_OOXML "/package/2006/relationships";
constexpr std::string_view REL_SHEET = TESSARY_OOXML "/officeDocument/2006/relationships/worksheet";
constexpr std::string_view REL_STYLES = TESSARY_OOXML "/officeDocument/2006/relationships/styles";

void push_index(std::string& out, size_t value) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, res.ptr);
}

// docProps/core.xml: title, creator and subject only; no dates.
std::string core_props(const DocMeta& meta) {
    std::string out(XML_DECLARATION);
    out += "<cp:coreProperties xmlns:cp=\"" TESSARY_OOXML
           "/package/2006/metadata/core-properties\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">";
    push_opt(out, "dc:title", meta.title);
    push_opt(out, "dc:creator", meta.author);
    push_opt(out, "dc:subject", meta.subject);
    out += "</cp:coreProperties>";
    return out;
}

// docProps/app.xml: the application name and the company.
std::string app_props(const DocMeta& meta) {
    std::string out(XML_DECLARATION);
    out += "<Properties xmlns=\"" TESSARY_OOXML
           "/officeDocument/2006/extended-properties\"><Application>tessary</Application>";
    push_opt(out, "Company", meta.company);
    out += "</Properties>";
    return out;
}

// xl/workbook.xml: one <sheet> per worksheet, numbered from 1.
std::string workbook_xml(std::span<const Sheet> sheets, size_t count) {
    std::string out(XML_DECLARATION);
    out += "<workbook xmlns=\"" TESSARY_OOXML "/spreadsheetml/2006/main\" xmlns:r=\"" TESSARY_OOXML
           "/officeDocument/2006/relationships\"><sheets>";
    for (size_t i = 0; i < count; ++i) {
        out += "<sheet name=\"";
        if (i < sheets.size()) escape_into(out, sheets[i].name);
        out += "\" sheetId=\"";
        push_index(out, i + 1);
        out += "\" r:id=\"rId";
        push_index(out, i + 1);
        out += "\"/>";
    }
    out += "</sheets></workbook>";
    return out;
}

// xl/_rels/workbook.xml.rels: rId1..rIdN for the worksheets, rId{N+1} for the style sheet.
std::string workbook_rels(size_t count) {
    std::string out(XML_DECLARATION);
    out += "<Relationships xmlns=\"";
    out += NS_PR;
    out += "\">";
    for (size_t i = 1; i <= count; ++i) {
        out += "<Relationship Id=\"rId";
        push_index(out, i);
        out += "\" Type=\"";
        out += REL_SHEET;
        out += "\" Target=\"worksheets/sheet";
        push_index(out, i);
        out += ".xml\"/>";
    }
    out += "<Relationship Id=\"rId";
    push_index(out, count + 1);
    out += "\" Type=\"";
    out += REL_STYLES;
    out += "\" Target=\"styles.xml\"/></Relationships>";
    return out;
}

}  // namespace

std::string content_types(size_t sheet_count) {
    std::string out(XML_DECLARATION);
    out += "<Types xmlns=\"" TESSARY_OOXML "/package/2006/content-types\">"
           "<Default Extension=\"rels\" "
           "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
           "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
           "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
           "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
           "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/"
           "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
    for (size_t i = 1; i <= sheet_count; ++i) {
        out += "<Override PartName=\"/xl/worksheets/sheet";
        push_index(out, i);
        out += ".xml\" ContentType=\"application/"
               "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    }
    out += "<Override PartName=\"/docProps/core.xml\" "
           "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
           "<Override PartName=\"/docProps/app.xml\" ContentType=\"application/"
           "vnd.openxmlformats-officedocument.extended-properties+xml\"/>"
           "</Types>";
    return out;
}

std::string root_rels() {
    std::string out(XML_DECLARATION);
    out += "<Relationships xmlns=\"" TESSARY_OOXML "/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" Type=\"" TESSARY_OOXML
           "/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/>"
           "<Relationship Id=\"rId2\" Type=\"" TESSARY_OOXML
           "/package/2006/relationships/metadata/core-properties\" Target=\"docProps/core.xml\"/>"
           "<Relationship Id=\"rId3\" Type=\"" TESSARY_OOXML
           "/officeDocument/2006/relationships/extended-properties\" Target=\"docProps/app.xml\"/>"
           "</Relationships>";
    return out;
}

void push_opt(std::string& out, std::string_view tag, const std::optional<std::string>& value) {
    if (!value) return;
    out += '<';
    out += tag;
    out += '>';
    escape_into(out, *value);
    out += "</";
    out += tag;
    out += '>';
}

std::vector<Part> assemble_parts(std::span<const Sheet> sheets, const WriteOptions& opts,
                                 std::string styles_xml, std::vector<std::string> sheet_xmls) {
    const size_t n = sheet_xmls.size();
    std::vector<Part> parts;
    parts.reserve(7 + n);
    parts.push_back({"[Content_Types].xml", content_types(n)});
    parts.push_back({"_rels/.rels", root_rels()});
    parts.push_back({"docProps/core.xml", core_props(opts.meta)});
    parts.push_back({"docProps/app.xml", app_props(opts.meta)});
    parts.push_back({"xl/workbook.xml", workbook_xml(sheets, n)});
    parts.push_back({"xl/_rels/workbook.xml.rels", workbook_rels(n)});
    parts.push_back({"xl/styles.xml", std::move(styles_xml)});
    for (size_t i = 0; i < n; ++i) {
        std::string name = "xl/worksheets/sheet";
        push_index(name, i + 1);
        name += ".xml";
        parts.push_back({std::move(name), std::move(sheet_xmls[i])});
    }
    return parts;
}

std::string finish_package(std::span<const Sheet> sheets, const WriteOptions& opts,
                           std::string styles_xml, std::vector<std::string> sheet_xmls) {
    return write_archive(assemble_parts(sheets, opts, std::move(styles_xml), std::move(sheet_xmls)));
}

}  // namespace tessary

#undef TESSARY_OOXML
