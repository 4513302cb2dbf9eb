"""array_input=True: the callables receive read-only float64 arrays, and a seeded run gives
the same bits as with lists."""

import numpy as np
import pytest

import kestrelopt as pso
from conftest import same_bits


class Seen:
    """Wraps a callable and records the type, dtype, shape and writeability of what it gets."""

    def __init__(self, fn):
        self.fn = fn
        self.kinds = set()

    def __call__(self, x):
        if isinstance(x, np.ndarray):
            self.kinds.add(("array", x.dtype.str, x.shape, x.flags.writeable))
        else:
            self.kinds.add((type(x).__name__, type(x[0]).__name__))
        return self.fn(x)


# Plain loops over floats: sum() adds exact floats with compensation from CPython 3.12 on,
# but NumPy scalars without, so it would tell a list from an array.
def squares(x):
    total = 0.0
    for v in x:
        total += (float(v) - 0.25) * (float(v) - 0.25)
    return total


def clip_list(x):
    return [min(max(v, -1.0), 1.0) for v in x]


def grey_cost(g):
    total = 0.0
    for a, b in g:
        total += (float(a) - 1.0) * (float(a) - 1.0) + float(b)
    return total


def two_costs(x):
    return [x[0] * x[0] + x[1], (x[0] - 2.0) * (x[0] - 2.0) - x[1]]


def flat(value):
    """Every float of a nested result, in order."""
    if isinstance(value, (list, tuple)):
        return [f for item in value for f in flat(item)]
    return [float(value)]


def run_minimize(array_input, repairs=None, **options):
    """`repairs`: the repair operator of the list run and that of the array run."""
    callables = dict(objective=Seen(squares), constraint=Seen(lambda x: x[0] - 0.5),
                     equality=Seen(lambda x: x[1] - x[0]))
    if repairs is not None:
        callables["repair"] = Seen(repairs[array_input])
    r = pso.minimize(callables["objective"], [(-3.0, 3.0)] * 4, seed=21, max_iter=25,
                     n_particles=12, penalty=10.0, array_input=array_input,
                     constraints=[callables["constraint"]],
                     equality_constraints=[callables["equality"]],
                     repair=callables.get("repair"), **options)
    return flat([r.best_position, r.best_value, r.history, r.convergence, r.evaluations]), callables


def run_multi(array_input, **options):
    objective = Seen(two_costs)
    pf = pso.minimize_multi(objective, [(-2.0, 3.0)] * 3, seed=8, max_iter=15, n_particles=20,
                            array_input=array_input, **options)
    return flat([pf.positions, pf.objectives, pf.swarm_history]), dict(objective=objective)


def run_grey(array_input, **options):
    objective = Seen(grey_cost)
    r = pso.minimize_grey(objective, (-4.0, 4.0), dim=3, seed=5, max_iter=25, max_spread=1.5,
                          array_input=array_input, **options)
    return flat([r.best_position, r.best_value, r.convergence]), dict(objective=objective)


@pytest.mark.parametrize(
    "run, options, list_kind, array_shape",
    [
        (run_minimize, {}, ("list", "float"), (4,)),
        (run_minimize, dict(repairs=(clip_list, clip_list)), ("list", "float"), (4,)),
        # A repair may hand an array back; np.clip gives the values of clip_list.
        (run_minimize, dict(repairs=(clip_list, lambda x: np.clip(x, -1.0, 1.0))),
         ("list", "float"), (4,)),
        (run_minimize, dict(integer=True), ("list", "int"), (4,)),
        (run_minimize, dict(binary=True), ("list", "int"), (4,)),
        (run_minimize, dict(var_types=["real", "int", "bin", "real"]), ("list", "float"), (4,)),
        (run_minimize, dict(topology="ring", velocity="fips"), ("list", "float"), (4,)),
        (run_multi, {}, ("list", "float"), (3,)),
        (run_multi, dict(integer=True), ("list", "int"), (3,)),
        (run_grey, {}, ("list", "tuple"), (3, 2)),
        (run_grey, dict(representation="center_spread"), ("list", "tuple"), (3, 2)),
    ],
)
def test_array_input_gives_the_bits_of_list_input(run, options, list_kind, array_shape):
    listed, list_callables = run(False, **dict(options))
    arrayed, array_callables = run(True, **dict(options))
    assert len(listed) == len(arrayed) > 10
    assert all(same_bits(a, b) for a, b in zip(listed, arrayed))
    for name, seen in list_callables.items():
        assert seen.kinds == {list_kind}, name
    for name, seen in array_callables.items():
        assert seen.kinds == {("array", "<f8", array_shape, False)}, name


def test_integers_arrive_as_whole_floats():
    got = []
    pso.minimize(lambda x: got.append(x.copy()) or 0.0, [(-2.6, 7.4)] * 3, integer=True, seed=1,
                 max_iter=3, array_input=True)
    values = np.concatenate(got)
    assert values.dtype == np.float64
    assert np.array_equal(values, np.round(values)) and values.min() >= -3 and values.max() <= 7


def test_arrays_a_callable_keeps_never_change():
    kept, snapshots, views = [], [], []
    addresses = set()

    def keeping(x):
        kept.append(x)
        snapshots.append(x.tolist())
        return float(x @ x)

    def keeping_views(x):
        views.append((x[1:], x[1:].tolist()))  # a view holds its base array
        return float(x.sum())

    def forgetting(x):
        addresses.add(x.__array_interface__["data"][0])
        return float(x.sum())

    for objective in (keeping, keeping_views, forgetting):
        pso.minimize(objective, [(-1.0, 1.0)] * 3, seed=2, n_particles=5, max_iter=8,
                     array_input=True)
    assert len(kept) == 5 * 9 and [a.tolist() for a in kept] == snapshots
    assert all(view.tolist() == values for view, values in views)
    # An array that nobody kept is refilled in place for the next candidate.
    assert len(addresses) == 1


@pytest.mark.parametrize("attempt", [
    lambda x: x.__setitem__(0, 1.0),
    lambda x: setattr(x.flags, "writeable", True),
])
def test_candidate_arrays_cannot_be_written(attempt):
    def objective(x):
        attempt(x)
        return 0.0

    with pytest.raises(ValueError):
        pso.minimize(objective, [(-1.0, 1.0)] * 2, seed=0, max_iter=1, array_input=True)


def test_array_input_does_not_change_the_vectorized_or_native_paths():
    for kwargs in (dict(objective=lambda X: (X * X).sum(axis=1), vectorized=True),
                   dict(objective="sphere")):
        objective = kwargs.pop("objective")
        plain = pso.minimize(objective, [(-2.0, 2.0)] * 3, seed=4, **kwargs)
        arrayed = pso.minimize(objective, [(-2.0, 2.0)] * 3, seed=4, array_input=True, **kwargs)
        assert plain.history == arrayed.history and same_bits(plain.best_value, arrayed.best_value)
