"""minimize_multi's vectorized mode (with parallel.batched) and its stop rules and callback."""

import math
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import numpy as np
import pytest

import kestrelopt as pso
from kestrelopt.parallel import batched


def zdt1(x):
    # A plain loop adds as NumPy does for these few columns (sum() compensates from
    # CPython 3.12 on).
    total = 0.0
    for v in x[1:]:
        total += v
    g = 1 + 9 * total / (len(x) - 1)
    return [x[0], g * (1 - math.sqrt(x[0] / g))]


def zdt1_rows(X):
    g = 1 + 9 * X[:, 1:].sum(axis=1) / (X.shape[1] - 1)
    return np.column_stack([X[:, 0], g * (1 - np.sqrt(X[:, 0] / g))])


def bits(front):
    return (front.positions, front.objectives, front.swarm_history, front.front_history,
            front.violations, front.evaluations, front.stop_reason)


SMALL = dict(dim=6, n_particles=12, max_iter=15, archive_size=10, seed=21)


def test_one_particle_vectorized_run_is_the_sequential_run():
    # With one particle both modes take their draws in the same order.
    kwargs = dict(SMALL, n_particles=1, max_iter=40)
    assert bits(pso.minimize_multi(zdt1_rows, (0, 1), vectorized=True, **kwargs)) == \
        bits(pso.minimize_multi(zdt1, (0, 1), **kwargs))


def test_vectorized_front_holds_the_objectives_of_its_positions():
    front = pso.minimize_multi(zdt1_rows, (0, 1), vectorized=True, **SMALL)
    assert front.evaluations == 12 * 16 and front.stop_reason == "max_iterations"
    assert front.objectives == [zdt1(x) for x in front.positions]
    # A different algorithm from the sequential one: another front for the same seed.
    assert front.objectives != pso.minimize_multi(zdt1, (0, 1), **SMALL).objectives


@pytest.mark.parametrize("workers", [None, 1, 3])
def test_batched_runs_are_the_same_on_any_number_of_workers(workers):
    serial = pso.minimize_multi(zdt1_rows, (0, 1), vectorized=True, **SMALL)
    if workers is None:
        front = pso.minimize_multi(batched(zdt1), (0, 1), vectorized=True, **SMALL)
    else:
        with ProcessPoolExecutor(workers) as pool:
            front = pso.minimize_multi(batched(zdt1, pool, chunksize=5), (0, 1), vectorized=True, **SMALL)
    # zdt1 per row and zdt1_rows are separate computations of the same formula.
    np.testing.assert_allclose(front.objectives, serial.objectives, rtol=1e-12, atol=1e-15)
    assert front.positions == serial.positions


def test_vectorized_constraints_take_the_matrix_and_give_one_value_per_row():
    seen = []

    def g(X):
        seen.append(X)
        return 0.4 - X[:, 0]  # feasible where x0 >= 0.4

    front = pso.minimize_multi(zdt1_rows, (0, 1), vectorized=True, constraints=[g],
                               equality_constraints=[lambda X: [0.0] * len(X)], **SMALL)
    assert len(seen) == 16 and all(X.shape == (12, 6) for X in seen)
    assert front.positions and all(x[0] >= 0.4 for x in front.positions)
    assert front.violations == [0.0] * len(front.positions)


@pytest.mark.parametrize(
    "objective, constraints, error, message",
    [
        (lambda X: zdt1_rows(X)[:-1], [], ValueError,
         "vectorized callables must return one row of objectives per particle: got 11 for 12 rows"),
        (zdt1_rows, [lambda X: np.zeros(3)], ValueError,
         "vectorized callables must return one constraint value per particle: got 3 for 12 rows"),
        (lambda X: [[1.0, 2.0]] * 11 + [[1.0]], [], ValueError,
         "objective returned 1 value, but earlier evaluations returned 2"),
        (lambda X: "abc", [], TypeError, r"^objective returned a str for the \(12, 6\) matrix of the "
         r"whole swarm \(vectorized=True\); it must return one row of objective values per row$"),
        (lambda X: 3.0, [], TypeError, r"^objective returned a float for the \(12, 6\) matrix"),
        (zdt1_rows, [lambda X: None], TypeError, r"^a constraint returned None for the \(12, 6\) "
         r"matrix of the whole swarm \(vectorized=True\); it must return one value per row$"),
    ],
)
def test_vectorized_results_that_do_not_fit(objective, constraints, error, message):
    with pytest.raises(error, match=message):
        pso.minimize_multi(objective, (0, 1), vectorized=True, constraints=constraints, **SMALL)


def test_vectorized_accepts_lists_and_other_dtypes():
    reference = bits(pso.minimize_multi(zdt1_rows, (0, 1), vectorized=True, **SMALL))
    as_lists = pso.minimize_multi(lambda X: zdt1_rows(X).tolist(), (0, 1), vectorized=True, **SMALL)
    transposed = pso.minimize_multi(lambda X: np.asfortranarray(zdt1_rows(X)), (0, 1),
                                    vectorized=True, **SMALL)
    assert bits(as_lists) == reference and bits(transposed) == reference


# ---- stop rules and callback ---------------------------------------------------------------


@pytest.mark.parametrize("vectorized", [False, True])
@pytest.mark.parametrize(
    "options, reason, evaluations",
    [
        (dict(), "max_iterations", 12 * 16),
        (dict(max_evals=50), "max_evaluations", 60),
        (dict(max_evals=48), "max_evaluations", 48),
        (dict(max_time=0.0), "max_time", 24),
        (dict(max_time=1e6, max_evals=10**9), "max_iterations", 12 * 16),
        (dict(callback=lambda i, size: i != 3), "callback", 12 * 5),
        (dict(callback=lambda i, size: np.bool_(i < 1)), "callback", 12 * 3),
        (dict(callback=lambda i, size: 0), "max_iterations", 12 * 16),
        (dict(callback=lambda i, size: False, max_evals=1), "callback", 24),
    ],
)
def test_stop_rules(vectorized, options, reason, evaluations):
    front = pso.minimize_multi(zdt1_rows if vectorized else zdt1, (0, 1), vectorized=vectorized,
                               **options, **SMALL)
    assert (front.stop_reason, front.evaluations) == (reason, evaluations)
    assert len(front.swarm_history) == evaluations // 12 - 1


def test_callback_sees_each_iteration_and_the_pruned_front_size():
    calls = []
    front = pso.minimize_multi(zdt1, (0, 1), callback=lambda i, size: calls.append((i, size)) or i < 6,
                               **dict(SMALL, archive_size=4))
    assert [i for i, _ in calls] == list(range(7))
    assert all(type(size) is int and 1 <= size <= 4 for _, size in calls)
    assert calls[-1][1] == len(front.positions)
    # The callback only observes: a run that is never stopped by it is unchanged.
    assert bits(pso.minimize_multi(zdt1, (0, 1), callback=lambda i, size: None, **SMALL)) == \
        bits(pso.minimize_multi(zdt1, (0, 1), **SMALL))


class Boom(Exception):
    pass


def test_callback_errors_and_interrupts():
    def fail(i, size):
        if i == 2:
            raise Boom("at 2")

    with pytest.raises(Boom, match="at 2"):
        pso.minimize_multi(zdt1, (0, 1), callback=fail, **SMALL)

    def interrupt(i, size):
        if i == 4:
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt) as caught:
        pso.minimize_multi(zdt1_rows, (0, 1), vectorized=True, callback=interrupt, **SMALL)
    partial = caught.value.partial_result
    assert (partial.stop_reason, partial.evaluations) == ("interrupted", 12 * 6)
    assert partial.positions and len(partial.violations) == len(partial.positions)


@pytest.mark.parametrize("value", [-1.0, math.nan])
def test_max_time_must_be_a_duration(value):
    with pytest.raises(pso.PanicException):
        pso.minimize_multi(zdt1, (0, 1), max_time=value, **SMALL)


def test_thread_pool_batched_multi_objective_values_come_back_in_row_order():
    with ThreadPoolExecutor(4) as pool:
        objective = batched(lambda x: (x[0], 1 - x[0]), pool, chunksize=2)
        X = np.arange(10.0).reshape(5, 2)
        assert objective(X) == [[r[0], 1 - r[0]] for r in X.tolist()]
