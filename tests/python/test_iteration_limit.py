"""max_iter=None: no iteration limit, another stop rule ends the run, and the schedules that
span the run (the fall to w_end, the turbulence) span the iterations max_evals allows."""

import math
import pickle

import pytest

import kestrelopt as pso
import kestrelopt_native
from conftest import sphere_loop

B3 = [(-5.0, 5.0)] * 3
STOP_RULE = ("max_iter=None needs max_evals or max_time to end the run, as the other stop rules "
             "may never fire: pass one of them, or a max_iter")
W_END = ("w_end needs the run's length in iterations: with max_iter=None pass max_evals (the "
         "weight then reaches w_end at the last iteration they allow), or a max_iter")
TURBULENCE = ("the turbulence (mutation_rate > 0) fades over the run's length in iterations: with "
              "max_iter=None pass max_evals (it then fades over the iterations they allow), a "
              "max_iter, or mutation_rate=0")


def two_objectives(x):
    return [x[0] ** 2 + x[1] ** 2, (x[0] - 1) ** 2 + x[2] ** 2]


def rows_sphere(X):
    return (X ** 2).sum(axis=1)


def iterations_within(max_evals, n_particles):
    # Written from the rule, not from the engine: the first swarm costs n_particles
    # evaluations, each iteration as many, and the budget is tested after an iteration.
    return max(1, math.ceil(max_evals / n_particles) - 1)


def ask_tell_swarm(**options):
    swarm = pso.Swarm(B3, **options)
    while swarm.stop_reason is None:
        swarm.tell(rows_sphere(swarm.ask()))
    return swarm.result()


def ask_tell_multi(**options):
    swarm = pso.MultiSwarm(B3, **options)
    while swarm.stop_reason is None:
        swarm.tell(two_objectives(swarm.ask()))
    return swarm.front()


RUNS = {
    "minimize": lambda **o: pso.minimize(sphere_loop, B3, w=0.9, w_end=0.4, **o),
    "native": lambda **o: pso.minimize("rastrigin", B3, w=0.9, w_end=0.4, topology="ring", **o),
    "vectorized": lambda **o: pso.minimize(rows_sphere, B3, vectorized=True, w=0.9, w_end=0.4, **o),
    "grey": lambda **o: pso.minimize_grey("grey_sphere", B3, w=0.9, w_end=0.4, **o),
    "multi": lambda **o: pso.minimize_multi(two_objectives, B3, archive_size=20, **o),
    "multi_vectorized": lambda **o: pso.minimize_multi(
        lambda X: [two_objectives(x) for x in X], B3, vectorized=True, archive_size=20, **o),
    "Swarm": lambda **o: ask_tell_swarm(w=0.9, w_end=0.4, **o),
    "MultiSwarm": lambda **o: ask_tell_multi(archive_size=20, **o),
}


@pytest.mark.parametrize("run", RUNS.values(), ids=RUNS.keys())
@pytest.mark.parametrize("max_evals", [1, 1234])
def test_an_evaluation_budget_alone_is_the_run_with_the_iterations_it_allows(run, max_evals):
    # 1234 evaluations of 10 particles allow 123 iterations, past the default 100; the
    # schedules then span those 123, so the run is the one that asked for them.
    unlimited = run(n_particles=10, max_iter=None, max_evals=max_evals, seed=4)
    limited = run(n_particles=10, max_iter=iterations_within(max_evals, 10), max_evals=max_evals,
                  seed=4)
    assert unlimited.stop_reason == "max_evaluations"
    assert unlimited.evaluations == 10 * (iterations_within(max_evals, 10) + 1)
    assert kestrelopt_native._result_state(unlimited) == kestrelopt_native._result_state(limited)


@pytest.mark.parametrize(
    "make, options, message",
    [
        (lambda **o: pso.minimize(sphere_loop, B3, **o), {}, STOP_RULE),
        (lambda **o: pso.minimize(sphere_loop, B3, **o), dict(target=0.0, patience=5), STOP_RULE),
        (lambda **o: pso.minimize(sphere_loop, B3, **o), dict(callback=lambda i, v: False), STOP_RULE),
        (lambda **o: pso.minimize_grey("grey_sphere", B3, **o), dict(target=1.0), STOP_RULE),
        (lambda **o: pso.minimize_multi(two_objectives, B3, **o), dict(mutation_rate=0.0), STOP_RULE),
        (lambda **o: pso.Swarm(B3, **o), dict(patience=3), STOP_RULE),
        (lambda **o: pso.MultiSwarm(B3, **o), dict(mutation_rate=0.0), STOP_RULE),
        (lambda **o: pso.minimize(sphere_loop, B3, **o), dict(max_time=1.0, w_end=0.4), W_END),
        (lambda **o: pso.minimize_grey("grey_sphere", B3, **o), dict(max_time=1.0, w_end=0.4), W_END),
        (lambda **o: pso.Swarm(B3, **o), dict(max_time=1.0, w_end=0.4), W_END),
        (lambda **o: pso.minimize_multi(two_objectives, B3, **o), dict(max_time=1.0), TURBULENCE),
        (lambda **o: pso.MultiSwarm(B3, **o), dict(max_time=1.0, mutation_rate=1e-9), TURBULENCE),
    ],
)
def test_without_an_iteration_limit_what_ends_the_run_must_be_given(make, options, message):
    with pytest.raises(ValueError) as info:
        make(max_iter=None, **options)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "run",
    [
        lambda: pso.minimize(sphere_loop, B3, max_iter=None, max_time=0.05, seed=1),
        lambda: pso.minimize_grey("grey_sphere", B3, max_iter=None, max_time=0.05, seed=1),
        lambda: pso.minimize_multi(two_objectives, B3, n_particles=5, max_iter=None, max_time=0.05,
                                   mutation_rate=0.0, record_history=False, seed=1),
    ],
)
def test_a_time_budget_alone_ends_the_run(run):
    # Without constant weights or turbulence nothing needs the run's length.
    result = run()
    assert result.stop_reason == "max_time"


def test_an_unlimited_swarm_pickles_with_its_options_and_resumes_bit_for_bit():
    options = dict(n_particles=8, max_iter=None, max_evals=1000, w=0.9, w_end=0.4, seed=2)
    swarm = pso.Swarm(B3, **options)
    for _ in range(40):
        swarm.tell(rows_sphere(swarm.ask()))
    resumed = pickle.loads(pickle.dumps(swarm))
    for s in (swarm, resumed):
        while s.stop_reason is None:
            s.tell(rows_sphere(s.ask()))
    assert resumed.iteration == swarm.iteration == iterations_within(1000, 8)
    assert kestrelopt_native._result_state(resumed.result()) == \
        kestrelopt_native._result_state(swarm.result())


@pytest.mark.parametrize("max_iter", [0, 1, 100])
def test_an_explicit_or_default_limit_still_wins(max_iter):
    # max_evals does not lift a limit that was asked for (or left at its default).
    options = dict(n_particles=10, max_evals=10**6, seed=3)
    if max_iter != 100:
        options["max_iter"] = max_iter
    r = pso.minimize(sphere_loop, B3, **options)
    assert r.stop_reason == "max_iterations" and r.evaluations == 10 * (max_iter + 1)
