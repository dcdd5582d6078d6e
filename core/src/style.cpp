// style: interning of number formats, fonts, fills, borders and cell formats by their rendered
// text, and the rendering of xl/styles.xml (ECMA-376 Part 1, 18.8 Styles). Each record is rendered
// into one reused scratch buffer and looked up by that text; only a new text is copied.
#include "style.h"

#include <bit>

#include "worksheet.h"
#include "xml.h"

namespace tessary {

namespace {

constexpr std::string_view XML_DECLARATION =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view NS_MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

constexpr std::string_view DEFAULT_FONT =
    "<font><sz val=\"11\"/><color theme=\"1\"/><name val=\"Calibri\"/><family val=\"2\"/></font>";
constexpr std::string_view NO_FILL = "<fill><patternFill patternType=\"none\"/></fill>";
constexpr std::string_view GRAY_FILL = "<fill><patternFill patternType=\"gray125\"/></fill>";
constexpr std::string_view EMPTY_BORDER =
    "<border><left/><right/><top/><bottom/><diagonal/></border>";
constexpr std::string_view DEFAULT_XF =
    "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>";
constexpr std::string_view CELL_STYLE_XFS =
    "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
    "</cellStyleXfs>";
constexpr std::string_view CELL_STYLES =
    "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>";
constexpr std::string_view BLACK = "FF000000";

TessaryError bad_color(std::string_view text) {
    std::string msg = "invalid colour ";
    quote_into(msg, text);
    msg += "; expected #rrggbb hex";
    return TessaryError{ErrorCode::BadColor, std::move(msg)};
}

bool is_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Appends "FF" and the six digits of `text` upper-cased, or fails without appending.
Status push_color(std::string& out, std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '#') digits.remove_prefix(1);
    if (digits.size() != 6) return bad_color(text);
    for (char c : digits)
        if (!is_hex(c)) return bad_color(text);
    out += "FF";
    for (char c : digits) out += (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
    return Ok{};
}

std::string_view border_word(BorderStyle s) {
    switch (s) {
        case BorderStyle::Thin: return "thin";
        case BorderStyle::Medium: return "medium";
        case BorderStyle::Thick: return "thick";
        case BorderStyle::Double: return "double";
    }
    return "thin";
}

std::string_view horizontal_word(HAlign h) {
    switch (h) {
        case HAlign::Left: return "left";
        case HAlign::Center: return "center";
        case HAlign::Right: return "right";
    }
    return "left";
}

std::string_view vertical_word(VAlign v) {
    switch (v) {
        case VAlign::Top: return "top";
        case VAlign::Middle: return "center";
        case VAlign::Bottom: return "bottom";
    }
    return "top";
}

// Renders a font element (18.8.22 font) in the child order of the default font.
Status font_xml(std::string& out, const Font& font) {
    out += "<font>";
    if (font.bold.value_or(false)) out += "<b/>";
    if (font.italic.value_or(false)) out += "<i/>";
    out += "<sz val=\"";
    if (font.size)
        push_num(out, *font.size);
    else
        out += "11";
    out += "\"/>";
    if (font.color) {
        out += "<color rgb=\"";
        TESSARY_TRY(push_color(out, *font.color));
        out += "\"/>";
    } else {
        out += "<color theme=\"1\"/>";
    }
    out += "<name val=\"";
    if (font.name)
        escape_into(out, *font.name);
    else
        out += "Calibri";
    out += "\"/><family val=\"2\"/></font>";
    return Ok{};
}

// Renders a solid fill (18.8.20 fill, 18.8.32 patternFill).
Status fill_xml(std::string& out, std::string_view color) {
    out += "<fill><patternFill patternType=\"solid\"><fgColor rgb=\"";
    TESSARY_TRY(push_color(out, color));
    out += "\"/><bgColor indexed=\"64\"/></patternFill></fill>";
    return Ok{};
}

// Renders a border (18.8.4 border): left, right, top, bottom, then the empty diagonal.
Status border_xml(std::string& out, const Border& border) {
    out += "<border>";
    TESSARY_TRY(edge_xml(out, "left", border.left));
    TESSARY_TRY(edge_xml(out, "right", border.right));
    TESSARY_TRY(edge_xml(out, "top", border.top));
    TESSARY_TRY(edge_xml(out, "bottom", border.bottom));
    out += "<diagonal/></border>";
    return Ok{};
}

// Renders a cell format (18.8.45 xf) with its alignment child (18.8.1 alignment) when given.
void xf_xml(std::string& out, uint32_t numfmt, uint32_t font, uint32_t fill, uint32_t border,
            const std::optional<Align>& align) {
    out += "<xf numFmtId=\"";
    push_uint(out, numfmt);
    out += "\" fontId=\"";
    push_uint(out, font);
    out += "\" fillId=\"";
    push_uint(out, fill);
    out += "\" borderId=\"";
    push_uint(out, border);
    out += "\" xfId=\"0\"";
    apply_flag(out, "applyNumberFormat", numfmt != 0);
    apply_flag(out, "applyFont", font != 0);
    apply_flag(out, "applyFill", fill != 0);
    apply_flag(out, "applyBorder", border != 0);
    if (!align) {
        out += "/>";
        return;
    }
    out += " applyAlignment=\"1\"><alignment";
    if (align->horizontal) {
        out += " horizontal=\"";
        out += horizontal_word(*align->horizontal);
        out += '"';
    }
    if (align->vertical) {
        out += " vertical=\"";
        out += vertical_word(*align->vertical);
        out += '"';
    }
    if (align->wrap.value_or(false)) out += " wrapText=\"1\"";
    out += "/></xf>";
}

}  // namespace

Interner::Interner(const Interner& other) {
    for (std::string_view t : other.texts_) intern(t);
}

Interner& Interner::operator=(const Interner& other) {
    if (this != &other) {
        index_.clear();
        texts_.clear();
        for (std::string_view t : other.texts_) intern(t);
    }
    return *this;
}

uint32_t Interner::intern(std::string_view text) {
    if (auto it = index_.find(text); it != index_.end()) return it->second;
    const uint32_t pos = static_cast<uint32_t>(texts_.size());
    auto it = index_.emplace(std::string(text), pos).first;
    texts_.push_back(it->first);
    return pos;
}

std::optional<uint32_t> Interner::find(std::string_view text) const {
    if (auto it = index_.find(text); it != index_.end()) return it->second;
    return std::nullopt;
}

StyleTable::StyleTable() : recent_(RECENT_SLOTS) {
    fonts_.intern(DEFAULT_FONT);
    fills_.intern(NO_FILL);
    fills_.intern(GRAY_FILL);
    borders_.intern(EMPTY_BORDER);
    cell_formats_.intern(DEFAULT_XF);
}

namespace {

uint64_t mix(uint64_t h, uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
    return h;
}

uint64_t hash_text(const std::optional<std::string>& t) {
    return t ? std::hash<std::string_view>{}(*t) : 0x51ED270B27CF4A3DULL;
}

uint64_t hash_flag(const std::optional<bool>& b) { return b ? 1 + *b : 0; }

template <class E>
uint64_t hash_enum(const std::optional<E>& e) {
    return e ? 1 + static_cast<uint64_t>(*e) : 0;
}

uint64_t hash_edge(const std::optional<BorderEdge>& e) {
    return e ? mix(hash_enum(e->style), hash_text(e->color)) : 0x2545F4914F6CDD1DULL;
}

// A hash of every field of a style, present or absent; sizes by their bits.
uint64_t hash_style(const CellStyle& s) {
    uint64_t h = 0;
    if (s.font) {
        const Font& f = *s.font;
        h = mix(h, 1 + hash_flag(f.bold) * 3 + hash_flag(f.italic) * 9);
        h = mix(h, f.size ? std::bit_cast<uint64_t>(*f.size) : 0x7FF8DEADULL);
        h = mix(h, hash_text(f.color));
        h = mix(h, hash_text(f.name));
    }
    h = mix(h, hash_text(s.fill));
    if (s.align) {
        const Align& a = *s.align;
        h = mix(h, 1 + hash_enum(a.horizontal) + hash_enum(a.vertical) * 5 + hash_flag(a.wrap) * 25);
    }
    if (s.border) {
        const Border& b = *s.border;
        h = mix(h, hash_edge(b.top));
        h = mix(h, hash_edge(b.bottom));
        h = mix(h, hash_edge(b.left));
        h = mix(h, hash_edge(b.right));
    }
    return h;
}

bool same_size(const std::optional<double>& a, const std::optional<double>& b) {
    if (!a || !b) return !a && !b;
    return std::bit_cast<uint64_t>(*a) == std::bit_cast<uint64_t>(*b);
}

bool same_edge(const std::optional<BorderEdge>& a, const std::optional<BorderEdge>& b) {
    if (!a || !b) return !a && !b;
    return a->style == b->style && a->color == b->color;
}

// Equal field for field, absent only to absent; sizes by their bits.
bool same_style(const CellStyle& a, const CellStyle& b) {
    if (a.font.has_value() != b.font.has_value()) return false;
    if (a.font) {
        const Font& x = *a.font;
        const Font& y = *b.font;
        if (x.bold != y.bold || x.italic != y.italic || !same_size(x.size, y.size) ||
            x.color != y.color || x.name != y.name)
            return false;
    }
    if (a.fill != b.fill) return false;
    if (a.align.has_value() != b.align.has_value()) return false;
    if (a.align && (a.align->horizontal != b.align->horizontal ||
                    a.align->vertical != b.align->vertical || a.align->wrap != b.align->wrap))
        return false;
    if (a.border.has_value() != b.border.has_value()) return false;
    if (a.border) {
        const Border& x = *a.border;
        const Border& y = *b.border;
        if (!same_edge(x.top, y.top) || !same_edge(x.bottom, y.bottom) ||
            !same_edge(x.left, y.left) || !same_edge(x.right, y.right))
            return false;
    }
    return true;
}

}  // namespace

Result<uint32_t> StyleTable::intern_record(const CellStyle& style, const NumFmtKey& key) {
    const uint64_t h = mix(hash_style(style), key.hash());
    Recent& slot = recent_[(h ^ (h >> 29)) % RECENT_SLOTS];
    if (slot.used && slot.key == key && same_style(slot.style, style)) return slot.index;
    Result<uint32_t> r = render_and_intern(style, key);
    if (r.ok()) {
        slot.used = true;
        slot.style = style;
        slot.key = key;
        slot.index = r.value();
    }
    return r;
}

Result<uint32_t> StyleTable::render_and_intern(const CellStyle& style, const NumFmtKey& key) {
    // Number-format id: built-in as given, a custom code by its first-seen id from 164 on.
    uint32_t numfmt;
    if (key.is_builtin()) {
        numfmt = key.id();
    } else if (auto it = custom_ids_.find(key.code()); it != custom_ids_.end()) {
        numfmt = it->second;
    } else {
        numfmt = FIRST_CUSTOM_NUMFMT_ID + static_cast<uint32_t>(custom_formats_.size());
        custom_ids_.emplace(key.code(), numfmt);
        custom_formats_.push_back({numfmt, key.code()});
    }

    uint32_t font = 0;
    if (style.font) {
        scratch_.clear();
        TESSARY_TRY(font_xml(scratch_, *style.font));
        font = fonts_.intern(scratch_);
    }
    uint32_t fill = 0;
    if (style.fill) {
        scratch_.clear();
        TESSARY_TRY(fill_xml(scratch_, *style.fill));
        fill = fills_.intern(scratch_);
    }
    uint32_t border = 0;
    if (style.border) {
        scratch_.clear();
        TESSARY_TRY(border_xml(scratch_, *style.border));
        border = borders_.intern(scratch_);
    }
    scratch_.clear();
    xf_xml(scratch_, numfmt, font, fill, border, style.align);
    return cell_formats_.intern(scratch_);
}

uint32_t StyleTable::intern_plain(const NumFmtKey& key) {
    if (auto it = plain_formats_.find(key); it != plain_formats_.end()) return it->second;
    const Result<uint32_t> r = intern_record(CellStyle{}, key);   // an empty style cannot fail
    const uint32_t index = r.ok() ? r.value() : 0;
    plain_formats_.emplace(key, index);
    return index;
}

std::string StyleTable::to_xml() const {
    size_t size = XML_DECLARATION.size() + 200 + CELL_STYLE_XFS.size() + CELL_STYLES.size();
    for (const CustomNumFmt& f : custom_formats_) size += 40 + f.code.size();
    for (const Interner* list : {&fonts_, &fills_, &borders_, &cell_formats_})
        for (std::string_view t : list->texts()) size += t.size();

    std::string out;
    out.reserve(size);
    out += XML_DECLARATION;
    out += "<styleSheet xmlns=\"";
    out += NS_MAIN;
    out += "\">";
    if (!custom_formats_.empty()) {
        out += "<numFmts count=\"";
        push_uint(out, custom_formats_.size());
        out += "\">";
        for (const CustomNumFmt& f : custom_formats_) {
            out += "<numFmt numFmtId=\"";
            push_uint(out, f.id);
            out += "\" formatCode=\"";
            escape_into(out, f.code);
            out += "\"/>";
        }
        out += "</numFmts>";
    }
    push_list(out, "fonts", fonts_.texts());
    push_list(out, "fills", fills_.texts());
    push_list(out, "borders", borders_.texts());
    out += CELL_STYLE_XFS;
    push_list(out, "cellXfs", cell_formats_.texts());
    out += CELL_STYLES;
    out += "</styleSheet>";
    return out;
}

void overlay(CellStyle& base, const CellStyle& over) {
    if (over.font) {
        Font& f = base.font ? *base.font : base.font.emplace();
        const Font& o = *over.font;
        if (o.bold) f.bold = o.bold;
        if (o.italic) f.italic = o.italic;
        if (o.size) f.size = o.size;
        if (o.color) f.color = o.color;
        if (o.name) f.name = o.name;
    }
    if (over.fill) base.fill = over.fill;
    if (over.align) {
        Align& a = base.align ? *base.align : base.align.emplace();
        const Align& o = *over.align;
        if (o.horizontal) a.horizontal = o.horizontal;
        if (o.vertical) a.vertical = o.vertical;
        if (o.wrap) a.wrap = o.wrap;
    }
    if (over.border) {
        Border& b = base.border ? *base.border : base.border.emplace();
        const Border& o = *over.border;
        if (o.top) b.top = o.top;
        if (o.bottom) b.bottom = o.bottom;
        if (o.left) b.left = o.left;
        if (o.right) b.right = o.right;
    }
}

Result<std::string> normalize_color(std::string_view text) {
    std::string out;
    TESSARY_TRY(push_color(out, text));
    return out;
}

Status edge_xml(std::string& out, std::string_view name, const std::optional<BorderEdge>& edge) {
    out += '<';
    out += name;
    if (!edge || !edge->style) {
        out += "/>";
        return Ok{};
    }
    out += " style=\"";
    out += border_word(*edge->style);
    out += "\"><color rgb=\"";
    if (edge->color) {
        TESSARY_TRY(push_color(out, *edge->color));
    } else {
        out += BLACK;
    }
    out += "\"/></";
    out += name;
    out += '>';
    return Ok{};
}

void apply_flag(std::string& out, std::string_view name, bool flag) {
    if (!flag) return;
    out += ' ';
    out += name;
    out += "=\"1\"";
}

void push_list(std::string& out, std::string_view name, std::span<const std::string_view> items) {
    out += '<';
    out += name;
    out += " count=\"";
    push_uint(out, items.size());
    out += "\">";
    for (std::string_view t : items) out += t;
    out += "</";
    out += name;
    out += '>';
}

}  // namespace tessary
