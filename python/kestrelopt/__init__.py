"""Particle swarm optimization backed by the native extension ``kestrelopt_native``.

``minimize`` searches real, integer, binary or mixed spaces; results come back as
``PsoResult`` objects. See ``help(kestrelopt.minimize)`` for every option.
"""

from . import kestrelopt_native
from .kestrelopt_native import *  # noqa: F401,F403  (the names listed in its __all__)

from . import callbacks, parallel, viz  # noqa: E402,F401  (matplotlib and tqdm load lazily)

__version__ = "0.1.0"

__all__ = list(kestrelopt_native.__all__)
