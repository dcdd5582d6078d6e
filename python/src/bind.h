// bind: argument binding for every function and method of the module, with the interpreter's own
// TypeError wording, and the argument type checks ("argument 'opts': 'list' object cannot be
// converted to 'PyDict'"). Also the small shared helpers for type names and UTF-8 text.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tessary::py {

// Binds `args` (a tuple) and `kwargs` (a dict or NULL) to the parameters `names[0..count)`, of which
// the first `required` must be given. `function` names the callable in messages, with its
// parentheses ("write()", "WorkbookWriter.write_row()"). Fills `out[0..count)` with borrowed
// references, NULL for a parameter not given. On a wrong call sets TypeError and returns false:
//   "{f} takes {n} positional arguments but {m} were given" (all required) or
//   "{f} takes from {required} to {n} positional arguments but {m} were given",
//   "{f} got an unexpected keyword argument '{k}'", "{f} got multiple values for argument '{k}'",
//   "{f} missing {n} required positional argument(s): 'a', 'b', and 'c'".
bool bind_args(const char* function, const char* const* names, std::size_t count,
               std::size_t required, PyObject* args, PyObject* kwargs, PyObject** out);

template <std::size_t N>
bool bind_args(const char* function, const char* const (&names)[N], std::size_t required,
               PyObject* args, PyObject* kwargs, PyObject* (&out)[N]) {
    return bind_args(function, names, N, required, args, kwargs, out);
}

// The type's __name__ ("int", "datetime"); "?" when it cannot be read (the error is cleared).
std::string type_name(PyObject* obj);

// The type's __qualname__ ("datetime", "Outer.Inner"); "?" when it cannot be read.
std::string type_qualname(PyObject* obj);

// Sets TypeError "{prefix}'{type name}' object cannot be converted to '{target}'" and returns
// false. `prefix` is "" or "argument 'x': ".
bool raise_cannot_convert(PyObject* obj, std::string_view target, std::string_view prefix = "");

// The UTF-8 text of a str (or subclass), valid while both the holder and the str are alive. On
// interpreters whose limited API lacks a direct accessor the holder keeps the encoded bytes.
class Utf8 {
    PyObject* owner_ = nullptr;
    std::string_view text_;

public:
    Utf8() = default;
    Utf8(const Utf8&) = delete;
    Utf8& operator=(const Utf8&) = delete;
    ~Utf8() { Py_XDECREF(owner_); }
    // False with the interpreter's UnicodeEncodeError set (lone surrogates). `str` must be a str.
    bool set(PyObject* str);
    std::string_view view() const { return text_; }
};

// Copies the UTF-8 text of a str (or subclass); false with UnicodeEncodeError set.
bool utf8_copy(PyObject* str, std::string* out);

// A bool, or a NumPy boolean (a type named "bool_" or "bool" from the module "numpy").
bool is_bool_like(PyObject* obj);

// Argument checks, run while binding. Each takes the bound (possibly NULL) argument and, on a wrong
// type, sets TypeError "argument '{param}': '{type}' object cannot be converted to '{Py...}'" and
// returns false.

// NULL or None: *out = NULL. A dict or subclass: *out = obj (borrowed). Other mappings refused.
bool opt_dict_arg(const char* param, PyObject* obj, PyObject** out);

// A str or subclass, required; `obj` must not be NULL.
bool str_arg(const char* param, PyObject* obj, Utf8* out);

// NULL or None: absent. A str or subclass: its text.
bool opt_str_arg(const char* param, PyObject* obj, std::optional<std::string>* out);
// The same as a view, valid while `obj` is alive and for the rest of the current call (on
// interpreters without a direct accessor the encoded bytes are parked in a small per-thread ring
// that is recycled only after many more conversions). Prefer the Utf8 holder where one fits.
bool opt_str_arg(const char* param, PyObject* obj, std::optional<std::string_view>* out);

// A bytes or subclass (bytearray and memoryview refused); the view borrows from `obj`.
bool bytes_arg(const char* param, PyObject* obj, std::string_view* out);

// NULL: `fallback`. A bool or NumPy boolean: its truth value. Anything else, None included, refused
// with 'PyBool'.
bool bool_arg(const char* param, PyObject* obj, bool fallback, bool* out);

// Run at module initialisation: picks the fastest UTF-8 accessor the running interpreter offers.
void init_bind();

}  // namespace tessary::py
