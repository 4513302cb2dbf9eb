"""AsyncSwarm and AsyncMultiSwarm: with one evaluation in flight they ask what minimize
(minimize_multi) evaluates and end with its result bit for bit; with several, the
interleaving decides the run, through pickles and in another process too; misuse raises
clear errors and changes nothing."""

import math
import pickle
import subprocess
import sys

import numpy as np
import pytest

import kestrelopt as pso

B3 = [(-3.0, 3.0)] * 3


def bumpy(x):
    return sum((v - 0.4) ** 2 for v in x) + math.sin(3.0 * x[0])


def ring_constraint(x):
    return 1.0 - x[0] * x[1]  # feasible when x0 * x1 >= 1


ONE_IN_FLIGHT = [
    dict(),
    dict(velocity="constriction", topology="ring", ring_neighbors=2, bounds_handling="reflect"),
    dict(velocity="fips", topology="von_neumann", bounds_handling="wrap", max_evals=70),
    dict(topology="random", bounds_handling="reinit", w_end=0.3, patience=2, tol=1e-2),
    dict(integer=True, v_max=1.0, target=0.5),
    dict(var_types=["real", "integer", "binary"], v_max_fraction=0.3, min_diameter=0.2),
    dict(binary=True, max_iter=0),
    dict(max_iter=None, max_evals=90, w_end=0.4, topology="adaptive_random"),
    dict(velocity="spso2011", topology="adaptive_random", patience=4, tol=1e-3),
    dict(record_history=False, init=[[0.5, 0.5, 0.5], [1, -1, 1]]),
    dict(constrained=True, penalty=1e3),
]


@pytest.mark.parametrize("options", ONE_IN_FLIGHT)
def test_one_in_flight_is_minimize(options):
    options = dict(options, seed=11, n_particles=7, max_iter=options.get("max_iter", 15))
    constrained = options.pop("constrained", False)
    evaluated = []

    def objective(x):
        evaluated.append(list(x))
        return bumpy(x)

    extra = dict(constraints=[ring_constraint]) if constrained else {}
    expected = pso.minimize(objective, B3, **options, **extra)
    swarm = pso.AsyncSwarm(B3, **options)
    asked = []
    while swarm.stop_reason is None:
        ticket, x = swarm.ask()
        asked.append(x.tolist())
        if len(asked) % 5 == 2:  # a checkpoint with the evaluation in flight
            swarm = pickle.loads(pickle.dumps(swarm))
        violation = pso.AsyncSwarm.violations([[ring_constraint(x)]])[0] if constrained else 0.0
        swarm.tell(ticket, bumpy(x.tolist()), violation)  # floats, as minimize passes them
    assert asked == evaluated
    result = swarm.result()
    for name in ("best_position", "best_value", "convergence", "history", "evaluations", "stop_reason"):
        assert getattr(result, name) == getattr(expected, name), name
    assert math.copysign(1.0, result.best_value) == math.copysign(1.0, expected.best_value)
    assert swarm.pending == ()


# Keeps `width` evaluations in flight and tells them in an order scrambled by the number
# told so far. Run here and, from a checkpoint, in another process, so it is source shared
# with that process; `pause` ends it early after that many values, with `width` in flight.
KEEP_IN_FLIGHT = """
def keep_in_flight(swarm, width, pause=None):
    while swarm.stop_reason is None:
        while len(swarm.pending) < width:
            try:
                swarm.ask()
            except ValueError:  # every particle in flight, or the budget asked
                break
        if swarm.evaluations == pause:
            return swarm
        ticket = swarm.pending[swarm.evaluations * 7 % len(swarm.pending)]
        x = swarm.position(ticket)
        swarm.tell(ticket, float((x * x).sum() + (x[0] - 0.5) * (x[0] - 0.5)))
    return swarm
"""
exec(KEEP_IN_FLIGHT)


def run_in_flight(width, pause=None):
    swarm = pso.AsyncSwarm(B3, seed=4, n_particles=6, max_iter=20, topology="ring")
    return keep_in_flight(swarm, width, pause)  # noqa: F821  (defined by the exec above)


def test_the_interleaving_decides_the_run_through_a_checkpoint_in_another_process(tmp_path):
    paused = run_in_flight(3, pause=40)
    assert len(paused.pending) == 3
    path = tmp_path / "async.pkl"
    path.write_bytes(pickle.dumps(paused))
    script = (
        "import pickle, sys, kestrelopt\n"
        + KEEP_IN_FLIGHT
        + "s = keep_in_flight(pickle.load(open(sys.argv[1], 'rb')), 3)\n"
        "pickle.dump(s.result(), open(sys.argv[1], 'wb'))\n"
    )
    subprocess.run([sys.executable, "-c", script, str(path)], check=True, timeout=120)
    elsewhere = pickle.loads(path.read_bytes())
    here = keep_in_flight(paused, 3).result()  # noqa: F821
    unbroken = run_in_flight(3).result()
    sequential = run_in_flight(1).result()
    for other in (here, elsewhere):
        for name in ("best_position", "best_value", "convergence", "history", "evaluations"):
            assert getattr(other, name) == getattr(unbroken, name), name
    assert unbroken.history != sequential.history  # another run than one in flight
    assert unbroken.evaluations == sequential.evaluations == 6 * 21


def test_misuse_raises_and_changes_nothing():
    swarm = pso.AsyncSwarm(B3, seed=1, n_particles=3, max_iter=1)
    with pytest.raises(ValueError, match="result\\(\\) needs a best"):
        swarm.result()
    assert swarm.best_value is None and swarm.best_position is None
    tickets = [swarm.ask()[0] for _ in range(3)]
    assert tickets == [0, 1, 2] and swarm.pending == (0, 1, 2)
    with pytest.raises(ValueError, match="every particle is in flight \\(n_particles=3\\)"):
        swarm.ask()
    with pytest.raises(ValueError, match="ticket 3 is not in flight: ask\\(\\) has not given it yet"):
        swarm.tell(3, 1.0)
    with pytest.raises(ValueError, match="ticket -1 is not in flight: ask\\(\\) has not given it yet"):
        swarm.tell(-1, 1.0)
    with pytest.raises(TypeError, match="argument 'value'"):
        swarm.tell(1, "1.0")
    with pytest.raises(TypeError, match="a ticket is an int given by ask\\(\\), got str"):
        swarm.tell("1", 1.0)

    class TellsFirst:
        # Its conversion tells the same ticket first, as a re-entrant call can.
        def __float__(self):
            swarm.tell(1, 0.0)
            return 1e9

    with pytest.raises(ValueError, match="ticket 1 is not in flight: its value has been told already"):
        swarm.tell(1, TellsFirst())
    assert swarm.evaluations == 1 and swarm.pending == (0, 2)
    with pytest.raises(ValueError, match="ticket 1 is not in flight"):
        swarm.position(1)
    before = pickle.dumps(swarm)
    swarm.tell(2, 5.0)
    swarm.tell(0, 4.0)
    for _ in range(3):
        swarm.ask()
    with pytest.raises(ValueError, match="every evaluation of the budget \\(6\\) has been asked; "
                                         "the run ends when the 3 in flight are told"):
        swarm.ask()
    with pytest.raises(ValueError, match="violation must be >= 0 \\(0 when feasible\\), got -0.5"):
        swarm.tell(4, 1.0, violation=-0.5)
    for ticket in (4, 3, 5):
        swarm.tell(ticket, 1.0, violation=0.5)  # each worth 1 + 1e6 * 0.5
    assert swarm.stop_reason == "max_iterations" and swarm.best_value == 0.0
    with pytest.raises(ValueError, match="the run has ended \\(max_iterations\\)"):
        swarm.ask()
    assert pickle.loads(before).pending == (0, 2)
    with pytest.raises(ValueError, match="restarts are not available on an AsyncSwarm"):
        pso.AsyncSwarm(B3, restarts=1, patience=3)


def test_values_in_flight_when_a_stop_rule_fires_still_count():
    swarm = pso.AsyncSwarm(B3, seed=2, n_particles=3, target=0.5)
    for _ in range(3):
        swarm.tell(swarm.ask()[0], 3.0)
    late = [swarm.ask()[0] for _ in range(3)]
    swarm.tell(late[2], 3.0)
    last, _ = swarm.ask()
    swarm.tell(late[0], 0.25)
    swarm.tell(late[1], 3.0)  # the sixth value after the starting swarm's: an iteration
    assert swarm.stop_reason == "target" and swarm.pending == (last,)
    with pytest.raises(ValueError, match="the run has ended \\(target\\)"):
        swarm.ask()
    swarm.tell(last, 0.125, violation=float("nan"))  # the value becomes NaN: no better
    assert swarm.evaluations == 7 and swarm.best_value == 0.25
    assert swarm.result().convergence == [0.25]
    np.testing.assert_array_equal(swarm.best_position, swarm.result().best_position)


def zdt1(x):
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return [x[0], g * (1.0 - math.sqrt(max(x[0], 0.0) / g))]


MULTI_ONE_IN_FLIGHT = [
    dict(),
    dict(grid_divisions=4, mutation_rate=0.4, constrained=True),
    dict(velocity="constriction", bounds_handling="reflect", init=[[0.5] * 4, [0.1] * 4]),
    dict(var_types=["real", "real", "integer", "binary"], max_evals=75, constrained=True),
    dict(max_iter=None, max_evals=80),
]


@pytest.mark.parametrize("options", MULTI_ONE_IN_FLIGHT)
def test_one_in_flight_is_minimize_multi(options):
    options = dict(options, seed=2, n_particles=9, archive_size=6,
                   max_iter=options.get("max_iter", 12))
    constrained = options.pop("constrained", False)
    evaluated = []

    def objective(x):
        evaluated.append(list(x))
        return zdt1(x)

    constraints = [lambda x: 0.4 - x[0]] if constrained else None
    expected = pso.minimize_multi(objective, (0, 1), dim=4, constraints=constraints, **options)
    swarm = pso.AsyncMultiSwarm((0, 1), dim=4, **options)
    asked = []
    while swarm.stop_reason is None:
        ticket, x = swarm.ask()
        asked.append(x.tolist())
        if len(asked) % 7 == 3:  # a checkpoint with the evaluation in flight
            swarm = pickle.loads(pickle.dumps(swarm))
        swarm.tell(ticket, zdt1(x.tolist()), max(0.4 - x[0], 0.0) if constrained else 0.0)
    assert asked == evaluated
    front = swarm.front()
    for name in ("positions", "objectives", "violations", "swarm_history", "front_history",
                 "evaluations", "stop_reason"):
        assert getattr(front, name) == getattr(expected, name), name


def test_multi_misuse_raises_and_changes_nothing():
    ms = pso.AsyncMultiSwarm((0, 1), dim=3, n_particles=3, max_iter=1, seed=1)
    assert ms.front().positions == [] and ms.front().stop_reason == "running"
    assert [ms.ask()[0] for _ in range(3)] == [0, 1, 2]
    with pytest.raises(ValueError, match="every particle is in flight \\(n_particles=3\\)"):
        ms.ask()
    ms.tell(1, [1.0, 2.0])
    with pytest.raises(ValueError, match="tell\\(\\) got 3 objective values, but earlier points had 2"):
        ms.tell(0, [1.0, 2.0, 3.0])
    with pytest.raises(ValueError, match="ticket 1 is not in flight: its value has been told already"):
        ms.tell(1, [1.0, 2.0])
    assert ms.evaluations == 1 and ms.pending == (0, 2)
    restored = pickle.loads(pickle.dumps(ms))
    for swarm in (ms, restored):
        swarm.tell(0, [0.5, 0.5])
        swarm.tell(2, [0.25, 0.75])
        flying = [swarm.ask()[0] for _ in range(3)]
        with pytest.raises(ValueError, match="every evaluation of the budget \\(6\\) has been asked"):
            swarm.ask()
        for ticket in reversed(flying):
            swarm.tell(ticket, [0.1, 0.9])
        assert swarm.stop_reason == "max_iterations" and swarm.evaluations == 6
    assert restored.front().objectives == ms.front().objectives
