"""minimize_multi: arguments and their checks, the choice of space and archive strategy,
the objective adapter and its failures, and the ParetoFront it returns."""

import copy
import gc
import itertools
import math
import sys

import numpy as np
import pytest

import kestrelopt as pso
from conftest import FailOn, interpreter_float_error, panic_type

SMALL = dict(n_particles=8, max_iter=6, seed=5)
RUN_CALLS = 8 * (6 + 1)
B4 = [(0.0, 1.0)] * 4


def zdt1(x):
    f1 = x[0]
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return [f1, g * (1.0 - math.sqrt(f1 / g))]


def two_spheres(x):
    return [sum(v * v for v in x), sum((v - 1.0) ** 2 for v in x)]


class Recorder:
    """An objective that keeps a copy of every candidate and answers `f`."""

    def __init__(self, f=two_spheres):
        self.f = f
        self.seen = []

    def __call__(self, x):
        self.seen.append(list(x))
        return self.f(x)


def front_bits(front):
    def flat(value):
        if isinstance(value, list):
            return [b for v in value for b in flat(v)]
        return [(math.copysign(1.0, value), value if value == value else "nan")]

    return (flat(front.positions), flat(front.objectives), flat(front.swarm_history),
            flat(front.front_history), len(front.positions))


def dominates(a, b):
    return all(x <= y for x, y in zip(a, b)) and any(x < y for x, y in zip(a, b))


# ---- signature, docstring, binding ------------------------------------------------------

DOC_BODY = """Multi-objective optimization (MOPSO). Returns the Pareto front.

Args:
    objective: callable ``f(list) -> list[float]`` returning one value per
        objective (all minimized).
    bounds (list[tuple[float, float]]): ``(min, max)`` per dimension.
    n_particles (int): swarm size. Defaults to 100.
    max_iter (int | None): iterations. Defaults to 100. ``None`` sets no
        iteration limit, as in ``minimize``: ``max_evals`` or ``max_time``
        must then end the run, and the turbulence fades over the iterations
        ``max_evals`` allows (without ``max_evals``, pass ``mutation_rate=0``).
    archive_size (int): maximum Pareto-front size. Defaults to 100.
    w, c1, c2 (float): velocity coefficients.
    velocity (str): ``"inertia"``, ``"constriction"``, ``"spso2011"`` or
        ``"spso2011_uniform_radius"`` (single-leader rules, as in ``minimize``;
        ``"fips"`` is not applicable to MOPSO).
    seed (int | None): RNG seed.
    integer, binary, var_types: integer or binary variables, or one type
        per dimension, as in ``minimize``.
    mutation_rate (float): turbulence strength in [0, 1] (default 0.1);
        improves front spread. ``0`` disables it.
    grid_divisions (int | None): archive diversity strategy. ``None``
        (default) keeps the most isolated members by crowding distance;
        an int ``d`` uses Coello's adaptive hypercube grid with ``d``
        divisions per objective (pruning drops members from the most crowded
        cell, leaders are drawn towards sparser cells), which tends to spread
        the front more evenly.
    v_max (float | list[float] | None): optional per-component velocity
        clamp, one value or one per dimension, as in ``minimize``. Defaults
        to ``None``.
    bounds_handling (str): what to do with particles that leave the bounds —
        ``"clamp"`` (default), ``"reflect"``, ``"wrap"`` or ``"reinit"``, as
        in ``minimize``.
    record_history (bool): if ``True`` (the default), records the swarm and
        the Pareto front per iteration (``swarm_history``/``front_history``)
        for visualization. Disable to save memory.
    v_max_fraction (float | None): the velocity limit as a fraction of each
        dimension's width, as in ``minimize``; not together with ``v_max``.
        Defaults to ``None``.
    array_input (bool): if ``True``, the objective receives each candidate
        as a read-only one-dimensional ``float64`` NumPy array (integer and
        binary variables as whole-valued floats) instead of a list; it may
        return an array. A seeded run gives the same front as with lists.
        Defaults to ``False``.
    constraints (list[callable] | "returned" | None): inequality
        constraints ``g(x)``, called with the same candidate as the objective;
        ``x`` is feasible when every ``g(x) <= 0``. Handled by constrained
        domination, not a penalty: a feasible point beats an infeasible one,
        of two infeasible points the smaller total violation (the sum of
        ``max(g(x), 0)`` and ``abs(h(x))``; a NaN counts as infinite) wins,
        and feasible points compare by Pareto dominance. Once a feasible point
        is found the front holds only feasible points; before that, the least
        violating ones. ``"returned"``: one call gives the objectives and
        the constraint values together, as for ``minimize``: the objective
        returns ``(objectives, g)`` or ``(objectives, g, h)`` (vectorized:
        ``(F, G)`` or ``(F, G, H)``, one row per particle), and
        ``equality_constraints`` stays ``None``.
    equality_constraints (list[callable] | None): constraints ``h(x) == 0``.
        They hold only exactly, which a continuous search rarely meets; for a
        tolerance ``eps`` write ``abs(h(x)) - eps`` as an inequality instead.
    vectorized (bool): if ``True``, the objective is called once per
        iteration with the whole swarm as an ``(n_particles, dim)`` float64
        NumPy array and returns an ``(n_particles, n_objectives)`` array (or
        one sequence of objective values per row); each constraint then takes
        the same array and returns one value per row. All particles move
        before the swarm is evaluated, then personal bests and the archive
        are updated in particle order: a different algorithm from the default
        one-particle-at-a-time search, so a seeded run gives another front.
        ``kestrelopt.parallel.batched`` spreads the rows over processes or a
        Dask cluster. Defaults to ``False``.
    max_evals (int | None): stop once this many evaluations are done
        (tested after each iteration, as in ``minimize``); ``max_iter`` still
        applies unless it is ``None``.
    max_time (float | None): stop after this many seconds (tested after
        each iteration); ``max_iter`` still applies unless it is ``None``.
    callback (callable | None): ``callback(iteration, front_size)`` after
        every iteration; returning ``False`` stops the run.
    init (array-like | None): starting positions for the first particles, a
        sequence of up to ``n_particles`` rows (or a 2-D array), each one
        position inside the bounds; particle ``i`` starts at row ``i``, the
        others where they would have started anyway (a seeded run draws the
        same numbers with or without ``init``). Warm-start from an earlier
        run with ``init=[result.best_position]``. Defaults to ``None``.
    variant (str): how particles move. ``"mopso"`` (default): the
        velocity rule, ``bounds_handling`` and the turbulence above.
        ``"smpso"``: the speed-constrained swarm, which reaches the front
        of multimodal problems (ZDT4, DTLZ1) where the default stalls. Per
        particle and iteration it draws, in this order, r1 and r2 in [0, 1),
        c1 and c2 in [1.5, 2.5) and w in [0.1, 0.5); the velocity is
        ``chi * (w*v + c1*r1*(pbest - x) + c2*r2*(leader - x))`` with
        ``chi = 2 / (2 - phi - sqrt(phi**2 - 4*phi))`` for
        ``phi = c1 + c2 > 4`` (a negative factor, which turns the step
        back) and 1 otherwise, each component bounded by half its
        dimension's width; a coordinate that leaves the box is set on the
        bound and its velocity reversed. Every sixth particle (index 0, 6,
        12, ...) then mutates each coordinate with probability 1/D by
        polynomial mutation (distribution index 20), in place of the
        turbulence. It takes none of ``w``, ``c1``, ``c2``, ``velocity``,
        ``mutation_rate``, ``v_max``, ``v_max_fraction`` or
        ``bounds_handling`` (``ValueError`` when one is given).
        ``"smpso_crossover"``: ``"smpso"`` for the even-numbered
        particles; each odd-numbered one instead becomes, every iteration
        once the archive holds two members, a child of two of them (drawn
        at random): each coordinate the second's with probability 1/2, else
        the first's, then polynomial mutation as above. The recombination
        reaches fronts whose variables each have many local optima (WFG4)
        and converges further with many objectives; it takes the same
        options as ``"smpso"``.
    archive (str | None): how the archive keeps ``archive_size`` members.
        ``None`` (default): by ``grid_divisions`` as above. ``"crowding"``
        and ``"grid"`` (which needs ``grid_divisions``) name those two.
        ``"hypervolume"``: with 2 or 3 objectives, while over capacity
        the member of least exclusive hypervolume contribution leaves (the
        contributions taken again after each removal), against the
        members' worst value per objective plus a tenth of its spread (plus
        1 where the spread is 0); leaders are drawn towards larger
        contributions. Above 3 objectives: each member belongs to its
        nearest Das-Dennis reference direction (at least ``archive_size``
        of them), the objectives normalized by the members' best and worst
        values; while over capacity the member of largest penalty
        (distance along plus 5 times distance from its direction) leaves
        the most populated direction; each particle follows its own
        direction, led by the member of least penalty along it, and keeps
        as personal best the point of lesser penalty along it when neither
        dominates. ``"decomposition"``: the same with 2 or 3 objectives;
        above, the same directions, but the objectives are normalized by
        the worst values of the extreme points (per objective, the member
        nearest its axis) instead of the members' worst values, the
        penalty weighs the distance from a direction 1 instead of 5, and
        leaders and personal bests go by the weighted Tchebycheff value
        along the particle's direction (the largest normalized objective
        over its direction component): the members end nearer the front
        and spread over more directions.
    executor (Executor | distributed.Client | None): evaluates the
        candidates on this executor, several at a time, as in ``minimize``:
        the run is ``kestrelopt.parallel.drive(AsyncMultiSwarm(bounds, ...),
        objective, executor)`` with the same options, exactly the run without
        ``executor`` when one is in flight. ``ValueError`` with ``vectorized``,
        callable ``constraints`` (``"returned"`` works) or
        ``equality_constraints``. Defaults to ``None``.
    max_in_flight (int | None): with ``executor``, as in ``minimize``.
    on_error (str | float): with ``executor``, as in ``minimize``; a number
        is told as every objective's value.

Returns:
    ParetoFront: with ``positions``, ``objectives``, ``violations``,
    ``evaluations``, ``stop_reason`` and, unless disabled, ``swarm_history``
    and ``front_history``. With ``executor``, a
    ``kestrelopt.parallel.DriveResult``, which answers the same attributes
    and ``failed``."""


def test_docstring_is_verbatim():
    assert pso.minimize_multi.__doc__ == DOC_BODY


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda: pso.minimize_multi(), TypeError,
         "minimize_multi() missing 2 required positional arguments: 'objective' and 'bounds'"),
        (lambda: pso.minimize_multi(zdt1), TypeError,
         "minimize_multi() missing 1 required positional argument: 'bounds'"),
        (lambda: pso.minimize_multi(*range(31)), TypeError,
         "minimize_multi() takes from 2 to 30 positional arguments but 31 were given"),
        (lambda: pso.minimize_multi(zdt1, B4, topology="ring"), TypeError,
         "minimize_multi() got an unexpected keyword argument 'topology'"),
        (lambda: pso.minimize_multi(zdt1, B4, 10, n_particles=10), TypeError,
         "minimize_multi() got multiple values for argument 'n_particles'"),
        (lambda: pso.minimize_multi(zdt1, B4, velocity=1), TypeError,
         "argument 'velocity': 'int' object cannot be converted to 'PyString'"),
        (lambda: pso.minimize_multi(zdt1, B4, integer=1), TypeError,
         "argument 'integer': 'int' object cannot be converted to 'PyBool'"),
        (lambda: pso.minimize_multi(zdt1, B4, var_types="real"), TypeError,
         "argument 'var_types': Can't extract `str` to `Vec`"),
        (lambda: pso.minimize_multi(zdt1, B4, var_types=3), TypeError,
         "argument 'var_types': 'int' object cannot be converted to 'Sequence'"),
        (lambda: pso.minimize_multi(zdt1, B4, bounds_handling=None), TypeError,
         "argument 'bounds_handling': 'NoneType' object cannot be converted to 'PyString'"),
    ],
)
def test_binding_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize("name", ["n_particles", "archive_size", "grid_divisions", "seed", "dim"])
def test_negative_counts_are_value_errors(name):
    with pytest.raises(ValueError, match=f"^{name} must be a non-negative whole number, got -1$"):
        pso.minimize_multi(zdt1, B4, **{name: -1})


@pytest.mark.parametrize("name", ["mutation_rate", "w", "v_max"])
def test_float_arguments_refuse_text(name):
    with pytest.raises(TypeError) as info:
        pso.minimize_multi(zdt1, B4, **{name: "x"})
    assert str(info.value).startswith(f"argument '{name}': ")


def test_every_parameter_can_be_given_positionally():
    args = [zdt1, B4, 8, 6, 50, 0.5, 1.2, 1.3, "constriction", 5, False, False, None, 0.2, None, 4, 0.3,
            "reflect", True]
    kwargs = dict(n_particles=8, max_iter=6, archive_size=50, w=0.5, c1=1.2, c2=1.3, velocity="constriction",
                  seed=5, mutation_rate=0.2, grid_divisions=4, v_max=0.3, bounds_handling="reflect")
    assert front_bits(pso.minimize_multi(*args)) == front_bits(pso.minimize_multi(zdt1, B4, **kwargs))


# ---- checks and their order ------------------------------------------------------------

FIPS = ("MOPSO needs a single-leader velocity ('inertia', 'constriction', 'spso2011' or "
        "'spso2011_uniform_radius'); 'fips' does not apply")


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        (dict(velocity="fips"), ValueError, FIPS),
        # the velocity name is looked at before anything else
        (dict(velocity="fips", bounds="nonsense", n_particles=0, archive_size=0), ValueError, FIPS),
        (dict(velocity="fips", bounds=[(1, 0)]), ValueError, FIPS),
        # other spellings are the factory's business
        (dict(velocity="FIPS"), ValueError, "unknown variant: 'FIPS'. Available: inertia, constriction, fips, spso2011, spso2011_uniform_radius"),
        (dict(velocity="fips "), ValueError, "unknown variant: 'fips '. Available: inertia, constriction, fips, spso2011, spso2011_uniform_radius"),
        # bounds before the swarm size
        (dict(bounds=[], n_particles=0), ValueError, "bounds is empty"),
        (dict(bounds=[(0, 1), (0, 1, 2)], n_particles=0), ValueError,
         "each bound must have exactly two values, (min, max)"),
        (dict(bounds=(0, 1), dim=0), ValueError, "dim must be >= 1"),
        (dict(bounds=B4, dim=3), ValueError, "dim=3 does not match the 4 bound pairs given"),
        # swarm size before v_max
        (dict(n_particles=0, v_max=-1.0), ValueError, "n_particles must be >= 1"),
        # v_max before the archive size
        (dict(v_max=float("inf"), archive_size=0), ValueError,
         "v_max must be a finite value >= 0 (or None to disable)"),
        # archive size before the velocity factory
        (dict(archive_size=0, velocity="nope"), ValueError, "archive_size must be >= 1"),
        # velocity before boundary mode
        (dict(velocity="nope", bounds_handling="nope"), ValueError,
         "unknown variant: 'nope'. Available: inertia, constriction, fips, spso2011, spso2011_uniform_radius"),
        # boundary mode before the variable types
        (dict(bounds_handling="Clamp", var_types=["real"]), ValueError,
         "unknown bounds_handling: 'Clamp'. Available: clamp, reflect, wrap, reinit"),
        (dict(var_types=["real"]), ValueError, "var_types length must match bounds"),
        (dict(var_types=["real"] * 5), ValueError, "var_types length must match bounds"),
        (dict(var_types=["real", "int", "bin", "Real"]), ValueError,
         "unknown variable type: 'Real'. Available: real, integer, binary"),
    ],
)
def test_checks_in_their_order(kwargs, error, message):
    objective = FailOn(0, value=two_spheres)
    arguments = dict(objective=objective, bounds=B4, n_particles=4, max_iter=2)
    arguments.update(kwargs)
    with pytest.raises(error) as info:
        pso.minimize_multi(**arguments)
    assert info.value.args == (message,)
    assert objective.calls == 0


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(bounds=[(1, 0)]), "invalid bound in dimension 0: 1 > 0"),
        (dict(bounds=[(0, 1), (0, float("nan"))]), "invalid bound in dimension 1: 0 > NaN"),
        (dict(bounds=[(0, 1), (3, 2)], var_types=["real", "int"]), "invalid bound in dimension 1: 3 > 2"),
        # integer ranges are rounded first: (0.6, 0.4) becomes (1, 0)
        (dict(bounds=[(0.6, 0.4)], integer=True), "invalid bound in dimension 0: 1 > 0"),
    ],
)
def test_space_construction_failures_arrive_as_panic(kwargs, message, capsys):
    arguments = dict(objective=two_spheres, n_particles=4, max_iter=2)
    arguments.update(kwargs)
    with pytest.raises(panic_type()) as info:
        pso.minimize_multi(**arguments)
    assert info.value.args == (message,)
    capsys.readouterr()
    assert pso.minimize_multi(two_spheres, B4, **SMALL).positions


def test_inverted_integer_bounds_that_round_to_one_value_are_accepted():
    seen = Recorder()
    pso.minimize_multi(seen, [(0.6, 0.5)], integer=True, **SMALL)
    assert {x[0] for x in seen.seen} == {1}


@pytest.mark.parametrize("v_max", [0, 0.0, -0.0, 2.5])
def test_v_max_accepted(v_max):
    assert len(pso.minimize_multi(two_spheres, B4, v_max=v_max, **SMALL).front_history) == 6


@pytest.mark.parametrize("v_max", [-1e-300, -1.0, float("nan"), float("inf"), float("-inf")])
def test_v_max_refused(v_max):
    with pytest.raises(ValueError) as info:
        pso.minimize_multi(two_spheres, B4, v_max=v_max)
    assert str(info.value) == "v_max must be a finite value >= 0 (or None to disable)"


def test_zero_velocity_limit_moves_particles_by_turbulence_only():
    front = pso.minimize_multi(two_spheres, B4, v_max=0.0, mutation_rate=0.0, **SMALL)
    history = front.swarm_history
    assert all(swarm == history[0] for swarm in history)


# ---- the space --------------------------------------------------------------------------

def test_integer_run_hands_ints_and_returns_whole_floats():
    seen = Recorder()
    front = pso.minimize_multi(seen, [(-0.5, 2.5), (-3.0, 3.0)], integer=True, n_particles=20, max_iter=10,
                               seed=2)
    assert all(type(v) is int for x in seen.seen for v in x)
    assert {x[0] for x in seen.seen} <= {-1, 0, 1, 2, 3}
    assert {-1, 3} <= {x[0] for x in seen.seen}  # rounded ends: (-0.5, 2.5) is (-1, 3)
    assert all(type(v) is float and v == int(v) for p in front.positions for v in p)
    internal = [v for swarm in front.swarm_history for p in swarm for v in p]
    assert any(v != int(v) for v in internal)


@pytest.mark.parametrize("integer", [False, True])
def test_binary_wins_and_ignores_the_bounds(integer):
    seen = Recorder()
    front = pso.minimize_multi(seen, [(1.0, 0.0), (-50.0, -40.0), (7.0, 9.0)], binary=True, integer=integer,
                               **SMALL)
    values = {v for x in seen.seen for v in x}
    assert values <= {0, 1} and all(type(v) is int for x in seen.seen for v in x)
    assert all(v in (0.0, 1.0) for p in front.positions for v in p)


@pytest.mark.parametrize("flags", [dict(integer=True), dict(binary=True), dict(integer=True, binary=True)])
def test_var_types_take_precedence_over_integer_and_binary(flags):
    var_types = ["real", "int", "bin", "float"]
    bounds = [(-2.0, 2.0)] * 4
    plain, flagged = Recorder(), Recorder()
    a = pso.minimize_multi(plain, bounds, var_types=var_types, **SMALL)
    b = pso.minimize_multi(flagged, bounds, var_types=var_types, **flags, **SMALL)
    assert front_bits(a) == front_bits(b)
    assert plain.seen == flagged.seen
    assert all(type(v) is float for x in flagged.seen for v in x)
    assert all(x[1] == int(x[1]) and x[2] in (0.0, 1.0) for x in flagged.seen)


def test_continuous_run_hands_floats_within_the_bounds():
    seen = Recorder()
    bounds = [(-1.0, 1.0), (10.0, 12.0)]
    front = pso.minimize_multi(seen, bounds, **SMALL)
    assert all(type(v) is float for x in seen.seen for v in x)
    assert all(lo <= v <= hi for x in seen.seen for v, (lo, hi) in zip(x, bounds))
    assert all(lo <= v <= hi for p in front.positions for v, (lo, hi) in zip(p, bounds))


@pytest.mark.parametrize("mode", ["clamp", "reflect", "wrap", "reinit"])
def test_every_boundary_mode_keeps_candidates_inside(mode):
    seen = Recorder()
    pso.minimize_multi(seen, [(0.0, 1.0)] * 3, bounds_handling=mode, c1=3.0, c2=3.0, **SMALL)
    assert all(0.0 <= v <= 1.0 for x in seen.seen for v in x)


def test_single_pair_with_dim_equals_the_pairs_written_out():
    a = pso.minimize_multi(zdt1, (0, 1), dim=4, **SMALL)
    b = pso.minimize_multi(zdt1, np.array(B4), **SMALL)
    assert front_bits(a) == front_bits(b)


# ---- the archive strategy and other options ---------------------------------------------

def test_grid_divisions_zero_behaves_as_one():
    kwargs = dict(n_particles=20, max_iter=10, archive_size=5, seed=9)
    zero = pso.minimize_multi(zdt1, B4, grid_divisions=0, **kwargs)
    one = pso.minimize_multi(zdt1, B4, grid_divisions=1, **kwargs)
    assert front_bits(zero) == front_bits(one)


def test_grid_and_crowding_prune_differently():
    kwargs = dict(n_particles=30, max_iter=15, archive_size=6, seed=9)
    crowding = pso.minimize_multi(zdt1, B4, **kwargs)
    explicit_none = pso.minimize_multi(zdt1, B4, grid_divisions=None, **kwargs)
    grid = pso.minimize_multi(zdt1, B4, grid_divisions=4, **kwargs)
    assert front_bits(crowding) == front_bits(explicit_none)
    assert front_bits(grid) != front_bits(crowding)
    assert len(grid.positions) <= 6 and len(crowding.positions) <= 6


def test_mutation_rate_zero_and_a_tiny_rate_draw_differently():
    kwargs = dict(n_particles=10, max_iter=8, seed=3)
    off = pso.minimize_multi(zdt1, B4, mutation_rate=0.0, **kwargs)
    tiny = pso.minimize_multi(zdt1, B4, mutation_rate=1e-300, **kwargs)
    negative = pso.minimize_multi(zdt1, B4, mutation_rate=-1.0, **kwargs)
    assert front_bits(off) != front_bits(tiny)
    assert front_bits(off) == front_bits(negative)  # no range test: 0 or less disables it


def test_velocity_rules_are_built_from_their_names():
    inertia = pso.minimize_multi(zdt1, B4, **SMALL)
    constriction = pso.minimize_multi(zdt1, B4, velocity="constriction", **SMALL)
    # constriction ignores w and falls back to 2.05/2.05 when c1 + c2 <= 4
    fallback = pso.minimize_multi(zdt1, B4, velocity="constriction", w=0.1, c1=2.05, c2=2.05, **SMALL)
    assert front_bits(inertia) != front_bits(constriction)
    assert front_bits(constriction) == front_bits(fallback)
    assert front_bits(inertia) != front_bits(pso.minimize_multi(zdt1, B4, w=0.1, **SMALL))


# ---- the objective adapter and its failures ---------------------------------------------

def test_objective_is_called_once_per_particle_and_iteration():
    seen = Recorder()
    front = pso.minimize_multi(seen, B4, **SMALL)
    assert len(seen.seen) == RUN_CALLS
    # the initial swarm is the first history entry (internal = decoded for a continuous space)
    assert front.swarm_history[0] == seen.seen[:8]


@pytest.mark.parametrize("n", [1, 3, 8, 9, RUN_CALLS])
def test_exception_on_call_n_is_raised_unchanged_after_the_run(n):
    objective = FailOn(n, value=two_spheres)
    with pytest.raises(RuntimeError) as info:
        pso.minimize_multi(objective, B4, **SMALL)
    assert info.value is objective.error
    assert objective.calls == n


@pytest.mark.parametrize("error", [KeyboardInterrupt(), SystemExit(2), ArithmeticError("a")])
def test_any_exception_is_kept_as_the_same_object(error):
    objective = FailOn(3, error, value=two_spheres)
    with pytest.raises(type(error)) as info:
        pso.minimize_multi(objective, B4, **SMALL)
    assert info.value is error
    assert objective.calls == 3


def test_objective_none_is_not_refused_up_front():
    with pytest.raises(TypeError) as info:
        pso.minimize_multi(None, B4, **SMALL)
    assert "'NoneType' object is not callable" in str(info.value)


class FloatSubclass(float):
    def __float__(self):  # never consulted: a float's own value is read
        return -1.0


@pytest.mark.parametrize(
    "convert",
    [
        tuple,
        np.array,
        lambda v: np.repeat(v, 2)[::2],
        lambda v: [np.float64(x) for x in v],
        # Exact floats first, then an item that is not one: read from the start again.
        lambda v: list(v[:-1]) + [np.float64(v[-1])],
        lambda v: list(v[:-1]) + [FloatSubclass(v[-1])],
    ],
)
def test_tuples_and_arrays_work_like_lists(convert):
    as_list = pso.minimize_multi(two_spheres, B4, **SMALL)
    other = pso.minimize_multi(lambda x: convert(two_spheres(x)), B4, **SMALL)
    assert front_bits(as_list) == front_bits(other)


@pytest.mark.parametrize(
    "answer, what, message",
    [
        ("ab", "a str", "Can't extract `str` to `Vec`"),
        (3.0, "a float", "'float' object cannot be converted to 'Sequence'"),
        (None, "None", "'NoneType' object cannot be converted to 'Sequence'"),
        ({1: 2.0}, "a dict", "'dict' object cannot be converted to 'Sequence'"),
        ([1.0, "x"], "a list whose item 1 is a str", interpreter_float_error("x")),
        ([1.0, None], "a list whose item 1 is None", interpreter_float_error(None)),
    ],
)
def test_unconvertible_results_are_raised_after_the_run(answer, what, message):
    calls = []

    def objective(x):
        calls.append(1)
        return answer

    with pytest.raises(TypeError) as info:
        pso.minimize_multi(objective, B4, **SMALL)
    assert str(info.value) == (f"objective returned {what} for particle 0; it must return a "
                               "sequence of numbers, one per objective")
    assert str(info.value.__cause__) == message
    assert len(calls) == 1


@pytest.mark.parametrize(
    "lengths, message",
    [
        ([2] * 5 + [3], "objective returned 3 values, but earlier evaluations returned 2"),
        ([2, 2, 1], "objective returned 1 value, but earlier evaluations returned 2"),
        ([3, 0], "objective returned 0 values, but earlier evaluations returned 3"),
        ([1] * 20 + [2], "objective returned 2 values, but earlier evaluations returned 1"),
    ],
)
def test_results_of_another_length_are_refused(lengths, message):
    calls = []

    def objective(x):
        calls.append(1)
        n = lengths[len(calls) - 1] if len(calls) <= len(lengths) else lengths[-1]
        return [x[0] + k for k in range(n)]

    with pytest.raises(ValueError) as info:
        pso.minimize_multi(objective, B4, **SMALL)
    assert str(info.value) == message
    assert len(calls) == len(lengths)


def test_nan_and_infinite_objectives_are_not_failures():
    front = pso.minimize_multi(lambda x: [math.inf if x[0] > 0.5 else x[0], -x[0]], B4, **SMALL)
    assert front.positions


@pytest.mark.parametrize("share", [0.0, 0.05, 1.0])
def test_vectors_holding_nan_never_enter_the_front(share):
    """NaN on a share of the space: the front keeps only real vectors (none when all are NaN),
    as good as a run where those points were never offered."""

    def zdt1(x):
        g = 1 + 9 * sum(x[1:]) / (len(x) - 1)
        f = [x[0], g * (1 - math.sqrt(x[0] / g))]
        if (x[1] * 7919.0) % 1.0 < share:
            f[1] = math.nan
        return f

    front = pso.minimize_multi(zdt1, (0, 1), dim=6, n_particles=40, max_iter=60, seed=3)
    assert not any(math.isnan(v) for obj in front.objectives for v in obj)
    assert not any(math.isnan(v) for snapshot in front.front_history for obj in snapshot for v in obj)
    if share == 1.0:
        assert front.objectives == []
    else:
        assert front.hypervolume([1.1, 1.1]) > 0.5


def test_kept_candidate_lists_are_never_changed_afterwards():
    kept, copies = [], []

    def objective(x):
        if len(kept) % 3 == 0:
            kept.append(x)
            copies.append(copy.copy(x))
        return two_spheres(x)

    pso.minimize_multi(objective, B4, **SMALL)
    assert kept == copies


def test_a_mutated_candidate_list_does_not_leak_into_the_next_call():
    lengths = []

    def objective(x):
        lengths.append(len(x))
        result = two_spheres(x)
        x.clear()
        return result

    pso.minimize_multi(objective, B4, **SMALL)
    assert lengths == [4] * RUN_CALLS


# ---- the front and its histories --------------------------------------------------------

def test_front_members_are_mutually_non_dominated_and_match_their_objectives():
    front = pso.minimize_multi(zdt1, [(0.0, 1.0)] * 6, n_particles=30, max_iter=25, archive_size=20, seed=4)
    assert type(front) is pso.ParetoFront
    assert 0 < len(front.positions) == len(front.objectives) <= 20
    assert repr(front) == f"ParetoFront(size={len(front.positions)})"
    for p, o in zip(front.positions, front.objectives):
        assert len(p) == 6 and len(o) == 2
        assert zdt1(p) == o
    for a in front.objectives:
        assert not any(dominates(b, a) for b in front.objectives)


def test_histories_have_one_entry_per_iteration():
    front = pso.minimize_multi(zdt1, B4, n_particles=7, max_iter=9, archive_size=3, seed=1)
    assert len(front.swarm_history) == len(front.front_history) == 9
    assert all(len(swarm) == 7 and all(len(p) == 4 for p in swarm) for swarm in front.swarm_history)
    for members in front.front_history:
        assert 1 <= len(members) <= 3
        assert all(len(o) == 2 for o in members)
        assert not any(dominates(a, b) for a in members for b in members)
    assert front.swarm_history is not front.swarm_history
    first_read = front.front_history
    first_read[0].append([9.0, 9.0])  # a change to one read does not reach the next
    second_read = front.front_history
    assert second_read[0] == first_read[0][:-1] and second_read[1:] == first_read[1:]


def test_front_history_starts_with_the_pruned_initial_archive():
    seen = Recorder(zdt1)
    front = pso.minimize_multi(seen, B4, n_particles=12, max_iter=3, archive_size=1000, seed=6)
    initial = [zdt1(x) for x in seen.seen[:12]]
    expected = []
    for o in initial:  # the non-dominated initial points in order, first of equals kept
        if not any(dominates(b, o) for b in initial) and o not in expected:
            expected.append(o)
    assert front.front_history[0] == expected


def test_record_history_false_leaves_both_histories_empty():
    front = pso.minimize_multi(zdt1, B4, record_history=False, **SMALL)
    assert front.swarm_history == [] and front.front_history == []
    assert front.positions


def test_max_iter_zero_evaluates_the_initial_swarm_only():
    seen = Recorder(zdt1)
    front = pso.minimize_multi(seen, B4, n_particles=9, max_iter=0, archive_size=2, seed=1)
    assert len(seen.seen) == 9
    assert front.swarm_history == [] and front.front_history == []
    assert 1 <= len(front.positions) <= 2
    assert all(p in seen.seen for p in front.positions)


def test_seeded_runs_are_reproducible_bit_for_bit():
    kwargs = dict(n_particles=15, max_iter=12, seed=123, grid_divisions=3, archive_size=8)
    assert front_bits(pso.minimize_multi(zdt1, B4, **kwargs)) == front_bits(pso.minimize_multi(zdt1, B4, **kwargs))
    assert front_bits(pso.minimize_multi(zdt1, B4, **kwargs)) != front_bits(
        pso.minimize_multi(zdt1, B4, **dict(kwargs, seed=124)))


def test_unseeded_runs_differ():
    a = pso.minimize_multi(zdt1, B4, n_particles=5, max_iter=2)
    b = pso.minimize_multi(zdt1, B4, n_particles=5, max_iter=2)
    assert a.swarm_history[0] != b.swarm_history[0]


def test_the_swarm_approaches_the_zdt1_front():
    front = pso.minimize_multi(zdt1, [(0.0, 1.0)] * 5, n_particles=40, max_iter=60, seed=7)
    # on the true front g = 1, so f2 = 1 - sqrt(f1)
    gaps = [o[1] - (1.0 - math.sqrt(o[0])) for o in front.objectives]
    assert min(gaps) >= -1e-12
    assert sum(gaps) / len(gaps) < 0.5


def test_reentrant_calls_are_independent():
    inner = []

    def objective(x):
        if len(inner) < 2:
            inner.append(front_bits(pso.minimize_multi(zdt1, B4, **SMALL)))
        return two_spheres(x)

    outer = front_bits(pso.minimize_multi(objective, B4, **SMALL))
    # each nested run is the run made alone, and the outer run is unaffected by them
    assert inner == [front_bits(pso.minimize_multi(zdt1, B4, **SMALL))] * 2
    assert outer == front_bits(pso.minimize_multi(two_spheres, B4, **SMALL))


def test_reference_counts_are_restored(capsys):
    failing = FailOn(2, value=two_spheres)
    seen = Recorder()
    watched = [failing, seen, B4]

    def cycle():
        seen.seen.clear()
        failing.calls = 0
        failing.error = RuntimeError("fresh")  # a raised instance keeps its traceback's frames
        pso.minimize_multi(seen, B4, integer=True, **SMALL).objectives
        for call in (lambda: pso.minimize_multi(failing, B4, **SMALL),
                     lambda: pso.minimize_multi(lambda x: "ab", B4, **SMALL),
                     lambda: pso.minimize_multi(lambda x, c=itertools.count(): [1.0] * (next(c) % 2 + 1), B4, **SMALL),
                     lambda: pso.minimize_multi(seen, B4, velocity="fips"),
                     lambda: pso.minimize_multi(seen, [(1, 0)]),
                     lambda: pso.minimize_multi(seen, B4, var_types=["x"] * 4)):
            try:
                call()
            except BaseException:  # noqa: BLE001 - PanicException included
                pass

    cycle()
    gc.collect()
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(20):
        cycle()
    gc.collect()
    capsys.readouterr()
    assert [sys.getrefcount(o) for o in watched] == before
