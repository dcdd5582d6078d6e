// errors: the module's exception class TessaryError and the conversion of core errors into it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "error.h"

namespace tessary::py {

// Creates the exception type once; returns a new reference or NULL with an exception set.
PyObject* make_error_type();

// The one TessaryError type object of the process (borrowed).
PyObject* error_type();

// Builds the exception instance for a core error; NULL with an exception set when that fails.
PyObject* from_core(const TessaryError& err);

// Raises a core error as TessaryError; always returns NULL for the caller to pass on.
PyObject* raise_core(const TessaryError& err);

// Raises TessaryError with code SchemaViolation and `message`; returns NULL.
PyObject* raise_schema(std::string_view message);

}  // namespace tessary::py
