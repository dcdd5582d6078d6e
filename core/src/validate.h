// validate: the check of a workbook's sheet list and sheet names that runs before rendering. Names
// are judged as they will be written: without the characters that XML escaping drops.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "error.h"
#include "model.h"

namespace tessary {

// Fails with EmptyWorkbook for no sheets, then checks each name in order (check_sheet_name).
Status validate(const Workbook& book);

// Checks one new sheet name against the lower-cased names already taken: InvalidSheetName when it
// is empty, longer than 31 characters or holds one of : \ / ? * [ ], DuplicateSheetName when its
// lower case is taken. On success its lower-cased form is appended to `seen_lower`.
Status check_sheet_name(std::string_view name, std::vector<std::string>& seen_lower);

// Appends the full Unicode lower case of `text` (Final_Sigma included); bytes that are not UTF-8
// pass unchanged.
void lower_into(std::string& out, std::string_view text);

}  // namespace tessary
