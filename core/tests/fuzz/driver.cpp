// A replay driver for the fuzz targets under g++: runs every file of a corpus folder, then a fixed
// number of seeded mutations of them (bit flips, byte overwrites, insertions, cuts, splices), each
// input copied to the very end of its own heap block so that an overread faults under ASan.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run_one(const std::vector<uint8_t>& input) {
    uint8_t* block = static_cast<uint8_t*>(std::malloc(input.size() + 1));
    uint8_t* start = block + 1;  // never a null pointer, even for an empty input
    if (!input.empty()) std::memcpy(start, input.data(), input.size());
    LLVMFuzzerTestOneInput(start, input.size());
    std::free(block);
}

std::vector<uint8_t> mutate(const std::vector<std::vector<uint8_t>>& corpus, std::mt19937_64& rng) {
    std::vector<uint8_t> out = corpus[rng() % corpus.size()];
    const int rounds = 1 + static_cast<int>(rng() % 8);
    for (int r = 0; r < rounds; ++r) {
        switch (rng() % 6) {
            case 0:
                if (!out.empty()) out[rng() % out.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
                break;
            case 1:
                if (!out.empty()) out[rng() % out.size()] = static_cast<uint8_t>(rng());
                break;
            case 2: {
                size_t at = out.empty() ? 0 : rng() % (out.size() + 1);
                static constexpr uint8_t INTERESTING[] = {0, 0xff, '"', '{', '[', '<', '>', '&',
                                                          '\\', 0x7f, 0x80, 0xc3, 'P', 'K'};
                out.insert(out.begin() + static_cast<std::ptrdiff_t>(at),
                           INTERESTING[rng() % sizeof INTERESTING]);
                break;
            }
            case 3:
                if (!out.empty()) out.resize(rng() % out.size());
                break;
            case 4:
                if (out.size() > 1) {
                    size_t a = rng() % out.size(), len = 1 + rng() % (out.size() - a);
                    out.erase(out.begin() + static_cast<std::ptrdiff_t>(a),
                              out.begin() + static_cast<std::ptrdiff_t>(a + len));
                }
                break;
            case 5: {
                const std::vector<uint8_t>& other = corpus[rng() % corpus.size()];
                if (!other.empty()) {
                    size_t a = rng() % other.size(), len = 1 + rng() % (other.size() - a);
                    size_t at = out.empty() ? 0 : rng() % (out.size() + 1);
                    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at),
                               other.begin() + static_cast<std::ptrdiff_t>(a),
                               other.begin() + static_cast<std::ptrdiff_t>(a + len));
                }
                break;
            }
        }
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::vector<uint8_t>> corpus;
    if (argc > 1 && std::filesystem::is_directory(argv[1])) {
        for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    if (corpus.empty()) corpus.emplace_back();
    for (const auto& input : corpus) run_one(input);
    const long mutations = argc > 2 ? std::atol(argv[2]) : 10000;
    std::mt19937_64 rng(0x7e55a7);
    for (long i = 0; i < mutations; ++i) run_one(mutate(corpus, rng));
    std::cout << corpus.size() << " corpus inputs and " << mutations << " mutations ran\n";
    return 0;
}
