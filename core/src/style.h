// style: the workbook's de-duplicating table of number formats, fonts, fills, borders and cell
// formats (xf), which renders xl/styles.xml, and the field-by-field style merge of the row renderer.
// Records are identified by their rendered XML text and numbered in first-seen order; the only
// failure is a colour that is not #rrggbb hex (BadColor).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "error.h"
#include "model.h"
#include "numfmt.h"

namespace tessary {

// Hashing of std::string keys that also accepts std::string_view, so lookups build no string.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// An ordered list of texts with a hash index from text to position. Positions start at 0, are
// handed out in first-seen order and never change.
class Interner {
    std::unordered_map<std::string, uint32_t, TextHash, std::equal_to<>> index_;
    std::vector<std::string_view> texts_;   // views of the index's keys, which never move

public:
    Interner() = default;
    Interner(const Interner& other);
    Interner& operator=(const Interner& other);
    Interner(Interner&&) noexcept = default;
    Interner& operator=(Interner&&) noexcept = default;

    // The position of an equal text, or the new position (the size before) after appending a copy.
    uint32_t intern(std::string_view text);
    // The position of an equal text, if listed.
    std::optional<uint32_t> find(std::string_view text) const;
    size_t size() const { return texts_.size(); }
    std::string_view operator[](size_t i) const { return texts_[i]; }
    std::span<const std::string_view> texts() const { return texts_; }
};

// A custom number format of the table: its id (164 and up) and its code.
struct CustomNumFmt {
    uint32_t id;
    std::string code;
};

// The workbook's style table. A new table holds the default font 0, fills 0 (none) and 1
// (gray125), border 0 and cell format 0; it only grows, and indexes stay valid for its life.
class StyleTable {
    Interner fonts_;
    Interner fills_;
    Interner borders_;
    Interner cell_formats_;
    std::vector<CustomNumFmt> custom_formats_;
    std::unordered_map<std::string, uint32_t, TextHash, std::equal_to<>> custom_ids_;
    std::unordered_map<NumFmtKey, uint32_t, NumFmtKeyHash> plain_formats_;
    std::string scratch_;   // the record being rendered; reused so interning allocates only for new texts

    // Styles recently interned, by a hash of their fields: a style equal field for field (and with
    // an equal key) renders the same texts, so its index is known without rendering. Only ever a
    // shortcut: a miss renders and interns as usual.
    struct Recent {
        bool used = false;
        CellStyle style;
        NumFmtKey key;
        uint32_t index = 0;
    };
    static constexpr size_t RECENT_SLOTS = 64;
    std::vector<Recent> recent_;

    Result<uint32_t> render_and_intern(const CellStyle& style, const NumFmtKey& key);

public:
    StyleTable();

    // The style index (xf position) for a style and a number-format key, interning the number
    // format, font, fill, border and cell format on the way. Fails with BadColor "invalid colour
    // {quoted}; expected #rrggbb hex" for a bad font, fill or border colour; what was interned
    // before the failure stays in the table.
    Result<uint32_t> intern_record(const CellStyle& style, const NumFmtKey& key);

    // The style index of an empty style with `key`, through the plain-format map (the row
    // renderer's path for cells whose effective style is empty). Equals intern_record({}, key);
    // cannot fail.
    uint32_t intern_plain(const NumFmtKey& key);

    // The complete text of xl/styles.xml. Rendering does not change the table.
    std::string to_xml() const;

    const Interner& fonts() const { return fonts_; }
    const Interner& fills() const { return fills_; }
    const Interner& borders() const { return borders_; }
    const Interner& cell_formats() const { return cell_formats_; }
    const std::vector<CustomNumFmt>& custom_formats() const { return custom_formats_; }
    const std::unordered_map<NumFmtKey, uint32_t, NumFmtKeyHash>& plain_formats() const {
        return plain_formats_;
    }
    std::unordered_map<NumFmtKey, uint32_t, NumFmtKeyHash>& plain_formats() { return plain_formats_; }
};

// True when the style sets none of font, fill, border and alignment (its cells take the plain path).
inline bool is_empty_style(const CellStyle& style) {
    return !style.font && !style.fill && !style.border && !style.align;
}

// Merges `over` into `base`: every part `over` sets wins, the rest of `base` stays. Font and
// alignment merge field by field, a border edge by edge (each edge whole), a fill whole.
void overlay(CellStyle& base, const CellStyle& over);

// The eight-digit ARGB form "FF" + RRGGBB (upper case) of "#rrggbb" or "rrggbb" in either case;
// anything else fails with BadColor "invalid colour {quoted}; expected #rrggbb hex".
Result<std::string> normalize_color(std::string_view text);

// Appends a border edge element: "<left/>" when the edge is absent or has no style, else
// "<left style=\"thin\"><color rgb=\"FF000000\"/></left>" with the edge's normalized colour
// (black when it has none). Fails with BadColor for a bad edge colour, having appended a part.
Status edge_xml(std::string& out, std::string_view name, const std::optional<BorderEdge>& edge);

// Appends ` {name}="1"` when `flag` is set.
void apply_flag(std::string& out, std::string_view name, bool flag);

// Appends "<{name} count=\"{n}\">", the items in order and "</{name}>".
void push_list(std::string& out, std::string_view name, std::span<const std::string_view> items);

}  // namespace tessary
