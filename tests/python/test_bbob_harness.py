"""The COCO-free parts of the bbob benchmark (bench/bbob/harness.py): the budget that no
contender can exceed, the reading of the observer's records and the area under the
runtime ECDF, checked against a plain average over a fine grid of budgets."""

import copy
import importlib.util
import math
import pathlib

import pytest

PATH = pathlib.Path(__file__).resolve().parents[2] / "bench" / "bbob" / "harness.py"
spec = importlib.util.spec_from_file_location("bbob_harness", PATH)
harness = importlib.util.module_from_spec(spec)
spec.loader.exec_module(harness)


def counting(values=None):
    calls = []

    def f(x):
        calls.append(x)
        return float(x) if values is None else values[len(calls) - 1]
    return f, calls


@pytest.mark.parametrize("budget, batches, evaluated", [
    (5, [[1, 2, 3], [4, 5, 6, 7]], [1, 2, 3, 4, 5]),  # cut inside a batch
    (3, [[1, 2, 3], [4]], [1, 2, 3]),  # the next batch gets nothing
    (1, [[1, 2]], [1]),
])
def test_budget_truncates_batches_and_evaluates_nothing_after(budget, batches, evaluated):
    f, calls = counting()
    b = harness.Budget(f, budget)
    with pytest.raises(harness.StopRun):
        for rows in batches:
            b.batch(rows)
    for _ in range(3):  # a contender that swallows the exception still gets nothing more
        with pytest.raises(harness.StopRun):
            b(99)
    assert calls == evaluated and b.used == budget and b.remaining == 0 and b.stopped == "budget"


def test_budget_stops_at_the_target_and_copies_share_the_count():
    f, calls = counting([5.0, 3.0, 0.0, 7.0])
    b = harness.Budget(f, 10, solved=lambda: len(calls) >= 3)
    twin = copy.deepcopy(b)  # what pygmo does with its problem
    assert twin is b and copy.copy(b) is b
    assert [b(0), twin(0)] == [5.0, 3.0]
    with pytest.raises(harness.StopRun):
        b(0)
    with pytest.raises(harness.StopRun):
        twin(0)
    assert b.stopped == "target" and len(calls) == 3 and b.remaining == 7


def test_restarts_share_one_budget_and_reraise_foreign_errors():
    f, calls = counting()
    b = harness.Budget(f, 10)
    seen = []

    def start(remaining, seed):  # each run stops after 4 evaluations on its own
        seen.append((remaining, seed))
        for i in range(4):
            b(seed)
    assert harness.run_with_restarts(b, start, iter(range(100))) == 3
    assert seen == [(10, 0), (6, 1), (2, 2)] and calls == [0] * 4 + [1] * 4 + [2] * 2

    def broken(remaining, seed):
        raise KeyError("contender bug")
    with pytest.raises(KeyError):
        harness.run_with_restarts(harness.Budget(f, 10), broken, iter(range(5)))
    idle = []
    assert harness.run_with_restarts(harness.Budget(f, 10), lambda r, s: idle.append(s), iter(range(5))) == 1
    with pytest.raises(ValueError, match="budget must be at least 1, got 0"):
        harness.Budget(f, 0)


def test_targets_are_the_51_standard_ones():
    assert len(harness.TARGETS) == 51
    assert harness.TARGETS[0] == 100.0 and harness.TARGETS[-1] == 1e-8 and harness.TARGETS[25] == 1e-3
    assert all(a > b for a, b in zip(harness.TARGETS, harness.TARGETS[1:]))


def grid_area(runtimes, dim, per_dim, points=20001):
    """The ECDF averaged over budgets log-spaced from dim to per_dim * dim (midpoint rule)."""
    width = math.log10(per_dim)
    total = 0.0
    for k in range(points):
        budget = dim * 10 ** (width * (k + 0.5) / points)
        total += sum(r <= budget for r in runtimes) / len(runtimes)
    return total / points


@pytest.mark.parametrize("runtimes, dim, per_dim, expected", [
    ([1] * 5, 5, 1000, 1.0),  # all at the first evaluation
    ([math.inf] * 4, 2, 10**4, 0.0),  # nothing solved
    ([2 * 10**4 + 1, math.inf], 2, 10**4, 0.0),  # one evaluation past the budget counts nothing
    ([200], 2, 10**4, 0.5),  # 10^2 x D, half of the log axis
    ([3, 40, 700, 5000, 2 * 10**4, math.inf], 2, 10**4, None),
    ([7, 7, 130, 1e5], 10, 10**4, None),
])
def test_ecdf_area_matches_a_plain_average_over_budgets(runtimes, dim, per_dim, expected):
    area = harness.ecdf_area(runtimes, dim, per_dim)
    assert area == pytest.approx(grid_area(runtimes, dim, per_dim), abs=2e-4)
    if expected is not None:
        assert area == pytest.approx(expected, abs=1e-15)


def test_ecdf_area_rejects_empty_sets_and_budgets():
    with pytest.raises(ValueError, match="at least one runtime"):
        harness.ecdf_area([], 2, 100)
    with pytest.raises(ValueError, match="max_evals_per_dim must exceed 1, got 1"):
        harness.ecdf_area([1], 2, 1)


def test_records_round_trip_and_first_hits(tmp_path):
    rows = [(1, 5e3), (3, 150.0), (10, 100.0), (40, 0.5), (41, 1e-3), (90, 1e-9)]
    runs = [(1, 90, rows), (2, 200, [(1, 1e3), (200, 1e3)])]
    harness.write_records(tmp_path / "K" / "f3", "K", 3, 5, runs)
    harness.write_records(tmp_path / "K" / "f7", "K", 7, 5, runs[:1])
    records = harness.read_records(tmp_path / "K")
    assert sorted(records) == [(3, 5, 1), (3, 5, 2), (7, 5, 1)]
    evaluations, got = records[(3, 5, 1)]
    assert evaluations == 90 and got == rows
    hits = harness.first_hits(got)
    expected = [10 if t >= 100 else 40 if t >= 0.5 else 41 if t >= 1e-3 else 90 for t in harness.TARGETS]
    assert hits == expected
    assert harness.first_hits(records[(3, 5, 2)][1]) == [math.inf] * 51
