// Tests of the ZIP directory walker: a package made by Python's zipfile, hand-built packages with
// one damaged field each and the exact error, the leniencies (comments, trailing bytes, false end
// records, CRC-32 and sizes never compared), and the lossy UTF-8 conversion of names.
#include <gtest/gtest.h>
#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include "helpers.h"
#include "parse/unzip.h"

namespace tessary::parse {
namespace {

using tessary::testing::expect_bytes;

std::string from_hex(std::string_view hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    return out;
}

// Made by Python's zipfile: "[Content_Types].xml" stored, "xl/workbook.xml" deflated, "empty"
// stored with no data, and the archive comment "made by zipfile".
const std::string ZIPFILE_PACKAGE = from_hex(
    "504b030414000000000000002100c71c173c0800000008000000130000005b436f6e74656e745f54797065735d2e786d"
    "6c3c54797065732f3e504b03041400000008000000210052f2218023000000690100000f000000786c2f776f726b626f"
    "6f6b2e786d6cb329cf2fca4ecacfcfb6b329ce484d2d51c84bcc4db5550a56d21f15a082803e3c7801504b0304140000"
    "0000000000210000000000000000000000000005000000656d707479504b0102140314000000000000002100c71c173c"
    "08000000080000001300000000000000000000008001000000005b436f6e74656e745f54797065735d2e786d6c504b01"
    "0214031400000008000000210052f2218023000000690100000f0000000000000000000000800139000000786c2f776f"
    "726b626f6f6b2e786d6c504b010214031400000000000000210000000000000000000000000005000000000000000000"
    "0000800189000000656d707479504b05060000000003000300b1000000ac0000000f006d616465206279207a69706669"
    "6c65");

ReadResult<std::vector<Entry>> extract_copy(const std::string& pkg) {
    // The package sits alone in its own heap block so that an overread faults under ASan.
    std::vector<uint8_t> copy(pkg.begin(), pkg.end());
    return extract(std::span<const uint8_t>(copy.data(), copy.size()));
}

std::string names_of(const std::vector<Entry>& entries) {
    std::string out;
    for (const Entry& e : entries) out += (out.empty() ? "" : "|") + e.name;
    return out;
}

TEST(Extract, ReadsZipfilePackage) {
    ReadResult<std::vector<Entry>> r = extract_copy(ZIPFILE_PACKAGE);
    ASSERT_TRUE(r.ok());
    const std::vector<Entry>& e = r.value();
    EXPECT_EQ(names_of(e), "[Content_Types].xml|xl/workbook.xml|empty");
    expect_bytes(e[0].data, "<Types/>");
    std::string workbook = "<workbook>";
    for (int i = 0; i < 20; ++i) workbook += "<sheet name=\"S\"/>";
    expect_bytes(e[1].data, workbook + "</workbook>");
    EXPECT_EQ(e[2].data, "");
    ASSERT_NE(find_entry(e, "xl/workbook.xml"), nullptr);
    EXPECT_EQ(find_entry(e, "xl/workbook.xml")->name, "xl/workbook.xml");
    EXPECT_EQ(find_entry(e, "XL/workbook.xml"), nullptr);
}

// ---- Hand-built packages ---------------------------------------------------------------------------

struct Writer {
    std::string s;
    Writer& u16(uint32_t v) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>((v >> 8) & 0xFF);
        return *this;
    }
    Writer& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Writer& bytes(std::string_view b) {
        s += b;
        return *this;
    }
};

std::string raw_deflate(std::string_view data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

struct Member {
    std::string name;
    std::string content;     // uncompressed
    uint16_t method = 0;     // 0 stored, 8 deflated (other methods store the content as is)
};

// A package and the offsets of its records, for damaging one field at a time.
struct Package {
    std::string bytes;
    std::vector<size_t> local, central;
    size_t eocd = 0;

    void put16(size_t at, uint32_t v) {
        bytes[at] = static_cast<char>(v & 0xFF);
        bytes[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    void put32(size_t at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    }
};

Package build(const std::vector<Member>& members, std::string_view comment = "") {
    Package p;
    Writer w;
    std::vector<std::string> stored;
    for (const Member& m : members) {
        stored.push_back(m.method == 8 ? raw_deflate(m.content) : m.content);
        p.local.push_back(w.s.size());
        w.u32(0x04034B50)            // signature
            .u16(20)                 // version needed
            .u16(0)                  // flags
            .u16(m.method)           // method
            .u16(0).u16(0x21)        // time, date
            .u32(0)                  // CRC-32: never checked
            .u32(static_cast<uint32_t>(stored.back().size()))  // compressed size
            .u32(static_cast<uint32_t>(m.content.size()))      // uncompressed size
            .u16(static_cast<uint32_t>(m.name.size()))         // name length
            .u16(0)                  // extra length
            .bytes(m.name)
            .bytes(stored.back());
    }
    const size_t cd = w.s.size();
    for (size_t i = 0; i < members.size(); ++i) {
        const Member& m = members[i];
        p.central.push_back(w.s.size());
        w.u32(0x02014B50)            // signature
            .u16(20).u16(20)         // versions
            .u16(0)                  // flags
            .u16(m.method)           // 10: method
            .u16(0).u16(0x21)        // time, date
            .u32(0xDEADBEEF)         // CRC-32: wrong on purpose
            .u32(static_cast<uint32_t>(stored[i].size()))   // 20: compressed size
            .u32(12345)              // uncompressed size: wrong on purpose
            .u16(static_cast<uint32_t>(m.name.size()))      // 28: name length
            .u16(0)                  // 30: extra length
            .u16(0)                  // 32: comment length
            .u16(0).u16(0).u32(0)    // disk, attributes
            .u32(static_cast<uint32_t>(p.local[i]))         // 42: local header offset
            .bytes(m.name);
    }
    p.eocd = w.s.size();
    w.u32(0x06054B50)                // signature
        .u16(0).u16(0)               // disk numbers
        .u16(static_cast<uint32_t>(members.size()))   // entries on this disk
        .u16(static_cast<uint32_t>(members.size()))   // 10: total entries
        .u32(static_cast<uint32_t>(p.eocd - cd))      // directory size
        .u32(static_cast<uint32_t>(cd))               // 16: directory offset
        .u16(static_cast<uint32_t>(comment.size()))   // comment length
        .bytes(comment);
    p.bytes = w.s;
    return p;
}

const std::vector<Member> TWO = {{"xl/workbook.xml", "<workbook/>", 8}, {"a.txt", "plain", 0}};

TEST(Extract, Leniencies) {
    struct Case {
        const char* what;
        std::function<void(Package&)> damage;
        std::string names;
    };
    const Case cases[] = {
        {"wrong CRC-32 and uncompressed size are not compared", [](Package&) {}, "xl/workbook.xml|a.txt"},
        {"trailing bytes after the end record", [](Package& p) { p.bytes += "trailing junk"; },
         "xl/workbook.xml|a.txt"},
        {"archive comment length larger than the comment", [](Package& p) { p.put16(p.eocd + 20, 999); },
         "xl/workbook.xml|a.txt"},
        {"entries-on-disk count and directory size ignored",
         [](Package& p) {
             p.put16(p.eocd + 8, 7);
             p.put32(p.eocd + 12, 1);
         },
         "xl/workbook.xml|a.txt"},
        {"local header's own sizes and name ignored",
         [](Package& p) {
             p.put32(p.local[1] + 18, 0xFFFFFFFF);  // compressed size
             p.bytes[p.local[1] + 30] = 'Z';         // first byte of the name
         },
         "xl/workbook.xml|a.txt"},
        {"count smaller than the directory: only the first entries",
         [](Package& p) { p.put16(p.eocd + 10, 1); }, "xl/workbook.xml"},
        {"count 0 gives no entries", [](Package& p) { p.put16(p.eocd + 10, 0); }, ""},
    };
    for (const Case& c : cases) {
        Package p = build(TWO, "a comment");
        c.damage(p);
        ReadResult<std::vector<Entry>> r = extract_copy(p.bytes);
        ASSERT_TRUE(r.ok()) << c.what;
        EXPECT_EQ(names_of(r.value()), c.names) << c.what;
        if (!r.value().empty()) {
            EXPECT_EQ(r.value()[0].data, "<workbook/>") << c.what;
        }
    }
}

TEST(Extract, MalformedFieldsFail) {
    struct Case {
        const char* what;
        std::function<void(Package&)> damage;
        ReadError want;
    };
    const Case cases[] = {
        {"no end record signature", [](Package& p) { p.put32(p.eocd, 0x06054B51); }, ReadError::BadZip},
        {"directory offset past the end", [](Package& p) { p.put32(p.eocd + 16, 0x7FFFFFFF); },
         ReadError::BadZip},
        {"directory offset 0xFFFFFFFF (a ZIP64 placeholder)",
         [](Package& p) { p.put32(p.eocd + 16, 0xFFFFFFFF); }, ReadError::BadZip},
        {"central header signature", [](Package& p) { p.put32(p.central[1], 0x02014B51); }, ReadError::BadZip},
        {"count larger than the directory", [](Package& p) { p.put16(p.eocd + 10, 3); }, ReadError::BadZip},
        {"central name running past the end", [](Package& p) { p.put16(p.central[1] + 28, 0xFFFF); },
         ReadError::BadZip},
        {"extra and comment lengths moving the next header",
         [](Package& p) { p.put16(p.central[0] + 30, 3); }, ReadError::BadZip},
        {"local header offset past the end", [](Package& p) { p.put32(p.central[1] + 42, 0xFFFFFFF0); },
         ReadError::BadZip},
        {"local header 29 bytes before the end",
         [](Package& p) { p.put32(p.central[1] + 42, static_cast<uint32_t>(p.bytes.size() - 29)); },
         ReadError::BadZip},
        {"local header signature", [](Package& p) { p.put32(p.local[0], 0x04034B51); }, ReadError::BadZip},
        {"local extra length moving the data past the end",
         [](Package& p) { p.put16(p.local[1] + 28, 0xFFFF); }, ReadError::BadZip},
        {"compressed size past the end", [](Package& p) { p.put32(p.central[1] + 20, 0xFFFFFFFF); },
         ReadError::BadZip},
        {"method 12 (bzip2)", [](Package& p) { p.put16(p.central[1] + 10, 12); }, ReadError::BadZip},
        {"method 9 (deflate64)", [](Package& p) { p.put16(p.central[0] + 10, 9); }, ReadError::BadZip},
        {"stored bytes read as deflate", [](Package& p) { p.put16(p.central[1] + 10, 8); },
         ReadError::BadDeflate},
        {"damaged deflate data", [](Package& p) { p.bytes[p.local[0] + 30 + 15] = '\xFF'; },
         ReadError::BadDeflate},
        {"deflated member cut short", [](Package& p) { p.put32(p.central[0] + 20, 3); },
         ReadError::BadDeflate},
    };
    for (const Case& c : cases) {
        Package p = build(TWO);
        c.damage(p);
        ReadResult<std::vector<Entry>> r = extract_copy(p.bytes);
        ASSERT_FALSE(r.ok()) << c.what;
        EXPECT_EQ(r.error(), c.want) << c.what;
    }
}

TEST(Extract, ShortAndEmptyPackages) {
    struct Case {
        std::string bytes;
        bool ok;
    };
    const std::string end_record = build({}).bytes;
    ASSERT_EQ(end_record.size(), 22u);
    const Case cases[] = {
        {"", false},
        {end_record.substr(0, 21), false},  // shorter than 22 bytes
        {end_record, true},                  // exactly an empty end record
        {"junk before " + end_record, true},
        {std::string(21, 'P') + "K", false},
    };
    for (const Case& c : cases) {
        ReadResult<std::vector<Entry>> r = extract_copy(c.bytes);
        EXPECT_EQ(r.ok(), c.ok) << c.bytes.size() << " bytes";
        if (r.ok()) {
            EXPECT_TRUE(r.value().empty());
        } else {
            EXPECT_EQ(r.error(), ReadError::BadZip);
        }
    }
}

TEST(Extract, LastEndRecordSignatureWins) {
    // A comment holding a second, false end record (count 0): it is the last signature, so it wins.
    Package p = build(TWO);
    Writer fake;
    fake.u32(0x06054B50).u16(0).u16(0).u16(0).u16(0).u32(0).u32(0).u16(0);
    p.put16(p.eocd + 20, 22);
    p.bytes += fake.s;
    ReadResult<std::vector<Entry>> r = extract_copy(p.bytes);
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r.value().empty());

    // A bare signature in the comment, too close to the end to hold a whole record, is not seen;
    // one with 18 more bytes is, and its garbage fields fail.
    Package q = build(TWO, std::string("PK\x05\x06", 4) + "short");
    ReadResult<std::vector<Entry>> rq = extract_copy(q.bytes);
    ASSERT_TRUE(rq.ok());
    EXPECT_EQ(names_of(rq.value()), "xl/workbook.xml|a.txt");
    Package g = build(TWO, std::string("PK\x05\x06", 4) + "\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01\x01");
    ReadResult<std::vector<Entry>> rg = extract_copy(g.bytes);
    ASSERT_FALSE(rg.ok());
    EXPECT_EQ(rg.error(), ReadError::BadZip);
}

TEST(Extract, EntriesKeepDirectoryOrderAndNames) {
    const std::vector<Member> members = {
        {"b.xml", "first", 0},
        {"a.xml", "", 0},           // stored, size 0
        {"b.xml", "second", 8},     // a duplicate name: both stay
        {"/xl\\Odd.XML", "x", 0},   // not normalised
        {"bad\xff\xc3name", "y", 0},
        {"", "nameless", 8},
    };
    ReadResult<std::vector<Entry>> r = extract_copy(build(members).bytes);
    ASSERT_TRUE(r.ok());
    const std::vector<Entry>& e = r.value();
    ASSERT_EQ(e.size(), 6u);
    const char* want_names[] = {"b.xml", "a.xml", "b.xml", "/xl\\Odd.XML", "bad\xEF\xBF\xBD\xEF\xBF\xBDname", ""};
    const char* want_data[] = {"first", "", "second", "x", "y", "nameless"};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(e[i].name, want_names[i]) << i;
        EXPECT_EQ(e[i].data, want_data[i]) << i;
    }
    EXPECT_EQ(find_entry(e, "b.xml")->data, "first");
}

TEST(ReadErrorMessage, FixedTexts) {
    EXPECT_EQ(message(ReadError::BadDeflate), "malformed DEFLATE stream");
    EXPECT_EQ(message(ReadError::BadZip), "malformed OPC zip container");
    EXPECT_EQ(message(ReadError::NotXlsx), "not an .xlsx (no xl/workbook.xml)");
}

TEST(LossyUtf8, ReplacesMaximalSubparts) {
    // Expected texts from Python's bytes.decode("utf-8", "replace").
    struct Case {
        std::string in, want;
    };
    const std::string R = "\xEF\xBF\xBD";
    const std::string R2 = R + R, R3 = R2 + R, R4 = R3 + R;
    const Case cases[] = {
        {"abc", "abc"},
        {"caf\xc3\xa9", "caf\xc3\xa9"},
        {"\xe2\x82\xac", "\xe2\x82\xac"},
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        {"\xff", R},
        {"a\x80" "b", "a" + R + "b"},
        {"\xc3", R},
        {"\xe2\x82", R},                       // one truncated sequence, one replacement
        {"\xe0\x80\x80", R3},                  // overlong: each byte
        {"\xed\xa0\x80", R3},                  // surrogate
        {"\xf4\x90\x80\x80", R4},              // past U+10FFFF
        {"\xf0\x9f\x98", R},
        {"\xc0\xaf", R2},
        {"\xf8\x88\x80\x80\x80", R4 + R},
        {"\xe2\x82x", R + "x"},
        {"\xf1\x80\x80\xc3\xa9", R + "\xc3\xa9"},
    };
    for (const Case& c : cases) {
        std::string out = "<";
        lossy_utf8_into(out, c.in);
        EXPECT_EQ(out, "<" + std::string(c.want)) << "input of " << c.in.size() << " bytes";
        EXPECT_EQ(valid_utf8(c.in), c.in == c.want) << "input of " << c.in.size() << " bytes";
    }
    // Long ASCII runs around a bad byte (the eight-byte ASCII scan).
    for (size_t at = 0; at < 40; ++at) {
        std::string s(40, 'a');
        s[at] = '\x80';
        EXPECT_FALSE(valid_utf8(s)) << at;
        std::string out;
        lossy_utf8_into(out, s);
        EXPECT_EQ(out, std::string(at, 'a') + R + std::string(39 - at, 'a'));
    }
}

}  // namespace
}  // namespace tessary::parse
