// xml: the reader's pull tokenizer. It splits a part's text into start tags, end tags and text,
// replaces entity and character references (XML 1.0 section 4.1 and 4.6), and skips comments,
// processing instructions and DOCTYPE declarations; well-formedness is never checked.
#include "parse/xml.h"
#include "utf8.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessary::parse {

namespace {

// Character classes: ASCII whitespace as the tokenizer sees it (space, tab, line feed, form feed,
// carriage return; not vertical tab), and the characters that end a name (whitespace, "/", "=",
// ">").
constexpr uint8_t SPACE = 1, NAME_END = 2;
constexpr std::array<uint8_t, 256> CLASSES = [] {
    std::array<uint8_t, 256> c{};
    for (unsigned char ch : {' ', '\t', '\n', '\f', '\r'}) c[ch] = SPACE | NAME_END;
    for (unsigned char ch : {'/', '=', '>'}) c[ch] = NAME_END;
    return c;
}();

inline bool is_space(char c) { return CLASSES[static_cast<unsigned char>(c)] & SPACE; }
inline bool is_name_end(char c) { return CLASSES[static_cast<unsigned char>(c)] & NAME_END; }

// The length of the UTF-8 character at `i` (its lead byte and the continuation bytes that follow, at
// most four), so that positions stay on character boundaries.
size_t char_length(std::string_view s, size_t i) {
    size_t n = 1;
    while (n < 4 && i + n < s.size() && (static_cast<uint8_t>(s[i + n]) & 0xC0) == 0x80) ++n;
    return n;
}

// The first `c` at or after `from`, or the size of `s`: a plain loop over the first bytes (names,
// numbers and attribute values are short), memchr beyond them.
inline size_t find_byte(std::string_view s, size_t from, char c) {
    const size_t n = s.size();
    const size_t near = std::min(n, from + 16);
    for (size_t i = from; i < near; ++i)
        if (s[i] == c) return i;
    if (near == n) return n;
    const void* hit = std::memchr(s.data() + near, c, n - near);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - s.data()) : n;
}

// The first "&" at or after `from`, or npos; sixteen bytes per step on longer texts.
size_t find_amp(std::string_view s, size_t from) {
    const char* p = s.data();
    size_t i = from;
    const size_t n = s.size();
#if defined(__SSE2__)
    if (n - i > 15) {
        const __m128i amp = _mm_set1_epi8('&');
        for (; n - i >= 16; i += 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, amp));
            if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        }
    }
#endif
    for (; i < n; ++i)
        if (p[i] == '&') return i;
    return std::string_view::npos;
}

// A character reference's number after "#" ("65", "x41", "X41", "+65"): one optional "+", at least
// one digit of the base, the value within 32 bits.
bool char_ref_value(std::string_view ref, uint32_t& value) {
    unsigned base = 10;
    if (!ref.empty() && (ref[0] == 'x' || ref[0] == 'X')) {
        base = 16;
        ref.remove_prefix(1);
    }
    if (!ref.empty() && ref[0] == '+') ref.remove_prefix(1);
    if (ref.empty()) return false;
    uint64_t v = 0;
    for (char c : ref) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return false;
        v = v * base + d;
        if (v > 0xFFFFFFFFu) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

// Appends the replacement of the reference named `name` (the text between "&" and ";"); false when
// it is not a reference this reader replaces.
bool replace_reference(std::string& out, std::string_view name) {
    if (name.size() < 2) return false;
    if (name[0] == '#') {
        uint32_t cp;
        if (!char_ref_value(name.substr(1), cp)) return false;
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        push_utf8(out, cp);
        return true;
    }
    char c;
    if (name == "lt")
        c = '<';
    else if (name == "gt")
        c = '>';
    else if (name == "amp")
        c = '&';
    else if (name == "quot")
        c = '"';
    else if (name == "apos")
        c = '\'';
    else
        return false;
    out += c;
    return true;
}

}  // namespace

std::string_view local_name(std::string_view qname) {
    const size_t colon = qname.rfind(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

std::optional<std::string_view> Tag::attr(std::string_view wanted) const {
    for (size_t i = 0; i < count_; ++i) {
        const Attr& a = attr_at(i);
        if (a.name == wanted) return a.value.view();
    }
    return std::nullopt;
}

std::optional<std::string_view> Tag::attr_local(std::string_view local) const {
    for (size_t i = 0; i < count_; ++i) {
        const Attr& a = attr_at(i);
        if (local_name(a.name) == local) return a.value.view();
    }
    return std::nullopt;
}

std::optional<std::string_view> Tag::attr_prefixed(std::string_view local) const {
    for (size_t i = 0; i < count_; ++i) {
        const Attr& a = attr_at(i);
        if (a.name.size() > local.size() && a.name.ends_with(local) &&
            a.name[a.name.size() - local.size() - 1] == ':')
            return a.value.view();
    }
    return std::nullopt;
}

void Tag::clear() {
    name = {};
    self_closing = false;
    count_ = 0;
}

Attr& Tag::push_attr() {
    const size_t i = count_++;
    if (i < INLINE_ATTRS) return inline_[i];
    if (i - INLINE_ATTRS < more_.size()) return more_[i - INLINE_ATTRS];
    return more_.emplace_back();
}

void unescape_into(std::string& out, std::string_view text) {
    size_t i = 0;
    // The next ";" at or after the current "&", remembered so that a long run of "&" does not search
    // the rest of the text once per "&".
    size_t semi = 0;
    bool semi_known = false;
    for (;;) {
        const size_t amp = find_amp(text, i);
        if (amp == std::string_view::npos) break;
        out.append(text.substr(i, amp - i));
        if (!semi_known || semi < amp) {
            semi = text.find(';', amp + 1);
            semi_known = true;
        }
        if (semi == std::string_view::npos) {
            i = amp;
            break;
        }
        if (replace_reference(out, text.substr(amp + 1, semi - amp - 1))) {
            i = semi + 1;
        } else {
            out += '&';
            i = amp + 1;
        }
    }
    out.append(text.substr(i));
}

void unescape_to(Slice& out, std::string_view text) {
    if (find_amp(text, 0) == std::string_view::npos) {
        out.set_borrowed(text);
        return;
    }
    out.owned.clear();
    out.owned.reserve(text.size());
    unescape_into(out.owned, text);
    out.borrowed = {};
    out.is_owned = true;
}

Slice unescape(std::string_view text) {
    Slice s;
    unescape_to(s, text);
    return s;
}

bool Reader::next(Event& ev) {
    const std::string_view t = text_;
    const size_t n = t.size();
    for (;;) {
        if (pos_ >= n) {
            pos_ = n;
            return false;
        }
        if (t[pos_] != '<') {
            // Character data up to the next tag.
            const size_t end = find_byte(t, pos_, '<');
            ev.kind = EventKind::Text;
            ev.tag.clear();
            unescape_to(ev.text, t.substr(pos_, end - pos_));
            pos_ = end;
            return true;
        }
        if (pos_ + 1 == n) {
            // A "<" at the very end: an empty start tag.
            ev.kind = EventKind::Start;
            ev.tag.clear();
            pos_ = n;
            return true;
        }
        const char c = t[pos_ + 1];
        if (c == '!') {
            const std::string_view rest = t.substr(pos_);
            if (rest.starts_with("<!--")) {
                // Comment: ends at "-->".
                const size_t end = t.find("-->", pos_ + 4);
                pos_ = end == std::string_view::npos ? n : end + 3;
                continue;
            }
            if (rest.starts_with("<![CDATA[")) {
                // CDATA section: its content is text, taken as it stands, up to "]]>".
                const size_t from = pos_ + 9;
                const size_t end = t.find("]]>", from);
                const size_t stop = end == std::string_view::npos ? n : end;
                pos_ = end == std::string_view::npos ? n : end + 3;
                if (stop == from) continue;
                ev.kind = EventKind::Text;
                ev.tag.clear();
                ev.text.set_borrowed(t.substr(from, stop - from));
                return true;
            }
            // DOCTYPE or another declaration: ends at the first ">" outside quoted literals and
            // the internal subset.
            size_t i = pos_ + 2;
            bool subset = false;
            char quote = 0;
            for (; i < n; ++i) {
                const char d = t[i];
                if (quote != 0) {
                    if (d == quote) quote = 0;
                } else if (d == '"' || d == '\'') {
                    quote = d;
                } else if (subset) {
                    if (d == ']') subset = false;
                } else if (d == '[') {
                    subset = true;
                } else if (d == '>') {
                    break;
                }
            }
            pos_ = i < n ? i + 1 : n;
            continue;
        }
        if (c == '?') {
            // Processing instruction or the XML declaration: ends at "?>".
            const size_t end = t.find("?>", pos_ + 2);
            pos_ = end == std::string_view::npos ? n : end + 2;
            continue;
        }
        ev.tag.clear();
        if (c == '/') {
            // End tag: the name runs to the first whitespace; the tag to the next ">".
            const size_t from = pos_ + 2;
            const size_t gt = t.find('>', from);
            const size_t stop = gt == std::string_view::npos ? n : gt;
            size_t name_end = from;
            while (name_end < stop && !is_space(t[name_end])) ++name_end;
            ev.kind = EventKind::End;
            ev.tag.name = t.substr(from, name_end - from);
            pos_ = gt == std::string_view::npos ? n : gt + 1;
            return true;
        }
        // Start tag: the name, then attributes until "/", ">" or the end of the input.
        Tag& tag = ev.tag;
        ev.kind = EventKind::Start;
        size_t i = pos_ + 1;
        while (i < n && !is_name_end(t[i])) ++i;
        tag.name = t.substr(pos_ + 1, i - pos_ - 1);
        for (;;) {
            while (i < n && is_space(t[i])) ++i;
            if (i >= n) break;
            if (t[i] == '/') {
                tag.self_closing = true;
                ++i;
                if (i < n) i += char_length(t, i);
                break;
            }
            if (t[i] == '>') {
                ++i;
                break;
            }
            const size_t name_from = i;
            while (i < n && !is_name_end(t[i])) ++i;
            const std::string_view attr_name = t.substr(name_from, i - name_from);
            while (i < n && is_space(t[i])) ++i;
            if (i < n && t[i] == '=') ++i;
            while (i < n && is_space(t[i])) ++i;
            // An attribute cut off before its value's delimiter is dropped.
            if (i >= n) break;
            // The value delimiter: whatever character comes next, normally a quote.
            const size_t dlen = char_length(t, i);
            const size_t from = i + dlen;
            size_t stop;
            if (dlen == 1) {
                stop = find_byte(t, from, t[i]);
            } else {
                stop = t.find(t.substr(i, dlen), from);
                if (stop == std::string_view::npos) stop = n;
            }
            Attr& a = tag.push_attr();
            a.name = attr_name;
            unescape_to(a.value, t.substr(from, stop - from));
            i = stop == n ? n : stop + dlen;
        }
        pos_ = i;
        return true;
    }
}

std::optional<Event> Reader::read() {
    Event ev;
    if (!next(ev)) return std::nullopt;
    return ev;
}

}  // namespace tessary::parse
