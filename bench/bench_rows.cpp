// bench_rows: the row renderer alone over rows x 10 mixed cells (numbers, strings of 8-16 letters,
// ISO date texts, currencies, percents, booleans, serials), unstyled, with a style on every
// column, and with a style on every cell; beside it the floor of copying the same bytes into a
// buffer. Prints ns per cell, cells per second and the ratios.
//
//   bench_rows [rows=500000] [all|unstyled]
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "style.h"
#include "worksheet.h"

namespace {

using namespace tessary;

// CPU time of this process, steadier than wall time on a busy machine.
double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<Row> make_rows(size_t n, bool cell_styles) {
    std::mt19937_64 rng(42);
    std::vector<Row> rows;
    rows.reserve(n);
    char letters[17];
    CellStyle own;
    own.font = Font{};
    own.font->italic = true;
    for (size_t r = 0; r < n; ++r) {
        size_t len = 8 + rng() % 9;
        for (size_t i = 0; i < len; ++i) letters[i] = static_cast<char>('a' + rng() % 26);
        char date[11];
        std::snprintf(date, sizeof date, "20%02d-%02d-%02d", static_cast<int>(rng() % 30),
                      static_cast<int>(1 + rng() % 12), static_cast<int>(1 + rng() % 28));
        std::optional<CellStyle> s = cell_styles ? std::optional<CellStyle>(own) : std::nullopt;
        Row row;
        row.cells.reserve(10);
        CurrencyCell money;
        money.value = static_cast<int64_t>(rng() % 10000000);
        money.currency.code = "USD";
        money.style = s;
        row.cells.push_back(NumberCell{static_cast<double>(r), std::nullopt, s});
        row.cells.push_back(StringCell{std::string(letters, len), s});
        row.cells.push_back(DateCell{std::string(date), std::nullopt, s});
        row.cells.push_back(std::move(money));
        row.cells.push_back(PercentCell{static_cast<double>(rng() % 1000) / 1000.0, std::nullopt, s});
        row.cells.push_back(BooleanCell{(rng() & 1) != 0, s});
        row.cells.push_back(NumberCell{static_cast<double>(rng() % 1000000) / 100.0, std::nullopt, s});
        row.cells.push_back(StringCell{std::string(letters + 1, len - 1), s});
        row.cells.push_back(NumberCell{static_cast<double>(rng() % 100000), std::nullopt, s});
        row.cells.push_back(DateCell{static_cast<double>(40000 + rng() % 10000), std::nullopt, s});
        rows.push_back(std::move(row));
    }
    return rows;
}

struct Run {
    double seconds;
    size_t bytes;
    std::string xml;
};

// Renders every row four times with a fresh table and cache each time: the first pass into a new
// buffer (paying for its first touch of memory), then three timed passes into the same buffer
// emptied, of which the fastest counts (the machine may be shared).
Run render(const std::vector<Row>& rows, const std::vector<Column>& columns) {
    std::string out;
    out.reserve(rows.size() * 10 * 48);
    double sec = 1e300;
    for (int pass = 0; pass < 4; ++pass) {
        out.clear();
        StyleTable styles;
        Diagnostics lints;
        ColCache cache;
        double t0 = cpu_seconds();
        for (size_t r = 0; r < rows.size(); ++r) {
            Status s = row_xml(out, columns, rows[r], static_cast<uint32_t>(r), "en-US", styles,
                               lints, cache);
            if (!s.ok()) std::abort();
        }
        if (pass > 0) sec = std::min(sec, cpu_seconds() - t0);
    }
    return {sec, out.size(), std::move(out)};
}

// The floor: appending the finished text in pieces of one cell's size into a buffer whose memory
// is already touched.
double copy_floor(const std::string& xml, size_t cells) {
    std::string out(xml.size(), ' ');
    out.clear();
    size_t piece = xml.size() / cells;
    double t0 = cpu_seconds();
    for (size_t at = 0; at < xml.size(); at += piece) {
        out.append(xml, at, std::min(piece, xml.size() - at));
    }
    double sec = cpu_seconds() - t0;
    if (out.size() != xml.size()) std::abort();
    return sec;
}

}  // namespace

int main(int argc, char** argv) {
    size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 500000;
    size_t cells = n * 10;
    std::vector<Row> plain = make_rows(n, false);
    std::vector<Row> styled_cells = make_rows(n, true);
    std::vector<Column> styled_columns(10);
    for (size_t c = 0; c < 10; ++c) {
        CellStyle& s = styled_columns[c].style.emplace();
        s.fill = c % 2 == 0 ? "#DDEEFF" : "#FFEEDD";
        s.font = Font{};
        s.font->bold = c == 0;
    }
    std::string mode = argc > 2 ? argv[2] : "all";
    Run unstyled = render(plain, {});
    if (mode == "unstyled") {
        std::printf("%.1f ns/cell\n", unstyled.seconds * 1e9 / cells);
        return 0;
    }
    Run columns = render(plain, styled_columns);
    Run each = render(styled_cells, {});
    double floor = copy_floor(unstyled.xml, cells);
    auto line = [&](const char* name, const Run& r) {
        std::printf("%-22s %8.1f ns/cell %8.1f M cells/s %7.1f MB  x%.2f of unstyled\n", name,
                    r.seconds * 1e9 / cells, cells / r.seconds / 1e6, r.bytes / 1e6,
                    r.seconds / unstyled.seconds);
    };
    std::printf("%zu rows x 10 cells\n", n);
    line("unstyled", unstyled);
    line("style on every column", columns);
    line("style on every cell", each);
    std::printf("%-22s %8.1f ns/cell (copying the unstyled text in cell-sized pieces)\n", "floor",
                floor * 1e9 / cells);
    return 0;
}
