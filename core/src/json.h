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

    static Value null() { return Value{}; }
    static Value boolean(bool v) { Value x; x.kind = Kind::Bool; x.b = v; return x; }
    static Value uinteger(uint64_t v) { Value x; x.kind = Kind::UInt; x.u = v; return x; }
    static Value integer(int64_t v) { Value x; x.kind = Kind::Int; x.i = v; return x; }
    static Value number(double v) { Value x; x.kind = Kind::Double; x.d = v; return x; }
    static Value string(std::string v) { Value x; x.kind = Kind::String; x.s = std::move(v); return x; }
    static Value array(Array v) { Value x; x.kind = Kind::Array; x.arr = std::move(v); return x; }
    static Value object(Object v) { Value x; x.kind = Kind::Object; x.obj = std::move(v); return x; }
};

}  // namespace tessary::json

namespace tessary::json {

// Appends `text` as a JSON string: quotes, backslash before " and \, \b \t \n \f \r, \u00xx (lower
// case) for the other controls below U+0020; everything else as it is, the slash included.
void push_string(std::string& out, std::string_view text);

// Appends the compact text of a value (no blanks, no line breaks).
void print_into(std::string& out, const Value& value);

}  // namespace tessary::json
