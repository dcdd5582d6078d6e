// json: the strict JSON text reader (RFC 8259) with positioned messages, the message pieces of the
// schema readers, and the compact printer. Numbers are read correctly rounded with std::from_chars
// and printed from the shortest round-trip digits of std::to_chars.
#include "json.h"
#include "utf8.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace tessary::json {

namespace {

constexpr std::string_view EOF_VALUE = "EOF while parsing a value";
constexpr std::string_view EOF_LIST = "EOF while parsing a list";
constexpr std::string_view EOF_OBJECT = "EOF while parsing an object";
constexpr std::string_view EOF_STRING = "EOF while parsing a string";
constexpr std::string_view EXPECTED_VALUE = "expected value";
constexpr std::string_view INVALID_NUMBER = "invalid number";
constexpr std::string_view TRAILING_COMMA = "trailing comma";
constexpr std::string_view TRAILING_CHARACTERS = "trailing characters";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The length of the well-formed UTF-8 sequence at p (RFC 3629 section 4), or 0.
size_t utf8_length(const unsigned char* p, size_t avail) {
    const unsigned char c = p[0];
    size_t len;
    unsigned char lo = 0x80, hi = 0xbf;
    if (c >= 0xc2 && c <= 0xdf) {
        len = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        len = 3;
        if (c == 0xe0) lo = 0xa0;
        if (c == 0xed) hi = 0x9f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        len = 4;
        if (c == 0xf0) lo = 0x90;
        if (c == 0xf4) hi = 0x8f;
    } else {
        return 0;
    }
    if (avail < len) return 0;
    if (p[1] < lo || p[1] > hi) return 0;
    for (size_t k = 2; k < len; ++k)
        if (p[k] < 0x80 || p[k] > 0xbf) return 0;
    return len;
}

// The shortest round-trip digits of a finite, non-zero |value| and the decimal exponent of the
// first digit: value = d.ddd x 10^exp.
void shortest_digits(double value, std::string& digits, int& exp) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    const char* p = buf;
    digits.clear();
    while (p < res.ptr && *p != 'e') {
        if (*p != '.') digits += *p;
        ++p;
    }
    exp = 0;
    if (p < res.ptr) {
        ++p;
        bool neg = *p == '-';
        ++p;
        while (p < res.ptr) exp = exp * 10 + (*p++ - '0');
        if (neg) exp = -exp;
    }
}

void push_positional(std::string& out, const std::string& digits, int exp) {
    if (exp >= 0) {
        const size_t int_len = static_cast<size_t>(exp) + 1;
        if (digits.size() <= int_len) {
            out += digits;
            out.append(int_len - digits.size(), '0');
        } else {
            out.append(digits, 0, int_len);
            out += '.';
            out.append(digits, int_len, std::string::npos);
        }
    } else {
        out += "0.";
        out.append(static_cast<size_t>(-exp - 1), '0');
        out += digits;
    }
}

void push_u64(std::string& out, uint64_t v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void push_i64(std::string& out, int64_t v) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

}  // namespace

// ---- Errors ----

void Reader::set_error(ErrorCode code, std::string message, bool positioned, size_t at) {
    if (failed_) return;
    failed_ = true;
    code_ = code;
    message_ = std::move(message);
    positioned_ = positioned;
    at_ = at;
}

bool Reader::error(std::string_view message) {
    set_error(ErrorCode::InvalidJson, std::string(message), true, i_);
    return false;
}

bool Reader::peek_error(std::string_view message) {
    set_error(ErrorCode::InvalidJson, std::string(message), true, i_ < n_ ? i_ + 1 : n_);
    return false;
}

bool Reader::custom(std::string message) {
    set_error(ErrorCode::SchemaViolation, std::move(message), false, 0);
    return false;
}

void Reader::fix_position() {
    if (failed_ && !positioned_) {
        positioned_ = true;
        at_ = i_;
    }
}

TessaryError Reader::take_error(bool all_schema) {
    fix_position();
    const size_t at = at_ > n_ ? n_ : at_;
    // Line: 1 + line feeds before the start of the line; column: bytes from that start.
    size_t line_start = 0;
    size_t line = 1;
    for (size_t k = 0; k < at; ++k) {
        if (p_[k] == '\n') {
            ++line;
            line_start = k + 1;
        }
    }
    std::string message = std::move(message_);
    message += " at line ";
    push_u64(message, line);
    message += " column ";
    push_u64(message, at - line_start);
    return TessaryError{all_schema ? ErrorCode::SchemaViolation : code_, std::move(message)};
}

bool Reader::enter() {
    if (--depth_left_ == 0) return peek_error("recursion limit exceeded");
    return true;
}

bool Reader::ident(const char* rest) {
    for (; *rest; ++rest) {
        if (i_ >= n_) return error(EOF_VALUE);
        if (p_[i_++] != *rest) return error("expected ident");
    }
    return true;
}

// ---- Strings ----

bool Reader::hex4(uint32_t& out) {
    if (n_ - i_ < 4) {
        i_ = n_;
        return error(EOF_STRING);
    }
    uint32_t v = 0;
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
        const int h = hex_value(p_[i_ + static_cast<size_t>(k)]);
        if (h < 0) ok = false;
        v = (v << 4) | static_cast<uint32_t>(h < 0 ? 0 : h);
    }
    i_ += 4;
    if (!ok) return error("invalid escape");
    out = v;
    return true;
}

bool Reader::parse_escape() {
    if (i_ >= n_) return error(EOF_STRING);
    switch (p_[i_++]) {
        case '"': scratch_ += '"'; return true;
        case '\\': scratch_ += '\\'; return true;
        case '/': scratch_ += '/'; return true;
        case 'b': scratch_ += '\b'; return true;
        case 'f': scratch_ += '\f'; return true;
        case 'n': scratch_ += '\n'; return true;
        case 'r': scratch_ += '\r'; return true;
        case 't': scratch_ += '\t'; return true;
        case 'u': break;
        default: return error("invalid escape");
    }
    uint32_t n1;
    if (!hex4(n1)) return false;
    if (n1 >= 0xdc00 && n1 <= 0xdfff) return error("lone leading surrogate in hex escape");
    if (n1 < 0xd800 || n1 > 0xdbff) {
        push_utf8(scratch_, n1);
        return true;
    }
    // A leading surrogate must be followed at once by \u and its trailing half.
    if (i_ >= n_) return error(EOF_STRING);
    if (p_[i_++] != '\\') return error("unexpected end of hex escape");
    if (i_ >= n_) return error(EOF_STRING);
    if (p_[i_++] != 'u') return error("unexpected end of hex escape");
    uint32_t n2;
    if (!hex4(n2)) return false;
    if (n2 < 0xdc00 || n2 > 0xdfff) return error("lone leading surrogate in hex escape");
    push_utf8(scratch_, (((n1 - 0xd800) << 10) | (n2 - 0xdc00)) + 0x10000);
    return true;
}

bool Reader::parse_str(std::string_view& out) {
    size_t start = i_;
    bool copied = false;
    bool bad_utf8 = false;
    for (;;) {
        while (i_ < n_) {
            // Eight bytes at a time while none is a quote, a backslash, a control or non-ASCII.
            while (n_ - i_ >= 8) {
                uint64_t w;
                std::memcpy(&w, p_ + i_, 8);
                constexpr uint64_t ONES = 0x0101010101010101u, HIGH = 0x8080808080808080u;
                const uint64_t quote = w ^ (ONES * '"');
                const uint64_t slash = w ^ (ONES * '\\');
                const uint64_t stop = (w & HIGH) | ((w - ONES * 0x20) & ~w & HIGH) |
                                      ((quote - ONES) & ~quote & HIGH) | ((slash - ONES) & ~slash & HIGH);
                if (stop != 0) {
                    i_ += static_cast<size_t>(__builtin_ctzll(stop)) / 8;
                    break;
                }
                i_ += 8;
            }
            if (i_ >= n_) break;
            const unsigned char c = static_cast<unsigned char>(p_[i_]);
            if (c == '"' || c == '\\' || c < 0x20) break;
            if (c < 0x80) {
                ++i_;
                continue;
            }
            const size_t len =
                utf8_length(reinterpret_cast<const unsigned char*>(p_ + i_), n_ - i_);
            if (len == 0) {
                bad_utf8 = true;
                ++i_;
            } else {
                i_ += len;
            }
        }
        if (i_ >= n_) return error(EOF_STRING);
        const char c = p_[i_];
        if (c == '"') {
            if (copied) scratch_.append(p_ + start, i_ - start);
            const size_t end = i_++;
            if (bad_utf8) return error("invalid unicode code point");
            out = copied ? std::string_view(scratch_) : std::string_view(p_ + start, end - start);
            return true;
        }
        if (c == '\\') {
            if (!copied) scratch_.clear();
            copied = true;
            scratch_.append(p_ + start, i_ - start);
            ++i_;
            if (!parse_escape()) return false;
            start = i_;
            continue;
        }
        ++i_;
        return error("control character (\\u0000-\\u001F) found while parsing a string");
    }
}

// ---- Numbers ----

// Reads a number whose sign (if any) was consumed: an integer part without extra leading zeros,
// an optional fraction and an optional exponent (RFC 8259 section 6).
bool Reader::parse_number(bool positive, Number& out) {
    const size_t start = positive ? i_ : i_ - 1;
    if (i_ >= n_) return error(EOF_VALUE);
    const char first = p_[i_++];
    uint64_t sig = 0;
    bool big = false;      // the integer part does not fit 64 bits
    bool nonzero = false;  // some digit of the significand is not 0
    size_t int_digits = 1;
    long first_nonzero = -1;  // index of the first non-zero digit among all significand digits
    if (first == '0') {
        if (i_ < n_ && is_digit(p_[i_])) return peek_error(INVALID_NUMBER);
    } else if (first >= '1' && first <= '9') {
        sig = static_cast<uint64_t>(first - '0');
        nonzero = true;
        first_nonzero = 0;
        while (i_ < n_ && is_digit(p_[i_])) {
            const uint64_t d = static_cast<uint64_t>(p_[i_] - '0');
            if (!big) {
                if (sig > (std::numeric_limits<uint64_t>::max() - d) / 10) big = true;
                else sig = sig * 10 + d;
            }
            ++int_digits;
            ++i_;
        }
    } else {
        return error(INVALID_NUMBER);
    }
    bool is_float = false;
    long digit_index = static_cast<long>(int_digits);
    if (i_ < n_ && p_[i_] == '.') {
        is_float = true;
        ++i_;
        const size_t frac_start = i_;
        while (i_ < n_ && is_digit(p_[i_])) {
            if (p_[i_] != '0' && !nonzero) {
                nonzero = true;
                first_nonzero = digit_index;
            }
            ++digit_index;
            ++i_;
        }
        if (i_ == frac_start) return peek_error(i_ < n_ ? INVALID_NUMBER : EOF_VALUE);
    }
    long exp = 0;
    if (i_ < n_ && (p_[i_] == 'e' || p_[i_] == 'E')) {
        is_float = true;
        ++i_;
        bool exp_positive = true;
        if (i_ < n_ && (p_[i_] == '+' || p_[i_] == '-')) exp_positive = p_[i_++] == '+';
        if (i_ >= n_) return error(EOF_VALUE);
        const char e = p_[i_++];
        if (!is_digit(e)) return error(INVALID_NUMBER);
        int32_t x = e - '0';
        while (i_ < n_ && is_digit(p_[i_])) {
            const int32_t d = p_[i_++] - '0';
            if (x > (std::numeric_limits<int32_t>::max() - d) / 10) {
                // An exponent beyond 32 bits: infinity is an error, anything else is zero.
                if (nonzero && exp_positive) return error("number out of range");
                while (i_ < n_ && is_digit(p_[i_])) ++i_;
                out.kind = Kind::Double;
                out.d = positive ? 0.0 : -0.0;
                return true;
            }
            x = x * 10 + d;
        }
        exp = exp_positive ? x : -static_cast<long>(x);
    }
    if (!is_float && !big) {
        if (positive) {
            out.kind = Kind::UInt;
            out.u = sig;
            return true;
        }
        if (sig != 0 && sig <= (uint64_t{1} << 63)) {
            out.kind = Kind::Int;
            out.i = static_cast<int64_t>(0 - sig);
            return true;
        }
    }
    out.kind = Kind::Double;
    double d = 0;
    auto res = std::from_chars(p_ + start, p_ + i_, d, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Decimal exponent of the first significant digit decides overflow or underflow.
        const long magnitude = static_cast<long>(int_digits) - 1 - first_nonzero + exp;
        if (nonzero && magnitude > 0) return error("number out of range");
        d = positive ? 0.0 : -0.0;
    } else if (res.ec != std::errc() || res.ptr != p_ + i_) {
        return error(INVALID_NUMBER);
    }
    if (std::isinf(d)) return error("number out of range");
    out.d = d;
    return true;
}

// ---- Values of one kind ----

bool Reader::invalid_type(std::string_view expecting) {
    const int c = i_ < n_ ? static_cast<unsigned char>(p_[i_]) : 0;
    Value found;
    switch (c) {
        case 'n':
            eat();
            if (!ident("ull")) return false;
            break;
        case 't':
            eat();
            if (!ident("rue")) return false;
            found.kind = Kind::Bool;
            found.b = true;
            break;
        case 'f':
            eat();
            if (!ident("alse")) return false;
            found.kind = Kind::Bool;
            break;
        case '-':
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9': {
            const bool positive = c != '-';
            if (!positive) eat();
            Number num;
            if (!parse_number(positive, num)) return false;
            found.kind = num.kind;
            found.u = num.u;
            found.i = num.i;
            found.d = num.d;
            break;
        }
        case '"': {
            eat();
            std::string_view s;
            if (!parse_str(s)) return false;
            found.kind = Kind::String;
            found.s.assign(s);
            break;
        }
        case '[': found.kind = Kind::Array; break;
        case '{': found.kind = Kind::Object; break;
        default: return peek_error(EXPECTED_VALUE);
    }
    custom(invalid_type_message(found, expecting));
    fix_position();
    return false;
}

bool Reader::read_str(std::string_view& out, std::string_view expecting) {
    const int c = skip_blanks();
    if (c < 0) return peek_error(EOF_VALUE);
    if (c != '"') return invalid_type(expecting);
    eat();
    return parse_str(out);
}

bool Reader::read_number(Number& out, std::string_view expecting) {
    const int c = skip_blanks();
    if (c < 0) return peek_error(EOF_VALUE);
    if (c == '-') {
        eat();
        return parse_number(false, out);
    }
    if (c >= '0' && c <= '9') return parse_number(true, out);
    return invalid_type(expecting);
}

bool Reader::read_bool(bool& out, std::string_view expecting) {
    const int c = skip_blanks();
    if (c < 0) return peek_error(EOF_VALUE);
    if (c == 't') {
        eat();
        out = true;
        return ident("rue");
    }
    if (c == 'f') {
        eat();
        out = false;
        return ident("alse");
    }
    return invalid_type(expecting);
}

bool Reader::read_unit(std::string_view expecting) {
    const int c = skip_blanks();
    if (c < 0) return peek_error(EOF_VALUE);
    if (c == 'n') {
        eat();
        return ident("ull");
    }
    return invalid_type(expecting);
}

int Reader::read_option() {
    if (skip_blanks() != 'n') return 1;
    eat();
    return ident("ull") ? 0 : -1;
}

bool Reader::read_any(Value& out) {
    const int c = skip_blanks();
    switch (c) {
        case -1: return peek_error(EOF_VALUE);
        case 'n':
            eat();
            out.kind = Kind::Null;
            return ident("ull");
        case 't':
            eat();
            out.kind = Kind::Bool;
            out.b = true;
            return ident("rue");
        case 'f':
            eat();
            out.kind = Kind::Bool;
            out.b = false;
            return ident("alse");
        case '-':
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9': {
            const bool positive = c != '-';
            if (!positive) eat();
            Number num;
            if (!parse_number(positive, num)) return false;
            out.kind = num.kind;
            out.u = num.u;
            out.i = num.i;
            out.d = num.d;
            return true;
        }
        case '"': {
            eat();
            std::string_view s;
            if (!parse_str(s)) return false;
            out.kind = Kind::String;
            out.s.assign(s);
            return true;
        }
        case '[': {
            if (!enter()) return false;
            eat();
            out.kind = Kind::Array;
            bool first = true;
            bool ok = true;
            for (;;) {
                const int r = next_elem(first);
                if (r <= 0) {
                    ok = r == 0;
                    break;
                }
                out.arr.emplace_back();
                if (!read_any(out.arr.back())) {
                    ok = false;
                    break;
                }
            }
            return end_seq(ok);
        }
        case '{': {
            if (!enter()) return false;
            eat();
            out.kind = Kind::Object;
            bool first = true;
            bool ok = true;
            for (;;) {
                std::string_view key;
                const int r = next_key(first, key);
                if (r <= 0) {
                    ok = r == 0;
                    break;
                }
                out.obj.emplace_back(std::string(key), Value{});
                if (!colon() || !read_any(out.obj.back().second)) {
                    ok = false;
                    break;
                }
            }
            return end_map(ok);
        }
        default: return peek_error(EXPECTED_VALUE);
    }
}

bool Reader::read_enum(std::span<const std::string_view> names, size_t& index) {
    auto variant = [&]() {
        std::string_view text;
        if (!read_str(text, "variant identifier")) return false;
        for (size_t k = 0; k < names.size(); ++k) {
            if (names[k] == text) {
                index = k;
                return true;
            }
        }
        custom(unknown_variant_message(text, names));
        fix_position();
        return false;
    };
    const int c = skip_blanks();
    if (c == '"') return variant();
    if (c == '{') {
        // The one-key form {"left": null}.
        if (!enter()) return false;
        eat();
        if (!variant() || !colon() || !read_unit("unit")) return false;
        leave();
        const int close = skip_blanks();
        if (close == '}') {
            eat();
            return true;
        }
        return error(close < 0 ? EOF_OBJECT : EXPECTED_VALUE);
    }
    return peek_error(c < 0 ? EOF_VALUE : EXPECTED_VALUE);
}

// ---- Arrays and objects ----

bool Reader::begin_seq(std::string_view expecting) {
    const int c = skip_blanks();
    if (c < 0) return peek_error(EOF_VALUE);
    if (c != '[') return invalid_type(expecting);
    if (!enter()) return false;
    eat();
    return true;
}

int Reader::next_elem(bool& first) {
    int c = skip_blanks();
    if (c == ']') return 0;
    if (c == ',' && !first) {
        eat();
        c = skip_blanks();
    } else if (c >= 0) {
        if (!first) {
            peek_error("expected `,` or `]`");
            return -1;
        }
        first = false;
    } else {
        peek_error(EOF_LIST);
        return -1;
    }
    if (c == ']') {
        peek_error(TRAILING_COMMA);
        return -1;
    }
    if (c < 0) {
        peek_error(EOF_VALUE);
        return -1;
    }
    return 1;
}

bool Reader::end_seq(bool ok) {
    leave();
    const int c = skip_blanks();
    bool end_ok = false;
    if (c == ']') {
        eat();
        end_ok = true;
    } else if (c == ',') {
        eat();
        peek_error(skip_blanks() == ']' ? TRAILING_COMMA : TRAILING_CHARACTERS);
    } else if (c >= 0) {
        peek_error(TRAILING_CHARACTERS);
    } else {
        peek_error(EOF_LIST);
    }
    if (!ok) {
        fix_position();
        return false;
    }
    return end_ok;
}

bool Reader::begin_map(std::string_view expecting) {
    const int c = skip_blanks();
    if (c < 0) return peek_error(EOF_VALUE);
    if (c != '{') return invalid_type(expecting);
    if (!enter()) return false;
    eat();
    return true;
}

int Reader::next_key(bool& first, std::string_view& key) {
    int c = skip_blanks();
    if (c == '}') return 0;
    if (c == ',' && !first) {
        eat();
        c = skip_blanks();
    } else if (c >= 0) {
        if (!first) {
            peek_error("expected `,` or `}`");
            return -1;
        }
        first = false;
    } else {
        peek_error(EOF_OBJECT);
        return -1;
    }
    if (c == '"') {
        eat();
        return parse_str(key) ? 1 : -1;
    }
    peek_error(c == '}' ? TRAILING_COMMA : c < 0 ? EOF_VALUE : std::string_view("key must be a string"));
    return -1;
}

bool Reader::colon() {
    const int c = skip_blanks();
    if (c == ':') {
        eat();
        return true;
    }
    return peek_error(c < 0 ? EOF_OBJECT : std::string_view("expected `:`"));
}

bool Reader::end_map(bool ok) {
    leave();
    const int c = skip_blanks();
    bool end_ok = false;
    if (c == '}') {
        eat();
        end_ok = true;
    } else if (c == ',') {
        peek_error(TRAILING_COMMA);
    } else if (c >= 0) {
        peek_error(TRAILING_CHARACTERS);
    } else {
        peek_error(EOF_OBJECT);
    }
    if (!ok) {
        fix_position();
        return false;
    }
    return end_ok;
}

bool Reader::end() {
    if (skip_blanks() >= 0) return peek_error(TRAILING_CHARACTERS);
    return true;
}

Result<Value> parse(std::string_view text) {
    Reader reader(text);
    Value value;
    if (!reader.read_any(value) || !reader.end()) return reader.take_error(false);
    return value;
}

// ---- Message pieces ----

void push_float_text(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::signbit(value)) out += '-';
    if (std::isinf(value)) {
        out += "inf";
        return;
    }
    if (value == 0) {
        out += "0.0";
        return;
    }
    std::string digits;
    int exp;
    shortest_digits(value, digits, exp);
    push_positional(out, digits, exp);
    const bool integral = exp >= 0 && digits.size() <= static_cast<size_t>(exp) + 1;
    if (integral) out += ".0";
}

void push_unexpected(std::string& out, const Value& value) {
    switch (value.kind) {
        case Kind::Null: out += "unit value"; return;
        case Kind::Bool: out += value.b ? "boolean `true`" : "boolean `false`"; return;
        case Kind::UInt:
            out += "integer `";
            push_u64(out, value.u);
            out += '`';
            return;
        case Kind::Int:
            out += "integer `";
            push_i64(out, value.i);
            out += '`';
            return;
        case Kind::Double:
            out += "floating point `";
            push_float_text(out, value.d);
            out += '`';
            return;
        case Kind::String:
            out += "string ";
            quote_into(out, value.s);
            return;
        case Kind::Array: out += "sequence"; return;
        case Kind::Object: out += "map"; return;
    }
}

void push_one_of(std::string& out, std::span<const std::string_view> names) {
    auto tick = [&](std::string_view name) {
        out += '`';
        out += name;
        out += '`';
    };
    if (names.size() == 1) {
        tick(names[0]);
    } else if (names.size() == 2) {
        tick(names[0]);
        out += " or ";
        tick(names[1]);
    } else {
        out += "one of ";
        for (size_t k = 0; k < names.size(); ++k) {
            if (k) out += ", ";
            tick(names[k]);
        }
    }
}

std::string invalid_type_message(const Value& found, std::string_view expecting) {
    std::string msg = "invalid type: ";
    push_unexpected(msg, found);
    msg += ", expected ";
    msg += expecting;
    return msg;
}

std::string unknown_field_message(std::string_view key, std::span<const std::string_view> names) {
    std::string msg = "unknown field `";
    msg += key;
    if (names.empty()) {
        msg += "`, there are no fields";
        return msg;
    }
    msg += "`, expected ";
    push_one_of(msg, names);
    return msg;
}

std::string unknown_variant_message(std::string_view text, std::span<const std::string_view> names) {
    std::string msg = "unknown variant `";
    msg += text;
    if (names.empty()) {
        msg += "`, there are no variants";
        return msg;
    }
    msg += "`, expected ";
    push_one_of(msg, names);
    return msg;
}

// ---- Printing ----

void push_double(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    if (std::signbit(value)) out += '-';
    if (value == 0) {
        out += "0.0";
        return;
    }
    std::string digits;
    int exp;
    shortest_digits(value, digits, exp);
    if (exp >= -5 && exp <= 15) {
        push_positional(out, digits, exp);
        if (exp >= 0 && digits.size() <= static_cast<size_t>(exp) + 1) out += ".0";
        return;
    }
    out += digits[0];
    if (digits.size() > 1) {
        out += '.';
        out.append(digits, 1, std::string::npos);
    }
    out += exp < 0 ? "e-" : "e+";
    push_u64(out, static_cast<uint64_t>(exp < 0 ? -exp : exp));
}

void push_string(std::string& out, std::string_view text) {
    static constexpr char HEX[] = "0123456789abcdef";
    out += '"';
    size_t run = 0;
    for (size_t k = 0; k < text.size(); ++k) {
        const unsigned char c = static_cast<unsigned char>(text[k]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(text.data() + run, k - run);
        run = k + 1;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            default:
                out += "\\u00";
                out += HEX[c >> 4];
                out += HEX[c & 0xf];
        }
    }
    out.append(text.data() + run, text.size() - run);
    out += '"';
}

void print_into(std::string& out, const Value& value) {
    switch (value.kind) {
        case Kind::Null: out += "null"; return;
        case Kind::Bool: out += value.b ? "true" : "false"; return;
        case Kind::UInt: push_u64(out, value.u); return;
        case Kind::Int: push_i64(out, value.i); return;
        case Kind::Double: push_double(out, value.d); return;
        case Kind::String: push_string(out, value.s); return;
        case Kind::Array:
            out += '[';
            for (size_t k = 0; k < value.arr.size(); ++k) {
                if (k) out += ',';
                print_into(out, value.arr[k]);
            }
            out += ']';
            return;
        case Kind::Object:
            out += '{';
            for (size_t k = 0; k < value.obj.size(); ++k) {
                if (k) out += ',';
                push_string(out, value.obj[k].first);
                out += ':';
                print_into(out, value.obj[k].second);
            }
            out += '}';
            return;
    }
}

}  // namespace tessary::json
