// xml: escaping of text for element content and attribute values. The text is scanned byte by
// byte; every byte that needs work ends the pending clean run, which is copied in one append.
#include "xml.h"

#include <array>
#include <cstdint>
#include <cstring>

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

constexpr uint64_t ONES = 0x0101010101010101ULL;
constexpr uint64_t HIGHS = 0x8080808080808080ULL;

// Whether any byte of `x` equals zero (the high bit of each such byte is set in the result; a
// byte above one that matches may be flagged too, which only costs a byte-wise look).
constexpr uint64_t zero_bytes(uint64_t x) { return (x - ONES) & ~x & HIGHS; }

// Whether any of eight bytes may need work: a byte below 0x20, one of & ' (0x26, 0x27 once bit 0
// is set), < > (0x3C, 0x3E once bit 1 is set), ", 0xEF, and '_' for cell text. Clean bytes that
// are merely flagged are cleared by the byte-wise scan.
template <bool CellText>
[[gnu::always_inline]] inline bool may_need_work(uint64_t x) {
    uint64_t hit = (x - 0x20 * ONES) & ~x & HIGHS;
    hit |= zero_bytes((x | ONES) ^ (0x27 * ONES));
    hit |= zero_bytes((x | 0x02 * ONES) ^ (0x3E * ONES));
    hit |= zero_bytes(x ^ (0x22 * ONES));
    hit |= zero_bytes(x ^ (0xEF * ONES));
    if constexpr (CellText) hit |= zero_bytes(x ^ (0x5F * ONES));
    return hit != 0;
}

// The index of the first byte in [i, end) that needs work, or `end`.
template <bool CellText>
size_t first_work(const char* data, size_t i, size_t end) {
    for (; i < end; ++i) {
        const uint8_t a = ACTIONS[static_cast<unsigned char>(data[i])];
        if (a != Copy && (CellText || a != Underscore)) break;
    }
    return i;
}

// The index of the first byte at or after `i` that needs work, or `n`. Eight bytes are tested at
// a time; the last, partial group is tested as the eight bytes that end the text (re-testing some
// bytes is harmless), so a clean text of eight bytes or more takes no byte-wise loop at all.
template <bool CellText>
[[gnu::always_inline]] inline size_t skip_clean(const char* data, size_t i, size_t n) {
    uint64_t x;
    while (n - i >= 8) {
        std::memcpy(&x, data + i, 8);
        if (may_need_work<CellText>(x)) {
            const size_t j = first_work<CellText>(data, i, i + 8);
            if (j < i + 8) return j;
        }
        i += 8;
    }
    if (i == n) return n;
    if (n >= 8) {
        std::memcpy(&x, data + n - 8, 8);
        if (!may_need_work<CellText>(x)) return n;
    }
    return first_work<CellText>(data, i, n);
}

template <bool CellText>
void escape(std::string& out, std::string_view text) {
    const char* data = text.data();
    const size_t n = text.size();
    size_t run = 0;
    size_t i = skip_clean<CellText>(data, 0, n);
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        switch (ACTIONS[c]) {
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
            default:
                break;
        }
        i = skip_clean<CellText>(data, i + 1, n);
    }
    out.append(data + run, n - run);
}

}  // namespace

void escape_into(std::string& out, std::string_view text) { escape<false>(out, text); }

void escape_cell_text_into(std::string& out, std::string_view text) { escape<true>(out, text); }

}  // namespace tessary
