// zip: the stored ZIP container (APPNOTE 6.3.10) of a package: entries in list order, never
// compressed, fixed time stamps, CRC-32 by slicing-by-8. ZIP64 records appear only when a size,
// an offset or the entry count does not fit the classic fields; nothing here can fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessary {

// One entry of the archive: its path inside the archive (no leading slash, ASCII, shorter than
// 65536 bytes, as every package part name is) and its content.
struct Part {
    std::string name;
    std::string data;
};

// The eight slicing-by-8 tables of the reflected polynomial 0xEDB88320 (8 KiB), built once per
// process on first use under a one-time guard; later calls only read them.
struct CrcTables {
    uint32_t t[8][256];
};
const CrcTables& crc_tables();

// The ZIP CRC-32 of `bytes` ("123456789" gives 0xCBF43926, no bytes give 0).
uint32_t crc32(std::string_view bytes);

constexpr uint32_t LOCAL_HEADER_SIGNATURE = 0x04034b50;
constexpr uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014b50;
constexpr uint32_t EOCD_SIGNATURE = 0x06054b50;
constexpr uint32_t ZIP64_EOCD_SIGNATURE = 0x06064b50;
constexpr uint32_t ZIP64_LOCATOR_SIGNATURE = 0x07064b50;
constexpr uint16_t ZIP64_EXTRA_ID = 0x0001;
constexpr size_t LOCAL_HEADER_SIZE = 30;
constexpr size_t CENTRAL_HEADER_SIZE = 46;
constexpr size_t EOCD_SIZE = 22;
constexpr size_t ZIP64_EOCD_SIZE = 56;
constexpr size_t ZIP64_LOCATOR_SIZE = 20;
// A classic 32-bit field holds values below this; the value itself marks a ZIP64 field.
constexpr uint64_t ZIP32_LIMIT = 0xFFFFFFFF;
// A classic entry count holds values below this.
constexpr uint64_t ZIP16_LIMIT = 0xFFFF;

// Size of the ZIP64 extra field of an entry's local header (0, or 20 when the data size needs it).
size_t local_extra_size(uint64_t data_size);
// Size of the ZIP64 extra field of an entry's central header (0 when every field fits).
size_t central_extra_size(uint64_t data_size, uint64_t local_offset);

// The shape of one entry for the size arithmetic: its name and data lengths.
struct EntryShape {
    uint64_t name_size;
    uint64_t data_size;
};

// Where everything lands in the archive of entries of these shapes, in order.
struct ArchiveLayout {
    uint64_t central_offset = 0;  // start of the central directory
    uint64_t central_size = 0;    // length of the central directory
    uint64_t total_size = 0;      // exact length of the whole archive
    bool zip64_end = false;       // ZIP64 end record and locator precede the end record
};
ArchiveLayout archive_layout(std::span<const EntryShape> entries);

// Appends the local file header of an entry, its name included (APPNOTE 4.3.7).
void push_local_header(std::string& out, std::string_view name, uint32_t crc, uint64_t data_size,
                       uint64_t local_offset);
// Appends the central directory header of an entry, its name included (APPNOTE 4.3.12).
void push_central_header(std::string& out, std::string_view name, uint32_t crc, uint64_t data_size,
                         uint64_t local_offset);
// Appends the end records: ZIP64 end record and locator when `zip64_end`, then the classic end
// record with every field that does not fit set to its all-ones marker (APPNOTE 4.3.14 to 4.3.16).
void push_end_records(std::string& out, uint64_t entries, uint64_t central_size,
                      uint64_t central_offset, bool zip64_end);

// The archive of `parts`, in list order, in one buffer allocated at its exact final size. Each
// part's data is copied once and released as soon as it is in the archive.
std::string write_archive(std::vector<Part> parts);

}  // namespace tessary
