// Test helpers for whole packages: a small independent walk of a stored archive's central
// directory, and a check of the bytes by a Python script (zipfile, an XML parser, openpyxl where
// installed) that no one here wrote.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "zip.h"

namespace tessary::testing {

inline uint64_t read_le(std::string_view s, size_t at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + i]);
    return v;
}

// The entries of a classic stored archive, in central-directory order; fails the test on anything
// that is not one.
inline std::vector<Part> stored_entries(std::string_view zip) {
    std::vector<Part> out;
    if (zip.size() < 22 || read_le(zip, zip.size() - 22, 4) != 0x06054b50) {
        ADD_FAILURE() << "no end of central directory record";
        return out;
    }
    const size_t eocd = zip.size() - 22;
    const size_t count = read_le(zip, eocd + 10, 2);
    size_t at = read_le(zip, eocd + 16, 4);
    for (size_t i = 0; i < count; ++i) {
        if (at + 46 > zip.size() || read_le(zip, at, 4) != 0x02014b50) {
            ADD_FAILURE() << "bad central header " << i;
            return out;
        }
        const size_t size = read_le(zip, at + 24, 4);
        const size_t name_len = read_le(zip, at + 28, 2);
        const size_t local = read_le(zip, at + 42, 4);
        std::string name(zip.substr(at + 46, name_len));
        const size_t data_at = local + 30 + name_len + read_le(zip, local + 28, 2);
        out.push_back({std::move(name), std::string(zip.substr(data_at, size))});
        at += 46 + name_len + read_le(zip, at + 30, 2);
    }
    return out;
}

inline std::string entry(std::string_view zip, std::string_view name) {
    for (Part& p : stored_entries(zip))
        if (p.name == name) return std::move(p.data);
    ADD_FAILURE() << "no entry " << name;
    return {};
}

inline bool python_has(const char* module) {
    const std::string cmd = std::string("python3 -c 'import ") + module + "' 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
}

// Runs `script` with the path of a file holding `bytes` as sys.argv[1]; true when it exits 0.
inline bool python_check(std::string_view bytes, const std::string& script, const char* tag) {
    const std::string base = ::testing::TempDir() + "tessary_" + tag;
    const std::string data_path = base + ".xlsx";
    const std::string script_path = base + ".py";
    std::ofstream(data_path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::ofstream(script_path) << script;
    const std::string cmd = "python3 " + script_path + " " + data_path;
    const bool ok = std::system(cmd.c_str()) == 0;
    std::remove(data_path.c_str());
    std::remove(script_path.c_str());
    return ok;
}

// Python that opens sys.argv[1] with zipfile, checks every entry is stored and parses as XML.
constexpr const char* PY_WELL_FORMED = R"(
import sys, zipfile, xml.dom.minidom
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
for info in z.infolist():
    assert info.compress_type == zipfile.ZIP_STORED, info.filename
    xml.dom.minidom.parseString(z.read(info.filename))
)";

}  // namespace tessary::testing
