"""Restarts: a search of successive runs with growing swarms, composed from plain runs that
a caller could make alone; reproducible in both modes; refused without a stagnation rule."""

import math

import numpy as np
import pytest

import kestrelopt as pso

B = [(-5.12, 5.12)] * 4
MASK = (1 << 64) - 1


def restart_seed(seed, k):
    # SplitMix64's finaliser over the seed and the run's index, written out independently.
    z = (seed + 0x9E3779B97F4A7C15 * k) & MASK
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
    return z ^ (z >> 31)


def rastrigin_rows(X):
    return 10 * X.shape[1] + (X * X - 10 * np.cos(2 * np.pi * X)).sum(axis=1)


def run(vectorized, **options):
    objective = rastrigin_rows if vectorized else "rastrigin"
    return pso.minimize(objective, B, seed=5, n_particles=8, vectorized=vectorized, **options)


@pytest.mark.parametrize(
    "vectorized, rule",
    [(False, {}), (True, {}),
     # a rule with coefficients of its own keeps them after a restart
     (False, dict(velocity="spso2011_uniform_radius", topology="adaptive_random"))],
)
def test_a_search_is_its_plain_runs_composed(vectorized, rule):
    rule = dict(rule, min_diameter=0.1 if rule else 1e-3)
    budget = dict(max_iter=100_000, max_evals=20_000, **rule)
    searched = run(vectorized, restarts=2, **budget)
    first = run(vectorized, **budget)
    assert first.stop_reason == "stagnation"
    left = dict(max_iter=100_000 - len(first.convergence), max_evals=20_000 - first.evaluations,
                **rule)
    objective = rastrigin_rows if vectorized else "rastrigin"
    second = pso.minimize(objective, B, seed=restart_seed(5, 1), n_particles=16,
                          vectorized=vectorized, **left)
    runs = [first, second]
    if second.stop_reason == "stagnation":
        left = dict(max_iter=left["max_iter"] - len(second.convergence),
                    max_evals=left["max_evals"] - second.evaluations, **rule)
        runs.append(pso.minimize(objective, B, seed=restart_seed(5, 2), n_particles=32,
                                 vectorized=vectorized, **left))
    best = min(r.best_value for r in runs)
    assert searched.best_value == best
    assert searched.best_position == next(r.best_position for r in runs if r.best_value == best)
    assert searched.evaluations == sum(r.evaluations for r in runs)
    expected, so_far = [], math.inf
    for r in runs:
        expected += [min(v, so_far) for v in r.convergence]
        so_far = min(so_far, r.best_value)
    assert searched.convergence == expected
    assert [len(s) for s in searched.history] == [len(s) for r in runs for s in r.history]
    assert searched.stop_reason == runs[-1].stop_reason
    assert searched.evaluations >= 20_000 or searched.stop_reason == "stagnation"


def test_a_first_run_that_never_stagnates_is_the_plain_run():
    a = run(False, restarts=4, min_diameter=0.0, max_iter=60)
    b = run(False, max_iter=60)
    assert (a.best_position, a.best_value, a.convergence, a.history, a.evaluations, a.stop_reason) == (
        b.best_position, b.best_value, b.convergence, b.history, b.evaluations, b.stop_reason)


def test_the_callback_sees_the_search_not_the_run():
    seen = []
    r = run(False, restarts=3, min_diameter=1e-2, max_iter=100_000, max_evals=6_000,
            callback=lambda i, best: seen.append((i, best)))
    assert [i for i, _ in seen] == list(range(len(r.convergence)))
    assert [b for _, b in seen] == r.convergence
    assert len({len(s) for s in r.history}) > 1  # it did restart, with a larger swarm


@pytest.mark.parametrize(
    "options, message",
    [
        (dict(restarts=2), "restarts need a rule that finds a run stagnant"),
        (dict(restarts=2, patience=5, restart_growth=0.5), "restart_growth must be a finite number >= 1"),
        (dict(restarts=2, patience=5, restart_growth=math.inf), "restart_growth must be a finite number >= 1"),
        (dict(min_diameter=-1.0), "min_diameter must be a finite number >= 0"),
        (dict(min_diameter=math.nan), "min_diameter must be a finite number >= 0"),
    ],
)
def test_bad_restart_options_are_refused(options, message):
    with pytest.raises(ValueError, match=message):
        pso.minimize("sphere", B, **options)
    with pytest.raises(ValueError, match=message):
        pso.Swarm(B, **options)


def test_a_restarting_swarm_is_the_vectorized_search_and_resumes_bit_for_bit():
    import pickle

    options = dict(seed=5, n_particles=8, max_iter=100_000, max_evals=12_000, restarts=3,
                   min_diameter=1e-3)
    sealed = pso.minimize(rastrigin_rows, B, vectorized=True, **options)
    swarm, calls, sizes = pso.Swarm(B, **options), 0, set()
    while swarm.stop_reason is None:
        if calls % 5 == 0:  # a checkpoint between calls, now and then
            swarm = pickle.loads(pickle.dumps(swarm))
        X = swarm.ask()
        sizes.add(len(X))
        assert swarm.n_particles == len(X)
        swarm.tell(rastrigin_rows(X))
        calls += 1
        assert swarm.convergence == swarm.result().convergence
    done = swarm.result()
    assert sizes == {8, 16, 32}
    assert (done.best_position, done.best_value, done.convergence, done.history, done.evaluations,
            done.stop_reason) == (sealed.best_position, sealed.best_value, sealed.convergence,
                                  sealed.history, sealed.evaluations, sealed.stop_reason)
    assert swarm.iteration == len(done.convergence) and swarm.evaluations == done.evaluations
    with pytest.raises(ValueError, match="the run has ended"):
        swarm.ask()
