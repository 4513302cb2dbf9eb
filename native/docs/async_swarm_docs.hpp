// The docstrings of AsyncSwarm and AsyncMultiSwarm, the sequential searches with several
// evaluations in flight.
#pragma once

namespace kestrelopt::native {

inline constexpr const char* kAsyncSwarmDoc =
    "AsyncSwarm(bounds, *, dim=None, n_particles=30, max_iter=100, w=0.729, c1=1.49445, "
    "c2=1.49445, velocity=\"inertia\", topology=\"global\", seed=None, v_max=None, "
    "bounds_handling=\"clamp\", integer=False, binary=False, var_types=None, init=None, "
    "record_history=True, patience=0, tol=0.0, max_evals=None, target=None, max_time=None, "
    "w_end=None, v_max_fraction=None, ring_neighbors=1, restarts=0, restart_growth=2.0, "
    "min_diameter=None, penalty=1e6, preset=None, crossover=0.0)\n"
    "--\n"
    "\n"
    "A single-objective search with several evaluations in flight, with no\n"
    "round barrier: the asynchronous form of ``minimize``'s default mode.\n"
    "\n"
    "``ask()`` gives a ticket and the position of the next particle that is\n"
    "not being evaluated, in ``minimize``'s particle order (round robin,\n"
    "skipping particles in flight); the particle moves at that moment, from\n"
    "the bests known then. ``tell(ticket, value)`` takes a value in any order\n"
    "and updates the personal, neighbourhood and global bests at once. A\n"
    "worker that finishes early gets new work at once instead of waiting for\n"
    "the slowest evaluation of a round (``kestrelopt.parallel.drive`` keeps an\n"
    "executor busy this way).\n"
    "\n"
    "With one evaluation in flight (ask, tell, ask, tell, ...) a seeded\n"
    "``AsyncSwarm`` asks exactly the positions and ends with exactly the result\n"
    "of ``minimize(f, seed=...)`` with the same options, bit for bit. With more\n"
    "in flight, the order of the asks and tells decides the run: the same\n"
    "order gives the same bits.\n"
    "\n"
    "An ``AsyncSwarm`` pickles by value (``pickle``, ``copy.deepcopy``), with\n"
    "its tickets in flight and their positions: told the same values, a loaded\n"
    "copy ends exactly as the original.\n"
    "\n"
    "The options mean what they mean for ``Swarm`` and ``minimize`` (an\n"
    "``AsyncSwarm`` does not restart: ``restarts`` must stay ``0``). The stop\n"
    "rules count values told, ``n_particles`` of them making an iteration. The\n"
    "budget (``max_iter``, ``max_evals``, in whole iterations as ``minimize``\n"
    "counts them) limits the asks: once it has all been asked, ``ask()`` raises\n"
    "and the run ends when the last of those values is told. ``patience``,\n"
    "``target``, ``max_time`` and ``min_diameter`` end the run when they fire,\n"
    "after an iteration; values still in flight may then be told (they count,\n"
    "and can improve the result) or dropped.\n"
    "\n"
    "Args:\n"
    "    bounds: ``(min, max)`` per dimension, or one pair with ``dim``, as in\n"
    "        ``minimize``.\n"
    "    penalty (float): the weight of the violations told (see ``tell``), as\n"
    "        ``minimize`` weighs its constraints. Defaults to ``1e6``.\n"
    "    preset (str | None): a named set of options, as in ``minimize``,\n"
    "        but without its ``restarts`` and ``restart_growth``: an\n"
    "        ``AsyncSwarm`` stops where ``minimize`` would restart (its\n"
    "        ``min_diameter`` ends the run). Defaults to ``None``.\n"
    "    crossover (float): recombination instead of the rule's move with this\n"
    "        probability, as in ``minimize``. Defaults to ``0.0``.\n"
    "\n"
    "Example:\n"
    "    >>> import kestrelopt as pso\n"
    "    >>> swarm = pso.AsyncSwarm([(-5, 5)] * 3, n_particles=10, seed=1)\n"
    "    >>> flying = dict(swarm.ask() for _ in range(4))   # four in flight\n"
    "    >>> while flying:\n"
    "    ...     ticket, x = flying.popitem()                 # any order\n"
    "    ...     swarm.tell(ticket, float((x ** 2).sum()))\n"
    "    ...     if swarm.stop_reason is None and len(swarm.pending) < 4:\n"
    "    ...         try:\n"
    "    ...             t, y = swarm.ask()\n"
    "    ...             flying[t] = y\n"
    "    ...         except ValueError:                       # the budget is asked\n"
    "    ...             pass\n"
    "    >>> swarm.stop_reason, swarm.evaluations\n"
    "    ('max_iterations', 1010)";

inline constexpr const char* kAsyncSwarmAskDoc =
    "ask($self)\n--\n\n"
    "``(ticket, x)``: an int ticket and the position to evaluate, a new\n"
    "one-dimensional float64 array (integer and binary variables hold whole\n"
    "values). Each call hands out another particle. Raises ``ValueError`` when\n"
    "every particle is in flight, when the whole budget has been asked, and\n"
    "once the run has ended (naming its stop reason).";

inline constexpr const char* kAsyncSwarmTellDoc =
    "tell($self, ticket, value, violation=0.0)\n--\n\n"
    "The value of the position that ``ask()`` gave with ``ticket``, in any\n"
    "order. Updates the bests, then, when it completes an iteration, applies the\n"
    "stop rules; values of tickets still in flight are taken after the run has\n"
    "ended. For a constrained problem, ``violation`` is the point's constraint\n"
    "violation as ``Swarm.tell`` takes it, ``>= 0`` (0 when feasible): the sum\n"
    "``sum(max(g, 0)**2) + sum(h**2)`` that ``AsyncSwarm.violations`` makes of\n"
    "the constraint values. The value told is then ``value + penalty *\n"
    "violation``, exactly as ``minimize`` computes it, so one evaluation in\n"
    "flight gives what ``minimize`` gives with the same constraints. Raises\n"
    "``ValueError``, changing nothing, for a ticket that is not in flight (never\n"
    "asked, or told already) or a negative violation.";

inline constexpr const char* kAsyncSwarmPositionDoc =
    "position($self, ticket, /)\n--\n\n"
    "The position ``ask()`` gave with ``ticket``, which must be in flight (a\n"
    "new float64 array): to send the evaluations in flight again after a\n"
    "checkpoint was loaded. Raises ``ValueError`` for a ticket not in flight.";

inline constexpr const char* kAsyncSwarmResultDoc =
    "result($self)\n--\n\n"
    "The run so far as a ``PsoResult``, like ``minimize``'s. Its ``stop_reason``\n"
    "is ``\"running\"`` while the run has not ended. The run is not changed.\n"
    "Raises ``ValueError`` before the run has a best: until the starting\n"
    "swarm's values are told or a particle has moved.";

inline constexpr const char* kAsyncSwarmPendingDoc =
    "The tickets in flight, in the order they were asked (a tuple of ints).";
inline constexpr const char* kAsyncSwarmAskedDoc =
    "Asks so far (the next ticket); at most the budget of evaluations.";
inline constexpr const char* kAsyncSwarmBestPositionDoc =
    "Best position so far (list of floats), None before the run has a best.";
inline constexpr const char* kAsyncSwarmBestValueDoc =
    "Best value so far, None before the run has a best.";
inline constexpr const char* kAsyncSwarmIterationDoc =
    "Iterations told so far: every n_particles values after the starting swarm's.";

inline constexpr const char* kAsyncMultiSwarmDoc =
    "AsyncMultiSwarm(bounds, *, dim=None, n_particles=100, max_iter=100, archive_size=100, "
    "w=0.729, c1=1.49445, c2=1.49445, velocity=\"inertia\", seed=None, integer=False, "
    "binary=False, var_types=None, mutation_rate=0.1, grid_divisions=None, v_max=None, "
    "bounds_handling=\"clamp\", record_history=True, v_max_fraction=None, max_evals=None, "
    "max_time=None, init=None, variant=\"mopso\", archive=None)\n"
    "--\n"
    "\n"
    "A multi-objective search with several evaluations in flight: the\n"
    "asynchronous form of ``minimize_multi``'s default mode, as ``AsyncSwarm``\n"
    "is of ``minimize``'s.\n"
    "\n"
    "``ask()`` gives a ticket and the position of the next particle not being\n"
    "evaluated, in ``minimize_multi``'s particle order (round robin, skipping\n"
    "particles in flight), moved at that moment; an iteration's first move\n"
    "prunes the archive and fixes its leaders. ``tell(ticket, objectives,\n"
    "violation=0.0)`` takes an objective vector in any order and updates the\n"
    "particle's personal best and the archive at once. ``front()`` returns the\n"
    "``ParetoFront`` so far.\n"
    "\n"
    "With one evaluation in flight a seeded ``AsyncMultiSwarm`` asks exactly\n"
    "the positions and ends with exactly the front of ``minimize_multi(f,\n"
    "seed=...)`` with the same options (constraints told as violations, grid\n"
    "archive included), bit for bit; with more, the order of the asks and tells\n"
    "decides the run. It pickles by value with its tickets in flight.\n"
    "\n"
    "The options mean what they mean for ``MultiSwarm``. The budget\n"
    "(``max_iter``, ``max_evals``, in whole iterations of ``n_particles``\n"
    "values) limits the asks: once it has all been asked, ``ask()`` raises and\n"
    "the run ends when the last of those values is told. ``max_time`` ends the\n"
    "run when it fires, after an iteration; values still in flight may then be\n"
    "told or dropped.\n"
    "\n"
    "Args:\n"
    "    bounds: ``(min, max)`` per dimension, or one pair with ``dim``, as in\n"
    "        ``minimize_multi``.\n"
    "\n"
    "Example:\n"
    "    >>> import kestrelopt as pso\n"
    "    >>> ms = pso.AsyncMultiSwarm([(0, 1)] * 2, n_particles=10, max_iter=20, seed=3)\n"
    "    >>> flying = dict(ms.ask() for _ in range(3))\n"
    "    >>> while flying:\n"
    "    ...     ticket, x = flying.popitem()\n"
    "    ...     ms.tell(ticket, [x[0], 1 - x[0] + x[1]])\n"
    "    ...     if ms.asked < 210:                             # the budget\n"
    "    ...         t, y = ms.ask()\n"
    "    ...         flying[t] = y\n"
    "    >>> ms.stop_reason, len(ms.front().positions) > 0\n"
    "    ('max_iterations', True)";

inline constexpr const char* kAsyncMultiSwarmAskDoc =
    "ask($self)\n--\n\n"
    "``(ticket, x)``: an int ticket and the position to evaluate, a new\n"
    "one-dimensional float64 array. Each call hands out another particle.\n"
    "Raises ``ValueError`` when every particle is in flight, when the whole\n"
    "budget has been asked, and once the run has ended.";

inline constexpr const char* kAsyncMultiSwarmTellDoc =
    "tell($self, ticket, objectives, violation=0.0)\n--\n\n"
    "The objective vector of the position ``ask()`` gave with ``ticket`` (the\n"
    "same number of objectives every time), in any order, and its total\n"
    "constraint violation as ``MultiSwarm.tell`` takes it (what\n"
    "``AsyncMultiSwarm.violations`` makes of the constraint values). Raises\n"
    "``ValueError``, changing nothing, for a ticket not in flight or a vector\n"
    "of another length.";

inline constexpr const char* kAsyncMultiSwarmFrontDoc =
    "front($self)\n--\n\n"
    "The ``ParetoFront`` so far, like ``minimize_multi``'s; its\n"
    "``stop_reason`` is ``\"running\"`` while the run has not ended. The run is\n"
    "not changed.";

}  // namespace kestrelopt::native
