"""hypervolume(front, reference) and ParetoFront.hypervolume(reference=None)."""

import itertools
import math
import random

import numpy as np
import pytest

import kestrelopt as pso
from conftest import interpreter_float_error


def zdt1(x):
    f1 = x[0]
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return [f1, g * (1.0 - math.sqrt(f1 / g))]


def three_objectives(x):
    return [x[0], x[1], 2.0 - x[0] - x[1] + x[2] * x[2]]


@pytest.fixture(scope="module")
def front2():
    return pso.minimize_multi(zdt1, [(0.0, 1.0)] * 4, n_particles=20, max_iter=15, archive_size=12, seed=3)


@pytest.fixture(scope="module")
def front3():
    return pso.minimize_multi(three_objectives, [(0.0, 1.0)] * 3, n_particles=15, max_iter=10, archive_size=9,
                              seed=8)


def is_negative_zero(value):
    return value == 0.0 and math.copysign(1.0, value) < 0


def staircase(points, reference):
    """Area dominated by 2-D points under `reference`, swept by hand: keep the points strictly
    inside, sort by the first objective and add one rectangle per step of the staircase."""
    inside = sorted(p for p in points if p[0] < reference[0] and p[1] < reference[1])
    area, level = 0.0, reference[1]
    for x, y in inside:
        if y >= level:
            continue  # dominated by a step already counted
        area += (reference[0] - x) * (level - y)
        level = y
    return area


def inclusion_exclusion(points, reference):
    """Volume of the union of the boxes [p, reference] by inclusion-exclusion over subsets."""
    inside = [p for p in points if all(v < r for v, r in zip(p, reference))]
    total = 0.0
    for size in range(1, len(inside) + 1):
        for subset in itertools.combinations(inside, size):
            corner = [max(values) for values in zip(*subset)]
            total += (-1) ** (size + 1) * math.prod(r - c for r, c in zip(reference, corner))
    return total


def nadir(points):
    reference = []
    for k in range(len(points[0])):
        values = [p[k] for p in points]
        worst, best = max(values), min(values)
        spread = worst - best
        reference.append(worst + 0.1 * spread if spread > 0 else worst + 1.0)
    return reference


# ---- the free function ------------------------------------------------------------------

@pytest.mark.parametrize(
    "front, reference, expected",
    [
        ([[1, 2], [2, 1]], [3, 3], 3.0),
        ([[1.0, 1.0]], [2.0, 3.0], 2.0),
        ([[0.5, 0.5, 0.5]], [1, 1, 1], 0.125),
        ([[1, 2], [2, 1], [1, 2], [2.5, 2.5]], [3, 3], 3.0),  # a duplicate and a dominated point
        ([[1, 2], [1, 1, 1]], [3, 3], 2.0),  # a vector of another length contributes nothing
        ([[1, 2], [3, 0]], [3, 3], 2.0),  # touching the reference contributes nothing
        ([[1, 2], [float("nan"), 0]], [3, 3], 2.0),
        (((1, 2), (2, 1)), (3, 3), 3.0),
        (np.array([[1.0, 2.0], [2.0, 1.0]]), np.array([3.0, 3.0]), 3.0),
    ],
)
def test_known_values(front, reference, expected):
    value = pso.hypervolume(front, reference)
    assert type(value) is float
    assert value == expected


@pytest.mark.parametrize(
    "front, reference",
    [([], [3, 3]), ([[1, 2, 0]], [3, 3]), ([[3, 1]], [3, 3]), ([[float("nan"), 1]], [3, 3]), ([[4, 4]], [3, 3])],
)
def test_nothing_left_gives_negative_zero(front, reference):
    assert is_negative_zero(pso.hypervolume(front, reference))


@pytest.mark.parametrize("seed", range(6))
@pytest.mark.parametrize("n", [1, 2, 5, 20])
def test_two_objectives_against_a_hand_swept_staircase(seed, n):
    rng = random.Random(seed)
    points = [[rng.uniform(0, 1), rng.uniform(0, 1)] for _ in range(n)]
    points += [list(points[0])]  # a duplicate
    reference = [1.0, 1.2]
    assert pso.hypervolume(points, reference) == pytest.approx(staircase(points, reference), rel=1e-12)


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("m, n", [(2, 6), (3, 5), (3, 8), (4, 6)])
def test_any_dimension_against_inclusion_exclusion(seed, m, n):
    rng = random.Random(100 * m + seed)
    points = [[rng.uniform(0, 1) for _ in range(m)] for _ in range(n)]
    reference = [1.1] * m
    assert pso.hypervolume(points, reference) == pytest.approx(inclusion_exclusion(points, reference), rel=1e-12)


def test_order_of_the_points_does_not_change_the_volume_much():
    rng = random.Random(5)
    points = [[rng.uniform(0, 1) for _ in range(3)] for _ in range(12)]
    shuffled = points[::-1]
    assert pso.hypervolume(points, [1, 1, 1]) == pytest.approx(pso.hypervolume(shuffled, [1, 1, 1]), rel=1e-12)


def test_the_arguments_are_not_modified():
    front, reference = [[1.0, 2.0], [2.0, 1.0], [2.5, 2.5]], [3.0, 3.0]
    pso.hypervolume(front, reference)
    assert front == [[1.0, 2.0], [2.0, 1.0], [2.5, 2.5]] and reference == [3.0, 3.0]


def test_keywords():
    assert pso.hypervolume(reference=[3, 3], front=[[1, 2], [2, 1]]) == 3.0


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: pso.hypervolume(), TypeError,
         "hypervolume() missing 2 required positional arguments: 'front' and 'reference'"),
        (lambda: pso.hypervolume([[1]]), TypeError, "hypervolume() missing 1 required positional argument: 'reference'"),
        (lambda: pso.hypervolume([], [], []), TypeError, "hypervolume() takes 2 positional arguments but 3 were given"),
        (lambda: pso.hypervolume([], [], ref=1), TypeError, "hypervolume() got an unexpected keyword argument 'ref'"),
        (lambda: pso.hypervolume("ab", [1]), TypeError, "argument 'front': Can't extract `str` to `Vec`"),
        (lambda: pso.hypervolume(["ab"], [1]), TypeError, "argument 'front': Can't extract `str` to `Vec`"),
        (lambda: pso.hypervolume([1, 2], [1]), TypeError,
         "argument 'front': 'int' object cannot be converted to 'Sequence'"),
        (lambda: pso.hypervolume(None, [1]), TypeError,
         "argument 'front': 'NoneType' object cannot be converted to 'Sequence'"),
        (lambda: pso.hypervolume([[1]], None), TypeError,
         "argument 'reference': 'NoneType' object cannot be converted to 'Sequence'"),
        (lambda: pso.hypervolume([[1]], "a"), TypeError, "argument 'reference': Can't extract `str` to `Vec`"),
        (lambda: pso.hypervolume([[1, None]], [1]), TypeError,
         "argument 'front': " + interpreter_float_error(None)),
    ],
)
def test_binding_and_conversion_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


def test_docstring_is_verbatim():
    assert pso.hypervolume.__doc__ == (
        "Hypervolume of an arbitrary set of objective vectors (minimization).\n"
        "\n"
        "A free-standing version of :meth:`ParetoFront.hypervolume` for fronts not\n"
        "produced by ``minimize_multi`` (e.g. a reference front, or one loaded from\n"
        "disk for benchmarking).\n"
        "\n"
        "Args:\n"
        "    front (list[list[float]]): objective vectors, one per solution. A\n"
        "        vector of another length than the reference is ignored, without an\n"
        "        error, as is one that is not strictly below the reference in every\n"
        "        objective (or holds a NaN): neither dominates any of its box.\n"
        "    reference (list[float]): the bounding \"worst\" point, one value per\n"
        "        objective; each value should exceed the front in that objective.\n"
        "\n"
        "Returns:\n"
        "    float: the hypervolume dominated by ``front`` under ``reference``."
    )


# ---- the method -------------------------------------------------------------------------

@pytest.mark.parametrize("reference", [[1.1, 1.1], (2.0, 3.0), np.array([1.5, 1.0]), [0.5, 0.5]])
def test_method_equals_the_free_function(front2, reference):
    value = front2.hypervolume(reference)
    assert type(value) is float
    assert value == pso.hypervolume(front2.objectives, reference)
    assert front2.hypervolume(reference=reference) == value


@pytest.mark.parametrize("which", ["front2", "front3"])
def test_default_reference_is_the_nadir_plus_a_tenth_of_the_spread(which, request):
    front = request.getfixturevalue(which)
    expected = pso.hypervolume(front.objectives, nadir(front.objectives))
    assert front.hypervolume() == expected
    assert front.hypervolume(None) == expected
    assert front.hypervolume(reference=None) == expected
    assert expected > 0.0


def test_default_reference_adds_one_where_the_spread_is_zero():
    # A single member: its nadir is the member plus 1.0 in every objective.
    front = pso.minimize_multi(lambda x: [1.0, 2.0], [(0.0, 1.0)], n_particles=4, max_iter=2, seed=1)
    assert front.objectives == [[1.0, 2.0]]
    assert front.hypervolume() == 1.0
    assert front.hypervolume([3.0, 3.0]) == 2.0


def test_method_on_the_three_objective_front_matches_inclusion_exclusion(front3):
    reference = [2.5, 2.5, 3.5]
    assert front3.hypervolume(reference) == pytest.approx(inclusion_exclusion(front3.objectives, reference),
                                                          rel=1e-12)


@pytest.mark.parametrize("reference, given", [([1.0, 2.0, 3.0], 3), ([1.0], 1), ([], 0)])
def test_reference_of_the_wrong_length(front2, reference, given):
    with pytest.raises(ValueError) as info:
        front2.hypervolume(reference)
    assert str(info.value) == f"reference must have one value per objective (2), got {given}"


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda f: f.hypervolume([1, 1], 2),
         "ParetoFront.hypervolume() takes from 0 to 1 positional arguments but 2 were given"),
        (lambda f: f.hypervolume(ref=[1, 1]), "ParetoFront.hypervolume() got an unexpected keyword argument 'ref'"),
        (lambda f: f.hypervolume([1, 1], reference=[1, 1]),
         "ParetoFront.hypervolume() got multiple values for argument 'reference'"),
        (lambda f: f.hypervolume("ab"), "argument 'reference': Can't extract `str` to `Vec`"),
        (lambda f: f.hypervolume(3), "argument 'reference': 'int' object cannot be converted to 'Sequence'"),
    ],
)
def test_method_binding_and_conversion_errors(front2, call, message):
    with pytest.raises(TypeError) as info:
        call(front2)
    assert str(info.value) == message


def test_method_signature_and_docstring(front2):
    import inspect

    method = pso.ParetoFront.hypervolume
    assert method.__text_signature__ == "($self, reference=None)"
    assert str(inspect.signature(front2.hypervolume)) == "(reference=None)"
    assert method.__doc__ == (
        "Hypervolume of this front: the volume of objective space dominated by it\n"
        "and bounded by ``reference`` (minimization \u2014 larger is better). The\n"
        "standard single-indicator measure of front quality (convergence + spread).\n"
        "\n"
        "Args:\n"
        "    reference (list[float] | None): the bounding \"worst\" point, with one\n"
        "        value per objective. Each value must exceed the front in that\n"
        "        objective. If ``None``, it is derived from the front's nadir\n"
        "        (worst value per objective + 10% of its spread); convenient for a\n"
        "        single run but **not** comparable across runs \u2014 pass an explicit,\n"
        "        shared reference when comparing fronts.\n"
        "\n"
        "Returns:\n"
        "    float: the hypervolume (``0.0`` for an empty front)."
    )


def test_method_only_applies_to_fronts():
    with pytest.raises(TypeError):
        pso.ParetoFront.hypervolume(3)


def test_a_front_beyond_the_reference_gives_negative_zero(front2):
    # Nothing is strictly below the reference; the front itself is not empty.
    assert is_negative_zero(front2.hypervolume([-1.0, -1.0]))
