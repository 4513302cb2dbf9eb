// The docstring of minimize_multi: text signature, "--", then the documentation body.
#pragma once

namespace kestrelopt::native {

inline constexpr const char* kMinimizeMultiDoc =
    "minimize_multi(objective, bounds, n_particles=100, max_iter=100, archive_size=100, "
    "w=0.729, c1=1.49445, c2=1.49445, velocity=\"inertia\", seed=None, integer=False, "
    "binary=False, var_types=None, mutation_rate=0.1, dim=None, grid_divisions=None, "
    "v_max=None, bounds_handling=\"clamp\", record_history=True)\n"
    "--\n"
    "\n"
    "Multi-objective optimization (MOPSO). Returns the Pareto front.\n"
    "\n"
    "Args:\n"
    "    objective: callable ``f(list) -> list[float]`` returning one value per\n"
    "        objective (all minimized).\n"
    "    bounds (list[tuple[float, float]]): ``(min, max)`` per dimension.\n"
    "    n_particles (int): swarm size. Defaults to 100.\n"
    "    max_iter (int): iterations. Defaults to 100.\n"
    "    archive_size (int): maximum Pareto-front size. Defaults to 100.\n"
    "    w, c1, c2 (float): velocity coefficients.\n"
    "    velocity (str): ``\"inertia\"`` or ``\"constriction\"`` (single-leader\n"
    "        rules; ``\"fips\"`` is not applicable to MOPSO).\n"
    "    seed (int | None): RNG seed.\n"
    "    integer (bool), binary (bool), var_types (list[str] | None): same\n"
    "        meaning as in ``minimize``.\n"
    "    mutation_rate (float): turbulence strength in [0, 1] (default 0.1);\n"
    "        improves front spread. ``0`` disables it.\n"
    "    grid_divisions (int | None): archive diversity strategy. ``None``\n"
    "        (default) keeps the most isolated members by crowding distance;\n"
    "        an int ``d`` uses Coello's adaptive hypercube grid with ``d``\n"
    "        divisions per objective (pruning drops members from the most crowded\n"
    "        cell, leaders are drawn towards sparser cells), which tends to spread\n"
    "        the front more evenly.\n"
    "    v_max (float | None): optional per-component velocity clamp, as in\n"
    "        ``minimize``. Defaults to ``None``.\n"
    "    bounds_handling (str): what to do with particles that leave the bounds \u2014\n"
    "        ``\"clamp\"`` (default), ``\"reflect\"``, ``\"wrap\"`` or ``\"reinit\"``, as\n"
    "        in ``minimize``.\n"
    "    record_history (bool): if ``True`` (the default), records the swarm and\n"
    "        the Pareto front per iteration (``swarm_history``/``front_history``)\n"
    "        for visualization. Disable to save memory.\n"
    "\n"
    "Returns:\n"
    "    ParetoFront: with ``positions``, ``objectives`` and, unless disabled,\n"
    "    ``swarm_history`` and ``front_history``.";

}  // namespace kestrelopt::native
