// convert: Python objects into core values (JSON values, write options) and core results back.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
