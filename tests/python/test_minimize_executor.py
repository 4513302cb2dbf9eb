"""minimize(..., executor=...) and minimize_multi(..., executor=...): with one evaluation in
flight the run is minimize's own, bit for bit, across rules, topologies and spaces; a
number told for failures is counted; options the asynchronous run cannot honour are
refused before anything runs."""

import math
import threading
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor

import pytest

import kestrelopt as pso
from conftest import assert_same_result
from kestrelopt.parallel import DriveResult

RUN = dict(bounds=(-5.12, 5.12), dim=3, seed=11, n_particles=6, max_iter=8)


def rastrigin(x):
    return 10.0 * len(x) + sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) for v in x)


def with_limits(x):
    return rastrigin(x), [x[0] - 1.0, -x[1]], [x[2] - 0.5]


def typed(x):
    # What minimize hands the objective shows in the value: ints, floats or an array.
    kind = {int: 1.0, float: 2.0}.get(type(x[0]), 3.0) if isinstance(x, list) else 4.0
    return rastrigin(list(x)) + kind


def zdt1(x):
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return [x[0], g * (1.0 - math.sqrt(max(x[0], 0.0) / g))]


@pytest.fixture(scope="module")
def thread_pool():
    with ThreadPoolExecutor(3) as pool:
        yield pool


@pytest.mark.parametrize(
    "objective, options",
    [
        (rastrigin, {}),
        (rastrigin, dict(velocity="fips", topology="ring", ring_neighbors=2)),
        (rastrigin, dict(velocity="spso2011", topology="adaptive_random", bounds_handling="reflect")),
        (rastrigin, dict(velocity="constriction", topology="vonneumann", v_max_fraction=0.2)),
        (rastrigin, dict(w=0.9, w_end=0.4, max_iter=None, max_evals=40, record_history=False)),
        (rastrigin, dict(patience=2, tol=1e-3, target=5.0, preset="exploit")),
        (typed, dict(integer=True, bounds_handling="wrap")),
        (typed, dict(binary=True, bounds=(0, 1))),
        (typed, dict(var_types=["real", "integer", "binary"], bounds=[(-3, 3), (-4, 4), (0, 1)])),
        (typed, dict(array_input=True, integer=True)),
        (with_limits, dict(constraints="returned", penalty=1e3)),
    ],
)
def test_one_in_flight_is_minimize_bit_for_bit(thread_pool, objective, options):
    options = dict(RUN, **options)
    calls = {"serial": [], "pool": []}
    serial = pso.minimize(objective, callback=lambda *a: calls["serial"].append(a), **options)
    result = pso.minimize(objective, executor=thread_pool, max_in_flight=1,
                          callback=lambda *a: calls["pool"].append(a), **options)
    assert isinstance(result, DriveResult) and result.failed == 0
    assert_same_result(result, serial)
    assert calls["pool"] == calls["serial"] and calls["serial"]
    assert_same_result(pso.minimize(objective, executor=None, **options), serial)


def zdt1_with_limit(x):
    return zdt1(x), [0.3 - x[0]]


def test_minimize_multi_one_in_flight_and_wide(thread_pool):
    options = dict(bounds=(0, 1), dim=3, seed=4, n_particles=6, max_iter=7, archive_size=5)
    for objective, extra in ((zdt1, {}), (zdt1, dict(variant="smpso", archive="hypervolume")),
                             (zdt1_with_limit, dict(constraints="returned", integer=True))):
        expected = pso.minimize_multi(objective, **options, **extra)
        result = pso.minimize_multi(objective, **options, **extra, executor=thread_pool,
                                    max_in_flight=1)
        for name in ("positions", "objectives", "violations", "front_history", "evaluations",
                     "stop_reason"):
            assert getattr(result, name) == getattr(expected, name), name
    wide = pso.minimize_multi(zdt1, **options, executor=thread_pool)
    assert wide.evaluations == 6 * 8 and wide.failed == 0


def test_a_dask_client_and_a_process_pool_run_it_too():
    # The objective crosses to the workers wrapped (ints for an integer space): it pickles.
    options = dict(RUN, integer=True)
    expected = pso.minimize(typed, **options)
    with ProcessPoolExecutor(1) as pool:
        assert_same_result(pso.minimize(typed, **options, executor=pool), expected)
    distributed = pytest.importorskip("distributed")
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        assert_same_result(pso.minimize(typed, **options, executor=client), expected)


class Diverges(Exception):
    pass


def fails_on_positive_first(x):
    if x[0] > 0:
        raise Diverges(f"x[0] = {x[0]!r}")
    return rastrigin(x)


def test_on_error_tells_a_number_and_counts_the_failures(thread_pool):
    positive = []

    def told_inf_when_positive(x):
        positive.append(x[0] > 0)
        return math.inf if x[0] > 0 else rastrigin(x)

    expected = pso.minimize(told_inf_when_positive, **RUN)
    result = pso.minimize(fails_on_positive_first, **RUN, executor=thread_pool, max_in_flight=1,
                          on_error=math.inf)
    assert_same_result(result, expected)
    assert result.failed == sum(positive) > 0
    seen = []
    lock = threading.Lock()

    def recording(x):
        with lock:
            seen.append(x[0] > 0)
        return fails_on_positive_first(x)

    wide = pso.minimize(recording, **RUN, executor=thread_pool, on_error=1e300)
    assert wide.failed == sum(seen) > 0 and wide.evaluations == len(seen) == 6 * 9
    with pytest.raises(Diverges):
        pso.minimize(fails_on_positive_first, **RUN, executor=thread_pool)


def never_called(x):
    raise AssertionError("a refused call evaluated the objective")


@pytest.mark.parametrize(
    "function, kwargs, error, message",
    [
        ("minimize", dict(max_in_flight=2, executor=None), ValueError,
         r"max_in_flight and on_error need an executor, got max_in_flight=2"),
        ("minimize", dict(on_error=0.0, executor=None), ValueError, r"on_error=0\.0 with executor=None"),
        ("minimize_multi", dict(max_in_flight=1, executor=None), ValueError, "need an executor"),
        ("minimize", dict(executor=4), TypeError, "executor must be a concurrent.futures.Executor"),
        ("minimize", dict(objective="sphere"), ValueError, "Python callable objective, got the native"),
        ("minimize", dict(objective=3), TypeError, "objective must be callable, got int"),
        ("minimize", dict(vectorized=True), ValueError, "vectorized=True does not go with executor"),
        ("minimize_multi", dict(vectorized=True), ValueError, "vectorized=True does not go with"),
        ("minimize", dict(constraints=[abs]), ValueError,
         r'constraints with executor must be None or "returned".*got a list of callables'),
        ("minimize", dict(constraints=abs), ValueError, r'"returned".*got builtin_function_or_method$'),
        ("minimize", dict(equality_constraints=[abs]), ValueError, "equality_constraints does not go"),
        ("minimize", dict(repair=abs), ValueError, "repair does not go with executor"),
        ("minimize", dict(restarts=2, patience=3), ValueError, "got restarts=2"),
        ("minimize", dict(max_in_flight=0), ValueError, "max_in_flight must be an integer >= 1"),
        ("minimize", dict(on_error="ignore"), ValueError, 'on_error must be "raise" or a number'),
        ("minimize", dict(chunksize=2), TypeError, "unexpected keyword argument 'chunksize'"),
        ("minimize", dict(topology="star"), ValueError, "topology"),
    ],
)
def test_misuse_is_refused(thread_pool, function, kwargs, error, message):
    call = dict(objective=never_called, bounds=(0, 1), dim=2, executor=thread_pool)
    call.update(kwargs)
    with pytest.raises(error, match=message):
        getattr(pso, function)(**call)


def test_the_options_are_keyword_only():
    with pytest.raises(TypeError, match="takes from 2 to 38 positional arguments but 39 were given"):
        pso.minimize(rastrigin, (0, 1), *([None] * 37))
