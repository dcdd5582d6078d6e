// writer: streaming sheets into worksheet texts and the package.
#include "writer.h"

#include <algorithm>
#include <utility>

#include "package.h"
#include "validate.h"

namespace tessary {

WorkbookWriter::WorkbookWriter(std::optional<std::string> locale, WriteOptions options)
    : locale_(locale ? std::move(*locale) : std::string("en-US")), options_(std::move(options)) {}

Status WorkbookWriter::start_sheet(Sheet sheet) {
    // The name is checked before anything is closed, so a bad name leaves the writer as it was.
    TESSARY_TRY(check_sheet_name(sheet.name, seen_lower_));
    std::string lower = std::move(seen_lower_.back());
    seen_lower_.pop_back();
    // On failure the new sheet is not opened and its name stays free.
    TESSARY_TRY(close_open());
    seen_lower_.push_back(std::move(lower));
    sheet.rows.clear();
    sheet.rows.shrink_to_fit();
    open_.emplace();
    open_->sheet = std::move(sheet);
    return Ok{};
}

Status WorkbookWriter::write_row(const Row& row) {
    if (!open_) return Ok{};
    OpenSheet& open = *open_;
    const size_t body_before = open.body.size();
    const size_t lints_before = lints_.lints().size();
    Status rendered = row_xml(open.body, open.sheet.columns, row, open.rows, locale_, styles_,
                              lints_, open.cache);
    if (!rendered.ok()) {
        // Nothing of a failed row stays: later rows keep their numbers and the XML stays whole.
        open.body.resize(body_before);
        lints_.lints().resize(lints_before);
        return rendered;
    }
    ++open.rows;
    open.max_cells = std::max<uint32_t>(open.max_cells, static_cast<uint32_t>(row.cells.size()));
    return Ok{};
}

Status WorkbookWriter::close_open() {
    if (!open_) return Ok{};
    OpenSheet open = std::move(*open_);
    open_.reset();
    // Prefix lints (panes, columns) and merge lints arise here, after the lints of the rows.
    const std::string prefix = sheet_prefix(open.sheet, open.rows, open.max_cells, lints_);
    Result<std::string> suffix = sheet_suffix(open.sheet.merges, lints_);
    if (!suffix.ok()) {
        // The sheet is lost: its name (the last one taken) no longer blocks a later sheet.
        seen_lower_.pop_back();
        return std::move(suffix.error());
    }
    // The frame goes around the body in place: at most one reallocation and one move of the rows.
    std::string text = std::move(open.body);
    text.reserve(prefix.size() + text.size() + suffix.value().size());
    text.insert(0, prefix);
    text += suffix.value();
    sheet_xmls_.push_back(std::move(text));
    sheets_.push_back(std::move(open.sheet));
    return Ok{};
}

Result<WriteResult> WorkbookWriter::finish() && {
    // The writer is consumed on every path: its state moves into this call and dies with it.
    WorkbookWriter self = std::move(*this);
    *this = WorkbookWriter(std::nullopt, WriteOptions{});
    TESSARY_TRY(self.close_open());
    if (self.sheets_.empty())
        return TessaryError{ErrorCode::EmptyWorkbook, "a workbook needs at least one sheet"};
    std::string styles_xml = self.styles_.to_xml();
    std::string zip = finish_package(self.sheets_, self.options_, std::move(styles_xml),
                                     std::move(self.sheet_xmls_));
    return build_result(std::move(zip), self.options_, std::move(self.lints_));
}

}  // namespace tessary
