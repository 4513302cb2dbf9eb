"""Results pickle and copy by value: every attribute comes back bit for bit."""

import copy
import math
import pickle
import re
import struct
from concurrent.futures import ProcessPoolExecutor

import pytest

import kestrelopt as pso
from kestrelopt import kestrelopt_native as native

ATTRIBUTES = {
    "PsoResult": ["best_position", "best_value", "convergence", "history", "evaluations", "stop_reason"],
    "GreyResult": ["best_position", "best_centers", "best_spreads", "best_value", "convergence",
                   "evaluations", "stop_reason"],
    "ParetoFront": ["positions", "objectives", "swarm_history", "front_history", "violations", "evaluations",
                    "stop_reason"],
}


def zdt1(x):
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return [x[0], g * (1.0 - math.sqrt(x[0] / g))]


def special(x):
    # Infinities, NaN and negative zero must survive the round trip with their bits.
    return [float("nan") if x[0] > 0.9 else -0.0, float("inf") if x[1] > 0.9 else x[1]]


RESULTS = {
    "minimize": lambda: pso.minimize("rastrigin", (-5.12, 5.12), dim=3, n_particles=5, max_iter=4, seed=2),
    "integer": lambda: pso.minimize(lambda x: sum(x), (-3, 3), dim=2, integer=True, max_iter=3, seed=1),
    "no history": lambda: pso.minimize("sphere", (-1, 1), dim=2, record_history=False, seed=3),
    "callback stop": lambda: pso.minimize("sphere", (-1, 1), dim=2, callback=lambda i, b: i < 1, seed=3),
    "grey": lambda: pso.minimize_grey("grey_sphere", (-2, 2), dim=2, max_spread=0.5, max_iter=3, seed=4),
    "multi": lambda: pso.minimize_multi(zdt1, (0, 1), dim=4, n_particles=8, max_iter=3, seed=5),
    "multi special": lambda: pso.minimize_multi(special, (0, 1), dim=2, n_particles=8, max_iter=3, seed=6),
    "multi no iteration": lambda: pso.minimize_multi(zdt1, (0, 1), dim=2, n_particles=3, max_iter=0, seed=1),
    "multi infeasible": lambda: pso.minimize_multi(zdt1, (0, 1), dim=3, n_particles=6, max_iter=3, seed=7,
                                                   constraints=[lambda x: 0.5 + x[1]], max_evals=12),
}


def bits(value):
    """A comparable form in which floats compare by their bits (NaN and -0.0 included)."""
    if isinstance(value, float):
        return ("float", struct.pack("<d", value))
    if isinstance(value, (list, tuple)):
        return (type(value).__name__, [bits(v) for v in value])
    return (type(value).__name__, value)


def assert_same(restored, original):
    assert type(restored) is type(original)
    for name in ATTRIBUTES[type(original).__name__]:
        assert bits(getattr(restored, name)) == bits(getattr(original, name)), name
    assert repr(restored) == repr(original)


@pytest.fixture(scope="module", params=list(RESULTS))
def original(request):
    return RESULTS[request.param]()


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickle_round_trip(original, protocol):
    assert_same(pickle.loads(pickle.dumps(original, protocol=protocol)), original)


@pytest.mark.parametrize("copier", [copy.copy, copy.deepcopy])
def test_copies_are_new_equal_objects(original, copier):
    duplicate = copier(original)
    assert duplicate is not original
    assert_same(duplicate, original)


def test_state_lists_the_attributes_in_order(original):
    name, fields = native._result_state(original)
    assert name == type(original).__name__
    assert bits(fields) == bits(tuple(getattr(original, a) for a in ATTRIBUTES[name]))


def test_restored_front_answers_hypervolume_alike():
    front = RESULTS["multi"]()
    restored = pickle.loads(pickle.dumps(front))
    assert restored.hypervolume() == front.hypervolume()
    assert restored.hypervolume([2.0, 11.0]) == front.hypervolume([2.0, 11.0])


def run_in_worker(seed):
    return pso.minimize("ackley", (-5, 5), dim=3, n_particles=6, max_iter=5, seed=seed)


def test_a_worker_process_returns_its_result():
    with ProcessPoolExecutor(1) as pool:
        results = list(pool.map(run_in_worker, [7, 8]))
    for seed, result in zip([7, 8], results):
        assert_same(result, run_in_worker(seed))


@pytest.mark.parametrize(
    "name, fields, error, message",
    [
        ("Nope", (), ValueError, "no result class named 'Nope'"),
        ("PsoResult", ([1.0], 2.0), TypeError, "PsoResult is restored from a tuple of 6 fields"),
        ("PsoResult", [[1.0], 2.0, [], [], 1, "x"], TypeError, "tuple of 6 fields"),
        ("PsoResult", ([1.0], "2", [], [], 1, "x"), TypeError, "must be real number, not str"),
        ("PsoResult", ([1.0], 2.0, [], [], -1, "x"), OverflowError, "can't convert negative int to unsigned"),
        ("PsoResult", ([1.0], 2.0, [], [[[1.0], "ab"]], 1, "x"), TypeError, "Can't extract `str` to `Vec`"),
        ("PsoResult", ([1.0], 2.0, [], [], 1, 5), TypeError, "cannot be converted to 'PyString'"),
        ("GreyResult", ([(1.0, 2.0, 3.0)], [], [], 0.0, [], 1, "x"), ValueError, "an interval needs 2 values, got 3"),
        ("ParetoFront", ([[0.0]], [], [], [], [0.0], 1, "x"), ValueError, "one objective vector per position"),
        ("ParetoFront", ([[0.0], [1.0]], [[1.0, 2.0], [3.0]], [], [], [0.0, 0.0], 1, "x"), ValueError,
         "objective vectors of one length"),
        ("ParetoFront", ([[0.0]], [[1.0]], [], [], [], 1, "x"), ValueError, "one violation per position"),
        ("ParetoFront", ([[0.0]], [[1.0]], [], [], [0.0]), TypeError,
         "ParetoFront is restored from a tuple of 7 fields"),
    ],
)
def test_restore_refuses_what_does_not_fit(name, fields, error, message):
    with pytest.raises(error, match=re.escape(message)):
        native._restore_result(name, fields)


def test_a_front_pickled_before_violations_existed_still_restores():
    front = native._restore_result("ParetoFront", ([[0.5], [0.25]], [[1.0, 2.0], [2.0, 1.0]], [], []))
    assert front.positions == [[0.5], [0.25]] and front.objectives == [[1.0, 2.0], [2.0, 1.0]]
    assert (front.violations, front.stop_reason, front.evaluations) == ([0.0, 0.0], "max_iterations", 0)
    assert front.hypervolume([3.0, 3.0]) == 3.0


@pytest.mark.parametrize("value", [None, 3, [1.0], pso])
def test_state_of_something_else_is_a_type_error(value):
    with pytest.raises(TypeError, match="expected a PsoResult, GreyResult or ParetoFront, got"):
        native._result_state(value)


def test_hidden_helpers_stay_out_of_all():
    assert "_result_state" not in native.__all__ and "_restore_result" not in native.__all__
