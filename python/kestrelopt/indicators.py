"""Quality indicators and Pareto utilities for sets of objective vectors (all minimised).

Every function takes (n, m) array-likes of float64 objective vectors, one row per point,
and returns a float or a NumPy array. NaN values are refused: dominance with a NaN is not
transitive, so ranks and contributions would have no meaning. Infinities are accepted,
except by the three distance indicators: the difference of two equal infinities has no
value, so neither has a distance to a point at infinity.

Distance indicators compare a ``front`` with a ``reference_front`` (for instance points
sampled on the true Pareto front); smaller is better for all three.

- ``igd``: IGD, inverted generational distance (Coello & Reyes Sierra 2004).
- ``igd_plus``: IGD+ (Ishibuchi et al. 2015), weakly Pareto compliant.
- ``additive_epsilon``: the additive epsilon indicator (Zitzler et al. 2003).

Pareto utilities on one set:

- ``nondominated_ranks``: fast non-dominated sorting (Deb et al. 2002).
- ``crowding_distance``: NSGA-II's crowding distance (Deb et al. 2002).
- ``hypervolume``: the exact hypervolume, by dimension sweeps.
- ``hypervolume_contributions``: the exclusive hypervolume of each point.
"""

from __future__ import annotations

from typing import Callable, Iterator, Tuple

import numpy as np
import numpy.typing as npt

import kestrelopt_native

__all__ = [
    "igd",
    "igd_plus",
    "additive_epsilon",
    "nondominated_ranks",
    "crowding_distance",
    "hypervolume",
    "hypervolume_contributions",
]

# Pairwise work is done in blocks of at most this many values, to bound the memory.
_BLOCK_VALUES = 1 << 22

_Floats = npt.NDArray[np.float64]
_Ranks = npt.NDArray[np.intp]


def _points(name: str, value: npt.ArrayLike, finite: bool = False) -> _Floats:
    """``value`` as an (n, m) float64 array; an empty sequence is a (0, 0) array. With
    ``finite``, infinities are refused as NaN is."""
    try:
        array = np.asarray(value, dtype=np.float64)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name} must be an (n, m) array of numbers: {error}") from None
    if array.ndim == 1 and array.size == 0:
        array = array.reshape(0, 0)
    if array.ndim != 2:
        raise ValueError(f"{name} must be an (n, m) array, got shape {array.shape}")
    if np.isnan(array).any():
        raise ValueError(f"{name} contains NaN")
    if finite and np.isinf(array).any():
        raise ValueError(f"{name} contains an infinity")
    return array


def _front_pair(front: npt.ArrayLike, reference_front: npt.ArrayLike) -> Tuple[_Floats, _Floats]:
    front = _points("front", front, finite=True)
    reference_front = _points("reference_front", reference_front, finite=True)
    if reference_front.shape[0] == 0:
        raise ValueError("reference_front is empty")
    if front.shape[0] and front.shape[1] != reference_front.shape[1]:
        raise ValueError(
            f"front has {front.shape[1]} objectives, reference_front has "
            f"{reference_front.shape[1]}"
        )
    return front, reference_front


def _blocks(rows: int, per_row: int) -> Iterator[slice]:
    """Slices of ``rows`` rows, each covering about _BLOCK_VALUES values."""
    step = max(1, _BLOCK_VALUES // max(1, per_row))
    return (slice(start, start + step) for start in range(0, rows, step))


def _per_reference_point(
    front: _Floats, reference_front: _Floats, reduce: Callable[[_Floats], _Floats]
) -> _Floats:
    """For each reference point r, ``reduce(front - r)`` over the front (an (b, n, m) block
    of differences in, one value per reference point of the block out)."""
    out = np.empty(reference_front.shape[0])
    for rows in _blocks(reference_front.shape[0], front.size):
        out[rows] = reduce(front[None, :, :] - reference_front[rows, None, :])
    return out


def igd(front: npt.ArrayLike, reference_front: npt.ArrayLike) -> float:
    """Inverted generational distance (Coello & Reyes Sierra 2004).

    The mean, over the points r of ``reference_front``, of the Euclidean distance from r
    to the nearest point of ``front``::

        IGD(A, R) = 1/|R| * sum over r in R of min over a in A of ||a - r||

    Returns ``inf`` for an empty ``front``; ``reference_front`` must not be empty. A NaN or
    an infinity in either argument is a ValueError.
    """
    front, reference_front = _front_pair(front, reference_front)
    if front.shape[0] == 0:
        return float("inf")
    nearest = _per_reference_point(
        front, reference_front, lambda d: np.sqrt((d * d).sum(axis=2)).min(axis=1)
    )
    return float(nearest.mean())


def igd_plus(front: npt.ArrayLike, reference_front: npt.ArrayLike) -> float:
    """IGD+ (Ishibuchi et al. 2015): IGD with the modified distance

        d+(a, r) = sqrt(sum over k of max(a_k - r_k, 0) ** 2),

    which counts only the objectives in which a is worse than r, so that a front that
    dominates another never scores worse (weak Pareto compliance). Returns ``inf`` for an
    empty ``front``; ``reference_front`` must not be empty. A NaN or an infinity in either
    argument is a ValueError.
    """
    front, reference_front = _front_pair(front, reference_front)
    if front.shape[0] == 0:
        return float("inf")

    def nearest(d: _Floats) -> _Floats:
        worse = np.maximum(d, 0.0)
        distances: _Floats = np.sqrt((worse * worse).sum(axis=2)).min(axis=1)
        return distances

    return float(_per_reference_point(front, reference_front, nearest).mean())


def additive_epsilon(front: npt.ArrayLike, reference_front: npt.ArrayLike) -> float:
    """Additive epsilon indicator I_eps+ (Zitzler et al. 2003).

    The smallest eps such that every point r of ``reference_front`` is weakly dominated by
    some point of ``front`` moved by -eps in every objective::

        I_eps+(A, R) = max over r in R of min over a in A of max over k of (a_k - r_k)

    Zero or less when ``front`` weakly dominates ``reference_front``. Returns ``inf`` for an
    empty ``front``; ``reference_front`` must not be empty. A NaN or an infinity in either
    argument is a ValueError.
    """
    front, reference_front = _front_pair(front, reference_front)
    if front.shape[0] == 0:
        return float("inf")
    needed = _per_reference_point(front, reference_front, lambda d: d.max(axis=2).min(axis=1))
    return float(needed.max())


def nondominated_ranks(points: npt.ArrayLike) -> _Ranks:
    """The non-domination rank of every point, by fast non-dominated sorting (Deb et al.
    2002): rank 0 for the points no other point dominates, rank k for those dominated only
    by points of ranks below k. Equal points share their rank.

    Returns an int array of shape (n,). Computed natively, without holding the interpreter
    lock: two objectives take O(n log n); three, O(n log n log F) for F ranks; more, up to
    16,384 distinct points, a search over the ranks that compares each rank's points with a
    point eight at a time (O(n S log F), S the size of the largest rank), and past that a
    divide and conquer in O(n log^(m-1) n) (Jensen 2003, generalised to ties by Fortin et
    al. 2013).
    """
    points = _points("points", points)
    ranks: _Ranks = kestrelopt_native._nondominated_ranks(points)
    return ranks


def crowding_distance(points: npt.ArrayLike) -> _Floats:
    """NSGA-II's crowding distance (Deb et al. 2002), the definition the archive of
    ``minimize_multi`` prunes by on finite values.

    For each objective, the points are sorted by it (a stable sort: equal values keep
    their order); the first and the last get ``inf``, and each other point adds the gap
    between its two neighbours divided by the objective's range (max - min), when that
    range is positive. There is no division by the number of objectives. With one or two
    points every distance is ``inf``. Returns a float array of shape (n,).

    An infinite extreme makes the range infinite: a finite gap then adds 0 (its limit
    as the range grows), and the infinite gap of a neighbour of that extreme adds ``inf``.
    Equal values, infinite ones too, are no gap apart. No distance is ever NaN.
    """
    points = _points("points", points)
    distances: _Floats = kestrelopt_native._crowding_distance(points)
    return distances


_FLOAT64 = np.dtype(np.float64)


def _sweep_points(points: npt.ArrayLike) -> npt.ArrayLike:
    """The points for the native sweeps: a float64 array as it is (the native side checks it
    as _points would, with the same messages, and reads it in place when it is C-contiguous),
    anything else through _points."""
    if type(points) is np.ndarray and points.dtype is _FLOAT64:
        return points
    return _points("points", points)


def hypervolume(points: npt.ArrayLike, reference: npt.ArrayLike) -> float:
    """The exact hypervolume of ``points`` under ``reference``: the volume of the region
    that some point dominates and that is bounded by ``reference`` (Zitzler & Thiele 1998).

    Only points strictly better than ``reference`` in every objective count; dominated and
    repeated points take nothing away. Returns 0.0 when no point counts.

    Dimension sweeps, exact to rounding: two objectives take one sort, three O(n log n), four
    O(n^2) (each point adds its contribution to the 3-objective front of the points before
    it in the fourth objective), more a sweep in the last objective down to the
    4-objective one. Runs without the interpreter lock, and Ctrl-C interrupts it. Its
    results may differ from ``kestrelopt.hypervolume`` in the last bits (another order of
    summation).
    """
    volume: float = kestrelopt_native._hypervolume_sweep(_sweep_points(points), reference)
    return volume


def hypervolume_contributions(points: npt.ArrayLike, reference: npt.ArrayLike) -> _Floats:
    """The exclusive hypervolume of each point: the volume, bounded by ``reference``, that
    this point dominates and no other point of the set does, i.e.
    ``hypervolume(points) - hypervolume(points without it)`` (as in SMS-EMOA, Beume et al.
    2007).

    A point that another point weakly dominates (or equals) contributes 0, and so do
    points not strictly better than ``reference`` in every objective. Dominated points still
    take volume from the points that dominate them. Two and three objectives take one
    dimension sweep, O(n log n), for every point at once (a point that alone dominates
    another point takes its box less the volume of its limit set instead, the other points
    worsened to the region it dominates); more take, for each point not weakly dominated,
    its box less the hypervolume of its limit set. Runs without the interpreter lock, and
    Ctrl-C interrupts it. Returns a float array (n,).
    """
    out: _Floats = kestrelopt_native._hypervolume_contributions(_sweep_points(points), reference)
    return out
