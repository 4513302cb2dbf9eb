"""Swarm and MultiSwarm: ask/tell loops equal the sealed runs bit for bit, checkpoints
resume exactly (in this process and another), warm starts land where asked, and misuse or
damaged checkpoints raise clear errors without changing anything."""

import copy
import math
import pickle
import subprocess
import sys

import numpy as np
import pytest

import kestrelopt as pso
import kestrelopt_native as native

B4 = [(-3.0, 3.0)] * 4


def sphere_rows(X):
    return (X * X).sum(axis=1)


def zdt1(x):
    g = 1.0
    for v in x[1:]:
        g += 9.0 * v / (len(x) - 1)
    return [x[0], g * (1.0 - math.sqrt(x[0] / g))]


def same_result(a, b):
    assert a.best_position == b.best_position
    assert a.best_value == b.best_value or (math.isnan(a.best_value) and math.isnan(b.best_value))
    assert a.convergence == b.convergence
    assert a.history == b.history
    assert a.evaluations == b.evaluations


def same_front(a, b):
    for name in ("positions", "objectives", "violations", "swarm_history", "front_history", "evaluations"):
        assert getattr(a, name) == getattr(b, name), name


def drive(swarm, objective=sphere_rows, hop=None):
    """Runs a Swarm to its end; `hop(swarm)` may replace it after every call."""
    while swarm.stop_reason is None:
        X = swarm.ask()
        if hop:
            swarm = hop(swarm)
        swarm.tell(objective(X))
        if hop:
            swarm = hop(swarm)
    return swarm


SINGLE = [
    dict(),
    dict(velocity="constriction", topology="ring", ring_neighbors=2, bounds_handling="reflect"),
    dict(velocity="fips", topology="von_neumann", bounds_handling="wrap"),
    dict(topology="random", bounds_handling="reinit", w_end=0.3),
    dict(velocity="spso2011", topology="adaptive_random", bounds_handling="reflect"),
    dict(integer=True, v_max=1.0),
    dict(var_types=["real", "integer", "binary", "real"], v_max_fraction=0.3),
    dict(binary=True),
    dict(patience=3, tol=1e-2),
    dict(target=0.5, max_evals=400),
    dict(record_history=False, init=[[0.5, 0.5, 0.5, 0.5], [1, -1, 1, -1]]),
]


@pytest.mark.parametrize("options", SINGLE)
def test_a_swarm_loop_is_the_vectorized_run(options):
    expected = pso.minimize(sphere_rows, B4, vectorized=True, seed=5, n_particles=12, max_iter=25, **options)
    swarm = drive(pso.Swarm(B4, seed=5, n_particles=12, max_iter=25, **options))
    same_result(swarm.result(), expected)
    assert swarm.stop_reason == expected.stop_reason == swarm.result().stop_reason
    assert swarm.best_value == expected.best_value and swarm.best_position == expected.best_position


@pytest.mark.parametrize("options", SINGLE[:8])
@pytest.mark.parametrize("how", ["pickle", "deepcopy"])
def test_resuming_after_every_call_is_the_unbroken_run(options, how):
    protocols = iter(range(pickle.HIGHEST_PROTOCOL + 1))

    def hop(swarm):
        if how == "deepcopy":
            return copy.deepcopy(swarm)
        protocol = next(protocols, pickle.HIGHEST_PROTOCOL)
        return pickle.loads(pickle.dumps(swarm, protocol=protocol))

    unbroken = drive(pso.Swarm(B4, seed=9, n_particles=8, max_iter=12, **options))
    resumed = drive(pso.Swarm(B4, seed=9, n_particles=8, max_iter=12, **options), hop=hop)
    same_result(resumed.result(), unbroken.result())


def test_a_checkpoint_continues_in_another_process(tmp_path):
    swarm = pso.Swarm(B4, n_particles=10, max_iter=15, topology="random")  # seeded by entropy
    for _ in range(6):
        swarm.tell(sphere_rows(swarm.ask()))
    path = tmp_path / "swarm.pkl"
    path.write_bytes(pickle.dumps(swarm))
    script = (
        "import pickle, sys, kestrelopt\n"
        "s = pickle.load(open(sys.argv[1], 'rb'))\n"
        "while s.stop_reason is None:\n"
        "    X = s.ask(); s.tell((X * X).sum(axis=1))\n"
        "pickle.dump(s.result(), open(sys.argv[1], 'wb'))\n"
    )
    subprocess.run([sys.executable, "-c", script, str(path)], check=True, timeout=120)
    same_result(pickle.loads(path.read_bytes()), drive(swarm).result())


MULTI = [
    dict(),
    dict(grid_divisions=4, mutation_rate=0.4),
    dict(velocity="constriction", bounds_handling="reflect", init=[[0.5] * 5, [0.1] * 5]),
    dict(var_types=["real", "real", "integer", "binary", "real"], max_evals=300),
    dict(velocity="spso2011", c2=1.5),
]


@pytest.mark.parametrize("options", MULTI)
@pytest.mark.parametrize("constrained", [False, True])
def test_a_multi_swarm_loop_is_the_multi_objective_run(options, constrained):
    constraint = [lambda x: 0.4 - x[0]] if constrained else None
    expected = pso.minimize_multi(zdt1, (0, 1), dim=5, n_particles=10, max_iter=20, archive_size=8,
                                  seed=2, constraints=constraint, **options)
    ms = pso.MultiSwarm((0, 1), dim=5, n_particles=10, max_iter=20, archive_size=8, seed=2, **options)
    rounds = 0
    while ms.stop_reason is None:
        x = list(ms.ask())
        if rounds % 7 == 3:  # a checkpoint in the middle of an iteration
            ms = pickle.loads(pickle.dumps(ms))
        ms.tell(zdt1(x), max(0.4 - x[0], 0.0) if constrained else 0.0)
        rounds += 1
    same_front(ms.front(), expected)
    assert ms.front().stop_reason == expected.stop_reason


def zdt1_rows(X):
    g = 1.0 + 9.0 * X[:, 1:].sum(axis=1) / (X.shape[1] - 1)
    return np.column_stack((X[:, 0], g * (1.0 - np.sqrt(X[:, 0] / g))))


def multi_constraints(X):
    # x0 >= 0.4, and the two first coordinates apart by at most 0.3
    return np.column_stack((0.4 - X[:, 0], np.abs(X[:, 0] - X[:, 1]) - 0.3))


@pytest.mark.parametrize("options", MULTI)
@pytest.mark.parametrize("constrained", [False, True])
def test_a_whole_swarm_multi_swarm_loop_is_the_vectorized_run(options, constrained):
    constraints = [lambda X: multi_constraints(X)[:, 0], lambda X: multi_constraints(X)[:, 1]]
    expected = pso.minimize_multi(zdt1_rows, (0, 1), dim=5, n_particles=10, max_iter=20, archive_size=8,
                                  seed=2, vectorized=True, constraints=constraints if constrained else None,
                                  **options)
    ms = pso.MultiSwarm((0, 1), dim=5, n_particles=10, max_iter=20, archive_size=8, seed=2, **options)
    rounds = 0
    while ms.stop_reason is None:
        X = ms.ask_all()
        if rounds % 3 == 1:  # a checkpoint in the middle of a round, and one between rounds
            ms = pickle.loads(pickle.dumps(ms))
            assert np.array_equal(ms.ask_all(), X)  # the same positions, not moved again
        violations = pso.MultiSwarm.violations(multi_constraints(X)) if constrained else None
        ms.tell_all(zdt1_rows(X), violations)
        if rounds % 3 == 2:
            ms = copy.deepcopy(ms)
        rounds += 1
    same_front(ms.front(), expected)
    assert ms.front().stop_reason == expected.stop_reason
    assert ms.front_size == len(expected.objectives)


def whole_rounds(ms, rounds=None):
    """Whole-swarm rounds on zdt1_rows until the run ends (or `rounds` of them)."""
    while ms.stop_reason is None and rounds != 0:
        ms.tell_all(zdt1_rows(ms.ask_all()))
        rounds = None if rounds is None else rounds - 1
    return ms


def test_whole_swarm_rounds_refuse_misuse_and_change_nothing():
    def fresh():
        return pso.MultiSwarm((0, 1), dim=3, n_particles=4, max_iter=3, seed=5)

    ms = fresh()
    with pytest.raises(ValueError, match="tell_all\\(\\) needs an ask_all\\(\\) before it"):
        ms.tell_all(np.zeros((4, 2)))
    X = ms.ask_all()
    F = zdt1_rows(X)
    round_under_way = "a whole-swarm round is under way: ask_all\\(\\) gave its positions"
    bad_tells = [
        (lambda: ms.ask(), ValueError, round_under_way),
        (lambda: ms.tell([0.0, 0.0]), ValueError, round_under_way),
        (lambda: ms.tell_all(F[:3]), ValueError,
         "tell_all\\(\\) needs 4 rows of objectives, one per particle, but got 3"),
        (lambda: ms.tell_all([[0.0, 1.0], [0.0, 1.0], [0.0, 1.0, 2.0], [0.0, 1.0]]), ValueError,
         "tell_all\\(\\) got 3 objective values for particle 2, but particle 0 has 2"),
        (lambda: ms.tell_all(np.zeros((4, 0))), ValueError, "needs at least one objective value"),
        (lambda: ms.tell_all(F, [0.0, 0.0]), ValueError,
         "tell_all\\(\\) needs 4 violations, one per particle, but got 2"),
        (lambda: ms.tell_all(F[:, 0]), ValueError, "objectives must hold one row per particle"),
        (lambda: ms.tell_all(None), TypeError,
         "argument 'objectives': 'NoneType' object cannot be converted to 'Sequence'"),
        (lambda: ms.tell_all(F, ["a"] * 4), TypeError,
         "tell_all\\(\\) got a list whose item 0 is a str for violations; it takes one number per "
         "particle"),
    ]
    for call, error, message in bad_tells:
        with pytest.raises(error, match=message):
            call()
    ms.tell_all(F)
    with pytest.raises(ValueError, match="tell_all\\(\\) got 3 objective values for particle 0, but earlier points had 2"):
        ms.ask_all(), ms.tell_all(np.zeros((4, 3)))
    ms.tell_all(zdt1_rows(ms.ask_all()))
    # A round of single particles, which ask_all() may not interrupt.
    for particle in range(4):
        x = ms.ask()
        with pytest.raises(ValueError, match=f"a round of single particles is under way \\(at particle {particle} of 4\\)"):
            ms.ask_all()
        ms.tell(zdt1(list(x)))
    whole_rounds(ms)
    with pytest.raises(ValueError, match="the run has ended \\(max_iterations\\)"):
        ms.ask_all()
    with pytest.raises(ValueError, match="the run has ended; front\\(\\) holds its outcome"):
        ms.tell_all(F)
    # The same rounds without the refused calls.
    same = fresh()
    whole_rounds(same, 2)
    for _ in range(4):
        same.tell(zdt1(list(same.ask())))
    same_front(ms.front(), whole_rounds(same).front())


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda s: s.tell([1.0] * 4, [0.0, -0.5, 0.0, 0.0]), ValueError,
         "violations must be >= 0 \\(0 when feasible\\), but particle 1 has -0.5; Swarm.violations"),
        (lambda s: s.tell([1.0] * 4, [0.0] * 3), ValueError,
         "tell\\(\\) needs 4 violations, one per particle, but got 3"),
        (lambda s: pso.Swarm.violations([[1.0]] * 3, [[1.0]] * 2), ValueError,
         "equality_constraints has 2 rows and constraints 3: both need one row per particle"),
        (lambda s: pso.Swarm.violations("ab"), TypeError, "argument 'constraints': Can't extract `str` to `Vec`"),
        (lambda s: pso.MultiSwarm.violations([[1.0]], 5), TypeError,
         "argument 'equality_constraints': 'int' object cannot be converted to 'Sequence'"),
    ],
)
def test_bad_violations_are_refused_and_change_nothing(call, error, message):
    swarm = pso.Swarm(B4, seed=4, n_particles=4, max_iter=3, penalty=10.0)
    X = swarm.ask()
    with pytest.raises(error, match=message):
        call(swarm)
    assert swarm.evaluations == 0
    swarm.tell(sphere_rows(X), violations=pso.Swarm.violations(X[:, :2] - 1.0))
    while swarm.stop_reason is None:
        X = swarm.ask()
        swarm.tell(sphere_rows(X), violations=pso.Swarm.violations(X[:, :2] - 1.0))
    expected = pso.minimize(lambda X: (sphere_rows(X), X[:, :2] - 1.0), B4, seed=4, n_particles=4,
                            max_iter=3, penalty=10.0, vectorized=True, constraints="returned")
    same_result(swarm.result(), expected)


@pytest.mark.parametrize(
    "g, h, swarm_sums, multi_sums",
    [
        ([[0.5, -1.0], [2.0, 0.0]], None, [0.25, 4.0], [0.5, 2.0]),
        ([[-1.0], [float("nan")]], [[-3.0], [0.0]], [9.0, 0.0], [3.0, math.inf]),
        ([[], [1.0, 2.0]], [[float("nan")], []], [math.nan, 5.0], [math.inf, 3.0]),
        (np.zeros((2, 0)), np.array([[0.5], [-0.5]]), [0.25, 0.25], [0.5, 0.5]),
    ],
)
def test_violations_are_the_sums_of_each_mode(g, h, swarm_sums, multi_sums):
    for cls, expected in ((pso.Swarm, swarm_sums), (pso.MultiSwarm, multi_sums)):
        sums = cls.violations(g, h)
        assert sums.dtype == np.float64 and sums.shape == (2,)
        np.testing.assert_array_equal(sums, expected)


def test_failed_evaluations_told_as_advised_never_reach_the_result():
    # A Swarm: a failure is told as an infinite value.
    swarm = pso.Swarm(B4, seed=8, n_particles=6, max_iter=6)
    while swarm.stop_reason is None:
        values = sphere_rows(swarm.ask())
        values[::2] = math.inf
        swarm.tell(values)
    assert math.isfinite(swarm.best_value) and math.isfinite(max(swarm.convergence))
    # A MultiSwarm: NaN objectives (never offered to the front) with an infinite violation
    # (worse than any measurable point for the personal bests).
    ms = pso.MultiSwarm((0, 1), dim=3, n_particles=6, max_iter=6, seed=8)
    while ms.stop_reason is None:
        F = zdt1_rows(ms.ask_all())
        F[::2] = math.nan
        ms.tell_all(F, np.where(np.arange(6) % 2 == 0, math.inf, 0.0))
    front = ms.front()
    assert front.objectives and not np.isnan(front.objectives).any() and max(front.violations) == 0.0


def test_warm_start_rows_land_where_asked_and_the_others_do_not_move():
    rows = [[1.0, 2.0, -1.0, 0.0], [0.25, 0.25, 0.25, 0.25]]
    cold = pso.minimize(sphere_rows, B4, vectorized=True, seed=4, n_particles=6, max_iter=3)
    warm = pso.minimize(sphere_rows, B4, vectorized=True, seed=4, n_particles=6, max_iter=3,
                        init=np.array(rows))
    assert warm.history[0][:2] == rows and warm.history[0][2:] == cold.history[0][2:]
    sequential = pso.minimize("sphere", B4, seed=4, n_particles=6, max_iter=3, init=rows)
    assert sequential.history[0][:2] == rows
    front = pso.minimize_multi(zdt1, (0, 1), dim=4, n_particles=6, max_iter=2, seed=4, init=[[0.5] * 4])
    assert front.swarm_history[0][0] == [0.5] * 4
    seen = []

    def grey(g):
        seen.append(g)
        return sum(lo * lo + hi * hi for lo, hi in g)

    pso.minimize_grey(grey, (-5, 5), dim=2, max_spread=1.0, seed=4, n_particles=4, max_iter=1,
                      init=[[(-1.0, 0.5), (2.0, 2.0)]])
    assert seen[0] == [(-1.0, 0.5), (2.0, 2.0)]


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: pso.Swarm(B4, init=[[0, 0, 0]]), ValueError,
         "init row 0 has 3 values, but the bounds have 4 dimensions"),
        (lambda: pso.Swarm(B4, init=[[0] * 4, [0, 0, 9, 0]]), ValueError,
         "init row 1 is outside the bounds: its value 9 in dimension 2 is not in [-3, 3]"),
        (lambda: pso.minimize("sphere", B4, init=[[0, 0, float("nan"), 0]]), ValueError,
         "init row 0 is outside the bounds: its value NaN in dimension 2 is not in [-3, 3]"),
        (lambda: pso.minimize_multi(zdt1, (0, 1), dim=2, n_particles=1, init=[[0, 0], [0, 0]]), ValueError,
         "init has 2 rows, but the swarm has 1 particles"),
        (lambda: pso.Swarm(B4, init=[0, 0, 0, 0]), TypeError,
         "init must be a sequence of positions, each a sequence of floats (one position is "
         "[position]), got list"),
        (lambda: pso.minimize_grey("grey_sphere", (-5, 5), dim=1, max_spread=0.5, init=[[(1, 3)]]),
         ValueError, "init row 0: the interval (1, 3) of variable 0 has a spread above max_spread (0.5)"),
        (lambda: pso.minimize_grey("grey_sphere", (-5, 5), dim=1, init=[[(2, 1)]]),
         ValueError, "init row 0: the interval (2, 1) of variable 0 has lower > upper"),
        (lambda: pso.Swarm(B4, 3), TypeError,
         "Swarm() takes 1 positional argument (the bounds) but 2 were given"),
        (lambda: pso.MultiSwarm(B4, velocity="fips"), ValueError,
         "MOPSO needs a single-leader velocity ('inertia', 'constriction', 'spso2011' or "
         "'spso2011_uniform_radius'); 'fips' does not apply"),
    ],
)
def test_bad_options_are_refused(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


def test_misuse_raises_and_changes_nothing():
    swarm = pso.Swarm(B4, seed=1, n_particles=5, max_iter=1)
    with pytest.raises(ValueError, match="tell\\(\\) needs an ask\\(\\) before it"):
        swarm.tell([1.0] * 5)
    with pytest.raises(ValueError, match="result\\(\\) needs the first swarm's values"):
        swarm.result()
    assert swarm.best_value is None and swarm.best_position is None
    X = swarm.ask()
    assert np.array_equal(swarm.ask(), X)  # asking again gives the same positions
    with pytest.raises(ValueError, match="tell\\(\\) needs 5 values, one per particle, but got 4"):
        swarm.tell([1.0] * 4)
    with pytest.raises(TypeError):
        swarm.tell(["a"] * 5)
    swarm.tell(sphere_rows(X))
    with pytest.raises(ValueError, match="tell\\(\\) needs an ask\\(\\) before it"):
        swarm.tell(sphere_rows(X))
    swarm.tell(sphere_rows(swarm.ask()))
    assert swarm.stop_reason == "max_iterations" and swarm.iteration == 1 and swarm.evaluations == 10
    same_result(swarm.result(), drive(pso.Swarm(B4, seed=1, n_particles=5, max_iter=1)).result())
    with pytest.raises(ValueError, match="the run has ended \\(max_iterations\\)"):
        swarm.ask()
    ms = pso.MultiSwarm((0, 1), dim=3, n_particles=3, max_iter=2, seed=1)
    assert ms.front().positions == [] and ms.front().stop_reason == "running"
    ms.tell(zdt1(list(ms.ask())))
    ms.ask()
    with pytest.raises(ValueError, match="tell\\(\\) got 3 objective values, but earlier points had 2"):
        ms.tell([1.0, 2.0, 3.0])
    assert ms.particle == 1 and ms.evaluations == 0


def advanced_multi_swarm():
    ms = pso.MultiSwarm((0, 1), dim=3, n_particles=4, max_iter=6, archive_size=3, seed=3)
    for _ in range(9):
        ms.tell(zdt1(list(ms.ask())))
    ms.ask()
    return ms


def finish_multi(ms):
    while ms.stop_reason is None:
        ms.tell(zdt1(list(ms.ask())))
    return ms.front()


def advanced_swarm():
    swarm = pso.Swarm(B4, seed=3, n_particles=6, max_iter=9, topology="random")
    for _ in range(3):
        swarm.tell(sphere_rows(swarm.ask()))
    return swarm


@pytest.mark.parametrize("make, finish", [(advanced_swarm, drive), (advanced_multi_swarm, finish_multi)])
def test_damaged_checkpoints_raise_clear_errors(make, finish):
    restore, (options, state) = make().__reduce__()
    rng = np.random.default_rng(0)
    for trial in range(300):
        damaged = bytearray(state)
        if trial % 3 == 0:
            damaged = damaged[: rng.integers(0, len(state))]
        else:
            for at in rng.integers(0, len(state), size=1 + trial % 4):
                damaged[at] ^= int(rng.integers(1, 256))
        try:
            restored = restore(options, bytes(damaged))
        except ValueError as error:
            assert str(error).startswith("malformed checkpoint: ")
        else:  # a change the state tolerates (a value, not a length): it still runs
            finish(restored)


def test_checkpoints_of_another_kind_are_refused():
    restore, (options, state) = advanced_swarm().__reduce__()
    with pytest.raises(ValueError, match="malformed checkpoint: it is not a Swarm's"):
        restore(options, native.MultiSwarm(B4).__reduce__()[1][1])
    with pytest.raises(TypeError, match="a checkpoint's state must be bytes"):
        restore(options, "text")
    with pytest.raises(TypeError, match="unexpected keyword argument 'speed'"):
        restore({**options, "speed": 1}, state)


def test_vectorized_callback_sees_every_iteration_and_can_stop():
    seen = []
    r = pso.minimize(sphere_rows, B4, vectorized=True, seed=6, n_particles=8, max_iter=30,
                     callback=lambda i, best: seen.append((i, best)) or i < 9)
    assert r.stop_reason == "callback" and [i for i, _ in seen] == list(range(10))
    assert [best for _, best in seen] == r.convergence


class TellsFirst:
    """A number whose conversion runs code that tells the same swarm first, as a re-entrant
    call or another thread can while a tell reads its values."""

    def __init__(self, action):
        self.action = action

    def __float__(self):
        action, self.action = self.action, None
        action()
        return 1e9


def tell_inside_a_swarm_tell():
    swarm = pso.Swarm(B4, seed=1, n_particles=4, max_iter=3)
    swarm.ask()
    with pytest.raises(ValueError, match="tell\\(\\) needs an ask\\(\\) before it"):
        swarm.tell([TellsFirst(lambda: swarm.tell([0.0, 0.0, 0.0, 0.0])), 1e9, 1e9, 1e9])
    return swarm.evaluations, swarm.best_value


def tell_inside_a_multi_swarm_tell():
    ms = pso.MultiSwarm((0, 1), dim=3, n_particles=3, max_iter=2, seed=1)
    ms.ask()
    with pytest.raises(ValueError, match="tell\\(\\) got 3 objective values, but earlier points had 2"):
        ms.tell([TellsFirst(lambda: (ms.tell([0.0, 0.0]), ms.ask())), 1e9, 1e9])
    return ms.evaluations, ms.front().objectives


def violations_inside_a_swarm_tell():
    swarm = pso.Swarm(B4, seed=1, n_particles=4, max_iter=3)
    swarm.ask()
    with pytest.raises(ValueError, match="tell\\(\\) needs an ask\\(\\) before it"):
        swarm.tell([1e9] * 4, violations=[TellsFirst(lambda: swarm.tell([0.0, 0.0, 0.0, 0.0])), 0, 0, 0])
    return swarm.evaluations, swarm.best_value


def tell_inside_a_multi_swarm_tell_all():
    ms = pso.MultiSwarm((0, 1), dim=3, n_particles=3, max_iter=2, seed=1)
    ms.ask_all()
    with pytest.raises(ValueError, match="tell_all\\(\\) needs an ask_all\\(\\) before it"):
        ms.tell_all([[TellsFirst(lambda: ms.tell_all(np.zeros((3, 2)))), 1e9]] + [[1e9, 1e9]] * 2)
    return ms.evaluations, ms.front().objectives


@pytest.mark.parametrize(
    "run, outcome",
    [(tell_inside_a_swarm_tell, (4, 0.0)), (tell_inside_a_multi_swarm_tell, (0, [])),
     (violations_inside_a_swarm_tell, (4, 0.0)), (tell_inside_a_multi_swarm_tell_all, (3, [[0.0, 0.0]]))],
)
def test_a_tell_checks_the_swarm_after_reading_its_values(run, outcome):
    # Only the inner tell counts; the outer one is refused with the documented error,
    # and none of its values is recorded.
    assert run() == outcome


@pytest.mark.parametrize("cls", [pso.Swarm, pso.MultiSwarm])
def test_a_checkpoint_too_short_for_its_swarm_is_refused_before_building_it(cls):
    restore, (options, state) = cls(B4, n_particles=4, seed=1).__reduce__()
    # Building 10**12 particles would exhaust memory long before the state is read.
    with pytest.raises(ValueError, match="malformed checkpoint: its state is .* too short for "
                                         "1000000000000 particles in 4 dimensions"):
        restore({**options, "n_particles": 10**12}, state)


def test_a_swarm_keeps_the_values_of_its_options_not_the_callers_objects():
    v_max = np.array([0.5, 1.0, 1.5, 2.0])
    var_types = ["real", "integer", "real", "real"]
    swarm = pso.Swarm(B4, seed=2, n_particles=5, v_max=v_max, var_types=var_types)
    untouched = pso.Swarm(B4, seed=2, n_particles=5, v_max=v_max.copy(), var_types=list(var_types))
    v_max[:] = 1e-9
    var_types[:] = ["integer"] * 4
    resumed = pickle.loads(pickle.dumps(swarm))
    for s in (resumed, untouched):
        for _ in range(4):
            s.tell(sphere_rows(s.ask()))
    same_result(resumed.result(), untouched.result())


def test_history_reserves_memory_for_what_the_budget_can_record():
    # Under a 1.5 GiB address-space limit: three swarms with a huge max_iter and a
    # multi-objective run whose max_evals ends it early.
    script = (
        "import resource\n"
        "resource.setrlimit(resource.RLIMIT_AS, (3 << 29, 3 << 29))\n"
        "import kestrelopt as pso\n"
        "swarms = [pso.Swarm([(-1, 1)] * 20, n_particles=40, max_iter=10**6, seed=i) for i in range(3)]\n"
        "for s in swarms:\n"
        "    for _ in range(3):\n"
        "        X = s.ask(); s.tell((X * X).sum(axis=1))\n"
        "r = pso.minimize_multi(lambda x: [x[0], 1 - x[0]], [(0, 1)] * 30, max_iter=10**6,\n"
        "                       max_evals=300, seed=1)\n"
        "print(r.evaluations)\n"
    )
    env = {"OPENBLAS_NUM_THREADS": "1", "PATH": ""}
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=env,
                          timeout=300)
    assert done.returncode == 0 and done.stdout.split() == ["300"], done.stderr
