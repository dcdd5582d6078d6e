// package: the Open Packaging parts around a workbook's rendered texts (content types,
// relationships, document properties, the workbook part) in their fixed archive order, and the
// stored archive of them. Nothing here validates or fails; sheet names are escaped, not checked.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model.h"
#include "zip.h"

namespace tessary {

// "[Content_Types].xml" for `sheet_count` worksheets.
std::string content_types(size_t sheet_count);

// "_rels/.rels": the main document, core and extended properties relationships (587 bytes).
std::string root_rels();

// Appends <tag>value</tag> with the value escaped when it is present (even empty); nothing when
// it is absent.
void push_opt(std::string& out, std::string_view tag, const std::optional<std::string>& value);

// The 7 + N parts of the package in archive order: the fixed parts, then "xl/styles.xml", then
// "xl/worksheets/sheet{i}.xml". `sheets` gives the names (in the same order as `sheet_xmls`) and
// `opts.meta` the document properties. The style sheet and the sheet texts are moved in.
std::vector<Part> assemble_parts(std::span<const Sheet> sheets, const WriteOptions& opts,
                                 std::string styles_xml, std::vector<std::string> sheet_xmls);

// The stored ZIP archive of assemble_parts.
std::string finish_package(std::span<const Sheet> sheets, const WriteOptions& opts,
                           std::string styles_xml, std::vector<std::string> sheet_xmls);

}  // namespace tessary
