"""The native sorting behind indicators.nondominated_ranks and crowding_distance against
computations written here (peeling fronts pair by pair; the former NumPy crowding, kept to
check the bits), and the buffer reading of hypervolume and the indicators against the lists
of lists they replace."""

import math
import random
import struct

import numpy as np
import pytest

import kestrelopt as pso
import kestrelopt_native
from kestrelopt import indicators as ind

INF = math.inf
# Few values, with -0 beside 0 and both infinities: ties, copies and chains are common.
LADDER = [-INF, -1.5, -0.0, 0.0, 0.5, 2.0, 3.0, INF]


def peeled_ranks(points):
    def dominates(a, b):
        return all(x <= y for x, y in zip(a, b)) and any(x < y for x, y in zip(a, b))

    ranks = [None] * len(points)
    rank = 0
    while None in ranks:
        left = [i for i, r in enumerate(ranks) if r is None]
        for i in [i for i in left if not any(dominates(points[j], points[i]) for j in left)]:
            ranks[i] = rank
        rank += 1
    return ranks


def numpy_crowding(points):
    """The NumPy computation crowding_distance made before it was native."""
    points = np.asarray(points, dtype=np.float64).reshape(len(points), -1)
    n = points.shape[0]
    if n <= 2:
        return np.full(n, np.inf)
    distances = np.zeros(n)
    for column in points.T:
        order = np.argsort(column, kind="stable")
        values = column[order]
        distances[order[0]] = np.inf
        distances[order[-1]] = np.inf
        if not values[-1] > values[0]:
            continue
        span = values[-1] - values[0]
        if np.isinf(span):
            lower, upper = values[:-2], values[2:]
            gap_infinite = (upper > lower) & (np.isinf(upper) | np.isinf(lower))
            distances[order[1:-1]] += np.where(gap_infinite, np.inf, 0.0)
        else:
            distances[order[1:-1]] += (values[2:] - values[:-2]) / span
    return distances


def sample(seed, n, m, levels):
    rng = random.Random(seed)
    pick = (lambda: rng.choice(LADDER[:levels])) if levels <= len(LADDER) else rng.random
    points = [[pick() for _ in range(m)] for _ in range(n)]
    for i in range(1, n, 4):  # copies of earlier points
        points[i] = list(points[rng.randrange(i)])
    return points


def bits(values):
    return [struct.pack("<d", v) for v in values]


@pytest.mark.parametrize(
    "m, n, levels",
    [(m, n, levels) for m in range(2, 7) for n, levels in ((0, 3), (1, 3), (2, 3), (3, 8), (40, 3), (90, 8), (60, 99))]
    + [(1, 30, 8), (0, 5, 3)],
)
def test_ranks_and_crowding_match_peeling_and_the_former_numpy_code(m, n, levels):
    for seed in range(4):
        points = sample(1000 * m + 10 * n + seed, n, m, levels)
        array = np.array(points, dtype=np.float64).reshape(n, m)
        with np.errstate(all="raise"):
            ranks = ind.nondominated_ranks(array)
            distances = ind.crowding_distance(array)
            expected_distances = numpy_crowding(array) if n else np.zeros(0)
        assert ranks.dtype == np.intp and ranks.shape == (n,)
        assert ranks.tolist() == peeled_ranks(points), seed
        assert distances.dtype == np.float64 and distances.shape == (n,)
        assert bits(distances) == bits(expected_distances), seed


def test_large_sets_agree_with_peeling():
    # Four and five objectives compare each rank's points in blocks; last objectives of two
    # values leave large sets that differ in the first two only.
    rng = np.random.default_rng(5)
    for m in (4, 5):
        array = np.round(rng.random((700, m)) * 6)
        assert ind.nondominated_ranks(array).tolist() == peeled_ranks(array.tolist())
        array[:, 2:] = np.round(array[:, 2:] / 6)
        array[:, :2] = np.round(rng.random((700, 2)) * 300)
        assert ind.nondominated_ranks(array).tolist() == peeled_ranks(array.tolist())


@pytest.mark.parametrize("m, side", [(4, 12), (5, 8)])
def test_grids_past_the_scan_take_the_divide_and_conquer(m, side):
    # Every point of a grid of more than 2^14 points, in shuffled order, some twice: a
    # point's rank is the sum of its steps, the length of the longest chain down to the
    # origin. Increasing maps of the axes, one to negative values, keep the ranks.
    steps = np.stack(np.meshgrid(*[np.arange(side)] * m, indexing="ij"), axis=-1).reshape(-1, m)
    rng = np.random.default_rng(m)
    steps = steps[rng.permutation(len(steps))]
    steps = np.concatenate([steps, steps[: len(steps) // 10]])
    array = steps.astype(np.float64)
    array[:, 0] = array[:, 0] ** 2
    array[:, 1] = array[:, 1] * 0.5 - 3.0
    assert ind.nondominated_ranks(array).tolist() == steps.sum(axis=1).tolist()


@pytest.mark.parametrize(
    "make",
    [
        lambda a: a.tolist(),
        lambda a: a.astype(np.float32),  # exact in float32: the values are small halves
        lambda a: np.asfortranarray(a),
        lambda a: np.repeat(a, 2, axis=1)[:, ::2],  # strided columns
        lambda a: a[::-1][::-1],
        lambda a: (a * 2).astype(np.int64),
    ],
)
def test_every_array_form_gives_the_same_results(make):
    base = np.array(sample(7, 50, 3, 6)[:], dtype=np.float64)
    base[~np.isfinite(base)] = 4.0  # int conversion needs finite values
    given = make(base)
    as_float = np.asarray(given, dtype=np.float64)
    assert ind.nondominated_ranks(given).tolist() == peeled_ranks(as_float.tolist())
    assert bits(ind.crowding_distance(given)) == bits(numpy_crowding(as_float))


@pytest.mark.parametrize("function", [kestrelopt_native._nondominated_ranks, kestrelopt_native._crowding_distance])
def test_the_native_functions_refuse_what_is_not_a_matrix(function):
    with pytest.raises(TypeError, match=r"^argument 'points': expected a two-dimensional array of numbers, got "):
        function([[1.0, 2.0]])
    with pytest.raises(TypeError, match="got an ndarray of shape"):
        function(np.zeros(3))


# ---------------------------------------------------------------- hypervolume input


FRONT = [[0.25, 0.75, 0.5], [0.5, 0.25, 1.0], [1.0, 0.5, 0.125], [0.125, 1.0, 1.5], [0.25, 0.75, 0.5]]
REFERENCE = [2.0, 2.0, 2.0]


@pytest.mark.parametrize(
    "front",
    [
        np.array(FRONT),
        np.asfortranarray(FRONT),
        np.array(FRONT, dtype=np.float32),
        np.array(FRONT)[::-1],
        np.repeat(np.array(FRONT), 2, axis=1)[:, ::2],
        memoryview(np.array(FRONT)),
        np.array(FRONT).reshape(5, 3, 1)[:, :, 0],
        np.array([[1, 0, 1], [0, 1, 1]]),
        np.array([[True, False, True], [False, True, True]]),
        np.array([[1, 0, 1], [0, 1, 1]], dtype=np.uint8),
        np.zeros((0, 3)),
        np.zeros((4, 0)),
        np.array([[0.5, np.nan, 0.5], [0.25, 0.25, 0.25]]),
    ],
)
@pytest.mark.parametrize("reference", [REFERENCE, np.array(REFERENCE), np.array(REFERENCE, dtype=np.float32)])
def test_hypervolume_reads_arrays_to_the_same_bits_as_lists(front, reference):
    as_lists = np.asarray(front).tolist()
    expected = pso.hypervolume(as_lists, list(map(float, reference)))
    assert bits([pso.hypervolume(front, reference)]) == bits([expected])


@pytest.mark.parametrize(
    "front, message",
    [
        (np.array([1.0, 2.0]), "argument 'front': 'float64' object cannot be converted to 'Sequence'"),
        (np.array([["a", "b"]]), "argument 'front': must be real number, not numpy.str_"),
        (np.array([[1.0, None]], dtype=object), "argument 'front': must be real number, not NoneType"),
    ],
)
def test_hypervolume_keeps_its_errors_for_arrays_it_cannot_read(front, message):
    # The messages of the sequence reading, which these arrays still take.
    with pytest.raises(TypeError) as info:
        pso.hypervolume(front, [3.0, 3.0])
    assert str(info.value) == message
