// Interning cost of the style table: a repeated full style and a repeated bold-only style (served
// by the table's memory of recent styles), and 512 distinct styles in turn (each rendered and
// looked up by its texts), beside the plain-format map. Best of many rounds, ns per call.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "style.h"

namespace {

template <class F>
double ns_per_call(F&& f, int calls) {
    double best = 1e300;
    for (int round = 0; round < 30; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i) f(i);
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, s * 1e9 / calls);
    }
    return best;
}

}  // namespace

int main() {
    using namespace tessary;
    StyleTable t;
    CellStyle full;
    full.font = Font{true, std::nullopt, 12.0, std::string("#112233"), std::string("Arial")};
    full.fill = "#ffeedd";
    full.align = Align{HAlign::Center, std::nullopt, std::nullopt};
    full.border = Border{BorderEdge{BorderStyle::Thin, std::nullopt}, std::nullopt, std::nullopt, std::nullopt};
    CellStyle bold;
    bold.font = Font{true, std::nullopt, std::nullopt, std::nullopt, std::nullopt};
    std::vector<CellStyle> distinct(512, full);
    for (size_t i = 0; i < distinct.size(); ++i) distinct[i].font->size = 6.0 + static_cast<double>(i) / 4;
    const NumFmtKey key = NumFmtKey::custom("#,##0.00");
    uint64_t sink = 0;

    const double repeat_full = ns_per_call([&](int) { sink += t.intern_record(full, key).value(); }, 100000);
    const double repeat_bold = ns_per_call([&](int) { sink += t.intern_record(bold, key).value(); }, 100000);
    const double rotating = ns_per_call(
        [&](int i) { sink += t.intern_record(distinct[static_cast<size_t>(i) % 512], key).value(); }, 100000);
    const double plain = ns_per_call([&](int) { sink += t.intern_plain(key); }, 100000);
    std::printf("repeated full style %.1f ns, repeated bold %.1f ns, 512 styles in turn %.1f ns "
                "(%.1fx the repeated full style), plain-format map %.1f ns  [%llu]\n",
                repeat_full, repeat_bold, rotating, rotating / repeat_full, plain,
                static_cast<unsigned long long>(sink % 10));
}
