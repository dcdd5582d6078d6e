// Encryption benchmark: the password derivation (100000 SHA-512 spins); the encryption of a 100 MB
// package into its compound file, beside a plain copy and a zlib CRC-32 pass over the same bytes;
// and a workbook of about 100 MB written with and without a password, so that encrypting stands
// beside rendering. Prints times and ratios; it is not a test.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "encrypt.h"
#include "lib.h"

namespace {

using Clock = std::chrono::steady_clock;

double cpu_now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The best wall-clock and thread CPU seconds of a few runs (the machine may be shared, so both).
struct Timing {
    double wall = 1e9, cpu = 1e9;
};

template <class F>
Timing best_of(int runs, F&& f) {
    Timing best;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        const double c0 = cpu_now();
        f();
        best.cpu = std::min(best.cpu, cpu_now() - c0);
        best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

// Stored-ZIP-like bytes: XML text with varying digits, as a rendered package holds.
std::string fake_package(size_t n) {
    std::string s;
    s.reserve(n + 64);
    uint32_t x = 1;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        s += "<c r=\"B";
        s += std::to_string(x % 1000000);
        s += "\"><v>";
        s += std::to_string(x >> 8);
        s += "</v></c>";
    }
    s.resize(n);
    return s;
}

// 10 mixed cells per row: text, numbers and booleans, as an export holds them.
tessary::Workbook export_book(size_t rows) {
    tessary::Workbook book;
    tessary::Sheet sheet;
    sheet.name = "Export";
    sheet.rows.reserve(rows);
    for (size_t r = 0; r < rows; ++r) {
        tessary::Row row;
        row.cells.reserve(10);
        for (int c = 0; c < 10; ++c) {
            if (c % 3 == 0)
                row.cells.emplace_back(tessary::StringCell{"customer " + std::to_string(r * 10 + c) + " north", {}});
            else if (c % 3 == 1)
                row.cells.emplace_back(tessary::NumberCell{static_cast<double>(r) * 1.25 + c, {}, {}});
            else
                row.cells.emplace_back(tessary::BooleanCell{(r + c) % 2 == 0, {}});
        }
        sheet.rows.push_back(std::move(row));
    }
    book.sheets.push_back(std::move(sheet));
    return book;
}

}  // namespace

int main() {
    const std::string salt(16, '\x5a');
    const Timing derive = best_of(5, [&] {
        volatile size_t sink = tessary::password_hash("correct horse battery staple", salt).size();
        (void)sink;
    });
    std::printf("password derivation (100000 spins): %.1f ms wall, %.1f ms CPU (limit 100 ms)\n",
                derive.wall * 1e3, derive.cpu * 1e3);

    const size_t size = 100u << 20;
    const double mb = static_cast<double>(size) / (1 << 20);
    const std::string package = fake_package(size);
    size_t out_size = 0;
    const Timing enc = best_of(3, [&] {
        tessary::Result<std::string> r = tessary::encrypt(package, "pw");
        out_size = r.ok() ? r.value().size() : 0;
    });
    std::vector<char> copy;
    const Timing cp = best_of(3, [&] {
        std::vector<char> fresh(size);
        std::memcpy(fresh.data(), package.data(), size);
        copy.swap(fresh);
    });
    uLong crc = 0;
    const Timing crc_time = best_of(3, [&] {
        crc = crc32(0L, reinterpret_cast<const Bytef*>(package.data()), static_cast<uInt>(size));
    });
    std::printf("encrypt 100 MB package (derivation included): %.3f s wall, %.3f s CPU (%.0f MB/s CPU); "
                "file %zu bytes\n", enc.wall, enc.cpu, mb / enc.cpu, out_size);
    std::printf("copy into a fresh buffer: %.3f s CPU; encrypt/copy = %.1fx\n", cp.cpu, enc.cpu / cp.cpu);
    std::printf("zlib crc32 pass: %.3f s CPU; encrypt/crc32 = %.1fx (crc %lx)\n", crc_time.cpu,
                enc.cpu / crc_time.cpu, crc);

    const tessary::Workbook book = export_book(170000);
    tessary::WriteOptions plain_opts, locked_opts;
    locked_opts.password = "pw";
    size_t plain_size = 0, locked_size = 0;
    const Timing render = best_of(3, [&] {
        tessary::Result<tessary::WriteResult> r = tessary::write(book, plain_opts);
        plain_size = r.ok() ? r.value().bytes.size() : 0;
    });
    const Timing locked = best_of(3, [&] {
        tessary::Result<tessary::WriteResult> r = tessary::write(book, locked_opts);
        locked_size = r.ok() ? r.value().bytes.size() : 0;
    });
    std::printf("write of 170000 rows x 10 cells: package %zu bytes in %.3f s CPU; with a password "
                "%zu bytes in %.3f s CPU\n", plain_size, render.cpu, locked_size, locked.cpu);
    std::printf("  encrypting costs %.3f s CPU = %.2fx the rendering (at most 1x wanted)\n",
                locked.cpu - render.cpu, (locked.cpu - render.cpu) / render.cpu);
    return 0;
}
