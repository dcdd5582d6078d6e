// serialize: the texts a parsed workbook is read out as: grid JSON and typed JSON of the whole
// workbook, CSV and Markdown of one sheet. Printed straight from the parsed cells into one growing
// buffer; nothing here can fail.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "parse/read.h"

namespace tessary::parse {

// {"sheets":[{"name":...,"rows":[[cell,...],...]},...]}: Empty as null, texts as strings, numbers
// (null when not finite), booleans.
std::string to_json_grid(const ParsedWorkbook& book);

// {"schemaVersion":"1.0","sheets":[{"name":...,"rows":[{"cells":[{"type":...},...]},...]},...]}
// in the cell types of the workbook schema, so that the text can be written again.
std::string to_json_typed(const ParsedWorkbook& book);

// One line per row, fields joined by commas, each line ended by a line feed; fields holding a
// comma, a double quote, LF or CR are quoted with inner quotes doubled.
std::string to_csv(const ParsedSheet& sheet);

// A Markdown table as wide as the longest row: the first row as header, a separator line, then
// the other rows. A sheet without rows gives the empty text.
std::string to_markdown(const ParsedSheet& sheet);

// Appends one table line of `width` columns: "| a | b |  |", with "|" escaped as "\|" and line
// feeds turned into blanks.
void md_row(std::string& out, const ParsedSheet& sheet, std::span<const CellValue> row,
            std::size_t width);

// Appends a number as CSV and Markdown print it: shortest round-trip digits, positional, no
// exponent, integral values without a fraction; "NaN", "inf", "-inf".
void push_plain_number(std::string& out, double v);

// Appends a finite number as the JSON forms print it: positional with ".0" for integral values when
// the decimal exponent lies in -5..15, otherwise d.ddde+N; "0.0" for zero. Not finite: "null".
void push_json_number(std::string& out, double v);

}  // namespace tessary::parse
