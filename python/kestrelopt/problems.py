"""Multi-objective test problems (ZDT and DTLZ) with their true Pareto fronts.

Each problem is a ``Problem``: an objective for ``minimize_multi`` (a list in, a list of
objective values out), its box, a reference point for the hypervolume and a sampler of
its true front, for plots and quality checks::

    from kestrelopt import problems
    zdt1 = problems.PROBLEMS["zdt1"]
    front = kestrelopt.minimize_multi(zdt1, zdt1.bounds(30), seed=1)
    front.hypervolume(zdt1.reference)

``kestrelopt run-multi`` runs them from the command line.
"""

from __future__ import annotations

import math
from typing import Callable, Dict, List, NamedTuple, Sequence, Tuple

__all__ = ["Problem", "PROBLEMS"]

Vector = Sequence[float]


class Problem(NamedTuple):
    """A multi-objective test problem; calling it evaluates a point.

    Attributes:
        name: its name, as ``run-multi`` takes it.
        n_objectives: the number of objectives.
        default_dim: the usual number of variables.
        evaluate: ``f(x) -> list[float]``.
        box: ``box(dim)``, the ``(low, high)`` pair of every variable.
        reference: a reference point for the hypervolume, worse than the true front.
        true_front: ``true_front(n)``, about ``n`` points of the true front.
    """

    name: str
    n_objectives: int
    default_dim: int
    evaluate: Callable[[Vector], List[float]]
    box: Callable[[int], List[Tuple[float, float]]]
    reference: Tuple[float, ...]
    true_front: Callable[[int], List[List[float]]]

    def __call__(self, x: Vector) -> List[float]:
        return self.evaluate(x)

    def bounds(self, dim: int) -> List[Tuple[float, float]]:
        """The box of a ``dim``-variable instance; ValueError when ``dim`` is too small."""
        least = self.n_objectives if self.name.startswith("dtlz") else 2
        if dim < least:
            raise ValueError(f"{self.name} needs at least {least} variables, got {dim}")
        return self.box(dim)


def _unit_box(dim: int) -> List[Tuple[float, float]]:
    return [(0.0, 1.0)] * dim


def _zdt4_box(dim: int) -> List[Tuple[float, float]]:
    return [(0.0, 1.0)] + [(-5.0, 5.0)] * (dim - 1)


def _linear_g(x: Vector) -> float:
    return 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)


def _zdt1(x: Vector) -> List[float]:
    g = _linear_g(x)
    return [x[0], g * (1.0 - math.sqrt(x[0] / g))]


def _zdt2(x: Vector) -> List[float]:
    g = _linear_g(x)
    return [x[0], g * (1.0 - (x[0] / g) ** 2)]


def _zdt3(x: Vector) -> List[float]:
    g = _linear_g(x)
    ratio = x[0] / g
    return [x[0], g * (1.0 - math.sqrt(ratio) - ratio * math.sin(10.0 * math.pi * x[0]))]


def _zdt4(x: Vector) -> List[float]:
    g = 1.0 + 10.0 * (len(x) - 1) + sum(v * v - 10.0 * math.cos(4.0 * math.pi * v) for v in x[1:])
    return [x[0], g * (1.0 - math.sqrt(x[0] / g))]


def _zdt6(x: Vector) -> List[float]:
    f1 = 1.0 - math.exp(-4.0 * x[0]) * math.sin(6.0 * math.pi * x[0]) ** 6
    g = 1.0 + 9.0 * (sum(x[1:]) / (len(x) - 1)) ** 0.25
    return [f1, g * (1.0 - (f1 / g) ** 2)]


def _dtlz1(x: Vector) -> List[float]:
    m = 3
    tail = x[m - 1:]
    g = 100.0 * (len(tail) + sum((v - 0.5) ** 2 - math.cos(20.0 * math.pi * (v - 0.5)) for v in tail))
    return [0.5 * x[0] * x[1] * (1.0 + g), 0.5 * x[0] * (1.0 - x[1]) * (1.0 + g),
            0.5 * (1.0 - x[0]) * (1.0 + g)]


def _dtlz2(x: Vector) -> List[float]:
    g = sum((v - 0.5) ** 2 for v in x[2:])
    a, b = x[0] * math.pi / 2.0, x[1] * math.pi / 2.0
    return [(1.0 + g) * math.cos(a) * math.cos(b), (1.0 + g) * math.cos(a) * math.sin(b),
            (1.0 + g) * math.sin(a)]


def _grid(n: int) -> List[float]:
    return [i / (n - 1) for i in range(n)] if n > 1 else [0.0]


def _curve(f2: Callable[[float], float], low: float = 0.0) -> Callable[[int], List[List[float]]]:
    def front(n: int) -> List[List[float]]:
        return [[f1, f2(f1)] for f1 in (low + (1.0 - low) * t for t in _grid(n))]

    return front


def _zdt3_front(n: int) -> List[List[float]]:
    # The curve's non-dominated pieces: a point stays when no earlier f1 has a lower f2.
    points = _curve(lambda f1: 1.0 - math.sqrt(f1) - f1 * math.sin(10.0 * math.pi * f1))(n)
    kept, lowest = [], math.inf
    for f1, f2 in points:
        if f2 < lowest:
            kept.append([f1, f2])
            lowest = f2
    return kept


def _surface(point: Callable[[float, float], List[float]]) -> Callable[[int], List[List[float]]]:
    def front(n: int) -> List[List[float]]:
        side = max(2, math.isqrt(max(n, 4)))
        return [point(a, b) for a in _grid(side) for b in _grid(side)]

    return front


def _dtlz1_point(a: float, b: float) -> List[float]:
    return [0.5 * a * b, 0.5 * a * (1.0 - b), 0.5 * (1.0 - a)]


def _dtlz2_point(a: float, b: float) -> List[float]:
    u, v = a * math.pi / 2.0, b * math.pi / 2.0
    return [math.cos(u) * math.cos(v), math.cos(u) * math.sin(v), math.sin(u)]


# The lowest f1 of ZDT6's front: where 1 - exp(-4x) sin^6(6 pi x) is least.
_ZDT6_LOW = 0.2807753191

PROBLEMS: Dict[str, Problem] = {
    p.name: p
    for p in (
        Problem("zdt1", 2, 30, _zdt1, _unit_box, (1.1, 1.1), _curve(lambda f1: 1.0 - math.sqrt(f1))),
        Problem("zdt2", 2, 30, _zdt2, _unit_box, (1.1, 1.1), _curve(lambda f1: 1.0 - f1 * f1)),
        Problem("zdt3", 2, 30, _zdt3, _unit_box, (1.1, 1.1), _zdt3_front),
        Problem("zdt4", 2, 10, _zdt4, _zdt4_box, (1.1, 1.1), _curve(lambda f1: 1.0 - math.sqrt(f1))),
        Problem("zdt6", 2, 10, _zdt6, _unit_box, (1.1, 1.1),
                _curve(lambda f1: 1.0 - f1 * f1, _ZDT6_LOW)),
        Problem("dtlz1", 3, 7, _dtlz1, _unit_box, (0.6, 0.6, 0.6), _surface(_dtlz1_point)),
        Problem("dtlz2", 3, 12, _dtlz2, _unit_box, (1.1, 1.1, 1.1), _surface(_dtlz2_point)),
    )
}
