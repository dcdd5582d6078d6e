// unzip: the reader's ZIP directory walker (APPNOTE 4.3). It reads the end-of-central-directory
// record, then every central-directory header and the local header it points at, and extracts the
// member's data; it never compares CRC-32 values or sizes and never looks for ZIP64 records.
#include "parse/unzip.h"

#include <algorithm>
#include <cstring>

#include "parse/inflate.h"

namespace tessary::parse {

namespace {

constexpr uint32_t EOCD_SIGNATURE = 0x06054B50;
constexpr uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014B50;
constexpr uint32_t LOCAL_HEADER_SIGNATURE = 0x04034B50;
constexpr size_t EOCD_SIZE = 22;
constexpr size_t CENTRAL_HEADER_SIZE = 46;
constexpr size_t LOCAL_HEADER_SIZE = 30;
constexpr uint16_t METHOD_STORED = 0;
constexpr uint16_t METHOD_DEFLATE = 8;

// Little-endian fields; the caller has checked the bounds.
uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t u32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}


// The length of the well-formed UTF-8 sequence at the start of `s` (1 to 4), or 0 with `bad` set to
// the length of its maximal subpart (at least 1) when it is ill-formed (Unicode table 3-7).
size_t utf8_sequence(std::string_view s, size_t& bad) {
    const auto b = [&](size_t i) { return static_cast<uint8_t>(s[i]); };
    const uint8_t lead = b(0);
    if (lead < 0x80) return 1;
    size_t need;
    uint8_t lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        need = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        need = 3;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        need = 4;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        bad = 1;
        return 0;
    }
    size_t i = 1;
    for (; i < need; ++i) {
        if (i >= s.size()) break;
        const uint8_t c = b(i);
        if (i == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) break;
    }
    if (i == need) return need;
    bad = i;
    return 0;
}

}  // namespace

std::string_view message(ReadError error) {
    switch (error) {
        case ReadError::BadDeflate: return "malformed DEFLATE stream";
        case ReadError::BadZip: return "malformed OPC zip container";
        case ReadError::NotXlsx: return "not an .xlsx (no xl/workbook.xml)";
    }
    return "malformed OPC zip container";
}

bool valid_utf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        // ASCII runs, eight bytes at a time.
        while (bytes.size() - i >= 8) {
            uint64_t w;
            std::memcpy(&w, bytes.data() + i, 8);
            if (w & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i == bytes.size()) break;
        size_t bad = 0;
        const size_t n = utf8_sequence(bytes.substr(i), bad);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

void lossy_utf8_into(std::string& out, std::string_view bytes) {
    size_t run = 0, i = 0;
    while (i < bytes.size()) {
        size_t bad = 0;
        const size_t n = utf8_sequence(bytes.substr(i), bad);
        if (n != 0) {
            i += n;
            continue;
        }
        out.append(bytes.substr(run, i - run));
        out += "\xEF\xBF\xBD";  // U+FFFD
        i += bad;
        run = i;
    }
    out.append(bytes.substr(run));
}

const Entry* find_entry(const std::vector<Entry>& entries, std::string_view name) {
    for (const Entry& e : entries)
        if (e.name == name) return &e;
    return nullptr;
}

ReadResult<std::vector<Entry>> extract(std::span<const uint8_t> pkg) {
    const size_t size = pkg.size();
    const uint8_t* p = pkg.data();
    TESSARY_REQUIRE(size >= EOCD_SIZE, ReadError::BadZip);
    // End of central directory: the last signature from the end wins, wherever it lies (no search
    // window, no comment length check).
    size_t eocd = size - EOCD_SIZE + 1;
    while (eocd-- > 0)
        if (u32(p + eocd) == EOCD_SIGNATURE) break;
    TESSARY_REQUIRE(eocd != static_cast<size_t>(-1), ReadError::BadZip);
    const uint16_t count = u16(p + eocd + 10);  // total number of entries
    size_t off = u32(p + eocd + 16);            // offset of the central directory

    std::vector<Entry> entries;
    // The count is a field of the file: reserve no more than the headers that fit behind the offset.
    if (off <= size) entries.reserve(std::min<size_t>(count, (size - off) / CENTRAL_HEADER_SIZE));
    for (uint16_t i = 0; i < count; ++i) {
        // Central directory file header: 46 fixed bytes, then the name, extra field and comment.
        TESSARY_REQUIRE(off <= size && size - off >= CENTRAL_HEADER_SIZE, ReadError::BadZip);
        const uint8_t* h = p + off;
        TESSARY_REQUIRE(u32(h) == CENTRAL_HEADER_SIGNATURE, ReadError::BadZip);
        const uint16_t method = u16(h + 10);
        const uint32_t compressed = u32(h + 20);
        const uint16_t name_len = u16(h + 28);
        const uint16_t extra_len = u16(h + 30);
        const uint16_t comment_len = u16(h + 32);
        const size_t local = u32(h + 42);
        TESSARY_REQUIRE(size - off - CENTRAL_HEADER_SIZE >= name_len, ReadError::BadZip);
        const std::string_view raw_name(reinterpret_cast<const char*>(h + CENTRAL_HEADER_SIZE), name_len);

        // Local file header: 30 fixed bytes; its own name and extra field come before the data.
        TESSARY_REQUIRE(local <= size && size - local >= LOCAL_HEADER_SIZE, ReadError::BadZip);
        const uint8_t* l = p + local;
        TESSARY_REQUIRE(u32(l) == LOCAL_HEADER_SIGNATURE, ReadError::BadZip);
        const size_t start = local + LOCAL_HEADER_SIZE + u16(l + 26) + u16(l + 28);
        TESSARY_REQUIRE(start <= size && size - start >= compressed, ReadError::BadZip);
        const std::span<const uint8_t> data = pkg.subspan(start, compressed);

        Entry entry;
        if (valid_utf8(raw_name))
            entry.name.assign(raw_name);
        else
            lossy_utf8_into(entry.name, raw_name);
        if (method == METHOD_STORED) {
            entry.data.assign(reinterpret_cast<const char*>(data.data()), data.size());
        } else if (method == METHOD_DEFLATE) {
            TESSARY_REQUIRE(inflate_into(entry.data, data).ok(), ReadError::BadDeflate);
        } else {
            return ReadError::BadZip;
        }
        entries.push_back(std::move(entry));
        off += CENTRAL_HEADER_SIZE + name_len + extra_len + comment_len;
    }
    return entries;
}

ReadResult<std::vector<Entry>> extract(std::string_view package) {
    return extract(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(package.data()),
                                            package.size()));
}

}  // namespace tessary::parse
