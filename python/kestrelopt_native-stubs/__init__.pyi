"""Type stubs for the native extension module ``kestrelopt_native``."""

from typing import (Any, Callable, Dict, List, Literal, Optional, Sequence, Tuple, Union, final,
                    overload)

import numpy as np
import numpy.typing as npt

# What minimize and minimize_multi return when given an executor.
from kestrelopt.parallel import DriveResult

__all__ = [
    "minimize",
    "minimize_multi",
    "minimize_grey",
    "hypervolume",
    "benchmark_info",
    "grey_benchmark_info",
    "presets",
    "PsoResult",
    "ParetoFront",
    "GreyResult",
    "Swarm",
    "MultiSwarm",
    "AsyncSwarm",
    "AsyncMultiSwarm",
]

_Pair = Tuple[float, float]
_Bounds = Union[Sequence[_Pair], Sequence[Sequence[float]], _Pair, Sequence[float], Any]
# Constraint callables, or "returned": the objective returns their values with its own.
_Constraints = Union[Sequence[Callable[[Any], Any]], Literal["returned"], None]

# The option strings, so that a type checker catches a misspelt one.
_Velocity = Literal["inertia", "constriction", "fips", "spso2011", "spso2011_uniform_radius"]
# minimize_multi and MultiSwarm, whose particles follow a single leader: no "fips".
_SingleLeaderVelocity = Literal["inertia", "constriction", "spso2011", "spso2011_uniform_radius"]
_Topology = Literal["global", "ring", "vonneumann", "von_neumann", "random", "adaptive_random"]
_BoundsHandling = Literal["clamp", "reflect", "wrap", "reinit"]
_MultiVariant = Literal["mopso", "smpso", "smpso_crossover"]
_ArchiveKind = Literal["crowding", "grid", "hypervolume", "decomposition"]
_VarType = Literal["real", "integer", "binary"]
_Representation = Literal["interval", "center_spread", "center-spread"]
_Preset = Literal["recommended", "robust", "robust_crossover", "exploit", "separable"]

@overload
def minimize(
    objective: Union[Callable[..., Any], str],
    bounds: _Bounds,
    integer: bool = False,
    n_particles: int = 30,
    max_iter: Optional[int] = 100,
    w: float = 0.729,
    c1: float = 1.49445,
    c2: float = 1.49445,
    velocity: _Velocity = "inertia",
    topology: _Topology = "global",
    seed: Optional[int] = None,
    record_history: bool = True,
    v_max: Union[None, float, Sequence[float]] = None,
    patience: int = 0,
    tol: float = 0.0,
    constraints: _Constraints = None,
    penalty: float = 1e6,
    binary: bool = False,
    max_evals: Optional[int] = None,
    target: Optional[float] = None,
    max_time: Optional[float] = None,
    callback: Optional[Callable[[int, float], Any]] = None,
    bounds_handling: _BoundsHandling = "clamp",
    vectorized: bool = False,
    var_types: Optional[Sequence[_VarType]] = None,
    dim: Optional[int] = None,
    equality_constraints: Optional[Sequence[Callable[[Any], float]]] = None,
    repair: Optional[Callable[[Any], Sequence[float]]] = None,
    w_end: Optional[float] = None,
    v_max_fraction: Optional[float] = None,
    ring_neighbors: int = 1,
    array_input: bool = False,
    init: Optional[Any] = None,
    restarts: int = 0,
    restart_growth: float = 2.0,
    min_diameter: Optional[float] = None,
    preset: Optional[_Preset] = None,
    crossover: float = 0.0,
    *,
    executor: None = None,
    max_in_flight: None = None,
    on_error: Literal["raise"] = "raise",
) -> PsoResult:
    """Minimizes an objective function with Particle Swarm Optimization.

    The function to optimize can be a Python callable or the name of a native
    benchmark; a native benchmark is faster, as it runs without calling back into Python.

    Args:
        objective: callable ``f(list[float]) -> float`` to minimize (it gets a
            NumPy array instead with ``array_input=True``), OR the name
            (str) of a native benchmark: ``"sphere"``, ``"rastrigin"``,
            ``"rosenbrock"``, ``"ackley"``, ``"griewank"``, ``"schwefel"``, and
            the CEC-family ``"bent_cigar"``, ``"discus"``, ``"elliptic"``,
            ``"zakharov"``, ``"levy"``, ``"expanded_schaffer"``.
        bounds: either a list of ``(min, max)`` pairs (one per dimension, so each
            dimension can have its own range) or a single ``(min, max)`` pair
            used for every dimension (then pass ``dim``).
        integer (bool): if ``True``, optimizes over integer variables (the
            position is discretized by rounding when evaluated). Defaults to ``False``.
        n_particles (int): swarm size. Defaults to 30.
        max_iter (int | None): number of iterations. Defaults to 100. ``None``
            sets no iteration limit: ``max_evals`` or ``max_time`` must then end
            the run (``target``, ``patience``, ``min_diameter`` and a callback may
            never fire), and ``w_end`` needs ``max_evals`` (the weight falls over
            the iterations they allow).
        w (float): inertia weight (``"inertia"`` and the ``"spso2011"`` rules).
            Defaults to 0.729.
        c1 (float): cognitive coefficient (attraction to the personal best).
        c2 (float): social coefficient (attraction to the neighborhood best).
        velocity (str): velocity variant: ``"inertia"``, ``"constriction"``,
            ``"fips"``, ``"spso2011"`` or ``"spso2011_uniform_radius"``.
            Defaults to ``"inertia"``. ``"constriction"`` and ``"fips"``
            derive their factor from ``c1 + c2`` (use 2.05/4.1 if the sum does not
            exceed 4). ``"spso2011"`` is the rotation-invariant rule of the 2011
            standard swarm: a point drawn uniformly in a ball around the centre of
            the particle and its two attractors. ``"spso2011_uniform_radius"``
            draws its distance from the centre uniformly instead, which keeps the
            steps shrinking in five or more dimensions (see the guide). Both use
            their own ``w = 1/(2 ln 2)`` and ``c1 = c2 = 0.5 + ln 2`` for each of
            ``w``, ``c1``, ``c2`` not passed.
        topology (str): social structure: ``"global"``, ``"ring"`` (see
            ``ring_neighbors``), ``"vonneumann"`` (also spelled ``"von_neumann"``),
            ``"random"`` or ``"adaptive_random"`` (each particle informs 3 others
            drawn at random, drawn anew after each iteration that did not improve
            the best value). Defaults to ``"global"``. FIPS performs better with
            local topologies (``"ring"``, ``"vonneumann"``).
        seed (int | None): RNG seed. Fix it for reproducible runs. Defaults to
            ``None`` (system seed).
        record_history (bool): if ``True`` (the default), stores the swarm
            trace for visualization. Disable it to save memory and time.
        v_max (float | list[float] | None): if set, clamps every velocity
            component to ``[-v_max, v_max]`` after each update; a list gives one
            limit per dimension, for boxes whose sides differ in scale. Each limit
            must be finite and ``>= 0``. Defaults to ``None`` (off). See also
            ``v_max_fraction``.
        patience (int): early stopping. Stop when the global best does not
            improve by more than ``tol`` for ``patience`` consecutive
            iterations. ``0`` (default) disables it (always runs ``max_iter``).
        tol (float): minimum improvement counted as progress for the
            ``patience`` window. Defaults to ``0.0``.
        constraints (list[callable] | "returned" | None): inequality
            constraints, each a callable ``g(x) -> float`` that is feasible when
            ``g(x) <= 0``. A quadratic penalty ``penalty * sum(max(0, g(x))**2)``
            is added to the objective. ``"returned"``: one call gives the value
            and the constraint values together (one simulation run, say): the
            objective returns a tuple ``(value, g)`` or ``(value, g, h)``, ``g``
            the inequality values and ``h`` the equality values (sequences),
            penalised exactly as callables returning them would be; then
            ``equality_constraints`` stays ``None``. Requires ``objective`` to be a
            Python callable (not a native benchmark name). Defaults to ``None``.
        penalty (float): weight of the constraint penalty (shared by the
            inequality and equality terms), ``>= 0``. Defaults to ``1e6``.
        equality_constraints (list[callable] | None): equality constraints, each
            a callable ``h(x) -> float`` that is feasible when ``h(x) == 0``. A
            quadratic penalty ``penalty * sum(h(x)**2)`` is added to the
            objective. Like ``constraints``, requires a Python objective (not a
            native benchmark). Defaults to ``None``. Note: equality constraints
            are sensitive to ``penalty`` — a very large value (e.g. the ``1e6``
            default) makes the feasible valley so steep the swarm converges onto
            a feasible but sub-optimal point; moderate weights (``1e3``-``1e4``)
            usually balance feasibility and objective better. For hard equalities
            a ``repair`` operator is often more robust.
        repair (callable | None): a repair operator ``repair(x) -> x'`` applied
            to each candidate before it is evaluated, mapping infeasible points
            back to (or towards) the feasible region. The objective and the
            constraints see the repaired point, and the returned
            ``best_position`` is repaired too, so the reported solution is
            consistent with its value. Requires a Python objective. Defaults to
            ``None``.
        binary (bool): if ``True``, optimize over binary variables ``{0, 1}``
            (a {0,1} integer space); the dimension is taken from ``bounds``.
            Defaults to ``False``.
        max_evals (int | None): stop after this many objective evaluations
            (tested after each iteration). The run still stops at ``max_iter``
            (100 by default): pass ``max_iter=None`` for a run that only the
            budget ends.
        target (float | None): stop as soon as the best value is ``<= target``.
        max_time (float | None): stop after this many seconds of wall-clock time
            (tested after each iteration); as for ``max_evals``, pass
            ``max_iter=None`` for a run that only the time ends.
        callback (callable | None): called once per iteration as
            ``callback(iteration, best_value)``. Return ``False`` to stop early
            (reported as ``stop_reason="callback"``); ``None`` or any other
            return continues. Useful for live logging or custom stopping.
        bounds_handling (str): what to do with particles that leave the bounds:
            ``"clamp"`` (default), ``"reflect"``, ``"wrap"`` or ``"reinit"``.
        vectorized (bool): if ``True``, ``objective`` receives the WHOLE swarm
            per call as a NumPy array (shape ``n_particles x dim``) and must
            return one value per row. This lets a NumPy-vectorized objective
            amortize its overhead over the swarm. Uses synchronous updates;
            incompatible with native benchmarks. Each constraint then takes the
            same array and returns one value per row; with
            ``constraints="returned"`` the objective returns ``(values, G)`` or
            ``(values, G, H)``, ``G`` and ``H`` holding one row of constraint
            values per particle (``(N, K)`` arrays or sequences). Each row is
            penalised exactly as the sequential mode penalises the same values.
            ``repair`` takes the array and returns the repaired one, of the same
            shape; the best position is repaired as a ``(1, dim)`` array. The
            callback is called after every iteration, as in the sequential mode.
            Defaults to ``False``.
        var_types (list[str] | None): per-dimension variable types for a mixed
            problem — each ``"real"``, ``"integer"`` or ``"binary"`` (same
            length as ``bounds``). Integer/binary dimensions come back as
            whole-valued floats. Takes precedence over ``integer``/``binary``.
        dim (int | None): number of dimensions when ``bounds`` is a single
            ``(min, max)`` pair (ignored when ``bounds`` is already a list).
        w_end (float | None): final inertia weight. With ``velocity="inertia"``
            the weight falls linearly from ``w`` at the first iteration to
            ``w_end`` at the last (the classic ``w=0.9, w_end=0.4``). The other
            velocity rules reject it. Defaults to ``None`` (constant ``w``).
        v_max_fraction (float | None): the velocity limit as a fraction ``f`` of
            each dimension's width: component ``d`` is clamped to
            ``[-f * (max_d - min_d), f * (max_d - min_d)]`` (with ``integer=True``
            the width of the rounded range; with ``binary=True`` 1). Needs bounds
            of finite width; not together with ``v_max``. Defaults to ``None``.
        ring_neighbors (int): neighbours taken on each side of a particle by the
            ``"ring"`` topology, at least 1 (``n_particles // 2`` or more makes
            every particle a neighbour). The other topologies have no such
            setting and accept only the default. Defaults to 1.
        array_input (bool): if ``True``, the objective, the constraints and the
            repair operator receive each candidate as a read-only one-dimensional
            ``float64`` NumPy array (integer and binary variables as whole-valued
            floats) instead of a list, so NumPy code such as ``(x ** 2).sum()``
            works as it is; ``repair`` may return an array. An array the callable
            keeps is never changed afterwards. A seeded run gives the same result
            as with lists. No effect on the callback, a vectorized objective or a
            native benchmark. Defaults to ``False``.
        init (array-like | None): starting positions for the first particles, a
            sequence of up to ``n_particles`` rows (or a 2-D array), each one
            position inside the bounds; particle ``i`` starts at row ``i``, the
            others where they would have started anyway (a seeded run draws the
            same numbers with or without ``init``). Warm-start from an earlier
            run with ``init=[result.best_position]``. Defaults to ``None``.
        restarts (int): how many times a run that stagnates (``patience``
            iterations without an improvement above ``tol``, or the swarm shrunk
            below ``min_diameter``) starts again with a larger swarm, while the
            budget lasts, keeping the best found. ``max_iter``, ``max_evals`` and
            ``max_time`` count over all runs; a run starts only while the
            evaluations left pay for its first two rounds. The first run is the
            run without restarts; run ``k`` has ``restart_growth ** k`` times the
            particles, no ``init`` and a seed derived from ``seed`` and ``k``. The
            result holds the best of all runs, ``convergence`` the best so far
            over all of them, ``history`` every run's swarms, and the callback is
            told the search's iteration and best value. Needs ``patience`` or
            ``min_diameter``. Defaults to ``0`` (no restarts).
        restart_growth (float): the factor by which each restart multiplies the
            number of particles, a finite number ``>= 1``. Defaults to ``2.0``.
        min_diameter (float | None): a stop rule: the run ends as stagnant
            (``stop_reason`` ``"stagnation"``) once, across the swarm, no
            coordinate spreads over more than this fraction of its bounds'
            width. Checked after ``patience``, before ``target``. Defaults to
            ``None`` (off).
        preset (str | None): a named set of options chosen from measurements
            on COCO's bbob suite (shifted, rotated and ill-conditioned
            functions): ``"recommended"`` (the same as ``"robust"``),
            ``"robust"``, ``"robust_crossover"``, ``"exploit"`` or
            ``"separable"``;
            ``kestrelopt.presets()`` lists their options. It sets the options
            the call does not pass: the options passed win (``n_particles=50``
            overrides a preset's swarm size). A swarm size that depends on the
            dimension is computed from ``bounds``. Presets with restarts pay
            off with a budget: pass ``max_evals`` (``max_iter=None``). Defaults
            to ``None``: no preset, every option at its default.
        crossover (float): the probability, per particle and iteration, that
            the particle's move is a recombination instead of the velocity rule's:
            its new position takes each coordinate from its leader's best with
            probability 1/2, else from its own best, and its velocity becomes
            that step (then ``v_max`` and ``bounds_handling`` apply as to any
            other). A particle that is its own leader always moves by the rule.
            It recombines good values of variables that act independently
            (bbob's separable functions), where the rotation-invariant rules
            cannot. A number in [0, 1]; ``ValueError`` with ``velocity="fips"``,
            which has no single leader. Defaults to ``0.0`` (off; no draw).
        executor (Executor | distributed.Client | None): evaluates the
            candidates on this ``concurrent.futures`` executor or Dask client,
            several at a time, with no round barrier: the run is
            ``kestrelopt.parallel.drive(AsyncSwarm(bounds, ...), objective,
            executor)`` with the same options, which moves each particle from the
            bests known when its evaluation is handed out. With one in flight it
            is exactly the run without ``executor``, bit for bit. Needs a Python
            objective; ``ValueError`` with ``vectorized``, callable
            ``constraints`` (``"returned"`` works), ``equality_constraints``,
            ``repair`` or ``restarts`` (a preset's restarts are left out). The
            executor stays the caller's to shut down. Defaults to ``None``.
        max_in_flight (int | None): with ``executor``, the most evaluations in
            flight. Defaults to ``None``: the executor's worker count where it
            can be read, else ``n_particles``.
        on_error (str | float): with ``executor``, what a failed evaluation
            does: ``"raise"`` (default) ends the run with its exception; a
            number is told as its value, and the result's ``failed`` counts them.

    Returns:
        PsoResult: with ``best_position``, ``best_value``, ``convergence`` and
        ``history``. With ``executor``, a ``kestrelopt.parallel.DriveResult``,
        which answers the same attributes and ``failed``.

    Raises:
        KeyError: if the name of a non-existent native benchmark is passed.
        ValueError: if the variant, topology or preset does not exist, or an
            option has an invalid value.
        Exception: propagates any error raised by the Python ``objective``.

    Example:
        >>> import kestrelopt as pso
        >>> r = pso.minimize("rastrigin", bounds=[(-5.12, 5.12)] * 2, seed=42)
        >>> r.best_value < 1e-3
        True
        >>> r = pso.minimize(lambda x: sum(xi*xi for xi in x),
        ...                  bounds=[(-5, 5)] * 3, velocity="fips", topology="ring")

    See docs/guide/velocity-and-topology.md for measured advice on which velocity,
    topology and bounds_handling to pick.
    """


@overload
def minimize(
    objective: Union[Callable[..., Any], str],
    bounds: _Bounds,
    integer: bool = False,
    n_particles: int = 30,
    max_iter: Optional[int] = 100,
    w: float = 0.729,
    c1: float = 1.49445,
    c2: float = 1.49445,
    velocity: _Velocity = "inertia",
    topology: _Topology = "global",
    seed: Optional[int] = None,
    record_history: bool = True,
    v_max: Union[None, float, Sequence[float]] = None,
    patience: int = 0,
    tol: float = 0.0,
    constraints: _Constraints = None,
    penalty: float = 1e6,
    binary: bool = False,
    max_evals: Optional[int] = None,
    target: Optional[float] = None,
    max_time: Optional[float] = None,
    callback: Optional[Callable[[int, float], Any]] = None,
    bounds_handling: _BoundsHandling = "clamp",
    vectorized: bool = False,
    var_types: Optional[Sequence[_VarType]] = None,
    dim: Optional[int] = None,
    equality_constraints: Optional[Sequence[Callable[[Any], float]]] = None,
    repair: Optional[Callable[[Any], Sequence[float]]] = None,
    w_end: Optional[float] = None,
    v_max_fraction: Optional[float] = None,
    ring_neighbors: int = 1,
    array_input: bool = False,
    init: Optional[Any] = None,
    restarts: int = 0,
    restart_growth: float = 2.0,
    min_diameter: Optional[float] = None,
    preset: Optional[_Preset] = None,
    crossover: float = 0.0,
    *,
    executor: Any,
    max_in_flight: Optional[int] = None,
    on_error: Union[str, float] = "raise",
) -> DriveResult: ...


@overload
def minimize_multi(
    objective: Callable[[Any], Sequence[float]],
    bounds: _Bounds,
    n_particles: int = 100,
    max_iter: Optional[int] = 100,
    archive_size: int = 100,
    w: float = 0.729,
    c1: float = 1.49445,
    c2: float = 1.49445,
    velocity: _SingleLeaderVelocity = "inertia",
    seed: Optional[int] = None,
    integer: bool = False,
    binary: bool = False,
    var_types: Optional[Sequence[_VarType]] = None,
    mutation_rate: float = 0.1,
    dim: Optional[int] = None,
    grid_divisions: Optional[int] = None,
    v_max: Union[None, float, Sequence[float]] = None,
    bounds_handling: _BoundsHandling = "clamp",
    record_history: bool = True,
    v_max_fraction: Optional[float] = None,
    array_input: bool = False,
    constraints: _Constraints = None,
    equality_constraints: Optional[Sequence[Callable[[Any], float]]] = None,
    vectorized: bool = False,
    max_evals: Optional[int] = None,
    max_time: Optional[float] = None,
    callback: Optional[Callable[[int, int], Any]] = None,
    init: Optional[Any] = None,
    variant: _MultiVariant = "mopso",
    archive: Optional[_ArchiveKind] = None,
    *,
    executor: None = None,
    max_in_flight: None = None,
    on_error: Literal["raise"] = "raise",
) -> ParetoFront:
    """Multi-objective optimization (MOPSO). Returns the Pareto front.

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
        and ``failed``.
    """


@overload
def minimize_multi(
    objective: Callable[[Any], Sequence[float]],
    bounds: _Bounds,
    n_particles: int = 100,
    max_iter: Optional[int] = 100,
    archive_size: int = 100,
    w: float = 0.729,
    c1: float = 1.49445,
    c2: float = 1.49445,
    velocity: _SingleLeaderVelocity = "inertia",
    seed: Optional[int] = None,
    integer: bool = False,
    binary: bool = False,
    var_types: Optional[Sequence[_VarType]] = None,
    mutation_rate: float = 0.1,
    dim: Optional[int] = None,
    grid_divisions: Optional[int] = None,
    v_max: Union[None, float, Sequence[float]] = None,
    bounds_handling: _BoundsHandling = "clamp",
    record_history: bool = True,
    v_max_fraction: Optional[float] = None,
    array_input: bool = False,
    constraints: _Constraints = None,
    equality_constraints: Optional[Sequence[Callable[[Any], float]]] = None,
    vectorized: bool = False,
    max_evals: Optional[int] = None,
    max_time: Optional[float] = None,
    callback: Optional[Callable[[int, int], Any]] = None,
    init: Optional[Any] = None,
    variant: _MultiVariant = "mopso",
    archive: Optional[_ArchiveKind] = None,
    *,
    executor: Any,
    max_in_flight: Optional[int] = None,
    on_error: Union[str, float] = "raise",
) -> DriveResult: ...


def minimize_grey(
    objective: Union[Callable[[Any], Any], str],
    bounds: _Bounds,
    max_spread: Union[None, float, Sequence[float]] = None,
    representation: _Representation = "interval",
    n_particles: int = 30,
    max_iter: Optional[int] = 100,
    w: float = 0.729,
    c1: float = 1.49445,
    c2: float = 1.49445,
    velocity: _Velocity = "inertia",
    topology: _Topology = "global",
    seed: Optional[int] = None,
    record_history: bool = True,
    v_max: Union[None, float, Sequence[float]] = None,
    patience: int = 0,
    tol: float = 0.0,
    max_evals: Optional[int] = None,
    target: Optional[float] = None,
    max_time: Optional[float] = None,
    dim: Optional[int] = None,
    w_end: Optional[float] = None,
    v_max_fraction: Optional[float] = None,
    ring_neighbors: int = 1,
    array_input: bool = False,
    init: Optional[Any] = None,
) -> GreyResult:
    """Minimizes a grey objective with PSO. Each variable is a *grey number*
    ⊗ = ``[lower, upper]`` constrained to lie within its ``bounds``; the swarm
    searches over its center and spread.

    The objective can be a Python *callable* that receives the candidate as a
    ``list[tuple[float, float]]`` (one pair per grey variable, in the
    ``representation`` you choose) and returns a single ``float`` (the
    whitenized scalar to minimize — e.g. via interval arithmetic and a
    whitenization rule of your choice), OR the name (str) of a native grey
    benchmark (``"grey_sphere"``), which runs without the GIL. With
    ``array_input=True`` the callable receives a read-only ``float64`` NumPy
    array of shape ``(n, 2)`` instead, row ``i`` holding the pair of grey
    variable ``i``.

    ``n_particles``, ``max_iter``, ``w``, ``c1``, ``c2``, ``velocity``,
    ``topology``, ``seed``, ``record_history``, ``patience``, ``tol``,
    ``max_evals``, ``target``, ``max_time``, ``dim``, ``w_end`` and
    ``ring_neighbors`` mean what they mean for ``minimize``. Grey bounds are
    enforced by projection onto the feasible region, so there is no
    ``bounds_handling``.

    Args:
        objective: callable ``f(list[tuple[float, float]]) -> float`` to minimize,
            OR the name (str) of a native grey benchmark: ``"grey_sphere"``.
        bounds: ``(lower, upper)`` LIMITS each grey number's interval must stay
            within — either a list of pairs (one per variable) or a single pair
            with ``dim``. The whole decoded interval is kept inside these limits.
        max_spread: optional extra cap on the half-width of each grey variable —
            ``None`` (default, limited only by ``bounds``), a single float
            (broadcast) or a list of floats (one per variable).
        representation (str): how each grey number is passed to (and read from)
            the objective: ``"interval"`` (default) gives ``(lower, upper)``
            pairs; ``"center_spread"`` gives ``(center, spread)`` pairs. Does not
            affect native benchmarks. The result always exposes both forms.
        v_max (float | list[float] | None): velocity limit as in ``minimize``; a
            list gives one limit per grey variable, which bounds both its center
            and its spread velocity. Defaults to ``None`` (off).
        v_max_fraction (float | None): the limit as a fraction ``f`` of each grey
            variable's widths: its center velocity is clamped to
            ``f * (upper - lower)`` of its ``bounds``, its spread velocity to
            ``f`` times its widest feasible spread,
            ``min((upper - lower) / 2, max_spread)``. Needs bounds of finite
            width; not together with ``v_max``. Defaults to ``None``.
        array_input (bool): if ``True``, a Python objective receives the
            candidate as a read-only ``(n, 2)`` ``float64`` NumPy array of the
            pairs in ``representation`` instead of a list of tuples (an array
            it keeps is never changed afterwards). A seeded run gives the same
            result as with lists. Defaults to ``False``.
        init (list | None): starting grey vectors for the first particles: up to
            ``n_particles`` rows, each one ``(lower, upper)`` interval per grey
            variable, inside the limits and no wider than ``2 * max_spread``;
            the other particles start where they would have anyway. Defaults to
            ``None``.

    Returns:
        GreyResult: with ``best_position`` (intervals), ``best_centers``,
        ``best_spreads``, ``best_value`` and ``convergence``.

    Example:
        >>> import kestrelopt as pso
        >>> # Find grey numbers whose midpoints minimize a sphere while staying crisp.
        >>> def f(greys):
        ...     centers = [(lo + hi) / 2 for (lo, hi) in greys]
        ...     spreads = [(hi - lo) / 2 for (lo, hi) in greys]
        ...     return sum(c * c for c in centers) + sum(spreads)
        >>> r = pso.minimize_grey(f, bounds=(-5, 5), dim=2, seed=42)
        >>> r.best_value < 1e-2
        True
    """

def hypervolume(
    front: Union[Sequence[Sequence[float]], npt.NDArray[Any]],
    reference: Union[Sequence[float], npt.NDArray[Any]],
) -> float:
    """Hypervolume of an arbitrary set of objective vectors (minimization).

    A free-standing version of :meth:`ParetoFront.hypervolume` for fronts not
    produced by ``minimize_multi`` (e.g. a reference front, or one loaded from
    disk for benchmarking).

    Args:
        front (list[list[float]]): objective vectors, one per solution. A
            vector of another length than the reference is ignored, without an
            error, as is one that is not strictly below the reference in every
            objective (or holds a NaN): neither dominates any of its box.
        reference (list[float]): the bounding "worst" point, one value per
            objective; each value should exceed the front in that objective.

    Returns:
        float: the hypervolume dominated by ``front`` under ``reference``.
    """

def _nondominated_ranks(points: npt.NDArray[Any]) -> npt.NDArray[np.intp]:
    """The non-domination rank of every row of an (n, m) array of numbers without NaN,
    as an intp array of shape (n,): the sort behind
    :func:`kestrelopt.indicators.nondominated_ranks`, which validates its argument.
    """

def _crowding_distance(points: npt.NDArray[Any]) -> npt.NDArray[np.float64]:
    """The crowding distance of every row of an (n, m) array of numbers without NaN,
    as a float64 array of shape (n,): the sort behind
    :func:`kestrelopt.indicators.crowding_distance`, which validates its argument.
    """

def _hypervolume_sweep(points: npt.ArrayLike, reference: npt.ArrayLike) -> float:
    """Exact hypervolume of an (n, m) float64 array of objective vectors under a
    reference of m values, by dimension sweeps (kestrelopt.indicators.hypervolume).
    Rows not strictly below the reference count for nothing; NaN is refused.
    Runs without the interpreter lock; Ctrl-C interrupts it.
    """

def _hypervolume_contributions(
    points: npt.ArrayLike, reference: npt.ArrayLike
) -> npt.NDArray[np.float64]:
    """Exclusive hypervolume contribution of each row of an (n, m) float64 array
    (kestrelopt.indicators.hypervolume_contributions), as a float64 array of n
    values. Runs without the interpreter lock; Ctrl-C interrupts it.
    """

def benchmark_info(name: str) -> Tuple[float, float]:
    """Metadata of a native benchmark: `(bound, optimum_value)`. `bound` is the
    recommended symmetric bound per dimension. Useful for auto-adjusting plot
    domains or building `bounds` without hardcoding them by hand.
    """

def presets(dim: Optional[int] = None) -> Dict[str, Dict[str, Union[str, int, float]]]:
    """The presets that ``minimize``, ``Swarm`` and ``AsyncSwarm`` take as
    ``preset=``, each with the options it sets.

    They were chosen on instances 1-5 of COCO's 24 bbob functions (shifted,
    rotated, ill-conditioned) in 5, 10 and 20 dimensions with ``bench/bbob/tune.py``,
    and measured again on instances the choice never saw
    (``docs/benchmarks-bbob.md``); the velocity-and-topology guide has the
    figures:

    - ``"robust"``: ``velocity="spso2011_uniform_radius"``,
      ``topology="adaptive_random"``, the 2011 standard's swarm of
      ``10 + floor(2 * sqrt(dim))`` particles, and restarts with twice the
      particles (``restarts=1000``, ``restart_growth=2.0``) once the swarm has
      shrunk to ``min_diameter=1e-9`` of the box or gone ``patience=100``
      iterations without improving by more than ``tol=1e-10``: of the
      candidates measured at 10^4 times the dimension, the largest area under
      the runtime ECDF over all 24 functions in 5, 10 and 20-D; at 10^3 times
      the dimension within 0.006 of the best.
    - ``"recommended"``: the options of ``"robust"``, the name to use when in
      doubt. It keeps them, so that its seeded runs stay as they were; a preset
      that measures better comes under a name of its own.
    - ``"robust_crossover"``: the options of ``"robust"`` and
      ``crossover=0.4``: four moves in ten recombine a particle's best with its
      leader's. At 10^4 times the dimension a larger area over all 24
      functions than ``"robust"`` in 5, 10 and 20-D, most of it on the
      separable functions.
    - ``"exploit"``: the rule, topology and swarm of ``"robust"`` without
      restarts: one run that converges as far as it can, for smooth functions
      where the last digits matter (``"robust"`` restarts once its
      improvements stay below 1e-10) or a short budget; at 10^3 times the
      dimension about as good as ``"robust"``, behind it at 10^4.
    - ``"separable"``: ``velocity="fips"``, ``topology="von_neumann"``, 30
      particles and restarts at ``min_diameter=1e-9``: at 10^4 times the
      dimension the best measured on the separable functions (variables that
      act independently), behind ``"robust"`` elsewhere.

    Presets with restarts need a budget to pay off: pass ``max_evals`` with
    ``max_iter=None``.

    Args:
        dim (int | None): the number of dimensions. With it, a swarm size that
            depends on the dimension is given as that size (an int); without
            it, as its formula (the str ``"10 + floor(2 * sqrt(dim))"``).

    Returns:
        dict: ``{name: {option: value}}``, a new dict at each call.

    Raises:
        ValueError: if ``dim`` is 0.

    Example:
        >>> import kestrelopt as pso
        >>> pso.presets(dim=10)["exploit"]["n_particles"]
        16
        >>> r = pso.minimize("rastrigin", (-5.12, 5.12), dim=10, preset="recommended",
        ...                  max_iter=None, max_evals=20000, seed=1)
    """

def grey_benchmark_info(name: str) -> Tuple[float, float, float]:
    """Metadata of a native grey benchmark: ``(center_bound, max_spread,
    optimum_value)``. ``center_bound`` is the recommended symmetric bound for
    each grey variable's center; ``max_spread`` the recommended maximum spread.
    Useful for building ``bounds``/``max_spread`` without hardcoding them.
    """

class PanicException(BaseException):
    """Raised when a consistency check inside the optimization core fails.

    It derives from BaseException, so a plain ``except Exception:`` does not catch it.
    The module stays usable afterwards."""

@final
class PsoResult:
    """Result of an optimization.

    Attributes:
        best_position (list[float]): best position found, already decoded
            to the space's type (integers if ``integer=True``).
        best_value (float): objective function value at ``best_position``.
        convergence (list[float]): global best value after each iteration (the
            convergence curve, useful for ``viz.plot_convergence``).
        history (list[list[list[float]]]): positions of all particles
            per iteration, indexed ``history[iteration][particle][dimension]``.
            Empty if run with ``record_history=False``. Required for
            ``viz.animate_swarm``.
        evaluations (int): total number of objective evaluations performed.
        stop_reason (str): why the run stopped — one of ``"max_iterations"``,
            ``"target"``, ``"max_evaluations"``, ``"stagnation"``, ``"max_time"``,
            ``"callback"``.
    """

    @property
    def best_position(self) -> list[float]:
        """Best position found (list of floats)."""
    @property
    def best_value(self) -> float:
        """Best objective function value."""
    @property
    def convergence(self) -> list[float]:
        """Convergence curve: best value per iteration."""
    @property
    def history(self) -> list[list[list[float]]]:
        """Positions per iteration: history[iter][particle][dim]. Empty if
        record_history=False."""
    @property
    def evaluations(self) -> int:
        """Total number of objective evaluations performed."""
    @property
    def stop_reason(self) -> str:
        """Why the run stopped (see the class docstring for the values)."""
    def to_numpy(self) -> dict[str, Any]:
        """The record as read-only float64 NumPy arrays, in a dict:
        ``best_position`` (D,), ``convergence`` (T,) and ``history`` (T, N, D)
        (``(0, 0, D)`` without a recorded history).

        The arrays look at the result's own memory, so they cost no copy however
        long the run, and keep the result alive. The list attributes stay as they are."""

@final
class GreyResult:
    """Result of a grey optimization returned by `minimize_grey`.

    Attributes:
        best_position (list[tuple[float, float]]): the best grey vector, one
            ``(lower, upper)`` interval per grey variable.
        best_centers (list[float]): center of each grey variable (``(lo+hi)/2``).
        best_spreads (list[float]): half-width of each grey variable
            (``(hi-lo)/2``, always ``>= 0``).
        best_value (float): objective value at ``best_position`` (the
            whitenized scalar the search minimized).
        convergence (list[float]): best value after each iteration.
        evaluations (int): total objective evaluations performed.
        stop_reason (str): why the run stopped (see ``PsoResult``).
    """

    @property
    def best_position(self) -> list[tuple[float, float]]:
        """Best grey vector as `(lower, upper)` intervals."""
    @property
    def best_centers(self) -> list[float]:
        """Center of each grey variable."""
    @property
    def best_spreads(self) -> list[float]:
        """Half-width (spread) of each grey variable."""
    @property
    def best_value(self) -> float:
        """Best objective value (whitenized scalar)."""
    @property
    def convergence(self) -> list[float]:
        """Convergence curve: best value per iteration."""
    @property
    def evaluations(self) -> int:
        """Total number of objective evaluations performed."""
    @property
    def stop_reason(self) -> str:
        """Why the run stopped."""
    def to_numpy(self) -> dict[str, Any]:
        """The record as read-only float64 NumPy arrays, in a dict:
        ``best_position`` (D, 2) of ``(lower, upper)`` rows, ``best_centers`` (D,),
        ``best_spreads`` (D,) and ``convergence`` (T,).

        The arrays look at the result's own memory and keep the result alive."""

@final
class ParetoFront:
    """An approximated Pareto front returned by `minimize_multi`.

    Attributes:
        positions (list[list[float]]): the non-dominated decision vectors.
        objectives (list[list[float]]): their objective values (same order).
        swarm_history (list[list[list[float]]]): swarm positions per iteration,
            indexed ``swarm_history[iteration][particle][dimension]``. Empty if
            run with ``record_history=False``.
        front_history (list[list[list[float]]]): the Pareto-front objective
            snapshots per iteration, indexed
            ``front_history[iteration][member][objective]``. Lets the front's
            evolution be animated. Empty if ``record_history=False``.
        violations (list[float]): total constraint violation of each member
            (same order): the sum of ``max(g, 0)`` over ``constraints`` and of
            ``abs(h)`` over ``equality_constraints``; zeros when every member is
            feasible, and always without constraints.
        evaluations (int): total number of objective evaluations performed.
        stop_reason (str): why the run stopped — ``"max_iterations"``,
            ``"max_evaluations"``, ``"max_time"``, ``"callback"`` or
            ``"interrupted"`` (the front of a ``KeyboardInterrupt``).
    """

    @property
    def positions(self) -> list[list[float]]:
        """Non-dominated decision vectors."""
    @property
    def objectives(self) -> list[list[float]]:
        """Objective values of each solution."""
    @property
    def swarm_history(self) -> list[list[list[float]]]:
        """Swarm positions per iteration (empty if record_history=False)."""
    @property
    def front_history(self) -> list[list[list[float]]]:
        """Pareto-front objective snapshots per iteration (empty if
        record_history=False)."""
    @property
    def violations(self) -> list[float]:
        """Total constraint violation of each solution (zeros when feasible)."""
    @property
    def evaluations(self) -> int:
        """Total number of objective evaluations performed."""
    @property
    def stop_reason(self) -> str:
        """Why the run stopped (see the class docstring for the values)."""
    def hypervolume(self, reference: Optional[Sequence[float]] = None) -> float:
        """Hypervolume of this front: the volume of objective space dominated by it
        and bounded by ``reference`` (minimization — larger is better). The
        standard single-indicator measure of front quality (convergence + spread).

        Args:
            reference (list[float] | None): the bounding "worst" point, with one
                value per objective. Each value must exceed the front in that
                objective. If ``None``, it is derived from the front's nadir
                (worst value per objective + 10% of its spread); convenient for a
                single run but **not** comparable across runs — pass an explicit,
                shared reference when comparing fronts.

        Returns:
            float: the hypervolume (``0.0`` for an empty front).
        """
    def to_numpy(self) -> dict[str, Any]:
        """The front as read-only float64 NumPy arrays, in a dict: ``positions`` (n, D),
        ``objectives`` (n, M), ``violations`` (n,), ``swarm_history`` (T, N, D) and
        ``front_history``, a list of T arrays of shape (k_t, M) (the archive's size
        varies).

        The histories look at the result's own memory, so they cost no copy however
        long the run, and keep the result alive."""

@final
class Swarm:
    """A single-objective search you drive yourself, with ``ask`` and ``tell``.

    Use it when the evaluations happen elsewhere (a job queue, a cluster, an
    instrument) or when the loop must survive a crash. Each round, ``ask()``
    gives the positions of the whole swarm and ``tell(values)`` takes their
    values, in the same order. The first round evaluates the initial swarm;
    each later one is one iteration. ``max_iter + 1`` rounds with a seed give
    exactly what ``minimize(f, vectorized=True, seed=...)`` gives with the
    same options.

    A ``Swarm`` pickles by value between calls (``pickle``, ``copy.deepcopy``):
    a run saved, loaded in another process and continued ends exactly as the
    run that never stopped.

    The options mean what they mean for ``minimize``. The stop rules
    (``max_iter``, ``patience``, ``target``, ``max_evals``, ``max_time``) end
    the run: ``stop_reason`` is then set and ``ask()`` raises ``ValueError``;
    ``max_iter=None`` sets no iteration limit, as in ``minimize``.
    ``restarts``, ``restart_growth`` and ``min_diameter`` work as for
    ``minimize``: once a run stagnates, the next ``ask()`` gives the next run's
    larger swarm (``n_particles`` follows it), and the getters show the search
    so far.

    Args:
        bounds: ``(min, max)`` per dimension, or one pair with ``dim``, as in
            ``minimize``.
        init (array-like | None): up to ``n_particles`` starting positions
            (rows inside the bounds), for a warm start; the other particles
            start at random. Defaults to ``None``.
        max_time (float | None): seconds from the Swarm's creation; time it
            spends pickled does not count. Defaults to ``None`` (no limit).
        penalty (float): the weight of the violations told (see ``tell``), as
            ``minimize`` weighs its constraints. Defaults to ``1e6``.
        preset (str | None): a named set of options, as in ``minimize``; the
            options passed win over it. Defaults to ``None``.
        crossover (float): recombination instead of the rule's move with this
            probability, as in ``minimize``. Defaults to ``0.0``.

    Example:
        >>> import numpy as np
        >>> import kestrelopt as pso
        >>> swarm = pso.Swarm([(-5, 5)] * 3, n_particles=20, max_iter=50, seed=1)
        >>> while swarm.stop_reason is None:
        ...     X = swarm.ask()
        ...     swarm.tell((X ** 2).sum(axis=1))
        >>> swarm.best_value < 1e-3
        True
    """

    def __new__(
        cls,
        bounds: _Bounds,
        *,
        dim: Optional[int] = None,
        n_particles: int = 30,
        max_iter: Optional[int] = 100,
        w: float = 0.729,
        c1: float = 1.49445,
        c2: float = 1.49445,
        velocity: _Velocity = "inertia",
        topology: _Topology = "global",
        seed: Optional[int] = None,
        v_max: Union[None, float, Sequence[float]] = None,
        bounds_handling: _BoundsHandling = "clamp",
        integer: bool = False,
        binary: bool = False,
        var_types: Optional[Sequence[_VarType]] = None,
        init: Optional[Any] = None,
        record_history: bool = True,
        patience: int = 0,
        tol: float = 0.0,
        max_evals: Optional[int] = None,
        target: Optional[float] = None,
        max_time: Optional[float] = None,
        w_end: Optional[float] = None,
        v_max_fraction: Optional[float] = None,
        ring_neighbors: int = 1,
        restarts: int = 0,
        restart_growth: float = 2.0,
        min_diameter: Optional[float] = None,
        penalty: float = 1e6,
        preset: Optional[_Preset] = None,
        crossover: float = 0.0,
    ) -> Swarm: ...
    def ask(self) -> npt.NDArray[np.float64]:
        """The positions to evaluate next, a new float64 array of shape
        ``(n_particles, dim)`` (integer and binary variables hold whole values).
        Asking again before ``tell`` gives the same positions. Raises ``ValueError``
        once the run has ended.
        """
    def tell(self, values: Any, violations: Any = None) -> None:
        """The values of the positions the last ``ask()`` gave, one float per
        particle in row order (list, tuple or array). Updates the bests, then
        applies the stop rules. For a constrained problem, ``violations`` gives
        each particle's constraint violation, ``>= 0`` (0 when feasible): the
        sum ``minimize`` weighs by ``penalty``, ``sum(max(g, 0)**2) + sum(h**2)``
        over the inequality values ``g`` and the equality values ``h``, which
        ``Swarm.violations`` makes of them. Each value told is then
        ``value + penalty * violation``, exactly as ``minimize`` computes it, so a
        seeded loop gives what ``minimize(..., vectorized=True)`` gives with the
        same constraints. A NaN violation makes the value NaN (as a NaN equality
        value does in ``minimize``). Raises ``ValueError``, changing nothing,
        without an ``ask()`` before it, with the wrong number of values or
        violations, or with a negative violation.
        """
    @staticmethod
    def violations(constraints: Any, equality_constraints: Any = None) -> Any:
        """The violations ``tell`` takes, made of constraint values: ``constraints``
        holds one row of inequality values ``g`` per particle (feasible when
        ``g <= 0``; an ``(N, K)`` array or N sequences), ``equality_constraints``
        one row of equality values ``h`` (feasible when ``h == 0``). Returns a new
        float64 array of ``sum(max(g, 0)**2) + sum(h**2)`` per row, added in the
        order ``minimize`` adds them (a NaN ``g`` adds 0, a NaN ``h`` makes the sum
        NaN).
        """
    def result(self) -> PsoResult:
        """The run so far as a ``PsoResult``, like ``minimize``'s. Its ``stop_reason``
        is ``"running"`` while the run has not ended. The run is not changed.
        """
    def __reduce__(self) -> Tuple[Any, ...]: ...
    @property
    def best_position(self) -> Optional[List[float]]:
        """Best position so far (list of floats), None before the first tell()."""
    @property
    def best_value(self) -> Optional[float]:
        """Best value so far, None before the first tell()."""
    @property
    def iteration(self) -> int:
        """Iterations told so far (the initial swarm's round is not one)."""
    @property
    def evaluations(self) -> int:
        """Values told so far."""
    @property
    def convergence(self) -> List[float]:
        """Best value after each iteration (empty with record_history=False)."""
    @property
    def stop_reason(self) -> Optional[str]:
        """Why the run ended (as PsoResult.stop_reason), or None while it goes on."""
    @property
    def n_particles(self) -> int:
        """Number of particles."""
    @property
    def dim(self) -> int:
        """Number of dimensions."""

@final
class MultiSwarm:
    """A multi-objective search you drive yourself, one particle or the whole
    swarm at a time.

    One particle at a time, each new point enters the archive before the next
    particle moves: ``ask()`` gives the next particle's position and
    ``tell(objectives)`` takes its objective vector. With a seed, a loop of
    ``n_particles * (max_iter + 1)`` rounds gives exactly what
    ``minimize_multi(f, seed=...)`` gives with the same options. The whole
    swarm at a time, all particles move before any is evaluated:
    ``ask_all()`` gives every position and ``tell_all(objectives)`` takes
    every objective vector; ``max_iter + 1`` such rounds give exactly what
    ``minimize_multi(f, vectorized=True, seed=...)`` gives. A round is of one
    kind or the other; rounds of both kinds may follow each other.
    ``front()`` returns the ``ParetoFront`` so far. A ``MultiSwarm`` pickles by
    value between calls and resumes bit for bit.

    The options mean what they mean for ``minimize_multi`` (``max_iter=None``
    included), and ``init`` and ``max_time`` what they mean for ``Swarm``.
    Constraints are not options: each point's violation is told with its
    objectives (see ``tell`` and ``tell_all``).

    Example:
        >>> import kestrelopt as pso
        >>> ms = pso.MultiSwarm([(0, 1)] * 2, n_particles=20, max_iter=30, seed=3)
        >>> while ms.stop_reason is None:
        ...     x = ms.ask()
        ...     ms.tell([x[0], 1 - x[0] + x[1]])
        >>> len(ms.front().positions) > 0
        True
    """

    def __new__(
        cls,
        bounds: _Bounds,
        *,
        dim: Optional[int] = None,
        n_particles: int = 100,
        max_iter: Optional[int] = 100,
        archive_size: int = 100,
        w: float = 0.729,
        c1: float = 1.49445,
        c2: float = 1.49445,
        velocity: _SingleLeaderVelocity = "inertia",
        seed: Optional[int] = None,
        integer: bool = False,
        binary: bool = False,
        var_types: Optional[Sequence[_VarType]] = None,
        mutation_rate: float = 0.1,
        grid_divisions: Optional[int] = None,
        v_max: Union[None, float, Sequence[float]] = None,
        bounds_handling: _BoundsHandling = "clamp",
        record_history: bool = True,
        v_max_fraction: Optional[float] = None,
        max_evals: Optional[int] = None,
        max_time: Optional[float] = None,
        init: Optional[Any] = None,
        variant: _MultiVariant = "mopso",
        archive: Optional[_ArchiveKind] = None,
    ) -> MultiSwarm: ...
    def ask(self) -> npt.NDArray[np.float64]:
        """The next particle's position, a new one-dimensional float64 array.
        Asking again before ``tell`` gives the same position. Raises
        ``ValueError`` once the run has ended, or while a round of ``ask_all()``
        waits for its objectives.
        """
    def ask_all(self) -> npt.NDArray[np.float64]:
        """The positions of the whole swarm, moved for the next round, as a new
        float64 array of shape ``(n_particles, dim)``. Asking again before
        ``tell_all`` gives the same positions. Raises ``ValueError`` once the run
        has ended, or while a round of single particles (``ask()``) is under way.
        """
    def tell_all(self, objectives: Any, violations: Any = None) -> None:
        """The objective vectors of the positions ``ask_all()`` gave: one row per
        particle (an ``(n_particles, M)`` array or sequences), every row of the
        same length as earlier points. ``violations``, for a constrained problem,
        gives each particle's total violation as ``tell``'s ``violation`` does
        (``MultiSwarm.violations`` makes them of constraint values); ``None``
        means all feasible. Updates the personal bests and the archive in particle
        order, then applies the stop rules. Raises ``ValueError``, changing
        nothing, without an ``ask_all()`` before it or with rows of the wrong
        number or length.
        """
    @staticmethod
    def violations(constraints: Any, equality_constraints: Any = None) -> Any:
        """The total violations ``tell_all`` takes, made of constraint values:
        ``constraints`` holds one row of inequality values ``g`` per particle
        (feasible when ``g <= 0``; an ``(N, K)`` array or N sequences),
        ``equality_constraints`` one row of equality values ``h``. Returns a new
        float64 array of ``sum(max(g, 0)) + sum(abs(h))`` per row, added as
        ``minimize_multi`` adds them (a NaN makes the violation infinite).
        """
    def tell(self, objectives: Any, violation: float = 0.0) -> None:
        """The objective vector of the position the last ``ask()`` gave (the same
        number of objectives every time) and, for a constrained problem, its total
        constraint violation: 0 (or less) when feasible, else the sum of
        ``max(g, 0)`` over inequality constraints ``g <= 0`` and of ``abs(h)`` over
        equalities ``h == 0``, as ``minimize_multi`` computes it; NaN counts as
        infinitely violated. Raises ``ValueError``, changing nothing, without an
        ``ask()`` before it or with a vector of another length.
        """
    def front(self) -> ParetoFront:
        """The front so far as a ``ParetoFront`` (pruned to ``archive_size``), like
        ``minimize_multi``'s; its ``stop_reason`` is ``"running"`` while the run
        has not ended. The run is not changed.
        """
    def __reduce__(self) -> Tuple[Any, ...]: ...
    @property
    def iteration(self) -> int:
        """Iterations completed (the initial swarm's round is not one)."""
    @property
    def front_size(self) -> int:
        """Points the front holds now, as front() would give them (what minimize_multi's callback is told)."""
    @property
    def particle(self) -> int:
        """Index of the particle the next ask() moves (or gives, if asked already)."""
    @property
    def evaluations(self) -> int:
        """Objective vectors told so far."""
    @property
    def stop_reason(self) -> Optional[str]:
        """Why the run ended (as ParetoFront.stop_reason), or None while it goes on."""
    @property
    def n_particles(self) -> int:
        """Number of particles."""
    @property
    def dim(self) -> int:
        """Number of dimensions."""

@final
class AsyncSwarm:
    """A single-objective search with several evaluations in flight, with no
    round barrier: the asynchronous form of ``minimize``'s default mode.

    ``ask()`` gives a ticket and the position of the next particle that is
    not being evaluated, in ``minimize``'s particle order (round robin,
    skipping particles in flight); the particle moves at that moment, from
    the bests known then. ``tell(ticket, value)`` takes a value in any order
    and updates the personal, neighbourhood and global bests at once. A
    worker that finishes early gets new work at once instead of waiting for
    the slowest evaluation of a round (``kestrelopt.parallel.drive`` keeps an
    executor busy this way).

    With one evaluation in flight (ask, tell, ask, tell, ...) a seeded
    ``AsyncSwarm`` asks exactly the positions and ends with exactly the result
    of ``minimize(f, seed=...)`` with the same options, bit for bit. With more
    in flight, the order of the asks and tells decides the run: the same
    order gives the same bits.

    An ``AsyncSwarm`` pickles by value (``pickle``, ``copy.deepcopy``), with
    its tickets in flight and their positions: told the same values, a loaded
    copy ends exactly as the original.

    The options mean what they mean for ``Swarm`` and ``minimize`` (an
    ``AsyncSwarm`` does not restart: ``restarts`` must stay ``0``). The stop
    rules count values told, ``n_particles`` of them making an iteration. The
    budget (``max_iter``, ``max_evals``, in whole iterations as ``minimize``
    counts them) limits the asks: once it has all been asked, ``ask()`` raises
    and the run ends when the last of those values is told. ``patience``,
    ``target``, ``max_time`` and ``min_diameter`` end the run when they fire,
    after an iteration; values still in flight may then be told (they count,
    and can improve the result) or dropped.

    Args:
        bounds: ``(min, max)`` per dimension, or one pair with ``dim``, as in
            ``minimize``.
        penalty (float): the weight of the violations told (see ``tell``), as
            ``minimize`` weighs its constraints. Defaults to ``1e6``.
        preset (str | None): a named set of options, as in ``minimize``,
            but without its ``restarts`` and ``restart_growth``: an
            ``AsyncSwarm`` stops where ``minimize`` would restart (its
            ``min_diameter`` ends the run). Defaults to ``None``.
        crossover (float): recombination instead of the rule's move with this
            probability, as in ``minimize``. Defaults to ``0.0``.

    Example:
        >>> import kestrelopt as pso
        >>> swarm = pso.AsyncSwarm([(-5, 5)] * 3, n_particles=10, seed=1)
        >>> flying = dict(swarm.ask() for _ in range(4))   # four in flight
        >>> while flying:
        ...     ticket, x = flying.popitem()                 # any order
        ...     swarm.tell(ticket, float((x ** 2).sum()))
        ...     if swarm.stop_reason is None and len(swarm.pending) < 4:
        ...         try:
        ...             t, y = swarm.ask()
        ...             flying[t] = y
        ...         except ValueError:                       # the budget is asked
        ...             pass
        >>> swarm.stop_reason, swarm.evaluations
        ('max_iterations', 1010)
    """

    def __new__(
        cls,
        bounds: _Bounds,
        *,
        dim: Optional[int] = None,
        n_particles: int = 30,
        max_iter: Optional[int] = 100,
        w: float = 0.729,
        c1: float = 1.49445,
        c2: float = 1.49445,
        velocity: _Velocity = "inertia",
        topology: _Topology = "global",
        seed: Optional[int] = None,
        v_max: Union[None, float, Sequence[float]] = None,
        bounds_handling: _BoundsHandling = "clamp",
        integer: bool = False,
        binary: bool = False,
        var_types: Optional[Sequence[_VarType]] = None,
        init: Optional[Any] = None,
        record_history: bool = True,
        patience: int = 0,
        tol: float = 0.0,
        max_evals: Optional[int] = None,
        target: Optional[float] = None,
        max_time: Optional[float] = None,
        w_end: Optional[float] = None,
        v_max_fraction: Optional[float] = None,
        ring_neighbors: int = 1,
        restarts: int = 0,
        restart_growth: float = 2.0,
        min_diameter: Optional[float] = None,
        penalty: float = 1e6,
        preset: Optional[_Preset] = None,
        crossover: float = 0.0,
    ) -> AsyncSwarm: ...
    def ask(self) -> Tuple[int, npt.NDArray[np.float64]]:
        """``(ticket, x)``: an int ticket and the position to evaluate, a new
        one-dimensional float64 array (integer and binary variables hold whole
        values). Each call hands out another particle. Raises ``ValueError`` when
        every particle is in flight, when the whole budget has been asked, and
        once the run has ended (naming its stop reason).
        """
    def tell(self, ticket: int, value: float, violation: float = 0.0) -> None:
        """The value of the position that ``ask()`` gave with ``ticket``, in any
        order. Updates the bests, then, when it completes an iteration, applies the
        stop rules; values of tickets still in flight are taken after the run has
        ended. For a constrained problem, ``violation`` is the point's constraint
        violation as ``Swarm.tell`` takes it, ``>= 0`` (0 when feasible): the sum
        ``sum(max(g, 0)**2) + sum(h**2)`` that ``AsyncSwarm.violations`` makes of
        the constraint values. The value told is then ``value + penalty *
        violation``, exactly as ``minimize`` computes it, so one evaluation in
        flight gives what ``minimize`` gives with the same constraints. Raises
        ``ValueError``, changing nothing, for a ticket that is not in flight (never
        asked, or told already) or a negative violation.
        """
    def position(self, ticket: int, /) -> npt.NDArray[np.float64]:
        """The position ``ask()`` gave with ``ticket``, which must be in flight (a
        new float64 array): to send the evaluations in flight again after a
        checkpoint was loaded. Raises ``ValueError`` for a ticket not in flight.
        """
    @staticmethod
    def violations(constraints: Any, equality_constraints: Any = None) -> Any:
        """The violations ``tell`` takes, made of constraint values: ``constraints``
        holds one row of inequality values ``g`` per particle (feasible when
        ``g <= 0``; an ``(N, K)`` array or N sequences), ``equality_constraints``
        one row of equality values ``h`` (feasible when ``h == 0``). Returns a new
        float64 array of ``sum(max(g, 0)**2) + sum(h**2)`` per row, added in the
        order ``minimize`` adds them (a NaN ``g`` adds 0, a NaN ``h`` makes the sum
        NaN).
        """
    def result(self) -> PsoResult:
        """The run so far as a ``PsoResult``, like ``minimize``'s. Its ``stop_reason``
        is ``"running"`` while the run has not ended. The run is not changed.
        Raises ``ValueError`` before the run has a best: until the starting
        swarm's values are told or a particle has moved.
        """
    def __reduce__(self) -> Tuple[Any, ...]: ...
    @property
    def pending(self) -> Tuple[int, ...]:
        """The tickets in flight, in the order they were asked (a tuple of ints)."""
    @property
    def asked(self) -> int:
        """Asks so far (the next ticket); at most the budget of evaluations."""
    @property
    def best_position(self) -> Optional[List[float]]:
        """Best position so far (list of floats), None before the run has a best."""
    @property
    def best_value(self) -> Optional[float]:
        """Best value so far, None before the run has a best."""
    @property
    def iteration(self) -> int:
        """Iterations told so far: every n_particles values after the starting swarm's."""
    @property
    def evaluations(self) -> int:
        """Values told so far."""
    @property
    def convergence(self) -> List[float]:
        """Best value after each iteration (empty with record_history=False)."""
    @property
    def stop_reason(self) -> Optional[str]:
        """Why the run ended (as PsoResult.stop_reason), or None while it goes on."""
    @property
    def n_particles(self) -> int:
        """Number of particles."""
    @property
    def dim(self) -> int:
        """Number of dimensions."""

@final
class AsyncMultiSwarm:
    """A multi-objective search with several evaluations in flight: the
    asynchronous form of ``minimize_multi``'s default mode, as ``AsyncSwarm``
    is of ``minimize``'s.

    ``ask()`` gives a ticket and the position of the next particle not being
    evaluated, in ``minimize_multi``'s particle order (round robin, skipping
    particles in flight), moved at that moment; an iteration's first move
    prunes the archive and fixes its leaders. ``tell(ticket, objectives,
    violation=0.0)`` takes an objective vector in any order and updates the
    particle's personal best and the archive at once. ``front()`` returns the
    ``ParetoFront`` so far.

    With one evaluation in flight a seeded ``AsyncMultiSwarm`` asks exactly
    the positions and ends with exactly the front of ``minimize_multi(f,
    seed=...)`` with the same options (constraints told as violations, grid
    archive included), bit for bit; with more, the order of the asks and tells
    decides the run. It pickles by value with its tickets in flight.

    The options mean what they mean for ``MultiSwarm``. The budget
    (``max_iter``, ``max_evals``, in whole iterations of ``n_particles``
    values) limits the asks: once it has all been asked, ``ask()`` raises and
    the run ends when the last of those values is told. ``max_time`` ends the
    run when it fires, after an iteration; values still in flight may then be
    told or dropped.

    Args:
        bounds: ``(min, max)`` per dimension, or one pair with ``dim``, as in
            ``minimize_multi``.

    Example:
        >>> import kestrelopt as pso
        >>> ms = pso.AsyncMultiSwarm([(0, 1)] * 2, n_particles=10, max_iter=20, seed=3)
        >>> flying = dict(ms.ask() for _ in range(3))
        >>> while flying:
        ...     ticket, x = flying.popitem()
        ...     ms.tell(ticket, [x[0], 1 - x[0] + x[1]])
        ...     if ms.asked < 210:                             # the budget
        ...         t, y = ms.ask()
        ...         flying[t] = y
        >>> ms.stop_reason, len(ms.front().positions) > 0
        ('max_iterations', True)
    """

    def __new__(
        cls,
        bounds: _Bounds,
        *,
        dim: Optional[int] = None,
        n_particles: int = 100,
        max_iter: Optional[int] = 100,
        archive_size: int = 100,
        w: float = 0.729,
        c1: float = 1.49445,
        c2: float = 1.49445,
        velocity: _SingleLeaderVelocity = "inertia",
        seed: Optional[int] = None,
        integer: bool = False,
        binary: bool = False,
        var_types: Optional[Sequence[_VarType]] = None,
        mutation_rate: float = 0.1,
        grid_divisions: Optional[int] = None,
        v_max: Union[None, float, Sequence[float]] = None,
        bounds_handling: _BoundsHandling = "clamp",
        record_history: bool = True,
        v_max_fraction: Optional[float] = None,
        max_evals: Optional[int] = None,
        max_time: Optional[float] = None,
        init: Optional[Any] = None,
        variant: _MultiVariant = "mopso",
        archive: Optional[_ArchiveKind] = None,
    ) -> AsyncMultiSwarm: ...
    def ask(self) -> Tuple[int, npt.NDArray[np.float64]]:
        """``(ticket, x)``: an int ticket and the position to evaluate, a new
        one-dimensional float64 array. Each call hands out another particle.
        Raises ``ValueError`` when every particle is in flight, when the whole
        budget has been asked, and once the run has ended.
        """
    def tell(self, ticket: int, objectives: Any, violation: float = 0.0) -> None:
        """The objective vector of the position ``ask()`` gave with ``ticket`` (the
        same number of objectives every time), in any order, and its total
        constraint violation as ``MultiSwarm.tell`` takes it (what
        ``AsyncMultiSwarm.violations`` makes of the constraint values). Raises
        ``ValueError``, changing nothing, for a ticket not in flight or a vector
        of another length.
        """
    def position(self, ticket: int, /) -> npt.NDArray[np.float64]:
        """The position ``ask()`` gave with ``ticket``, which must be in flight (a
        new float64 array): to send the evaluations in flight again after a
        checkpoint was loaded. Raises ``ValueError`` for a ticket not in flight.
        """
    @staticmethod
    def violations(constraints: Any, equality_constraints: Any = None) -> Any:
        """The total violations ``tell_all`` takes, made of constraint values:
        ``constraints`` holds one row of inequality values ``g`` per particle
        (feasible when ``g <= 0``; an ``(N, K)`` array or N sequences),
        ``equality_constraints`` one row of equality values ``h``. Returns a new
        float64 array of ``sum(max(g, 0)) + sum(abs(h))`` per row, added as
        ``minimize_multi`` adds them (a NaN makes the violation infinite).
        """
    def front(self) -> ParetoFront:
        """The ``ParetoFront`` so far, like ``minimize_multi``'s; its
        ``stop_reason`` is ``"running"`` while the run has not ended. The run is
        not changed.
        """
    def __reduce__(self) -> Tuple[Any, ...]: ...
    @property
    def pending(self) -> Tuple[int, ...]:
        """The tickets in flight, in the order they were asked (a tuple of ints)."""
    @property
    def asked(self) -> int:
        """Asks so far (the next ticket); at most the budget of evaluations."""
    @property
    def iteration(self) -> int:
        """Iterations told so far: every n_particles values after the starting swarm's."""
    @property
    def evaluations(self) -> int:
        """Objective vectors told so far."""
    @property
    def stop_reason(self) -> Optional[str]:
        """Why the run ended (as ParetoFront.stop_reason), or None while it goes on."""
    @property
    def n_particles(self) -> int:
        """Number of particles."""
    @property
    def dim(self) -> int:
        """Number of dimensions."""
