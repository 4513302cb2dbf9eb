"""The coefficients the literature recommends for each velocity rule.

``coefficients(rule)`` returns the options of one rule's recommended setting, the rule's
name included, as a dict to pass on with ``**``::

    kestrelopt.minimize("rastrigin", (-5.12, 5.12), dim=10, topology="von_neumann",
                        **kestrelopt.coefficients("fips"))

The sets (see the velocity-and-topology guide for where they come from):

- ``"inertia"``: ``w=0.7298, c1=c2=1.49618``, the constriction setting written as an
  inertia weight (0.7298 = chi, 1.49618 = chi * 2.05).
- ``"constriction"``: ``c1=c2=2.05`` (phi = 4.1, chi = 0.7298).
- ``"fips"``: ``c1=c2=2.05``, so that phi = c1 + c2 = 4.1, shared among the informants.
- ``"spso2011"`` and ``"spso2011_uniform_radius"``: ``w=1/(2 ln 2)`` (about 0.7213),
  ``c1=c2=0.5 + ln 2`` (about 1.1931), the 2011 standard's values, which these rules also
  take for any of them not passed.
"""

from __future__ import annotations

import math
from typing import Dict, Union

__all__ = ["coefficients"]

_SETS: Dict[str, Dict[str, float]] = {
    "inertia": {"w": 0.7298, "c1": 1.49618, "c2": 1.49618},
    "constriction": {"c1": 2.05, "c2": 2.05},
    "fips": {"c1": 2.05, "c2": 2.05},
    "spso2011": {"w": 1.0 / (2.0 * math.log(2.0)), "c1": 0.5 + math.log(2.0),
                 "c2": 0.5 + math.log(2.0)},
}
_SETS["spso2011_uniform_radius"] = dict(_SETS["spso2011"])


def coefficients(velocity: str) -> Dict[str, Union[str, float]]:
    """The recommended setting of a velocity rule: ``velocity`` and its coefficients.

    Args:
        velocity: ``"inertia"``, ``"constriction"``, ``"fips"``, ``"spso2011"`` or
            ``"spso2011_uniform_radius"``.

    Returns:
        A new dict such as ``{"velocity": "fips", "c1": 2.05, "c2": 2.05}``, to pass to
        ``minimize``, ``minimize_grey``, ``Swarm`` and (but for ``"fips"``)
        ``minimize_multi`` and ``MultiSwarm`` as keyword arguments.

    Raises:
        TypeError: if ``velocity`` is not a str.
        ValueError: if it names no velocity rule.

    Example:
        >>> import kestrelopt
        >>> kestrelopt.coefficients("constriction")
        {'velocity': 'constriction', 'c1': 2.05, 'c2': 2.05}
    """
    if not isinstance(velocity, str):
        raise TypeError(f"velocity must be a str, got {type(velocity).__name__}")
    try:
        chosen = _SETS[velocity]
    except KeyError:
        raise ValueError(
            f"velocity must be one of {', '.join(_SETS)}, got {velocity!r}") from None
    return {"velocity": velocity, **chosen}
