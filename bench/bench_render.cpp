// bench_render: the one-shot write of a large table (rows x 10 mixed cells: numbers, strings of
// 8-16 letters, ISO date texts, currencies, percents, booleans) into the finished package, once
// unstyled and once with a style on every column; prints cells per second, the styled/unstyled
// ratio, peak memory against the model plus twice the XML, and our CRC-32 beside zlib's.
//
//   bench_render [rows=1000000] [unstyled|styled|both]
#include <sys/resource.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "lib.h"
#include "zip.h"

namespace {

using namespace tessary;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Resident set size now, from /proc/self/statm, in MiB.
double rss_now_mib() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * 4096.0 / (1 << 20);
}

// CPU time (user + system) of this process so far, in seconds: steadier than wall time on a busy
// machine.
double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double peak_rss_mib() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_maxrss) / 1024.0;
}

Workbook make_table(uint32_t rows, bool styled) {
    std::mt19937_64 rng(42);
    Workbook book;
    Sheet& sheet = book.sheets.emplace_back();
    sheet.name = "Data";
    if (styled) {
        sheet.columns.resize(10);
        for (uint32_t c = 0; c < 10; ++c) {
            CellStyle& s = sheet.columns[c].style.emplace();
            switch (c % 4) {
                case 0: s.font.emplace().bold = true; break;
                case 1: s.fill = "#FFF2CC"; break;
                case 2: s.border.emplace().bottom = BorderEdge{BorderStyle::Thin, "#999999"}; break;
                case 3: s.align.emplace().horizontal = HAlign::Right; break;
            }
        }
    }
    sheet.rows.reserve(rows);
    char letters[17];
    char date[11];
    for (uint32_t r = 0; r < rows; ++r) {
        Row& row = sheet.rows.emplace_back();
        row.cells.reserve(10);
        const size_t len = 8 + rng() % 9;
        for (size_t i = 0; i < len; ++i) letters[i] = static_cast<char>('a' + rng() % 26);
        std::snprintf(date, sizeof date, "20%02u-%02u-%02u", static_cast<unsigned>(rng() % 30),
                      static_cast<unsigned>(1 + rng() % 12), static_cast<unsigned>(1 + rng() % 28));
        CurrencyCell money;
        money.value = static_cast<int64_t>(rng() % 10000000) - 5000000;
        money.currency.code = "USD";
        row.cells.push_back(NumberCell{static_cast<double>(r), std::nullopt, std::nullopt});
        row.cells.push_back(StringCell{std::string(letters, len), std::nullopt});
        row.cells.push_back(DateCell{std::string(date), std::nullopt, std::nullopt});
        row.cells.push_back(std::move(money));
        row.cells.push_back(PercentCell{static_cast<double>(rng() % 1000) / 1000.0, std::nullopt,
                                        std::nullopt});
        row.cells.push_back(BooleanCell{(rng() & 1) != 0, std::nullopt});
        row.cells.push_back(NumberCell{static_cast<double>(rng() % 1000000) / 100.0, std::nullopt,
                                       std::nullopt});
        row.cells.push_back(StringCell{std::string(letters + 1, len - 1), std::nullopt});
        row.cells.push_back(NumberCell{static_cast<double>(rng() % 100000), std::nullopt,
                                       std::nullopt});
        row.cells.push_back(DateCell{static_cast<double>(40000 + rng() % 10000), std::nullopt,
                                     std::nullopt});
    }
    return book;
}

struct Run {
    double seconds = 0;
    double cpu = 0;
    size_t bytes = 0;
    double model_mib = 0;
    double peak_over_start_mib = 0;
};

Run run(uint32_t rows, bool styled) {
    const double before_model = rss_now_mib();
    Workbook book = make_table(rows, styled);
    Run out;
    out.model_mib = rss_now_mib() - before_model;
    const double start = rss_now_mib();
    const auto t0 = Clock::now();
    const double c0 = cpu_seconds();
    Result<WriteResult> got = write(book, WriteOptions{});
    out.cpu = cpu_seconds() - c0;
    out.seconds = seconds_since(t0);
    if (!got.ok()) {
        std::fprintf(stderr, "write failed: %s\n", got.error().message.c_str());
        std::exit(1);
    }
    out.bytes = got.value().bytes.size();
    out.peak_over_start_mib = peak_rss_mib() - start;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t rows = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    const std::string mode = argc > 2 ? argv[2] : "both";
    const double cells = rows * 10.0;
    std::printf("rows %u x 10 cells\n", rows);

    Run plain{}, styled{};
    if (mode != "styled") {
        plain = run(rows, false);
        const double xml_mib = plain.bytes / double(1 << 20);
        std::printf("unstyled: %.3f s wall, %.3f s CPU, %.1f M cells/s of CPU, package %.1f MiB\n",
                    plain.seconds, plain.cpu, cells / plain.cpu / 1e6, xml_mib);
        std::printf("  memory: model %.0f MiB, write peak above the model %.0f MiB = %.2f x XML "
                    "(budget 2 x XML)\n",
                    plain.model_mib, plain.peak_over_start_mib, plain.peak_over_start_mib / xml_mib);
    }
    if (mode != "unstyled") {
        styled = run(rows, true);
        std::printf("styled:   %.3f s wall, %.3f s CPU, %.1f M cells/s of CPU, package %.1f MiB\n",
                    styled.seconds, styled.cpu, cells / styled.cpu / 1e6,
                    styled.bytes / double(1 << 20));
    }
    if (mode == "both") std::printf("styled / unstyled CPU time: %.2f\n", styled.cpu / plain.cpu);

    // CRC-32 of the package-sized buffer: slicing-by-8 against zlib's.
    std::string buf(plain.bytes ? plain.bytes : styled.bytes, 'x');
    for (size_t i = 0; i < buf.size(); i += 13) buf[i] = static_cast<char>(i);
    auto t0 = Clock::now();
    const uint32_t ours = crc32(buf);
    const double ours_s = seconds_since(t0);
    t0 = Clock::now();
    uLong theirs = ::crc32(0, nullptr, 0);
    for (size_t at = 0; at < buf.size(); at += 1 << 30) {
        const size_t n = std::min<size_t>(1 << 30, buf.size() - at);
        theirs = ::crc32(theirs, reinterpret_cast<const Bytef*>(buf.data() + at), static_cast<uInt>(n));
    }
    const double zlib_s = seconds_since(t0);
    std::printf("crc32 over %.0f MiB: ours %.2f GB/s, zlib %.2f GB/s (ratio %.2f)%s\n",
                buf.size() / double(1 << 20), buf.size() / ours_s / 1e9, buf.size() / zlib_s / 1e9,
                zlib_s / ours_s, ours == theirs ? "" : "  MISMATCH");

    // The archive pass (checksum and copy in one) against zlib's checksum followed by a plain copy.
    std::vector<Part> parts;
    parts.push_back({"xl/worksheets/sheet1.xml", buf});
    const double c1 = cpu_seconds();
    const std::string zip = write_archive(std::move(parts));
    const double archive_s = cpu_seconds() - c1;
    const double c2 = cpu_seconds();
    uLong z = ::crc32(0, nullptr, 0);
    for (size_t at = 0; at < buf.size(); at += 1 << 30) {
        const size_t n = std::min<size_t>(1 << 30, buf.size() - at);
        z = ::crc32(z, reinterpret_cast<const Bytef*>(buf.data() + at), static_cast<uInt>(n));
    }
    std::string copy;
    copy.reserve(buf.size());
    copy.append(buf);
    const double peer_s = cpu_seconds() - c2;
    std::printf("archive pass: %.2f GB/s of CPU; zlib crc32 + copy %.2f GB/s (ratio %.2f)%s\n",
                buf.size() / archive_s / 1e9, buf.size() / peer_s / 1e9, peer_s / archive_s,
                zip.size() == copy.size() + 2 * 24 + 76 + 22 ? "" : "  SIZE MISMATCH");
    return 0;
}
