"""minimize_multi with constraints: constrained domination, ParetoFront.violations, errors."""

import math

import pytest

import kestrelopt as pso


def bnh(x):
    return [4 * x[0] ** 2 + 4 * x[1] ** 2, (x[0] - 5) ** 2 + (x[1] - 5) ** 2]


def bnh_front(n=2001):
    # Known Pareto set: x1 = x2 in [0, 3], then x2 = 3 with x1 in [3, 5].
    points = []
    for i in range(n):
        t = 5.0 * i / (n - 1)
        points.append(bnh([t, min(t, 3.0)]))
    return points


def srn(x):
    return [2 + (x[0] - 2) ** 2 + (x[1] - 1) ** 2, 9 * x[0] - (x[1] - 1) ** 2]


def non_dominated_2d(points):
    kept, lowest = [], math.inf
    for f in sorted(points):
        if f[1] < lowest:
            kept.append(f)
            lowest = f[1]
    return kept


def srn_front(n=2001):
    # f1 + f2 = x1^2 + 5 x1 + 6 whatever x2, least at x1 = -2.5, so the front lies on x1 = -2.5
    # and, where that line is cut off, on the constraint boundaries: the line
    # x1 - 3 x2 + 10 = 0 (small f1) and the circle x1^2 + x2^2 = 225 (small f2).
    top = math.sqrt(225 - 6.25)
    upright = [srn([-2.5, 2.5 + (top - 2.5) * i / (n - 1)]) for i in range(n)]
    line = [srn([x1, (x1 + 10) / 3]) for x1 in (-2.5 + 5.0 * i / (n - 1) for i in range(n))]
    circle = [srn([x1, math.sqrt(225 - x1 * x1)]) for x1 in (-15 + 12.5 * i / (n - 1) for i in range(n))]
    return non_dominated_2d(upright + line + circle)


PROBLEMS = {
    "BNH": dict(
        objective=bnh, bounds=[(0, 5), (0, 3)], front=bnh_front,
        constraints=[lambda x: (x[0] - 5) ** 2 + x[1] ** 2 - 25,
                     lambda x: 7.7 - (x[0] - 8) ** 2 - (x[1] + 3) ** 2],
        scale=(140.0, 50.0)),
    "SRN": dict(
        objective=srn, bounds=[(-20, 20), (-20, 20)], front=srn_front,
        constraints=[lambda x: x[0] ** 2 + x[1] ** 2 - 225, lambda x: x[0] - 3 * x[1] + 10],
        scale=(230.0, 250.0)),
}


def normalized_distance(point, front, scale):
    return min(math.hypot((point[0] - q[0]) / scale[0], (point[1] - q[1]) / scale[1]) for q in front)


@pytest.mark.parametrize("name", list(PROBLEMS))
def test_constrained_front_is_feasible_and_on_the_known_front(name):
    p = PROBLEMS[name]
    front = pso.minimize_multi(p["objective"], p["bounds"], constraints=p["constraints"], seed=4,
                               n_particles=60, max_iter=120, archive_size=60)
    assert len(front.positions) == 60
    assert front.violations == [0.0] * 60
    for x in front.positions:
        assert all(g(x) <= 0 for g in p["constraints"]), x
    true_front = p["front"]()
    distances = [normalized_distance(f, true_front, p["scale"]) for f in front.objectives]
    assert max(distances) < 0.03, max(distances)
    assert sum(distances) / len(distances) < 0.01
    # Spread: both ends of the known front are reached.
    for k in range(2):
        ends = [min(q[k] for q in true_front), max(q[k] for q in true_front)]
        found = [min(f[k] for f in front.objectives), max(f[k] for f in front.objectives)]
        assert abs(found[0] - ends[0]) < 0.05 * p["scale"][k]
        assert abs(found[1] - ends[1]) < 0.05 * p["scale"][k]


def zdt1(x):
    g = 1 + 9 * sum(x[1:]) / (len(x) - 1)
    return [x[0], g * (1 - math.sqrt(x[0] / g))]


def bits(front):
    return (front.positions, front.objectives, front.swarm_history, front.front_history,
            front.violations, front.evaluations, front.stop_reason)


@pytest.mark.parametrize(
    "options",
    [dict(constraints=[]), dict(constraints=None, equality_constraints=[]),
     dict(constraints=[lambda x: -1.0, lambda x: 0.0]), dict(equality_constraints=[lambda x: -0.0]),
     dict(constraints=[lambda x: -math.inf])],
)
def test_constraints_that_always_hold_change_nothing(options):
    kwargs = dict(dim=5, n_particles=15, max_iter=20, seed=8, archive_size=10)
    plain = pso.minimize_multi(zdt1, (0, 1), **kwargs)
    assert plain.violations == [0.0] * len(plain.positions)
    assert bits(pso.minimize_multi(zdt1, (0, 1), **options, **kwargs)) == bits(plain)


def test_infeasible_problem_keeps_the_least_violating_points():
    seen = []

    def g(x):  # never <= 0; least where x0 and x1 are small
        seen.append(1.0 + x[0] + abs(x[1]))
        return seen[-1] - 0.5  # the equality below adds 0.5 back

    front = pso.minimize_multi(zdt1, (0, 1), dim=3, n_particles=10, max_iter=15, seed=2,
                               constraints=[g], equality_constraints=[lambda x: 0.5])
    assert front.positions
    assert set(front.violations) == {min(seen)}
    for x, v in zip(front.positions, front.violations):
        assert v == 1.0 + x[0] + abs(x[1])


def test_violation_sums_inequality_excess_and_equality_magnitude():
    # A swarm of one on a one-point box: every evaluation sees the same x.
    front = pso.minimize_multi(lambda x: [x[0], -x[0]], [(2, 2)], n_particles=1, max_iter=2, seed=1,
                               constraints=[lambda x: x[0] - 1.5, lambda x: -7.0],
                               equality_constraints=[lambda x: -0.25, lambda x: 0.0])
    assert front.violations == [0.5 + 0.25]


def test_nan_constraint_counts_as_infinitely_violated():
    # Points with x0 < 0.5 cannot be measured; every other one is feasible, so the front
    # holds only x0 >= 0.5.
    front = pso.minimize_multi(zdt1, (0, 1), dim=3, n_particles=20, max_iter=20, seed=3,
                               constraints=[lambda x: math.nan if x[0] < 0.5 else -1.0])
    assert front.positions and all(x[0] >= 0.5 for x in front.positions)
    assert front.violations == [0.0] * len(front.positions)


class Boom(Exception):
    pass


def test_constraint_errors_end_the_run_and_reach_the_caller():
    calls = []

    def g(x):
        calls.append(1)
        if len(calls) == 7:
            raise Boom("seventh")
        return -1.0

    with pytest.raises(Boom, match="seventh"):
        pso.minimize_multi(zdt1, (0, 1), dim=3, n_particles=5, max_iter=10, seed=1, constraints=[g])
    assert len(calls) == 7
    with pytest.raises(TypeError, match=r"^constraints\[0\] returned a str for particle 0; it must return a number$"):
        pso.minimize_multi(zdt1, (0, 1), dim=3, n_particles=5, max_iter=2, constraints=[lambda x: "no"])


def test_objective_and_constraints_receive_the_same_candidate():
    seen = []
    front = pso.minimize_multi(lambda x: seen.append(x) or [x[0], 1 - x[0]], (0, 1), dim=2,
                               n_particles=3, max_iter=1, seed=5,
                               constraints=[lambda x: seen.append(x) or -1.0],
                               equality_constraints=[lambda x: seen.append(x) or 0.0])
    assert len(seen) == 18 and front.evaluations == 6
    for i in range(0, 18, 3):
        assert seen[i] is seen[i + 1] is seen[i + 2]
