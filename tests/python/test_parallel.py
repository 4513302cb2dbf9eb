"""kestrelopt.parallel: batched over serial, thread, process and Dask executors; multistart;
drive and its checkpoints."""

import math
import multiprocessing
import os
import pickle
import threading
import time
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import numpy as np
import pytest

import kestrelopt as pso
from conftest import FailOn, assert_same_result
from kestrelopt.parallel import (BatchedObjective, MultistartResult, batched, drive,
                                 load_checkpoint, multistart)

RUN = dict(bounds=(-5.12, 5.12), dim=3, seed=11, n_particles=8, max_iter=6, vectorized=True)


# Module-level objectives, so that worker processes can unpickle them by reference.
def rastrigin(x):
    return 10.0 * len(x) + sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) for v in x)


class ObjectiveFailed(Exception):
    """Raised by `fails_on_positive_first`; a type of our own, so nothing else raises it."""


def fails_on_positive_first(x):
    if x[0] > 0:
        raise ObjectiveFailed(f"x[0] = {x[0]!r} is positive")
    return rastrigin(x)


def slow_for_early_rows(x):
    time.sleep(0.002 * (6 - x[0]))  # row 0 finishes last
    return x[0] * 10 + x[1]


def returns_none(x):
    return None


def simulate(x):
    """A simulation that yields its value and its constraint values in one run."""
    return rastrigin(x), [x[0] - 1.0, x[1] * x[2] - 0.5], [x[0] + x[1] - 0.5]


def simulate_two(x):
    """The same for two objectives; the equality values are left out."""
    return [x[0] * x[0] + x[1] * x[1], (x[0] - 2.0) ** 2 + x[2] * x[2]], [0.5 - x[0], x[1] - x[2]]


def two_objectives(x):
    return simulate_two(x)[0]


@pytest.fixture(scope="module")
def process_pool():
    # spawn: the Dask cluster of this module runs threads in this process, and forking a
    # threaded process can deadlock.
    with ProcessPoolExecutor(2, mp_context=multiprocessing.get_context("spawn")) as pool:
        yield pool


@pytest.fixture(scope="module")
def thread_pool():
    with ThreadPoolExecutor(2) as pool:
        yield pool


@pytest.fixture(scope="module")
def dask_client():
    distributed = pytest.importorskip("distributed")
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
    )
    client = distributed.Client(cluster)
    yield client
    client.close()
    cluster.close()


EXECUTORS = ["thread_pool", "process_pool", "dask_executor", "dask_client"]


def get_executor(request, kind):
    if kind == "dask_executor":
        return request.getfixturevalue("dask_client").get_executor()
    return request.getfixturevalue(kind)


@pytest.mark.parametrize("kind", EXECUTORS)
@pytest.mark.parametrize("chunksize", [1, 3])
def test_seeded_run_is_identical_to_the_serial_one(request, kind, chunksize):
    serial = pso.minimize(batched(rastrigin), **RUN)
    executor = get_executor(request, kind)
    parallel = pso.minimize(batched(rastrigin, executor, chunksize=chunksize), **RUN)
    assert_same_result(parallel, serial)
    assert parallel.evaluations == 8 * 7


def test_serial_batched_agrees_with_a_numpy_objective():
    def rows(X):
        return 10.0 * X.shape[1] + (X * X - 10.0 * np.cos(2.0 * np.pi * X)).sum(axis=1)

    via_rows = pso.minimize(batched(rastrigin), **RUN)
    vectorized = pso.minimize(rows, **RUN)
    assert via_rows.history == vectorized.history
    assert via_rows.best_value == pytest.approx(vectorized.best_value, rel=1e-12)


@pytest.mark.parametrize("kind", EXECUTORS)
def test_rows_come_back_in_order_when_workers_finish_out_of_order(request, kind):
    executor = get_executor(request, kind)
    X = np.array([[float(i), 0.5] for i in range(6)])
    assert batched(slow_for_early_rows, executor)(X) == [0.5, 10.5, 20.5, 30.5, 40.5, 50.5]


def initial_swarm():
    """The rows of the first swarm of a run with RUN's seed."""
    rows = []

    def spy(X):
        rows.extend(X.tolist())
        return [0.0] * len(X)

    pso.minimize(spy, **dict(RUN, max_iter=0))
    return rows


@pytest.mark.parametrize("kind", [None] + EXECUTORS)
def test_worker_exception_reaches_the_caller(request, kind):
    executor = None if kind is None else get_executor(request, kind)
    with pytest.raises(ObjectiveFailed) as info:
        pso.minimize(batched(fails_on_positive_first, executor), **RUN)
    # The first failing row in row order, whichever worker failed first.
    first_positive = next(row[0] for row in initial_swarm() if row[0] > 0)
    assert str(info.value) == f"x[0] = {first_positive!r} is positive"


def test_thread_worker_exception_is_the_same_object(thread_pool):
    raised = {}

    def failing(x):
        # Every row fails, possibly several at once: each error is kept under its row.
        error = ObjectiveFailed("from a thread")
        raised[tuple(x)] = error
        raise error

    with pytest.raises(ObjectiveFailed) as info:
        pso.minimize(batched(failing, thread_pool), **RUN)
    # the object raised for the first row, whichever thread failed first
    assert info.value is raised[tuple(initial_swarm()[0])]


def test_calls_stop_after_the_first_failure(thread_pool):
    calls = []
    lock = threading.Lock()

    def failing(x):
        with lock:
            calls.append(x)
        raise ObjectiveFailed("once")

    with pytest.raises(ObjectiveFailed):
        pso.minimize(batched(failing, thread_pool), **RUN)
    # Only the initial swarm was evaluated: the module answers later swarms itself.
    assert len(calls) <= 8


def test_non_numeric_value_fails_clearly():
    with pytest.raises(TypeError, match="NoneType"):
        pso.minimize(batched(returns_none), **RUN)


def test_accepts_a_list_of_rows():
    assert batched(rastrigin)([[0.0, 0.0], [1.0, 0.0]]) == [0.0, 1.0]


def test_rows_reach_the_objective_as_lists_of_floats():
    seen = []

    def objective(x):
        seen.append(x)
        return 0.0

    batched(objective)(np.array([[1.0, 2.0]]))
    assert seen == [[1.0, 2.0]] and type(seen[0]) is list and type(seen[0][0]) is float


def test_dask_client_is_turned_into_its_executor(dask_client):
    objective = batched(rastrigin, dask_client)
    assert isinstance(objective, BatchedObjective)
    assert objective.executor is not dask_client and hasattr(objective.executor, "map")


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        (dict(objective=3), TypeError, "objective must be callable"),
        (dict(chunksize=0), ValueError, "chunksize must be an integer >= 1"),
        (dict(chunksize=1.5), ValueError, "chunksize must be an integer >= 1"),
        (dict(chunksize=True), ValueError, "chunksize must be an integer >= 1"),
        (dict(executor=object()), TypeError, "executor must be a concurrent.futures.Executor"),
    ],
)
def test_bad_arguments(kwargs, error, message):
    options = dict(objective=rastrigin)
    options.update(kwargs)
    with pytest.raises(error, match=message):
        batched(**options)


# Short runs whose results differ from seed to seed, so that picking the best one matters.
MULTI = dict(dim=6, n_particles=10, max_iter=20)


def one_by_one(seeds, objective="rastrigin", bounds=(-5.12, 5.12), **options):
    return [pso.minimize(objective, bounds, seed=seed, **dict(MULTI, **options)) for seed in seeds]


@pytest.mark.parametrize("kind", [None, "thread_pool", "process_pool"])
def test_multistart_is_the_best_of_the_same_runs_made_one_by_one(request, kind):
    executor = None if kind is None else request.getfixturevalue(kind)
    best, results = multistart("rastrigin", (-5.12, 5.12), seeds=6, executor=executor, **MULTI)
    alone = one_by_one(range(6))
    assert len(results) == 6
    for result, expected in zip(results, alone):
        assert_same_result(result, expected)
    values = [r.best_value for r in alone]
    assert len(set(values)) > 1  # otherwise the choice below tests nothing
    assert_same_result(best, alone[values.index(min(values))])
    assert best is results[values.index(min(values))]


def test_multistart_takes_explicit_seeds_and_passes_options_through(thread_pool):
    outcome = multistart(rastrigin, (-2, 2), seeds=[9, 4], executor=thread_pool,
                         velocity="fips", topology="ring", **MULTI)
    assert isinstance(outcome, MultistartResult) and outcome.best in outcome.results
    alone = one_by_one([9, 4], rastrigin, (-2, 2), velocity="fips", topology="ring")
    for result, expected in zip(outcome.results, alone):
        assert_same_result(result, expected)


def test_multistart_breaks_ties_by_the_first_seed():
    best, results = multistart(lambda x: 1.0, (-1, 1), seeds=[5, 2, 7], **MULTI)
    assert [r.best_value for r in results] == [1.0, 1.0, 1.0]
    assert best is results[0]


def test_multistart_never_picks_a_nan_run():
    evaluations_per_run = MULTI["n_particles"] * (MULTI["max_iter"] + 1)
    calls = []

    def nan_in_the_first_run(x):  # runs are made in seed order without an executor
        calls.append(1)
        return math.nan if len(calls) <= evaluations_per_run else sum(v * v for v in x)

    best, results = multistart(nan_in_the_first_run, (-1, 1), seeds=2, **MULTI)
    assert math.isnan(results[0].best_value) and not math.isnan(results[1].best_value)
    assert best is results[1]


def test_multistart_raises_the_first_error_in_seed_order(thread_pool):
    with pytest.raises(ObjectiveFailed):
        multistart(fails_on_positive_first, (-1, 1), seeds=3, executor=thread_pool, **MULTI)


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        (dict(seeds=0), ValueError, "seeds must be >= 1, got 0"),
        (dict(seeds=[]), ValueError, "seeds is empty"),
        (dict(seeds=True), TypeError, "seeds must be a number of runs or a sequence of seeds"),
        (dict(seeds=1.5), TypeError, "seeds must be a number of runs or a sequence of seeds"),
        (dict(seeds="12"), TypeError, "seeds must be a number of runs or a sequence of seeds"),
        (dict(seed=1), TypeError, "multistart takes seeds=, not seed="),
        (dict(executor=object()), TypeError, "executor must be a concurrent.futures.Executor"),
    ],
)
def test_multistart_bad_arguments(kwargs, error, message):
    with pytest.raises(error, match=message):
        multistart("sphere", (-1, 1), dim=2, **kwargs)


SWARM = dict(bounds=(-5.12, 5.12), dim=3, seed=11, n_particles=8, max_iter=6)


def new_swarm():
    return pso.Swarm(**SWARM)


@pytest.fixture(scope="module")
def dask_in_process():
    distributed = pytest.importorskip("distributed")
    # dashboard_address=None still serves a dashboard, on port 8787 whether or not another
    # cluster holds it; ":0" takes a free port.
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=False,
                                  dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        yield client


@pytest.mark.parametrize("kind", [None, "thread_pool", "process_pool", "dask_in_process"])
@pytest.mark.parametrize("chunksize, stop_after", [(1, None), (3, None), (3, 2), (1, 5)])
def test_drive_is_the_serial_vectorized_run(request, kind, chunksize, stop_after):
    executor = None if kind is None else request.getfixturevalue(kind)
    seen, expected_seen = [], []

    def watch(into):
        # stop_after 5 is the last iteration, where max_iter ends the run too.
        return lambda i, best: into.append((i, best)) or i != stop_after

    expected = pso.minimize(batched(rastrigin), **RUN, callback=watch(expected_seen))
    result = drive(new_swarm(), rastrigin, executor, chunksize=chunksize, callback=watch(seen))
    assert_same_result(result, expected)
    assert seen == expected_seen and len(seen) == (6 if stop_after is None else stop_after + 1)
    assert result.stop_reason == ("max_iterations" if stop_after is None else "callback")


@pytest.mark.parametrize("rounds", [1, 3, 7, 20])
def test_a_run_resumed_from_its_checkpoint_ends_as_the_uninterrupted_one(
        tmp_path, thread_pool, rounds):
    path = tmp_path / "run.ckpt"
    partial = drive(new_swarm(), rastrigin, thread_pool, checkpoint=path, rounds=rounds)
    assert os.listdir(tmp_path) == ["run.ckpt"]  # no temporary file left behind
    assert partial.stop_reason == ("running" if rounds < 7 else "max_iterations")
    resumed = load_checkpoint(path)
    assert resumed.evaluations == 8 * min(rounds, 7)
    assert_same_result(drive(resumed, rastrigin, thread_pool, checkpoint=str(path)),
                       pso.minimize(batched(rastrigin), **RUN))


@pytest.mark.parametrize("failing, error, taken", [("objective", ObjectiveFailed, 16),
                                                    ("write", OSError, 24)])
def test_a_failed_round_leaves_the_previous_checkpoint_and_a_swarm_that_can_go_on(
        tmp_path, monkeypatch, failing, error, taken):
    path = tmp_path / "run.ckpt"
    swarm = new_swarm()
    # Fails in the third round (8 particles a round), so the checkpoint holds the second;
    # a failed write comes after the swarm has taken its round.
    objective = rastrigin
    if failing == "objective":
        objective = FailOn(20, ObjectiveFailed("third round"), rastrigin)
    else:
        replace = os.replace
        writes = FailOn(3, OSError("disk full"), lambda pair: replace(*pair))
        monkeypatch.setattr(os, "replace", lambda *pair: writes(pair))
    with pytest.raises(error, match="third round|disk full"):
        drive(swarm, objective, checkpoint=path)
    monkeypatch.undo()
    assert os.listdir(tmp_path) == ["run.ckpt"]
    loaded = load_checkpoint(path)
    assert (loaded.iteration, loaded.evaluations, swarm.evaluations) == (1, 16, taken)
    expected = pso.minimize(batched(rastrigin), **RUN)
    for run in (swarm, loaded):
        assert_same_result(drive(run, rastrigin), expected)


DAY = 86400


@pytest.mark.parametrize("trigger", ["write", "load"])
@pytest.mark.parametrize(
    "name, age, removed",  # age in seconds; a day ago is before this run began
    [
        (".run.ckpt.k2x_9q0a.tmp", DAY, True),  # left by a writer killed before we started
        (".run.ckpt.k2x_9q0a.tmp", 0, False),  # a live writer's
        (".run.ckpt.k2x_9q0a.tmp", -DAY, False),  # a clock ahead of ours
        (".other.ckpt.k2x_9q0a.tmp", DAY, False),  # another checkpoint's
        (".run.ckpt.my-notes.tmp", DAY, False),  # not a name mkstemp makes
        ("run.ckpt.k2x_9q0a.tmp", DAY, False),
        (".run.ckpt.k2x_9q0a.tmp.old", DAY, False),
    ],
)
def test_stale_temporary_files_of_the_checkpoint_are_removed(tmp_path, trigger, name, age, removed):
    path = tmp_path / "run.ckpt"
    drive(new_swarm(), rastrigin, checkpoint=path, rounds=1)
    temporary = tmp_path / name
    temporary.write_bytes(b"half a swarm")
    then = time.time() - age
    os.utime(temporary, (then, then))
    if trigger == "write":
        drive(new_swarm(), rastrigin, checkpoint=path, rounds=1)
    else:
        assert load_checkpoint(path).evaluations == 8
    assert sorted(os.listdir(tmp_path)) == sorted(["run.ckpt"] + ([] if removed else [name]))


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        (dict(swarm=object()), TypeError, "swarm must be a kestrelopt.Swarm or MultiSwarm, got object"),
        # A MultiSwarm is driven too, and takes a vector per particle.
        (dict(swarm=pso.MultiSwarm([(0, 1)], seed=1)), TypeError,
         "a float for particle 0, not a sequence of objective values"),
        (dict(constraints="yes"), ValueError, 'constraints must be None or "returned", got \'yes\''),
        (dict(constraints="returned"), TypeError,
         'a float for particle 0, not \\(value, constraints\\) or \\(value, constraints, equality_constraints\\)'),
        (dict(objective=lambda x: (1.0, [0.0])), TypeError,
         'a tuple for particle 0, not a number \\(pass constraints="returned"'),
        (dict(objective=3), TypeError, "objective must be callable"),
        (dict(executor=object()), TypeError, "executor must be a concurrent.futures.Executor"),
        (dict(chunksize=0), ValueError, "chunksize must be an integer >= 1"),
        (dict(rounds=0), ValueError, "rounds must be an integer >= 1 or None"),
        (dict(rounds=True), ValueError, "rounds must be an integer >= 1 or None"),
        (dict(checkpoint=3), TypeError, "checkpoint must be a file path or None"),
        (dict(checkpoint="missing-dir/run.ckpt"), FileNotFoundError, "missing-dir"),
        (dict(callback=3), TypeError, "callback must be callable or None"),
        (dict(objective=returns_none), TypeError, "a NoneType for particle 0, not a number"),
        (dict(objective=lambda x: [1.0]), TypeError, "a list for particle 0, not a number"),
        (dict(objective=lambda x: "1.5"), TypeError, "a str for particle 0, not a number"),
    ],
)
def test_drive_bad_arguments(tmp_path, monkeypatch, kwargs, error, message):
    monkeypatch.chdir(tmp_path)
    options = dict(swarm=new_swarm(), objective=rastrigin)
    options.update(kwargs)
    with pytest.raises(error, match=message):
        drive(**options)
    assert os.listdir(tmp_path) == []


def test_load_checkpoint_rejects_another_pickle(tmp_path):
    path = tmp_path / "other.ckpt"
    path.write_bytes(pickle.dumps(pso.minimize("sphere", (-1, 1), dim=2, max_iter=2)))
    with pytest.raises(TypeError, match="holds a PsoResult, not a kestrelopt.Swarm"):
        load_checkpoint(path)


MULTI_SWARM = dict(bounds=(-2.0, 3.0), dim=3, seed=4, n_particles=9, max_iter=5, archive_size=6)


def pool_of(kind, workers):
    if kind == "process_pool":
        return ProcessPoolExecutor(workers, mp_context=multiprocessing.get_context("spawn"))
    return ThreadPoolExecutor(workers)


def same_front(a, b):
    for name in ("positions", "objectives", "violations", "swarm_history", "front_history",
                 "evaluations", "stop_reason"):
        assert getattr(a, name) == getattr(b, name), name


@pytest.mark.parametrize("kind", ["thread_pool", "process_pool"])
@pytest.mark.parametrize("workers", [1, 3])
def test_constrained_and_multi_objective_drives_give_the_same_bits_on_any_pool(kind, workers):
    with pool_of(kind, workers) as pool:
        constrained = drive(pso.Swarm(**SWARM, penalty=40.0), simulate, pool, chunksize=2,
                            constraints="returned")
        multi = drive(pso.MultiSwarm(**MULTI_SWARM), simulate_two, pool, constraints="returned")
        plain_multi = drive(pso.MultiSwarm(**MULTI_SWARM), two_objectives, pool, chunksize=4)
    # the serial vectorized runs with the same options
    assert_same_result(constrained, pso.minimize(batched(simulate), **RUN, penalty=40.0,
                                                 constraints="returned"))
    multi_run = dict(MULTI_SWARM, vectorized=True)
    same_front(multi, pso.minimize_multi(batched(simulate_two), constraints="returned", **multi_run))
    same_front(plain_multi, pso.minimize_multi(batched(two_objectives), **multi_run))
    assert max(multi.violations) == 0.0 and multi.objectives != plain_multi.objectives


@pytest.mark.parametrize("make, objective, iterations", [
    (lambda: pso.Swarm(**SWARM, penalty=40.0), simulate, SWARM["max_iter"]),
    (lambda: pso.MultiSwarm(**MULTI_SWARM), simulate_two, MULTI_SWARM["max_iter"]),
])
def test_a_constrained_run_resumed_from_its_checkpoint_ends_as_the_uninterrupted_one(
        tmp_path, thread_pool, make, objective, iterations):
    path = tmp_path / "run.ckpt"
    seen, expected_seen = [], []
    partial = drive(make(), objective, thread_pool, checkpoint=path, rounds=3, constraints="returned",
                    callback=lambda *args: seen.append(args))
    assert partial.stop_reason == "running" and len(seen) == 2
    resumed = drive(load_checkpoint(path), objective, checkpoint=path, constraints="returned",
                    callback=lambda *args: seen.append(args))
    whole = drive(make(), objective, constraints="returned", callback=lambda *args: expected_seen.append(args))
    if isinstance(resumed, pso.ParetoFront):
        same_front(resumed, whole)
        assert [size for _, size in seen] == [len(f) for f in whole.front_history[1:]] + [len(whole.objectives)]
    else:
        assert_same_result(resumed, whole)
    assert seen == expected_seen and [i for i, _ in seen] == list(range(iterations))


def test_batched_gathers_returned_constraint_values_in_row_order():
    def f(x):
        return (x[0], [x[1]]) if x[0] < 2 else (x[0], [x[1]], (x[0] * 2,))

    assert batched(f)([[0.0, 1.0], [1.0, 3.0], [2.0, 5.0]]) == \
        ([0.0, 1.0, 2.0], [[1.0], [3.0], [5.0]], [[], [], (4.0,)])
    # rows of vectors: a tuple of numbers is a vector, not a value with its constraints
    assert batched(lambda x: (x[0], x[1]))([[1.0, 2.0]]) == [[1.0, 2.0]]
    with pytest.raises(TypeError, match="objective returned a plain value for row 1 but \\(value, constraints\\) for row 0"):
        batched(lambda x: (1.0, [0.0]) if x[0] == 0 else 1.0)([[0.0], [1.0]])


def test_a_multi_swarm_drive_stops_when_the_callback_says_so_as_minimize_multi_does():
    stop = lambda i, size: i < 1  # noqa: E731
    front = drive(pso.MultiSwarm(**MULTI_SWARM), two_objectives, callback=stop)
    same_front(front, pso.minimize_multi(batched(two_objectives), vectorized=True, callback=stop, **MULTI_SWARM))
    assert front.stop_reason == "callback" and front.evaluations == 27
