class TessaryError(Exception):
    """Fatal validate/write fault. Carries `.code` (stable string) and `.message`."""

    code: str
    message: str
