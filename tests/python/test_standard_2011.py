"""velocity="spso2011" and "spso2011_uniform_radius", topology="adaptive_random" and
kestrelopt.coefficients: accepted where they apply, the rules' own coefficients unless w, c1
or c2 is passed, seeded runs that repeat, checkpoints that resume, clear errors."""

import math
import pickle

import pytest

import kestrelopt as pso
from conftest import assert_same_result

B3 = [(-5.0, 5.0)] * 3
W, C = 1.0 / (2.0 * math.log(2.0)), 0.5 + math.log(2.0)


def multi(x):
    return [x[0] ** 2 + x[1], (x[0] - 1) ** 2 - x[2]]


def swarm_result(seed, **options):
    swarm = pso.Swarm(B3, seed=seed, n_particles=10, max_iter=20, **options)
    while swarm.stop_reason is None:
        X = swarm.ask()
        swarm.tell((X * X).sum(axis=1))
    return swarm.result()


def multi_swarm_front(seed, **options):
    swarm = pso.MultiSwarm(B3, seed=seed, n_particles=8, max_iter=10, **options)
    while swarm.stop_reason is None:
        swarm.tell(multi(list(swarm.ask())))
    return swarm.front()


# Each entry point with the new names it takes, as a function of the seed.
RUNS = {
    "minimize": lambda seed, **o: pso.minimize("rastrigin", B3, seed=seed, max_iter=30, **o),
    "minimize_vectorized": lambda seed, **o: pso.minimize(
        lambda X: (X * X).sum(axis=1), B3, vectorized=True, seed=seed, max_iter=30, **o),
    "minimize_integer": lambda seed, **o: pso.minimize("sphere", B3, integer=True, seed=seed,
                                                       max_iter=30, **o),
    "minimize_grey": lambda seed, **o: pso.minimize_grey("grey_sphere", (-5.0, 5.0), dim=3,
                                                         seed=seed, max_iter=30, **o),
    "Swarm": swarm_result,
    "minimize_multi": lambda seed, **o: pso.minimize_multi(multi, B3, seed=seed, n_particles=10,
                                                           max_iter=15, **o),
    "MultiSwarm": multi_swarm_front,
}
HAS_TOPOLOGY = {"minimize", "minimize_vectorized", "minimize_integer", "minimize_grey", "Swarm"}


def fingerprint(result):
    """What a run gives, as one comparable value."""
    if hasattr(result, "objectives"):
        return result.positions, result.objectives, result.swarm_history
    return result.best_position, result.best_value, result.convergence


RULES = ["spso2011", "spso2011_uniform_radius"]


@pytest.mark.parametrize("velocity", RULES)
@pytest.mark.parametrize("run", RUNS)
def test_seeded_runs_repeat_and_the_rule_is_its_own(run, velocity):
    options = dict(velocity=velocity)
    if run in HAS_TOPOLOGY:
        options["topology"] = "adaptive_random"
    first = fingerprint(RUNS[run](3, **options))
    assert first == fingerprint(RUNS[run](3, **options))
    assert first != fingerprint(RUNS[run](4, **options))
    # Not another rule or topology under a new name.
    assert first != fingerprint(RUNS[run](3))
    other = RULES[1 - RULES.index(velocity)]
    assert first != fingerprint(RUNS[run](3, **{**options, "velocity": other}))
    if run in HAS_TOPOLOGY:
        assert first != fingerprint(RUNS[run](3, velocity=velocity))
        assert first != fingerprint(RUNS[run](3, velocity=velocity, topology="random"))


@pytest.mark.parametrize("velocity", RULES)
@pytest.mark.parametrize("run", ["minimize", "minimize_grey", "Swarm", "minimize_multi"])
def test_the_standard_coefficients_apply_unless_passed(run, velocity):
    def result(**options):
        return fingerprint(RUNS[run](8, **{"velocity": velocity, **options}))

    own = result()
    assert own == result(w=W, c1=C, c2=C) == result(**pso.coefficients(velocity))
    # Each coefficient passed counts, even at the value the other rules take by default.
    assert own != result(w=0.729)
    assert own != result(c1=C, c2=1.49445)
    assert result(w=0.729) != result(c1=1.49445)


def test_passing_the_shared_defaults_changes_no_other_rule():
    for velocity in ("inertia", "constriction", "fips"):
        default = pso.minimize("rastrigin", B3, velocity=velocity, topology="ring", seed=2)
        passed = pso.minimize("rastrigin", B3, velocity=velocity, topology="ring", seed=2,
                              w=0.729, c1=1.49445, c2=1.49445)
        assert_same_result(default, passed)


@pytest.mark.parametrize("velocity", ["inertia", "constriction", "fips", *RULES])
def test_coefficients_are_keyword_arguments_of_the_rule(velocity):
    options = pso.coefficients(velocity)
    assert options["velocity"] == velocity
    assert options is not pso.coefficients(velocity)  # a new dict each time
    run = pso.minimize("ackley", B3, seed=6, max_iter=40, topology="von_neumann", **options)
    assert run.best_value < pso.minimize("ackley", B3, seed=6, max_iter=0).best_value


def test_coefficient_sets_are_the_literature_values():
    assert pso.coefficients("inertia") == dict(velocity="inertia", w=0.7298, c1=1.49618, c2=1.49618)
    constriction = pso.coefficients("constriction")
    assert constriction == dict(velocity="constriction", c1=2.05, c2=2.05)
    # FIPS shares phi = c1 + c2 = 4.1 among the informants: the value it falls back to.
    assert pso.coefficients("fips")["c1"] + pso.coefficients("fips")["c2"] == 4.1
    for velocity in ("constriction", "fips"):
        assert_same_result(pso.minimize("sphere", B3, seed=1, **pso.coefficients(velocity)),
                           pso.minimize("sphere", B3, seed=1, velocity=velocity))
    for velocity in RULES:
        assert pso.coefficients(velocity) == dict(velocity=velocity, w=W, c1=C, c2=C)


@pytest.mark.parametrize(
    "argument, error, message",
    [
        ("FIPS", ValueError, "velocity must be one of inertia, constriction, fips, spso2011, "
                             "spso2011_uniform_radius, got 'FIPS'"),
        ("", ValueError, "velocity must be one of inertia, constriction, fips, spso2011, "
                         "spso2011_uniform_radius, got ''"),
        (None, TypeError, "velocity must be a str, got NoneType"),
        (4.1, TypeError, "velocity must be a str, got float"),
    ],
)
def test_coefficients_of_an_unknown_rule(argument, error, message):
    with pytest.raises(error) as info:
        pso.coefficients(argument)
    assert str(info.value) == message


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: pso.minimize("sphere", B3, velocity="spso2011", w_end=0.4), ValueError,
         "w_end applies only to velocity='inertia' (got velocity='spso2011'), whose inertia "
         "weight w stays constant"),
        (lambda: pso.Swarm(B3, velocity="spso2011_uniform_radius", w_end=0.4), ValueError,
         "w_end applies only to velocity='inertia' (got velocity='spso2011_uniform_radius'), "
         "whose inertia weight w stays constant"),
        (lambda: pso.Swarm(B3, velocity="spso2011", w=math.nan), ValueError,
         "w must be a finite number (got NaN)"),
        (lambda: pso.minimize_multi(multi, B3, velocity="spso2011", c2=math.inf), ValueError,
         "c2 must be a finite number (got inf)"),
        (lambda: pso.minimize_grey("grey_sphere", (-1, 1), dim=2, velocity="spso2011",
                                   c1=-math.inf), ValueError,
         "c1 must be a finite number (got -inf)"),
        (lambda: pso.minimize("sphere", B3, topology="adaptive_random", ring_neighbors=2),
         ValueError, "ring_neighbors applies only to topology='ring' (got topology='adaptive_random')"),
        (lambda: pso.minimize("sphere", B3, topology="adaptive-random"), ValueError,
         "unknown topology: 'adaptive-random'. Available: global, ring, vonneumann, random, "
         "adaptive_random"),
        (lambda: pso.MultiSwarm(B3, velocity="SPSO2011"), ValueError,
         "unknown variant: 'SPSO2011'. Available: inertia, constriction, fips, spso2011, "
         "spso2011_uniform_radius"),
        (lambda: pso.minimize_multi(multi, B3, topology="adaptive_random"), TypeError,
         "minimize_multi() got an unexpected keyword argument 'topology'"),
        (lambda: pso.minimize("sphere", B3, velocity="spso2011", w="0.7"), TypeError,
         "argument 'w': must be real number, not str"),
    ],
)
def test_bad_combinations_are_clear_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


def test_an_adaptive_swarm_resumed_from_a_pickle_in_mid_run_ends_as_the_unbroken_one():
    options = dict(velocity="spso2011_uniform_radius", topology="adaptive_random", n_particles=9,
                   max_iter=40)
    unbroken = pso.Swarm(B3, seed=12, **options)
    paused = pso.Swarm(B3, seed=12, **options)
    stalls = 0
    previous = math.inf
    while unbroken.stop_reason is None:
        X = unbroken.ask()
        assert (X == paused.ask()).all()
        unbroken.tell((X * X).sum(axis=1) + 10 * (X[:, 0] > 0))
        paused.tell((X * X).sum(axis=1) + 10 * (X[:, 0] > 0))
        paused = pickle.loads(pickle.dumps(paused))
        stalls += not unbroken.best_value < previous
        previous = unbroken.best_value
    # The links were drawn again after some iterations and kept after others.
    assert 0 < stalls < 40
    assert_same_result(paused.result(), unbroken.result())
