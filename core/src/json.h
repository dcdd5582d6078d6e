// json: the JSON platform layer: an insertion-ordered value model, a strict text reader with
// positioned syntax messages, and a compact printer. Schema rules live in the model's reader.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessary::json {

// Nesting limit of arrays and objects, for text and values alike.
constexpr int MAX_DEPTH = 128;

struct Value;
using Array = std::vector<Value>;
// Keys in insertion order, each key once.
using Object = std::vector<std::pair<std::string, Value>>;

enum class Kind { Null, Bool, UInt, Int, Double, String, Array, Object };

// A JSON value. Numbers keep the form they were written in: a non-negative integer that fits is
// UInt, a negative integer that fits is Int, anything else is Double.
struct Value {
    Kind kind = Kind::Null;
    bool b = false;
    uint64_t u = 0;
    int64_t i = 0;
    double d = 0;
    std::string s;
    Array arr;
    Object obj;

    // Declared, not defaulted: clang then need not decide, inside the class, whether the pair of
    // an object entry is default-constructible.
    Value() {}

    static Value null();
    static Value boolean(bool v);
    static Value uinteger(uint64_t v);
    static Value integer(int64_t v);
    static Value number(double v);
    static Value string(std::string v);
    static Value array(Array v);
    static Value object(Object v);
};

// The factories are defined after the class so that the containers of Value are instantiated
// with a complete Value.
inline Value Value::null() { return Value{}; }
inline Value Value::boolean(bool v) { Value x; x.kind = Kind::Bool; x.b = v; return x; }
inline Value Value::uinteger(uint64_t v) { Value x; x.kind = Kind::UInt; x.u = v; return x; }
inline Value Value::integer(int64_t v) { Value x; x.kind = Kind::Int; x.i = v; return x; }
inline Value Value::number(double v) { Value x; x.kind = Kind::Double; x.d = v; return x; }
inline Value Value::string(std::string v) { Value x; x.kind = Kind::String; x.s = std::move(v); return x; }
inline Value Value::array(Array v) { Value x; x.kind = Kind::Array; x.arr = std::move(v); return x; }
inline Value Value::object(Object v) { Value x; x.kind = Kind::Object; x.obj = std::move(v); return x; }

}  // namespace tessary::json

namespace tessary::json {

// Appends `text` as a JSON string: quotes, backslash before " and \, \b \t \n \f \r, \u00xx (lower
// case) for the other controls below U+0020; everything else as it is, the slash included.
void push_string(std::string& out, std::string_view text);

// Appends the compact text of a value (no blanks, no line breaks).
void print_into(std::string& out, const Value& value);

}  // namespace tessary::json

// ---- The strict text reader ----
// Reader is the tokenizer of JSON text (RFC 8259) that the schema readers drive one step at a time,
// so that records are read straight from the text without building values. Every step returns
// false after recording the first error; a recorded error is final. Syntax errors carry their
// position at once; schema errors raised by the caller (`custom`) get the position of the reader
// when the enclosing value is finished (`fix_position`), as the text reader's messages show it.

#include <span>

#include "error.h"

namespace tessary::json {

// A number as written: a non-negative integer that fits u64, a negative one that fits i64, or a
// double for everything else (fractions, exponents, integers beyond 64 bits, negative zero).
struct Number {
    Kind kind = Kind::UInt;
    uint64_t u = 0;
    int64_t i = 0;
    double d = 0;
};

class Reader {
public:
    explicit Reader(std::string_view text) : p_(text.data()), n_(text.size()) {}

    // The next byte after JSON blanks (space, tab, line feed, carriage return), or -1 at the end.
    int skip_blanks() {
        while (i_ < n_) {
            const char c = p_[i_];
            if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
            ++i_;
        }
        return -1;
    }
    void eat() { ++i_; }

    // Recording errors: `error` places it at the reader's offset, `peek_error` one byte further
    // (at the byte being looked at), `custom` leaves the position to `fix_position`. Each returns
    // false; only the first error is kept.
    bool error(std::string_view message);
    bool peek_error(std::string_view message);
    bool custom(std::string message);
    void fix_position();
    bool failed() const { return failed_; }

    // The recorded error: its code (InvalidJson for syntax, SchemaViolation for the caller's) and
    // its message with " at line L column C" appended. `all_schema` gives SchemaViolation to both.
    TessaryError take_error(bool all_schema);

    // Reading a value of one kind, after the blanks before it. A value of another kind is
    // "invalid type: {found}, expected {expecting}". The string views stay valid until the next read.
    bool read_str(std::string_view& out, std::string_view expecting);
    bool read_number(Number& out, std::string_view expecting);
    bool read_bool(bool& out, std::string_view expecting);
    bool read_unit(std::string_view expecting);
    // Optional values: 0 when a null was read, 1 when another value follows, -1 on error.
    int read_option();
    // Any value into `out`, with the nesting limit.
    bool read_any(Value& out);
    // An enumeration of unit variants: a string, or an object of one key whose value is null.
    bool read_enum(std::span<const std::string_view> names, size_t& index);

    // Arrays: `begin_seq` reads the opening bracket (anything else is an invalid type); `next_elem`
    // gives 1 when an element follows, 0 at the closing bracket; `end_seq` consumes the bracket
    // (or reports what stands there) and positions an error of the elements.
    bool begin_seq(std::string_view expecting);
    int next_elem(bool& first);
    bool end_seq(bool ok);
    // Objects, alike; `next_key` reads the key, `colon` the colon after it.
    bool begin_map(std::string_view expecting);
    int next_key(bool& first, std::string_view& key);
    bool colon();
    bool end_map(bool ok);
    // After the document: only blanks may follow.
    bool end();

    // The error for a value that is not of the kind expected, the value read past.
    bool invalid_type(std::string_view expecting);

private:
    bool enter();
    void leave() { ++depth_left_; }
    bool ident(const char* rest);
    bool parse_str(std::string_view& out);
    bool parse_escape();
    bool parse_number(bool positive, Number& out);
    bool hex4(uint32_t& out);
    void set_error(ErrorCode code, std::string message, bool positioned, size_t at);

    const char* p_;
    size_t n_;
    size_t i_ = 0;
    int depth_left_ = MAX_DEPTH;
    std::string scratch_;
    bool failed_ = false;
    bool positioned_ = false;
    ErrorCode code_ = ErrorCode::InvalidJson;
    size_t at_ = 0;
    std::string message_;
};

// Reads one whole document into a value (InvalidJson with the position on any syntax error). A key
// repeated in one object is kept as written, so that the schema readers can report it.
Result<Value> parse(std::string_view text);

// ---- Message pieces shared by the text and value readers ----

// Appends how a value shows in a message: "unit value", "boolean `true`", "integer `5`",
// "floating point `2.5`", "string \"abc\"", "sequence" or "map".
void push_unexpected(std::string& out, const Value& value);
// Appends a double in its shortest round-trip digits, positional, with ".0" when integral.
void push_float_text(std::string& out, double value);
// Appends `a`, "`a` or `b`" or "one of `a`, `b`, `c`".
void push_one_of(std::string& out, std::span<const std::string_view> names);

std::string invalid_type_message(const Value& found, std::string_view expecting);
std::string unknown_field_message(std::string_view key, std::span<const std::string_view> names);
std::string unknown_variant_message(std::string_view text, std::span<const std::string_view> names);

// Appends a double in the JSON layout of the printer: positional for decimal exponents -5 to 15
// (with ".0" when integral), otherwise d.ddde+X; NaN and infinities as null.
void push_double(std::string& out, double value);

}  // namespace tessary::json
