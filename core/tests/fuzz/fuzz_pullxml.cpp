// Fuzz target: the pull tokenizer over any text never crashes or reads out of bounds, makes
// progress on every event, and hands out names and unreplaced values only as slices of its input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "parse/xml.h"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tessary::parse;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto inside = [&](std::string_view s) {
        return s.empty() || (s.data() >= text.data() && s.data() + s.size() <= text.data() + text.size());
    };
    Reader reader(text);
    Event ev;
    size_t last = 0;
    bool first = true;
    while (reader.next(ev)) {
        require(reader.position() <= size);
        require(first || reader.position() > last);
        first = false;
        last = reader.position();
        require(inside(ev.tag.name));
        for (size_t i = 0; i < ev.tag.attr_count(); ++i) {
            const Attr& a = ev.tag.attr_at(i);
            require(inside(a.name));
            require(a.value.is_owned || inside(a.value.view()));
            require(ev.tag.attr(a.name).has_value());
        }
        if (ev.kind == EventKind::Text) require(ev.text.is_owned || inside(ev.text.view()));
    }
    require(!reader.next(ev));
    // unescape and unescape_into agree, and never grow the text (every replacement is shorter
    // than its reference).
    Slice s = unescape(text);
    std::string out;
    unescape_into(out, text);
    require(s.view() == out);
    require(out.size() <= size);
    require(local_name(text).size() <= size);
    return 0;
}
