// inflate: DEFLATE (RFC 1951) decoding of one whole member through per-block lookup tables built
// from the canonical code lengths. It is lenient where the format allows a decoder to be (NLEN is not
// compared with LEN, over-subscribed and incomplete codes are accepted, input after the final block
// is ignored); any malformed stream is ReadError::BadDeflate.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "parse/unzip.h"

namespace tessary::parse {

constexpr int MAX_CODE_BITS = 15;
// Literal/length symbols (288) plus distance symbols (32) plus the longest run of a code-length
// repeat (138) that may overshoot them in a dynamic block header.
constexpr size_t MAX_CODE_SYMBOLS = 288 + 32 + 138;
// The largest member the classic ZIP format can describe.
constexpr uint64_t MAX_MEMBER_SIZE = 0xFFFFFFFFu;
// Bits resolved by one lookup in a decoding table; longer codes take the canonical path.
constexpr int LITLEN_TABLE_BITS = 11;
constexpr int DIST_TABLE_BITS = 10;
constexpr int CODELEN_TABLE_BITS = 7;

// A canonical Huffman code (RFC 1951 3.2.2) and its decoding table.
struct Huff {
    // count[n]: the number of codes of length n (count[0] is 0).
    std::array<uint16_t, MAX_CODE_BITS + 1> count{};
    // The symbols that have a code, by code length and, within one length, by symbol value.
    std::array<uint16_t, MAX_CODE_SYMBOLS> symbol{};
    // table[b]: for the next `table_bits` input bits b (first bit least significant), the symbol
    // (high 16 bits) and its code length (low 16 bits); length 0 means "longer than table_bits, or
    // no code": decode canonically.
    std::array<uint32_t, 1u << LITLEN_TABLE_BITS> table{};
    int table_bits = 0;

    // Builds the code of `lengths` (one per symbol, 0 = unused, each at most 15; symbols past
    // MAX_CODE_SYMBOLS are ignored) with a table of `table_bits` bits (at most LITLEN_TABLE_BITS).
    // Over-subscribed and incomplete codes are kept as given: a bit pattern that matches no code fails
    // when it is decoded.
    static Huff build(std::span<const uint8_t> lengths, int table_bits = LITLEN_TABLE_BITS);
    // As build, in place (a Huff is some kilobytes: the decoder keeps three and rebuilds them).
    void rebuild(std::span<const uint8_t> lengths, int table_bits);
};

// The uncompressed bytes of the whole DEFLATE stream `in`, or BadDeflate; the stream ends with the
// block that has BFINAL set and anything after it is ignored. Output beyond `max_output` bytes fails.
ReadResult<std::string> inflate(std::span<const uint8_t> in, uint64_t max_output = MAX_MEMBER_SIZE);

// As inflate, appending to `out` (which must be empty: there is no preset dictionary).
ReadStatus inflate_into(std::string& out, std::span<const uint8_t> in,
                        uint64_t max_output = MAX_MEMBER_SIZE);

}  // namespace tessary::parse
