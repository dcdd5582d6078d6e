// xml: escaping of text for element content and attribute values. The text is scanned byte by
// byte; every byte that needs work ends the pending clean run, which is copied in one append.
#include "xml.h"

#include <array>
#include <cstdint>

namespace tessary {

namespace {

// What a byte asks of the escaper.
enum Action : uint8_t {
    Copy,        // part of a clean run
    Drop,        // a control character XML 1.0 does not allow (2.2 Char)
    Entity,      // one of & < > " '
    MaybeNonChar,// 0xEF: the lead byte of U+FFFE and U+FFFF (EF BF BE, EF BF BF) among others
    Underscore,  // '_': may open an _xHHHH_ run (cell text only)
};

constexpr std::array<uint8_t, 256> make_actions() {
    std::array<uint8_t, 256> a{};
    for (int c = 0; c < 0x20; ++c) a[c] = Drop;
    a['\t'] = Copy;
    a['\n'] = Copy;
    a['\r'] = Copy;
    a['&'] = Entity;
    a['<'] = Entity;
    a['>'] = Entity;
    a['"'] = Entity;
    a['\''] = Entity;
    a[0xEF] = MaybeNonChar;
    a['_'] = Underscore;
    return a;
}

constexpr std::array<uint8_t, 256> ACTIONS = make_actions();

std::string_view entity(unsigned char c) {
    switch (c) {
        case '&': return "&amp;";
        case '<': return "&lt;";
        case '>': return "&gt;";
        case '"': return "&quot;";
        default: return "&apos;";
    }
}

// U+FFFE or U+FFFF encoded at `i` (which holds 0xEF).
bool is_non_char(std::string_view text, size_t i) {
    return text.size() - i >= 3 && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
           (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE;
}

// The index of the first byte at or after `i` that the escaper writes (dropped characters
// skipped), or text.size().
size_t next_kept(std::string_view text, size_t i) {
    while (i < text.size()) {
        const uint8_t a = ACTIONS[static_cast<unsigned char>(text[i])];
        if (a == Drop) {
            ++i;
        } else if (a == MaybeNonChar && is_non_char(text, i)) {
            i += 3;
        } else {
            break;
        }
    }
    return i;
}

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Whether the written text continues after the underscore at `i` with x, four hex digits and an
// underscore, that is, whether a reader would decode an _xHHHH_ escape there.
bool opens_escape_run(std::string_view text, size_t i) {
    size_t j = next_kept(text, i + 1);
    if (j == text.size() || text[j] != 'x') return false;
    for (int k = 0; k < 4; ++k) {
        j = next_kept(text, j + 1);
        if (j == text.size() || !is_hex(text[j])) return false;
    }
    j = next_kept(text, j + 1);
    return j < text.size() && text[j] == '_';
}

template <bool CellText>
void escape(std::string& out, std::string_view text) {
    const char* data = text.data();
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        const uint8_t a = ACTIONS[c];
        if (a == Copy) continue;
        switch (a) {
            case Drop:
                out.append(data + run, i - run);
                run = i + 1;
                break;
            case Entity:
                out.append(data + run, i - run);
                out += entity(c);
                run = i + 1;
                break;
            case MaybeNonChar:
                if (is_non_char(text, i)) {
                    out.append(data + run, i - run);
                    i += 2;
                    run = i + 1;
                }
                break;
            case Underscore:
                if (CellText && opens_escape_run(text, i)) {
                    out.append(data + run, i - run);
                    out += "_x005F_";
                    run = i + 1;
                }
                break;
        }
    }
    out.append(data + run, text.size() - run);
}

}  // namespace

void escape_into(std::string& out, std::string_view text) { escape<false>(out, text); }

void escape_cell_text_into(std::string& out, std::string_view text) { escape<true>(out, text); }

}  // namespace tessary
