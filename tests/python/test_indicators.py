"""kestrelopt.indicators against plain transcriptions of each definition (loops over the
points, written for clarity) on small random sets, and against known values on hand-made
sets. Hypervolume contributions are checked by counting lattice cells, which needs no
dominance filtering or recursion at all."""

import itertools
import math
import random
import subprocess
import sys
import time

import numpy as np
import pytest

import kestrelopt
from kestrelopt import indicators as ind

# ---------------------------------------------------------------- plain transcriptions


def plain_igd(front, reference, plus=False):
    total = 0.0
    for r in reference:
        best = math.inf
        for a in front:
            gaps = [max(ak - rk, 0.0) if plus else ak - rk for ak, rk in zip(a, r)]
            best = min(best, math.sqrt(sum(g * g for g in gaps)))
        total += best
    return total / len(reference)


def plain_epsilon(front, reference):
    return max(min(max(ak - rk for ak, rk in zip(a, r)) for a in front) for r in reference)


def dominates(a, b):
    return all(x <= y for x, y in zip(a, b)) and any(x < y for x, y in zip(a, b))


def plain_ranks(points):
    ranks = [None] * len(points)
    rank = 0
    while None in ranks:
        left = [i for i, r in enumerate(ranks) if r is None]
        front = [i for i in left if not any(dominates(points[j], points[i]) for j in left)]
        for i in front:
            ranks[i] = rank
        rank += 1
    return ranks


def plain_crowding(points):
    n = len(points)
    if n <= 2:
        return [math.inf] * n
    distances = [0.0] * n
    for k in range(len(points[0])):
        order = sorted(range(n), key=lambda i: points[i][k])  # stable
        distances[order[0]] = distances[order[-1]] = math.inf
        span = points[order[-1]][k] - points[order[0]][k]
        if span > 0:
            for r in range(1, n - 1):
                distances[order[r]] += (points[order[r + 1]][k] - points[order[r - 1]][k]) / span
    return distances


def lattice_contributions(points, side):
    """Exclusive volume of each integer point within the box [0, side)^m: the unit cells
    whose lower corner is no better than this point and than no other point."""
    counts = [0] * len(points)
    for cell in itertools.product(range(side), repeat=len(points[0])):
        owners = [i for i, p in enumerate(points) if all(c >= v for c, v in zip(cell, p))]
        if len(owners) == 1:
            counts[owners[0]] += 1
    return [float(c) for c in counts]


def random_points(rng, n, m, side):
    return [[float(rng.randrange(side + 1)) for _ in range(m)] for _ in range(n)]


# ---------------------------------------------------------------- known values


@pytest.mark.parametrize(
    "function, args, expected",
    [
        (ind.igd, ([[0, 0]], [[3, 4]]), 5.0),
        (ind.igd, ([[0, 1], [1, 0]], [[0, 1], [1, 0]]), 0.0),
        (ind.igd, ([[0, 0], [10, 10]], [[3, 4], [10, 11]]), 3.0),  # (5 + 1) / 2
        (ind.igd_plus, ([[0, 0]], [[3, 4]]), 0.0),  # dominates the reference point
        (ind.igd_plus, ([[4, 8]], [[1, 4]]), 5.0),
        (ind.igd_plus, ([[2, 0]], [[0, 2]]), 2.0),  # only the worse objective counts
        (ind.additive_epsilon, ([[1, 1]], [[0, 2]]), 1.0),
        (ind.additive_epsilon, ([[0, 0]], [[1, 1], [2, 0]]), 0.0),
        (ind.additive_epsilon, ([[3, 0], [0, 3]], [[1, 1]]), 2.0),
        (ind.igd, ([], [[1, 1]]), math.inf),
        (ind.additive_epsilon, (np.empty((0, 2)), [[1, 1]]), math.inf),
    ],
)
def test_distance_indicators_known_values(function, args, expected):
    assert function(*args) == expected


@pytest.mark.parametrize(
    "points, expected",
    [
        ([[0, 2], [1, 1], [2, 0]], [math.inf, 2.0, math.inf]),
        ([[1, 1], [1, 1], [1, 1]], [math.inf, 0.0, math.inf]),
        ([[0, 0], [5, 5]], [math.inf, math.inf]),
        ([[0, 4], [1, 3], [3, 1], [4, 0]], [math.inf, 1.5, 1.5, math.inf]),
    ],
)
def test_crowding_distance_known_values(points, expected):
    assert ind.crowding_distance(points).tolist() == expected


@pytest.mark.parametrize(
    "points, expected",
    [
        ([[1, 1], [2, 2], [0, 3], [3, 3], [2, 2]], [0, 1, 0, 2, 1]),
        ([[3, 3, 3], [2, 2, 2], [1, 1, 1]], [2, 1, 0]),
        ([[1, 2], [2, 1]], [0, 0]),
        ([], []),
    ],
)
def test_nondominated_ranks_known_values(points, expected):
    assert ind.nondominated_ranks(points).tolist() == expected


@pytest.mark.parametrize(
    "points, reference, expected",
    [
        ([[1, 2], [2, 1]], [3, 3], [1.0, 1.0]),
        # the dominated point takes a quarter from the one that dominates it
        ([[1, 2], [2, 1], [2.5, 1.5]], [3, 3], [1.0, 0.75, 0.0]),
        ([[1, 1], [1, 1], [2, 0]], [3, 3], [0.0, 0.0, 1.0]),  # equal points own nothing
        ([[1, 3], [4, 0], [1, 1]], [3, 3], [0.0, 0.0, 4.0]),  # outside the box
        ([[1, 2, 0], [2, 1, 0], [2.5, 1.5, 0]], [3, 3, 1], [1.0, 0.75, 0.0]),
    ],
)
def test_hypervolume_contributions_known_values(points, reference, expected):
    assert ind.hypervolume_contributions(points, reference).tolist() == expected


# ---------------------------------------------------------------- against the definitions


@pytest.mark.parametrize("seed", range(6))
def test_indicators_match_their_plain_transcriptions(seed):
    rng = random.Random(seed)
    m = 2 + seed % 3
    front = [[rng.uniform(0, 1) for _ in range(m)] for _ in range(rng.randrange(1, 25))]
    reference = [[rng.uniform(0, 1) for _ in range(m)] for _ in range(rng.randrange(1, 25))]
    assert ind.igd(front, reference) == pytest.approx(plain_igd(front, reference), rel=1e-12)
    assert ind.igd_plus(front, reference) == pytest.approx(
        plain_igd(front, reference, plus=True), rel=1e-12
    )
    assert ind.additive_epsilon(front, reference) == plain_epsilon(front, reference)
    # Coarse values: ties, duplicates and long dominance chains.
    points = random_points(rng, 40, m, 5)
    assert ind.nondominated_ranks(points).tolist() == plain_ranks(points)
    assert ind.crowding_distance(points).tolist() == plain_crowding(points)
    smooth = front + reference
    assert ind.crowding_distance(smooth).tolist() == plain_crowding(smooth)


@pytest.mark.parametrize(
    "m, n, side, seeds", [(2, 30, 12, range(8)), (3, 14, 6, range(6)), (4, 8, 4, range(3))]
)
def test_hypervolume_contributions_count_lattice_cells(m, n, side, seeds):
    # Integer points (some duplicated, dominated or on the reference): every volume is a
    # cell count, exact in floating point.
    for seed in seeds:
        rng = random.Random(100 * m + seed)
        points = random_points(rng, n, m, side)
        points += [list(points[0]), list(points[1])]
        expected = lattice_contributions(points, side)
        got = ind.hypervolume_contributions(np.array(points), [float(side)] * m).tolist()
        assert got == expected, seed


def test_large_blocks_give_the_same_values():
    # Enough points that pairwise work spans several blocks.
    rng = np.random.default_rng(3)
    points = rng.random((2500, 3))
    ranks = ind.nondominated_ranks(points)
    first = points[ranks == 0]
    for p in points[ranks == 1][:50]:
        assert any(dominates(q, p) for q in first)
    for p in first[:50]:
        assert not any(dominates(q, p) for q in points)
    # Two objectives take their own path; a constant third objective leaves the ranks as
    # they are and takes the pairwise one.
    coarse = np.round(rng.random((2000, 2)) * 30)
    flat = np.column_stack((coarse, np.ones(len(coarse))))
    assert ind.nondominated_ranks(coarse).tolist() == ind.nondominated_ranks(flat).tolist()
    reference = rng.random((2000, 3))
    assert ind.igd(points[:40], reference) == pytest.approx(
        plain_igd(points[:40].tolist(), reference.tolist()), rel=1e-12
    )


# ---------------------------------------------------------------- infinities

INF = math.inf


@pytest.mark.parametrize(
    "function, args, expected",
    [
        (ind.igd, ([[0, INF], [1, 0]], [[0, INF], [1, 0]]), "front contains an infinity"),
        (ind.igd_plus, ([[0, 0]], [[-INF, 1]]), "reference_front contains an infinity"),
        (ind.additive_epsilon, ([[0, -INF]], [[0, -INF]]), "front contains an infinity"),
        (ind.additive_epsilon, ([[0, 0]], [[0, 1], [INF, 0]]), "reference_front contains an infinity"),
        # The neighbour of an infinite extreme has an infinite gap.
        (ind.crowding_distance, ([[0, 1], [1, 0], [INF, -1]],), [INF, INF, INF]),
        # Both extremes infinite: the finite gap in the middle adds 0; the second objective 2/4.
        (ind.crowding_distance, ([[-INF, 0], [0, 1], [1, 2], [2, 3], [INF, 4]],),
         [INF, INF, 0.5, INF, INF]),
        # Equal infinities are no gap apart.
        (ind.crowding_distance, ([[0, 1], [INF, 0], [INF, -1], [INF, -2]],), [INF, INF, 2 / 3, INF]),
        (ind.crowding_distance, ([[INF, -INF]] * 3,), [INF, 0.0, INF]),
    ],
)
def test_infinities_are_refused_or_give_no_nan(function, args, expected):
    if isinstance(expected, str):
        with pytest.raises(ValueError, match=f"^{expected}$"):
            function(*args)
        return
    with np.errstate(all="raise"):  # no inf - inf or inf / inf on the way either
        result = function(*args)
    assert not np.isnan(result).any()
    np.testing.assert_allclose(result, expected)


# ---------------------------------------------------------------- errors


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: ind.igd([[0, math.nan]], [[1, 1]]), ValueError, "front contains NaN"),
        (lambda: ind.igd([[0, 0]], []), ValueError, "reference_front is empty"),
        (
            lambda: ind.igd_plus([[0, 0, 0]], [[1, 1]]),
            ValueError,
            "front has 3 objectives, reference_front has 2",
        ),
        (lambda: ind.additive_epsilon([0, 0], [[1, 1]]), ValueError, r"got shape \(2,\)"),
        (lambda: ind.nondominated_ranks([[0, 1], [2]]), TypeError, "points must be"),
        (lambda: ind.crowding_distance([["a", 1]]), TypeError, "points must be"),
        (
            lambda: ind.hypervolume_contributions([[0, 1]], [2, 2, 2]),
            ValueError,
            r"reference must have one value per objective \(2\)",
        ),
        (
            lambda: ind.hypervolume_contributions([[0, 1]], [2, math.nan]),
            ValueError,
            "reference contains NaN",
        ),
    ],
)
def test_errors_name_the_argument(call, error, message):
    with pytest.raises(error, match=message):
        call()


def test_package_import_leaves_numpy_unloaded_until_indicators_are_used():
    code = (
        "import sys, kestrelopt; print('numpy' in sys.modules); "
        "kestrelopt.indicators.igd([[0]], [[1]]); print('numpy' in sys.modules)"
    )
    done = subprocess.run(
        [sys.executable, "-c", code],
        capture_output=True,
        text=True,
        env={"PYTHONPATH": ":".join(sys.path), "PATH": ""},
        timeout=60,
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["False", "True"]
    assert kestrelopt.indicators is ind


# ---------------------------------------------------------------- hypervolume sweeps


def sweep_points(rng, shape, n, m):
    points = rng.random((n, m))
    if shape == "sphere":  # mutually non-dominated
        return points / np.linalg.norm(points, axis=1)[:, None]
    if shape == "coarse":  # ties, copies, dominated points, points on the reference
        points = np.round(points * 4) / 4
        return np.concatenate((points, points[:3]))
    return points  # "cube": mostly dominated


@pytest.mark.parametrize(
    "shape, n, m",
    [("sphere", 60, 2), ("coarse", 40, 2), ("sphere", 80, 3), ("cube", 80, 3), ("coarse", 60, 3),
     ("sphere", 40, 4), ("cube", 60, 4), ("coarse", 40, 4), ("sphere", 25, 5), ("coarse", 25, 5),
     ("sphere", 14, 6), ("cube", 1, 3), ("cube", 0, 3)],
)
def test_hypervolume_sweeps_match_the_recursion(shape, n, m):
    # Against kestrelopt.hypervolume (the WFG recursion), and every contribution against
    # the volume without the point; quarters under a reference of 1 are exact.
    rng = np.random.default_rng(10 * m + n)
    points = sweep_points(rng, shape, n, m)
    reference = [1.0 if shape == "coarse" else 1.1] * m
    whole = kestrelopt.hypervolume(points.tolist(), reference)
    volume = ind.hypervolume(points, reference)
    assert volume == pytest.approx(whole, rel=1e-12, abs=0)
    contributions = ind.hypervolume_contributions(points, reference)
    for i, p in enumerate(points):
        others = np.delete(points, i, axis=0)
        if (others <= p).all(axis=1).any():
            expected = 0.0
        else:
            expected = whole - kestrelopt.hypervolume(others.tolist(), reference)
        assert contributions[i] == pytest.approx(expected, rel=0, abs=1e-12 * whole), i
        if shape == "coarse":
            assert contributions[i] == expected, i


@pytest.mark.parametrize("function", [ind.hypervolume, ind.hypervolume_contributions])
def test_hypervolume_sweeps_read_any_array_alike(function):
    rng = np.random.default_rng(4)
    wide = rng.random((50, 8))
    points = np.ascontiguousarray(wide[:, ::2])
    expected = function(points, [1.0] * 4)
    for same in (wide[:, ::2], np.asfortranarray(points), points.tolist(), points[::-1][::-1],
                 points.astype(">f8")):
        np.testing.assert_array_equal(function(same, np.array([1.0] * 4)), expected)
    # The native functions convert what they are given too.
    native = {ind.hypervolume: kestrelopt.kestrelopt_native._hypervolume_sweep,
              ind.hypervolume_contributions: kestrelopt.kestrelopt_native._hypervolume_contributions}
    np.testing.assert_array_equal(native[function](wide[:, ::2].tolist(), (1.0,) * 4), expected)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: ind.hypervolume([[0, 1]], [2, 2, 2]),
         r"reference must have one value per objective \(2\), got shape \(3,\)"),
        (lambda: ind.hypervolume([[0, 1]], [[2, 2]]), r"got shape \(1, 2\)"),
        (lambda: ind.hypervolume([[0, math.nan]], [2, 2]), "points contains NaN"),
        (lambda: ind.hypervolume([[0, 1]], [math.nan, 2]), "reference contains NaN"),
        (lambda: ind.hypervolume([0, 1], [2, 2]), r"points must be an \(n, m\) array"),
        (lambda: kestrelopt.kestrelopt_native._hypervolume_sweep(np.zeros((2, 2)), [1.0] * 3),
         r"reference must have one value per objective \(2\), got shape \(3,\)"),
        (lambda: kestrelopt.kestrelopt_native._hypervolume_contributions([1.0, 2.0], [1.0] * 2),
         r"points must be an \(n, m\) array, got shape \(2,\)"),
        (lambda: ind.hypervolume(np.zeros((2, 2, 2)), [1.0] * 2),
         r"points must be an \(n, m\) array, got shape \(2, 2, 2\)"),
        (lambda: ind.hypervolume_contributions(np.array([[0.0, math.nan]]), [1.0] * 2),
         "points contains NaN"),
        (lambda: ind.hypervolume(np.zeros((0, 2)), [math.nan, 1.0]), "reference contains NaN"),
        (lambda: kestrelopt.kestrelopt_native._hypervolume_sweep([[1.0]], [math.nan]),
         "reference contains NaN"),
    ],
)
def test_hypervolume_sweeps_refuse_bad_input(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_hypervolume_sweeps_let_other_threads_run_and_agree_across_threads():
    import threading
    from concurrent.futures import ThreadPoolExecutor

    rng = np.random.default_rng(8)
    sets = [sweep_points(rng, "sphere", 700, 6) for _ in range(4)]
    serial = [ind.hypervolume(s, [1.1] * 6) for s in sets]
    ticks = []
    done = threading.Event()

    def heartbeat():
        while not done.is_set():
            ticks.append(1)
            time.sleep(0.002)

    beat = threading.Thread(target=heartbeat)
    beat.start()
    try:
        with ThreadPoolExecutor(max_workers=2) as pool:
            parallel = list(pool.map(lambda s: ind.hypervolume(s, [1.1] * 6), sets))
    finally:
        done.set()
        beat.join()
    assert parallel == serial
    # Holding the lock throughout, the computations would leave the heartbeat a tick or two.
    assert len(ticks) >= 5


def test_a_signal_handler_may_run_a_sweep_during_a_sweep():
    # The handler runs on the same thread, between two checks of the long computation,
    # whose buffers it must leave alone.
    import signal

    rng = np.random.default_rng(9)
    large = sweep_points(rng, "sphere", 1000, 6)
    small = sweep_points(rng, "sphere", 50, 3)
    expected_large = ind.hypervolume(large, [1.1] * 6)
    expected_small = ind.hypervolume_contributions(small, [1.1] * 3)
    seen = []

    def handler(signum, frame):
        seen.append(ind.hypervolume_contributions(small, [1.1] * 3))

    previous = signal.signal(signal.SIGALRM, handler)
    signal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)
    try:
        got = ind.hypervolume(large, [1.1] * 6)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
        signal.signal(signal.SIGALRM, previous)
    assert got == expected_large
    assert seen
    for values in seen:
        np.testing.assert_array_equal(values, expected_small)
