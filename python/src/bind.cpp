// bind: parameters are matched positionally first, then by keyword; the messages are those the
// interpreter gives for its own functions, so a wrong call reads the same as for any builtin.
#include "bind.h"

#include <dlfcn.h>

#include <cstdio>
#include <vector>

namespace tessary::py {

namespace {

using Utf8AndSize = const char* (*)(PyObject*, Py_ssize_t*);

// PyUnicode_AsUTF8AndSize joined the limited API in 3.10; before that the text goes through a
// temporary bytes object.
Utf8AndSize g_utf8_and_size = nullptr;

// Appends "'a'", "'a' and 'b'" or "'a', 'b', and 'c'".
void push_name_list(std::string& out, const std::vector<const char*>& names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) out += ',';
            out += ' ';
            if (i + 1 == names.size()) out += "and ";
        }
        out += '\'';
        out += names[i];
        out += '\'';
    }
}

std::string type_attr(PyObject* obj, const char* attr) {
    PyObject* value = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), attr);
    std::string text = "?";
    if (value != nullptr && PyUnicode_Check(value)) {
        std::string got;
        if (utf8_copy(value, &got)) text = std::move(got);
    }
    Py_XDECREF(value);
    PyErr_Clear();
    return text;
}

std::string arg_prefix(const char* param) {
    std::string prefix = "argument '";
    prefix += param;
    prefix += "': ";
    return prefix;
}

}  // namespace

void init_bind() {
    int major = 0;
    int minor = 0;
    if (std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor) == 2 &&
        (major > 3 || (major == 3 && minor >= 10))) {
        g_utf8_and_size =
            reinterpret_cast<Utf8AndSize>(dlsym(RTLD_DEFAULT, "PyUnicode_AsUTF8AndSize"));
    }
}

bool bind_args(const char* function, const char* const* names, std::size_t count,
               std::size_t required, PyObject* args, PyObject* kwargs, PyObject** out) {
    Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
    if (given < 0) return false;
    auto npos = static_cast<std::size_t>(given);
    if (npos > count) {
        std::string msg = function;
        if (required == count) {
            msg += " takes " + std::to_string(count);
        } else {
            msg += " takes from " + std::to_string(required) + " to " + std::to_string(count);
        }
        msg += " positional arguments but " + std::to_string(npos);
        msg += npos == 1 ? " was given" : " were given";
        PyErr_SetString(PyExc_TypeError, msg.c_str());
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = i < npos ? PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)) : nullptr;
    }
    if (kwargs != nullptr) {
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t pos = 0;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!PyUnicode_Check(key)) {
                PyErr_Format(PyExc_TypeError, "%s keywords must be strings", function);
                return false;
            }
            Utf8 key_text;
            if (!key_text.set(key)) return false;
            std::string_view name = key_text.view();
            std::size_t i = 0;
            while (i < count && name != names[i]) ++i;
            if (i == count) {
                std::string msg = function;
                msg += " got an unexpected keyword argument '";
                msg.append(name);
                msg += '\'';
                PyErr_SetString(PyExc_TypeError, msg.c_str());
                return false;
            }
            if (out[i] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", function,
                             names[i]);
                return false;
            }
            out[i] = value;
        }
    }
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < required; ++i) {
        if (out[i] == nullptr) missing.push_back(names[i]);
    }
    if (!missing.empty()) {
        std::string msg = function;
        msg += " missing " + std::to_string(missing.size()) + " required positional argument";
        msg += missing.size() == 1 ? ": " : "s: ";
        push_name_list(msg, missing);
        PyErr_SetString(PyExc_TypeError, msg.c_str());
        return false;
    }
    return true;
}

std::string type_name(PyObject* obj) { return type_attr(obj, "__name__"); }

std::string type_qualname(PyObject* obj) { return type_attr(obj, "__qualname__"); }

bool raise_cannot_convert(PyObject* obj, std::string_view target, std::string_view prefix) {
    std::string msg(prefix);
    msg += '\'';
    msg += type_name(obj);
    msg += "' object cannot be converted to '";
    msg.append(target);
    msg += '\'';
    PyErr_SetString(PyExc_TypeError, msg.c_str());
    return false;
}

bool Utf8::set(PyObject* str) {
    Py_CLEAR(owner_);
    if (g_utf8_and_size != nullptr) {
        Py_ssize_t size = 0;
        const char* data = g_utf8_and_size(str, &size);
        if (data == nullptr) return false;
        text_ = std::string_view(data, static_cast<std::size_t>(size));
        return true;
    }
    PyObject* bytes = PyUnicode_AsUTF8String(str);
    if (bytes == nullptr) return false;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes, &data, &size) < 0) {
        Py_DECREF(bytes);
        return false;
    }
    owner_ = bytes;
    text_ = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool utf8_copy(PyObject* str, std::string* out) {
    Utf8 text;
    if (!text.set(str)) return false;
    out->assign(text.view());
    return true;
}

bool is_bool_like(PyObject* obj) {
    if (PyBool_Check(obj)) return true;
    if (PyLong_Check(obj) || PyFloat_Check(obj) || PyUnicode_Check(obj)) return false;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
    PyObject* module = PyObject_GetAttrString(type, "__module__");
    bool numpy = false;
    if (module != nullptr && PyUnicode_Check(module)) {
        Utf8 text;
        numpy = text.set(module) && text.view() == "numpy";
    }
    Py_XDECREF(module);
    PyErr_Clear();
    if (!numpy) return false;
    std::string name = type_name(obj);
    return name == "bool_" || name == "bool";
}

bool opt_dict_arg(const char* param, PyObject* obj, PyObject** out) {
    if (obj == nullptr || obj == Py_None) {
        *out = nullptr;
        return true;
    }
    if (!PyDict_Check(obj)) return raise_cannot_convert(obj, "PyDict", arg_prefix(param));
    *out = obj;
    return true;
}

bool str_arg(const char* param, PyObject* obj, Utf8* out) {
    if (!PyUnicode_Check(obj)) return raise_cannot_convert(obj, "PyString", arg_prefix(param));
    return out->set(obj);
}

bool opt_str_arg(const char* param, PyObject* obj, std::optional<std::string>* out) {
    if (obj == nullptr || obj == Py_None) {
        out->reset();
        return true;
    }
    if (!PyUnicode_Check(obj)) return raise_cannot_convert(obj, "PyString", arg_prefix(param));
    std::string text;
    if (!utf8_copy(obj, &text)) return false;
    *out = std::move(text);
    return true;
}

bool opt_str_arg(const char* param, PyObject* obj, std::optional<std::string_view>* out) {
    if (obj == nullptr || obj == Py_None) {
        out->reset();
        return true;
    }
    if (!PyUnicode_Check(obj)) return raise_cannot_convert(obj, "PyString", arg_prefix(param));
    if (g_utf8_and_size != nullptr) {
        Py_ssize_t size = 0;
        const char* data = g_utf8_and_size(obj, &size);
        if (data == nullptr) return false;
        *out = std::string_view(data, static_cast<std::size_t>(size));
        return true;
    }
    constexpr unsigned PARKED = 64;
    thread_local PyObject* parked[PARKED] = {};
    thread_local unsigned next = 0;
    PyObject* bytes = PyUnicode_AsUTF8String(obj);
    if (bytes == nullptr) return false;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes, &data, &size) < 0) {
        Py_DECREF(bytes);
        return false;
    }
    Py_XDECREF(parked[next]);
    parked[next] = bytes;
    next = (next + 1) % PARKED;
    *out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool bytes_arg(const char* param, PyObject* obj, std::string_view* out) {
    if (!PyBytes_Check(obj)) return raise_cannot_convert(obj, "PyBytes", arg_prefix(param));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(obj, &data, &size) < 0) return false;
    *out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool bool_arg(const char* param, PyObject* obj, bool fallback, bool* out) {
    if (obj == nullptr) {
        *out = fallback;
        return true;
    }
    if (!is_bool_like(obj)) return raise_cannot_convert(obj, "PyBool", arg_prefix(param));
    int truth = PyObject_IsTrue(obj);
    if (truth < 0) return false;
    *out = truth != 0;
    return true;
}

}  // namespace tessary::py
