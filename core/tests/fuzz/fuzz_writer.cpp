// Fuzz target for the streaming writer's state machine: the input is a program of sheet openings
// (names, merges, column widths from the input), rows of every cell kind, closings and a final
// finish. Whatever the sequence, nothing crashes, a failed call changes no counts, and a finished
// package extracts with one worksheet per completed sheet and parses back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "parse/read.h"
#include "parse/unzip.h"
#include "writer.h"

using namespace tessary;

namespace {

struct Input {
    const uint8_t* p;
    size_t n;
    uint8_t byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    std::string text(size_t max) {
        const size_t len = std::min<size_t>(byte() % (max + 1), n);
        std::string s(reinterpret_cast<const char*>(p), len);
        p += len;
        n -= len;
        return s;
    }
};

constexpr const char* MERGES[] = {"A1:B2", "C3:C9", "A1:B2", "XFD1:XFD2", "bad", "A0:B1", ""};
constexpr const char* COLOURS[] = {"#12AB34", "ffffff", "#12", "#GGGGGG", ""};

CellStyle style_from(Input& in) {
    CellStyle s;
    const uint8_t b = in.byte();
    if (b & 1) s.fill = COLOURS[(b >> 1) % 5];
    if (b & 16) s.font.emplace().bold = true;
    if (b & 32) s.font.emplace().color = COLOURS[(b >> 2) % 5];
    return s;
}

Cell cell_from(Input& in) {
    const uint8_t kind = in.byte();
    std::optional<CellStyle> style;
    if (kind & 0x80) style = style_from(in);
    double v = 0;
    if (in.n >= sizeof v) {
        std::memcpy(&v, in.p, sizeof v);
        in.p += sizeof v;
        in.n -= sizeof v;
    }
    switch (kind % 7) {
        case 0: return StringCell{in.text(12), style};
        case 1: return NumberCell{v, std::nullopt, style};
        case 2: {
            CurrencyCell c;
            c.value = static_cast<int64_t>(in.byte()) * 1001 - 100000;
            c.currency.code = in.text(4);
            c.style = style;
            return c;
        }
        case 3: return PercentCell{v, std::nullopt, style};
        case 4:
            if (kind & 8) return DateCell{in.text(20), std::nullopt, style};
            return DateCell{v, std::nullopt, style};
        case 5: return BooleanCell{(kind & 8) != 0, style};
        default: return BlankCell{style};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    WriteOptions opts;
    WorkbookWriter w(std::nullopt, opts);
    for (int step = 0; step < 200 && in.n > 0; ++step) {
        const uint8_t op = in.byte();
        switch (op % 4) {
            case 0: {
                Sheet s;
                s.name = in.text(40);
                const uint8_t m = in.byte();
                for (int i = 0; i < 3; ++i)
                    if (m & (1 << i)) s.merges.push_back(MERGES[(m >> (3 + i)) % 7]);
                if (op & 0x10) {
                    s.columns.resize(1 + in.byte() % 4);
                    s.columns[0].width = static_cast<double>(in.byte()) * 2 - 10;
                    s.columns[0].style = style_from(in);
                }
                const size_t sheets = w.sheet_count();
                const bool was_open = w.has_open_sheet();
                if (!w.start_sheet(std::move(s)).ok()) {
                    // Either the name was refused (nothing changed) or closing lost the open sheet.
                    if (w.sheet_count() != sheets) std::abort();
                    if (w.has_open_sheet() && !was_open) std::abort();
                }
                break;
            }
            case 1:
            case 3: {
                Row r;
                const size_t cells = in.byte() % 8;
                for (size_t i = 0; i < cells; ++i) r.cells.push_back(cell_from(in));
                if (op & 0x20) r.outline_level = in.byte() % 12;
                if (op & 0x40) r.is_total = true;
                const uint32_t rows = w.open_rows();
                const bool ok = w.write_row(r).ok();
                if (w.open_rows() != rows + (ok && w.has_open_sheet() ? 1 : 0)) std::abort();
                break;
            }
            case 2: {
                (void)w.close_open();
                if (w.has_open_sheet()) std::abort();
                break;
            }
        }
    }
    Result<WriteResult> done = std::move(w).finish();
    if (!done.ok()) return 0;
    const std::string& bytes = done.value().bytes;
    auto entries = parse::extract(std::string_view(bytes));
    if (!entries.ok() || entries.value().size() < 8) std::abort();
    auto book = parse::parse(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    if (!book.ok() || book.value().sheets.size() != entries.value().size() - 7) std::abort();
    return 0;
}
