// style: the style table (stub; the full implementation follows).
#include "style.h"

namespace tessary {

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
    auto [it, inserted] = index_.emplace(std::string(text), pos);
    texts_.push_back(it->first);
    return pos;
}
std::optional<uint32_t> Interner::find(std::string_view text) const {
    if (auto it = index_.find(text); it != index_.end()) return it->second;
    return std::nullopt;
}

StyleTable::StyleTable() {}
Result<uint32_t> StyleTable::intern_record(const CellStyle&, const NumFmtKey&) { return 0u; }
uint32_t StyleTable::intern_plain(const NumFmtKey&) { return 0; }
std::string StyleTable::to_xml() const { return {}; }
void overlay(CellStyle&, const CellStyle&) {}
Result<std::string> normalize_color(std::string_view) { return std::string("FF000000"); }
Status edge_xml(std::string&, std::string_view, const std::optional<BorderEdge>&) { return Ok{}; }
void apply_flag(std::string&, std::string_view, bool) {}
void push_list(std::string&, std::string_view, std::span<const std::string_view>) {}

}  // namespace tessary
