#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cfb.h"
#include "cfb_reader.h"
#include "helpers.h"

namespace tessary {
namespace {

using testing::expect_bytes;
using testing::expect_error;
using testing::le16;
using testing::le32;
using testing::read_cfb;

std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

// UTF-16LE of an ASCII text.
std::string w(std::string_view ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

TEST(BuildCfb, HeaderOfAVersion3File) {
    Result<std::string> r = build_cfb("info", "package");
    ASSERT_TRUE(r.ok()) << r.error().message;
    const std::string& f = r.value();
    ASSERT_GE(f.size(), 512u);
    EXPECT_EQ(f.size() % 512, 0u);
    expect_bytes(f.substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    expect_bytes(f.substr(8, 16), std::string(16, '\0'));  // CLSID
    struct Field { size_t at; uint32_t want; const char* name; };
    const Field fields[] = {
        {24, 0x003E, "minor version"}, {26, 0x0003, "major version"}, {28, 0xFFFE, "byte order"},
        {30, 9, "sector shift"},       {32, 6, "mini sector shift"},
    };
    for (const Field& fl : fields) EXPECT_EQ(le16(f, fl.at), fl.want) << fl.name;
    expect_bytes(f.substr(34, 6), std::string(6, '\0'));  // reserved
    EXPECT_EQ(le32(f, 40), 0u) << "directory sectors are not counted in version 3";
    EXPECT_EQ(le32(f, 44), 1u) << "FAT sectors";
    EXPECT_EQ(le32(f, 52), 0u) << "transaction signature";
    EXPECT_EQ(le32(f, 56), 4096u) << "mini stream cutoff";
    EXPECT_EQ(le32(f, 64), 1u) << "mini FAT sectors";
    EXPECT_EQ(le32(f, 68), CFB_ENDOFCHAIN) << "no DIFAT sector";
    EXPECT_EQ(le32(f, 72), 0u);
    for (size_t slot = 1; slot < 109; ++slot) EXPECT_EQ(le32(f, 76 + 4 * slot), CFB_FREESECT) << slot;
}

TEST(BuildCfb, StreamsAndDataSpacesReadBack) {
    struct Case { size_t info, package; };
    const Case cases[] = {
        {0, 0}, {1, 8}, {63, 64}, {65, 24}, {1213, 4095},  // all in the mini stream
        {1213, 4096}, {4096, 4097}, {1213, 100000},          // past the cutoff
        {5000, 0},
    };
    for (const Case& c : cases) {
        const std::string info = pattern(c.info, 1), package = pattern(c.package, 2);
        Result<std::string> r = build_cfb(info, package);
        ASSERT_TRUE(r.ok()) << r.error().message;
        testing::CfbContents got = read_cfb(r.value());
        SCOPED_TRACE("info " + std::to_string(c.info) + ", package " + std::to_string(c.package));
        EXPECT_EQ(got.streams.size(), 6u);
        EXPECT_TRUE(got.streams["EncryptionInfo"] == info);
        EXPECT_TRUE(got.streams["EncryptedPackage"] == package);
        EXPECT_EQ(got.streams["\x06" "DataSpaces/Version"], data_space_version());
        EXPECT_EQ(got.streams["\x06" "DataSpaces/DataSpaceMap"], data_space_map());
        EXPECT_EQ(got.streams["\x06" "DataSpaces/DataSpaceInfo/StrongEncryptionDataSpace"],
                  data_space_definition());
        EXPECT_EQ(got.streams["\x06" "DataSpaces/TransformInfo/StrongEncryptionTransform/\x06" "Primary"],
                  transform_primary());
        EXPECT_EQ(got.storages, (std::set<std::string>{
                                    "\x06" "DataSpaces", "\x06" "DataSpaces/DataSpaceInfo",
                                    "\x06" "DataSpaces/TransformInfo",
                                    "\x06" "DataSpaces/TransformInfo/StrongEncryptionTransform"}));
        EXPECT_EQ(got.difat_sectors, 0u);
    }
}

TEST(BuildCfb, LargeStreamNeedsDifatSectors) {
    // 109 FAT sectors map 109 * 128 sectors of 512 bytes (about 7 MB); 10 MB needs a DIFAT sector.
    const std::string package = pattern(10u << 20, 3);
    Result<std::string> r = build_cfb("info", package);
    ASSERT_TRUE(r.ok()) << r.error().message;
    testing::CfbContents got = read_cfb(r.value());
    EXPECT_GT(got.fat_sectors, 109u);
    EXPECT_EQ(got.difat_sectors, 1u);
    EXPECT_TRUE(got.streams["EncryptedPackage"] == package);
    EXPECT_EQ(got.streams["EncryptionInfo"], "info");
}

TEST(BuildCfb, DifatGrowsPastOneSector) {
    // 109 + 127 FAT sectors map about 15.5 MB; streams beyond need a second DIFAT sector.
    const std::string package = pattern(17u << 20, 4);
    Result<std::string> r = build_cfb("", package);
    ASSERT_TRUE(r.ok());
    testing::CfbContents got = read_cfb(r.value());
    EXPECT_EQ(got.difat_sectors, 2u);
    EXPECT_TRUE(got.streams["EncryptedPackage"] == package);
}

// The data-spaces structures of MS-OFFCRYPTO 2.1.5 to 2.1.9, spelled out field by field.
TEST(DataSpaces, ExactBytes) {
    expect_bytes(data_space_version(),
                 std::string("\x3C\0\0\0", 4) + w("Microsoft.Container.DataSpaces") +
                     std::string("\1\0\0\0" "\1\0\0\0" "\1\0\0\0", 12));
    expect_bytes(data_space_map(),
                 std::string("\x08\0\0\0" "\x01\0\0\0"  // HeaderLength, EntryCount
                             "\x68\0\0\0"                 // entry Length: 104
                             "\x01\0\0\0" "\0\0\0\0"      // one reference, a stream
                             "\x20\0\0\0", 24) +
                     w("EncryptedPackage") + std::string("\x32\0\0\0", 4) +
                     w("StrongEncryptionDataSpace") + std::string(2, '\0'));
    expect_bytes(data_space_definition(),
                 std::string("\x08\0\0\0" "\x01\0\0\0" "\x32\0\0\0", 12) +
                     w("StrongEncryptionTransform") + std::string(2, '\0'));
    expect_bytes(transform_primary(),
                 std::string("\x58\0\0\0" "\x01\0\0\0" "\x4C\0\0\0", 12) +
                     w("{FF9A3F03-56EF-4613-BDD5-5A41C1D07246}") + std::string("\x4E\0\0\0", 4) +
                     w("Microsoft.Container.EncryptionTransform") + std::string(2, '\0') +
                     std::string("\1\0\0\0" "\1\0\0\0" "\1\0\0\0"  // versions 1.0
                                 "\0\0\0\0" "\0\0\0\0" "\0\0\0\0"  // name, block size, mode
                                 "\4\0\0\0", 28));
    EXPECT_EQ(transform_primary().size(), 200u);
}

// Names in MS-CFB order: shorter first, then by upper-case code unit.
bool cfb_less(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = static_cast<char>(toupper(static_cast<unsigned char>(a[i])));
        const char y = static_cast<char>(toupper(static_cast<unsigned char>(b[i])));
        if (x != y) return x < y;
    }
    return false;
}

// Checks order and colouring of the tree below `id`; returns its black height (0 for none).
int check_tree(const std::vector<testing::CfbEntry>& e, uint32_t id, const std::string* lo,
               const std::string* hi, bool parent_red) {
    if (id == CFB_NOSTREAM) return 1;
    const testing::CfbEntry& n = e.at(id);
    if (lo) {
        EXPECT_TRUE(cfb_less(*lo, n.name)) << *lo << " before " << n.name;
    }
    if (hi) {
        EXPECT_TRUE(cfb_less(n.name, *hi)) << n.name << " before " << *hi;
    }
    EXPECT_FALSE(parent_red && n.red) << "red child of a red node: " << n.name;
    const int l = check_tree(e, n.left, lo, &n.name, n.red);
    const int r = check_tree(e, n.right, &n.name, hi, n.red);
    EXPECT_EQ(l, r) << "black heights differ below " << n.name;
    return l + (n.red ? 0 : 1);
}

TEST(CfbWriter, SiblingsFormRedBlackTrees) {
    for (size_t n = 1; n <= 40; ++n) {
        CfbWriter cfb;
        std::vector<std::string> names;
        for (size_t i = 0; i < n; ++i) {
            // Names of mixed lengths and cases, added out of order.
            std::string name = std::string(1 + (i * 7) % 5, static_cast<char>('a' + (i * 11) % 26));
            name += std::to_string(i);
            if (i % 3 == 0) name[0] = static_cast<char>(toupper(name[0]));
            names.push_back(name);
            ASSERT_TRUE(cfb.add_stream_copy(CfbWriter::ROOT, name, "x").ok()) << name;
        }
        Result<std::string> r = cfb.finish();
        ASSERT_TRUE(r.ok());
        testing::CfbContents got = read_cfb(r.value());
        EXPECT_EQ(got.streams.size(), n);
        const testing::CfbEntry& root = got.entries.at(0);
        EXPECT_FALSE(got.entries.at(root.child).red) << "the tree's root is black, n=" << n;
        check_tree(got.entries, root.child, nullptr, nullptr, false);
    }
}

TEST(CfbWriter, InPlaceStreamsAreContiguous) {
    for (uint64_t size : {uint64_t{24}, uint64_t{4096}, uint64_t{70000}}) {
        CfbWriter cfb;
        ASSERT_TRUE(cfb.add_stream_copy(CfbWriter::ROOT, "small", "abc").ok());
        Result<uint32_t> id = cfb.add_stream_of_size(CfbWriter::ROOT, "later", size);
        ASSERT_TRUE(id.ok());
        Result<std::string> r = cfb.finish();
        ASSERT_TRUE(r.ok());
        const std::string want = pattern(size, 5);
        ASSERT_LE(cfb.stream_offset(id.value()) + size, r.value().size());
        std::copy(want.begin(), want.end(), r.value().begin() + static_cast<long>(cfb.stream_offset(id.value())));
        testing::CfbContents got = read_cfb(r.value());
        EXPECT_TRUE(got.streams["later"] == want) << size;
        EXPECT_EQ(got.streams["small"], "abc");
    }
}

TEST(CfbWriter, RejectsBadEntries) {
    struct Case { std::string_view name; uint32_t parent; const char* message; };
    const Case cases[] = {
        {"", CfbWriter::ROOT, "cfb: empty name"},
        {"abcdefghijklmnopqrstuvwxyz012345", CfbWriter::ROOT, "cfb: name longer than 31 characters"},
        {"a/b", CfbWriter::ROOT, "cfb: name holds / \\ : or !"},
        {"a!", CfbWriter::ROOT, "cfb: name holds / \\ : or !"},
        {"bad\xC3", CfbWriter::ROOT, "cfb: name is not UTF-8"},
        {"ENCRYPTIONinfo", CfbWriter::ROOT, "cfb: name taken"},
        {"x", 1, "cfb: no such storage"},   // a stream is no parent
        {"x", 99, "cfb: no such storage"},
    };
    for (const Case& c : cases) {
        CfbWriter cfb;
        ASSERT_TRUE(write_stream(cfb, "EncryptionInfo", "data").ok());
        expect_error(cfb.add_stream(c.parent, c.name, "y"), ErrorCode::Encryption, c.message);
    }
    CfbWriter cfb;
    EXPECT_TRUE(cfb.add_stream(CfbWriter::ROOT, "abcdefghijklmnopqrstuvwxyz01234", "").ok()) << "31 units";
    EXPECT_TRUE(cfb.add_stream(CfbWriter::ROOT, "\xF0\x9F\x98\x80", "").ok()) << "a surrogate pair";
    EXPECT_TRUE(cfb.add_stream_of_size(CfbWriter::ROOT, "max", CFB_MAX_STREAM_SIZE).ok());
    expect_error(cfb.add_stream_of_size(CfbWriter::ROOT, "over", CFB_MAX_STREAM_SIZE + 1),
                 ErrorCode::Encryption, "cfb: stream larger than 2 GiB");
}

TEST(BuildCfb, SameNameInDifferentStoragesIsAllowed) {
    CfbWriter cfb;
    Result<uint32_t> a = cfb.add_storage(CfbWriter::ROOT, "a");
    Result<uint32_t> b = cfb.add_storage(CfbWriter::ROOT, "b");
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_TRUE(cfb.add_stream_copy(a.value(), "s", "1").ok());
    EXPECT_TRUE(cfb.add_stream_copy(b.value(), "s", "2").ok());
    Result<std::string> r = cfb.finish();
    ASSERT_TRUE(r.ok());
    testing::CfbContents got = read_cfb(r.value());
    EXPECT_EQ(got.streams["a/s"], "1");
    EXPECT_EQ(got.streams["b/s"], "2");
}

}  // namespace
}  // namespace tessary
