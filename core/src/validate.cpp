// validate: sheet list and sheet-name rules. Lengths count Unicode scalar values; duplicates
// compare the full Unicode lower case, byte for byte.
#include "validate.h"

#include "unicase.h"
#include "utf8.h"

namespace tessary {

namespace {

constexpr size_t MAX_NAME_CHARS = 31;
constexpr char32_t RAW_BYTE = 0x110000;  // marks a byte that is not part of well-formed UTF-8

// Decodes one scalar value at text[i], advancing i; a malformed byte gives RAW_BYTE + byte.
char32_t next_scalar(std::string_view text, size_t& i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3
                 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (len == 1) {
        ++i;
        return c;
    }
    if (len == 0 || text.size() - i < len) {
        ++i;
        return RAW_BYTE + c;
    }
    char32_t cp = c & (0x7f >> len);
    for (size_t k = 1; k < len; ++k) {
        const unsigned char cc = static_cast<unsigned char>(text[i + k]);
        if ((cc & 0xc0) != 0x80) {
            ++i;
            return RAW_BYTE + c;
        }
        cp = (cp << 6) | (cc & 0x3f);
    }
    static constexpr char32_t MIN[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < MIN[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) {
        ++i;
        return RAW_BYTE + c;
    }
    i += len;
    return cp;
}

void push_scalar(std::string& out, char32_t cp) {
    if (cp >= RAW_BYTE) {
        out += static_cast<char>(cp - RAW_BYTE);
    } else {
        push_utf8(out, static_cast<uint32_t>(cp));
    }
}

// The name as the workbook part writes it: without the C0 controls other than tab, line feed
// and carriage return, and without U+FFFE and U+FFFF, which XML 1.0 cannot hold.
std::string written_name(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
        if (c == 0xef && name.size() - i >= 3 && static_cast<unsigned char>(name[i + 1]) == 0xbf &&
            (static_cast<unsigned char>(name[i + 2]) & 0xfe) == 0xbe) {
            i += 2;
            continue;
        }
        out += static_cast<char>(c);
    }
    return out;
}

size_t scalar_count(std::string_view text) {
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++n) next_scalar(text, i);
    return n;
}

TessaryError name_error(ErrorCode code, std::string_view head, std::string_view name,
                        std::string_view tail) {
    std::string msg(head);
    quote_into(msg, name);
    msg += tail;
    return TessaryError{code, std::move(msg)};
}

}  // namespace

void lower_into(std::string& out, std::string_view text) {
    std::vector<char32_t> cps;
    cps.reserve(text.size());
    for (size_t i = 0; i < text.size();) cps.push_back(next_scalar(text, i));
    auto ignorable = [&](char32_t cp) { return cp < RAW_BYTE && is_case_ignorable(cp); };
    auto cased = [&](char32_t cp) { return cp < RAW_BYTE && is_cased(cp); };
    for (size_t i = 0; i < cps.size(); ++i) {
        const char32_t cp = cps[i];
        if (cp >= RAW_BYTE) {
            push_scalar(out, cp);
            continue;
        }
        if (cp == 0x3a3) {
            // Final_Sigma: a cased letter before (case-ignorable ones skipped), none after.
            size_t j = i;
            while (j > 0 && ignorable(cps[j - 1])) --j;
            bool final = j > 0 && cased(cps[j - 1]);
            if (final) {
                size_t k = i + 1;
                while (k < cps.size() && ignorable(cps[k])) ++k;
                final = k == cps.size() || !cased(cps[k]);
            }
            push_scalar(out, final ? 0x3c2 : 0x3c3);
            continue;
        }
        char32_t low[3];
        const size_t n = lower_of(cp, low);
        for (size_t k = 0; k < n; ++k) push_scalar(out, low[k]);
    }
}

Status check_sheet_name(std::string_view name, std::vector<std::string>& seen_lower) {
    const std::string written = written_name(name);
    if (written.empty())
        return TessaryError{ErrorCode::InvalidSheetName, "sheet name must not be empty"};
    if (scalar_count(written) > MAX_NAME_CHARS)
        return name_error(ErrorCode::InvalidSheetName, "sheet name ", name, " exceeds 31 characters");
    if (name.find_first_of(":\\/?*[]") != std::string_view::npos)
        return name_error(ErrorCode::InvalidSheetName, "sheet name ", name,
                          " contains a forbidden character (: \\ / ? * [ ])");
    std::string lower;
    lower_into(lower, written);
    for (const std::string& seen : seen_lower) {
        if (seen == lower) return name_error(ErrorCode::DuplicateSheetName, "duplicate sheet name ", name, "");
    }
    seen_lower.push_back(std::move(lower));
    return Ok{};
}

Status validate(const Workbook& book) {
    if (book.sheets.empty())
        return TessaryError{ErrorCode::EmptyWorkbook, "a workbook needs at least one sheet"};
    std::vector<std::string> seen_lower;
    seen_lower.reserve(book.sheets.size());
    for (const Sheet& sheet : book.sheets) TESSARY_TRY(check_sheet_name(sheet.name, seen_lower));
    return Ok{};
}

}  // namespace tessary
