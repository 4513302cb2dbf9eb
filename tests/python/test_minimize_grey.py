"""minimize_grey: arguments and their checks, the objective adapter in both representations,
the native grey benchmark, failures, and the GreyResult it returns."""

import copy
import gc
import math
import sys

import numpy as np
import pytest

import kestrelopt as pso
from conftest import FailOn, interpreter_float_error, panic_type, same_bits

B2 = [(-5.0, 5.0)] * 2
SMALL = dict(n_particles=6, max_iter=5, seed=3)
RUN_CALLS = 6 * (5 + 1)


def center_spread_sphere(greys):
    """The native grey_sphere, written out: sum of c*c + s from negative zero."""
    total = -0.0
    for c, s in greys:
        total += c * c + s
    return total


def assert_same_grey_result(r1, r2):
    pairs = [(a, b) for p, q in zip(r1.best_position, r2.best_position) for a, b in zip(p, q)]
    assert len(r1.best_position) == len(r2.best_position)
    assert all(same_bits(a, b) for a, b in pairs)
    assert all(same_bits(a, b) for a, b in zip(r1.best_centers, r2.best_centers))
    assert all(same_bits(a, b) for a, b in zip(r1.best_spreads, r2.best_spreads))
    assert same_bits(r1.best_value, r2.best_value)
    assert r1.convergence == r2.convergence
    assert r1.evaluations == r2.evaluations
    assert r1.stop_reason == r2.stop_reason


class Recorder:
    """An objective that keeps a deep copy of every candidate it receives."""

    def __init__(self, value=lambda greys: 0.0):
        self.value = value
        self.seen = []

    def __call__(self, greys):
        self.seen.append(copy.deepcopy(greys))
        return self.value(greys)


# ---- signature, docstring, binding ------------------------------------------------------

DOC_BODY = """Minimizes a grey objective with PSO. Each variable is a *grey number*
\u2297 = ``[lower, upper]`` constrained to lie within its ``bounds``; the swarm
searches over its center and spread.

The objective can be a Python *callable* that receives the candidate as a
``list[tuple[float, float]]`` (one pair per grey variable, in the
``representation`` you choose) and returns a single ``float`` (the
whitenized scalar to minimize \u2014 e.g. via interval arithmetic and a
whitenization rule of your choice), OR the name (str) of a native grey
benchmark (``"grey_sphere"``), which runs without the GIL. With
``array_input=True`` the callable receives a read-only ``float64`` NumPy
array of shape ``(n, 2)`` instead, row ``i`` holding the pair of grey
variable ``i``.

``n_particles``, ``max_iter``, ``w``, ``c1``, ``c2``, ``velocity``,
``topology``, ``seed``, ``record_history``, ``patience``, ``tol``,
``max_evals``, ``target``, ``max_time``, ``dim``, ``w_end`` and
``ring_neighbors`` mean what they mean for ``minimize``. Grey bounds are
enforced by projection onto the feasible region, so there is no
``bounds_handling``.

Args:
    objective: callable ``f(list[tuple[float, float]]) -> float`` to minimize,
        OR the name (str) of a native grey benchmark: ``"grey_sphere"``.
    bounds: ``(lower, upper)`` LIMITS each grey number's interval must stay
        within \u2014 either a list of pairs (one per variable) or a single pair
        with ``dim``. The whole decoded interval is kept inside these limits.
    max_spread: optional extra cap on the half-width of each grey variable \u2014
        ``None`` (default, limited only by ``bounds``), a single float
        (broadcast) or a list of floats (one per variable).
    representation (str): how each grey number is passed to (and read from)
        the objective: ``"interval"`` (default) gives ``(lower, upper)``
        pairs; ``"center_spread"`` gives ``(center, spread)`` pairs. Does not
        affect native benchmarks. The result always exposes both forms.
    v_max (float | list[float] | None): velocity limit as in ``minimize``; a
        list gives one limit per grey variable, which bounds both its center
        and its spread velocity. Defaults to ``None`` (off).
    v_max_fraction (float | None): the limit as a fraction ``f`` of each grey
        variable's widths: its center velocity is clamped to
        ``f * (upper - lower)`` of its ``bounds``, its spread velocity to
        ``f`` times its widest feasible spread,
        ``min((upper - lower) / 2, max_spread)``. Needs bounds of finite
        width; not together with ``v_max``. Defaults to ``None``.
    array_input (bool): if ``True``, a Python objective receives the
        candidate as a read-only ``(n, 2)`` ``float64`` NumPy array of the
        pairs in ``representation`` instead of a list of tuples (an array
        it keeps is never changed afterwards). A seeded run gives the same
        result as with lists. Defaults to ``False``.
    init (list | None): starting grey vectors for the first particles: up to
        ``n_particles`` rows, each one ``(lower, upper)`` interval per grey
        variable, inside the limits and no wider than ``2 * max_spread``;
        the other particles start where they would have anyway. Defaults to
        ``None``.

Returns:
    GreyResult: with ``best_position`` (intervals), ``best_centers``,
    ``best_spreads``, ``best_value`` and ``convergence``.

Example:
    >>> import kestrelopt as pso
    >>> # Find grey numbers whose midpoints minimize a sphere while staying crisp.
    >>> def f(greys):
    ...     centers = [(lo + hi) / 2 for (lo, hi) in greys]
    ...     spreads = [(hi - lo) / 2 for (lo, hi) in greys]
    ...     return sum(c * c for c in centers) + sum(spreads)
    >>> r = pso.minimize_grey(f, bounds=(-5, 5), dim=2, seed=42)
    >>> r.best_value < 1e-2
    True"""


def test_docstring_is_verbatim():
    assert pso.minimize_grey.__doc__ == DOC_BODY


def test_docstring_example_holds():
    def f(greys):
        centers = [(lo + hi) / 2 for (lo, hi) in greys]
        spreads = [(hi - lo) / 2 for (lo, hi) in greys]
        return sum(c * c for c in centers) + sum(spreads)

    r = pso.minimize_grey(f, bounds=(-5, 5), dim=2, seed=42)
    assert r.best_value < 1e-2


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: pso.minimize_grey(), TypeError,
         "minimize_grey() missing 2 required positional arguments: 'objective' and 'bounds'"),
        (lambda: pso.minimize_grey("grey_sphere"), TypeError,
         "minimize_grey() missing 1 required positional argument: 'bounds'"),
        (lambda: pso.minimize_grey(*range(26)), TypeError,
         "minimize_grey() takes from 2 to 25 positional arguments but 26 were given"),
        (lambda: pso.minimize_grey("grey_sphere", B2, bounds_handling="clamp"), TypeError,
         "minimize_grey() got an unexpected keyword argument 'bounds_handling'"),
        (lambda: pso.minimize_grey("grey_sphere", B2, None, bounds=B2), TypeError,
         "minimize_grey() got multiple values for argument 'bounds'"),
        (lambda: pso.minimize_grey("grey_sphere", B2, representation=3), TypeError,
         "argument 'representation': 'int' object cannot be converted to 'PyString'"),
        (lambda: pso.minimize_grey("grey_sphere", B2, record_history=None), TypeError,
         "argument 'record_history': 'NoneType' object cannot be converted to 'PyBool'"),
        (lambda: pso.minimize_grey("grey_sphere", B2, topology=None), TypeError,
         "argument 'topology': 'NoneType' object cannot be converted to 'PyString'"),
    ],
)
def test_binding_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize("name, value", [("n_particles", -1), ("max_iter", 2**64), ("seed", -5), ("dim", -1)])
def test_negative_or_huge_counts_are_value_errors(name, value):
    with pytest.raises(ValueError, match=f"^{name} must be a "):
        pso.minimize_grey("grey_sphere", (-1, 1), **{name: value})


@pytest.mark.parametrize("name", ["n_particles", "patience", "max_evals"])
def test_float_for_a_count_is_a_wrapped_type_error(name):
    with pytest.raises(TypeError) as info:
        pso.minimize_grey("grey_sphere", B2, **{name: 1.5})
    assert str(info.value).startswith(f"argument '{name}': ")


def test_every_parameter_can_be_given_positionally():
    args = ["grey_sphere", B2, 1.0, "center_spread", 5, 4, 0.7, 1.4, 1.4, "constriction", "ring", 9,
            True, 2.0, 0, 0.0, None, None, None, None]
    kwargs = dict(max_spread=1.0, representation="center_spread", n_particles=5, max_iter=4, w=0.7,
                  c1=1.4, c2=1.4, velocity="constriction", topology="ring", seed=9, v_max=2.0)
    assert_same_grey_result(pso.minimize_grey(*args), pso.minimize_grey("grey_sphere", B2, **kwargs))


# ---- checks and their order ------------------------------------------------------------

@pytest.mark.parametrize("name", ["Interval", "interval ", "centre_spread", "center spread", ""])
def test_unknown_representation(name):
    with pytest.raises(ValueError) as info:
        pso.minimize_grey("grey_sphere", B2, representation=name)
    assert str(info.value) == f"unknown representation: '{name}'. Available: interval, center_spread"


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        # representation before bounds
        (dict(representation="Interval", bounds=[]), ValueError,
         "unknown representation: 'Interval'. Available: interval, center_spread"),
        # bounds before max_spread
        (dict(bounds=[], max_spread="wide"), ValueError, "bounds is empty"),
        (dict(bounds=(-1, 1), max_spread="wide"), ValueError,
         "with a single (min, max) bound, pass dim=<number of dimensions>"),
        # max_spread before the swarm size
        (dict(max_spread=[1, 2, 3], n_particles=0), ValueError,
         "max_spread has 3 values but there are 2 grey variables"),
        # swarm size before v_max
        (dict(n_particles=0, v_max=-1.0), ValueError, "n_particles must be >= 1"),
        # v_max before max_time
        (dict(v_max=float("nan"), max_time=-1.0), ValueError,
         "v_max must be a finite value >= 0 (or None to disable)"),
        # velocity before topology
        (dict(velocity="nope", topology="nope"), ValueError,
         "unknown variant: 'nope'. Available: inertia, constriction, fips, spso2011, spso2011_uniform_radius"),
        # topology before the space
        (dict(topology="VonNeumann", bounds=[(1, 0)]), ValueError,
         "unknown topology: 'VonNeumann'. Available: global, ring, vonneumann, random, adaptive_random"),
        (dict(objective="grey_cube"), KeyError,
         "unknown native grey benchmark: 'grey_cube'. Available: grey_sphere"),
        (dict(objective="grey_sphere ", v_max=0.0), KeyError,
         "unknown native grey benchmark: 'grey_sphere '. Available: grey_sphere"),
    ],
)
def test_checks_in_their_order(kwargs, error, message):
    arguments = dict(objective="grey_sphere", bounds=B2, n_particles=4, max_iter=2)
    arguments.update(kwargs)
    with pytest.raises(error) as info:
        pso.minimize_grey(**arguments)
    assert info.value.args == (message,)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(bounds=[(1, 0)]), "invalid bound in variable 0: 1 > 0"),
        (dict(bounds=[(0, 1), (2.5, -0.5)]), "invalid bound in variable 1: 2.5 > -0.5"),
        (dict(bounds=[(0, float("nan"))]), "invalid bound in variable 0: 0 > NaN"),
        (dict(max_spread=-1), "negative max spread in variable 0: -1"),
        (dict(max_spread=[0.5, -0.25]), "negative max spread in variable 1: -0.25"),
        (dict(max_spread=float("nan")), "negative max spread in variable 0: NaN"),
        (dict(max_time=-1.0), "cannot convert float seconds to Duration: value is negative"),
        (dict(max_time=float("nan")), "cannot convert float seconds to Duration: value is either too big or NaN"),
        (dict(max_time=float("inf")), "cannot convert float seconds to Duration: value is either too big or NaN"),
        (dict(max_time=2.0**64), "cannot convert float seconds to Duration: value is either too big or NaN"),
        # the time limit is converted before the factories, the space after them
        (dict(max_time=-1.0, velocity="nope"), "cannot convert float seconds to Duration: value is negative"),
        # the space is built before the objective is looked up
        (dict(bounds=[(1, 0)], objective="grey_cube"), "invalid bound in variable 0: 1 > 0"),
        (dict(max_spread=-1, objective="grey_cube"), "negative max spread in variable 0: -1"),
    ],
)
def test_internal_failures_arrive_as_panic(kwargs, message, capsys):
    arguments = dict(objective="grey_sphere", bounds=B2, n_particles=4, max_iter=2)
    arguments.update(kwargs)
    with pytest.raises(panic_type()) as info:
        pso.minimize_grey(**arguments)
    assert info.value.args == (message,)
    assert not isinstance(info.value, Exception)
    capsys.readouterr()
    # the module stays usable
    assert pso.minimize_grey("grey_sphere", B2, **SMALL).evaluations == RUN_CALLS


def test_objective_is_not_called_when_a_check_fails():
    objective = FailOn(0)
    for kwargs in (dict(representation="x"), dict(n_particles=0), dict(max_spread="wide"), dict(topology="x")):
        with pytest.raises(ValueError):
            pso.minimize_grey(objective, B2, **kwargs)
    assert objective.calls == 0


@pytest.mark.parametrize("v_max", [0, 0.0, -0.0, 1e-300, 3.5])
def test_v_max_accepted(v_max):
    assert pso.minimize_grey("grey_sphere", B2, v_max=v_max, **SMALL).evaluations == RUN_CALLS


@pytest.mark.parametrize("v_max", [-1e-300, -1, float("nan"), float("inf"), float("-inf")])
def test_v_max_refused(v_max):
    with pytest.raises(ValueError) as info:
        pso.minimize_grey("grey_sphere", B2, v_max=v_max)
    assert str(info.value) == "v_max must be a finite value >= 0 (or None to disable)"


def test_zero_velocity_limit_freezes_the_swarm():
    # Every velocity component is cut to zero, so no particle ever moves: the best value is
    # the best of the initial swarm throughout.
    r = pso.minimize_grey("grey_sphere", B2, v_max=0.0, n_particles=5, max_iter=20, seed=4)
    assert len(set(r.convergence)) == 1


# ---- max_spread -------------------------------------------------------------------------

B3 = [(-5.0, 5.0)] * 3


@pytest.mark.parametrize(
    "given, cap",
    [
        (0.5, [0.5, 0.5, 0.5]),
        (1, [1.0, 1.0, 1.0]),
        (np.float64(0.25), [0.25] * 3),
        ([0.1, 0.2, 0.3], [0.1, 0.2, 0.3]),
        ((0.3, 0.2, 0.1), [0.3, 0.2, 0.1]),
        (np.array([0.2, 0.4, 0.6]), [0.2, 0.4, 0.6]),
        ([1, 2, 3], [1.0, 2.0, 3.0]),
    ],
)
def test_max_spread_caps_every_spread(given, cap):
    seen = Recorder(center_spread_sphere)
    r = pso.minimize_grey(seen, B3, max_spread=given, representation="center_spread", **SMALL)
    assert len(seen.seen) == RUN_CALLS
    for greys in seen.seen:
        assert all(0.0 <= s <= limit for (_, s), limit in zip(greys, cap))
    assert all(0.0 <= s <= limit for s, limit in zip(r.best_spreads, cap))
    # the same run as with the cap written out per variable
    explicit = pso.minimize_grey(center_spread_sphere, B3, max_spread=cap, representation="center_spread",
                                 **SMALL)
    assert_same_grey_result(r, explicit)


def test_max_spread_none_is_limited_by_the_bounds_alone():
    seen = Recorder(lambda g: -sum(s for _, s in g))  # rewards wide intervals
    r = pso.minimize_grey(seen, [(0.0, 4.0)], representation="center_spread", n_particles=10, max_iter=30,
                          seed=2)
    for ((c, s),) in seen.seen:
        assert 0.0 <= c <= 4.0 and 0.0 <= s <= min(c, 4.0 - c)
    # the widest interval the limits allow is centred with half-width 2
    assert r.best_spreads[0] > 1.5
    assert same_bits(r.best_spreads[0], pso.minimize_grey(
        lambda g: -g[0][1], [(0.0, 4.0)], max_spread=None, representation="center_spread", n_particles=10,
        max_iter=30, seed=2).best_spreads[0])


@pytest.mark.parametrize("given", ["wide", "0.5", [1, "a", 2], [None, 1, 2], object(), {"a": 1}, None.__class__])
def test_max_spread_neither_floats_nor_a_float(given):
    with pytest.raises(ValueError) as info:
        pso.minimize_grey("grey_sphere", B3, max_spread=given)
    assert str(info.value) == "max_spread must be a float, a list of floats (one per grey variable), or None"


@pytest.mark.parametrize("given, length", [([1, 2], 2), ([], 0), ((1.0,) * 4, 4), (np.zeros(5), 5)])
def test_max_spread_of_the_wrong_length(given, length):
    with pytest.raises(ValueError) as info:
        pso.minimize_grey("grey_sphere", B3, max_spread=given)
    assert str(info.value) == f"max_spread has {length} values but there are 3 grey variables"


def test_max_spread_conversion_interrupt_is_not_a_failed_reading():
    class Interrupting:
        def __float__(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        pso.minimize_grey("grey_sphere", B3, max_spread=Interrupting())


def test_max_spread_zero_makes_every_interval_crisp():
    seen = Recorder(lambda g: sum(((lo + hi) / 2) ** 2 for lo, hi in g))
    r = pso.minimize_grey(seen, B3, max_spread=0, **SMALL)
    assert r.best_spreads == [0.0, 0.0, 0.0]
    assert all(lo == hi for lo, hi in r.best_position)
    assert all(lo == hi for greys in seen.seen for lo, hi in greys)


def test_infinite_max_spread_is_accepted():
    assert pso.minimize_grey("grey_sphere", B3, max_spread=float("inf"), **SMALL).evaluations == RUN_CALLS


# ---- the objective adapter --------------------------------------------------------------

@pytest.mark.parametrize("representation", ["interval", "center_spread", "center-spread"])
def test_candidates_are_lists_of_float_pairs(representation):
    seen = Recorder()
    pso.minimize_grey(seen, B3, representation=representation, **SMALL)
    assert len(seen.seen) == RUN_CALLS
    for greys in seen.seen:
        assert type(greys) is list and len(greys) == 3
        assert all(type(pair) is tuple and len(pair) == 2 for pair in greys)
        assert all(type(v) is float for pair in greys for v in pair)


def test_interval_pairs_are_ordered_and_within_the_limits():
    bounds = [(-1.0, 3.0), (10.0, 10.5), (-7.0, -2.0)]
    seen = Recorder(lambda g: sum(hi - lo for lo, hi in g))
    r = pso.minimize_grey(seen, bounds, n_particles=10, max_iter=10, seed=8)
    for greys in seen.seen + [r.best_position]:
        for (lo, hi), (low, high) in zip(greys, bounds):
            assert low <= lo <= hi <= high


def test_the_two_representations_describe_the_same_candidates():
    # With a constant objective the search does not depend on the values, so both runs visit
    # the same grey numbers, handed over in their two forms.
    interval, center_spread, dashed = Recorder(), Recorder(), Recorder()
    pso.minimize_grey(interval, B3, representation="interval", **SMALL)
    pso.minimize_grey(center_spread, B3, representation="center_spread", **SMALL)
    pso.minimize_grey(dashed, B3, representation="center-spread", **SMALL)
    assert dashed.seen == center_spread.seen
    assert len(interval.seen) == len(center_spread.seen) == RUN_CALLS
    for pairs, greys in zip(interval.seen, center_spread.seen):
        assert pairs == [(c - s, c + s) for c, s in greys]
        assert all(s >= 0.0 for _, s in greys)


def test_python_objective_matches_the_native_benchmark_bit_for_bit():
    kwargs = dict(n_particles=12, max_iter=25, seed=21, max_spread=[1.0, 2.0, 0.5])
    native = pso.minimize_grey("grey_sphere", B3, **kwargs)
    python = pso.minimize_grey(center_spread_sphere, B3, representation="center_spread", **kwargs)
    assert_same_grey_result(native, python)


@pytest.mark.parametrize("representation", ["interval", "center_spread"])
def test_representation_does_not_affect_the_native_benchmark(representation):
    base = pso.minimize_grey("grey_sphere", B3, **SMALL)
    assert_same_grey_result(base, pso.minimize_grey("grey_sphere", B3, representation=representation, **SMALL))


@pytest.mark.parametrize(
    "answer, expected",
    [(2, 2.0), (True, 1.0), (np.float64(0.5), 0.5), (np.int32(7), 7.0), (float("nan"), None)],
)
def test_results_convert_by_the_float_protocol(answer, expected):
    r = pso.minimize_grey(lambda g: answer, B2, **SMALL)
    if expected is None:
        assert math.isnan(r.best_value)
    else:
        assert r.best_value == expected and type(r.best_value) is float


def test_kept_candidate_lists_are_never_changed_afterwards():
    kept, copies = [], []

    def objective(greys):
        if len(kept) % 2 == 0:  # keep every other list
            kept.append(greys)
            copies.append(copy.deepcopy(greys))
        return center_spread_sphere(greys)

    pso.minimize_grey(objective, B3, representation="center_spread", **SMALL)
    assert kept == copies


def test_a_mutated_candidate_list_does_not_leak_into_the_next_call():
    seen = []

    def objective(greys):
        seen.append((len(greys), all(type(p) is tuple for p in greys)))
        greys[0] = "junk"
        greys.append("more")
        return 0.0

    pso.minimize_grey(objective, B3, **SMALL)
    assert seen == [(3, True)] * RUN_CALLS


# ---- failures of the objective ----------------------------------------------------------

@pytest.mark.parametrize("n", [1, 2, 6, 7, 20, RUN_CALLS])
def test_exception_on_call_n_is_raised_unchanged_after_the_run(n):
    objective = FailOn(n)
    with pytest.raises(RuntimeError) as info:
        pso.minimize_grey(objective, B2, **SMALL)
    assert info.value is objective.error
    assert objective.calls == n


def test_exception_on_the_first_call_ends_python_calls_but_not_the_run():
    objective = FailOn(1)
    with pytest.raises(RuntimeError) as info:
        pso.minimize_grey(objective, B2, n_particles=10, max_iter=200, seed=1)
    assert info.value is objective.error
    assert objective.calls == 1


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3), ValueError("v"), ZeroDivisionError()])
def test_any_exception_is_kept_as_the_same_object(error):
    objective = FailOn(3, error)
    with pytest.raises(type(error)) as info:
        pso.minimize_grey(objective, B2, **SMALL)
    assert info.value is error
    assert objective.calls == 3


def test_traceback_of_the_objective_is_kept():
    def objective(greys):
        raise LookupError("deep")

    with pytest.raises(LookupError) as info:
        pso.minimize_grey(objective, B2, **SMALL)
    assert any(entry.name == "objective" for entry in info.traceback)


@pytest.mark.parametrize("answer", [None, "1.5", [1.0], object()])
def test_unconvertible_result_names_the_objective_over_the_interpreters_error(answer):
    calls = []

    def objective(greys):
        calls.append(1)
        return answer

    with pytest.raises(TypeError) as info:
        pso.minimize_grey(objective, B2, **SMALL)
    assert str(info.value).startswith("objective returned ")
    assert str(info.value).endswith(" for particle 0; it must return a number")
    assert str(info.value.__cause__) == interpreter_float_error(answer)
    assert len(calls) == 1


def test_objective_none_is_not_refused_up_front():
    with pytest.raises(TypeError) as info:
        pso.minimize_grey(None, B2, **SMALL)
    assert "'NoneType' object is not callable" in str(info.value)


@pytest.mark.parametrize("n, raised", [(12, True), (13, False)])
def test_a_failure_in_the_last_iteration_before_a_stop_is_still_raised(n, raised):
    # The target is met after the first iteration: 12 evaluations in all.
    objective = FailOn(n)
    if raised:
        with pytest.raises(RuntimeError):
            pso.minimize_grey(objective, B2, target=float("inf"), **SMALL)
    else:
        assert pso.minimize_grey(objective, B2, target=float("inf"), **SMALL).stop_reason == "target"
    assert objective.calls == 12


# ---- the result -------------------------------------------------------------------------

def test_result_fields_are_consistent():
    bounds = [(-5.0, 5.0), (0.0, 2.0), (-1.0, 1.0)]
    r = pso.minimize_grey("grey_sphere", bounds, n_particles=15, max_iter=40, seed=5)
    assert type(r) is pso.GreyResult
    assert len(r.best_position) == len(r.best_centers) == len(r.best_spreads) == 3
    for (lo, hi), c, s, (low, high) in zip(r.best_position, r.best_centers, r.best_spreads, bounds):
        assert type(lo) is float and type(hi) is float
        assert (lo, hi) == (c - s, c + s)
        assert s >= 0.0 and low <= lo <= hi <= high
    assert r.best_value == center_spread_sphere(list(zip(r.best_centers, r.best_spreads)))
    assert r.evaluations == 15 * 41
    assert r.stop_reason == "max_iterations"
    assert len(r.convergence) == 40
    assert all(a >= b for a, b in zip(r.convergence, r.convergence[1:]))
    assert r.convergence[-1] == r.best_value
    assert repr(r).startswith("GreyResult(best_value=") and repr(r).endswith("iters=40, stop_reason=max_iterations)")


def test_record_history_false_gives_an_empty_convergence():
    r = pso.minimize_grey("grey_sphere", B2, record_history=False, **SMALL)
    assert r.convergence == []
    assert r.evaluations == RUN_CALLS
    assert repr(r).endswith("iters=0, stop_reason=max_iterations)")


def test_max_iter_zero_evaluates_the_initial_swarm_only():
    seen = Recorder()
    r = pso.minimize_grey(seen, B2, n_particles=7, max_iter=0, seed=1)
    assert len(seen.seen) == 7 and r.evaluations == 7 and r.convergence == []


@pytest.mark.parametrize(
    "kwargs, reason, evaluations",
    [
        (dict(target=1e9), "target", 12),
        (dict(max_evals=20), "max_evaluations", 24),
        (dict(patience=1, tol=1e9), "stagnation", 12),
        (dict(max_time=0.0), "max_time", 12),
        (dict(), "max_iterations", 6 * 31),
    ],
)
def test_stop_rules_reach_the_engine(kwargs, reason, evaluations):
    r = pso.minimize_grey("grey_sphere", B2, n_particles=6, max_iter=30, seed=1, **kwargs)
    assert r.stop_reason == reason
    assert r.evaluations == evaluations


@pytest.mark.parametrize("velocity", ["inertia", "constriction", "fips"])
@pytest.mark.parametrize("topology", ["global", "ring", "vonneumann", "von_neumann", "random"])
def test_every_velocity_and_topology_runs_and_is_reproducible(velocity, topology):
    kwargs = dict(velocity=velocity, topology=topology, n_particles=9, max_iter=30, seed=17)
    r1 = pso.minimize_grey("grey_sphere", B3, **kwargs)
    r2 = pso.minimize_grey("grey_sphere", B3, **kwargs)
    assert_same_grey_result(r1, r2)
    assert r1.best_value < center_spread_sphere([(5.0, 0.0)])


def test_random_topology_without_seed_still_runs():
    r = pso.minimize_grey("grey_sphere", B2, topology="random", n_particles=5, max_iter=3)
    assert r.evaluations == 20


@pytest.mark.parametrize("objective", ["grey_sphere", center_spread_sphere])
def test_seeded_runs_are_reproducible_bit_for_bit(objective):
    kwargs = dict(bounds=(-5, 5), dim=2, seed=42, representation="center_spread")
    r1, r2 = pso.minimize_grey(objective, **kwargs), pso.minimize_grey(objective, **kwargs)
    assert_same_grey_result(r1, r2)
    other = pso.minimize_grey(objective, **dict(kwargs, seed=43))
    assert other.best_centers != r1.best_centers


def test_unseeded_runs_differ():
    r1 = pso.minimize_grey("grey_sphere", B3, n_particles=5, max_iter=2)
    r2 = pso.minimize_grey("grey_sphere", B3, n_particles=5, max_iter=2)
    assert r1.best_centers != r2.best_centers


def test_single_pair_with_dim_and_numpy_bounds():
    a = pso.minimize_grey("grey_sphere", (-2, 2), dim=3, **SMALL)
    b = pso.minimize_grey("grey_sphere", np.array([[-2.0, 2.0]] * 3), **SMALL)
    assert_same_grey_result(a, b)
    with pytest.raises(ValueError) as info:
        pso.minimize_grey("grey_sphere", (-2, 2), dim=0)
    assert str(info.value) == "dim must be >= 1"


def test_reentrant_calls_are_independent():
    inner_results = []

    def objective(greys):
        if len(inner_results) < 2:
            inner_results.append(pso.minimize_grey("grey_sphere", B2, **SMALL))
        return center_spread_sphere(greys)

    outer = pso.minimize_grey(objective, B2, representation="center_spread", **SMALL)
    # each nested run is the run made alone, and the outer run is unaffected by them
    for inner in inner_results:
        assert_same_grey_result(inner, pso.minimize_grey("grey_sphere", B2, **SMALL))
    alone = pso.minimize_grey(center_spread_sphere, B2, representation="center_spread", **SMALL)
    assert_same_grey_result(outer, alone)


def test_reference_counts_are_restored(capsys):
    failing = FailOn(2)
    recorder = Recorder()
    watched = [failing, recorder, B2]

    def cycle():
        recorder.seen.clear()
        failing.calls = 0
        failing.error = RuntimeError("fresh")  # a raised instance keeps its traceback's frames
        pso.minimize_grey(recorder, B2, **SMALL)
        for call in (lambda: pso.minimize_grey(failing, B2, **SMALL),
                     lambda: pso.minimize_grey(lambda g: None, B2, **SMALL),
                     lambda: pso.minimize_grey(recorder, B2, max_spread=-1),
                     lambda: pso.minimize_grey(recorder, B2, max_spread="x"),
                     lambda: pso.minimize_grey("nope", B2)):
            try:
                call()
            except BaseException:  # noqa: BLE001 - PanicException included
                pass

    cycle()
    gc.collect()
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(20):
        cycle()
    gc.collect()
    capsys.readouterr()
    assert [sys.getrefcount(o) for o in watched] == before
