// unzip: the reader's ZIP directory walker (APPNOTE 4.3): finds every member through the central
// directory and extracts it, stored (method 0) or deflated (method 8). It deliberately checks no
// CRC-32, no recorded uncompressed size and no ZIP64 record; damage is ReadError::BadZip or, inside
// a deflated member, ReadError::BadDeflate.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace tessary::parse {

// The reader's only error value: one kind per damage, no detail.
enum class ReadError { BadDeflate, BadZip, NotXlsx };

// The fixed message of a kind ("malformed DEFLATE stream").
std::string_view message(ReadError error);

// The reader's results; an operation with nothing to return gives ReadStatus (Ok{} or the kind).
template <class T>
using ReadResult = Result<T, ReadError>;
using ReadStatus = Result<Ok, ReadError>;

// Returns `error` from the enclosing function unless `cond` holds. Write `cond` in a form that cannot
// overflow: `off <= size && size - off >= 46`.
#define TESSARY_REQUIRE(cond, error) \
    do {                             \
        if (!(cond)) return (error); \
    } while (0)

// One member of a package: its central-directory name (lossy UTF-8, not normalised) and its
// uncompressed bytes.
struct Entry {
    std::string name;
    std::string data;
};

// Every member of `package`, inflated, in central-directory order (duplicate names all kept). The
// last end-of-central-directory signature in the package wins; a count of 0 gives an empty list.
// Fails with BadZip for damage to the directory or a local header, or for a method other than 0 and
// 8, and with BadDeflate for a damaged deflated member or one inflating past MAX_MEMBER_SIZE bytes.
// Nothing extracted so far is returned on failure.
ReadResult<std::vector<Entry>> extract(std::span<const uint8_t> package);
ReadResult<std::vector<Entry>> extract(std::string_view package);

// The first entry named exactly `name`, or nullptr.
const Entry* find_entry(const std::vector<Entry>& entries, std::string_view name);

// True when `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool valid_utf8(std::string_view bytes);

// Appends `bytes` with every ill-formed sequence replaced by U+FFFD, one replacement per maximal
// subpart (Unicode 15 section 3.9, as Python's errors="replace" does).
void lossy_utf8_into(std::string& out, std::string_view bytes);

}  // namespace tessary::parse
