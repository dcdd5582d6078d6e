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

namespace {

// Characters shown as \u{hex} besides the C0 controls: DEL, the C1 controls, and the invisible
// format characters and non-characters that would otherwise hide in a message.
struct Range {
    uint32_t lo, hi;
};
constexpr Range HIDDEN[] = {
    {0x7f, 0x9f},     {0xad, 0xad},     {0x61c, 0x61c},   {0x180e, 0x180e}, {0x200b, 0x200f},
    {0x2028, 0x202e}, {0x2060, 0x2064}, {0x2066, 0x206f}, {0xfeff, 0xfeff}, {0xfff9, 0xfffb},
    {0xfffe, 0xffff},
};

bool hidden(uint32_t cp) {
    for (const Range& r : HIDDEN)
        if (cp >= r.lo && cp <= r.hi) return true;
    return false;
}

// The scalar value of the well-formed UTF-8 sequence at text[i] and its length, or length 0.
uint32_t decode_at(std::string_view text, size_t i, size_t& len) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    len = c >= 0xc2 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    if (len == 0 || text.size() - i < len) {
        len = 0;
        return 0;
    }
    uint32_t cp = c & (0x7f >> len);
    for (size_t k = 1; k < len; ++k) {
        const unsigned char cc = static_cast<unsigned char>(text[i + k]);
        if ((cc & 0xc0) != 0x80) {
            len = 0;
            return 0;
        }
        cp = (cp << 6) | (cc & 0x3f);
    }
    static constexpr uint32_t MIN[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < MIN[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) len = 0;
    return cp;
}

void push_hex_escape(std::string& out, uint32_t cp) {
    static constexpr char HEX[] = "0123456789abcdef";
    out += "\\u{";
    int shift = 20;
    while (shift > 0 && (cp >> shift) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) out += HEX[(cp >> shift) & 0xf];
    out += '}';
}

}  // namespace

void quote_into(std::string& out, std::string_view text) {
    out += '"';
    size_t run = 0;
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char ch = static_cast<unsigned char>(text[i]);
        if (ch >= 0x20 && ch < 0x7f && ch != '"' && ch != '\\') {
            ++i;
            continue;
        }
        size_t len = 1;
        uint32_t cp = ch;
        if (ch >= 0x80) {
            cp = decode_at(text, i, len);
            // Bytes that are not UTF-8 pass as they are.
            if (len == 0 || !hidden(cp)) {
                i += len == 0 ? 1 : len;
                continue;
            }
        }
        out.append(text.data() + run, i - run);
        i += len;
        run = i;
        switch (cp) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case 0: out += "\\0"; break;
            default: push_hex_escape(out, cp);
        }
    }
    out.append(text.data() + run, text.size() - run);
    out += '"';
}

}  // namespace tessary
