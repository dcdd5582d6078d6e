// Fuzz target for text escaping and colour checking on arbitrary bytes (valid UTF-8 or not): no
// read outside the input, and the written text keeps its promises: no markup character outside an
// entity, no dropped control character, and cell text that reads back as the kept input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "style.h"
#include "xml.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

// The input as the escaper keeps it: controls other than TAB, LF, CR and U+FFFE, U+FFFF removed.
std::string kept(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
        if (c == 0xEF && s.size() - i >= 3 && static_cast<unsigned char>(s[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(s[i + 2]) == 0xBE || static_cast<unsigned char>(s[i + 2]) == 0xBF)) {
            i += 2;
            continue;
        }
        out += static_cast<char>(c);
    }
    return out;
}

// Undoes the five entities; aborts on a bare markup character or an unknown entity.
std::string unescape(std::string_view s) {
    static constexpr std::string_view ENTITIES[][2] = {
        {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}};
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        require(c != '<' && c != '>' && c != '"' && c != '\'');
        require(c >= 0x20 || c == '\t' || c == '\n' || c == '\r');
        if (c != '&') {
            out += s[i++];
            continue;
        }
        bool found = false;
        for (const auto& e : ENTITIES) {
            if (s.substr(i, e[0].size()) == e[0]) {
                out += e[1];
                i += e[0].size();
                found = true;
                break;
            }
        }
        require(found);
    }
    return out;
}

bool hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Reads _xHHHH_ runs back left to right; only _x005F_ can occur in written cell text, since every
// other run is protected.
std::string decode_runs(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size();) {
        if (s.size() - i >= 7 && s[i] == '_' && s[i + 1] == 'x' && hex(s[i + 2]) && hex(s[i + 3]) &&
            hex(s[i + 4]) && hex(s[i + 5]) && s[i + 6] == '_') {
            require(s.substr(i, 7) == "_x005F_");
            out += '_';
            i += 7;
        } else {
            out += s[i++];
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string want = kept(text);

    std::string plain;
    tessary::escape_into(plain, text);
    require(unescape(plain) == want);

    std::string cell;
    tessary::escape_cell_text_into(cell, text);
    require(decode_runs(unescape(cell)) == want);

    tessary::Result<std::string> color = tessary::normalize_color(text);
    if (color.ok()) require(color.value().size() == 8 && color.value().compare(0, 2, "FF") == 0);
    else require(color.error().code == tessary::ErrorCode::BadColor);
    return 0;
}
