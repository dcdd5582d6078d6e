// Inflating a large deflated worksheet with the reader's decoder and with zlib side by side: the
// sheet XML is generated in memory and compressed with zlib at levels 1, 6 and 9, then the two
// decoders inflate it in turn; the best run of each and their ratio are printed, in thread CPU time
// so that other load on the machine counts less. Run: bench_inflate [rows] [repetitions], or
// bench_inflate limit for the manual check of the 4 GiB - 1 member limit.
#include <zlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "parse/inflate.h"
#include "parse/xml.h"

namespace {

// A worksheet in the shape spreadsheet writers produce: shared-string, number, date and boolean
// cells, ten per row.
std::string sheet_xml(int rows) {
    std::mt19937_64 rng(42);
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                    "<sheetData>";
    char buf[64];
    for (int r = 1; r <= rows; ++r) {
        x += "<row r=\"" + std::to_string(r) + "\" spans=\"1:10\">";
        for (int c = 0; c < 10; ++c) {
            const char col = static_cast<char>('A' + c);
            x += "<c r=\"";
            x += col;
            x += std::to_string(r);
            x += '"';
            switch (c % 5) {
                case 0:
                case 1:
                    x += " t=\"s\"><v>" + std::to_string(rng() % 5000) + "</v></c>";
                    break;
                case 2:
                    std::snprintf(buf, sizeof buf, "><v>%.6g</v></c>", static_cast<double>(rng() % 10000000) / 100.0);
                    x += buf;
                    break;
                case 3:
                    x += " s=\"1\"><v>" + std::to_string(40000 + rng() % 8000) + "</v></c>";
                    break;
                case 4:
                    x += " t=\"b\"><v>" + std::to_string(rng() % 2) + "</v></c>";
                    break;
            }
        }
        x += "</row>";
    }
    x += "</sheetData></worksheet>";
    return x;
}

std::vector<uint8_t> deflate_raw(const std::string& data, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, data.size()));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string zlib_inflate(const std::vector<uint8_t>& in, size_t size_hint) {
    z_stream z{};
    inflateInit2(&z, -15);
    std::string out(size_hint, '\0');
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Thread CPU time: the machine may be shared, and a decoder's own work is what is compared.
double cpu_now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <class F>
double seconds(F&& f) {
    const double t0 = cpu_now();
    f();
    return cpu_now() - t0;
}

// A fixed-code stream inflating to exactly `total` bytes of "x": one literal, then matches of
// length 258 at distance 1, then one shorter match for the rest.
std::vector<uint8_t> run_of_x(uint64_t total) {
    std::vector<uint8_t> out;
    uint64_t acc = 0;
    int n = 0;
    const auto put = [&](uint32_t v, int bits) {  // least significant bit first
        acc |= static_cast<uint64_t>(v) << n;
        n += bits;
        while (n >= 8) {
            out.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
            n -= 8;
        }
    };
    const auto code = [&](uint32_t c, int len) {  // Huffman codes: most significant bit first
        uint32_t r = 0;
        for (int i = 0; i < len; ++i) r |= ((c >> i) & 1) << (len - 1 - i);
        put(r, len);
    };
    put(1, 1);
    put(1, 2);
    code(0x30 + 'x', 8);
    uint64_t left = total - 1;
    const auto match = [&](unsigned length) {
        static const unsigned BASE[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int EXTRA[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        unsigned i = 28;
        while (BASE[i] > length) --i;
        const unsigned sym = 257 + i;
        if (sym < 280)
            code(sym - 256, 7);
        else
            code(0xC0 + sym - 280, 8);
        put(length - BASE[i], EXTRA[i]);
        code(0, 5);  // distance 1
    };
    while (left >= 258 + 3) {
        match(258);
        left -= 258;
    }
    if (left > 258) {
        match(static_cast<unsigned>(left - 3));
        left = 3;
    }
    if (left >= 3) match(static_cast<unsigned>(left));
    else
        for (; left > 0; --left) code(0x30 + 'x', 8);
    code(0, 7);  // end of block
    put(0, 7);
    return out;
}

// Members at the 4 GiB - 1 limit: exactly that size inflates, one byte more is BadDeflate.
int check_limit() {
    for (uint64_t total : {uint64_t{0xFFFFFFFF}, uint64_t{0x100000000}}) {
        const std::vector<uint8_t> stream = run_of_x(total);
        tessary::parse::ReadResult<std::string> r =
            tessary::parse::inflate(std::span<const uint8_t>(stream.data(), stream.size()));
        std::printf("%llu bytes from a %zu-byte stream: %s\n", static_cast<unsigned long long>(total),
                    stream.size(), r.ok() ? "inflated" : "BadDeflate");
        if (r.ok() && (r.value().size() != total || r.value().back() != 'x')) return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // "limit": the manual check of the largest member size (needs about 4.5 GB of memory).
    if (argc > 1 && std::string(argv[1]) == "limit") return check_limit();
    const int rows = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int reps = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::string xml = sheet_xml(rows);
    std::printf("sheet: %d rows, %.1f MB of XML\n", rows, static_cast<double>(xml.size()) / 1e6);
    for (int level : {1, 6, 9}) {
        const std::vector<uint8_t> packed = deflate_raw(xml, level);
        size_t check = 0;
        double t_zlib = 1e30, t_ours = 1e30;
        // Alternate the two decoders and keep the best run of each.
        for (int i = 0; i < reps; ++i) {
            // zlib is given the exact output size up front, its best case.
            t_zlib = std::min(t_zlib, seconds([&] { check += zlib_inflate(packed, xml.size()).size(); }));
            t_ours = std::min(t_ours, seconds([&] {
                tessary::parse::ReadResult<std::string> r =
                    tessary::parse::inflate(std::span<const uint8_t>(packed.data(), packed.size()));
                check += r.ok() ? r.value().size() : 0;
            }));
        }
        tessary::parse::ReadResult<std::string> r =
            tessary::parse::inflate(std::span<const uint8_t>(packed.data(), packed.size()));
        if (!r.ok() || r.value() != xml) std::abort();
        const double mb = static_cast<double>(xml.size()) / 1e6;
        std::printf("level %d: %.1f MB compressed; zlib %.0f MB/s, ours %.0f MB/s: ours/zlib speed %.2fx\n",
                    level, static_cast<double>(packed.size()) / 1e6, mb / t_zlib, mb / t_ours,
                    t_zlib / t_ours);
        if (check == 0) std::abort();
    }
    // The reader's next step on the same sheet: the pull tokenizer alone, events counted.
    double t_tok = 1e30;
    size_t events = 0;
    for (int i = 0; i < reps; ++i) {
        t_tok = std::min(t_tok, seconds([&] {
            tessary::parse::Reader reader(xml);
            tessary::parse::Event ev;
            events = 0;
            while (reader.next(ev)) ++events;
        }));
    }
    std::printf("pull tokenizer: %.0f MB/s, %.1f ns per event (%zu events)\n",
                static_cast<double>(xml.size()) / 1e6 / t_tok, t_tok * 1e9 / static_cast<double>(events),
                events);
    return 0;
}
