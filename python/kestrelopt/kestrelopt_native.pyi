"""Type stubs for the native extension module ``kestrelopt_native``."""

from typing import Any, Callable, Optional, Sequence, Tuple, Union, final

__all__ = [
    "minimize",
    "benchmark_info",
    "grey_benchmark_info",
    "PsoResult",
    "ParetoFront",
    "GreyResult",
]

_Pair = Tuple[float, float]
_Bounds = Union[Sequence[_Pair], Sequence[Sequence[float]], _Pair, Sequence[float], Any]

def minimize(
    objective: Union[Callable[..., Any], str],
    bounds: _Bounds,
    integer: bool = False,
    n_particles: int = 30,
    max_iter: int = 100,
    w: float = 0.729,
    c1: float = 1.49445,
    c2: float = 1.49445,
    velocity: str = "inertia",
    topology: str = "global",
    seed: Optional[int] = None,
    record_history: bool = True,
    v_max: Optional[float] = None,
    patience: int = 0,
    tol: float = 0.0,
    constraints: Optional[Sequence[Callable[[list], float]]] = None,
    penalty: float = 1e6,
    binary: bool = False,
    max_evals: Optional[int] = None,
    target: Optional[float] = None,
    max_time: Optional[float] = None,
    callback: Optional[Callable[[int, float], Any]] = None,
    bounds_handling: str = "clamp",
    vectorized: bool = False,
    var_types: Optional[Sequence[str]] = None,
    dim: Optional[int] = None,
    equality_constraints: Optional[Sequence[Callable[[list], float]]] = None,
    repair: Optional[Callable[[list], Sequence[float]]] = None,
) -> PsoResult:
    """Minimizes an objective function with Particle Swarm Optimization.

    The function to optimize can be a Python callable or the name of a native
    benchmark; a native benchmark is faster, as it runs without calling back into Python.

    Args:
        objective: callable ``f(list[float]) -> float`` to minimize, OR the name
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
        max_iter (int): number of iterations. Defaults to 100.
        w (float): inertia weight (``"inertia"`` variant). Defaults to 0.729.
        c1 (float): cognitive coefficient (attraction to the personal best).
        c2 (float): social coefficient (attraction to the neighborhood best).
        velocity (str): velocity variant: ``"inertia"``, ``"constriction"``
            or ``"fips"``. Defaults to ``"inertia"``. ``"constriction"`` and
            ``"fips"`` derive their factor from ``c1 + c2`` (use 2.05/4.1 if the
            sum does not exceed 4).
        topology (str): social structure: ``"global"``, ``"ring"``,
            ``"vonneumann"`` or ``"random"``. Defaults to ``"global"``. FIPS
            performs better with local topologies (``"ring"``, ``"vonneumann"``).
        seed (int | None): RNG seed. Fix it for reproducible runs. Defaults to
            ``None`` (system seed).
        record_history (bool): if ``True`` (the default), stores the swarm
            trace for visualization. Disable it to save memory and time.
        v_max (float | None): if set, clamps every velocity component to
            ``[-v_max, v_max]`` after each update. Defaults to ``None`` (off).
        patience (int): early stopping. Stop when the global best does not
            improve by more than ``tol`` for ``patience`` consecutive
            iterations. ``0`` (default) disables it (always runs ``max_iter``).
        tol (float): minimum improvement counted as progress for the
            ``patience`` window. Defaults to ``0.0``.
        constraints (list[callable] | None): inequality constraints, each a
            callable ``g(x) -> float`` that is feasible when ``g(x) <= 0``. A
            quadratic penalty ``penalty * sum(max(0, g(x))**2)`` is added to the
            objective. Requires ``objective`` to be a Python callable (not a
            native benchmark name). Defaults to ``None``.
        penalty (float): weight of the constraint penalty (shared by the
            inequality and equality terms). Defaults to ``1e6``.
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
        max_evals (int | None): stop after this many objective evaluations.
        target (float | None): stop as soon as the best value is ``<= target``.
        max_time (float | None): stop after this many seconds of wall-clock time.
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
            incompatible with native benchmarks, constraints and callback.
            Defaults to ``False``.
        var_types (list[str] | None): per-dimension variable types for a mixed
            problem — each ``"real"``, ``"integer"`` or ``"binary"`` (same
            length as ``bounds``). Integer/binary dimensions come back as
            whole-valued floats. Takes precedence over ``integer``/``binary``.
        dim (int | None): number of dimensions when ``bounds`` is a single
            ``(min, max)`` pair (ignored when ``bounds`` is already a list).

    Returns:
        PsoResult: with ``best_position``, ``best_value``, ``convergence`` and
        ``history``.

    Raises:
        KeyError: if the name of a non-existent native benchmark is passed.
        ValueError: if the variant or topology does not exist.
        Exception: propagates any error raised by the Python ``objective``.

    Example:
        >>> import kestrelopt as pso
        >>> r = pso.minimize("rastrigin", bounds=[(-5.12, 5.12)] * 2, seed=42)
        >>> r.best_value < 1e-3
        True
        >>> r = pso.minimize(lambda x: sum(xi*xi for xi in x),
        ...                  bounds=[(-5, 5)] * 3, velocity="fips", topology="ring")
    """

def benchmark_info(name: str) -> Tuple[float, float]:
    """Metadata of a native benchmark: `(bound, optimum_value)`. `bound` is the
    recommended symmetric bound per dimension. Useful for auto-adjusting plot
    domains or building `bounds` without hardcoding them by hand.
    """

def grey_benchmark_info(name: str) -> Tuple[float, float, float]:
    """Metadata of a native grey benchmark: ``(center_bound, max_spread,
    optimum_value)``. ``center_bound`` is the recommended symmetric bound for
    each grey variable's center; ``max_spread`` the recommended maximum spread.
    Useful for building ``bounds``/``max_spread`` without hardcoding them.
    """

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
