"""Runs that answer: the first failure ends a run at once, Ctrl-C reaches the caller within a
fraction of a second in every kind of run, native work lets other threads run, and the
module's functions and PanicException pickle by reference.

The time bounds here only catch hangs: each is several times the latency a run shows."""

import importlib.util
import math
import pathlib
import pickle
import threading
import time
from concurrent.futures import ProcessPoolExecutor

import pytest

import kestrelopt as pso
from conftest import FailOn, assert_same_result, panic_type

def bench_module(name):
    """A script of bench/ (beside tests/), loaded as a module."""
    path = pathlib.Path(__file__).resolve().parents[2] / "bench" / f"{name}.py"
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


# The kinds of long run whose Ctrl-C latency the benchmark measures.
INTERRUPTS = bench_module("bench_interrupts")


@pytest.mark.parametrize("kind", list(INTERRUPTS.LONG_RUNS))
def test_ctrl_c_reaches_the_caller_at_once(kind):
    latency, line, stderr = INTERRUPTS.interrupt_run(INTERRUPTS.LONG_RUNS[kind])
    assert line.startswith("interrupted"), (line, stderr)
    assert latency < 0.5, latency  # measured: under 10 ms
    assert stderr == ""  # the handler's exception is raised as it is, nothing printed
    partial = {"hypervolume": "NoneType None", "minimize_multi": "ParetoFront interrupted",
               "minimize_grey": "GreyResult interrupted"}.get(kind.split(",")[0],
                                                              "PsoResult interrupted")
    assert line.split(maxsplit=1)[1].strip() == partial


def raising():
    error = ValueError("no such design")
    calls = []

    def objective(*args):
        calls.append(1)
        raise error

    return objective, error, calls


@pytest.mark.parametrize("mode", ["minimize, sequential", "minimize, vectorized", "minimize_multi",
                                  "minimize_grey"])
def test_a_failing_objective_ends_the_run_at_once(mode):
    objective, error, calls = raising()
    run = INTERRUPTS.error_runs(objective)[mode]
    start = time.monotonic()
    with pytest.raises(ValueError) as info:
        run()
    assert time.monotonic() - start < 0.5  # measured: under 10 ms (it was seconds)
    assert info.value is error and info.traceback[-1].name == "objective"
    assert len(calls) == 1


def test_a_failing_callback_ends_the_run_in_its_iteration():
    objective = FailOn(0)
    callback = FailOn(3)
    with pytest.raises(RuntimeError):
        pso.minimize(objective, (-1, 1), dim=2, n_particles=4, max_iter=1000,
                     callback=lambda i, best: callback(i))
    assert (objective.calls, callback.calls) == (4 + 3 * 4, 3)


@pytest.mark.parametrize("where", ["objective", "callback"])
def test_an_interrupt_carries_the_result_so_far(where):
    """Stopped at the start of iteration 5 (or by the callback after iteration 4), the partial
    result is the result of a 5-iteration run, with stop reason "interrupted"."""
    stop_at = 6 * 10 + 1 if where == "objective" else 5

    def interrupt_on(n, value):
        calls = []

        def f(*args):
            calls.append(1)
            if len(calls) == n:
                raise KeyboardInterrupt
            return value(*args)

        return f

    sphere = lambda x: sum(v * v for v in x)  # noqa: E731
    if where == "objective":
        kwargs = dict(objective=interrupt_on(stop_at, sphere))
    else:
        kwargs = dict(objective=sphere, callback=interrupt_on(stop_at, lambda i, best: None))
    with pytest.raises(KeyboardInterrupt) as info:
        pso.minimize(bounds=(-3, 3), dim=4, n_particles=10, max_iter=100, seed=8, **kwargs)
    partial = info.value.partial_result
    shorter = pso.minimize(sphere, (-3, 3), dim=4, n_particles=10, max_iter=5, seed=8)
    assert partial.stop_reason == "interrupted"
    assert (partial.best_position, partial.best_value, partial.convergence, partial.evaluations) == (
        shorter.best_position, shorter.best_value, shorter.convergence, shorter.evaluations)
    assert len(partial.history) == (6 if where == "objective" else 5)


def test_other_threads_run_during_a_native_run():
    ticks = []
    done = threading.Event()

    def heartbeat():
        while not done.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.005)

    beat = threading.Thread(target=heartbeat)
    beat.start()
    try:
        start = time.monotonic()
        pso.minimize("rastrigin", (-5.12, 5.12), dim=200, n_particles=50, max_iter=3000,
                     record_history=False, seed=1)
        pso.minimize_grey("grey_sphere", (-5, 5), dim=200, n_particles=50, max_iter=3000, seed=1)
        elapsed = time.monotonic() - start
    finally:
        done.set()
        beat.join()
    during = [t for t in ticks if start <= t <= start + elapsed]
    # With the lock held throughout, the heartbeat could tick at most once, as the run
    # began. Counting ticks, not their share of the wall-clock time, holds on a busy machine
    # too, where the heartbeat thread waits for a core far longer than its 5 ms.
    assert len(during) >= 5, (len(during), elapsed)


def test_native_runs_in_threads_match_runs_made_alone():
    def run(seed):
        return pso.minimize("ackley", (-5, 5), dim=30, max_iter=200, seed=seed)

    alone = [run(seed) for seed in range(4)]
    results = [None] * 4
    threads = [threading.Thread(target=lambda s=s: results.__setitem__(s, run(s))) for s in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for a, b in zip(alone, results):
        assert_same_result(a, b)


# The result classes say their module is "builtins", so only instances pickle (by value).
@pytest.mark.parametrize("name", ["minimize", "minimize_multi", "minimize_grey", "hypervolume",
                                  "benchmark_info", "grey_benchmark_info", "PanicException"])
def test_module_objects_pickle_by_reference(name):
    obj = getattr(pso, name)
    assert pickle.loads(pickle.dumps(obj)) is obj


def test_worker_processes_run_and_fail_like_the_parent():
    with ProcessPoolExecutor(max_workers=1) as pool:
        remote = pool.submit(pso.minimize, "sphere", (-5, 5), dim=3, seed=1).result(timeout=120)
        failed = pool.submit(pso.minimize, "sphere", [(1.0, 0.0)])
        with pytest.raises(panic_type()) as info:
            failed.result(timeout=120)
    assert_same_result(remote, pso.minimize("sphere", (-5, 5), dim=3, seed=1))
    assert str(info.value) == "invalid bound in dimension 0: 1 > 0"


def test_old_import_path_still_names_the_extension():
    import importlib

    assert importlib.import_module("kestrelopt.kestrelopt_native") is pso.kestrelopt_native
    assert pso.kestrelopt_native.__name__ == "kestrelopt_native"
    assert math.isclose(pso.hypervolume([[0, 1], [1, 0]], [2, 2]), 3.0)
