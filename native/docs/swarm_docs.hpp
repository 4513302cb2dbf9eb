// The docstrings of Swarm and MultiSwarm, the classes a caller steps through a run.
#pragma once

namespace kestrelopt::native {

inline constexpr const char* kSwarmDoc =
    "Swarm(bounds, *, dim=None, n_particles=30, max_iter=100, w=0.729, c1=1.49445, "
    "c2=1.49445, velocity=\"inertia\", topology=\"global\", seed=None, v_max=None, "
    "bounds_handling=\"clamp\", integer=False, binary=False, var_types=None, init=None, "
    "record_history=True, patience=0, tol=0.0, max_evals=None, target=None, max_time=None, "
    "w_end=None, v_max_fraction=None, ring_neighbors=1, restarts=0, restart_growth=2.0, "
    "min_diameter=None)\n"
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
    "the run: ``stop_reason`` is then set and ``ask()`` raises ``ValueError``.\n"
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
    "tell($self, values, /)\n--\n\n"
    "The values of the positions the last ``ask()`` gave, one float per\n"
    "particle in row order (list, tuple or array). Updates the bests, then\n"
    "applies the stop rules. Raises ``ValueError``, changing nothing, without\n"
    "an ``ask()`` before it or with the wrong number of values.";

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
    "max_time=None, init=None)\n"
    "--\n"
    "\n"
    "A multi-objective search you drive yourself, one particle at a time.\n"
    "\n"
    "The engine moves and evaluates particles one after the other (each new\n"
    "point enters the archive before the next particle moves), so ``ask()``\n"
    "gives the next particle's position and ``tell(objectives)`` takes its\n"
    "objective vector. With a seed, a loop of ``n_particles * (max_iter + 1)``\n"
    "rounds gives exactly what ``minimize_multi(f, seed=...)`` gives with the\n"
    "same options. ``front()`` returns the ``ParetoFront`` so far. A\n"
    "``MultiSwarm`` pickles by value between calls and resumes bit for bit.\n"
    "\n"
    "The options mean what they mean for ``minimize_multi``, and ``init`` and\n"
    "``max_time`` what they mean for ``Swarm``. Constraints are not options:\n"
    "each point's violation is told with its objectives (see ``tell``).\n"
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
    "``ValueError`` once the run has ended.";

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
