// errors: TessaryError carries the core's stable code and message; str(e) is the message alone.
#include "errors.h"

namespace tessary::py {

namespace {
PyObject* g_error_type = nullptr;
}

PyObject* make_error_type() {
    g_error_type = PyErr_NewExceptionWithDoc(
        "tessary.TessaryError",
        "Fatal validate/write fault. Carries `.code` (stable string) and `.message`.",
        PyExc_Exception, nullptr);
    if (g_error_type == nullptr) return nullptr;
    Py_INCREF(g_error_type);  // one reference for the module attribute, one kept here
    return g_error_type;
}

PyObject* error_type() { return g_error_type; }

PyObject* from_core(const TessaryError& err) {
    PyObject* msg = PyUnicode_FromStringAndSize(err.message.data(),
                                                static_cast<Py_ssize_t>(err.message.size()));
    if (msg == nullptr) return nullptr;
    PyObject* exc = PyObject_CallFunctionObjArgs(g_error_type, msg, nullptr);
    if (exc == nullptr) {
        Py_DECREF(msg);
        return nullptr;
    }
    std::string_view name = code_name(err.code);
    PyObject* code = PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
    if (code == nullptr || PyObject_SetAttrString(exc, "code", code) < 0 ||
        PyObject_SetAttrString(exc, "message", msg) < 0) {
        Py_XDECREF(code);
        Py_DECREF(msg);
        Py_DECREF(exc);
        return nullptr;
    }
    Py_DECREF(code);
    Py_DECREF(msg);
    return exc;
}

PyObject* raise_core(const TessaryError& err) {
    PyObject* exc = from_core(err);
    if (exc == nullptr) return nullptr;
    PyErr_SetObject(g_error_type, exc);
    Py_DECREF(exc);
    return nullptr;
}

PyObject* raise_schema(std::string_view message) {
    return raise_core(TessaryError{ErrorCode::SchemaViolation, std::string(message)});
}

}  // namespace tessary::py
