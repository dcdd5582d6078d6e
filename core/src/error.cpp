// error: code names and message quoting.
#include "error.h"

namespace tessary {

std::string_view code_name(ErrorCode code) {
    switch (code) {
        case ErrorCode::EmptyWorkbook: return "EmptyWorkbook";
        case ErrorCode::DuplicateSheetName: return "DuplicateSheetName";
        case ErrorCode::InvalidSheetName: return "InvalidSheetName";
        case ErrorCode::BadCellRef: return "BadCellRef";
        case ErrorCode::BadColor: return "BadColor";
        case ErrorCode::InvalidJson: return "InvalidJson";
        case ErrorCode::SchemaViolation: return "SchemaViolation";
        case ErrorCode::Encryption: return "Encryption";
    }
    return "Unknown";
}

std::string_view lint_name(LintCode code) {
    switch (code) {
        case LintCode::ClampedColumnWidth: return "ClampedColumnWidth";
        case LintCode::ClampedOutlineLevel: return "ClampedOutlineLevel";
        case LintCode::DroppedDuplicateMerge: return "DroppedDuplicateMerge";
        case LintCode::ClampedFreeze: return "ClampedFreeze";
    }
    return "Unknown";
}

void quote_into(std::string& out, std::string_view text) {
    static constexpr char HEX[] = "0123456789abcdef";
    out += '"';
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(text[i]);
        if (ch >= 0x20 && ch != '"' && ch != '\\' && ch != 0x7f) continue;
        out.append(text.data() + run, i - run);
        run = i + 1;
        switch (ch) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case 0: out += "\\0"; break;
            default: {
                out += "\\u{";
                if (ch >= 0x10) out += HEX[ch >> 4];
                out += HEX[ch & 0xf];
                out += '}';
            }
        }
    }
    out.append(text.data() + run, text.size() - run);
    out += '"';
}

}  // namespace tessary
