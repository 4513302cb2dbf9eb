"""resolve_bounds: its five readings (the last: objects with lb and ub) and their messages."""

import collections

import numpy as np
import pytest

import kestrelopt as pso
from conftest import assert_same_result

Pair = collections.namedtuple("Pair", "low high")

LONG = ("bounds must be a list of (min, max) pairs (or a NumPy array of shape (dim, 2)), or a "
        "single (min, max) pair with dim=<n>")


def resolved(bounds, dim=None):
    """The pairs minimize resolves, read back from the first recorded swarm: every particle
    lies within them, and a fixed dimension shows its value exactly."""
    seen = []
    pso.minimize(lambda x: seen.append(list(x)) or 0.0, bounds, dim=dim, n_particles=1, max_iter=0)
    return seen[0]


@pytest.mark.parametrize(
    "bounds, dim, expected",
    [
        ([(-5, 5)] * 3, None, [(-5, 5)] * 3),
        ([(-5, 5), (0, 1)], 2, [(-5, 5), (0, 1)]),
        (((1, 1), (2, 2)), None, [(1, 1), (2, 2)]),
        ([Pair(3, 3), Pair(4, 4)], None, [(3, 3), (4, 4)]),
        ([[-5, 5], [0, 1]], None, [(-5, 5), (0, 1)]),
        ([[7, 7], (8, 8)], None, [(7, 7), (8, 8)]),
        (np.array([[1.0, 1.0], [2.0, 2.0], [3.0, 3.0]]), None, [(1, 1), (2, 2), (3, 3)]),
        (np.array([[1.0, 1.0], [2.0, 2.0]]), 2, [(1, 1), (2, 2)]),
        ((-1, 1), 4, [(-1, 1)] * 4),
        ([-1, 1], 4, [(-1, 1)] * 4),
        (Pair(2, 2), 3, [(2, 2)] * 3),
        (np.array([0.5, 0.5]), 2, [(0.5, 0.5)] * 2),
        ([(np.float64(1.5), np.int32(2))], None, [(1.5, 2)]),
    ],
)
def test_readings(bounds, dim, expected):
    point = resolved(bounds, dim)
    assert len(point) == len(expected)
    for value, (low, high) in zip(point, expected):
        assert low <= value <= high
    # A seeded swarm of 200 covers each open range nearly whole: a box read narrower fails.
    seen = []
    pso.minimize(lambda x: seen.append(list(x)) or 0.0, bounds, dim=dim, n_particles=200,
                 max_iter=0, seed=1)
    for k, (low, high) in enumerate(expected):
        values = [p[k] for p in seen]
        assert low <= min(values) and max(values) <= high
        assert max(values) - min(values) >= 0.95 * (high - low)


@pytest.mark.parametrize(
    "bounds, dim, message",
    [
        ([], None, "bounds is empty"),
        ((), None, "bounds is empty"),
        ([], 3, "bounds is empty"),
        (np.zeros((0, 2)), None, "bounds is empty"),
        ([(0, 1), (0, 1)], 3, "dim=3 does not match the 2 bound pairs given"),
        ([(0, 1), (0, 1)], 0, "dim=0 does not match the 2 bound pairs given"),
        ([[0, 1], [0, 1], [0, 1]], 1, "dim=1 does not match the 3 bound pairs given"),
        ([(0, 1), (2, 3, 4)], None, "each bound must have exactly two values, (min, max)"),
        ([[0, 1], [2]], None, "each bound must have exactly two values, (min, max)"),
        ([[0, 1, 2]], 5, "each bound must have exactly two values, (min, max)"),
        ((-1, 1), None, "with a single (min, max) bound, pass dim=<number of dimensions>"),
        ([-1, 1], None, "with a single (min, max) bound, pass dim=<number of dimensions>"),
        ((-1, 1), 0, "dim must be >= 1"),
        ([-1, 1], 0, "dim must be >= 1"),
        ("ab", None, LONG),
        ("ab", 2, LONG),
        (5, None, LONG),
        (None, None, LONG),
        ((1, 2, 3), 2, LONG),
        ([1, 2, 3], 3, LONG),
        ([(0, "x")], None, LONG),
        ([("a", "b")], None, LONG),
        ({"a": 1}, None, LONG),
        ([["ab", "cd"]], None, LONG),
    ],
)
def test_bound_errors(bounds, dim, message):
    with pytest.raises(ValueError) as info:
        pso.minimize(lambda x: 0.0, bounds, dim=dim)
    assert str(info.value) == message


def test_dim_equal_to_the_pair_count_is_accepted():
    assert len(resolved([(0, 1), (0, 1)], 2)) == 2


def test_bounds_are_not_compared_here():
    # A reversed pair passes resolve_bounds; the space constructor refuses it.
    with pytest.raises(BaseException) as info:
        pso.minimize(lambda x: 0.0, [(1, 0)])
    assert type(info.value).__name__ == "PanicException"
    assert info.value.args == ("invalid bound in dimension 0: 1 > 0",)


def test_bounds_conversion_calls_float_protocol():
    class Half:
        def __float__(self):
            return 0.5

    assert resolved([(Half(), Half())]) == [0.5]


def test_an_interrupt_while_converting_bounds_is_not_taken_for_a_failed_reading():
    interrupt = KeyboardInterrupt()

    class Interrupting:
        def __float__(self):
            raise interrupt

    with pytest.raises(KeyboardInterrupt) as info:
        pso.minimize(lambda x: 0.0, [(Interrupting(), 1.0)])
    assert info.value is interrupt


def test_an_ordinary_exception_while_converting_is_a_failed_reading():
    class Broken:
        def __float__(self):
            raise RuntimeError("broken")

    with pytest.raises(ValueError) as info:
        pso.minimize(lambda x: 0.0, [(Broken(), 1.0)])
    assert str(info.value) == LONG


class Box:
    """The smallest object of the lb/ub form: two attributes, nothing else."""

    def __init__(self, lb, ub):
        self.lb = lb
        self.ub = ub


LowHigh = collections.namedtuple("LowHigh", "lb ub")


@pytest.mark.parametrize(
    "bounds, dim, expected",
    [
        (Box([0, 2, -1], [1, 2, 1]), None, [(0, 1), (2, 2), (-1, 1)]),
        (Box((0, 2), np.array([1.0, 2.0])), 2, [(0, 1), (2, 2)]),
        (Box(np.zeros(3), np.full(3, 0.5)), None, [(0, 0.5)] * 3),
        (Box(-1, 1), 3, [(-1, 1)] * 3),
        (Box(np.float64(4.0), np.array(4.0)), 2, [(4, 4)] * 2),
        # The forms read before lb/ub keep their meaning: a (lb, ub) named tuple is a pair,
        # and one holding two lists is a list of two rows.
        (LowHigh(5, 5), 2, [(5, 5)] * 2),
        (LowHigh([6, 6], [7, 7]), None, [(6, 6), (7, 7)]),
    ],
)
def test_lb_ub_form(bounds, dim, expected):
    test_readings(bounds, dim, expected)


def test_scipy_bounds_give_the_same_run_as_the_pairs():
    optimize = pytest.importorskip("scipy.optimize")
    box = optimize.Bounds([-5, 0, 1], [5, 1, 4])
    run = dict(n_particles=10, max_iter=5, seed=3)
    assert_same_result(pso.minimize("sphere", box, **run),
                       pso.minimize("sphere", [(-5, 5), (0, 1), (1, 4)], **run))
    front = pso.minimize_multi(lambda x: [x[0], 1 - x[0]], optimize.Bounds([0, 0], [1, 1]),
                               max_iter=3, seed=1)
    assert all(0 <= x <= 1 for point in front.positions for x in point)


@pytest.mark.parametrize(
    "bounds, dim, message",
    [
        (Box([0, 0], [1, 1, 1]), None, "bounds.lb has length 2 but bounds.ub has length 3"),
        (Box([], []), None, "bounds is empty"),
        (Box([0, 0], [1, 1]), 3, "dim=3 does not match the 2 bound pairs given"),
        (Box(0, 1), None, "with a single (min, max) bound, pass dim=<number of dimensions>"),
        (Box(0, 1), 0, "dim must be >= 1"),
        (Box([0, 0], 1), 2, LONG),
        (Box("ab", "cd"), None, LONG),
        (Box([0, "x"], [1, 1]), None, LONG),
    ],
)
def test_lb_ub_errors(bounds, dim, message):
    test_bound_errors(bounds, dim, message)


def test_lb_ub_needs_both_attributes():
    only_lb = Box([0], [1])
    del only_lb.ub
    test_bound_errors(only_lb, None, LONG)


def test_an_interrupt_while_reading_lb_is_not_taken_for_a_failed_reading():
    interrupt = KeyboardInterrupt()

    class Interrupting:
        ub = [1.0]

        @property
        def lb(self):
            raise interrupt

    with pytest.raises(KeyboardInterrupt) as info:
        pso.minimize(lambda x: 0.0, Interrupting())
    assert info.value is interrupt
