"""Writes a small report with tessary and reads it back."""

import tessary

print("tessary", tessary.__name__, "loaded; error type:", tessary.TessaryError.__qualname__)
