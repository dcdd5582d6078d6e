// cfb: sector layout and byte writing of a version 3 compound file (MS-CFB), and the data-spaces
// storage of an encrypted ECMA-376 package (MS-OFFCRYPTO 2.1, 2.3.4.1 to 2.3.4.3).
#include "cfb.h"

#include <algorithm>
#include <cstring>

namespace tessary {
namespace {

constexpr uint8_t TYPE_STORAGE = 1;
constexpr uint8_t TYPE_STREAM = 2;
constexpr uint8_t TYPE_ROOT = 5;
constexpr uint32_t MAX_REG_SECT = 0xFFFFFFFA;
constexpr uint32_t DIR_ENTRY_SIZE = 128;
constexpr uint32_t ENTRIES_PER_SECTOR = CFB_SECTOR_SIZE / 4;    // FAT, mini FAT: 128 numbers
constexpr uint32_t DIFAT_PER_SECTOR = ENTRIES_PER_SECTOR - 1;  // the last slot links on
constexpr uint32_t MAX_NAME_UNITS = 31;                        // 32 with the terminator

TessaryError cfb_error(std::string_view text) {
    std::string message = "cfb: ";
    message += text;
    return TessaryError{ErrorCode::Encryption, std::move(message)};
}

void put16(char* at, uint16_t v) {
    at[0] = static_cast<char>(v & 0xff);
    at[1] = static_cast<char>(v >> 8);
}

void put32(char* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

void put64(char* at, uint64_t v) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

uint64_t ceil_div(uint64_t n, uint64_t d) { return (n + d - 1) / d; }

// UTF-8 to UTF-16; false on malformed input (overlong forms, surrogates, past U+10FFFF).
bool utf16_from_utf8(std::string_view in, std::u16string& out) {
    size_t i = 0;
    while (i < in.size()) {
        const auto b0 = static_cast<unsigned char>(in[i]);
        uint32_t cp;
        size_t len;
        if (b0 < 0x80) { cp = b0; len = 1; }
        else if (b0 >= 0xC2 && b0 <= 0xDF) { cp = b0 & 0x1F; len = 2; }
        else if (b0 >= 0xE0 && b0 <= 0xEF) { cp = b0 & 0x0F; len = 3; }
        else if (b0 >= 0xF0 && b0 <= 0xF4) { cp = b0 & 0x07; len = 4; }
        else return false;
        if (in.size() - i < len) return false;
        for (size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(in[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return true;
}

char16_t upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

// Sibling order (MS-CFB 2.6.4): the shorter name first, then code unit by code unit in upper case.
// Letters outside ASCII compare as they are.
int compare_names(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        const char16_t x = upper(a[i]), y = upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

// UNICODE-LP-P4 (MS-OFFCRYPTO 2.1.2): byte length, UTF-16LE characters, zero padding to 4 bytes.
void push_lp_p4(std::string& out, std::string_view ascii) {
    char len[4];
    put32(len, static_cast<uint32_t>(ascii.size() * 2));
    out.append(len, 4);
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    out.append((4 - (ascii.size() * 2) % 4) % 4, '\0');
}

void push32(std::string& out, uint32_t v) {
    char b[4];
    put32(b, v);
    out.append(b, 4);
}

// Version (MS-OFFCRYPTO 2.1.4): vMajor 1, vMinor 0.
void push_version_1_0(std::string& out) {
    push32(out, 0x00000001);
}

}  // namespace

CfbWriter::CfbWriter() {
    Entry root;
    root.name = u"Root Entry";
    root.type = TYPE_ROOT;
    root.parent = CFB_NOSTREAM;
    root.has_data = false;
    root.size = 0;
    entries_.push_back(std::move(root));
}

Result<uint32_t> CfbWriter::add_entry(uint32_t parent, std::string_view name, uint8_t type,
                                      std::string_view data, bool has_data, uint64_t size) {
    if (parent >= entries_.size() || entries_[parent].type == TYPE_STREAM)
        return cfb_error("no such storage");
    std::u16string wide;
    if (!utf16_from_utf8(name, wide)) return cfb_error("name is not UTF-8");
    if (wide.empty()) return cfb_error("empty name");
    if (wide.size() > MAX_NAME_UNITS) return cfb_error("name longer than 31 characters");
    for (char16_t c : wide)
        if (c == u'/' || c == u'\\' || c == u':' || c == u'!') return cfb_error("name holds / \\ : or !");
    for (uint32_t sibling : entries_[parent].children)
        if (compare_names(entries_[sibling].name, wide) == 0) return cfb_error("name taken");
    if (size > CFB_MAX_STREAM_SIZE) return cfb_error("stream larger than 2 GiB");
    Entry e;
    e.name = std::move(wide);
    e.type = type;
    e.parent = parent;
    e.data = data;
    e.has_data = has_data;
    e.size = size;
    if (type == TYPE_STORAGE) e.start = 0;
    const auto id = static_cast<uint32_t>(entries_.size());
    entries_.push_back(std::move(e));
    entries_[parent].children.push_back(id);
    return id;
}

Result<uint32_t> CfbWriter::add_storage(uint32_t parent, std::string_view name) {
    return add_entry(parent, name, TYPE_STORAGE, {}, false, 0);
}

Result<uint32_t> CfbWriter::add_stream(uint32_t parent, std::string_view name, std::string_view data) {
    return add_entry(parent, name, TYPE_STREAM, data, true, data.size());
}

Result<uint32_t> CfbWriter::add_stream_copy(uint32_t parent, std::string_view name, std::string data) {
    owned_.push_back(std::move(data));
    return add_entry(parent, name, TYPE_STREAM, owned_.back(), true, owned_.back().size());
}

Result<uint32_t> CfbWriter::add_stream_of_size(uint32_t parent, std::string_view name, uint64_t size) {
    return add_entry(parent, name, TYPE_STREAM, {}, false, size);
}

// A balanced tree over sorted[lo, hi): the middle entry is the subtree's root. Every path to a
// missing child then has the same number of black nodes when the deepest level (red_depth) is red,
// or when the tree is perfect and red_depth is out of reach.
uint32_t CfbWriter::build_tree(std::vector<uint32_t>& sorted, size_t lo, size_t hi, int depth,
                               int red_depth) {
    if (lo >= hi) return CFB_NOSTREAM;
    const size_t mid = lo + (hi - lo) / 2;
    Entry& node = entries_[sorted[mid]];
    node.red = depth == red_depth;
    node.left = build_tree(sorted, lo, mid, depth + 1, red_depth);
    node.right = build_tree(sorted, mid + 1, hi, depth + 1, red_depth);
    return sorted[mid];
}

Result<std::string> CfbWriter::finish() {
    // Directory trees: the children of each storage as one red-black tree.
    for (uint32_t id = 0; id < entries_.size(); ++id) {
        if (entries_[id].type == TYPE_STREAM || entries_[id].children.empty()) continue;
        std::vector<uint32_t> sorted = entries_[id].children;
        std::sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) {
            return compare_names(entries_[a].name, entries_[b].name) < 0;
        });
        int height = 0;
        while ((size_t{2} << height) <= sorted.size()) ++height;  // floor(log2(n))
        const bool perfect = sorted.size() + 1 == (size_t{2} << height);
        entries_[id].child = build_tree(sorted, 0, sorted.size(), 0, perfect ? -1 : height);
    }

    // Sector numbers, in file order: large streams, the mini stream, the directory, the mini FAT,
    // the FAT, the DIFAT.
    uint64_t next = 0;
    uint64_t mini_sectors = 0;
    for (Entry& e : entries_) {
        if (e.type != TYPE_STREAM || e.size == 0) continue;
        if (e.size >= CFB_MINI_STREAM_CUTOFF) {
            e.start = static_cast<uint32_t>(next);  // checked against MAX_REG_SECT below
            next += ceil_div(e.size, CFB_SECTOR_SIZE);
        } else {
            e.start = static_cast<uint32_t>(mini_sectors);
            mini_sectors += ceil_div(e.size, CFB_MINI_SECTOR_SIZE);
        }
    }
    const uint64_t mini_stream_size = mini_sectors * CFB_MINI_SECTOR_SIZE;
    const uint64_t mini_stream_start = next;
    next += ceil_div(mini_stream_size, CFB_SECTOR_SIZE);
    const uint64_t dir_start = next;
    const uint64_t dir_sectors = ceil_div(entries_.size() * DIR_ENTRY_SIZE, CFB_SECTOR_SIZE);
    next += dir_sectors;
    const uint64_t minifat_start = next;
    const uint64_t minifat_sectors = ceil_div(mini_sectors, ENTRIES_PER_SECTOR);
    next += minifat_sectors;
    // The FAT covers every sector, its own and the DIFAT's included: grow both until they fit.
    uint64_t fat_sectors = 0, difat_sectors = 0;
    for (;;) {
        const uint64_t total = next + fat_sectors + difat_sectors;
        const uint64_t fat = ceil_div(total, ENTRIES_PER_SECTOR);
        const uint64_t difat =
            fat > CFB_HEADER_DIFAT_SLOTS ? ceil_div(fat - CFB_HEADER_DIFAT_SLOTS, DIFAT_PER_SECTOR) : 0;
        if (fat == fat_sectors && difat == difat_sectors) break;
        fat_sectors = fat;
        difat_sectors = difat;
    }
    const uint64_t fat_start = next;
    const uint64_t difat_start = fat_start + fat_sectors;
    const uint64_t total_sectors = difat_start + difat_sectors;
    if (total_sectors > MAX_REG_SECT) return cfb_error("file has too many sectors");

    std::string out;
    out.resize((1 + total_sectors) * CFB_SECTOR_SIZE);
    char* const file = out.data();
    auto sector_at = [&](uint64_t sector) { return file + (1 + sector) * CFB_SECTOR_SIZE; };

    // Header (MS-CFB 2.2).
    static constexpr unsigned char SIGNATURE[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(file, SIGNATURE, 8);
    put16(file + 24, 0x003E);  // minor version
    put16(file + 26, 0x0003);  // major version
    put16(file + 28, 0xFFFE);  // byte order: little-endian
    put16(file + 30, 9);       // sector shift: 512
    put16(file + 32, 6);       // mini sector shift: 64
    put32(file + 40, 0);       // directory sectors: 0 in version 3
    put32(file + 44, static_cast<uint32_t>(fat_sectors));
    put32(file + 48, static_cast<uint32_t>(dir_start));
    put32(file + 56, CFB_MINI_STREAM_CUTOFF);
    put32(file + 60, minifat_sectors ? static_cast<uint32_t>(minifat_start) : CFB_ENDOFCHAIN);
    put32(file + 64, static_cast<uint32_t>(minifat_sectors));
    put32(file + 68, difat_sectors ? static_cast<uint32_t>(difat_start) : CFB_ENDOFCHAIN);
    put32(file + 72, static_cast<uint32_t>(difat_sectors));
    for (uint32_t i = 0; i < CFB_HEADER_DIFAT_SLOTS; ++i)
        put32(file + 76 + 4 * i, i < fat_sectors ? static_cast<uint32_t>(fat_start + i) : CFB_FREESECT);

    // DIFAT sectors: 127 FAT sector numbers each, then the next DIFAT sector.
    for (uint64_t d = 0; d < difat_sectors; ++d) {
        char* s = sector_at(difat_start + d);
        for (uint32_t k = 0; k < DIFAT_PER_SECTOR; ++k) {
            const uint64_t fat_index = CFB_HEADER_DIFAT_SLOTS + d * DIFAT_PER_SECTOR + k;
            put32(s + 4 * k, fat_index < fat_sectors ? static_cast<uint32_t>(fat_start + fat_index)
                                                     : CFB_FREESECT);
        }
        put32(s + 4 * DIFAT_PER_SECTOR,
              d + 1 < difat_sectors ? static_cast<uint32_t>(difat_start + d + 1) : CFB_ENDOFCHAIN);
    }

    // FAT: the sectors of one chain are consecutive, so each links to the next.
    char* const fat = sector_at(fat_start);
    for (uint64_t i = 0; i < fat_sectors * ENTRIES_PER_SECTOR; ++i) put32(fat + 4 * i, CFB_FREESECT);
    auto chain = [](char* table, uint64_t start, uint64_t count) {
        for (uint64_t i = 0; i < count; ++i)
            put32(table + 4 * (start + i),
                  i + 1 < count ? static_cast<uint32_t>(start + i + 1) : CFB_ENDOFCHAIN);
    };
    for (const Entry& e : entries_)
        if (e.type == TYPE_STREAM && e.size >= CFB_MINI_STREAM_CUTOFF)
            chain(fat, e.start, ceil_div(e.size, CFB_SECTOR_SIZE));
    chain(fat, mini_stream_start, ceil_div(mini_stream_size, CFB_SECTOR_SIZE));
    chain(fat, dir_start, dir_sectors);
    chain(fat, minifat_start, minifat_sectors);
    for (uint64_t i = 0; i < fat_sectors; ++i) put32(fat + 4 * (fat_start + i), CFB_FATSECT);
    for (uint64_t i = 0; i < difat_sectors; ++i) put32(fat + 4 * (difat_start + i), CFB_DIFSECT);

    // Mini FAT: the same, in mini sectors.
    if (minifat_sectors) {
        char* const minifat = sector_at(minifat_start);
        for (uint64_t i = 0; i < minifat_sectors * ENTRIES_PER_SECTOR; ++i)
            put32(minifat + 4 * i, CFB_FREESECT);
        for (const Entry& e : entries_)
            if (e.type == TYPE_STREAM && e.size > 0 && e.size < CFB_MINI_STREAM_CUTOFF)
                chain(minifat, e.start, ceil_div(e.size, CFB_MINI_SECTOR_SIZE));
    }

    // Stream bytes: large streams in their sectors, small ones in the mini stream.
    Entry& root = entries_[0];
    root.size = mini_stream_size;
    root.start = mini_sectors ? static_cast<uint32_t>(mini_stream_start) : CFB_ENDOFCHAIN;
    for (Entry& e : entries_) {
        if (e.type != TYPE_STREAM || e.size == 0) continue;
        e.offset = e.size >= CFB_MINI_STREAM_CUTOFF
                       ? (1 + e.start) * size_t{CFB_SECTOR_SIZE}
                       : (1 + mini_stream_start) * CFB_SECTOR_SIZE + size_t{e.start} * CFB_MINI_SECTOR_SIZE;
        if (e.has_data) std::memcpy(file + e.offset, e.data.data(), e.size);
    }

    // Directory entries (MS-CFB 2.6); the unused ones after the last entry keep NOSTREAM links.
    char* const dir = sector_at(dir_start);
    for (uint64_t i = 0; i < dir_sectors * (CFB_SECTOR_SIZE / DIR_ENTRY_SIZE); ++i) {
        char* d = dir + i * DIR_ENTRY_SIZE;
        if (i >= entries_.size()) {
            put32(d + 68, CFB_NOSTREAM);
            put32(d + 72, CFB_NOSTREAM);
            put32(d + 76, CFB_NOSTREAM);
            continue;
        }
        const Entry& e = entries_[i];
        for (size_t k = 0; k < e.name.size(); ++k) put16(d + 2 * k, static_cast<uint16_t>(e.name[k]));
        put16(d + 64, static_cast<uint16_t>((e.name.size() + 1) * 2));  // with the terminator
        d[66] = static_cast<char>(e.type);
        d[67] = e.red ? 0 : 1;  // colour flag: 0 red, 1 black
        put32(d + 68, e.left);
        put32(d + 72, e.right);
        put32(d + 76, e.child);
        put32(d + 116, e.start);  // 0 for a storage, ENDOFCHAIN for an empty stream
        put64(d + 120, e.size);
    }
    return out;
}

Status write_stream(CfbWriter& cfb, std::string_view name, std::string_view data) {
    TESSARY_TRY(cfb.add_stream(CfbWriter::ROOT, name, data));
    return Ok{};
}

// DataSpaceVersionInfo (MS-OFFCRYPTO 2.1.5).
std::string data_space_version() {
    std::string out;
    push_lp_p4(out, "Microsoft.Container.DataSpaces");
    push_version_1_0(out);  // reader
    push_version_1_0(out);  // updater
    push_version_1_0(out);  // writer
    return out;
}

// DataSpaceMap (MS-OFFCRYPTO 2.1.6) with one DataSpaceMapEntry (2.1.6.1): the stream
// EncryptedPackage in the data space StrongEncryptionDataSpace (2.3.4.1).
std::string data_space_map() {
    std::string entry;
    push32(entry, 1);  // ReferenceComponentCount
    push32(entry, 0);  // ReferenceComponentType: a stream
    push_lp_p4(entry, "EncryptedPackage");
    push_lp_p4(entry, "StrongEncryptionDataSpace");
    std::string out;
    push32(out, 8);  // HeaderLength
    push32(out, 1);  // EntryCount
    push32(out, static_cast<uint32_t>(entry.size() + 4));  // Length, itself included
    out += entry;
    return out;
}

// DataSpaceDefinition (MS-OFFCRYPTO 2.1.7) naming the one transform (2.3.4.2).
std::string data_space_definition() {
    std::string out;
    push32(out, 8);  // HeaderLength
    push32(out, 1);  // TransformReferenceCount
    push_lp_p4(out, "StrongEncryptionTransform");
    return out;
}

// TransformInfoHeader (MS-OFFCRYPTO 2.1.8) and EncryptionTransformInfo (2.1.9) of the
// encryption transform (2.3.4.3).
std::string transform_primary() {
    std::string id;
    push_lp_p4(id, "{FF9A3F03-56EF-4613-BDD5-5A41C1D07246}");
    std::string out;
    push32(out, static_cast<uint32_t>(8 + id.size()));  // TransformLength: up to TransformName
    push32(out, 1);                                     // TransformType
    out += id;
    push_lp_p4(out, "Microsoft.Container.EncryptionTransform");
    push_version_1_0(out);  // reader
    push_version_1_0(out);  // updater
    push_version_1_0(out);  // writer
    push32(out, 0);  // EncryptionName: an empty UTF-8-LP-P4
    push32(out, 0);  // EncryptionBlockSize
    push32(out, 0);  // CipherMode
    push32(out, 4);  // Reserved
    return out;
}

Status add_data_spaces(CfbWriter& cfb) {
    Result<uint32_t> spaces = cfb.add_storage(CfbWriter::ROOT, "\x06" "DataSpaces");
    if (!spaces.ok()) return std::move(spaces.error());
    TESSARY_TRY(cfb.add_stream_copy(spaces.value(), "Version", data_space_version()));
    TESSARY_TRY(cfb.add_stream_copy(spaces.value(), "DataSpaceMap", data_space_map()));
    Result<uint32_t> info = cfb.add_storage(spaces.value(), "DataSpaceInfo");
    if (!info.ok()) return std::move(info.error());
    TESSARY_TRY(cfb.add_stream_copy(info.value(), "StrongEncryptionDataSpace", data_space_definition()));
    Result<uint32_t> transforms = cfb.add_storage(spaces.value(), "TransformInfo");
    if (!transforms.ok()) return std::move(transforms.error());
    Result<uint32_t> strong = cfb.add_storage(transforms.value(), "StrongEncryptionTransform");
    if (!strong.ok()) return std::move(strong.error());
    TESSARY_TRY(cfb.add_stream_copy(strong.value(), "\x06" "Primary", transform_primary()));
    return Ok{};
}

Result<std::string> build_cfb(std::string_view encryption_info, std::string_view encrypted_package) {
    CfbWriter cfb;
    TESSARY_TRY(write_stream(cfb, "EncryptionInfo", encryption_info));
    TESSARY_TRY(write_stream(cfb, "EncryptedPackage", encrypted_package));
    TESSARY_TRY(add_data_spaces(cfb));
    return cfb.finish();
}

}  // namespace tessary
