// A reader of version 3 compound files (MS-CFB) for the tests: it follows the header DIFAT slots and
// DIFAT sectors to the FAT, the FAT and mini FAT chains to the stream bytes, and the sibling trees
// to every directory entry, failing the test on anything out of bounds or malformed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tessary::testing {

inline uint32_t le16(std::string_view b, size_t at) {
    return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}
inline uint32_t le32(std::string_view b, size_t at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}
inline uint64_t le64(std::string_view b, size_t at) {
    return le32(b, at) | uint64_t{le32(b, at + 4)} << 32;
}

struct CfbEntry {
    std::string path;  // names joined with '/', ASCII names only
    int type = 0;
    bool red = false;
    uint32_t left = 0, right = 0, child = 0, start = 0;
    uint64_t size = 0;
    std::string name;
};

struct CfbContents {
    std::vector<CfbEntry> entries;             // by directory id
    std::map<std::string, std::string> streams;  // path to bytes
    std::set<std::string> storages;              // paths
    uint32_t difat_sectors = 0;
    uint32_t fat_sectors = 0;
};

// Reads every chain of `file`; adds a test failure and returns what it read so far on damage.
inline CfbContents read_cfb(std::string_view file) {
    CfbContents out;
    constexpr uint32_t SECTOR = 512, ENDOFCHAIN = 0xFFFFFFFE, NOSTREAM = 0xFFFFFFFF;
    if (file.size() < SECTOR || file.size() % SECTOR != 0) {
        ADD_FAILURE() << "file size " << file.size() << " is not a positive multiple of 512";
        return out;
    }
    const uint64_t sectors = file.size() / SECTOR - 1;
    auto sector = [&](uint32_t n) { return file.substr((1 + uint64_t{n}) * SECTOR, SECTOR); };

    out.fat_sectors = le32(file, 44);
    out.difat_sectors = le32(file, 72);
    std::vector<uint32_t> fat_list;
    for (uint32_t i = 0; i < 109 && fat_list.size() < out.fat_sectors; ++i) fat_list.push_back(le32(file, 76 + 4 * i));
    uint32_t difat = le32(file, 68);
    for (uint32_t d = 0; d < out.difat_sectors; ++d) {
        if (difat >= sectors) { ADD_FAILURE() << "DIFAT sector " << difat << " out of range"; return out; }
        std::string_view s = sector(difat);
        for (uint32_t k = 0; k < 127 && fat_list.size() < out.fat_sectors; ++k) fat_list.push_back(le32(s, 4 * k));
        difat = le32(s, 508);
    }
    if (out.difat_sectors > 0 && difat != ENDOFCHAIN) ADD_FAILURE() << "DIFAT chain does not end";
    if (fat_list.size() != out.fat_sectors) { ADD_FAILURE() << "FAT sector list short"; return out; }
    std::vector<uint32_t> fat;
    for (uint32_t f : fat_list) {
        if (f >= sectors) { ADD_FAILURE() << "FAT sector " << f << " out of range"; return out; }
        std::string_view s = sector(f);
        for (uint32_t k = 0; k < 128; ++k) fat.push_back(le32(s, 4 * k));
    }
    if (fat.size() < sectors) { ADD_FAILURE() << "FAT does not cover the file"; return out; }
    for (uint32_t f : fat_list)
        if (fat[f] != 0xFFFFFFFD) ADD_FAILURE() << "FAT sector " << f << " not marked FATSECT";

    std::set<uint32_t> used;
    auto read_chain = [&](uint32_t start, std::string& bytes) {
        for (uint32_t s = start, steps = 0; s != ENDOFCHAIN; s = fat[s], ++steps) {
            if (s >= sectors || steps > sectors || !used.insert(s).second) {
                ADD_FAILURE() << "bad or shared chain at sector " << s;
                return false;
            }
            bytes += sector(s);
        }
        return true;
    };

    std::string dir;
    if (!read_chain(le32(file, 48), dir)) return out;
    std::string minifat;
    if (le32(file, 64) > 0 && !read_chain(le32(file, 60), minifat)) return out;
    for (size_t at = 0; at + 128 <= dir.size(); at += 128) {
        CfbEntry e;
        const uint32_t name_bytes = le16(dir, at + 64);
        for (uint32_t k = 0; k + 2 < name_bytes && k < 62; k += 2) e.name += static_cast<char>(le16(dir, at + k));
        e.type = static_cast<unsigned char>(dir[at + 66]);
        e.red = dir[at + 67] == 0;
        e.left = le32(dir, at + 68);
        e.right = le32(dir, at + 72);
        e.child = le32(dir, at + 76);
        e.start = le32(dir, at + 116);
        e.size = le64(dir, at + 120);
        out.entries.push_back(e);
    }
    if (out.entries.empty() || out.entries[0].type != 5) { ADD_FAILURE() << "no root entry"; return out; }
    std::string mini_stream;
    if (out.entries[0].size > 0 && !read_chain(out.entries[0].start, mini_stream)) return out;
    if (mini_stream.size() < out.entries[0].size) { ADD_FAILURE() << "mini stream short"; return out; }

    auto stream_bytes = [&](const CfbEntry& e) {
        std::string bytes;
        if (e.size == 0) return bytes;
        if (e.size >= 4096) {
            read_chain(e.start, bytes);
        } else {
            for (uint32_t m = e.start, steps = 0; m != ENDOFCHAIN; m = le32(minifat, 4 * size_t{m}), ++steps) {
                if (size_t{m} * 4 + 4 > minifat.size() || (size_t{m} + 1) * 64 > mini_stream.size() || steps > 64) {
                    ADD_FAILURE() << "bad mini chain at " << m;
                    return bytes;
                }
                bytes += mini_stream.substr(size_t{m} * 64, 64);
            }
        }
        if (bytes.size() < e.size) ADD_FAILURE() << "stream " << e.path << " short";
        bytes.resize(e.size);
        return bytes;
    };

    // Walks a sibling tree: visits each entry once, in the order of the tree.
    std::set<uint32_t> seen{0};
    auto walk = [&](auto&& self, uint32_t id, const std::string& prefix) -> void {
        if (id == NOSTREAM) return;
        if (id >= out.entries.size() || !seen.insert(id).second) { ADD_FAILURE() << "bad tree link " << id; return; }
        CfbEntry& e = out.entries[id];
        e.path = prefix + e.name;
        self(self, e.left, prefix);
        if (e.type == 1) {
            out.storages.insert(e.path);
            self(self, e.child, e.path + "/");
        } else if (e.type == 2) {
            out.streams[e.path] = stream_bytes(e);
        } else {
            ADD_FAILURE() << "entry " << id << " of type " << e.type << " in a tree";
        }
        self(self, e.right, prefix);
    };
    walk(walk, out.entries[0].child, "");

    // Every sector is in exactly one chain, or is a FAT or DIFAT sector; FAT slots past the end of
    // the file are free.
    for (uint32_t f : fat_list) used.insert(f);
    for (uint32_t d = le32(file, 68), k = 0; k < out.difat_sectors && d < sectors; d = le32(sector(d), 508), ++k) {
        used.insert(d);
        if (fat[d] != 0xFFFFFFFC) ADD_FAILURE() << "DIFAT sector " << d << " not marked DIFSECT";
    }
    if (used.size() != sectors) ADD_FAILURE() << sectors - used.size() << " sectors belong to nothing";
    for (size_t i = sectors; i < fat.size(); ++i)
        if (fat[i] != 0xFFFFFFFF) ADD_FAILURE() << "FAT slot " << i << " past the file is not free";
    return out;
}

}  // namespace tessary::testing
