// Escaping cost beside a plain append of the same texts: words of 8 to 16 letters (the common
// cell text), and the same words with markup and underscores in one of ten. Prints ns per text and
// the ratio to the plain append; the best of many rounds, so a busy machine disturbs it less.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "xml.h"

namespace {

std::vector<std::string> words(bool with_work) {
    std::mt19937 rng(1);
    std::vector<std::string> out;
    for (int i = 0; i < 100000; ++i) {
        std::string w;
        const int n = 8 + static_cast<int>(rng() % 9);
        for (int k = 0; k < n; ++k) w += static_cast<char>('a' + rng() % 26);
        if (with_work && i % 10 == 0) w += " & snake_case";
        out.push_back(std::move(w));
    }
    return out;
}

using Fn = void (*)(std::string&, std::string_view);

double ns_per_text(Fn fn, const std::vector<std::string>& texts) {
    std::string out;
    out.reserve(4 << 20);
    double best = 1e300;
    for (int round = 0; round < 40; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (int rep = 0; rep < 3; ++rep) {
            out.clear();
            for (const std::string& t : texts) fn(out, t);
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = std::min(best, s * 1e9 / (3.0 * static_cast<double>(texts.size())));
    }
    return best;
}

}  // namespace

int main() {
    const Fn append = [](std::string& o, std::string_view t) { o.append(t); };
    for (bool with_work : {false, true}) {
        const std::vector<std::string> texts = words(with_work);
        const double base = ns_per_text(append, texts);
        const double plain = ns_per_text(tessary::escape_into, texts);
        const double cell = ns_per_text(tessary::escape_cell_text_into, texts);
        std::printf("%s texts: append %.1f ns, escape_into %.1f ns (%.2fx), escape_cell_text_into %.1f ns (%.2fx)\n",
                    with_work ? "mixed" : "clean", base, plain, plain / base, cell, cell / base);
    }
}
