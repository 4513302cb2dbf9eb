"""kestrelopt.parallel.drive of an AsyncSwarm: one in flight is minimize on every kind of
executor; failed evaluations raise or are told a value; checkpoints hold the evaluations
in flight and a loaded one sends them again; the options are checked."""

import math
import os
import threading
from concurrent.futures import ThreadPoolExecutor

import pytest

import kestrelopt as pso
from conftest import FailOn, assert_same_result
from kestrelopt import parallel
from kestrelopt.parallel import DriveResult, drive, load_checkpoint

RUN = dict(bounds=(-5.12, 5.12), dim=3, seed=11, n_particles=6, max_iter=8)
BUDGET = 6 * 9


def rastrigin(x):
    return 10.0 * len(x) + sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) for v in x)


class ObjectiveFailed(Exception):
    """Raised by the failing objectives here; a type of our own, so nothing else raises it."""


def fails_on_positive_first(x):
    if x[0] > 0:
        raise ObjectiveFailed(f"x[0] = {x[0]!r} is positive")
    return rastrigin(x)


def new_swarm(**options):
    return pso.AsyncSwarm(**dict(RUN, **options))


@pytest.fixture(scope="module")
def thread_pool():
    with ThreadPoolExecutor(3) as pool:
        yield pool


@pytest.fixture(scope="module")
def dask_client():
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=False, dashboard_address=None
    ) as cluster, distributed.Client(cluster) as client:
        yield client


def executor_of(request, kind):
    if kind is None:
        return None
    if kind == "dask_executor":
        return request.getfixturevalue("dask_client").get_executor()
    return request.getfixturevalue(kind)


@pytest.mark.parametrize("kind", [None, "thread_pool", "dask_client", "dask_executor"])
def test_one_in_flight_is_minimize_on_every_executor(request, kind):
    executor = executor_of(request, kind)
    width = None if kind is None else 1  # one by default without an executor
    result = drive(new_swarm(), rastrigin, executor, max_in_flight=width)
    assert isinstance(result, DriveResult) and result.failed == 0
    assert_same_result(result, pso.minimize(rastrigin, **RUN))
    # More in flight: another run, of the same budget, every value told.
    wide = drive(new_swarm(), rastrigin, executor, max_in_flight=4)
    assert wide.evaluations == BUDGET and wide.stop_reason == "max_iterations"


def test_a_number_is_told_for_each_failed_evaluation(thread_pool):
    result = drive(new_swarm(), fails_on_positive_first, on_error=math.inf)
    positive = []

    def told_inf_when_positive(x):
        positive.append(x[0] > 0)
        return math.inf if x[0] > 0 else rastrigin(x)

    told_inf = pso.minimize(told_inf_when_positive, **RUN)
    assert_same_result(result.result, told_inf)
    assert result.failed == sum(positive) > 0
    seen = []
    lock = threading.Lock()

    def recording(x):
        with lock:
            seen.append(x[0] > 0)
        return fails_on_positive_first(x)

    wide = drive(new_swarm(), recording, thread_pool, on_error=1e300)
    assert wide.failed == sum(seen) and wide.evaluations == len(seen) == BUDGET


@pytest.mark.parametrize("kind", ["thread_pool", "dask_client"])
def test_failures_on_every_executor_under_both_settings(request, kind):
    executor = executor_of(request, kind)
    told = drive(new_swarm(), fails_on_positive_first, executor, on_error=1e300)
    assert told.failed > 0 and told.evaluations == BUDGET
    assert told.best_value < 1e300 and told.best_position[0] <= 0
    swarm = new_swarm()
    with pytest.raises(ObjectiveFailed, match="is positive"):
        drive(swarm, fails_on_positive_first, executor)
    assert swarm.pending and swarm.stop_reason is None
    assert drive(swarm, rastrigin, executor).evaluations == BUDGET  # the failed ones sent again


def test_a_failure_raises_and_the_swarm_or_its_checkpoint_goes_on(tmp_path, thread_pool):
    path = tmp_path / "run.ckpt"
    swarm = new_swarm()
    failing = FailOn(20, ObjectiveFailed("the 20th evaluation"), rastrigin)
    with pytest.raises(ObjectiveFailed, match="20th"):
        drive(swarm, failing, thread_pool, max_in_flight=3, checkpoint=path)
    assert os.listdir(tmp_path) == ["run.ckpt"]
    loaded = load_checkpoint(path)
    assert swarm.pending and loaded.pending and swarm.stop_reason is None
    assert swarm.evaluations + len(swarm.pending) == swarm.asked
    for run in (swarm, loaded):
        result = drive(run, rastrigin, thread_pool)  # sends the evaluations in flight again
        assert result.evaluations == BUDGET and result.stop_reason == "max_iterations"
        assert run.pending == ()
    # With one in flight and no executor, a failure and a resumption are the unbroken run.
    swarm = new_swarm()
    with pytest.raises(ObjectiveFailed):
        drive(swarm, FailOn(30, ObjectiveFailed("30th"), rastrigin))
    assert len(swarm.pending) == 1
    assert_same_result(drive(swarm, rastrigin), pso.minimize(rastrigin, **RUN))


def test_checkpoint_every_bounds_the_writes_and_the_callback_can_stop(tmp_path, monkeypatch):
    writes = []
    write = parallel._write_checkpoint
    monkeypatch.setattr(
        parallel, "_write_checkpoint", lambda s, p: (writes.append(s.evaluations), write(s, p))
    )
    path = tmp_path / "run.ckpt"
    drive(new_swarm(), rastrigin, checkpoint=path)
    assert writes == list(range(1, BUDGET + 1)) + [BUDGET]  # every tell, and the end
    writes.clear()
    drive(new_swarm(), rastrigin, checkpoint=path, checkpoint_every=3600)
    assert writes == [BUDGET]  # an hour never passed: only the end
    seen = []
    result = drive(new_swarm(), rastrigin, callback=lambda i, best: seen.append((i, best)) or i < 3)
    expected = pso.minimize(rastrigin, **RUN, callback=lambda i, best: i < 3)
    assert_same_result(result, expected)
    assert [i for i, _ in seen] == [0, 1, 2, 3] and [b for _, b in seen] == expected.convergence


def returning_constraints(x):
    return rastrigin(x), [x[0] - 1.0, -x[1]], [x[2] - 0.5]


def test_constraint_values_returned_are_told_as_minimize_weighs_them():
    result = drive(new_swarm(), returning_constraints, constraints="returned")
    expected = pso.minimize(returning_constraints, **RUN, constraints="returned")
    assert_same_result(result, expected)


def zdt1(x):
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return [x[0], g * (1.0 - math.sqrt(max(x[0], 0.0) / g))]


def zdt1_failing_near_zero(x):
    if x[0] < 0.05:
        raise ObjectiveFailed("diverged")
    return zdt1(x)


def test_an_async_multi_swarm_is_driven_too(thread_pool):
    options = dict(bounds=(0, 1), dim=3, seed=4, n_particles=6, max_iter=7, archive_size=5)
    result = drive(pso.AsyncMultiSwarm(**options), zdt1)
    expected = pso.minimize_multi(zdt1, **options)
    for name in ("positions", "objectives", "front_history", "evaluations", "stop_reason"):
        assert getattr(result, name) == getattr(expected, name), name
    wide = drive(pso.AsyncMultiSwarm(**options), zdt1_failing_near_zero, thread_pool,
                 on_error=10.0)
    assert wide.evaluations == 6 * 8 and wide.failed > 0
    assert all(f[0] >= 0.05 for f in wide.objectives)  # the failures' [10, 10] never lead


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        (dict(max_in_flight=0), ValueError, "max_in_flight must be an integer >= 1 or None, got 0"),
        (dict(max_in_flight=2.0), ValueError, "max_in_flight must be an integer"),
        (dict(on_error="ignore"), ValueError, 'on_error must be "raise" or a number'),
        (dict(on_error=True), ValueError, 'on_error must be "raise" or a number'),
        (dict(checkpoint_every=-1.0, checkpoint="c"), ValueError, "checkpoint_every must be a finite"),
        (dict(checkpoint_every=5), ValueError, "checkpoint_every needs a checkpoint path"),
        (dict(chunksize=2), TypeError, "an AsyncSwarm has none"),
        (dict(rounds=1), TypeError, "an AsyncSwarm has none"),
        (dict(objective=lambda x: None), TypeError, "a NoneType for ticket 0, not a number"),
        (dict(swarm=pso.Swarm((0, 1), dim=2), max_in_flight=2), TypeError, "drive an AsyncSwarm"),
    ],
)
def test_drive_bad_arguments(tmp_path, monkeypatch, kwargs, error, message):
    monkeypatch.chdir(tmp_path)
    options = dict(swarm=new_swarm(), objective=rastrigin)
    options.update(kwargs)
    with pytest.raises(error, match=message):
        drive(**options)
    assert os.listdir(tmp_path) == []
