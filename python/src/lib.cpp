// lib: the extension module tessary._tessary: its initialisation, functions and streaming class.
// Every entry point holds the interpreter lock, converts its arguments into owned core values,
// calls the core and converts the result or raises TessaryError.
#include "errors.h"

namespace {

int g_initialised = 0;

PyMethodDef MODULE_METHODS[] = {
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT,
    "_tessary",
    "The Python extension module `tessary._tessary`. Re-exported by the\n"
    "pure-Python `tessary/__init__.py` shim.",
    -1,
    MODULE_METHODS,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__tessary(void) {
    if (g_initialised) {
        PyErr_SetString(PyExc_ImportError,
                        "tessary._tessary cannot be initialised twice in one process");
        return nullptr;
    }
    PyObject* module = PyModule_Create(&MODULE_DEF);
    if (module == nullptr) return nullptr;
    PyObject* err = tessary::py::make_error_type();
    if (err == nullptr || PyModule_AddObject(module, "TessaryError", err) < 0) {
        Py_XDECREF(err);
        Py_DECREF(module);
        return nullptr;
    }
    g_initialised = 1;
    return module;
}
