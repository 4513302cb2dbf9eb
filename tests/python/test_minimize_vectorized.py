"""minimize with vectorized=True: the swarm matrix, the batch adapter and its errors.

Kept in a file of its own so that it can also run under NumPy 1.x."""

import subprocess
import sys

import numpy as np
import pytest

import kestrelopt as pso
from conftest import assert_same_result, same_bits, sphere_loop

B3 = [(-5.0, 5.0)] * 3


def row_sums(X):
    return (X * X).sum(axis=1)


def run(objective, **kwargs):
    options = dict(n_particles=6, max_iter=5, seed=7, vectorized=True)
    options.update(kwargs)
    return pso.minimize(objective, kwargs.pop("bounds", B3), **options)


def test_sum_of_rows():
    r = run(row_sums)
    assert r.evaluations == 36
    assert r.best_value == pytest.approx(sphere_loop(r.best_position), rel=1e-12)
    assert r.best_value == min(r.convergence)


def test_swarm_matrix_layout():
    seen = []

    def objective(X):
        seen.append(X)
        return row_sums(X)

    r = run(objective)
    assert len(seen) == 6  # initialisation, then one call per iteration
    first = seen[0]
    assert type(first) is np.ndarray
    assert first.shape == (6, 3) and first.dtype == np.float64
    assert first.flags.c_contiguous and first.flags.writeable
    assert len({id(X) for X in seen}) == len(seen)  # a new array at every call
    # row j is particle j's position: the swarm of each iteration's start, as recorded
    for X, swarm in zip(seen, r.history):
        np.testing.assert_array_equal(X, np.array(swarm))


def test_matrix_outlives_the_run():
    kept = []

    def objective(X):
        kept.append(X)
        return row_sums(X)

    r = run(objective)
    snapshots = [np.array(swarm) for swarm in r.history]
    del r
    churn = [np.full((6, 3), -1.0) for _ in range(200)]  # reuse any memory freed by the run
    for X, swarm in zip(kept, snapshots):
        np.testing.assert_array_equal(X, swarm)
    kept[0][0, 0] = 42.0  # writable
    assert kept[0][0, 0] == 42.0 and all((c == -1.0).all() for c in churn)


def test_initial_swarm_matches_the_sequential_run():
    seen = []
    run(lambda X: seen.append(X.copy()) or row_sums(X))
    sequential = pso.minimize(sphere_loop, B3, n_particles=6, max_iter=1, seed=7)
    np.testing.assert_array_equal(seen[0], np.array(sequential.history[0]))


@pytest.mark.parametrize(
    "returned",
    [
        lambda X: list(row_sums(X)),
        lambda X: tuple(float(v) for v in row_sums(X)),
        lambda X: np.ascontiguousarray(np.repeat(row_sums(X), 2)[::2]),
        lambda X: np.repeat(row_sums(X), 3)[::3],  # strided view
        lambda X: row_sums(X)[::-1][::-1],
        lambda X: row_sums(X).astype(">f8"),  # non-native byte order
        lambda X: np.stack([row_sums(X), row_sums(X)], axis=1)[:, 0],  # column view
    ],
)
def test_every_accepted_return_reads_the_same_values(returned):
    assert_same_result(run(returned), run(row_sums))


def test_float32_result_goes_through_the_sequence_reading():
    r = run(lambda X: row_sums(X).astype(np.float32))
    assert r.evaluations == 36


def test_integer_space_matrix_holds_whole_numbers():
    seen = []
    r = run(lambda X: seen.append(X.copy()) or row_sums(X), integer=True)
    assert all(np.array_equal(X, np.round(X)) for X in seen)
    assert all(v == int(v) for v in r.best_position)


@pytest.mark.parametrize(
    "returned, error, message",
    [
        (lambda X: row_sums(X)[:-1], ValueError, "vectorized objective must return one value per row: got 5 for 6 rows"),
        (lambda X: list(row_sums(X)) + [0.0], ValueError, "vectorized objective must return one value per row: got 7 for 6 rows"),
        (lambda X: [], ValueError, "vectorized objective must return one value per row: got 0 for 6 rows"),
        (lambda X: float(row_sums(X).sum()), TypeError, ("a float", "'float' object cannot be converted to 'Sequence'")),
        (lambda X: row_sums(X).sum(), TypeError, ("a float64", "'float64' object cannot be converted to 'Sequence'")),
        (lambda X: None, TypeError, ("None", "'NoneType' object cannot be converted to 'Sequence'")),
        (lambda X: "abcdef", TypeError, ("a str", "Can't extract `str` to `Vec`")),
        (lambda X: ["x"] * len(X), TypeError, ("a list", "must be real number, not str")),
    ],
)
def test_unusable_results(returned, error, message):
    calls = []

    def objective(X):
        calls.append(1)
        return returned(X)

    with pytest.raises(error) as info:
        run(objective, max_iter=10)
    if error is TypeError:  # named, over the reading's own error
        what, message = message
        assert str(info.value) == (f"objective returned {what} for the (6, 3) matrix of the whole "
                                   "swarm (vectorized=True); it must return one value per row")
        assert str(info.value.__cause__) == message
    else:
        assert str(info.value) == message
    assert len(calls) == 1


def test_exception_is_raised_after_the_run():
    problem = RuntimeError("vectorized")
    calls = []

    def objective(X):
        calls.append(1)
        if len(calls) == 3:
            raise problem
        return row_sums(X)

    with pytest.raises(RuntimeError) as info:
        run(objective, max_iter=10)
    assert info.value is problem
    assert len(calls) == 3


@pytest.mark.parametrize(
    "objective, kwargs, error, message",
    [
        ("sphere", {}, ValueError, "vectorized=True requires a Python objective callable, not a native benchmark"),
        ("nope", {}, KeyError, None),
        # Constraints and repair take the whole swarm too, and must answer for every row.
        (row_sums, dict(constraints=[lambda X: X[:-1, 0]]), ValueError,
         "vectorized callables must return one constraint value per particle: got 5 for 6 rows"),
        (row_sums, dict(constraints="returned", equality_constraints=[sphere_loop]), ValueError,
         'equality_constraints must be None with constraints="returned": the objective returns '
         "the equality constraints' values as the third item of its tuple"),
        (row_sums, dict(repair=lambda X: X[:-1]), ValueError,
         "vectorized repair must return one row per particle: got 5 for 6 rows"),
    ],
)
def test_refused_combinations(objective, kwargs, error, message):
    with pytest.raises(error) as info:
        run(objective, **kwargs)
    if message is not None:
        assert str(info.value) == message


def test_empty_constraint_lists_are_accepted():
    r = run(row_sums, constraints=[], equality_constraints=[])
    assert r.evaluations == 36


def test_stop_rules_in_vectorized_mode():
    r = run(row_sums, max_iter=100, target=1e9)
    assert r.stop_reason == "target" and len(r.convergence) == 1
    r = run(row_sums, max_iter=0)
    assert r.evaluations == 6 and r.history == []


def test_panic_when_numpy_cannot_be_imported():
    code = (
        "import sys\n"
        "sys.modules['numpy'] = None\n"
        "import kestrelopt as pso\n"
        "try:\n"
        "    pso.minimize(lambda X: X, [(0.0, 1.0)], vectorized=True)\n"
        "except BaseException as e:\n"
        "    print(type(e).__name__, isinstance(e, Exception))\n"
        "    print(e.args[0])\n"
        "r = pso.minimize('sphere', [(0.0, 1.0)], n_particles=2, max_iter=1)\n"
        "print('usable', r.evaluations)\n"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    lines = result.stdout.splitlines()
    assert lines[0] == "PanicException False", result.stdout + result.stderr
    assert lines[1].startswith("Failed to access NumPy array API capsule")
    assert lines[2] == "usable 4"
    assert "Failed to access NumPy array API capsule" in result.stderr


# ---- constraints on every path ---------------------------------------------------------

POINTS = [[0.5, -1.0, 2.0], [3.0, 3.0, -4.0], [0.0, 0.0, 0.0], [1.0, 0.25, 0.5]]

# Per constraint set: the inequality values g and the equality values h of one point.
CONSTRAINT_SETS = {
    "inequalities": (lambda x: [x[0] - 1.0, x[1] + x[2]], lambda x: []),
    "nan inequality": (lambda x: [float("nan"), x[0] - 0.25], lambda x: []),
    "equalities": (lambda x: [], lambda x: [x[0] + x[1] - 1.0, x[2]]),
    "nan equality": (lambda x: [x[2]], lambda x: [float("nan")]),
    "both": (lambda x: [x[0] - 1.0, 0.3 - x[2]], lambda x: [x[1] * x[2] - 0.5, x[0]]),
}


def penalised_by_hand(x, g, h, penalty):
    """The value minimize minimizes, added in the documented order."""
    total = 0.0
    for v in g(x):
        excess = v if v > 0 else 0.0  # NaN adds nothing
        total = total + excess * excess
    for v in h(x):
        total = total + v * v
    return sphere_loop(x) + total * penalty


def callables(values, count, vectorized):
    """One callable per constraint value, for a point or (vectorized) for each row."""
    if vectorized:
        return [lambda X, k=k: [values(row)[k] for row in X.tolist()] for k in range(count)]
    return [lambda x, k=k: values(x)[k] for k in range(count)]


def penalised_in_mode(mode, point, g, h, penalty):
    """The one value a run of one particle placed at `point` gives it, made by `mode`."""
    k, m = len(g(point)), len(h(point))
    options = dict(n_particles=1, max_iter=0, init=[point], seed=1, penalty=penalty)
    if mode == "swarm":
        swarm = pso.Swarm(B3, **options)
        X = swarm.ask()
        rows = X.tolist()
        swarm.tell(row_sums(X), violations=pso.Swarm.violations([g(r) for r in rows], [h(r) for r in rows]))
        return swarm.best_value
    vectorized = mode.startswith("vectorized")
    if mode.endswith("returned"):
        if vectorized:
            def objective(X):
                rows = X.tolist()
                return [sphere_loop(r) for r in rows], [g(r) for r in rows], [h(r) for r in rows]
        else:
            def objective(x):
                return sphere_loop(x), g(x), h(x)
        return pso.minimize(objective, B3, vectorized=vectorized, constraints="returned", **options).best_value
    objective = (lambda X: [sphere_loop(r) for r in X.tolist()]) if vectorized else sphere_loop
    return pso.minimize(objective, B3, vectorized=vectorized, constraints=callables(g, k, vectorized),
                        equality_constraints=callables(h, m, vectorized), **options).best_value


@pytest.mark.parametrize("mode", ["sequential", "sequential returned", "vectorized", "vectorized returned", "swarm"])
@pytest.mark.parametrize("name", CONSTRAINT_SETS)
@pytest.mark.parametrize("penalty", [1e6, 7.5])
def test_every_mode_penalises_a_point_exactly_as_the_sequential_mode(mode, name, penalty):
    g, h = CONSTRAINT_SETS[name]
    for point in POINTS:
        expected = penalised_by_hand(point, g, h, penalty)
        assert same_bits(penalised_in_mode(mode, point, g, h, penalty), expected), (point, expected)


def g_rows(X):
    return np.column_stack([X[:, 0] - 1.0, X[:, 1] * X[:, 2] - 0.5])


def h_rows(X):
    return X[:, 0] + X[:, 1] - 0.5


@pytest.mark.parametrize(
    "options",
    [dict(), dict(integer=True), dict(var_types=["real", "integer", "binary"], topology="ring"),
     dict(penalty=30.0, callback=lambda i, best: i < 3)],
)
def test_constrained_vectorized_runs_agree_in_every_form(options):
    base = dict(n_particles=7, max_iter=9, seed=13, vectorized=True, **options)
    expected = pso.minimize(row_sums, B3, constraints=[lambda X: g_rows(X)[:, 0], lambda X: g_rows(X)[:, 1]],
                            equality_constraints=[h_rows], **base)
    returned = pso.minimize(lambda X: (row_sums(X), g_rows(X), h_rows(X)[:, None]), B3,
                            constraints="returned", **base)
    assert_same_result(returned, expected)
    # the ask/tell loop with the violations of the same values
    callback = base.pop("callback", None)
    base.pop("vectorized")
    swarm = pso.Swarm(B3, **base)
    while swarm.stop_reason is None:
        X = swarm.ask()
        swarm.tell(row_sums(X), violations=pso.Swarm.violations(g_rows(X), h_rows(X)[:, None]))
        if callback is not None and swarm.iteration and not callback(swarm.iteration - 1, swarm.best_value):
            break
    result = swarm.result()
    assert (result.best_position, result.best_value, result.convergence, result.history) == \
        (expected.best_position, expected.best_value, expected.convergence, expected.history)


@pytest.mark.parametrize("array_input", [False, True])
@pytest.mark.parametrize("integer", [False, True])
def test_returned_constraints_run_as_constraint_callables_do(array_input, integer):
    base = dict(n_particles=6, max_iter=8, seed=3, penalty=50.0, integer=integer, array_input=array_input)
    expected = pso.minimize(sphere_loop, B3, constraints=[lambda x: x[0] - 1, lambda x: 1 - x[1] * x[2]],
                            equality_constraints=[lambda x: x[0] + x[2] - 1], **base)
    as_array = np.asarray if array_input else list
    returned = pso.minimize(
        lambda x: (sphere_loop(x), as_array([x[0] - 1, 1 - x[1] * x[2]]), (x[0] + x[2] - 1,)),
        B3, constraints="returned", **base)
    assert_same_result(returned, expected)


def clip_rows(X):
    return np.clip(X, -1.0, 0.5)


def test_vectorized_repair_is_applied_before_every_evaluation_and_to_the_result():
    seen = []

    def g(X):
        seen.append(X.copy())
        return X[:, 0] - 0.25

    repaired = pso.minimize(row_sums, B3, constraints=[g], repair=clip_rows, **dict(
        n_particles=6, max_iter=7, seed=9, vectorized=True))
    # The same run as an objective and constraint that repair the rows themselves; only
    # the reported position differs: it is repaired once more.
    itself = pso.minimize(lambda X: row_sums(clip_rows(X)), B3, constraints=[lambda X: clip_rows(X)[:, 0] - 0.25],
                          n_particles=6, max_iter=7, seed=9, vectorized=True)
    assert (repaired.best_value, repaired.convergence, repaired.history) == \
        (itself.best_value, itself.convergence, itself.history)
    assert repaired.best_position == clip_rows(np.array([itself.best_position]))[0].tolist()
    # the constraint receives the repaired swarm of every round: each recorded swarm, clipped
    # (the last round's is not recorded)
    assert len(seen) == len(repaired.history) + 1 == 8
    assert [X.tolist() for X in seen[:-1]] == [clip_rows(np.array(s)).tolist() for s in repaired.history]


@pytest.mark.parametrize(
    "objective, kwargs, error, message",
    [
        (lambda x: 1.0, dict(), TypeError,
         'with constraints="returned" the objective must return a tuple (value, constraints) or '
         "(value, constraints, equality_constraints), got float"),
        (lambda x: (1.0, [0.0], [0.0], [0.0]), dict(), TypeError,
         'with constraints="returned" the objective must return a tuple (value, constraints) or '
         "(value, constraints, equality_constraints), got a tuple of 4 items"),
        (lambda x: (1.0, 0.0), dict(), TypeError,
         "objective returned a float for the (6, 3) matrix of the whole swarm (vectorized=True); "
         "it must return one value per row as the first item of its tuple"),
        (lambda X: (row_sums(X), X[:, 0]), dict(vectorized=True), ValueError,
         "the constraint values must hold one row per particle (an (N, K) array), got a "
         "one-dimensional array; for one value per particle, pass a[:, None]"),
        (lambda X: (row_sums(X), X[1:]), dict(vectorized=True), ValueError,
         "vectorized callables must return one row of constraint values per particle: got 5 for 6 rows"),
        (lambda X: (row_sums(X), X, X[1:]), dict(vectorized=True), ValueError,
         "vectorized callables must return one row of equality constraint values per particle: got 5 for 6 rows"),
        (lambda X: row_sums(X), dict(vectorized=True), TypeError,
         'with constraints="returned" the objective must return a tuple (value, constraints) or '
         "(value, constraints, equality_constraints), got ndarray"),
        (row_sums, dict(vectorized=True, constraints=[row_sums], repair=lambda X: X[:, :2]), ValueError,
         "repair returned 2 values for a point of 3 dimensions"),
    ],
)
def test_unusable_returned_constraints_and_repairs(objective, kwargs, error, message):
    options = dict(constraints="returned")
    options.update(kwargs)
    with pytest.raises(error) as info:
        run(objective, **options)
    assert str(info.value) == message


def test_returned_constraints_need_a_python_objective():
    with pytest.raises(ValueError, match="require a Python objective callable"):
        pso.minimize("sphere", B3, constraints="returned")
