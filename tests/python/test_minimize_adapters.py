"""minimize: the candidate and iteration adapters, constraints, repair, and the errors of
the caller's callables carried across the run."""

import math

import numpy as np
import pytest

import kestrelopt as pso
from conftest import FailOn, assert_same_result, interpreter_float_error, same_bits, sphere_loop

B1 = [(0.0, 1.0)]
B2 = [(-5.0, 5.0)] * 2


class Counter:
    """An objective that counts its calls and raises `error` on call number `fail_at`."""

    def __init__(self, fail_at=None, error=None, value=1.0):
        self.calls = 0
        self.fail_at = fail_at
        self.error = error
        self.value = value

    def __call__(self, x):
        self.calls += 1
        if self.calls == self.fail_at:
            raise self.error
        return self.value


# ---- exceptions of the caller's callables ------------------------------------------------

def test_exception_in_objective_is_raised_after_the_run_and_not_called_again():
    calls = []

    def objective(x):
        calls.append(1)
        return 1 / 0

    with pytest.raises(ZeroDivisionError):
        pso.minimize(objective, B2, n_particles=10, max_iter=50)
    assert len(calls) == 1


@pytest.mark.parametrize("fail_at", [1, 7, 40])
def test_the_same_exception_object_with_its_traceback(fail_at):
    error = RuntimeError("boom")
    objective = Counter(fail_at, error)
    with pytest.raises(RuntimeError) as info:
        pso.minimize(objective, B2, n_particles=10, max_iter=20)
    assert info.value is error
    assert objective.calls == fail_at
    assert any(entry.name == "__call__" for entry in info.traceback)


def test_exception_keeps_its_cause():
    def objective(x):
        try:
            {}["k"]
        except KeyError as e:
            raise ValueError("outer") from e

    with pytest.raises(ValueError) as info:
        pso.minimize(objective, B1)
    assert isinstance(info.value.__cause__, KeyError)


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(3), GeneratorExit()])
def test_base_exceptions_are_carried_too(error):
    objective = Counter(2, error)
    with pytest.raises(type(error)) as info:
        pso.minimize(objective, B2, n_particles=4, max_iter=10)
    assert info.value is error
    assert objective.calls == 2


@pytest.mark.parametrize(
    "result, what",
    [(None, "None"), ("1.0", "a str"), ([1.0], "a list")],
)
def test_unconvertible_objective_value_names_the_objective(result, what):
    # The interpreter's own error stays as the cause.
    with pytest.raises(TypeError) as info:
        pso.minimize(lambda x: result, B1)
    assert str(info.value) == f"objective returned {what} for particle 0; it must return a number"
    assert str(info.value.__cause__) == interpreter_float_error(result)


@pytest.mark.parametrize("objective", [None, 5, "x".encode()])
def test_objective_not_callable_fails_at_the_first_evaluation(objective):
    with pytest.raises(TypeError) as info:
        pso.minimize(objective, B1)
    assert "not callable" in str(info.value)


@pytest.mark.parametrize(
    "value",
    [3, True, np.float64(0.25), np.int32(2), np.float32(0.5), np.array(1.5)],
)
def test_objective_values_convert_like_float(value):
    r = pso.minimize(lambda x: value, B1, n_particles=2, max_iter=1)
    assert r.best_value == float(value)


def test_objective_value_with_dunder_float_and_index():
    class F:
        def __float__(self):
            return 2.5

    class I:
        def __index__(self):
            return 4

    assert pso.minimize(lambda x: F(), B1, n_particles=2, max_iter=1).best_value == 2.5
    assert pso.minimize(lambda x: I(), B1, n_particles=2, max_iter=1).best_value == 4.0


def test_nan_and_infinite_values_are_not_failures():
    r = pso.minimize(lambda x: float("nan"), B1, n_particles=3, max_iter=2)
    assert math.isnan(r.best_value)
    r = pso.minimize(lambda x: float("inf"), B1, n_particles=3, max_iter=2)
    assert r.best_value == math.inf


def test_a_nested_minimize_call_is_independent():
    def objective(x):
        inner = pso.minimize(sphere_loop, B1, n_particles=2, max_iter=2, seed=1)
        return x[0] + inner.best_value

    r = pso.minimize(objective, B1, n_particles=3, max_iter=2, seed=1)
    assert r.evaluations == 9


def test_nested_failure_stays_in_the_nested_call():
    def objective(x):
        with pytest.raises(ZeroDivisionError):
            pso.minimize(lambda y: 1 / 0, B1, n_particles=2, max_iter=2)
        return x[0]

    r = pso.minimize(objective, B1, n_particles=2, max_iter=2)
    assert r.evaluations == 6


# ---- constraints and penalty --------------------------------------------------------------

@pytest.mark.parametrize(
    "point, constraint_value, expected",
    [
        (3.0, lambda x: x[0] - 1, 1e6 * 4.0),
        (0.5, lambda x: x[0] - 1, 0.0),
        (1.0, lambda x: x[0] - 1, 0.0),
        (2.0, lambda x: float("nan"), 0.0),
        (2.0, lambda x: -math.inf, 0.0),
    ],
)
def test_inequality_penalty(point, constraint_value, expected):
    r = pso.minimize(lambda x: 0.0, [(point, point)], constraints=[constraint_value], n_particles=2, max_iter=1)
    assert r.best_value == expected


def test_penalties_add_in_order_with_the_given_weight():
    constraints = [lambda x: 2.0, lambda x: -5.0, lambda x: 0.5]
    equalities = [lambda x: -3.0, lambda x: 0.25]
    r = pso.minimize(lambda x: 1.5, B1, constraints=constraints, equality_constraints=equalities,
                     penalty=10.0, n_particles=2, max_iter=1)
    s = 0.0
    for c in (2.0, 0.0, 0.5):
        s = s + c * c
    for h in (-3.0, 0.25):
        s = s + h * h
    assert r.best_value == 1.5 + s * 10.0


def test_equality_nan_makes_the_value_nan():
    r = pso.minimize(lambda x: 0.0, B1, equality_constraints=[lambda x: float("nan")], n_particles=2, max_iter=1)
    assert math.isnan(r.best_value)


@pytest.mark.parametrize("penalty", [float("inf"), float("nan")])
def test_infinite_or_nan_penalty_without_constraints_gives_nan(penalty):
    r = pso.minimize(sphere_loop, B1, penalty=penalty, n_particles=2, max_iter=1)
    assert math.isnan(r.best_value)


def test_objective_and_constraints_share_one_list_per_evaluation():
    ids = []

    def objective(x):
        ids.append(("f", id(x), x))
        x.append(99.0)  # the constraints see this
        return 0.0

    def g(x):
        ids.append(("g", id(x), x))
        assert x[-1] == 99.0
        return 0.0

    def h(x):
        ids.append(("h", id(x), x))
        return 0.0

    pso.minimize(objective, B1, constraints=[g], equality_constraints=[h], n_particles=2, max_iter=1)
    assert len(ids) == 12
    for k in range(0, 12, 3):
        (a, ia, la), (b, ib, lb), (c, ic, lc) = ids[k:k + 3]
        assert (a, b, c) == ("f", "g", "h")
        assert la is lb is lc


@pytest.mark.parametrize("where", ["constraints", "equality_constraints"])
def test_exception_in_a_constraint(where):
    error = LookupError("constraint")
    objective = Counter()
    constraint = Counter(3, error)
    with pytest.raises(LookupError) as info:
        pso.minimize(objective, B2, n_particles=5, max_iter=10, **{where: [constraint]})
    assert info.value is error
    assert objective.calls == 3 and constraint.calls == 3


def test_constraint_value_not_convertible():
    with pytest.raises(TypeError) as info:
        pso.minimize(lambda x: 0.0, B1, constraints=[lambda x: "no"])
    assert str(info.value) == "constraints[0] returned a str for particle 0; it must return a number"
    assert str(info.value.__cause__) == interpreter_float_error("no")


# ---- repair --------------------------------------------------------------------------------

def test_repair_is_seen_by_objective_and_constraints_and_applied_to_the_result():
    repaired = []
    seen_f, seen_g = [], []

    def repair(x):
        out = [min(max(v, 0.0), 1.0) for v in x]
        repaired.append(out)
        return out

    r = pso.minimize(lambda x: seen_f.append(list(x)) or sphere_loop(x), [(-3.0, 3.0)] * 2,
                     constraints=[lambda x: seen_g.append(list(x)) or 0.0], repair=repair,
                     n_particles=6, max_iter=4, seed=2)
    assert all(0.0 <= v <= 1.0 for x in seen_f + seen_g for v in x)
    assert seen_f == seen_g
    assert len(repaired) == r.evaluations + 1  # once more after the run
    assert all(0.0 <= v <= 1.0 for v in r.best_position)
    assert r.best_position == repaired[-1]
    # the history keeps the unrepaired swarm
    assert any(v < 0.0 for swarm in r.history for p in swarm for v in p)


def test_repair_result_replaces_the_best_position_as_it_is():
    r = pso.minimize(lambda x: 0.0, B2, repair=lambda x: [7.5, -2.0], n_particles=2, max_iter=1)
    assert r.best_position == [7.5, -2.0]


@pytest.mark.parametrize(
    "wrong_at, length, message",
    [
        (1, 3, "repair returned 3 values for a point of 2 dimensions"),
        (3, 1, "repair returned 1 value for a point of 2 dimensions"),
        # the 2 + 2 evaluations pass; the call on the final best point does not
        (5, 0, "repair returned 0 values for a point of 2 dimensions"),
    ],
)
def test_repair_of_the_wrong_length_names_both_lengths(wrong_at, length, message):
    calls = []

    def repair(x):
        calls.append(1)
        return [0.5] * (length if len(calls) >= wrong_at else len(x))

    objective = FailOn(0)
    with pytest.raises(ValueError) as info:
        pso.minimize(objective, B2, repair=repair, n_particles=2, max_iter=1)
    assert str(info.value) == message
    assert objective.calls == min(wrong_at - 1, 4)  # never called on the wrong point


def test_repair_with_integer_lists_truncates():
    seen = []
    r = pso.minimize(lambda x: seen.append(x) or 0.0, [(0, 5)], integer=True,
                     repair=lambda x: [1.7], n_particles=2, max_iter=1)
    assert all(x == [1] and type(x[0]) is int for x in seen)
    assert r.best_position == [1.7]


@pytest.mark.parametrize(
    "result, what, cause",
    [
        ("ab", "a str", "Can't extract `str` to `Vec`"),
        (5, "an int", "'int' object cannot be converted to 'Sequence'"),
        (None, "None", "'NoneType' object cannot be converted to 'Sequence'"),
        (["a"], "a list whose item 0 is a str", interpreter_float_error("a")),
    ],
)
def test_unusable_repair_result(result, what, cause):
    objective = Counter()
    with pytest.raises(TypeError) as info:
        pso.minimize(objective, B2, repair=lambda x: result, n_particles=3, max_iter=5)
    assert str(info.value) == (f"repair returned {what} for particle 0; it must return the "
                               "repaired point, a sequence of numbers")
    assert str(info.value.__cause__) == cause
    assert objective.calls == 0


def test_repair_may_return_tuples_and_arrays():
    r = pso.minimize(lambda x: 0.0, B2, repair=lambda x: tuple(x), n_particles=2, max_iter=1)
    assert len(r.best_position) == 2
    r = pso.minimize(lambda x: 0.0, B2, repair=lambda x: np.asarray(x) * 0, n_particles=2, max_iter=1)
    assert r.best_position == [0.0, 0.0]


def test_exception_in_repair_during_the_run():
    error = ArithmeticError("repair")
    state = {"calls": 0}

    def repair(x):
        state["calls"] += 1
        if state["calls"] == 4:
            raise error
        return x

    objective = Counter()
    with pytest.raises(ArithmeticError) as info:
        pso.minimize(objective, B2, repair=repair, n_particles=3, max_iter=5)
    assert info.value is error
    assert state["calls"] == 4 and objective.calls == 3


def test_exception_in_the_final_repair_is_raised_at_once():
    error = OSError("final")
    n_evals = 2 * 3
    state = {"calls": 0}

    def repair(x):
        state["calls"] += 1
        if state["calls"] == n_evals + 1:
            raise error
        return x

    with pytest.raises(OSError) as info:
        pso.minimize(lambda x: 0.0, B2, repair=repair, n_particles=3, max_iter=1)
    assert info.value is error
    assert state["calls"] == n_evals + 1


def test_final_repair_result_not_a_sequence():
    state = {"calls": 0}

    def repair(x):
        state["calls"] += 1
        return x if state["calls"] <= 4 else 3.0

    with pytest.raises(TypeError) as info:
        pso.minimize(lambda x: 0.0, B2, repair=repair, n_particles=2, max_iter=1)
    assert str(info.value) == "'float' object cannot be converted to 'Sequence'"


# ---- callback ------------------------------------------------------------------------------

def test_callback_false_stops_after_iteration_zero():
    calls = []
    r = pso.minimize(sphere_loop, B2, n_particles=5, max_iter=50,
                     callback=lambda i, v: calls.append((i, v)) or False)
    assert r.stop_reason == "callback"
    assert len(r.convergence) == 1 and r.evaluations == 10
    assert len(calls) == 1 and calls[0][0] == 0 and type(calls[0][0]) is int
    assert type(calls[0][1]) is float and calls[0][1] == r.convergence[0]


@pytest.mark.parametrize("answer", [None, 0, [], "", True, np.True_, 1.0, np.int64(0)])
def test_other_answers_continue(answer):
    r = pso.minimize(sphere_loop, B2, n_particles=3, max_iter=6, callback=lambda i, v: answer)
    assert r.stop_reason == "max_iterations" and len(r.convergence) == 6


def test_numpy_false_stops():
    r = pso.minimize(sphere_loop, B2, n_particles=3, max_iter=6, callback=lambda i, v: np.False_)
    assert r.stop_reason == "callback"


def test_callback_sees_iterations_and_best_values_in_order():
    calls = []
    r = pso.minimize(sphere_loop, B2, n_particles=4, max_iter=8, seed=5,
                     callback=lambda i, v: calls.append((i, v)))
    assert [i for i, _ in calls] == list(range(8))
    assert [v for _, v in calls] == r.convergence


def test_callback_raising_on_its_third_call():
    error = ValueError("third")
    state = {"calls": 0}
    objective = Counter()

    def callback(i, v):
        state["calls"] += 1
        if state["calls"] == 3:
            raise error

    with pytest.raises(ValueError) as info:
        pso.minimize(objective, B2, n_particles=4, max_iter=20, callback=callback)
    assert info.value is error
    assert state["calls"] == 3
    assert objective.calls == 4 + 3 * 4  # initialisation, then iterations 0, 1 and 2


def test_objective_failure_with_a_callback_ends_the_run_at_the_end_of_the_iteration():
    callback_calls = []
    objective = Counter(6, RuntimeError("x"))
    with pytest.raises(RuntimeError):
        pso.minimize(objective, B2, n_particles=4, max_iter=20, callback=lambda i, v: callback_calls.append(i))
    assert callback_calls == []  # the stored error stops the run without calling it
    assert objective.calls == 6


def test_callback_with_a_native_benchmark_is_the_only_python_call():
    calls = []
    r = pso.minimize("rastrigin", B2, n_particles=5, max_iter=7, callback=lambda i, v: calls.append(i))
    assert calls == list(range(7))
    assert r.evaluations == 40


def test_first_exception_wins():
    first = ValueError("first")

    def objective(x):
        raise first

    def callback(i, v):
        raise AssertionError("never called once an error is stored")

    with pytest.raises(ValueError) as info:
        pso.minimize(objective, B2, n_particles=3, max_iter=5, callback=callback)
    assert info.value is first


def test_lists_kept_by_the_objective_are_never_changed_afterwards():
    kept = []
    calls = [0]

    def objective(x):
        calls[0] += 1
        if calls[0] % 3 == 0:  # keep every third list; the others are dropped
            kept.append((x, list(x)))
        return sphere_loop(x)

    pso.minimize(objective, B2, n_particles=4, max_iter=10, seed=3)
    assert len(kept) == 44 // 3
    assert all(x == copy for x, copy in kept)
    assert len({id(x) for x, _ in kept}) == len(kept)


def test_items_kept_by_the_objective_are_never_changed_afterwards():
    kept = []

    def objective(x):
        kept.append((x[1], float(repr(x[1]))))  # the float object and its value then
        return sphere_loop(x)

    pso.minimize(objective, B2, n_particles=4, max_iter=10, seed=3)
    assert len(kept) == 44
    assert all(same_bits(item, value) for item, value in kept)


@pytest.mark.parametrize("meddle", [
    lambda x: None,                                   # lists dropped, floats rewritten in place
    lambda x: x.__setitem__(0, 7),                    # an int where a float was
    lambda x: x.__setitem__(1, FloatSubclass(2.5)),   # a float subclass
    lambda x: x.__setitem__(0, "junk"),
    lambda x: KEPT.append(x[0]),                      # a float someone else holds
])
def test_every_evaluation_sees_the_engines_point_whatever_the_previous_one_left(meddle):
    def run(keep_lists):
        seen, lists = [], []

        def objective(x):
            seen.append(tuple(x))
            assert all(type(v) is float for v in x)
            value = sphere_loop(x)
            if keep_lists:
                lists.append(x)  # forces a fresh list and fresh floats every time
            else:
                meddle(x)
            return value

        result = pso.minimize(objective, B2, n_particles=5, max_iter=8, seed=11)
        return seen, result

    reference, expected = run(keep_lists=True)
    seen, result = run(keep_lists=False)
    KEPT.clear()
    assert len(seen) == 45
    assert all(same_bits(a, b) for p, q in zip(seen, reference) for a, b in zip(p, q))
    assert_same_result(result, expected)


class FloatSubclass(float):
    pass


KEPT = []


def test_an_objective_that_grows_its_list_gets_a_fresh_one_next_time():
    seen = []

    def objective(x):
        seen.append(len(x))
        x.append(0.0)
        return 0.0

    pso.minimize(objective, B2, n_particles=3, max_iter=3)
    assert seen == [2] * 12
