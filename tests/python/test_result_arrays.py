"""to_numpy(): the records as read-only arrays over the results' own memory, equal bit for bit
to the list attributes, alive as long as any array is."""

import gc
import math
import pickle

import pytest

np = pytest.importorskip("numpy")

import kestrelopt as pso  # noqa: E402


def zdt1(x):
    g = 1 + 9 * sum(x[1:]) / (len(x) - 1)
    return [x[0], g * (1 - math.sqrt(x[0] / g))]


RUNS = {
    "PsoResult": lambda: pso.minimize("rastrigin", (-5.12, 5.12), dim=4, n_particles=7, max_iter=9, seed=2),
    "GreyResult": lambda: pso.minimize_grey("grey_sphere", (-5, 5), dim=3, max_spread=0.5, max_iter=6, seed=2),
    "ParetoFront": lambda: pso.minimize_multi(zdt1, (0, 1), dim=5, n_particles=12, max_iter=8, seed=2),
    "ParetoFront infeasible": lambda: pso.minimize_multi(zdt1, (0, 1), dim=5, n_particles=12, max_iter=8,
                                                         seed=2, constraints=[lambda x: 1 + x[1]]),
    "PsoResult without history": lambda: pso.minimize("sphere", (-1, 1), dim=3, seed=1, record_history=False),
}

FIELDS = {
    "PsoResult": ["best_position", "convergence", "history"],
    "GreyResult": ["best_position", "best_centers", "best_spreads", "convergence"],
    "ParetoFront": ["positions", "objectives", "violations", "swarm_history", "front_history"],
}


def same_bits(array, values):
    expected = np.array(values, dtype=np.float64).reshape(array.shape)
    return array.dtype == np.float64 and array.tobytes() == expected.tobytes()


@pytest.mark.parametrize("run", list(RUNS))
def test_arrays_equal_the_lists_bit_for_bit_and_outlive_the_result(run):
    result = RUNS[run]()
    fields = FIELDS[type(result).__name__]
    lists = {name: getattr(result, name) for name in fields}
    arrays = result.to_numpy()
    assert sorted(arrays) == sorted(fields)
    del result
    gc.collect()
    for name in fields:
        array = arrays[name]
        if name == "front_history":
            assert len(array) == len(lists[name])
            assert all(same_bits(a, snapshot) for a, snapshot in zip(array, lists[name]))
            continue
        assert same_bits(array, lists[name]), name
        assert not array.flags.writeable
        with pytest.raises(ValueError):
            array.flat[:1] = 0.0


def test_histories_are_views_not_copies():
    result = RUNS["PsoResult"]()
    first, second = result.to_numpy(), result.to_numpy()
    assert first["history"].shape == (9, 7, 4)
    assert np.shares_memory(first["history"], second["history"])
    front = RUNS["ParetoFront"]()
    a, b = front.to_numpy(), front.to_numpy()
    assert a["swarm_history"].shape == (8, 12, 5)
    assert np.shares_memory(a["swarm_history"], b["swarm_history"])
    assert all(np.shares_memory(x, y) for x, y in zip(a["front_history"], b["front_history"]) if x.size)
    assert not np.shares_memory(a["positions"], b["positions"])  # small: copied


def test_empty_records_keep_their_known_dimensions():
    arrays = RUNS["PsoResult without history"]().to_numpy()
    assert arrays["history"].shape == (0, 0, 3)
    assert arrays["convergence"].shape == (0,)


def test_restored_results_give_the_same_arrays():
    result = RUNS["ParetoFront"]()
    restored = pickle.loads(pickle.dumps(result))
    for name, array in restored.to_numpy().items():
        original = result.to_numpy()[name]
        if name == "front_history":
            assert all(x.tobytes() == y.tobytes() for x, y in zip(array, original))
        else:
            assert array.tobytes() == original.tobytes()


def test_a_ragged_history_is_refused_with_a_clear_error():
    ragged = pso.kestrelopt_native._restore_result(
        "PsoResult", ([0.0], 1.0, [1.0, 1.0], [[[0.0], [1.0]], [[2.0]]], 3, "max_iterations"))
    with pytest.raises(ValueError, match="history cannot be one array: its snapshots differ in shape"):
        ragged.to_numpy()
