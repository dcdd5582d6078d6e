// Fuzz target: extracting any bytes as a package never crashes, hangs or reads out of bounds; a
// success gives valid UTF-8 names.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "parse/unzip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tessary::parse;
    ReadResult<std::vector<Entry>> r = extract(std::span<const uint8_t>(data, size));
    if (!r.ok()) {
        if (r.error() == ReadError::NotXlsx) std::abort();
        return 0;
    }
    for (const Entry& e : r.value())
        if (!valid_utf8(e.name)) std::abort();
    if (!r.value().empty() && find_entry(r.value(), r.value().back().name) == nullptr) std::abort();
    return 0;
}
