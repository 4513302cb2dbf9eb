"""Particle swarm optimization backed by the native extension ``kestrelopt_native``.

``minimize`` searches real, integer, binary or mixed spaces; results come back as
``PsoResult`` objects. See ``help(kestrelopt.minimize)`` for every option.
"""

import copyreg
import sys

# The extension is a top-level module, so that its functions pickle by reference.
import kestrelopt_native
from kestrelopt_native import *  # noqa: F401,F403  (the names listed in its __all__)

# Code written when the extension lived inside the package still imports it from there.
sys.modules.setdefault(__name__ + ".kestrelopt_native", kestrelopt_native)

from . import callbacks, parallel, viz  # noqa: E402,F401  (matplotlib and tqdm load lazily)
from .settings import coefficients  # noqa: E402,F401

__version__ = "0.1.0"

__all__ = list(kestrelopt_native.__all__)


def _restore_result(name, fields):
    """Rebuild a pickled ``PsoResult``, ``GreyResult`` or ``ParetoFront``."""
    return kestrelopt_native._restore_result(name, fields)


def _reduce_result(result):
    return _restore_result, kestrelopt_native._result_state(result)


# Results pickle (and deep-copy) by value, so runs in worker processes can return them.
for _result_class in (PsoResult, GreyResult, ParetoFront):  # noqa: F405
    copyreg.pickle(_result_class, _reduce_result)
del _result_class


# The public names besides __all__: the exception made on first use, the version and the
# submodules reached as attributes (indicators loads on first use).
_PUBLIC_EXTRAS = ("PanicException", "__version__", "callbacks", "indicators", "parallel", "viz")


def __dir__():
    # Only the public API (and Python's own module attributes), not the modules this
    # file imports for itself, such as sys and copyreg.
    python_own = [name for name in globals() if name.startswith("__") and name.endswith("__")]
    return sorted({*__all__, *_PUBLIC_EXTRAS, *python_own})


def __getattr__(name):
    # PanicException is created by the native module at its first use, so it is looked up
    # there on demand rather than copied at import.
    if name == "PanicException":
        return kestrelopt_native.PanicException
    # The indicators need NumPy, which `import kestrelopt` does not load.
    if name == "indicators":
        import importlib

        return importlib.import_module(__name__ + ".indicators")
    raise AttributeError(f"module 'kestrelopt' has no attribute {name!r}")
