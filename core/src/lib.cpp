// lib: the one-shot pipeline from a validated workbook to the finished file.
#include "lib.h"

#include <algorithm>
#include <utility>

#include "encrypt.h"
#include "package.h"
#include "style.h"
#include "validate.h"
#include "worksheet.h"

namespace tessary {
namespace {

constexpr std::string_view DEFAULT_LOCALE = "en-US";
// Rows rendered before the sheet text is sized from their average length.
constexpr size_t SAMPLE_ROWS = 64;

// Renders one sheet: prefix, rows, suffix, in one buffer.
Result<std::string> render_sheet(const Sheet& sheet, std::string_view locale, StyleTable& styles,
                                 Diagnostics& lints) {
    const uint32_t rows = static_cast<uint32_t>(sheet.rows.size());
    size_t max_cells = 0;
    size_t total_cells = 0;
    for (const Row& row : sheet.rows) {
        max_cells = std::max(max_cells, row.cells.size());
        total_cells += row.cells.size();
    }
    std::string out = sheet_prefix(sheet, rows, static_cast<uint32_t>(max_cells), lints);
    // Capacity hints: a first guess from the cell count, then one from the measured length of the
    // first rows, so that a large sheet grows its buffer at most once. Both stay proportional to
    // the cells of the model, so a sparse or skewed sheet never asks for an absurd block; pages
    // reserved and never written cost no memory.
    const size_t first_guess = total_cells * 28 + static_cast<size_t>(rows) * 24 + 256;
    out.reserve(out.size() + first_guess);
    ColCache cache;
    const size_t body_start = out.size();
    size_t cells_done = 0;
    for (uint32_t r = 0; r < rows; ++r) {
        const Row& row = sheet.rows[r];
        TESSARY_TRY(row_xml(out, sheet.columns, row, r, locale, styles, lints, cache));
        cells_done += row.cells.size();
        if (r + 1 == SAMPLE_ROWS && rows > SAMPLE_ROWS && cells_done > 0) {
            const double per_cell = double(out.size() - body_start) / double(cells_done);
            const double estimate = per_cell * double(total_cells) * 1.1 + double(rows) * 24;
            const size_t want = body_start + size_t(std::min(estimate, 4.0 * double(first_guess)));
            if (want > out.capacity()) out.reserve(want);
        }
    }
    Result<std::string> suffix = sheet_suffix(sheet.merges, lints);
    if (!suffix.ok()) return std::move(suffix.error());
    out += suffix.value();
    return out;
}

}  // namespace

Result<std::string> package(const Workbook& book, const WriteOptions& opts, Diagnostics& lints) {
    const std::string_view locale = book.locale ? std::string_view(*book.locale) : DEFAULT_LOCALE;
    StyleTable styles;
    std::vector<std::string> sheet_xmls;
    sheet_xmls.reserve(book.sheets.size());
    for (const Sheet& sheet : book.sheets) {
        Result<std::string> xml = render_sheet(sheet, locale, styles, lints);
        if (!xml.ok()) return std::move(xml.error());
        sheet_xmls.push_back(std::move(xml.value()));
    }
    // The style sheet comes last: rendering the cells registers their styles and formats.
    std::string styles_xml = styles.to_xml();
    return finish_package(book.sheets, opts, std::move(styles_xml), std::move(sheet_xmls));
}

Result<WriteResult> build_result(std::string bytes, const WriteOptions& opts, Diagnostics lints) {
    if (opts.password && !opts.password->empty()) {
        Result<std::string> encrypted = encrypt(bytes, *opts.password);
        if (!encrypted.ok()) return std::move(encrypted.error());
        std::string().swap(bytes);
        return WriteResult{std::move(encrypted.value()), std::move(lints)};
    }
    return WriteResult{std::move(bytes), std::move(lints)};
}

Result<WriteResult> write(const Workbook& book, const WriteOptions& opts) {
    TESSARY_TRY(validate(book));
    Diagnostics lints;
    Result<std::string> zip = package(book, opts, lints);
    if (!zip.ok()) return std::move(zip.error());
    return build_result(std::move(zip.value()), opts, std::move(lints));
}

Result<WriteResult> write_rows(std::optional<std::string> sheet_name, std::vector<Column> columns,
                               std::vector<Row> rows, std::optional<std::string> locale,
                               const WriteOptions& opts) {
    Workbook book;
    book.locale = std::move(locale);
    Sheet& sheet = book.sheets.emplace_back();
    sheet.name = sheet_name ? std::move(*sheet_name) : std::string("Sheet1");
    sheet.columns = std::move(columns);
    sheet.rows = std::move(rows);
    return write(book, opts);
}

Result<WriteResult> write_from_json_str(std::string_view text, const WriteOptions& opts) {
    Result<Workbook> book = from_json_str(text);
    if (!book.ok()) return std::move(book.error());
    return write(book.value(), opts);
}

Result<WriteResult> write_from_json_value(json::Value&& value, const WriteOptions& opts) {
    Result<Workbook> book = from_json_value(std::move(value));
    if (!book.ok()) return std::move(book.error());
    return write(book.value(), opts);
}

}  // namespace tessary
