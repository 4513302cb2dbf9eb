"""preset=: each name resolves to its documented options (the swarm size from the bounds),
the options passed win, unknown names are refused, preset=None changes no bit, and Swarm
and AsyncSwarm take a preset as minimize does."""

import math
import pickle

import numpy as np
import pytest

import kestrelopt as pso

ROBUST = dict(velocity="spso2011_uniform_radius", topology="adaptive_random", n_particles="2011",
              restarts=1000, restart_growth=2.0, min_diameter=1e-9, patience=100, tol=1e-10)
# The documented table: name -> options, "2011" standing for 10 + floor(2 sqrt(dim)).
DOCUMENTED = {
    "recommended": ROBUST,
    "robust": ROBUST,
    "robust_crossover": dict(ROBUST, crossover=0.4),
    "exploit": dict(velocity="spso2011_uniform_radius", topology="adaptive_random",
                    n_particles="2011"),
    "separable": dict(velocity="fips", topology="von_neumann", n_particles=30, restarts=1000,
                      restart_growth=2.0, min_diameter=1e-9),
}
B7 = [(-5.12, 5.12)] * 7  # 10 + floor(2 sqrt(7)) = 15 particles, not the default 30
RUN = dict(seed=3, max_iter=None, max_evals=6000, record_history=False)


def resolved(options, dim):
    # floor(2 sqrt(dim)) = isqrt(4 dim), exactly, with no rounding of a square root.
    return {k: 10 + math.isqrt(4 * dim) if v == "2011" else v for k, v in options.items()}


def rastrigin_rows(X):
    return 10 * X.shape[1] + (X * X - 10 * np.cos(2 * np.pi * X)).sum(axis=1)


def outcome(r):
    return (r.best_position, r.best_value, r.convergence, r.evaluations, r.stop_reason)


@pytest.mark.parametrize("name, options", DOCUMENTED.items())
def test_a_preset_is_its_documented_options(name, options):
    listed = pso.presets()
    assert list(listed) == list(DOCUMENTED)
    formula = {k: "10 + floor(2 * sqrt(dim))" if v == "2011" else v for k, v in options.items()}
    assert listed[name] == formula
    assert pso.presets(dim=7)[name] == resolved(options, 7)
    by_name = pso.minimize("rastrigin", B7, preset=name, **RUN)
    spelled_out = pso.minimize("rastrigin", B7, **resolved(options, 7), **RUN)
    assert outcome(by_name) == outcome(spelled_out)


def test_the_swarm_size_follows_the_dimension():
    sizes = {d: pso.presets(dim=d)["robust"]["n_particles"] for d in range(1, 401)}
    assert sizes == {d: 10 + math.isqrt(4 * d) for d in range(1, 401)}
    assert (sizes[2], sizes[5], sizes[10], sizes[20]) == (12, 14, 16, 18)
    swarm = pso.Swarm((-1, 1), dim=20, preset="recommended")  # one pair and dim
    assert swarm.n_particles == 18


@pytest.mark.parametrize("passed", [
    dict(n_particles=20),
    dict(topology="ring", velocity="inertia", w=0.6),
    dict(restarts=0),
    dict(min_diameter=1e-3, restart_growth=1.5),
])
def test_the_options_passed_win_over_the_preset(passed):
    expected = dict(resolved(ROBUST, 7), **passed)
    by_preset = pso.minimize("rastrigin", B7, preset="robust", **passed, **RUN)
    assert outcome(by_preset) == outcome(pso.minimize("rastrigin", B7, **expected, **RUN))


def test_an_explicit_none_wins_too():
    # min_diameter=None and patience=0 take the preset's stagnation rules away, and its
    # restarts need one.
    with pytest.raises(ValueError, match="restarts need a rule that finds a run stagnant"):
        pso.minimize("sphere", B7, preset="robust", min_diameter=None, patience=0)


@pytest.mark.parametrize("call", [
    lambda p: pso.minimize("sphere", B7, preset=p),
    lambda p: pso.Swarm(B7, preset=p),
    lambda p: pso.AsyncSwarm(B7, preset=p),
])
def test_unknown_presets_are_refused_with_the_names(call):
    message = ("preset must be one of 'recommended', 'robust', 'robust_crossover', 'exploit', 'separable' "
               "(or None), got 'Robust'")
    with pytest.raises(ValueError, match=message.replace("(", r"\(").replace(")", r"\)")):
        call("Robust")
    with pytest.raises(TypeError, match="argument 'preset'"):
        call(1)
    with pytest.raises(ValueError, match="dim must be >= 1"):
        pso.presets(dim=0)


def test_preset_none_changes_no_bit():
    options = dict(seed=9, n_particles=12, max_iter=40)
    plain = pso.minimize("rastrigin", B7, **options)
    assert outcome(plain) == outcome(pso.minimize("rastrigin", B7, preset=None, **options))
    assert plain.history == pso.minimize("rastrigin", B7, preset=None, **options).history
    a, b = pso.Swarm(B7, **options), pso.Swarm(B7, preset=None, **options)
    for _ in range(5):
        X, Y = a.ask(), b.ask()
        assert X.tobytes() == Y.tobytes()
        a.tell(rastrigin_rows(X))
        b.tell(rastrigin_rows(Y))


@pytest.mark.parametrize("name", ["recommended", "robust_crossover", "exploit", "separable"])
def test_a_swarm_with_a_preset_is_minimize_with_it_and_pickles(name):
    options = dict(preset=name, seed=4, max_iter=None, max_evals=5000, record_history=False)
    sealed = pso.minimize(rastrigin_rows, B7, vectorized=True, **options)
    swarm, calls = pso.Swarm(B7, **options), 0
    while swarm.stop_reason is None:
        if calls % 7 == 3:  # the preset comes back with the checkpoint's options
            swarm = pickle.loads(pickle.dumps(swarm))
        swarm.tell(rastrigin_rows(swarm.ask()))
        calls += 1
    assert outcome(swarm.result()) == outcome(sealed)


@pytest.mark.parametrize("name", ["recommended", "robust_crossover", "exploit", "separable"])
def test_an_async_swarm_with_a_preset_is_minimize_with_it_without_restarts(name):
    options = dict(preset=name, seed=6, max_iter=None, max_evals=3000, record_history=False)

    def objective(x):
        return float(rastrigin_rows(np.asarray([x]))[0])

    expected = pso.minimize(objective, B7, restarts=0, **options)
    swarm = pso.AsyncSwarm(B7, **options)
    assert swarm.n_particles == pso.presets(dim=7)[name]["n_particles"]
    while swarm.stop_reason is None:
        ticket, x = swarm.ask()
        swarm.tell(ticket, objective(x.tolist()))
    assert outcome(swarm.result()) == outcome(expected)
