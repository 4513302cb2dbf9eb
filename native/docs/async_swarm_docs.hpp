// The docstrings of AsyncSwarm, the sequential search with several evaluations in flight.
#pragma once

namespace kestrelopt::native {

inline constexpr const char* kAsyncSwarmDoc =
    "AsyncSwarm(bounds, *, dim=None, n_particles=30, max_iter=100, w=0.729, c1=1.49445, "
    "c2=1.49445, velocity=\"inertia\", topology=\"global\", seed=None, v_max=None, "
    "bounds_handling=\"clamp\", integer=False, binary=False, var_types=None, init=None, "
    "record_history=True, patience=0, tol=0.0, max_evals=None, target=None, max_time=None, "
    "w_end=None, v_max_fraction=None, ring_neighbors=1, restarts=0, restart_growth=2.0, "
    "min_diameter=None, penalty=1000000.0)\n"
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
    "Args:\n"
    "    The options mean what they mean for ``Swarm`` and ``minimize``. The\n"
    "    stop rules count values told, ``n_particles`` of them making an\n"
    "    iteration. The budget (``max_iter``, ``max_evals``, in whole\n"
    "    iterations as ``minimize`` counts them) limits the asks: once it has\n"
    "    all been asked, ``ask()`` raises and the run ends when the last of\n"
    "    those values is told. ``patience``, ``target``, ``max_time`` and\n"
    "    ``min_diameter`` end the run when they fire, after an iteration;\n"
    "    values still in flight may then be told (they count, and can improve\n"
    "    the result) or dropped.\n"
    "    penalty (float): the weight of a told ``violation``: the value\n"
    "        minimized is ``value + penalty * violation**2``, as ``minimize``'s\n"
    "        quadratic penalty for one constraint. Defaults to ``1e6``.\n"
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
    "order, and for a constrained problem its total constraint violation: 0\n"
    "(or less) when feasible, else the sum of ``max(g, 0)`` over inequality\n"
    "constraints ``g <= 0`` and of ``abs(h)`` over equalities ``h == 0``, as\n"
    "``MultiSwarm.tell`` takes it; NaN counts as infinitely violated. Updates\n"
    "the bests, then, when it completes an iteration, applies the stop rules.\n"
    "Values of tickets still in flight are taken after the run has ended.\n"
    "Raises ``ValueError``, changing nothing, for a ticket that is not in\n"
    "flight (never asked, or told already).";

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

}  // namespace kestrelopt::native
