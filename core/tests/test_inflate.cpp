// Tests of the DEFLATE decoder: hand-built streams with exact outcomes, the canonical code layout,
// and agreement with a plain canonical bit-at-a-time decoder and with zlib over many streams (zlib
// at every level and strategy, and corrupted variants of them).
#include <gtest/gtest.h>
#include <zlib.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "helpers.h"
#include "parse/inflate.h"
#include "ref_inflate.h"

namespace tessary::parse {
namespace {

using tessary::testing::ref_inflate;

std::optional<std::string> our_inflate(const std::vector<uint8_t>& in, uint64_t max_output = MAX_MEMBER_SIZE) {
    // The input sits at the very end of its own block so that an overread faults under ASan.
    std::vector<uint8_t> copy(in);
    ReadResult<std::string> r = inflate(std::span<const uint8_t>(copy.data(), copy.size()), max_output);
    if (!r.ok()) {
        EXPECT_EQ(r.error(), ReadError::BadDeflate);
        return std::nullopt;
    }
    return std::move(r.value());
}

// ---- Hand-built streams ---------------------------------------------------------------------------

// Writes bits least significant first; Huffman codes go most significant bit first.
class BitWriter {
public:
    BitWriter& put(uint32_t value, int n) {
        for (int i = 0; i < n; ++i) bit((value >> i) & 1);
        return *this;
    }
    BitWriter& code(uint32_t code, int len) {
        for (int i = len - 1; i >= 0; --i) bit((code >> i) & 1);
        return *this;
    }
    BitWriter& align() {
        while (n_ % 8) bit(0);
        return *this;
    }
    BitWriter& bytes(std::string_view s) {
        align();
        for (char c : s) put(static_cast<uint8_t>(c), 8);
        return *this;
    }
    std::vector<uint8_t> done() const { return out_; }

private:
    void bit(uint32_t b) {
        if (n_ % 8 == 0) out_.push_back(0);
        out_.back() |= static_cast<uint8_t>(b << (n_ % 8));
        ++n_;
    }
    std::vector<uint8_t> out_;
    size_t n_ = 0;
};

// Fixed literal/length codes (RFC 1951 3.2.6).
void fixed_lit(BitWriter& w, unsigned sym) {
    if (sym < 144)
        w.code(0x30 + sym, 8);
    else if (sym < 256)
        w.code(0x190 + sym - 144, 9);
    else if (sym < 280)
        w.code(sym - 256, 7);
    else
        w.code(0xC0 + sym - 280, 8);
}
void fixed_text(BitWriter& w, std::string_view s) {
    for (char c : s) fixed_lit(w, static_cast<uint8_t>(c));
}

// A dynamic block header whose code-length code gives every one of the 19 symbols 5 bits (an
// incomplete code, which the decoder accepts), followed by `symbols` written with it.
void dynamic_header(BitWriter& w, unsigned hlit, unsigned hdist, const std::vector<unsigned>& symbols) {
    w.put(hlit - 257, 5).put(hdist - 1, 5).put(19 - 4, 4);
    for (int i = 0; i < 19; ++i) w.put(5, 3);
    // With all lengths 5, symbol s has the code s (canonical order is symbol order).
    for (unsigned s : symbols) w.code(s, 5);
}

struct Stream {
    const char* what;
    std::vector<uint8_t> bytes;
    std::optional<std::string> want;  // absent: BadDeflate
};

std::vector<Stream> hand_built() {
    std::vector<Stream> v;
    {
        // Stored, then fixed, then dynamic: the output is the three contents in order.
        BitWriter w;
        w.put(0, 1).put(0, 2);                  // BFINAL 0, BTYPE 00
        w.align().put(3, 16).put(0xFFFC, 16);   // LEN 3, NLEN
        w.bytes("abc");
        w.put(0, 1).put(1, 2);                  // BFINAL 0, BTYPE 01
        fixed_text(w, "de");
        fixed_lit(w, 256);
        w.put(1, 1).put(2, 2);                  // BFINAL 1, BTYPE 10
        // Code lengths: 102 zeros, 'f' (102) = 1, 153 zeros, 256 = 1, then one distance length 1.
        w.put(257 - 257, 5).put(1 - 1, 5).put(19 - 4, 4);
        for (int i = 0; i < 19; ++i) w.put(5, 3);
        w.code(18, 5).put(102 - 11, 7);   // 102 zeros
        w.code(1, 5);                     // 'f': 1
        w.code(18, 5).put(138 - 11, 7);   // 138 zeros
        w.code(18, 5).put(15 - 11, 7);    // 15 zeros: symbols 103..255 done
        w.code(1, 5);                     // 256: 1
        w.code(1, 5);                     // distance 0: 1
        w.code(0, 1).code(0, 1).code(1, 1);  // f f end-of-block
        v.push_back({"stored, fixed and dynamic blocks in sequence", w.done(), "abcdeff"});
    }
    {
        BitWriter w;
        w.put(1, 1).put(2, 2);
        w.put(0, 5).put(0, 5).put(15, 4);
        for (int i = 0; i < 19; ++i) w.put(5, 3);
        w.code(16, 5).put(0, 2);  // repeat with no previous length
        v.push_back({"dynamic block whose first code-length symbol is 16", w.done(), std::nullopt});
    }
    {
        // "abc" then a match of length 3 at distance 3: back to the very first byte.
        BitWriter w;
        w.put(1, 1).put(1, 2);
        fixed_text(w, "abc");
        fixed_lit(w, 257);   // length 3
        w.code(2, 5);        // distance code 2: distance 3
        fixed_lit(w, 256);
        v.push_back({"match reaching back to the first byte", w.done(), "abcabc"});
    }
    {
        BitWriter w;
        w.put(1, 1).put(1, 2);
        fixed_text(w, "abc");
        fixed_lit(w, 257);
        w.code(3, 5);        // distance 4: one byte before the output
        fixed_lit(w, 256);
        v.push_back({"match reaching one byte before the output", w.done(), std::nullopt});
    }
    {
        BitWriter w;
        w.put(1, 1).put(1, 2);
        fixed_text(w, "x");
        fixed_lit(w, 285);   // length 258
        w.code(0, 5);        // distance 1
        fixed_lit(w, 256);
        v.push_back({"distance 1, length 258", w.done(), std::string(259, 'x')});
    }
    {
        BitWriter w;
        w.put(1, 1).put(1, 2);
        fixed_text(w, "x");
        fixed_lit(w, 284);   // length 227 + 5 extra bits
        w.put(31, 5);        // 258 through the extra bits of 284
        w.code(0, 5);
        fixed_lit(w, 256);
        v.push_back({"length 258 written as 284 with extra 31", w.done(), std::string(259, 'x')});
    }
    for (unsigned d : {30u, 31u}) {
        BitWriter w;
        w.put(1, 1).put(1, 2);
        fixed_text(w, "x");
        fixed_lit(w, 257);
        w.code(d, 5);
        fixed_lit(w, 256);
        v.push_back({"fixed distance code 30 or 31", w.done(), std::nullopt});
    }
    for (unsigned s : {286u, 287u}) {
        BitWriter w;
        w.put(1, 1).put(1, 2);
        fixed_text(w, "x");
        fixed_lit(w, s);
        w.code(0, 5);
        fixed_lit(w, 256);
        v.push_back({"fixed literal/length symbol 286 or 287", w.done(), std::nullopt});
    }
    {
        BitWriter w;
        w.put(1, 1).put(3, 2);
        v.push_back({"block type 3", w.done(), std::nullopt});
    }
    v.push_back({"empty input", {}, std::nullopt});
    {
        BitWriter w;
        w.put(1, 1).put(0, 2).align().put(2, 16).put(0x1234, 16).bytes("hi");
        v.push_back({"stored block with NLEN not the complement of LEN", w.done(), "hi"});
    }
    {
        BitWriter w;
        w.put(1, 1).put(0, 2).align().put(0, 16).put(0xFFFF, 16);
        v.push_back({"stored block of length 0", w.done(), ""});
    }
    {
        BitWriter w;
        w.put(1, 1).put(0, 2).align().put(5, 16).put(0xFFFA, 16).bytes("four");
        v.push_back({"stored block cut short", w.done(), std::nullopt});
    }
    {
        BitWriter w;
        w.put(1, 1).put(0, 2).align().put(5, 16);
        v.push_back({"stored block without NLEN", w.done(), std::nullopt});
    }
    {
        BitWriter w;
        w.put(1, 1).put(1, 2);
        fixed_text(w, "end");
        fixed_lit(w, 256);
        w.bytes("trailing garbage \xff\xff");
        v.push_back({"input after the final block", w.done(), "end"});
    }
    {
        BitWriter w;
        w.put(0, 1).put(1, 2);
        fixed_text(w, "a");
        fixed_lit(w, 256);
        v.push_back({"no final block", w.done(), std::nullopt});
    }
    {
        BitWriter w;
        w.put(1, 1).put(1, 2);
        fixed_text(w, "abc");
        v.push_back({"no end-of-block symbol", w.done(), std::nullopt});
    }
    {
        // Over-subscribed literal/length code: symbols 'a', 'b' and 256 all of length 1. Codes 0
        // and 1 decode to 'a' and 'b'; 256 can never be read, so the block cannot end.
        BitWriter w;
        w.put(1, 1).put(2, 2);
        w.put(0, 5).put(0, 5).put(15, 4);
        for (int i = 0; i < 19; ++i) w.put(5, 3);
        w.code(18, 5).put(97 - 11, 7);
        w.code(1, 5).code(1, 5);          // 'a', 'b'
        w.code(18, 5).put(138 - 11, 7);
        w.code(18, 5).put(19 - 11, 7);    // up to 255
        w.code(1, 5);                     // 256
        w.code(1, 5);                     // distance 0
        w.code(0, 1).code(1, 1).code(0, 1);
        v.push_back({"over-subscribed code: the unreachable end of block", w.done(), std::nullopt});
    }
    {
        // Over-subscribed at length 2 with a reachable end: 256 = 1 bit and 'a', 'b', 'c' = 2 bits
        // give 256 = 0, a = 10, b = 11, and 'c' can never be read.
        BitWriter w;
        w.put(1, 1).put(2, 2);
        w.put(0, 5).put(0, 5).put(15, 4);
        for (int i = 0; i < 19; ++i) w.put(5, 3);
        w.code(18, 5).put(97 - 11, 7);
        w.code(2, 5).code(2, 5).code(2, 5);  // 'a' 'b' 'c': 2
        w.code(18, 5).put(138 - 11, 7);
        w.code(18, 5).put(18 - 11, 7);       // up to 255
        w.code(1, 5);                        // 256: 1
        w.code(1, 5);                        // distance 0: 1
        w.code(2, 2).code(3, 2).code(2, 2).code(0, 1);  // a b a end
        v.push_back({"over-subscribed code decoded canonically", w.done(), "aba"});
    }
    {
        // A run of zeros overshooting HLIT + HDIST: its surplus joins the distance lengths.
        BitWriter w;
        w.put(1, 1).put(2, 2);
        w.put(0, 5).put(0, 5).put(15, 4);    // HLIT 257, HDIST 1
        for (int i = 0; i < 19; ++i) w.put(5, 3);
        w.code(18, 5).put(97 - 11, 7);
        w.code(1, 5);                        // 'a': 1
        w.code(18, 5).put(138 - 11, 7);
        w.code(18, 5).put(20 - 11, 7);       // up to 255
        w.code(1, 5);                        // 256: 1
        w.code(1, 5);                        // distance 0: 1 (HLIT + HDIST reached at 258)
        w.code(0, 1).code(0, 1).code(1, 1);
        v.push_back({"lengths exactly HLIT + HDIST", w.done(), "aa"});
    }
    {
        BitWriter w;
        w.put(1, 1).put(2, 2);
        w.put(0, 5).put(0, 5).put(15, 4);    // HLIT 257, HDIST 1
        for (int i = 0; i < 19; ++i) w.put(5, 3);
        w.code(18, 5).put(97 - 11, 7);
        w.code(1, 5);                        // 'a': 1
        w.code(18, 5).put(138 - 11, 7);
        w.code(18, 5).put(20 - 11, 7);
        w.code(1, 5);                        // 256: 1
        w.code(16, 5).put(3, 2);             // six more 1s: the distance code gets 6 lengths
        w.code(0, 1);                        // 'a'
        w.code(1, 1);                        // 256 (literal/length code: a=0, 256=1)
        v.push_back({"a repeat overshooting HLIT + HDIST", w.done(), "a"});
    }
    return v;
}

TEST(Inflate, HandBuiltStreams) {
    for (const Stream& s : hand_built()) {
        std::optional<std::string> got = our_inflate(s.bytes);
        EXPECT_EQ(got, s.want) << s.what;
        EXPECT_EQ(ref_inflate(s.bytes), s.want) << "reference decoder: " << s.what;
    }
}

// Writes a length/distance pair with the fixed codes.
void fixed_match(BitWriter& w, unsigned length, unsigned distance) {
    static const unsigned LBASE[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const unsigned LEXT[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    static const unsigned DBASE[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                     33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                     1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    static const unsigned DEXT[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
    unsigned li = 28;
    while (LBASE[li] > length) --li;
    fixed_lit(w, 257 + li);
    w.put(length - LBASE[li], static_cast<int>(LEXT[li]));
    unsigned di = 29;
    while (DBASE[di] > distance) --di;
    w.code(di, 5);
    w.put(distance - DBASE[di], static_cast<int>(DEXT[di]));
}

TEST(Inflate, MatchCopiesRepeatEveryPeriod) {
    // Every short distance (the pattern copies) and some long ones, with lengths around the eight-
    // and sixteen-byte copy steps; two matches in a row so that the over-copy of the first is
    // overwritten correctly by the second.
    const unsigned lengths[] = {3, 7, 8, 9, 15, 16, 17, 31, 100, 257, 258};
    for (unsigned distance = 1; distance <= 40; ++distance) {
        for (unsigned length : lengths) {
            std::string want;
            for (unsigned i = 0; i < distance; ++i) want += static_cast<char>('a' + i % 26 + (i / 26));
            BitWriter w;
            w.put(1, 1).put(1, 2);
            fixed_text(w, want);
            for (int twice = 0; twice < 2; ++twice) {
                fixed_match(w, length, distance);
                for (unsigned i = 0; i < length; ++i) want += want[want.size() - distance];
            }
            fixed_text(w, "!");
            want += '!';
            fixed_lit(w, 256);
            // Without and with ignored bytes after the stream: near the end of the input the
            // decoder takes its careful path, further from it the fast one.
            for (int padded = 0; padded < 2; ++padded) {
                if (padded) w.bytes(std::string(32, '\0'));
                const std::vector<uint8_t> s = w.done();
                ASSERT_EQ(our_inflate(s), want) << "distance " << distance << " length " << length;
                ASSERT_EQ(ref_inflate(s), want) << "distance " << distance << " length " << length;
            }
        }
    }
}

TEST(Inflate, OutputLimit) {
    // 1 literal + 40 matches of 258: 10321 bytes.
    BitWriter w;
    w.put(1, 1).put(1, 2);
    fixed_text(w, "z");
    for (int i = 0; i < 40; ++i) {
        fixed_lit(w, 285);
        w.code(0, 5);
    }
    fixed_lit(w, 256);
    const std::vector<uint8_t> s = w.done();
    struct Case { uint64_t limit; bool ok; };
    const Case cases[] = {{10321, true}, {10320, false}, {100000, true}, {1, false}, {0, false}};
    for (const Case& c : cases) {
        std::optional<std::string> got = our_inflate(s, c.limit);
        EXPECT_EQ(got.has_value(), c.ok) << "limit " << c.limit;
        if (got) {
            EXPECT_EQ(*got, std::string(10321, 'z'));
        }
    }
    // A stored block over the limit.
    BitWriter st;
    st.put(1, 1).put(0, 2).align().put(4, 16).put(0, 16).bytes("abcd");
    EXPECT_FALSE(our_inflate(st.done(), 3).has_value());
    EXPECT_EQ(our_inflate(st.done(), 4), "abcd");
}

TEST(HuffBuild, CanonicalLayout) {
    // RFC 1951 3.2.2: lengths (3, 3, 3, 3, 3, 2, 4, 4) for symbols A..H.
    const uint8_t lengths[] = {3, 3, 3, 3, 3, 2, 4, 4};
    Huff h = Huff::build(lengths, 4);
    const uint16_t want_count[16] = {0, 0, 1, 5, 2};
    for (int l = 0; l < 16; ++l) EXPECT_EQ(h.count[l], want_count[l]) << "length " << l;
    const uint16_t want_symbols[] = {5, 0, 1, 2, 3, 4, 6, 7};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(h.symbol[i], want_symbols[i]) << "index " << i;
    // Codes: F=00, A=010 .. E=110, G=1110, H=1111; the table is indexed by bits in input order.
    struct Case { unsigned code, len, sym; };
    const Case codes[] = {{0b00, 2, 5}, {0b010, 3, 0}, {0b110, 3, 4}, {0b1110, 4, 6}, {0b1111, 4, 7}};
    for (const Case& c : codes) {
        unsigned index = 0;
        for (unsigned i = 0; i < c.len; ++i) index |= ((c.code >> (c.len - 1 - i)) & 1) << i;
        for (unsigned high = 0; high < (16u >> c.len); ++high) {
            const uint32_t e = h.table[index | (high << c.len)];
            EXPECT_EQ(e & 0xFFFF, c.len);
            EXPECT_EQ(e >> 16, c.sym);
        }
    }
}

// ---- Agreement with zlib and the reference over many streams ------------------------------------

std::vector<uint8_t> zlib_deflate(const std::string& data, int level, int strategy, int mem_level = 8) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, mem_level, strategy), Z_OK);
    std::vector<uint8_t> out(deflateBound(&z, data.size()) + 64);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Several flushes make several blocks, stored ones included at level 0.
std::vector<uint8_t> zlib_deflate_chunked(const std::string& data, int level, size_t chunk) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> out(deflateBound(&z, data.size()) * 2 + 4096);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    size_t at = 0;
    int flushes[] = {Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_BLOCK, Z_PARTIAL_FLUSH};
    int k = 0;
    do {
        size_t n = std::min(chunk, data.size() - at);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
        z.avail_in = static_cast<uInt>(n);
        at += n;
        int flush = at == data.size() ? Z_FINISH : flushes[k++ % 4];
        deflate(&z, flush);
    } while (at < data.size());
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::vector<std::string> sample_texts() {
    std::mt19937 rng(1234);
    std::vector<std::string> v;
    v.push_back("");
    v.push_back("a");
    v.push_back(std::string(100000, 'q'));
    std::string xml = "<sheetData>";
    for (int r = 1; r <= 3000; ++r) {
        xml += "<row r=\"" + std::to_string(r) + "\">";
        for (int c = 0; c < 6; ++c) {
            xml += "<c r=\"" + std::string(1, static_cast<char>('A' + c)) + std::to_string(r) + "\"";
            if (c % 3 == 1) xml += " t=\"s\"";
            xml += "><v>" + std::to_string(rng() % (c == 0 ? 100 : 1000000)) + "</v></c>";
        }
        xml += "</row>";
    }
    xml += "</sheetData>";
    v.push_back(xml);
    std::string random(70000, '\0');
    for (char& c : random) c = static_cast<char>(rng());
    v.push_back(random);
    std::string skewed(50000, '\0');
    for (char& c : skewed) c = "aaaaaaabbbcd\n"[rng() % 13];
    v.push_back(skewed);
    std::string words;
    const char* vocab[] = {"alpha ", "beta ", "gamma ", "delta ", "epsilon\n", "zeta ", "eta "};
    while (words.size() < 200000) words += vocab[rng() % 7];
    v.push_back(words);
    return v;
}

void expect_agree(const std::vector<uint8_t>& stream, const std::optional<std::string>& want,
                  const std::string& what) {
    std::optional<std::string> ours = our_inflate(stream);
    std::optional<std::string> ref = ref_inflate(stream);
    ASSERT_EQ(ours.has_value(), ref.has_value()) << what;
    if (ours) {
        ASSERT_TRUE(*ours == *ref) << what;
    }
    if (want) {
        ASSERT_TRUE(ours.has_value()) << what;
        ASSERT_TRUE(*ours == *want) << what;
    }
}

TEST(Inflate, AgreesWithZlibAndReference) {
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    const std::vector<std::string> texts = sample_texts();
    for (size_t t = 0; t < texts.size(); ++t) {
        for (int level = 0; level <= 9; ++level) {
            for (int strategy : strategies) {
                if (level == 0 && strategy != Z_DEFAULT_STRATEGY) continue;
                expect_agree(zlib_deflate(texts[t], level, strategy), texts[t],
                             "text " + std::to_string(t) + " level " + std::to_string(level) +
                                 " strategy " + std::to_string(strategy));
            }
        }
        for (int level : {0, 1, 6}) {
            expect_agree(zlib_deflate_chunked(texts[t], level, 1000), texts[t],
                         "chunked text " + std::to_string(t) + " level " + std::to_string(level));
        }
        expect_agree(zlib_deflate(texts[t], 9, Z_DEFAULT_STRATEGY, 1), texts[t],
                     "memLevel 1 text " + std::to_string(t));
    }
}

TEST(Inflate, CorruptedStreamsAgreeWithReference) {
    std::mt19937 rng(99);
    const std::vector<std::string> texts = sample_texts();
    int successes = 0, failures = 0;
    for (size_t t = 0; t < texts.size(); ++t) {
        for (int level : {1, 6, 9}) {
            const std::string text = texts[t].substr(0, 20000);
            const std::vector<uint8_t> base = zlib_deflate(text, level, Z_DEFAULT_STRATEGY);
            for (int k = 0; k < 60; ++k) {
                std::vector<uint8_t> s = base;
                switch (k % 4) {
                    case 0:  // bit flips
                        for (int f = 0; f <= k % 3; ++f)
                            if (!s.empty()) s[rng() % s.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
                        break;
                    case 1:  // truncation
                        s.resize(s.empty() ? 0 : rng() % s.size());
                        break;
                    case 2:  // a random byte
                        if (!s.empty()) s[rng() % s.size()] = static_cast<uint8_t>(rng());
                        break;
                    case 3:  // a flip in the first bytes: the block header and code lengths
                        if (!s.empty()) s[rng() % std::min<size_t>(s.size(), 40)] ^= static_cast<uint8_t>(1u << (rng() % 8));
                        break;
                }
                std::optional<std::string> ours = our_inflate(s);
                std::optional<std::string> ref = ref_inflate(s);
                ASSERT_EQ(ours, ref) << "text " << t << " level " << level << " variant " << k;
                (ours ? successes : failures)++;
            }
        }
    }
    EXPECT_GT(successes, 0);
    EXPECT_GT(failures, 0);
}

TEST(Inflate, RandomDynamicCodesAgreeWithReference) {
    // Random code lengths (complete, incomplete and over-subscribed sets alike) followed by random
    // data bits: whatever the outcome, both decoders reach it.
    std::mt19937 rng(7);
    int successes = 0;
    for (int k = 0; k < 3000; ++k) {
        BitWriter w;
        w.put(1, 1).put(2, 2);
        const unsigned hlit = 257 + rng() % 32, hdist = 1 + rng() % 32;
        std::vector<unsigned> symbols;
        for (unsigned s = 0; s < hlit + hdist; ++s) {
            unsigned len;
            const unsigned r = rng() % 100;
            if (s < 256)
                len = r < 70 ? 0 : 6 + rng() % 5;
            else if (s == 256)
                len = 1 + rng() % 9;
            else
                len = r < 50 ? 0 : 2 + rng() % 8;
            if (k % 5 == 0) len = rng() % 16;  // arbitrary, mostly over-subscribed
            symbols.push_back(len);
        }
        dynamic_header(w, hlit, hdist, symbols);
        const int data_bytes = static_cast<int>(rng() % 64);
        for (int i = 0; i < data_bytes; ++i) w.put(rng() & 0xFF, 8);
        const std::vector<uint8_t> s = w.done();
        std::optional<std::string> ours = our_inflate(s);
        ASSERT_EQ(ours, ref_inflate(s)) << "case " << k;
        if (ours) ++successes;
    }
    EXPECT_GT(successes, 0);
}

TEST(Inflate, LongCodesTakeTheCanonicalPath) {
    // A complete literal/length code with codes of every length up to 15, most of them longer than
    // the lookup table.
    std::vector<unsigned> symbols;
    const unsigned hlit = 257;
    std::vector<unsigned> lens(hlit, 0);
    // Literals 'a'..'n' get lengths 1..14, 256 and 'o' get 15: a complete code.
    for (int i = 0; i < 14; ++i) lens['a' + i] = static_cast<unsigned>(i + 1);
    lens['o'] = 15;
    lens[256] = 15;
    for (unsigned l : lens) symbols.push_back(l);
    symbols.push_back(1);  // one distance code
    BitWriter w;
    w.put(1, 1).put(2, 2);
    dynamic_header(w, hlit, 1, symbols);
    // Canonical codes: length n (n < 15) is n-1 ones then a zero; 'o' is 14 ones then 0, 256 is 15 ones.
    std::string want;
    for (int i = 0; i < 15; ++i) {
        const char c = static_cast<char>('a' + i);
        want += c;
        const unsigned len = i < 14 ? static_cast<unsigned>(i + 1) : 15;
        const unsigned code = ((1u << len) - 1) & ~1u;
        w.code(code, static_cast<int>(len));
    }
    w.code(0x7FFF, 15);
    const std::vector<uint8_t> s = w.done();
    EXPECT_EQ(our_inflate(s), want);
    EXPECT_EQ(ref_inflate(s), want);
}

}  // namespace
}  // namespace tessary::parse
