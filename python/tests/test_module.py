import ctypes
import sys

import pytest

import tessary
from tessary import _tessary


def test_module_docstring():
    assert _tessary.__doc__ == (
        "The Python extension module `tessary._tessary`. Re-exported by the\n"
        "pure-Python `tessary/__init__.py` shim."
    )


def test_error_class():
    err = tessary.TessaryError
    assert err is _tessary.TessaryError
    assert err.__module__ == "tessary"
    assert err.__qualname__ == "TessaryError"
    assert err.__bases__ == (Exception,)
    assert err.__doc__ == "Fatal validate/write fault. Carries `.code` (stable string) and `.message`."
    assert not [k for k in vars(err) if k not in ("__module__", "__doc__", "__weakref__", "__dict__")]


def test_binary_is_abi3():
    assert _tessary.__file__.endswith(".abi3.so")


def test_second_initialisation_fails():
    # dlopen of the loaded file hands back the same library, so this is a second call of the
    # module's init function in this process.
    init = ctypes.PyDLL(_tessary.__file__).PyInit__tessary
    init.restype = ctypes.py_object
    with pytest.raises(ImportError):
        init()
    assert sys.modules["tessary._tessary"] is _tessary
