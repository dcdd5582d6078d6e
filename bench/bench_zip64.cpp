// bench_zip64: a manual run of the archive writer past the classic limits with real data: one
// entry of 4 GiB + 1 MiB (sizes in ZIP64 extra fields) and a small entry behind it (its offset in
// one), about 8.2 GiB of memory at the peak. Writes the archive to the path given, where an
// independent reader can check it, e.g.
//   bench_zip64 /tmp/big.zip && python3 -c "import zipfile; print(zipfile.ZipFile('/tmp/big.zip').testzip())"
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "zip.h"

int main(int argc, char** argv) {
    using namespace tessary;
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_zip64 OUTPUT.zip\n");
        return 2;
    }
    std::vector<Part> parts(2);
    parts[0].name = "big.bin";
    parts[0].data.resize((4ull << 30) + (1u << 20));
    for (size_t i = 0; i < parts[0].data.size(); i += 4096) parts[0].data[i] = static_cast<char>(i >> 12);
    parts[1] = {"small.txt", "after the big entry"};
    const uint32_t big_crc = crc32(parts[0].data);
    const auto t0 = std::chrono::steady_clock::now();
    const std::string zip = write_archive(std::move(parts));
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("archive of %.2f GiB in %.2f s (%.2f GB/s); big.bin CRC %08X\n",
                zip.size() / double(1ull << 30), s, zip.size() / s / 1e9, big_crc);
    std::ofstream(argv[1], std::ios::binary).write(zip.data(), static_cast<std::streamsize>(zip.size()));
    return 0;
}
