// cfb: an in-memory writer of version 3 compound files (MS-CFB): 512-byte sectors, 64-byte mini
// sectors below the 4096-byte cutoff, FAT with DIFAT sectors past the 109 header slots, and one
// balanced red-black tree of siblings per storage. It writes new files only; it never reads one.
// Every error is Encryption "cfb: {text}".
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "error.h"

namespace tessary {

// MS-CFB 2.2 and 2.3: sector sizes of a version 3 file and the special sector numbers.
constexpr uint32_t CFB_SECTOR_SIZE = 512;
constexpr uint32_t CFB_MINI_SECTOR_SIZE = 64;
constexpr uint32_t CFB_MINI_STREAM_CUTOFF = 4096;
constexpr uint32_t CFB_HEADER_DIFAT_SLOTS = 109;
constexpr uint32_t CFB_DIFSECT = 0xFFFFFFFC;
constexpr uint32_t CFB_FATSECT = 0xFFFFFFFD;
constexpr uint32_t CFB_ENDOFCHAIN = 0xFFFFFFFE;
constexpr uint32_t CFB_FREESECT = 0xFFFFFFFF;
constexpr uint32_t CFB_NOSTREAM = 0xFFFFFFFF;
// A version 3 stream holds at most 0x80000000 bytes (MS-CFB 2.6.3, Stream Size).
constexpr uint64_t CFB_MAX_STREAM_SIZE = 0x80000000u;

// Builds one compound file. Storages and streams are added under a parent storage (ROOT is the
// root storage); stream bytes are borrowed and must stay alive until finish(). A stream may also be
// added by size alone and filled in place after finish(): every stream's bytes are one contiguous
// range of the file, found with stream_offset().
class CfbWriter {
public:
    static constexpr uint32_t ROOT = 0;

    CfbWriter();

    // Adds an empty storage; returns its id. Fails on a bad parent, a bad or taken name.
    Result<uint32_t> add_storage(uint32_t parent, std::string_view name);
    // Adds a stream with the given bytes; returns its id. Same failures, and a stream too large.
    Result<uint32_t> add_stream(uint32_t parent, std::string_view name, std::string_view data);
    // Adds a stream with its own copy of the bytes.
    Result<uint32_t> add_stream_copy(uint32_t parent, std::string_view name, std::string data);
    // Adds a stream of `size` zero bytes, to be overwritten in place after finish().
    Result<uint32_t> add_stream_of_size(uint32_t parent, std::string_view name, uint64_t size);

    // Lays out every sector and returns the file bytes. Call once.
    Result<std::string> finish();
    // The file offset of the first byte of a stream, valid after finish().
    size_t stream_offset(uint32_t id) const { return entries_[id].offset; }

private:
    struct Entry {
        std::u16string name;
        uint8_t type;  // 1 storage, 2 stream, 5 root (MS-CFB 2.6.1, Object Type)
        uint32_t parent;
        std::string_view data;
        bool has_data;
        uint64_t size;
        std::vector<uint32_t> children;
        uint32_t left = CFB_NOSTREAM, right = CFB_NOSTREAM, child = CFB_NOSTREAM;
        bool red = false;
        uint32_t start = CFB_ENDOFCHAIN;
        size_t offset = 0;
    };

    Result<uint32_t> add_entry(uint32_t parent, std::string_view name, uint8_t type,
                               std::string_view data, bool has_data, uint64_t size);
    uint32_t build_tree(std::vector<uint32_t>& sorted, size_t lo, size_t hi, int depth, int red_depth);

    std::vector<Entry> entries_;
    std::deque<std::string> owned_;  // a deque never moves its strings, so views stay valid
};

// Adds a stream with `data` at the root of `cfb` (the bytes are borrowed until finish()).
Status write_stream(CfbWriter& cfb, std::string_view name, std::string_view data);

// Adds the constant \x06DataSpaces storage of MS-OFFCRYPTO 2.1 and 2.3.4.1 to 2.3.4.3 that marks
// EncryptedPackage as transformed by the strong encryption transform.
Status add_data_spaces(CfbWriter& cfb);

// The four data-spaces streams, built from the structure definitions of MS-OFFCRYPTO 2.1.5 to 2.1.9.
std::string data_space_version();
std::string data_space_map();
std::string data_space_definition();
std::string transform_primary();

// The compound file holding the streams EncryptionInfo and EncryptedPackage and the data-spaces
// storage, or Encryption "cfb: {text}".
Result<std::string> build_cfb(std::string_view encryption_info, std::string_view encrypted_package);

}  // namespace tessary
