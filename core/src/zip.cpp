// zip: stored archive writer and slicing-by-8 CRC-32.
#include "zip.h"

#include <algorithm>
#include <mutex>

namespace tessary {
namespace {

constexpr uint32_t CRC_POLYNOMIAL = 0xEDB88320;
constexpr uint16_t VERSION_CLASSIC = 20;  // 2.0: stored entries
constexpr uint16_t VERSION_ZIP64 = 45;    // 4.5: ZIP64 format extensions
constexpr uint16_t DOS_DATE_1980_01_01 = 0x0021;
// Data is checksummed and copied in slices small enough to stay in cache between the two passes.
constexpr size_t COPY_SLICE = 32 * 1024;

CrcTables TABLES;
std::once_flag TABLES_ONCE;

void build_tables() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ CRC_POLYNOMIAL : c >> 1;
        TABLES.t[0][i] = c;
    }
    for (int k = 1; k < 8; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t prev = TABLES.t[k - 1][i];
            TABLES.t[k][i] = (prev >> 8) ^ TABLES.t[0][prev & 0xFF];
        }
    }
}

// Continues a CRC-32 whose register (pre- and post-inverted by the caller) is `c`.
uint32_t crc_update(const CrcTables& tables, uint32_t c, const unsigned char* p, size_t n) {
    const auto& t = tables.t;
    while (n >= 8) {
        c ^= static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
             static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        c = t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
            t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
        p += 8;
        n -= 8;
    }
    while (n > 0) {
        c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
        ++p;
        --n;
    }
    return c;
}

// Little-endian field writer over a fixed header buffer.
struct Fields {
    unsigned char* p;
    void u16(uint64_t v) {
        p[0] = static_cast<unsigned char>(v);
        p[1] = static_cast<unsigned char>(v >> 8);
        p += 2;
    }
    void u32(uint64_t v) {
        for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
        p += 4;
    }
    void u64(uint64_t v) {
        for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
        p += 8;
    }
};

uint64_t clamp32(uint64_t v) { return std::min(v, ZIP32_LIMIT); }

bool entry_is_zip64(uint64_t data_size, uint64_t local_offset) {
    return data_size >= ZIP32_LIMIT || local_offset >= ZIP32_LIMIT;
}

bool end_is_zip64(uint64_t entries, uint64_t central_size, uint64_t central_offset) {
    return entries >= ZIP16_LIMIT || central_size >= ZIP32_LIMIT || central_offset >= ZIP32_LIMIT;
}

}  // namespace

const CrcTables& crc_tables() {
    std::call_once(TABLES_ONCE, build_tables);
    return TABLES;
}

uint32_t crc32(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    return crc_update(crc_tables(), 0xFFFFFFFF, p, bytes.size()) ^ 0xFFFFFFFF;
}

size_t local_extra_size(uint64_t data_size) {
    // Header ID and data size, then both sizes: a local ZIP64 field carries the two together
    // (APPNOTE 4.5.3).
    return data_size >= ZIP32_LIMIT ? 4 + 16 : 0;
}

size_t central_extra_size(uint64_t data_size, uint64_t local_offset) {
    size_t fields = 0;
    if (data_size >= ZIP32_LIMIT) fields += 2;
    if (local_offset >= ZIP32_LIMIT) fields += 1;
    return fields == 0 ? 0 : 4 + 8 * fields;
}

ArchiveLayout archive_layout(std::span<const EntryShape> entries) {
    ArchiveLayout layout;
    uint64_t offset = 0;
    uint64_t central = 0;
    for (const EntryShape& e : entries) {
        central += CENTRAL_HEADER_SIZE + e.name_size + central_extra_size(e.data_size, offset);
        offset += LOCAL_HEADER_SIZE + e.name_size + local_extra_size(e.data_size) + e.data_size;
    }
    layout.central_offset = offset;
    layout.central_size = central;
    layout.zip64_end = end_is_zip64(entries.size(), central, offset);
    layout.total_size = offset + central + EOCD_SIZE +
                        (layout.zip64_end ? ZIP64_EOCD_SIZE + ZIP64_LOCATOR_SIZE : 0);
    return layout;
}

void push_local_header(std::string& out, std::string_view name, uint32_t crc, uint64_t data_size,
                       uint64_t local_offset) {
    unsigned char buf[LOCAL_HEADER_SIZE + 20];
    Fields f{buf};
    const size_t extra = local_extra_size(data_size);
    f.u32(LOCAL_HEADER_SIGNATURE);
    f.u16(entry_is_zip64(data_size, local_offset) ? VERSION_ZIP64 : VERSION_CLASSIC);  // needed
    f.u16(0);                     // general purpose flags
    f.u16(0);                     // compression method: stored
    f.u16(0);                     // last modification time: 00:00:00
    f.u16(DOS_DATE_1980_01_01);   // last modification date
    f.u32(crc);
    f.u32(clamp32(data_size));    // compressed size
    f.u32(clamp32(data_size));    // uncompressed size
    f.u16(name.size());
    f.u16(extra);
    out.append(reinterpret_cast<const char*>(buf), LOCAL_HEADER_SIZE);
    out.append(name);
    if (extra != 0) {
        Fields x{buf};
        x.u16(ZIP64_EXTRA_ID);
        x.u16(16);
        x.u64(data_size);  // original size
        x.u64(data_size);  // compressed size
        out.append(reinterpret_cast<const char*>(buf), extra);
    }
}

void push_central_header(std::string& out, std::string_view name, uint32_t crc, uint64_t data_size,
                         uint64_t local_offset) {
    unsigned char buf[CENTRAL_HEADER_SIZE];
    Fields f{buf};
    const size_t extra = central_extra_size(data_size, local_offset);
    const uint16_t version = entry_is_zip64(data_size, local_offset) ? VERSION_ZIP64 : VERSION_CLASSIC;
    f.u32(CENTRAL_HEADER_SIGNATURE);
    f.u16(version);               // made by (high byte 0: MS-DOS attributes)
    f.u16(version);               // needed to extract
    f.u16(0);                     // general purpose flags
    f.u16(0);                     // compression method: stored
    f.u16(0);                     // last modification time
    f.u16(DOS_DATE_1980_01_01);   // last modification date
    f.u32(crc);
    f.u32(clamp32(data_size));    // compressed size
    f.u32(clamp32(data_size));    // uncompressed size
    f.u16(name.size());
    f.u16(extra);
    f.u16(0);                     // file comment length
    f.u16(0);                     // disk number start
    f.u16(0);                     // internal file attributes
    f.u32(0);                     // external file attributes
    f.u32(clamp32(local_offset));
    out.append(reinterpret_cast<const char*>(buf), CENTRAL_HEADER_SIZE);
    out.append(name);
    if (extra != 0) {
        // The ZIP64 fields present are those whose classic field holds the marker, in the fixed
        // order original size, compressed size, local header offset (APPNOTE 4.5.3).
        unsigned char x64[4 + 24];
        Fields x{x64};
        x.u16(ZIP64_EXTRA_ID);
        x.u16(extra - 4);
        if (data_size >= ZIP32_LIMIT) {
            x.u64(data_size);
            x.u64(data_size);
        }
        if (local_offset >= ZIP32_LIMIT) x.u64(local_offset);
        out.append(reinterpret_cast<const char*>(x64), extra);
    }
}

void push_end_records(std::string& out, uint64_t entries, uint64_t central_size,
                      uint64_t central_offset, bool zip64_end) {
    unsigned char buf[ZIP64_EOCD_SIZE];
    if (zip64_end) {
        // Zip64 end of central directory record (APPNOTE 4.3.14), right after the directory.
        Fields f{buf};
        f.u32(ZIP64_EOCD_SIGNATURE);
        f.u64(ZIP64_EOCD_SIZE - 12);  // size of the rest of the record
        f.u16(VERSION_ZIP64);         // made by
        f.u16(VERSION_ZIP64);         // needed to extract
        f.u32(0);                     // number of this disk
        f.u32(0);                     // disk where the central directory starts
        f.u64(entries);               // entries on this disk
        f.u64(entries);               // total entries
        f.u64(central_size);
        f.u64(central_offset);
        out.append(reinterpret_cast<const char*>(buf), ZIP64_EOCD_SIZE);
        // Zip64 end of central directory locator (APPNOTE 4.3.15).
        Fields l{buf};
        l.u32(ZIP64_LOCATOR_SIGNATURE);
        l.u32(0);                              // disk holding the ZIP64 end record
        l.u64(central_offset + central_size);  // offset of the ZIP64 end record
        l.u32(1);                              // total number of disks
        out.append(reinterpret_cast<const char*>(buf), ZIP64_LOCATOR_SIZE);
    }
    // End of central directory record (APPNOTE 4.3.16).
    Fields f{buf};
    f.u32(EOCD_SIGNATURE);
    f.u16(0);                                 // number of this disk
    f.u16(0);                                 // disk where the central directory starts
    f.u16(std::min(entries, ZIP16_LIMIT));    // entries on this disk
    f.u16(std::min(entries, ZIP16_LIMIT));    // total entries
    f.u32(clamp32(central_size));
    f.u32(clamp32(central_offset));
    f.u16(0);                                 // comment length
    out.append(reinterpret_cast<const char*>(buf), EOCD_SIZE);
}

std::string write_archive(std::vector<Part> parts) {
    std::vector<EntryShape> shapes;
    shapes.reserve(parts.size());
    for (const Part& p : parts) shapes.push_back({p.name.size(), p.data.size()});
    const ArchiveLayout layout = archive_layout(shapes);

    std::string out;
    out.reserve(layout.total_size);
    std::string central;
    central.reserve(layout.central_size);
    const CrcTables& tables = crc_tables();

    for (Part& part : parts) {
        const uint64_t offset = out.size();
        const uint64_t size = part.data.size();
        // The header goes in first with a zero CRC, which is patched once the data is through:
        // each slice is checksummed and copied while it is still in cache.
        push_local_header(out, part.name, 0, size, offset);
        uint32_t c = 0xFFFFFFFF;
        const auto* p = reinterpret_cast<const unsigned char*>(part.data.data());
        for (size_t at = 0; at < size; at += COPY_SLICE) {
            const size_t n = std::min<size_t>(COPY_SLICE, size - at);
            c = crc_update(tables, c, p + at, n);
            out.append(part.data.data() + at, n);
        }
        const uint32_t crc = c ^ 0xFFFFFFFF;
        for (int i = 0; i < 4; ++i) out[offset + 14 + i] = static_cast<char>(crc >> (8 * i));
        push_central_header(central, part.name, crc, size, offset);
        std::string().swap(part.data);
    }
    const uint64_t central_offset = out.size();
    out.append(central);
    push_end_records(out, parts.size(), central.size(), central_offset, layout.zip64_end);
    return out;
}

}  // namespace tessary
