// bench_json: reading the JSON text of a workbook (rows x 10 mixed cells: strings, numbers, date
// texts and serials, currencies, percents, booleans, a few styled cells) into the model; prints MB/s
// of from_json_str beside the generic value parser on the same text, and from_json_value.
//
//   bench_json [rows=100000] [runs=5] [cold|warm] [all|text]   (text: from_json_str only)
// Times are CPU seconds (user + system), the best of the runs.
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <optional>
#include <string>

#include "json.h"
#include "model.h"

namespace {

using namespace tessary;

std::string workbook_text(int rows) {
    std::mt19937_64 rng(42);
    std::string out = R"({"schemaVersion":"1","locale":"en-US","sheets":[{"name":"Data","columns":[)"
                      R"({"width":12},{"width":20,"style":{"font":{"bold":true}}},{},{},{},{},{},{},{},{}],)"
                      R"("rows":[)";
    auto word = [&] {
        std::string w;
        const int n = 8 + static_cast<int>(rng() % 9);
        for (int k = 0; k < n; ++k) w += static_cast<char>('a' + rng() % 26);
        return w;
    };
    for (int r = 0; r < rows; ++r) {
        if (r) out += ',';
        out += R"({"cells":[)";
        out += R"({"type":"string","value":")" + word() + "\"},";
        out += R"({"type":"number","value":)" + std::to_string(static_cast<double>(rng() % 1000000) / 100) + "},";
        out += R"({"type":"date","value":"2024-)" + std::to_string(10 + rng() % 3) + "-" +
               std::to_string(10 + rng() % 18) + "\"},";
        out += R"({"type":"currency","value":)" + std::to_string(rng() % 10000000) +
               R"(,"currency":{"code":"USD"}},)";
        out += R"({"type":"number","value":)" + std::to_string(rng() % 100000) +
               R"(,"format":{"decimals":2,"grouped":true}},)";
        if (r % 50 == 0)
            out += R"({"type":"string","value":")" + word() +
                   R"(","style":{"fill":"#ffee00","font":{"italic":true},"align":{"horizontal":"center"}}},)";
        else
            out += R"({"type":"string","value":")" + word() + "\"},";
        out += R"({"type":"boolean","value":)" + std::string(rng() % 2 ? "true" : "false") + "},";
        out += R"({"type":"percent","value":0.)" + std::to_string(rng() % 1000) + "},";
        out += R"({"type":"date","value":)" + std::to_string(40000 + rng() % 10000) + ".5},";
        out += R"({"type":"blank"}]})";
    }
    out += "]}]}";
    return out;
}

// CPU time (user + system) of this process so far: steadier than wall time on a busy machine.
double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    // "warm": freed memory stays with the process, so later runs reuse pages instead of faulting
    // fresh ones in (the model of this table is about 0.5 GB; its first touch costs more than the
    // reading itself).
    const bool warm = argc > 3 && std::string(argv[3]) == "warm";
    if (warm) {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
    }
    const std::string text = workbook_text(rows);
    const double mb = static_cast<double>(text.size()) / 1e6;
    std::printf("workbook text: %d rows x 10 cells, %.1f MB\n", rows, mb);

    // The model of the previous run is freed outside the timed region.
    std::optional<Result<Workbook>> kept;
    double t_model = 1e30;
    for (int k = 0; k < runs; ++k) {
        kept.reset();
        const double t0 = cpu_seconds();
        kept.emplace(from_json_str(text));
        t_model = std::min(t_model, cpu_seconds() - t0);
        if (!kept->ok()) {
            std::fprintf(stderr, "%s\n", kept->error().message.c_str());
            return 1;
        }
    }
    kept.reset();
    if (argc > 4 && std::string(argv[4]) == "text") {
        std::printf("from_json_str          %8.3f s  %7.1f MB/s\n", t_model, mb / t_model);
        return 0;
    }
    std::optional<Result<json::Value>> parsed;
    double t_value = 1e30;
    for (int k = 0; k < runs; ++k) {
        parsed.reset();
        const double t0 = cpu_seconds();
        parsed.emplace(json::parse(text));
        t_value = std::min(t_value, cpu_seconds() - t0);
        if (!parsed->ok()) return 1;
    }
    parsed.reset();
    double t_from_value = 1e30;
    for (int k = 0; k < runs; ++k) {
        Result<json::Value> v = json::parse(text);
        const double t0 = cpu_seconds();
        Result<Workbook> b = from_json_value(std::move(v.value()));
        t_from_value = std::min(t_from_value, cpu_seconds() - t0);
        if (!b.ok()) std::exit(1);
    }
    std::printf("from_json_str          %8.3f s  %7.1f MB/s\n", t_model, mb / t_model);
    std::printf("json::parse (values)   %8.3f s  %7.1f MB/s  (from_json_str is %.2fx)\n", t_value,
                mb / t_value, t_value / t_model);
    std::printf("from_json_value        %8.3f s  (after parsing; %.2fx of from_json_str)\n", t_from_value,
                t_from_value / t_model);
    return 0;
}
