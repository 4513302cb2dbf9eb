"""Repeated failing and succeeding calls neither crash nor leak."""

import gc
import pickle
import resource
import sys
import tracemalloc

import numpy as np
import pytest

import kestrelopt as pso
from conftest import sphere_loop

B = [(-1.0, 1.0)] * 3


def objective(x):
    return sphere_loop(x)


def failing_objective(x):
    # A fresh exception each time: re-raising one instance would chain its tracebacks.
    raise RuntimeError("stored")


def callback(i, v):
    return None


def constraint(x):
    return x[0]


def repair(x):
    return [min(max(v, -0.5), 0.5) for v in x]


def array_repair(x):
    return np.clip(x, -0.5, 0.5)


def vectorized(X):
    return (X * X).sum(axis=1)


def vectorized_multi(X):
    return np.column_stack((X[:, 0], 1.0 - X[:, 0]))


def grey_objective(greys):
    return sum(lo * lo + hi * hi for lo, hi in greys)


def multi_objective(x):
    return [sphere_loop(x), sum((v - 1.0) ** 2 for v in x)]


def ragged_objective(x):
    return [0.0] * (1 + int(x[0] > 0))


CALLS = [
    lambda: pso.minimize(objective, B, n_particles=5, max_iter=4, seed=1, callback=callback,
                         constraints=[constraint], equality_constraints=[constraint], repair=repair),
    lambda: pso.minimize(objective, B, n_particles=5, max_iter=4, integer=True),
    lambda: pso.minimize(objective, B, n_particles=5, max_iter=4, var_types=["int", "real", "bin"]),
    lambda: pso.minimize("rastrigin", B, n_particles=5, max_iter=4, topology="random", velocity="fips"),
    lambda: pso.minimize(vectorized, B, n_particles=5, max_iter=4, vectorized=True),
    lambda: repr(pso.minimize("sphere", B, n_particles=4, max_iter=3)),
    lambda: pso.minimize("sphere", B, n_particles=4, max_iter=3).history,
    lambda: pso.benchmark_info("levy"),
    lambda: pso.grey_benchmark_info("grey_sphere"),
    lambda: pso.minimize_grey(grey_objective, B, n_particles=5, max_iter=4, seed=1, max_spread=0.5),
    lambda: repr(pso.minimize_grey("grey_sphere", B, n_particles=4, max_iter=3)),
    lambda: pso.minimize_multi(multi_objective, B, n_particles=5, max_iter=4, integer=True).swarm_history,
    lambda: pso.minimize_multi(multi_objective, B, n_particles=5, max_iter=4, grid_divisions=3).hypervolume(),
    lambda: pso.hypervolume([[1.0, 2.0], [2.0, 1.0]], [3.0, 3.0]),
    lambda: pickle.loads(pickle.dumps(pso.minimize("sphere", B, n_particles=4, max_iter=3))),
    lambda: pickle.loads(pickle.dumps(pso.minimize_multi(multi_objective, B, n_particles=4, max_iter=2))),
    lambda: pso.minimize(objective, B, n_particles=5, max_iter=4, seed=1, callback=callback,
                         constraints=[constraint], equality_constraints=[constraint],
                         repair=array_repair, array_input=True),
    lambda: pso.minimize(objective, B, n_particles=5, max_iter=4, integer=True, array_input=True),
    lambda: pso.minimize_grey(grey_objective, B, n_particles=5, max_iter=4, array_input=True),
    lambda: pso.minimize_multi(multi_objective, B, n_particles=5, max_iter=4, array_input=True,
                               v_max=[0.1, 0.2, 0.3]),
    lambda: pso.minimize("sphere", B, n_particles=5, max_iter=4, w_end=0.3, v_max_fraction=0.1,
                         topology="ring", ring_neighbors=2),
    lambda: pso.minimize_multi(multi_objective, B, n_particles=5, max_iter=4, constraints=[constraint],
                               equality_constraints=[constraint], callback=callback, max_evals=15).violations,
    lambda: pso.minimize_multi(vectorized_multi, B, n_particles=5, max_iter=4, vectorized=True,
                               constraints=[lambda X: X[:, 0]], callback=callback, max_time=60.0).to_numpy(),
]

FAILING = [
    lambda: pso.minimize(failing_objective, B, n_particles=5, max_iter=4),
    lambda: pso.minimize(failing_objective, B, n_particles=5, max_iter=4, callback=callback),
    lambda: pso.minimize(objective, B, n_particles=5, max_iter=4, repair=lambda x: "ab"),
    lambda: pso.minimize(objective, B, n_particles=5, max_iter=4, constraints=[lambda x: None]),
    lambda: pso.minimize(lambda X: X[:-1, 0], B, n_particles=5, max_iter=4, vectorized=True),
    lambda: pso.minimize(lambda X: 3.0, B, n_particles=5, max_iter=4, vectorized=True),
    lambda: pso.minimize(objective, [(1, 0)]),
    lambda: pso.minimize(objective, B, max_time=-1.0),
    lambda: pso.minimize(objective, []),
    lambda: pso.minimize(objective, "ab"),
    lambda: pso.minimize(objective, B, velocity="nope"),
    lambda: pso.minimize(objective, B, var_types=["real", "real", "Real"]),
    lambda: pso.minimize(objective, B, w="x"),
    lambda: pso.minimize(objective, B, n_particles=-1),
    lambda: pso.minimize(objective, B, speed=1),
    lambda: pso.minimize(objective, B, var_types=["real", 1, "real"]),
    lambda: pso.minimize("nope", B),
    lambda: pso.minimize("sphere", B, vectorized=True),
    lambda: pso.minimize(objective, B, vectorized=True, callback=callback),
    lambda: pso.minimize(None, B, n_particles=2, max_iter=1),
    lambda: pso.benchmark_info("nope"),
    lambda: pso.benchmark_info(3),
    lambda: pso.PsoResult(),
    lambda: pso.minimize_grey(failing_objective, B, n_particles=5, max_iter=4),
    lambda: pso.minimize_grey(objective, B, max_spread=-1.0),
    lambda: pso.minimize_grey(objective, B, max_spread="x"),
    lambda: pso.minimize_grey("nope", B),
    lambda: pso.minimize_multi(failing_objective, B, n_particles=5, max_iter=4),
    lambda: pso.minimize_multi(lambda x: "ab", B, n_particles=5, max_iter=4),
    lambda: pso.minimize_multi(ragged_objective, B, n_particles=5, max_iter=4),
    lambda: pso.minimize_multi(multi_objective, B, velocity="fips"),
    lambda: pso.hypervolume("ab", [1.0]),
    lambda: pso.minimize_multi(multi_objective, B, n_particles=2, max_iter=1).hypervolume([1.0]),
    lambda: pso.kestrelopt_native._restore_result("PsoResult", ([1.0], 2.0, [], [[[1.0], "ab"]], 1, "x")),
    lambda: pso.kestrelopt_native._restore_result("ParetoFront",
                                                  ([[0.0]], [[1.0]], [[[0.0]], 3], [], [0.0], 1, "x")),
    lambda: pso.kestrelopt_native._result_state(B),
    lambda: pso.minimize(failing_objective, B, n_particles=5, max_iter=4, array_input=True),
    lambda: pso.minimize(objective, B, n_particles=5, max_iter=4, repair=lambda x: x[:2],
                         array_input=True),
    lambda: pso.minimize_grey(failing_objective, B, n_particles=5, max_iter=4, array_input=True),
    lambda: pso.minimize_multi(failing_objective, B, n_particles=5, max_iter=4, array_input=True),
    lambda: pso.minimize(objective, B, v_max=[1.0, -1.0, 0.0]),
    lambda: pso.minimize(objective, B, v_max=[1.0, "a", 0.0]),
    lambda: pso.minimize(objective, B, velocity="fips", w_end=0.5),
    lambda: pso.minimize_multi(multi_objective, B, n_particles=5, max_iter=4, constraints=[failing_objective]),
    lambda: pso.minimize_multi(multi_objective, B, n_particles=5, max_iter=4, constraints=[lambda x: None]),
    lambda: pso.minimize_multi(multi_objective, B, n_particles=5, max_iter=4, callback=lambda i, s: 1 / 0),
    lambda: pso.minimize_multi(multi_objective, B, max_time=-1.0),
    lambda: pso.minimize_multi(failing_objective, B, n_particles=5, max_iter=4, vectorized=True),
    lambda: pso.minimize_multi(lambda X: vectorized_multi(X)[:-1], B, n_particles=5, max_iter=4,
                               vectorized=True),
    lambda: pso.minimize_multi(vectorized_multi, B, n_particles=5, max_iter=4, vectorized=True,
                               constraints=[lambda X: [1.0]]),
    lambda: pso.minimize_multi(lambda X: [[1.0, 2.0]] * 4 + [[1.0, "a"]], B, n_particles=5, max_iter=4,
                               vectorized=True),
]


def cycle():
    for call in CALLS:
        call()
    for call in FAILING:
        try:
            call()
        except BaseException:  # noqa: BLE001 - PanicException included
            pass


def test_reference_counts_of_the_callers_objects_are_restored(capsys):
    watched = [objective, failing_objective, callback, constraint, repair, array_repair, vectorized,
               grey_objective, multi_objective, ragged_objective, B]
    cycle()
    gc.collect()
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(50):
        cycle()
    gc.collect()
    after = [sys.getrefcount(o) for o in watched]
    capsys.readouterr()
    assert after == before


def test_python_allocations_do_not_grow(capsys):
    for _ in range(5):
        cycle()
    gc.collect()
    tracemalloc.start()
    try:
        start, _ = tracemalloc.get_traced_memory()
        for _ in range(200):
            cycle()
        gc.collect()
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    capsys.readouterr()
    assert end - start < 256 * 1024


def test_native_memory_does_not_grow(capsys):
    # Large recorded histories: a leaked run would add megabytes each time.
    def big():
        r = pso.minimize("sphere", [(-1.0, 1.0)] * 50, n_particles=50, max_iter=100)
        r.history
        try:
            pso.minimize(failing_objective, [(-1.0, 1.0)] * 50, n_particles=50, max_iter=100)
        except RuntimeError:
            pass
        try:
            pso.minimize(sphere_loop, [(-1.0, 1.0)] * 49 + [(1, 0)], n_particles=50, max_iter=100)
        except BaseException:  # noqa: BLE001
            pass
        front = pso.minimize_multi(multi_objective, [(-1.0, 1.0)] * 20, n_particles=50, max_iter=50)
        front.swarm_history
        try:
            pso.minimize_multi(failing_objective, [(-1.0, 1.0)] * 20, n_particles=50, max_iter=50)
        except RuntimeError:
            pass

    for _ in range(3):
        big()
    gc.collect()
    before = resident_kib()
    for _ in range(100):
        big()
    gc.collect()
    after = resident_kib()
    capsys.readouterr()
    assert after - before < 64 * 1024


def resident_kib():
    # The current resident size (not the peak, which earlier tests may have raised).
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize() // 1024


@pytest.mark.parametrize("dim", [2, 30])
def test_a_recorded_history_costs_eight_bytes_per_coordinate(dim):
    """Rows of two coordinates show any per-row bookkeeping: it would add half as much again."""
    iterations = 10_000_000 // (100 * dim)
    gc.collect()
    before = resident_kib()
    r = pso.minimize("sphere", [(-1.0, 1.0)] * dim, n_particles=100, max_iter=iterations, seed=1)
    grown = resident_kib() - before
    coordinates = iterations * 100 * dim
    assert r.to_numpy()["history"].shape == (iterations, 100, dim)
    assert grown * 1024 <= 8 * coordinates + 24 * 2**20, (grown, coordinates)


ODD_VALUES = [None, 1, "x", [None], [[1, 2, 3]], np.zeros((2, 3)), object(), float("nan")]
T, V, K = TypeError, ValueError, KeyError


# What each argument does with each odd value, in the order of ODD_VALUES (None: accepted).
@pytest.mark.parametrize(
    "name, outcomes",
    [
        ("bounds", [V, V, V, V, V, V, V, V]),
        ("objective", [T, T, K, T, T, T, T, T]),
        ("constraints", [None, T, T, T, T, T, T, T]),
        ("var_types", [None, T, T, T, T, T, T, T]),
        ("w", [T, None, T, T, T, T, T, V]),  # NaN would make every position NaN
        ("n_particles", [T, None, T, T, T, T, T, T]),
        ("callback", [None, T, T, T, T, T, T, T]),
        ("repair", [None, T, T, T, T, T, T, T]),
        ("dim", [None, V, T, T, T, T, T, T]),
    ],
)
def test_odd_inputs_fail_cleanly_with_their_error(name, outcomes):
    for value, outcome in zip(ODD_VALUES, outcomes):
        kwargs = {"objective": objective, "bounds": B, "n_particles": 2, "max_iter": 1, name: value}
        if outcome is None:
            particles = value if name == "n_particles" else 2
            assert pso.minimize(**kwargs).evaluations == particles * 2
        else:
            with pytest.raises(outcome):
                pso.minimize(**kwargs)
    assert pso.minimize(objective, B, n_particles=2, max_iter=1).evaluations == 4
