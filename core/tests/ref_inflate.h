// A reference DEFLATE decoder for tests and fuzzing: the canonical code read one bit at a time
// (RFC 1951 3.2.2), no tables, with the same leniencies as the library's decoder (NLEN unchecked,
// over-subscribed and incomplete codes accepted, a repeat run may overshoot into the distance
// lengths). It is deliberately plain, so that a disagreement points at the fast decoder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tessary::testing {

class RefInflater {
public:
    RefInflater(const std::vector<uint8_t>& in, size_t max_output)
        : in_(in), max_(max_output) {}

    std::optional<std::string> run() {
        bool final_block = false;
        while (!final_block) {
            int bfinal = bits(1), type = bits(2);
            if (bfinal < 0 || type < 0) return std::nullopt;
            final_block = bfinal == 1;
            bool ok = false;
            if (type == 0) {
                ok = stored();
            } else if (type == 1) {
                std::vector<int> lit(288), dist(30, 5);
                for (int s = 0; s < 288; ++s) lit[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
                ok = codes(Code(lit), Code(dist));
            } else if (type == 2) {
                ok = dynamic();
            }
            if (!ok) return std::nullopt;
        }
        return out_;
    }

private:
    struct Code {
        std::vector<int> count = std::vector<int>(16), symbol;
        explicit Code(const std::vector<int>& lengths) {
            for (int l : lengths) ++count[l];
            count[0] = 0;
            std::vector<int> offs(17);
            for (int l = 1; l < 16; ++l) offs[l + 1] = offs[l] + count[l];
            symbol.resize(lengths.size());
            for (size_t s = 0; s < lengths.size(); ++s)
                if (lengths[s]) symbol[offs[lengths[s]]++] = static_cast<int>(s);
        }
    };

    int bit() {
        if (have_ == 0) {
            if (pos_ >= in_.size()) return -1;
            byte_ = in_[pos_++];
            have_ = 8;
        }
        int b = byte_ & 1;
        byte_ >>= 1;
        --have_;
        return b;
    }
    int bits(int n) {
        int v = 0;
        for (int i = 0; i < n; ++i) {
            int b = bit();
            if (b < 0) return -1;
            v |= b << i;
        }
        return v;
    }
    int decode(const Code& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= 15; ++len) {
            int b = bit();
            if (b < 0) return -1;
            code |= b;
            int count = h.count[len];
            if (code - first < count) return h.symbol[index + (code - first)];
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }
    bool put(char c) {
        if (out_.size() >= max_) return false;
        out_ += c;
        return true;
    }
    bool stored() {
        have_ = 0;
        if (in_.size() - pos_ < 4) return false;
        size_t len = in_[pos_] | (in_[pos_ + 1] << 8);
        pos_ += 4;
        if (in_.size() - pos_ < len) return false;
        for (size_t i = 0; i < len; ++i)
            if (!put(static_cast<char>(in_[pos_ + i]))) return false;
        pos_ += len;
        return true;
    }
    bool codes(const Code& lit, const Code& dist) {
        static const int LBASE[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        static const int LEXT[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        static const int DBASE[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        static const int DEXT[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                   6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (;;) {
            int sym = decode(lit);
            if (sym < 0) return false;
            if (sym < 256) {
                if (!put(static_cast<char>(sym))) return false;
            } else if (sym == 256) {
                return true;
            } else {
                sym -= 257;
                if (sym >= 29) return false;
                int e = bits(LEXT[sym]);
                if (e < 0) return false;
                size_t len = LBASE[sym] + e;
                int ds = decode(dist);
                if (ds < 0 || ds >= 30) return false;
                e = bits(DEXT[ds]);
                if (e < 0) return false;
                size_t d = DBASE[ds] + e;
                if (d > out_.size()) return false;
                for (size_t i = 0; i < len; ++i)
                    if (!put(out_[out_.size() - d])) return false;
            }
        }
    }
    bool dynamic() {
        static const int ORDER[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        int hlit = bits(5), hdist = bits(5), hclen = bits(4);
        if (hlit < 0 || hdist < 0 || hclen < 0) return false;
        hlit += 257;
        hdist += 1;
        hclen += 4;
        std::vector<int> cl(19);
        for (int i = 0; i < hclen; ++i) {
            int v = bits(3);
            if (v < 0) return false;
            cl[ORDER[i]] = v;
        }
        Code clcode(cl);
        std::vector<int> lengths;
        while (static_cast<int>(lengths.size()) < hlit + hdist) {
            int sym = decode(clcode);
            if (sym < 0) return false;
            if (sym < 16) {
                lengths.push_back(sym);
                continue;
            }
            int value = 0, rep;
            if (sym == 16) {
                if (lengths.empty()) return false;
                value = lengths.back();
                rep = bits(2);
                if (rep < 0) return false;
                rep += 3;
            } else if (sym == 17) {
                rep = bits(3);
                if (rep < 0) return false;
                rep += 3;
            } else {
                rep = bits(7);
                if (rep < 0) return false;
                rep += 11;
            }
            lengths.insert(lengths.end(), rep, value);
        }
        std::vector<int> lit(lengths.begin(), lengths.begin() + hlit);
        std::vector<int> dist(lengths.begin() + hlit, lengths.end());
        return codes(Code(lit), Code(dist));
    }

    const std::vector<uint8_t>& in_;
    size_t max_;
    size_t pos_ = 0;
    int byte_ = 0, have_ = 0;
    std::string out_;
};

inline std::optional<std::string> ref_inflate(const std::vector<uint8_t>& in, size_t max_output = SIZE_MAX) {
    return RefInflater(in, max_output).run();
}

}  // namespace tessary::testing
