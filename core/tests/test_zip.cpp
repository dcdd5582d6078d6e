#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "helpers.h"
#include "zip.h"

namespace tessary {
namespace {

using testing::expect_bytes;

uint64_t le(std::string_view s, size_t at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

std::string u16(uint64_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string u32(uint64_t v) { return u16(v) + u16(v >> 16); }
std::string u64(uint64_t v) { return u32(v) + u32(v >> 32); }

uint32_t zlib_crc(std::string_view s) {
    return static_cast<uint32_t>(
        ::crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

TEST(Crc32, MatchesZlibAtEveryAlignmentAndLength) {
    EXPECT_EQ(crc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc32(""), 0u);
    std::mt19937 rng(7);
    std::string buf(4096 + 64, '\0');
    for (char& ch : buf) ch = static_cast<char>(rng());
    // Every length around the 8-byte step and a few larger ones, from several start offsets.
    for (size_t start : {0, 1, 3, 7}) {
        for (size_t len = 0; len <= 40; ++len) {
            std::string_view s(buf.data() + start, len);
            EXPECT_EQ(crc32(s), zlib_crc(s)) << "start " << start << " length " << len;
        }
        for (size_t len : {255, 256, 1000, 4096}) {
            std::string_view s(buf.data() + start, len);
            EXPECT_EQ(crc32(s), zlib_crc(s)) << "start " << start << " length " << len;
        }
    }
}

TEST(Crc32, TablesFollowTheRecurrence) {
    const CrcTables& t = crc_tables();
    EXPECT_EQ(t.t[0][1], 0x77073096u);
    EXPECT_EQ(t.t[0][255], 0x2D02EF8Du);
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(t.t[k][i], (t.t[k - 1][i] >> 8) ^ t.t[0][t.t[k - 1][i] & 0xFF]);
}

TEST(Crc32, ConcurrentFirstUseAgrees) {
    std::vector<uint32_t> got(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < got.size(); ++i)
        threads.emplace_back([&got, i] { got[i] = crc32("123456789"); });
    for (auto& th : threads) th.join();
    for (uint32_t c : got) EXPECT_EQ(c, 0xCBF43926u);
}

TEST(WriteArchive, OnePartGolden) {
    std::string zip = write_archive({{"a.txt", "abc"}});
    ASSERT_EQ(zip.size(), 111u);
    const std::string want =
        // local file header at 0
        "PK\x03\x04" + u16(20) + u16(0) + u16(0) + u16(0) + u16(0x0021) + u32(0x352441C2) +
        u32(3) + u32(3) + u16(5) + u16(0) + "a.txt" +
        // data at 35
        "abc" +
        // central directory header at 38
        "PK\x01\x02" + u16(20) + u16(20) + u16(0) + u16(0) + u16(0) + u16(0x0021) +
        u32(0x352441C2) + u32(3) + u32(3) + u16(5) + u16(0) + u16(0) + u16(0) + u16(0) + u32(0) +
        u32(0) + "a.txt" +
        // end of central directory at 89
        "PK\x05\x06" + u16(0) + u16(0) + u16(1) + u16(1) + u32(51) + u32(38) + u16(0);
    expect_bytes(zip, want);
}

TEST(WriteArchive, EmptyListIsOnlyTheEndRecord) {
    expect_bytes(write_archive({}),
                 "PK\x05\x06" + u16(0) + u16(0) + u16(0) + u16(0) + u32(0) + u32(0) + u16(0));
}

// An independent walk of a classic or ZIP64 archive that checks every header field against the
// fixed values and returns the entries found through the central directory.
std::vector<Part> read_back(const std::string& zip) {
    std::vector<Part> out;
    EXPECT_GE(zip.size(), 22u);
    if (zip.size() < 22) return out;
    const size_t eocd = zip.size() - 22;
    EXPECT_EQ(le(zip, eocd, 4), 0x06054b50u);
    EXPECT_EQ(le(zip, eocd + 4, 2), 0u);
    EXPECT_EQ(le(zip, eocd + 6, 2), 0u);
    EXPECT_EQ(le(zip, eocd + 8, 2), le(zip, eocd + 10, 2));
    EXPECT_EQ(le(zip, eocd + 20, 2), 0u);
    uint64_t count = le(zip, eocd + 10, 2);
    uint64_t cd_size = le(zip, eocd + 12, 4);
    uint64_t cd_off = le(zip, eocd + 16, 4);
    size_t cd_end = eocd;
    if (count == 0xFFFF || cd_size == 0xFFFFFFFF || cd_off == 0xFFFFFFFF) {
        const size_t loc = eocd - 20;
        EXPECT_EQ(le(zip, loc, 4), 0x07064b50u);
        EXPECT_EQ(le(zip, loc + 4, 4), 0u);
        EXPECT_EQ(le(zip, loc + 16, 4), 1u);
        const size_t z = le(zip, loc + 8, 8);
        EXPECT_EQ(z, loc - 56);
        EXPECT_EQ(le(zip, z, 4), 0x06064b50u);
        EXPECT_EQ(le(zip, z + 4, 8), 44u);
        EXPECT_EQ(le(zip, z + 12, 2), 45u);
        EXPECT_EQ(le(zip, z + 14, 2), 45u);
        EXPECT_EQ(le(zip, z + 16, 8), 0u);
        EXPECT_EQ(le(zip, z + 24, 8), le(zip, z + 32, 8));
        count = le(zip, z + 32, 8);
        cd_size = le(zip, z + 40, 8);
        cd_off = le(zip, z + 48, 8);
        cd_end = z;
    }
    EXPECT_EQ(cd_off + cd_size, cd_end);
    size_t at = cd_off;
    uint64_t expect_local = 0;
    for (uint64_t i = 0; i < count; ++i) {
        EXPECT_EQ(le(zip, at, 4), 0x02014b50u);
        const uint64_t version = le(zip, at + 4, 2);
        EXPECT_EQ(le(zip, at + 6, 2), version);
        EXPECT_EQ(le(zip, at + 8, 2), 0u);       // flags
        EXPECT_EQ(le(zip, at + 10, 2), 0u);      // method
        EXPECT_EQ(le(zip, at + 12, 2), 0u);      // time
        EXPECT_EQ(le(zip, at + 14, 2), 0x21u);   // date
        const uint32_t crc = le(zip, at + 16, 4);
        EXPECT_EQ(le(zip, at + 20, 4), le(zip, at + 24, 4));
        const size_t name_len = le(zip, at + 28, 2);
        const size_t extra_len = le(zip, at + 30, 2);
        EXPECT_EQ(le(zip, at + 32, 2), 0u);      // comment
        EXPECT_EQ(le(zip, at + 34, 2), 0u);      // disk
        EXPECT_EQ(le(zip, at + 36, 2), 0u);      // internal attributes
        EXPECT_EQ(le(zip, at + 38, 4), 0u);      // external attributes
        uint64_t size = le(zip, at + 24, 4);
        uint64_t local = le(zip, at + 42, 4);
        std::string name = zip.substr(at + 46, name_len);
        size_t x = at + 46 + name_len;
        if (extra_len != 0) {
            EXPECT_EQ(version, 45u);
            EXPECT_EQ(le(zip, x, 2), 1u);
            EXPECT_EQ(le(zip, x + 2, 2), extra_len - 4);
            x += 4;
            if (size == 0xFFFFFFFF) { size = le(zip, x, 8); x += 16; }
            if (local == 0xFFFFFFFF) { local = le(zip, x, 8); x += 8; }
            EXPECT_EQ(x, at + 46 + name_len + extra_len);
        }
        EXPECT_EQ(local, expect_local) << name;
        // The local header repeats the central one.
        EXPECT_EQ(le(zip, local, 4), 0x04034b50u);
        EXPECT_EQ(le(zip, local + 4, 2), version);
        EXPECT_EQ(le(zip, local + 6, 2), 0u);
        EXPECT_EQ(le(zip, local + 8, 2), 0u);
        EXPECT_EQ(le(zip, local + 10, 2), 0u);
        EXPECT_EQ(le(zip, local + 12, 2), 0x21u);
        EXPECT_EQ(le(zip, local + 14, 4), crc);
        EXPECT_EQ(le(zip, local + 26, 2), name_len);
        const size_t local_extra = le(zip, local + 28, 2);
        EXPECT_EQ(zip.substr(local + 30, name_len), name);
        const size_t data_at = local + 30 + name_len + local_extra;
        std::string data = zip.substr(data_at, size);
        EXPECT_EQ(zlib_crc(data), crc) << name;
        expect_local = data_at + size;
        out.push_back({std::move(name), std::move(data)});
        at = x;
    }
    EXPECT_EQ(expect_local, cd_off);
    EXPECT_EQ(at, cd_off + cd_size);
    return out;
}

TEST(WriteArchive, ReadsBackEveryPartInOrder) {
    std::string big(100000, 'x');
    for (size_t i = 0; i < big.size(); i += 7) big[i] = static_cast<char>(i);
    const std::vector<Part> parts = {
        {"[Content_Types].xml", "<Types/>"},
        {"empty.bin", ""},
        {"xl/worksheets/sheet1.xml", big},
        {"z", std::string(1, '\0')},
    };
    std::string zip = write_archive(parts);
    uint64_t want_size = 22;
    for (const Part& p : parts) want_size += p.data.size() + 2 * p.name.size() + 76;
    EXPECT_EQ(zip.size(), want_size);
    const std::vector<Part> got = read_back(zip);
    ASSERT_EQ(got.size(), parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(got[i].name, parts[i].name);
        EXPECT_TRUE(got[i].data == parts[i].data) << parts[i].name;
    }
    EXPECT_EQ(le(zip, 14 + 30 + 19 + 8, 4), 0u) << "empty part has CRC 0";
    EXPECT_EQ(write_archive(parts), zip) << "same parts, same bytes";
}

// The size arithmetic for shapes too large to build in a unit test.
struct LayoutCase {
    const char* what;
    std::vector<EntryShape> shapes;
    uint64_t central_offset, central_size, total;
    bool zip64_end;
};

TEST(ArchiveLayout, SwitchesToZip64ExactlyAtTheLimits) {
    constexpr uint64_t G4 = 0xFFFFFFFF;
    const LayoutCase cases[] = {
        {"one small entry", {{5, 3}}, 38, 51, 111, false},
        // The directory starts at G4 - 1, the last offset a classic field holds.
        {"largest classic archive", {{1, G4 - 32}}, G4 - 1, 47, G4 - 1 + 47 + 22, false},
        // Size G4 itself is the marker: sizes go to the extra fields, local +20, central +20,
        // and the central directory now starts past 4 GiB, so the end is ZIP64 too.
        {"entry of exactly 4 GiB - 1", {{1, G4}}, 31 + 20 + G4, 47 + 20,
         31 + 20 + G4 + 67 + 22 + 76, true},
        // Second entry's local header starts at 30+1+(G4-31) = G4: its offset needs ZIP64.
        {"offset reaching the marker", {{1, G4 - 31}, {1, 0}}, G4 + 31, 47 + 47 + 12,
         G4 + 31 + 106 + 22 + 76, true},
        {"offset just below the marker", {{1, G4 - 32}, {1, 0}}, G4 - 1 + 31, 94,
         G4 + 30 + 94 + 22 + 76, true},  // the directory itself starts past the limit
    };
    for (const LayoutCase& c : cases) {
        const ArchiveLayout l = archive_layout(c.shapes);
        EXPECT_EQ(l.central_offset, c.central_offset) << c.what;
        EXPECT_EQ(l.central_size, c.central_size) << c.what;
        EXPECT_EQ(l.total_size, c.total) << c.what;
        EXPECT_EQ(l.zip64_end, c.zip64_end) << c.what;
    }
    std::vector<EntryShape> many(65534, EntryShape{1, 0});
    EXPECT_FALSE(archive_layout(many).zip64_end) << "65534 entries";
    many.push_back({1, 0});
    const ArchiveLayout l = archive_layout(many);
    EXPECT_TRUE(l.zip64_end) << "65535 entries: the count field holds the marker";
    EXPECT_EQ(l.total_size, 65535u * 78 + 22 + 76);
}

TEST(ArchiveHeaders, Zip64FieldsForLargeEntries) {
    constexpr uint64_t FIVE_G = 5ull << 30;
    std::string local;
    push_local_header(local, "s.xml", 0xAABBCCDD, FIVE_G, 0);
    expect_bytes(local, "PK\x03\x04" + u16(45) + u16(0) + u16(0) + u16(0) + u16(0x21) +
                            u32(0xAABBCCDD) + u32(0xFFFFFFFF) + u32(0xFFFFFFFF) + u16(5) +
                            u16(20) + "s.xml" + u16(1) + u16(16) + u64(FIVE_G) + u64(FIVE_G));
    std::string central;
    push_central_header(central, "s.xml", 0xAABBCCDD, FIVE_G, 6ull << 30);
    expect_bytes(central, "PK\x01\x02" + u16(45) + u16(45) + u16(0) + u16(0) + u16(0) + u16(0x21) +
                              u32(0xAABBCCDD) + u32(0xFFFFFFFF) + u32(0xFFFFFFFF) + u16(5) +
                              u16(28) + u16(0) + u16(0) + u16(0) + u32(0) + u32(0xFFFFFFFF) +
                              "s.xml" + u16(1) + u16(24) + u64(FIVE_G) + u64(FIVE_G) +
                              u64(6ull << 30));
    // A small entry past 4 GiB: only the offset moves to the extra field; the local header has no
    // field for it and stays without an extra.
    central.clear();
    push_central_header(central, "a", 1, 3, 5ull << 30);
    expect_bytes(central.substr(28, 4), u16(1) + u16(12));
    expect_bytes(central.substr(42), u32(0xFFFFFFFF) + "a" + u16(1) + u16(8) + u64(5ull << 30));
    local.clear();
    push_local_header(local, "a", 1, 3, 5ull << 30);
    expect_bytes(local.substr(4, 2), u16(45));
    EXPECT_EQ(local.size(), 31u);

    std::string end;
    push_end_records(end, 70000, 6ull << 30, 7ull << 30, true);
    expect_bytes(end, "PK\x06\x06" + u64(44) + u16(45) + u16(45) + u32(0) + u32(0) + u64(70000) +
                          u64(70000) + u64(6ull << 30) + u64(7ull << 30) +
                          "PK\x06\x07" + u32(0) + u64(13ull << 30) + u32(1) +
                          "PK\x05\x06" + u16(0) + u16(0) + u16(0xFFFF) + u16(0xFFFF) +
                          u32(0xFFFFFFFF) + u32(0xFFFFFFFF) + u16(0));
}

// 65536 entries exceed the classic count: a real ZIP64 archive small enough to build, read back
// here and, where Python is present, by its zipfile module.
TEST(WriteArchive, Zip64ForManyEntriesReadsBack) {
    std::vector<Part> parts;
    for (int i = 0; i < 65536; ++i) parts.push_back({"p" + std::to_string(i), std::to_string(i * 7)});
    std::vector<EntryShape> shapes;
    for (const Part& p : parts) shapes.push_back({p.name.size(), p.data.size()});
    const std::string zip = write_archive(parts);
    EXPECT_EQ(zip.size(), archive_layout(shapes).total_size);
    const std::vector<Part> got = read_back(zip);
    ASSERT_EQ(got.size(), parts.size());
    EXPECT_EQ(got[65535].name, "p65535");
    EXPECT_EQ(got[65535].data, std::to_string(65535 * 7));

    if (std::system("python3 -c 'import zipfile' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
    const std::string path = ::testing::TempDir() + "tessary_zip64_many.zip";
    std::ofstream(path, std::ios::binary).write(zip.data(), static_cast<std::streamsize>(zip.size()));
    const std::string cmd =
        "python3 -c \"import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
        "names = z.namelist(); assert len(names) == 65536 and names[-1] == 'p65535'; "
        "assert z.testzip() is None; assert z.read('p65535') == b'458745'; "
        "assert all(i.compress_type == zipfile.ZIP_STORED for i in z.infolist())\" " + path;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace tessary
