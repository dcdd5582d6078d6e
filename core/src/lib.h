// lib: the one-shot write pipeline: validate, render every sheet with one style table, assemble and
// archive the package, and encrypt it when a password is given.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "json.h"
#include "model.h"

namespace tessary {

// The outcome of a successful write: the finished file and the lints in the order they arose.
struct WriteResult {
    std::string bytes;
    Diagnostics lints;
};

Result<WriteResult> write(const Workbook& book, const WriteOptions& opts);

// A one-sheet workbook ("Sheet1" when no name is given) written by `write`.
Result<WriteResult> write_rows(std::optional<std::string> sheet_name, std::vector<Column> columns,
                               std::vector<Row> rows, std::optional<std::string> locale,
                               const WriteOptions& opts);

// Renders and archives a validated workbook, appending lints; the ZIP bytes or the first error.
Result<std::string> package(const Workbook& book, const WriteOptions& opts, Diagnostics& lints);

// Encrypts `bytes` for a non-empty password, then wraps them with the lints.
Result<WriteResult> build_result(std::string bytes, const WriteOptions& opts, Diagnostics lints);

Result<WriteResult> write_from_json_str(std::string_view text, const WriteOptions& opts);
Result<WriteResult> write_from_json_value(json::Value&& value, const WriteOptions& opts);

}  // namespace tessary
