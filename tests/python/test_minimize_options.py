"""minimize: validation order, option names, factories and the choice of space."""

import math

import pytest

import kestrelopt as pso
from conftest import assert_same_result, panic_type, sphere_loop

B2 = [(-5.0, 5.0)] * 2
QUICK = dict(n_particles=6, max_iter=5, seed=3)

CONSTRAINT_MESSAGE = ("constraints, equality_constraints and repair require a Python objective "
                      "callable, not a native benchmark name; pass a function as the objective")
VMAX_MESSAGE = "v_max must be a finite value >= 0 (or None to disable)"


def g(x):
    return 0.0


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(n_particles=0), "n_particles must be >= 1"),
        (dict(v_max=-1.0), VMAX_MESSAGE),
        (dict(v_max=-1e-300), VMAX_MESSAGE),
        (dict(v_max=float("inf")), VMAX_MESSAGE),
        (dict(v_max=float("-inf")), VMAX_MESSAGE),
        (dict(v_max=float("nan")), VMAX_MESSAGE),
        (dict(bounds_handling="Clamp"), "unknown bounds_handling: 'Clamp'. Available: clamp, reflect, wrap, reinit"),
        (dict(bounds_handling=""), "unknown bounds_handling: ''. Available: clamp, reflect, wrap, reinit"),
        (dict(velocity="Inertia"), "unknown variant: 'Inertia'. Available: inertia, constriction, fips, spso2011, spso2011_uniform_radius"),
        (dict(velocity="pso"), "unknown variant: 'pso'. Available: inertia, constriction, fips, spso2011, spso2011_uniform_radius"),
        (dict(topology="VonNeumann"), "unknown topology: 'VonNeumann'. Available: global, ring, vonneumann, random, adaptive_random"),
        (dict(topology="star"), "unknown topology: 'star'. Available: global, ring, vonneumann, random, adaptive_random"),
        (dict(var_types=["real"]), "var_types has length 1 but bounds has length 2"),
        (dict(var_types=[]), "var_types has length 0 but bounds has length 2"),
        (dict(var_types=["real", "Real"]), "unknown variable type: 'Real'. Available: real, integer, binary"),
        (dict(var_types=["bool", "Real"]), "unknown variable type: 'bool'. Available: real, integer, binary"),
    ],
)
def test_option_errors(kwargs, message):
    with pytest.raises(ValueError) as info:
        pso.minimize(sphere_loop, B2, **kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "kwargs, message",
    [
        # bounds first
        (dict(bounds=[], n_particles=0, velocity="x"), "bounds is empty"),
        # then the swarm size
        (dict(n_particles=0, v_max=-1.0, velocity="x", topology="y"), "n_particles must be >= 1"),
        # then v_max
        (dict(v_max=-1.0, max_time=-1.0, velocity="x"), VMAX_MESSAGE),
        # boundary mode, velocity rule, topology in this order
        (dict(bounds_handling="x", velocity="y", topology="z"), "unknown bounds_handling: 'x'. Available: clamp, reflect, wrap, reinit"),
        (dict(velocity="y", topology="z"), "unknown variant: 'y'. Available: inertia, constriction, fips, spso2011, spso2011_uniform_radius"),
        (dict(topology="z", objective="sphere", constraints=[g]), "unknown topology: 'z'. Available: global, ring, vonneumann, random, adaptive_random"),
        # native objective with constraints before the space
        (dict(objective="sphere", constraints=[g], var_types=["x"]), CONSTRAINT_MESSAGE),
        (dict(objective="nope", repair=g, bounds=[(1, 0)] * 2), CONSTRAINT_MESSAGE),
        # var_types length before its names
        (dict(var_types=["x"]), "var_types has length 1 but bounds has length 2"),
    ],
)
def test_validation_order(kwargs, message):
    kwargs = {"objective": sphere_loop, "bounds": B2, **kwargs}
    with pytest.raises(ValueError) as info:
        pso.minimize(**kwargs)
    assert str(info.value) == message


def test_time_limit_failure_comes_before_the_factories():
    with pytest.raises(panic_type()) as info:
        pso.minimize(sphere_loop, B2, max_time=-1.0, velocity="nope")
    assert info.value.args == ("cannot convert float seconds to Duration: value is negative",)


@pytest.mark.parametrize(
    "kwargs",
    [
        dict(constraints=[g]),
        dict(equality_constraints=[g]),
        dict(repair=g),
        dict(constraints=[], equality_constraints=[g]),
    ],
)
def test_native_objective_refuses_constraints_and_repair(kwargs):
    with pytest.raises(ValueError) as info:
        pso.minimize("sphere", B2, **kwargs)
    assert str(info.value) == CONSTRAINT_MESSAGE


def test_native_objective_accepts_empty_lists_and_a_callback():
    calls = []
    r = pso.minimize("sphere", B2, constraints=[], equality_constraints=[],
                     callback=lambda i, v: calls.append(i), **QUICK)
    assert calls == list(range(5))
    assert r.stop_reason == "max_iterations"


def test_unknown_native_name_fails_in_run_with_key_error():
    with pytest.raises(KeyError) as info:
        pso.minimize("nope", B2)
    assert info.value.args == (
        "unknown native benchmark: 'nope'. Available: sphere, rastrigin, rosenbrock, ackley, "
        "griewank, schwefel, bent_cigar, discus, elliptic, zakharov, levy, expanded_schaffer",
    )


def test_str_subclass_objective_is_a_native_name():
    class Name(str):
        pass

    r1 = pso.minimize(Name("sphere"), B2, **QUICK)
    r2 = pso.minimize("sphere", B2, **QUICK)
    assert_same_result(r1, r2)


@pytest.mark.parametrize("v_max", [0.0, -0.0, 0, 0.25, 2.5])
def test_accepted_v_max(v_max):
    r = pso.minimize(sphere_loop, B2, v_max=v_max, **QUICK)
    steps = [abs(b - a) for before, after in zip(r.history, r.history[1:])
             for p, q in zip(before, after) for a, b in zip(p, q)]
    if v_max == 0:
        # no particle moves: every recorded swarm is the initial one
        assert all(swarm == r.history[0] for swarm in r.history)
    else:
        # every move is one velocity, each component within v_max (clamping only shortens)
        assert max(steps) <= v_max and max(steps) > 0


@pytest.mark.parametrize("max_time", [0, 0.0, -0.0, 1e-9, 3600.0, 1e15])
def test_accepted_max_time(max_time):
    r = pso.minimize(sphere_loop, B2, max_time=max_time, **QUICK)
    if max_time == 0:
        assert r.stop_reason == "max_time" and len(r.convergence) == 1
    elif max_time >= 3600:
        # a limit of an hour or more never fires in a run of a few milliseconds
        assert r.stop_reason == "max_iterations" and len(r.convergence) == QUICK["max_iter"]
    else:
        assert r.stop_reason in ("max_time", "max_iterations")


# ---- factories -------------------------------------------------------------------------

@pytest.mark.parametrize(
    "kwargs_a, kwargs_b",
    [
        # constriction falls back to (2.05, 2.05) when c1 + c2 <= 4, replacing both
        (dict(velocity="constriction", c1=1.0, c2=1.0), dict(velocity="constriction", c1=2.05, c2=2.05)),
        (dict(velocity="constriction", c1=2.0, c2=2.0), dict(velocity="constriction", c1=2.05, c2=2.05)),
        (dict(velocity="constriction", c1=float("nan"), c2=1.0), dict(velocity="constriction", c1=2.05, c2=2.05)),
        # fips uses phi = 4.1 with the default coefficients (sum 2.9889)
        (dict(velocity="fips"), dict(velocity="fips", c1=2.05, c2=2.05)),
        (dict(velocity="fips", c1=3.0, c2=1.2), dict(velocity="fips", c1=1.2, c2=3.0)),
        # w matters only for the inertia rule
        (dict(velocity="constriction", w=0.1), dict(velocity="constriction", w=0.9)),
        (dict(velocity="fips", w=0.1), dict(velocity="fips", w=0.9)),
        # the alias of the von Neumann topology
        (dict(topology="von_neumann"), dict(topology="vonneumann")),
        # var_types aliases
        (dict(var_types=["float", "continuous"]), dict(var_types=["real", "real"])),
        (dict(var_types=["int", "bin"]), dict(var_types=["integer", "binary"])),
        # var_types wins over integer and binary; binary wins over integer
        (dict(var_types=["int", "real"], integer=True, binary=True), dict(var_types=["integer", "real"])),
        (dict(integer=True, binary=True), dict(binary=True)),
        # all-real mixed space draws what the continuous space draws
        (dict(var_types=["real", "real"]), dict()),
    ],
)
def test_equivalent_options_give_identical_runs(kwargs_a, kwargs_b):
    r1 = pso.minimize(sphere_loop, B2, **QUICK, **kwargs_a)
    r2 = pso.minimize(sphere_loop, B2, **QUICK, **kwargs_b)
    assert_same_result(r1, r2)


@pytest.mark.parametrize(
    "kwargs_a, kwargs_b",
    [
        (dict(velocity="constriction", c1=2.1, c2=2.1), dict(velocity="constriction", c1=2.05, c2=2.05)),
        (dict(velocity="fips", c1=2.1, c2=2.1), dict(velocity="fips")),
        (dict(w=0.5), dict(w=0.6)),
        (dict(topology="ring"), dict(topology="global")),
        (dict(topology="vonneumann"), dict(topology="ring")),
        (dict(topology="random"), dict(topology="global")),
        (dict(velocity="fips"), dict(velocity="inertia")),
        (dict(bounds_handling="reinit", w=5.0), dict(bounds_handling="clamp", w=5.0)),
        (dict(bounds_handling="reflect", w=5.0), dict(bounds_handling="wrap", w=5.0)),
    ],
)
def test_different_options_give_different_runs(kwargs_a, kwargs_b):
    r1 = pso.minimize(sphere_loop, B2, **QUICK, **kwargs_a)
    r2 = pso.minimize(sphere_loop, B2, **QUICK, **kwargs_b)
    assert r1.history != r2.history


@pytest.mark.parametrize("mode", ["clamp", "reflect", "wrap", "reinit"])
def test_boundary_modes_keep_the_swarm_inside(mode):
    r = pso.minimize(sphere_loop, [(-1.0, 1.0)] * 3, bounds_handling=mode, w=3.0, c1=3.0, c2=3.0,
                     n_particles=10, max_iter=20, seed=4)
    assert all(-1.0 <= v <= 1.0 for swarm in r.history for p in swarm for v in p)


@pytest.mark.parametrize("topology", ["global", "ring", "vonneumann", "von_neumann", "random"])
@pytest.mark.parametrize("velocity", ["inertia", "constriction", "fips"])
def test_every_rule_and_topology_converges_on_sphere(velocity, topology):
    r = pso.minimize("sphere", [(-5.12, 5.12)] * 3, velocity=velocity, topology=topology,
                     n_particles=20, max_iter=150, seed=42)
    assert r.best_value < 1e-2


@pytest.mark.parametrize("n_particles", [1, 2, 5, 7])
def test_small_swarms_with_local_topologies(n_particles):
    for topology in ("ring", "vonneumann", "random"):
        r = pso.minimize("sphere", B2, topology=topology, n_particles=n_particles, max_iter=3, seed=1)
        assert r.evaluations == 4 * n_particles


# ---- spaces ----------------------------------------------------------------------------

def recording(values):
    def objective(x):
        values.append(list(x))
        return sphere_loop(x)
    return objective


def test_integer_space_hands_ints_and_reports_whole_floats():
    seen = []
    r = pso.minimize(recording(seen), [(-10, 10)] * 3, integer=True, **QUICK)
    assert all(type(v) is int for x in seen for v in x)
    assert all(type(v) is float and v == int(v) for v in r.best_position)
    # the history keeps the unrounded, real-valued swarm
    assert any(v != int(v) for swarm in r.history for p in swarm for v in p)


def test_binary_space_whatever_the_bounds():
    seen = []
    r = pso.minimize(recording(seen), [(-10, 10)] * 4, binary=True, **QUICK)
    assert {v for x in seen for v in x} <= {0, 1}
    assert all(type(v) is int for x in seen for v in x)
    assert all(0.0 <= v <= 1.0 for swarm in r.history for p in swarm for v in p)


def test_integer_ranges_round_halves_away_from_zero():
    seen = []
    pso.minimize(recording(seen), [(-0.5, 2.5)], integer=True, n_particles=200, max_iter=1, seed=9)
    values = {x[0] for x in seen}
    assert values == {-1, 0, 1, 2, 3}


def test_mixed_space_hands_floats():
    seen = []
    r = pso.minimize(recording(seen), [(-1.5, 1.5), (0, 5), (7, 9)], var_types=["real", "int", "binary"],
                     integer=True, **QUICK)
    assert all(type(v) is float for x in seen for v in x)
    assert all(x[1] == int(x[1]) and 0 <= x[1] <= 5 for x in seen)
    assert {x[2] for x in seen} <= {0.0, 1.0}
    assert r.best_position[2] in (0.0, 1.0)


def test_integer_candidate_lists_saturate():
    seen = []
    pso.minimize(recording(seen), [(1e30, 1e30), (-1e30, -1e30)], integer=True, n_particles=1, max_iter=0)
    assert seen == [[2**63 - 1, -(2**63)]]


def test_integer_bounds_with_nan_round_to_zero():
    seen = []
    pso.minimize(recording(seen), [(float("nan"), float("nan"))], integer=True, n_particles=2, max_iter=1)
    assert seen and all(x == [0] for x in seen)


def test_max_iter_zero():
    r = pso.minimize(sphere_loop, B2, n_particles=7, max_iter=0, seed=1)
    assert r.evaluations == 7 and r.stop_reason == "max_iterations"
    assert r.history == [] and r.convergence == []
    assert not math.isnan(r.best_value)


@pytest.mark.parametrize(
    "kwargs, reason, evaluations",
    [
        (dict(max_evals=35, n_particles=30), "max_evaluations", 60),
        (dict(target=1e9), "target", 60),
        (dict(patience=1, tol=1e9), "stagnation", 60),
        (dict(callback=lambda i, v: False), "callback", 60),
        (dict(max_iter=3), "max_iterations", 120),
    ],
)
def test_stop_rules_are_passed_through(kwargs, reason, evaluations):
    r = pso.minimize(sphere_loop, B2, **{"n_particles": 30, "seed": 1, **kwargs})
    assert r.stop_reason == reason
    assert r.evaluations == evaluations
