// inflate: DEFLATE (RFC 1951) decoding of one whole member. Each block's codes are turned into lookup
// tables indexed by the next input bits; a code longer than the table, or a bit pattern the table
// does not resolve, is decoded canonically one bit at a time. Both paths give the same symbol.
#include "parse/inflate.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tessary::parse {

namespace {

static_assert(std::endian::native == std::endian::little, "the bit reader loads little-endian words");

// Length and distance symbols: base values and extra bits (RFC 1951 3.2.5).
constexpr uint16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t DIST_BASE[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
constexpr uint8_t DIST_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which the code-length code lengths are stored (RFC 1951 3.2.7).
constexpr uint8_t CODELEN_ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr size_t MAX_MATCH = 258;
// Room kept after the output position on the fast path: one whole match plus the over-copy of the
// eight-byte match loop.
constexpr size_t FAST_MARGIN = MAX_MATCH + 16;
constexpr size_t INITIAL_CAPACITY_CAP = 64u << 20;
constexpr unsigned END_OF_BLOCK = 256;

constexpr ReadError BAD = ReadError::BadDeflate;

unsigned reverse_bits(unsigned code, int n) {
    unsigned r = 0;
    for (int i = 0; i < n; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

// Decodes one symbol canonically from `bits` (next input bit least significant, at least 15 bits
// valid): the code's bits are read most significant first against the counts of each length.
// Returns false when no code of up to 15 bits matches.
inline bool decode_canonical(const Huff& h, uint64_t bits, unsigned& length, unsigned& symbol) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= MAX_CODE_BITS; ++len) {
        code |= static_cast<int>(bits & 1);
        bits >>= 1;
        const int count = h.count[len];
        if (code - first < count) {
            symbol = h.symbol[index + (code - first)];
            length = static_cast<unsigned>(len);
            return true;
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return false;
}

// The input bits of one member: a 64-bit buffer, least significant bit next. Past the end of the
// input the buffer is filled with zero bytes that are counted in `overrun`; a read that consumed any
// of them has run out of input.
struct BitReader {
    const uint8_t* begin;
    const uint8_t* next;
    const uint8_t* end;
    uint64_t buf = 0;
    unsigned count = 0;
    size_t overrun = 0;

    // Tops the buffer up to at least 56 bits.
    void refill() {
        if (end - next >= 8) {
            uint64_t word;
            std::memcpy(&word, next, 8);
            buf |= word << count;
            next += (63 - count) >> 3;
            count |= 56;
        } else {
            while (count < 56) {
                uint64_t byte = 0;
                if (next < end)
                    byte = *next++;
                else
                    ++overrun;
                buf |= byte << count;
                count += 8;
            }
        }
    }
    uint32_t bits(unsigned n) const { return static_cast<uint32_t>(buf & ((uint64_t{1} << n) - 1)); }
    void drop(unsigned n) {
        buf >>= n;
        count -= n;
    }
    uint32_t take(unsigned n) {
        uint32_t v = bits(n);
        drop(n);
        return v;
    }
    bool overran() const { return overrun * 8 > count; }
};

// Decodes one symbol; the buffer must hold at least 15 bits.
inline bool decode_symbol(const Huff& h, BitReader& in, unsigned& symbol) {
    const uint32_t e = h.table[in.buf & ((1u << h.table_bits) - 1)];
    unsigned length = e & 0xFFFF;
    if (length != 0) {
        symbol = e >> 16;
    } else if (!decode_canonical(h, in.buf, length, symbol)) {
        return false;
    }
    in.drop(length);
    return true;
}

// The output of one member: a buffer sized ahead of the write position `pos`, cut to `pos` at the
// end. Bytes past `pos` are scratch.
struct Output {
    std::string& buf;
    uint64_t limit;
    size_t in_size;  // the member's compressed size, for predicting its output size
    size_t pos = 0;

    // Makes room for `n` more bytes plus the fast-path margin, `consumed` input bytes in; fails past
    // the limit. The new size follows the compression ratio so far (the output is predicted from the
    // input that is left), growing at least by a quarter and at most fourfold, and never past what
    // the limit can still use.
    bool reserve(size_t n, size_t consumed) {
        if (pos + n > limit) return false;
        if (buf.size() - pos >= n + FAST_MARGIN) return true;
        const double ratio = static_cast<double>(pos) / static_cast<double>(std::max<size_t>(consumed, 1));
        const double predicted = ratio * static_cast<double>(in_size) * 1.0625 + 65536.0;
        const double size = static_cast<double>(std::max<size_t>(buf.size(), 4096));
        const double grown = std::clamp(predicted, size * 1.25, size * 4.0);
        size_t want = static_cast<size_t>(std::min(grown, static_cast<double>(limit + FAST_MARGIN)));
        want = std::max(want, pos + n + FAST_MARGIN);
        buf.resize(want);
        return true;
    }
};

// Copies a match of `length` bytes from `distance` bytes back; overlapping copies repeat bytes. May
// write up to 15 bytes past the match (the output keeps FAST_MARGIN bytes of room).
inline void copy_match(char* dst, size_t distance, size_t length) {
    const char* src = dst - distance;
    char* const stop = dst + length;
    if (distance >= 16) {
        do {
            std::memcpy(dst, src, 16);
            dst += 16;
            src += 16;
        } while (dst < stop);
    } else if (distance >= 8) {
        do {
            std::memcpy(dst, src, 8);
            dst += 8;
            src += 8;
        } while (dst < stop);
    } else if (distance == 1) {
        std::memset(dst, *src, length);
    } else {
        // A short period: write the first whole periods covering eight bytes one byte at a time,
        // then copy eight bytes at a time from that many periods back.
        const size_t period = distance * ((8 + distance - 1) / distance);
        const size_t head = std::min(length, period);
        for (size_t i = 0; i < head; ++i) dst[i] = src[i];
        dst += head;
        src = dst - period;
        while (dst < stop) {
            std::memcpy(dst, src, 8);
            dst += 8;
            src += 8;
        }
    }
}

const Huff& fixed_litlen() {
    static const Huff h = [] {
        uint8_t lengths[288];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        return Huff::build(lengths, LITLEN_TABLE_BITS);
    }();
    return h;
}

const Huff& fixed_dist() {
    static const Huff h = [] {
        uint8_t lengths[30];
        std::fill(lengths, lengths + 30, 5);
        return Huff::build(lengths, DIST_TABLE_BITS);
    }();
    return h;
}

// Decodes one block's compressed data up to and including its end-of-block symbol. The bit reader
// and the output position live in locals for the loop (stores of output bytes would otherwise force
// them back to memory), and go back to `in` and `out` on every exit.
ReadStatus huffman_block(BitReader& in, Output& out, const Huff& litlen, const Huff& dist) {
    BitReader b = in;
    size_t pos = out.pos;
    char* base = out.buf.data();
    const uint32_t* const lt = litlen.table.data();
    const uint32_t litlen_mask = (1u << litlen.table_bits) - 1;
    // The fast path runs while the output has room for a whole match (with the over-copy) and a
    // match cannot pass the limit; `fast_until` is the last position where that holds (-1: none).
    const auto fast_until = [&]() -> int64_t {
        if (out.limit < MAX_MATCH) return -1;
        const uint64_t room = out.buf.size() - FAST_MARGIN;
        return static_cast<int64_t>(std::min<uint64_t>(room, out.limit - MAX_MATCH));
    };
    int64_t fast_end = fast_until();
    const auto consumed = [&] { return static_cast<size_t>(b.next - b.begin); };
    bool ended = false;
    for (;;) {
        // Fast path: at least 16 input bytes, so that the refill loads a whole word and no read of
        // this round can reach the end of the input.
        const bool fast = b.end - b.next >= 16 && static_cast<int64_t>(pos) <= fast_end;
        b.refill();
        uint32_t e = lt[b.buf & litlen_mask];
        // A table entry is symbol << 16 | length; literals are the entries 1 to 0xFFFFFF.
        if (fast && e - 1 < 0xFFFFFFu) {
            // Up to three literals from one refill (3 x 15 bits).
            b.drop(e & 0xFF);
            base[pos++] = static_cast<char>(e >> 16);
            e = lt[b.buf & litlen_mask];
            if (e - 1 < 0xFFFFFFu) {
                b.drop(e & 0xFF);
                base[pos++] = static_cast<char>(e >> 16);
                e = lt[b.buf & litlen_mask];
                if (e - 1 < 0xFFFFFFu) {
                    b.drop(e & 0xFF);
                    base[pos++] = static_cast<char>(e >> 16);
                }
            }
            continue;
        }
        unsigned sym;
        if (e & 0xFF) {
            sym = e >> 16;
            b.drop(e & 0xFF);
        } else {
            unsigned length;
            if (!decode_canonical(litlen, b.buf, length, sym)) break;
            b.drop(length);
        }
        if (sym < 256) {
            out.pos = pos;
            if (b.overran() || !out.reserve(1, consumed())) break;
            base = out.buf.data();
            fast_end = fast_until();
            base[pos++] = static_cast<char>(sym);
            continue;
        }
        if (sym == END_OF_BLOCK) {
            ended = !b.overran();
            break;
        }
        if (sym > 285) break;
        // Length: base plus extra bits (at most 5), then the distance code and its extra bits (at
        // most 15 + 13); the 56 bits of one refill cover all four.
        const unsigned li = sym - 257;
        const size_t length = LENGTH_BASE[li] + b.take(LENGTH_EXTRA[li]);
        unsigned dsym;
        if (!decode_symbol(dist, b, dsym) || dsym >= 30) break;
        const size_t distance = DIST_BASE[dsym] + b.take(DIST_EXTRA[dsym]);
        if (!fast) {
            out.pos = pos;
            if (b.overran() || !out.reserve(length, consumed())) break;
            base = out.buf.data();
            fast_end = fast_until();
        }
        if (distance > pos) break;
        copy_match(base + pos, distance, length);
        pos += length;
    }
    in = b;
    out.pos = pos;
    if (!ended) return BAD;
    return Ok{};
}

// Stored block: skip to a byte boundary, LEN, then NLEN, which is not compared with LEN (RFC 1951
// 3.2.4); LEN bytes follow and LEN may be 0.
ReadStatus stored_block(BitReader& in, Output& out) {
    in.drop(in.count & 7);
    in.refill();
    const uint32_t len = in.take(16);
    in.drop(16);  // NLEN
    if (in.overran()) return BAD;
    // Give the whole bytes still in the buffer back to the input.
    in.next -= in.count / 8 - in.overrun;
    in.buf = 0;
    in.count = 0;
    in.overrun = 0;
    if (static_cast<size_t>(in.end - in.next) < len) return BAD;
    if (!out.reserve(len, static_cast<size_t>(in.next - in.begin))) return BAD;
    std::memcpy(out.buf.data() + out.pos, in.next, len);
    out.pos += len;
    in.next += len;
    return Ok{};
}

// Dynamic block header (RFC 1951 3.2.7): the code-length code, then the literal/length and
// distance code lengths it encodes, run-length coded by symbols 16, 17 and 18.
ReadStatus dynamic_tables(BitReader& in, Huff& litlen, Huff& dist, Huff& codelen) {
    in.refill();
    const unsigned hlit = in.take(5) + 257;  // HLIT: 5 bits
    const unsigned hdist = in.take(5) + 1;   // HDIST: 5 bits
    const unsigned hclen = in.take(4) + 4;   // HCLEN: 4 bits
    uint8_t cl_lengths[19] = {};
    for (unsigned i = 0; i < hclen; ++i) {
        if (in.count < 3) in.refill();
        cl_lengths[CODELEN_ORDER[i]] = static_cast<uint8_t>(in.take(3));
    }
    if (in.overran()) return BAD;
    codelen.rebuild(cl_lengths, CODELEN_TABLE_BITS);

    uint8_t lengths[MAX_CODE_SYMBOLS];
    const unsigned total = hlit + hdist;
    unsigned n = 0;
    while (n < total) {
        in.refill();
        unsigned sym;
        if (!decode_symbol(codelen, in, sym)) return BAD;
        if (sym < 16) {
            lengths[n++] = static_cast<uint8_t>(sym);
            continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (sym == 16) {
            // Repeat the previous length, which may lie in the literal/length part.
            if (n == 0) return BAD;
            value = lengths[n - 1];
            repeat = 3 + in.take(2);
        } else if (sym == 17) {
            repeat = 3 + in.take(3);
        } else {
            repeat = 11 + in.take(7);
        }
        // A run may overshoot HLIT + HDIST; the surplus joins the distance lengths.
        std::memset(lengths + n, value, repeat);
        n += repeat;
    }
    if (in.overran()) return BAD;
    litlen.rebuild(std::span<const uint8_t>(lengths, hlit), LITLEN_TABLE_BITS);
    dist.rebuild(std::span<const uint8_t>(lengths + hlit, n - hlit), DIST_TABLE_BITS);
    return Ok{};
}

}  // namespace

void Huff::rebuild(std::span<const uint8_t> lengths, int bits) {
    table_bits = std::clamp(bits, 1, LITLEN_TABLE_BITS);
    const size_t n = std::min(lengths.size(), MAX_CODE_SYMBOLS);
    count.fill(0);
    for (size_t s = 0; s < n; ++s) ++count[std::min<unsigned>(lengths[s], MAX_CODE_BITS)];
    count[0] = 0;
    // Offsets of the first symbol of each length, then the symbols in canonical order.
    uint16_t offset[MAX_CODE_BITS + 2];
    offset[1] = 0;
    for (int len = 1; len <= MAX_CODE_BITS; ++len) offset[len + 1] = offset[len] + count[len];
    for (size_t s = 0; s < n; ++s) {
        const unsigned len = std::min<unsigned>(lengths[s], MAX_CODE_BITS);
        if (len != 0) symbol[offset[len]++] = static_cast<uint16_t>(s);
    }
    // Table entries for the codes of up to table_bits bits, in canonical order: the codes of one
    // length are consecutive, starting at twice the end of the previous length's codes. A code that
    // does not fit its length (an over-subscribed set) can never be read, nor can any longer code.
    const size_t size = size_t{1} << table_bits;
    std::fill(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(size), 0);
    unsigned first = 0, index = 0;
    for (int len = 1; len <= table_bits; ++len) {
        const unsigned c = count[len];
        for (unsigned k = 0; k < c; ++k) {
            const unsigned code = first + k;
            if (code >= (1u << len)) break;
            const uint32_t entry = (uint32_t{symbol[index + k]} << 16) | static_cast<uint32_t>(len);
            for (size_t r = reverse_bits(code, len); r < size; r += size_t{1} << len) table[r] = entry;
        }
        index += c;
        first = (first + c) << 1;
    }
}

Huff Huff::build(std::span<const uint8_t> lengths, int bits) {
    Huff h;
    h.rebuild(lengths, bits);
    return h;
}

ReadStatus inflate_into(std::string& out, std::span<const uint8_t> in, uint64_t max_output) {
    out.clear();
    const size_t initial = std::min<size_t>(std::min<size_t>(in.size(), INITIAL_CAPACITY_CAP / 8) * 8,
                                            INITIAL_CAPACITY_CAP);
    out.resize(std::max<size_t>(std::min<uint64_t>(initial, max_output), FAST_MARGIN));
    Output o{out, max_output, in.size()};
    BitReader bits{in.data(), in.data(), in.data() + in.size()};
    Huff litlen, dist, codelen;
    bool final_block = false;
    ReadStatus status = Ok{};
    while (!final_block && status.ok()) {
        bits.refill();
        final_block = bits.take(1) != 0;  // BFINAL: 1 bit
        const unsigned type = bits.take(2);  // BTYPE: 2 bits
        if (bits.overran()) {
            status = BAD;
        } else if (type == 0) {
            status = stored_block(bits, o);
        } else if (type == 1) {
            status = huffman_block(bits, o, fixed_litlen(), fixed_dist());
        } else if (type == 2) {
            status = dynamic_tables(bits, litlen, dist, codelen);
            if (status.ok()) status = huffman_block(bits, o, litlen, dist);
        } else {
            status = BAD;
        }
    }
    if (!status.ok()) {
        out.clear();
        out.shrink_to_fit();
        return status;
    }
    out.resize(o.pos);
    return Ok{};
}

ReadResult<std::string> inflate(std::span<const uint8_t> in, uint64_t max_output) {
    std::string out;
    ReadStatus status = inflate_into(out, in, max_output);
    if (!status.ok()) return status.error();
    return out;
}

}  // namespace tessary::parse
