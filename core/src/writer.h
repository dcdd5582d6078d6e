// writer: the streaming workbook writer. Sheets are opened from their metadata, rows are rendered
// to worksheet XML as they arrive and forgotten, a sheet's frame is completed when it is closed,
// and finish assembles the package as the one-shot write does. No row model is ever kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "lib.h"
#include "model.h"
#include "style.h"
#include "worksheet.h"

namespace tessary {

// The sheet being written: its metadata (rows always empty), the XML of the rows so far without
// the frame, the renderer's column cache, the row count (also the next row's zero-based position)
// and the largest cell count of any row written.
struct OpenSheet {
    Sheet sheet;
    std::string body;
    ColCache cache;
    uint32_t rows = 0;
    uint32_t max_cells = 0;
};

class WorkbookWriter {
public:
    // A writer with no sheets; the locale is "en-US" when none is given.
    WorkbookWriter(std::optional<std::string> locale, WriteOptions options);

    // Checks the new sheet's name by the one-shot rules (InvalidSheetName, DuplicateSheetName)
    // against the sheets of this writer, then closes the open sheet and opens `sheet` with its
    // rows discarded unread. A bad name changes nothing. When closing fails (BadCellRef) the error
    // is returned, the closed sheet is lost and nothing is opened.
    Status start_sheet(Sheet sheet);

    // Renders one row into the open sheet; with no open sheet the row is dropped. A row that fails
    // (BadColor) leaves nothing of itself in the sheet and is not counted.
    Status write_row(const Row& row);

    // Completes the open sheet, if any: prefix with the final counts, the rows, the merges. A bad
    // merge range (BadCellRef) loses the sheet; the writer stays usable with no open sheet.
    Status close_open();

    // Closes the open sheet and returns the package (encrypted for a non-empty password). Fails
    // with EmptyWorkbook "a workbook needs at least one sheet" when no sheet was completed, or with
    // the error of closing or encryption. The writer is consumed either way.
    Result<WriteResult> finish() &&;

    bool has_open_sheet() const { return open_.has_value(); }
    // Rows written so far to the open sheet (0 when none is open).
    uint32_t open_rows() const { return open_ ? open_->rows : 0; }
    size_t sheet_count() const { return sheets_.size(); }
    const std::string& locale() const { return locale_; }
    const Diagnostics& lints() const { return lints_; }

private:
    std::string locale_;
    StyleTable styles_;
    Diagnostics lints_;
    std::vector<Sheet> sheets_;
    std::vector<std::string> sheet_xmls_;
    WriteOptions options_;
    std::optional<OpenSheet> open_;
    // Lower-cased names of the finished sheets and the open one, for the duplicate check.
    std::vector<std::string> seen_lower_;
};

}  // namespace tessary
