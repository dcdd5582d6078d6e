// xml: a minimal pull tokenizer for the SpreadsheetML parts the reader needs. It yields start tags,
// end tags and text in input order and replaces the predefined entities and character references;
// it never validates, tracks nesting, resolves namespaces or fails. Names, reference-free text and
// attribute values are slices of the input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessary::parse {

// A text that is a slice of the input, or an owned copy after references were replaced. The owned
// buffer keeps its capacity when the slice is reused for a later read.
struct Slice {
    std::string_view borrowed;
    std::string owned;
    bool is_owned = false;

    std::string_view view() const { return is_owned ? std::string_view(owned) : borrowed; }
    void set_borrowed(std::string_view text) {
        borrowed = text;
        is_owned = false;
    }
};

// One attribute: the raw qualified name ("r:id") and the value after reference replacement.
struct Attr {
    std::string_view name;
    Slice value;
};

// The part of a qualified name after its prefix: "x:row" gives "row", "row" stays "row".
std::string_view local_name(std::string_view qname);

// A start or empty-element tag. The first four attributes sit in inline slots; the fifth and later
// ones in a list allocated only when needed. Duplicate names all stay, in document order.
class Tag {
public:
    std::string_view name;  // raw, prefix included
    bool self_closing = false;

    size_t attr_count() const { return count_; }
    const Attr& attr_at(size_t i) const { return i < INLINE_ATTRS ? inline_[i] : more_[i - INLINE_ATTRS]; }
    // The value of the first attribute named exactly `name`, or absent.
    std::optional<std::string_view> attr(std::string_view name) const;
    // The value of the first attribute whose local name is `local` (any prefix or none), or absent.
    std::optional<std::string_view> attr_local(std::string_view local) const;
    // The value of the first attribute that has a prefix and the local name `local` ("r:id" for
    // "id"), or absent.
    std::optional<std::string_view> attr_prefixed(std::string_view local) const;

    // Empties the tag, keeping the buffers of its slots; appends a slot and returns it.
    void clear();
    Attr& push_attr();

private:
    static constexpr size_t INLINE_ATTRS = 4;
    std::array<Attr, INLINE_ATTRS> inline_{};
    std::vector<Attr> more_;
    size_t count_ = 0;
};

enum class EventKind { Start, End, Text };

// What one read yields. Start: `tag`. End: the end tag's name in `tag.name` (up to the first
// whitespace, so "</row >" is "row"), no attributes. Text: character data after reference
// replacement, or the content of a CDATA section unchanged, in `text`; nothing is trimmed.
struct Event {
    EventKind kind = EventKind::Text;
    Tag tag;
    Slice text;
};

// The tokenizer over the text of one part (UTF-8); it holds only the text and a position. Comments
// end at "-->", processing instructions and the declaration at "?>", a DOCTYPE at its ">" (after any
// internal subset); all three yield nothing. Markup cut off by the end of the input ends there.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    // Fills `ev` with the next event and returns true, or returns false at the end of the input
    // (and on every later call). Reusing one Event across reads reuses its buffers.
    bool next(Event& ev);
    // The next event, or absent at the end of the input.
    std::optional<Event> read();

    size_t position() const { return pos_; }

private:
    std::string_view text_;
    size_t pos_ = 0;
};

// Replaces the references in `text` ("&lt;" "&gt;" "&amp;" "&quot;" "&apos;", "&#65;", "&#x41;"):
// `out` borrows `text` when it holds no "&", otherwise owns the replaced text. A reference that is
// not one of those, or names no Unicode scalar value, stays as written.
void unescape_to(Slice& out, std::string_view text);
Slice unescape(std::string_view text);

// Appends `text` with its references replaced to `out`.
void unescape_into(std::string& out, std::string_view text);

}  // namespace tessary::parse
