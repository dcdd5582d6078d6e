// Fuzz target: the DEFLATE decoder must never crash or read out of bounds, and must reach the same
// outcome as the plain canonical reference decoder: the same bytes, or a failure for both.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "../ref_inflate.h"
#include "parse/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr uint64_t LIMIT = 16u << 20;
    using namespace tessary;
    parse::ReadResult<std::string> ours = parse::inflate(std::span<const uint8_t>(data, size), LIMIT);
    std::optional<std::string> ref = testing::ref_inflate(std::vector<uint8_t>(data, data + size), LIMIT);
    if (ours.ok() != ref.has_value()) std::abort();
    if (ours.ok() && ours.value() != *ref) std::abort();
    if (!ours.ok() && ours.error() != parse::ReadError::BadDeflate) std::abort();
    return 0;
}
