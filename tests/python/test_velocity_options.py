"""w_end, per-dimension v_max, v_max_fraction, ring_neighbors and crossover."""

import math

import numpy as np
import pytest

import kestrelopt as pso
from conftest import same_bits


def steps(history):
    """|x[t+1] - x[t]| per iteration, particle and dimension, with the rounding slack of the
    subtraction."""
    h = np.array(history)
    slack = 2 * np.vectorize(math.ulp)(np.abs(h[1:]))
    return np.abs(h[1:] - h[:-1]), slack


@pytest.mark.parametrize("w, w_end, max_iter", [(0.9, 0.4, 12), (0.4, 0.9, 7), (0.8, None, 9),
                                                (0.7, 0.2, 3)])
def test_inertia_weight_follows_the_linear_schedule(w, w_end, max_iter):
    # One particle without pulls (c1 = c2 = 0) moves by v <- w_t * v alone. The first
    # velocity is clamped to +-v_max (a limit per dimension), so the whole trajectory follows
    # from the first position and the schedule w_t = w + (w_end - w) * t / (max_iter - 1).
    bounds = [(-100.0, 100.0), (-1.0, 1.0)]
    v_max = [0.05, 0.0005]
    r = pso.minimize("sphere", bounds, n_particles=1, max_iter=max_iter, w=w, w_end=w_end,
                     c1=0.0, c2=0.0, v_max=v_max, seed=17)
    h = r.history
    assert len(h) == max_iter
    x = list(h[0][0])
    if max_iter > 1:
        v = [math.copysign(limit, b - a) for a, b, limit in zip(h[0][0], h[1][0], v_max)]
        x = [vi + xi for vi, xi in zip(v, x)]
    expected = [list(h[0][0]), x]
    for t in range(1, max_iter - 1):
        weight = w if w_end is None else (w_end - w) * (t / (max_iter - 1)) + w
        v = [weight * vi for vi in v]
        x = [vi + xi for vi, xi in zip(v, x)]
        expected.append(x)
    assert [row[0] for row in h] == expected[:max_iter]
    # The particle never reached a bound, which would have changed its velocity.
    assert all(lo < c < hi for row in h for c, (lo, hi) in zip(row[0], bounds))


BOX = [(-1.0, 1.0), (-10.0, 10.0), (-100.0, 100.0)]


@pytest.mark.parametrize(
    "function, kwargs, limits",
    [
        (pso.minimize, dict(v_max=[0.01, 0.5, 2.0]), [0.01, 0.5, 2.0]),
        (pso.minimize, dict(v_max=np.array([0.01, 0.5, 2.0]), velocity="fips"), [0.01, 0.5, 2.0]),
        (pso.minimize, dict(v_max_fraction=0.05), [0.1, 1.0, 10.0]),
        # The rounded ranges of an integer space: (0, 11), (-10, 10), (-100, 100).
        (pso.minimize, dict(v_max_fraction=0.1, integer=True,
                            bounds=[(-0.4, 10.6), (-10.0, 10.0), (-100.0, 100.0)]), [1.1, 2.0, 20.0]),
        (pso.minimize_multi, dict(v_max=[0.01, 0.5, 2.0]), [0.01, 0.5, 2.0]),
        (pso.minimize_multi, dict(v_max_fraction=0.05), [0.1, 1.0, 10.0]),
    ],
)
def test_velocity_limit_per_dimension_bounds_every_step(function, kwargs, limits):
    kwargs = {"bounds": BOX, **kwargs}
    if function is pso.minimize:
        history = function(lambda x: sum(v * v for v in x), seed=6, n_particles=10, max_iter=30,
                           **kwargs).history
    else:
        # Without turbulence, which moves a coordinate by more than any velocity.
        history = function(lambda x: [x[0] ** 2 + x[1], (x[0] - 1) ** 2 - x[2]], seed=6,
                           n_particles=10, max_iter=30, mutation_rate=0.0, **kwargs).swarm_history
    step, slack = steps(history)
    assert (step <= np.array(limits) + slack).all()
    # The limit of each dimension is met, so it is its own limit that applies.
    assert np.allclose(step.max(axis=(0, 1)), limits, rtol=1e-9)


@pytest.mark.parametrize(
    "kwargs, center_limits, spread_limits",
    [
        (dict(v_max=[0.3, 0.02]), [0.3, 0.02], [0.3, 0.02]),
        # Widths: the bounds (20) for the center, min(20 / 2, max_spread) for the spread.
        (dict(v_max_fraction=0.05), [1.0, 1.0], [0.025, 0.025]),
    ],
)
def test_grey_velocity_limits_per_variable(kwargs, center_limits, spread_limits):
    pairs = []
    pso.minimize_grey(lambda g: pairs.append([tuple(p) for p in g]) or sum(c * c for c, _ in g),
                      (-10.0, 10.0), dim=2, max_spread=0.5, representation="center_spread",
                      n_particles=1, max_iter=40, seed=12, **kwargs)
    h = np.array(pairs)  # (evaluation, variable, (center, spread)); one particle
    step = np.abs(h[1:] - h[:-1])
    assert (step[:, :, 0] <= np.array(center_limits) * (1 + 1e-12)).all()
    assert np.allclose(step[:, :, 0].max(axis=0), center_limits, rtol=1e-9)
    # A spread moves freely while its center is far enough from the bounds for the cap 0.5
    # to be its only limit.
    inner = (np.abs(h[1:, :, 0]) <= 9.5) & (np.abs(h[:-1, :, 0]) <= 9.5)
    assert (step[:, :, 1][inner] <= np.repeat([spread_limits], len(step), 0)[inner] * (1 + 1e-12)).all()


@pytest.mark.parametrize(
    "function, kwargs",
    [
        (pso.minimize, dict(bounds=[(-5.0, 5.0)] * 3)),
        (pso.minimize, dict(bounds=[(-5.0, 5.0)] * 3, velocity="fips", topology="ring")),
        (pso.minimize_multi, dict(bounds=[(-5.0, 5.0)] * 3)),
        (pso.minimize_grey, dict(bounds=(-5.0, 5.0), dim=3)),
    ],
)
def test_one_limit_and_the_same_limit_per_dimension_give_the_same_bits(function, kwargs):
    objective = {pso.minimize: "sphere", pso.minimize_grey: "grey_sphere",
                 pso.minimize_multi: lambda x: [x[0] ** 2, (x[1] - 1) ** 2 + x[2]]}[function]
    one = function(objective, v_max=0.3, seed=9, **kwargs)
    each = function(objective, v_max=[0.3] * 3, seed=9, **kwargs)
    zero_d = function(objective, v_max=np.array(0.3), seed=9, **kwargs)
    for name in ("best_value", "best_position", "convergence", "history", "positions",
                 "objectives", "swarm_history"):
        if hasattr(one, name):
            assert getattr(one, name) == getattr(each, name) == getattr(zero_d, name), name


@pytest.mark.parametrize(
    "topology, k, same_as",
    [
        ("ring", 5, "global"),    # 10 particles: five on each side is everyone
        ("ring", 40, "global"),
        ("ring", 1, "ring"),      # the default ring
        ("ring", 4, None),        # everyone but the opposite particle: not the global best
        ("ring", 2, None),
    ],
)
def test_ring_neighbors_sets_the_neighbourhood(topology, k, same_as):
    def run(**kwargs):
        return pso.minimize("rastrigin", [(-5.12, 5.12)] * 4, n_particles=10, max_iter=40, seed=31,
                            **kwargs)

    r = run(topology=topology, ring_neighbors=k)
    if same_as is not None:
        assert r.history == run(topology=same_as).history
    else:
        assert r.history != run(topology="global").history
        assert r.history != run(topology="ring").history
    grey = pso.minimize_grey("grey_sphere", (-5.0, 5.0), dim=2, n_particles=10, max_iter=20,
                             seed=31, topology=topology, ring_neighbors=k)
    grey_global = pso.minimize_grey("grey_sphere", (-5.0, 5.0), dim=2, n_particles=10,
                                    max_iter=20, seed=31)
    assert (grey.convergence == grey_global.convergence) == (same_as == "global")


F = "sphere"
B2 = [(-1.0, 1.0), (-2.0, 2.0)]


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: pso.minimize(F, B2, velocity="constriction", w_end=0.4),
         "w_end applies only to velocity='inertia' (got velocity='constriction'); the other rules "
         "have no inertia weight"),
        (lambda: pso.minimize_grey(F, B2, velocity="fips", w_end=0.4),
         "w_end applies only to velocity='inertia' (got velocity='fips'); the other rules have no "
         "inertia weight"),
        (lambda: pso.minimize(F, B2, velocity="nope", w_end=0.4),
         "unknown variant: 'nope'. Available: inertia, constriction, fips, spso2011, spso2011_uniform_radius"),
        (lambda: pso.minimize(F, B2, w_end=float("nan")),
         "w_end must be a finite value (or None for a constant w)"),
        (lambda: pso.minimize(F, B2, v_max=[0.5, -1.0]),
         "v_max[1] must be a finite value >= 0 (got -1)"),
        (lambda: pso.minimize_multi(F, B2, v_max=[float("inf"), 1.0]),
         "v_max[0] must be a finite value >= 0 (got inf)"),
        (lambda: pso.minimize(F, B2, v_max=[0.5]), "v_max has 1 values but there are 2 dimensions"),
        (lambda: pso.minimize_grey(F, B2, v_max=[1, 2, 3]),
         "v_max has 3 values but there are 2 grey variables"),
        (lambda: pso.minimize(F, B2, v_max=-1.0),
         "v_max must be a finite value >= 0 (or None to disable)"),
        (lambda: pso.minimize(F, B2, v_max=0.5, v_max_fraction=0.1),
         "pass either v_max or v_max_fraction, not both"),
        (lambda: pso.minimize_multi(F, B2, v_max=[0.5, 0.5], v_max_fraction=0.1),
         "pass either v_max or v_max_fraction, not both"),
        (lambda: pso.minimize_grey(F, B2, v_max_fraction=-0.1),
         "v_max_fraction must be a finite value >= 0 (or None to disable)"),
        (lambda: pso.minimize(F, [(-1.0, 1.0), (-math.inf, 1.0)], v_max_fraction=0.1),
         "v_max_fraction needs bounds of finite width, but dimension 1 spans (-inf, 1)"),
        (lambda: pso.minimize_grey("grey_sphere", [(0.0, 1.0), (0.0, math.inf)], v_max_fraction=0.1),
         "v_max_fraction needs bounds of finite width, but grey variable 1 spans (0, inf)"),
        (lambda: pso.minimize(F, B2, topology="ring", ring_neighbors=0), "ring_neighbors must be >= 1"),
        (lambda: pso.minimize(F, B2, ring_neighbors=2),
         "ring_neighbors applies only to topology='ring' (got topology='global')"),
        (lambda: pso.minimize_grey(F, B2, topology="von_neumann", ring_neighbors=3),
         "ring_neighbors applies only to topology='ring' (got topology='von_neumann')"),
        (lambda: pso.minimize(F, B2, crossover=1.5), "crossover must be a number in [0, 1] (got 1.5)"),
        (lambda: pso.Swarm(B2, crossover=float("nan")), "crossover must be a number in [0, 1] (got NaN)"),
        (lambda: pso.AsyncSwarm(B2, velocity="fips", crossover=0.3),
         "crossover needs a single-leader velocity (got velocity='fips'): it recombines a "
         "particle's best with its leader's"),
        # The order of the checks: swarm size, then the velocity limits.
        (lambda: pso.minimize(F, B2, n_particles=0, v_max=[-1.0]), "n_particles must be >= 1"),
    ],
)
def test_invalid_options_are_value_errors(call, message):
    with pytest.raises(ValueError) as info:
        call()
    assert str(info.value) == message


def test_zero_limits_are_accepted_and_freeze_their_dimension():
    r = pso.minimize("sphere", B2, v_max=[0.0, -0.0], seed=3, max_iter=5)
    assert all(row == r.history[0] for row in r.history)
    r = pso.minimize("sphere", [(1.0, 1.0), (-2.0, 2.0)], v_max_fraction=0.5, seed=3, max_iter=5)
    assert all(same_bits(p[0], 1.0) for row in r.history for p in row)


NAN, INF = float("nan"), float("inf")


@pytest.mark.parametrize(
    "velocity, option, value",
    [("inertia", "w", NAN), ("inertia", "c1", NAN), ("inertia", "c2", INF),
     ("inertia", "w", -INF), ("constriction", "c1", INF), ("fips", "c2", INF)],
)
@pytest.mark.parametrize("run", ["minimize", "minimize_multi", "Swarm"])
def test_a_coefficient_the_rule_uses_must_be_finite(velocity, option, value, run):
    if run == "minimize_multi" and velocity == "fips":
        pytest.skip("the multi-objective engine has no fully informed rule")
    calls = {
        "minimize": lambda: pso.minimize(F, B2, velocity=velocity, **{option: value}),
        "minimize_multi": lambda: pso.minimize_multi(lambda x: [x[0], x[1]], B2, velocity=velocity,
                                                     **{option: value}),
        "Swarm": lambda: pso.Swarm(B2, velocity=velocity, **{option: value}),
    }
    with pytest.raises(ValueError, match=f"^{option} must be a finite number \\(got "):
        calls[run]()


@pytest.mark.parametrize("velocity", ["constriction", "fips"])
def test_a_coefficient_sum_that_is_not_above_four_keeps_its_fixed_coefficients(velocity):
    # NaN included; and an inertia weight these rules do not use is not checked.
    def run(**kwargs):
        return pso.minimize(F, B2, velocity=velocity, seed=4, max_iter=10, **kwargs).history

    assert run(c1=NAN) == run(c1=1.0, c2=1.0) == run(w=NAN)


@pytest.mark.parametrize("velocity", ["inertia", "spso2011_uniform_radius"])
def test_a_crossover_move_takes_each_coordinate_from_the_best_or_the_leaders_best(velocity):
    # crossover=1: every particle but the one that leads itself lands, coordinate by
    # coordinate, on its own best or the swarm's best (tracked here from the values told;
    # x + (y - x) may differ from y in the last bit).
    swarm = pso.Swarm([(-5.0, 5.0)] * 6, n_particles=8, max_iter=50, seed=5, crossover=1.0,
                      velocity=velocity)
    best = best_values = None
    taken = np.zeros(2, dtype=int)  # coordinates from the own best, from the leader's
    for _ in range(12):
        X = swarm.ask()
        if best is not None:
            leader = best[np.argmin(best_values)]
            for i in range(len(X)):
                if np.array_equal(best[i], leader):
                    continue
                own = np.isclose(X[i], best[i], rtol=1e-12, atol=0)
                led = np.isclose(X[i], leader, rtol=1e-12, atol=0)
                assert np.all(own | led)
                taken += own.sum(), led.sum()
        values = (X * X).sum(axis=1)
        swarm.tell(values)
        if best is None:
            best, best_values = X.copy(), values
        else:
            better = values < best_values
            best[better], best_values = X[better], np.where(better, values, best_values)
    assert taken.min() > 50


def test_crossover_zero_is_the_rule_alone():
    options = dict(velocity="spso2011_uniform_radius", topology="ring", seed=2, max_iter=30)
    plain = pso.minimize("rastrigin", B2, **options)
    again = pso.minimize("rastrigin", B2, crossover=0.0, **options)
    assert (plain.best_position, plain.history) == (again.best_position, again.history)
    assert pso.minimize("rastrigin", B2, crossover=0.5, **options).history != plain.history
