"""minimize with vectorized=True: the swarm matrix, the batch adapter and its errors.

Kept in a file of its own so that it can also run under NumPy 1.x."""

import subprocess
import sys

import numpy as np
import pytest

import kestrelopt as pso
from conftest import assert_same_result, sphere_loop

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
        (lambda X: row_sums(X)[:-1], ValueError, "vectorized objective must return one value per row"),
        (lambda X: list(row_sums(X)) + [0.0], ValueError, "vectorized objective must return one value per row"),
        (lambda X: [], ValueError, "vectorized objective must return one value per row"),
        (lambda X: float(row_sums(X).sum()), TypeError, "'float' object cannot be converted to 'Sequence'"),
        (lambda X: row_sums(X).sum(), TypeError, "'float64' object cannot be converted to 'Sequence'"),
        (lambda X: None, TypeError, "'NoneType' object cannot be converted to 'Sequence'"),
        (lambda X: "abcdef", TypeError, "Can't extract `str` to `Vec`"),
        (lambda X: ["x"] * len(X), TypeError, "must be real number, not str"),
    ],
)
def test_unusable_results(returned, error, message):
    calls = []

    def objective(X):
        calls.append(1)
        return returned(X)

    with pytest.raises(error) as info:
        run(objective, max_iter=10)
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
        (row_sums, dict(constraints=[sphere_loop]), ValueError,
         "vectorized=True does not support constraints, equality_constraints or repair yet"),
        (row_sums, dict(equality_constraints=[sphere_loop]), ValueError,
         "vectorized=True does not support constraints, equality_constraints or repair yet"),
        (row_sums, dict(repair=lambda x: x), ValueError,
         "vectorized=True does not support constraints, equality_constraints or repair yet"),
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
