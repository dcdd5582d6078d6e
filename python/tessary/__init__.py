from tessary._tessary import *  # noqa: F401,F403
from tessary._tessary import __doc__  # noqa: F401
