// The docstrings of Swarm and MultiSwarm, the classes a caller steps through a run.
#pragma once

namespace kestrelopt::native {

inline constexpr const char* kSwarmDoc =
    "Swarm(bounds, *, dim=None, n_particles=30, max_iter=100, w=0.729, c1=1.49445, "
    "c2=1.49445, velocity=\"inertia\", topology=\"global\", seed=None, v_max=None, "
    "bounds_handling=\"clamp\", integer=False, binary=False, var_types=None, init=None, "
    "record_history=True, patience=0, tol=0.0, max_evals=None, target=None, max_time=None, "
    "w_end=None, v_max_fraction=None, ring_neighbors=1, restarts=0, restart_growth=2.0, "
    "min_diameter=None, penalty=1e6, preset=None, crossover=0.0)\n"
    "--\n"
    "\n"
    "A single-objective search you drive yourself, with ``ask`` and ``tell``.\n"
    "\n"
    "Use it when the evaluations happen elsewhere (a job queue, a cluster, an\n"
    "instrument) or when the loop must survive a crash. Each round, ``ask()``\n"
    "gives the positions of the whole swarm and ``tell(values)`` takes their\n"
    "values, in the same order. The first round evaluates the initial swarm;\n"
    "each later one is one iteration. ``max_iter + 1`` rounds with a seed give\n"
    "exactly what ``minimize(f, vectorized=True, seed=...)`` gives with the\n"
    "same options.\n"
    "\n"
    "A ``Swarm`` pickles by value between calls (``pickle``, ``copy.deepcopy``):\n"
    "a run saved, loaded in another process and continued ends exactly as the\n"
    "run that never stopped.\n"
    "\n"
    "The options mean what they mean for ``minimize``. The stop rules\n"
    "(``max_iter``, ``patience``, ``target``, ``max_evals``, ``max_time``) end\n"
    "the run: ``stop_reason`` is then set and ``ask()`` raises ``ValueError``;\n"
    "``max_iter=None`` sets no iteration limit, as in ``minimize``.\n"
    "``restarts``, ``restart_growth`` and ``min_diameter`` work as for\n"
    "``minimize``: once a run stagnates, the next ``ask()`` gives the next run's\n"
    "larger swarm (``n_particles`` follows it), and the getters show the search\n"
    "so far.\n"
    "\n"
    "Args:\n"
    "    bounds: ``(min, max)`` per dimension, or one pair with ``dim``, as in\n"
    "        ``minimize``.\n"
    "    init (array-like | None): up to ``n_particles`` starting positions\n"
    "        (rows inside the bounds), for a warm start; the other particles\n"
    "        start at random. Defaults to ``None``.\n"
    "    max_time (float | None): seconds from the Swarm's creation; time it\n"
    "        spends pickled does not count. Defaults to ``None`` (no limit).\n"
    "    penalty (float): the weight of the violations told (see ``tell``), as\n"
    "        ``minimize`` weighs its constraints. Defaults to ``1e6``.\n"
    "    preset (str | None): a named set of options, as in ``minimize``; the\n"
    "        options passed win over it. Defaults to ``None``.\n"
    "    crossover (float): recombination instead of the rule's move with this\n"
    "        probability, as in ``minimize``. Defaults to ``0.0``.\n"
    "\n"
    "Example:\n"
    "    >>> import numpy as np\n"
    "    >>> import kestrelopt as pso\n"
    "    >>> swarm = pso.Swarm([(-5, 5)] * 3, n_particles=20, max_iter=50, seed=1)\n"
    "    >>> while swarm.stop_reason is None:\n"
    "    ...     X = swarm.ask()\n"
    "    ...     swarm.tell((X ** 2).sum(axis=1))\n"
    "    >>> swarm.best_value < 1e-3\n"
    "    True";

inline constexpr const char* kSwarmAskDoc =
    "ask($self)\n--\n\n"
    "The positions to evaluate next, a new float64 array of shape\n"
    "``(n_particles, dim)`` (integer and binary variables hold whole values).\n"
    "Asking again before ``tell`` gives the same positions. Raises ``ValueError``\n"
    "once the run has ended.";

inline constexpr const char* kSwarmTellDoc =
    "tell($self, values, violations=None)\n--\n\n"
    "The values of the positions the last ``ask()`` gave, one float per\n"
    "particle in row order (list, tuple or array). Updates the bests, then\n"
    "applies the stop rules. For a constrained problem, ``violations`` gives\n"
    "each particle's constraint violation, ``>= 0`` (0 when feasible): the\n"
    "sum ``minimize`` weighs by ``penalty``, ``sum(max(g, 0)**2) + sum(h**2)``\n"
    "over the inequality values ``g`` and the equality values ``h``, which\n"
    "``Swarm.violations`` makes of them. Each value told is then\n"
    "``value + penalty * violation``, exactly as ``minimize`` computes it, so a\n"
    "seeded loop gives what ``minimize(..., vectorized=True)`` gives with the\n"
    "same constraints. A NaN violation makes the value NaN (as a NaN equality\n"
    "value does in ``minimize``). Raises ``ValueError``, changing nothing,\n"
    "without an ``ask()`` before it, with the wrong number of values or\n"
    "violations, or with a negative violation.";

inline constexpr const char* kSwarmViolationsDoc =
    "violations(constraints, equality_constraints=None)\n--\n\n"
    "The violations ``tell`` takes, made of constraint values: ``constraints``\n"
    "holds one row of inequality values ``g`` per particle (feasible when\n"
    "``g <= 0``; an ``(N, K)`` array or N sequences), ``equality_constraints``\n"
    "one row of equality values ``h`` (feasible when ``h == 0``). Returns a new\n"
    "float64 array of ``sum(max(g, 0)**2) + sum(h**2)`` per row, added in the\n"
    "order ``minimize`` adds them (a NaN ``g`` adds 0, a NaN ``h`` makes the sum\n"
    "NaN).";

inline constexpr const char* kSwarmResultDoc =
    "result($self)\n--\n\n"
    "The run so far as a ``PsoResult``, like ``minimize``'s. Its ``stop_reason``\n"
    "is ``\"running\"`` while the run has not ended. The run is not changed.";

inline constexpr const char* kSwarmBestPositionDoc =
    "Best position so far (list of floats), None before the first tell().";
inline constexpr const char* kSwarmBestValueDoc =
    "Best value so far, None before the first tell().";
inline constexpr const char* kSwarmIterationDoc =
    "Iterations told so far (the initial swarm's round is not one).";
inline constexpr const char* kSwarmEvaluationsDoc = "Values told so far.";
inline constexpr const char* kSwarmConvergenceDoc =
    "Best value after each iteration (empty with record_history=False).";
inline constexpr const char* kSwarmStopReasonDoc =
    "Why the run ended (as PsoResult.stop_reason), or None while it goes on.";

inline constexpr const char* kMultiSwarmDoc =
    "MultiSwarm(bounds, *, dim=None, n_particles=100, max_iter=100, archive_size=100, "
    "w=0.729, c1=1.49445, c2=1.49445, velocity=\"inertia\", seed=None, integer=False, "
    "binary=False, var_types=None, mutation_rate=0.1, grid_divisions=None, v_max=None, "
    "bounds_handling=\"clamp\", record_history=True, v_max_fraction=None, max_evals=None, "
    "max_time=None, init=None, variant=\"mopso\", archive=None)\n"
    "--\n"
    "\n"
    "A multi-objective search you drive yourself, one particle or the whole\n"
    "swarm at a time.\n"
    "\n"
    "One particle at a time, each new point enters the archive before the next\n"
    "particle moves: ``ask()`` gives the next particle's position and\n"
    "``tell(objectives)`` takes its objective vector. With a seed, a loop of\n"
    "``n_particles * (max_iter + 1)`` rounds gives exactly what\n"
    "``minimize_multi(f, seed=...)`` gives with the same options. The whole\n"
    "swarm at a time, all particles move before any is evaluated:\n"
    "``ask_all()`` gives every position and ``tell_all(objectives)`` takes\n"
    "every objective vector; ``max_iter + 1`` such rounds give exactly what\n"
    "``minimize_multi(f, vectorized=True, seed=...)`` gives. A round is of one\n"
    "kind or the other; rounds of both kinds may follow each other.\n"
    "``front()`` returns the ``ParetoFront`` so far. A ``MultiSwarm`` pickles by\n"
    "value between calls and resumes bit for bit.\n"
    "\n"
    "The options mean what they mean for ``minimize_multi`` (``max_iter=None``\n"
    "included), and ``init`` and ``max_time`` what they mean for ``Swarm``.\n"
    "Constraints are not options: each point's violation is told with its\n"
    "objectives (see ``tell`` and ``tell_all``).\n"
    "\n"
    "Example:\n"
    "    >>> import kestrelopt as pso\n"
    "    >>> ms = pso.MultiSwarm([(0, 1)] * 2, n_particles=20, max_iter=30, seed=3)\n"
    "    >>> while ms.stop_reason is None:\n"
    "    ...     x = ms.ask()\n"
    "    ...     ms.tell([x[0], 1 - x[0] + x[1]])\n"
    "    >>> len(ms.front().positions) > 0\n"
    "    True";

inline constexpr const char* kMultiSwarmAskDoc =
    "ask($self)\n--\n\n"
    "The next particle's position, a new one-dimensional float64 array.\n"
    "Asking again before ``tell`` gives the same position. Raises\n"
    "``ValueError`` once the run has ended, or while a round of ``ask_all()``\n"
    "waits for its objectives.";

inline constexpr const char* kMultiSwarmAskAllDoc =
    "ask_all($self)\n--\n\n"
    "The positions of the whole swarm, moved for the next round, as a new\n"
    "float64 array of shape ``(n_particles, dim)``. Asking again before\n"
    "``tell_all`` gives the same positions. Raises ``ValueError`` once the run\n"
    "has ended, or while a round of single particles (``ask()``) is under way.";

inline constexpr const char* kMultiSwarmTellAllDoc =
    "tell_all($self, objectives, violations=None)\n--\n\n"
    "The objective vectors of the positions ``ask_all()`` gave: one row per\n"
    "particle (an ``(n_particles, M)`` array or sequences), every row of the\n"
    "same length as earlier points. ``violations``, for a constrained problem,\n"
    "gives each particle's total violation as ``tell``'s ``violation`` does\n"
    "(``MultiSwarm.violations`` makes them of constraint values); ``None``\n"
    "means all feasible. Updates the personal bests and the archive in particle\n"
    "order, then applies the stop rules. Raises ``ValueError``, changing\n"
    "nothing, without an ``ask_all()`` before it or with rows of the wrong\n"
    "number or length.";

inline constexpr const char* kMultiSwarmViolationsDoc =
    "violations(constraints, equality_constraints=None)\n--\n\n"
    "The total violations ``tell_all`` takes, made of constraint values:\n"
    "``constraints`` holds one row of inequality values ``g`` per particle\n"
    "(feasible when ``g <= 0``; an ``(N, K)`` array or N sequences),\n"
    "``equality_constraints`` one row of equality values ``h``. Returns a new\n"
    "float64 array of ``sum(max(g, 0)) + sum(abs(h))`` per row, added as\n"
    "``minimize_multi`` adds them (a NaN makes the violation infinite).";

inline constexpr const char* kMultiSwarmTellDoc =
    "tell($self, objectives, violation=0.0)\n--\n\n"
    "The objective vector of the position the last ``ask()`` gave (the same\n"
    "number of objectives every time) and, for a constrained problem, its total\n"
    "constraint violation: 0 (or less) when feasible, else the sum of\n"
    "``max(g, 0)`` over inequality constraints ``g <= 0`` and of ``abs(h)`` over\n"
    "equalities ``h == 0``, as ``minimize_multi`` computes it; NaN counts as\n"
    "infinitely violated. Raises ``ValueError``, changing nothing, without an\n"
    "``ask()`` before it or with a vector of another length.";

inline constexpr const char* kMultiSwarmFrontDoc =
    "front($self)\n--\n\n"
    "The front so far as a ``ParetoFront`` (pruned to ``archive_size``), like\n"
    "``minimize_multi``'s; its ``stop_reason`` is ``\"running\"`` while the run\n"
    "has not ended. The run is not changed.";

}  // namespace kestrelopt::native
