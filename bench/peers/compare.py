"""kestrelopt against pygmo, pyswarms, pymoo, nevergrad, SciPy, cma and moocore, measured in one run.

The script creates its own environment: a venv in build/peers-venv (made with the
python3 that runs it) into which it installs the peers from PyPI and kestrelopt from a
wheel of this checkout (built into build/peers-wheel, again whenever a file under core/,
native/ or python/ is newer than the wheel). None of them becomes a
dependency of the project. It then runs again inside that venv, measures five sections,
each contender interleaved round by round, and writes docs/benchmarks.md and the plots
docs/benchmarks_*.png:

    python3 bench/peers/compare.py           # the full run (about 3 hours, 2 of them IPOP-CMA-ES)
    python3 bench/peers/compare.py --quick   # fewer rounds, seeds and evaluations (about 10 minutes)
    python3 bench/peers/compare.py --quality-budget 20000 --quality-seeds 5 --selection-seeds 3
    python3 bench/peers/compare.py --quality-only --skip cma   # the quality tables, printed

The time limits exclude the one-time setup (installing the peers, building the wheel:
about 3-5 minutes). A peer that does not install or whose API cannot be matched is
reported as "not measured: <why>" in the tables. This is not a test and not part of CI.
"""

import argparse
import json
import math
import os
import statistics
import sys
import time
import traceback
import warnings

import peer_env  # beside this script: the venv, the wheel, the machine's description

ROOT = peer_env.ROOT
VENV = os.path.join(ROOT, "build", "peers-venv")
PEERS = ["pygmo", "pyswarms", "pymoo", "nevergrad", "moocore", "scipy", "cma", "numpy", "matplotlib"]


# --------------------------------------------------------------------------- helpers

NOT = "not measured: "


def attempt(fn, *args, **kwargs):
    """fn's value, or a 'not measured: <why>' string when it raises."""
    try:
        return fn(*args, **kwargs)
    except Exception as exc:  # a peer's failure must not end the run
        why = f"{type(exc).__name__}: {exc}".splitlines()[0][:120]
        return NOT + why


def missing(x):
    return isinstance(x, str) and x.startswith(NOT)


def fmt(x, digits=3):
    if missing(x):
        return x
    if x is None:
        return "-"
    if isinstance(x, str):
        return x
    if x == 0:
        return "0"
    if abs(x) >= 1000 or abs(x) < 0.01:
        return f"{x:.{digits - 1}e}"
    return f"{x:.{digits}g}"


def table(header, rows):
    out = ["| " + " | ".join(header) + " |", "|" + "|".join(["---"] + ["---:"] * (len(header) - 1)) + "|"]
    for row in rows:
        out.append("| " + " | ".join(fmt(c) if not isinstance(c, str) else c for c in row) + " |")
    return "\n".join(out)


def timed(fn):
    t = time.perf_counter()
    value = fn()
    return time.perf_counter() - t, value


def median_or_reason(values):
    bad = [v for v in values if missing(v)]
    if bad:
        return bad[0]
    return statistics.median(values)


# The four single-objective functions in NumPy, on rows of an (n, D) array; they agree
# with kestrelopt's native benchmarks (checked at start-up).
def np_funcs():
    import numpy as np

    def rastrigin(X):
        return 10.0 * X.shape[1] + (X * X - 10.0 * np.cos(2.0 * np.pi * X)).sum(axis=1)

    def rosenbrock(X):
        return (100.0 * (X[:, 1:] - X[:, :-1] ** 2) ** 2 + (1.0 - X[:, :-1]) ** 2).sum(axis=1)

    def ackley(X):
        d = X.shape[1]
        return (-20.0 * np.exp(-0.2 * np.sqrt((X * X).sum(axis=1) / d))
                - np.exp(np.cos(2.0 * np.pi * X).sum(axis=1) / d) + 20.0 + np.e)

    def griewank(X):
        i = np.sqrt(np.arange(1, X.shape[1] + 1))
        return 1.0 + (X * X).sum(axis=1) / 4000.0 - np.prod(np.cos(X / i), axis=1)

    def sphere(X):
        return (X * X).sum(axis=1)

    return {"rastrigin": rastrigin, "rosenbrock": rosenbrock, "ackley": ackley,
            "griewank": griewank, "sphere": sphere}


def versions():
    return peer_env.versions(["kestrelopt"] + PEERS, missing=NOT)


def machine():
    return peer_env.machine()


# --------------------------------------------------------------------------- section 1

def section_throughput(cfg, log):
    """Native benchmark runs, ns per particle-dimension-iteration."""
    import kestrelopt
    D, N, T = 30, 100, 1000
    units = D * N * T
    funcs = ["rastrigin", "rosenbrock", "sphere"]
    try:
        import pygmo as pg
    except Exception as exc:
        pg = None
        pg_why = NOT + f"pygmo does not import ({exc})"

    def kes(name, seed):
        b = kestrelopt.benchmark_info(name)[0]
        return lambda: kestrelopt.minimize(name, bounds=(-b, b), dim=D, n_particles=N, max_iter=T,
                                           w=0.729, c1=1.49445, c2=1.49445, v_max_fraction=0.5,
                                           record_history=False, seed=seed)

    def pyg(algo_name, name, seed):
        if pg is None:
            raise RuntimeError(pg_why)
        if name == "rastrigin":
            prob = pg.problem(pg.rastrigin(D))
        elif name == "rosenbrock":
            prob = pg.problem(pg.rosenbrock(D))
        else:
            raise RuntimeError("pygmo has no native sphere problem")
        ctor = pg.pso if algo_name == "pso" else pg.pso_gen
        algo = pg.algorithm(ctor(gen=T, omega=0.729, eta1=1.49445, eta2=1.49445, max_vel=0.5,
                                 variant=1, neighb_type=1, memory=False, seed=seed))

        def run():
            pop = pg.population(prob, size=N, seed=seed)
            return algo.evolve(pop)
        return run

    contenders = {"kestrelopt": kes,
                  "pygmo pso": lambda n, s: pyg("pso", n, s),
                  "pygmo pso_gen": lambda n, s: pyg("pso_gen", n, s)}
    times = {(c, f): [] for c in contenders for f in funcs}
    for c, make in contenders.items():  # warm-up, untimed: imports and first calls
        attempt(lambda: make("rastrigin", 0)())
    for r in range(cfg["rounds_tp"]):
        for f in funcs:
            for c, make in contenders.items():
                def one():
                    run = make(f, r)
                    return timed(run)[0] * 1e9 / units
                times[(c, f)].append(attempt(one))
    log(f"throughput: {cfg['rounds_tp']} rounds done")
    res = {(c, f): median_or_reason(v) for (c, f), v in times.items()}
    rows = []
    for f in funcs:
        k = res[("kestrelopt", f)]
        row = [f]
        for c in contenders:
            row.append(res[(c, f)])
        for c in list(contenders)[1:]:
            p = res[(c, f)]
            row.append(NOT + "see left" if missing(p) or missing(k) else f"{p / k:.2f}x")
        rows.append(row)
    header = ["function"] + [f"{c} (ns)" for c in contenders] + [f"{c} / kestrelopt" for c in list(contenders)[1:]]
    return res, table(header, rows)


# --------------------------------------------------------------------------- section 2

def section_python_objective(cfg, log):
    """Time per evaluation with a plain Python objective, less the objective's own time."""
    import numpy as np
    import kestrelopt
    budget = cfg["evals_py"]
    N = 50
    iters = budget // N

    def f(x):  # as cheap as an objective gets: what remains is the library's own time
        return x[0] * x[0]

    def own_cost(D, kind):
        x = [0.5] * D if kind == "list" else np.full(D, 0.5)
        reps = 20000
        t = time.perf_counter()
        for _ in range(reps):
            f(x)
        return (time.perf_counter() - t) / reps

    def kes(D, seed):
        r = kestrelopt.minimize(f, bounds=(-5, 5), dim=D, n_particles=N, max_iter=iters,
                                record_history=False, seed=seed)
        return r.evaluations, "list"

    def pygmo_run(D, seed):
        import pygmo as pg

        class P:
            def fitness(self, x):
                return [f(x)]

            def get_bounds(self):
                return ([-5.0] * D, [5.0] * D)
        prob = pg.problem(P())
        pop = pg.population(prob, size=N, seed=seed)
        pop = pg.algorithm(pg.pso(gen=iters, seed=seed)).evolve(pop)
        return pop.problem.get_fevals(), "ndarray"

    def pymoo_run(D, seed):
        from pymoo.core.problem import ElementwiseProblem
        from pymoo.algorithms.soo.nonconvex.pso import PSO
        from pymoo.optimize import minimize as pm_minimize

        class P(ElementwiseProblem):
            def __init__(self):
                super().__init__(n_var=D, n_obj=1, xl=-5.0, xu=5.0)

            def _evaluate(self, x, out, *args, **kwargs):
                out["F"] = f(x)
        res = pm_minimize(P(), PSO(pop_size=N), ("n_gen", iters), seed=seed, verbose=False)
        return res.algorithm.evaluator.n_eval, "ndarray"

    def nevergrad_run(D, seed):
        import nevergrad as ng
        param = ng.p.Array(shape=(D,)).set_bounds(-5.0, 5.0)
        param.random_state.seed(seed)
        opt = ng.optimizers.PSO(parametrization=param, budget=budget)
        opt.minimize(f)
        return opt.num_tell, "ndarray"

    def scipy_run(D, seed):
        from scipy.optimize import differential_evolution
        pop = max(1, N // D)
        res = differential_evolution(f, [(-5, 5)] * D, popsize=pop, maxiter=max(1, budget // (pop * D) - 1),
                                     tol=0, polish=False, seed=seed)
        return res.nfev, "ndarray"

    contenders = {"kestrelopt": kes, "pygmo pso": pygmo_run, "pymoo PSO": pymoo_run,
                  "nevergrad PSO": nevergrad_run, "SciPy differential_evolution": scipy_run}
    dims = [2, 10, 30]
    per = {(c, D): [] for c in contenders for D in dims}
    evals = {}
    for c, run in contenders.items():  # warm-up, untimed: imports and first calls
        attempt(run, 2, 0)
    for r in range(cfg["rounds_py"]):
        for D in dims:
            for c, run in contenders.items():
                def one():
                    t, (n, kind) = timed(lambda: run(D, r))
                    evals[(c, D)] = n
                    return t / n * 1e9
                per[(c, D)].append(attempt(one))
    log(f"python objective: {cfg['rounds_py']} rounds done")
    res = {k: median_or_reason(v) for k, v in per.items()}
    rows = []
    for c in contenders:
        row = [c]
        for D in dims:
            v = res[(c, D)]
            k = res[("kestrelopt", D)]
            if missing(v):
                row.append(v)
            elif c == "kestrelopt" or missing(k):
                row.append(f"{v:,.0f} ({evals.get((c, D), 0):,} evals)")
            else:
                row.append(f"{v:,.0f} ({v / k:,.1f}x; {evals.get((c, D), 0):,} evals)")
        rows.append(row)
    own = {kind: own_cost(10, kind) * 1e9 for kind in ("list", "ndarray")}
    return res, table(["library"] + [f"D={D}: ns per evaluation" for D in dims], rows), own


# --------------------------------------------------------------------------- section 3

def section_numpy_objective(cfg, log):
    """Time per iteration with a NumPy objective on the whole swarm, less the objective's."""
    import numpy as np
    import kestrelopt
    N, D, T = 100, 30, cfg["iters_np"]

    def f(X):
        return (X * X).sum(axis=1)

    X = np.random.default_rng(0).uniform(-5, 5, (N, D))
    reps = 5000
    t = time.perf_counter()
    for _ in range(reps):
        f(X)
    own = (time.perf_counter() - t) / reps

    def kes(record_history):
        def run(seed):
            kestrelopt.minimize(f, bounds=(-5, 5), dim=D, n_particles=N, max_iter=T, vectorized=True,
                                record_history=record_history, seed=seed)
            return T
        return run

    def pyswarms_run(bh_strategy):
        def run(seed):
            import logging
            import pyswarms as ps
            logging.getLogger("pyswarms").setLevel(logging.ERROR)
            np.random.seed(seed)
            opt = ps.single.GlobalBestPSO(n_particles=N, dimensions=D,
                                          options={"c1": 1.49445, "c2": 1.49445, "w": 0.729},
                                          bounds=(np.full(D, -5.0), np.full(D, 5.0)),
                                          bh_strategy=bh_strategy)
            opt.optimize(f, iters=T, verbose=False)
            return T
        return run

    def pymoo_run(seed):
        from pymoo.core.problem import Problem
        from pymoo.algorithms.soo.nonconvex.pso import PSO
        from pymoo.optimize import minimize as pm_minimize

        class P(Problem):
            def __init__(self):
                super().__init__(n_var=D, n_obj=1, xl=-5.0, xu=5.0)

            def _evaluate(self, x, out, *args, **kwargs):
                out["F"] = f(x)
        pm_minimize(P(), PSO(pop_size=N), ("n_gen", T), seed=seed, verbose=False)
        return T

    # Matched pairs: kestrelopt's clamp against pyswarms' "nearest" (its default, "periodic",
    # wraps around the box), and kestrelopt's record_history against pyswarms, which keeps
    # its own history of positions and costs (with it on, kestrelopt's default, and off).
    contenders = {"kestrelopt": kes(True),
                  "kestrelopt, record_history=False": kes(False),
                  "pyswarms GlobalBestPSO, bh_strategy=\"nearest\"": pyswarms_run("nearest"),
                  "pyswarms GlobalBestPSO, bh_strategy=\"periodic\" (its default)": pyswarms_run("periodic"),
                  "pymoo PSO": pymoo_run}
    per = {c: [] for c in contenders}
    for c, run in contenders.items():  # warm-up, untimed: imports and first calls
        attempt(run, 0)
    for r in range(cfg["rounds_np"]):
        for c, run in contenders.items():
            def one():
                t, n = timed(lambda: run(r))
                return (t / n - own) * 1e6
            per[c].append(attempt(one))
    log(f"numpy objective: {cfg['rounds_np']} rounds done")
    res = {c: median_or_reason(v) for c, v in per.items()}
    k = res["kestrelopt"]
    rows = [[c, res[c], "1" if c == "kestrelopt" else (res[c] if missing(res[c]) or missing(k) else f"{res[c] / k:.1f}x")]
            for c in contenders]
    return res, table(["library", "µs per iteration (objective's own time removed)", "against kestrelopt"], rows), own


# --------------------------------------------------------------------------- section 4

# The guide's advice (velocity-and-topology page): per function, the preset that led the
# bbob group the function belongs to at 10-D.
KES_ADVICE = {
    "rastrigin": dict(preset="separable"),  # separable
    "rosenbrock": dict(preset="recommended"),  # moderate
    "ackley": dict(preset="recommended"),  # multimodal, global structure
    "griewank": dict(preset="exploit"),  # weakly structured, as bbob's griewank-rosenbrock
    "rastrigin, shifted and rotated": dict(preset="recommended"),  # multimodal
    "ellipsoid, shifted and rotated": dict(preset="exploit"),  # ill-conditioned
}
# The functions of the quality section: the four native benchmarks over their own boxes,
# centred there, and two whose optimum is moved off the centre and whose axes are rotated,
# as in COCO's bbob suite: no library can profit from separability or a centred optimum.
QUALITY_FUNCS = list(KES_ADVICE)
SHIFTED = {"rastrigin, shifted and rotated": 5.12, "ellipsoid, shifted and rotated": 5.0}


def shifted_rotated(name, D):
    """The NumPy function on rows of an (n, D) array, and its box's half-width: f(R (x - o))
    with o uniform in [-4, 4]^D and R a random rotation, both fixed by the name."""
    import zlib
    import numpy as np
    rng = np.random.default_rng(zlib.crc32(name.encode()))
    o = rng.uniform(-4.0, 4.0, D)
    R, _ = np.linalg.qr(rng.standard_normal((D, D)))
    if name.startswith("rastrigin"):
        def f(X):
            Z = (X - o) @ R.T
            return 10.0 * D + (Z * Z - 10.0 * np.cos(2.0 * np.pi * Z)).sum(axis=1)
    else:
        scale = 10.0 ** (6.0 * np.arange(D) / (D - 1))  # condition number 1e6

        def f(X):
            Z = (X - o) @ R.T
            return (scale * Z * Z).sum(axis=1)
    return f, SHIFTED[name]


def section_quality(cfg, log):
    """Each library's settings on every function, on the selection seeds and on the report
    seeds; the better setting is chosen by its median on the selection seeds only."""
    import numpy as np
    import kestrelopt
    D, budget = 30, cfg["budget_q"]
    F = np_funcs()
    funcs = QUALITY_FUNCS

    def problem(name):
        if name in SHIFTED:
            return shifted_rotated(name, D)
        return F[name], kestrelopt.benchmark_info(name)[0]

    def kes(opts):
        def run(name, seed):
            fn, b = problem(name)
            options = dict(bounds=(-b, b), dim=D, max_iter=None, max_evals=budget, record_history=False,
                           seed=seed, **opts(name))
            if name in SHIFTED:  # no native benchmark: the same NumPy function as the peers
                return kestrelopt.minimize(fn, vectorized=True, **options).best_value
            return kestrelopt.minimize(name, **options).best_value
        return run

    def pygmo_q(best):
        def run(name, seed):
            import pygmo as pg
            fn, b = problem(name)

            class P:
                def fitness(self, x):
                    return [float(fn(x[None, :])[0])]

                def batch_fitness(self, dvs):
                    return fn(dvs.reshape(-1, D))

                def get_bounds(self):
                    return ([-b] * D, [b] * D)
            pop_size = 30
            gen = budget // pop_size - 1
            if best:
                algo = pg.pso(gen=gen, variant=6, neighb_type=3, seed=seed)
            else:
                algo = pg.pso(gen=gen, seed=seed)
            pop = pg.population(pg.problem(P()), size=pop_size, seed=seed)
            return float(pg.algorithm(algo).evolve(pop).champion_f[0])
        return run

    def pyswarms_q(best):
        def run(name, seed):
            import logging
            import pyswarms as ps
            logging.getLogger("pyswarms").setLevel(logging.ERROR)
            fn, b = problem(name)
            np.random.seed(seed)
            n = 30
            bounds = (np.full(D, -b), np.full(D, b))
            if best:
                opt = ps.single.LocalBestPSO(n_particles=n, dimensions=D,
                                             options={"c1": 1.49445, "c2": 1.49445, "w": 0.729, "k": 2, "p": 2},
                                             bounds=bounds)
            else:
                opt = ps.single.GlobalBestPSO(n_particles=n, dimensions=D,
                                              options={"c1": 0.5, "c2": 0.3, "w": 0.9}, bounds=bounds)
            cost, _ = opt.optimize(fn, iters=budget // n, verbose=False)
            return float(cost)
        return run

    def nevergrad_q(optimizer):
        def run(name, seed):
            import nevergrad as ng
            fn, b = problem(name)
            param = ng.p.Array(shape=(D,), lower=-b, upper=b)
            param.random_state.seed(seed)
            best = [math.inf]

            def one(x):
                value = float(fn(x[None, :])[0])
                best[0] = min(best[0], value)
                return value
            ng.optimizers.registry[optimizer](parametrization=param, budget=budget).minimize(one)
            return best[0]
        return run

    def scipy_q(best):
        def run(name, seed):
            from scipy.optimize import differential_evolution
            fn, b = problem(name)
            popsize = 15  # SciPy's default: 15 * D = 450 members
            opts = dict(strategy="rand1bin", mutation=(0.5, 1.0), recombination=0.9) if best else {}
            res = differential_evolution(lambda X: fn(X.T), [(-b, b)] * D, popsize=popsize,
                                         maxiter=budget // (popsize * D) - 1, polish=False, tol=0,
                                         vectorized=True, updating="deferred", seed=seed, **opts)
            return float(res.fun)
        return run

    def cma_q(name, seed):
        import cma
        fn, b = problem(name)
        x0 = np.random.default_rng(seed).uniform(-b, b, D)
        best = [math.inf]

        def batch(xs):  # the whole population in one NumPy call, as the others get it
            values = fn(np.asarray(xs))
            best[0] = min(best[0], float(values.min()))
            return list(values)
        cma.fmin2(None, x0, 0.3 * b, {"maxfevals": budget, "bounds": [-b, b], "seed": seed + 1,
                                      "verbose": -9, "verb_log": 0, "verb_disp": 0},
                  restarts=9, incpopsize=2, parallel_objective=batch)
        return best[0]

    # library: {setting: run(name, seed)}; kestrelopt's "advised" setting is the guide's
    # advice for the function, "recommended" and "robust_crossover" one preset everywhere.
    settings = {
        "kestrelopt": {"default": kes(lambda name: {}), "advised": kes(lambda name: KES_ADVICE[name]),
                       "recommended": kes(lambda name: {"preset": "recommended"}),
                       "robust_crossover": kes(lambda name: {"preset": "robust_crossover"})},
        "pygmo pso": {"default": pygmo_q(False), "tuned": pygmo_q(True)},
        "pyswarms": {"default": pyswarms_q(False), "tuned": pyswarms_q(True)},
        "nevergrad": {"PSO": nevergrad_q("PSO")},
        "SciPy differential_evolution": {"default": scipy_q(False), "tuned": scipy_q(True)},
        "cma IPOP-CMA-ES": {"default": cma_q},
    }
    settings = {c: v for c, v in settings.items()
                if c == "kestrelopt" or not any(part in c for part in cfg["skip"])}
    seed_sets = {"select": [1000 + s for s in range(cfg["select_q"])], "report": list(range(cfg["seeds_q"]))}
    vals = {(c, f, st, which): [] for c in settings for f in funcs for st in settings[c] for which in seed_sets}
    for which, seeds in seed_sets.items():
        for s in seeds:
            for f in funcs:
                for c, by_setting in settings.items():
                    if which == "select" and len(by_setting) == 1:
                        continue  # nothing to choose between
                    for st, run in by_setting.items():
                        vals[(c, f, st, which)].append(attempt(run, f, s))
            log(f"quality: {which} seed {s} done")
    return vals, funcs, {c: list(v) for c, v in settings.items()}


def quality_tables(vals, funcs, settings):
    from scipy.stats import mannwhitneyu
    for key, v in vals.items():
        bad = [x for x in v if missing(x)]
        vals[key] = bad[0] if bad else v

    def med(v):
        return v if missing(v) else statistics.median(v)

    rows, chosen, best_of = [], {}, {}
    for f in funcs:
        for c, names in settings.items():
            usable = {st: med(vals[(c, f, st, "select")]) for st in names
                      if vals[(c, f, st, "select")] and not missing(vals[(c, f, st, "select")])}
            pick = min(usable, key=usable.get) if usable else None
            if len(names) == 1:  # one setting: chosen without selection runs
                pick = names[0]
            chosen[(c, f)] = pick
            if pick is not None and not missing(vals[(c, f, pick, "report")]):
                best_of[(c, f)] = vals[(c, f, pick, "report")]
            for st in names:
                report, select = vals[(c, f, st, "report")], vals[(c, f, st, "select")]
                rows.append([f, c, st, med(report), report if missing(report) else min(report),
                             med(select) if select else "-",
                             "chosen" if st == pick else ""])
    t1 = table(["function", "library", "setting", "median", "best", "median on the selection seeds",
                "chosen on the selection seeds"], rows)

    def test(a, b):
        try:
            return f"{mannwhitneyu(a, b, alternative='two-sided').pvalue:.2g}"
        except Exception as exc:
            return NOT + str(exc)

    rows = []
    presets = ("recommended", "robust_crossover")  # kestrelopt's settings reported everywhere
    for f in funcs:
        k = best_of.get(("kestrelopt", f))
        fixed = [vals[("kestrelopt", f, name, "report")] for name in presets]
        for c in list(settings)[1:]:
            p = best_of.get((c, f))
            if k is None or p is None or any(missing(r) for r in fixed):
                rows.append([f, c, NOT + "a run failed"] + [""] * 6)
                continue
            rows.append([f, c, f"{statistics.median(k):.3g} ({chosen[('kestrelopt', f)]})"]
                        + [statistics.median(r) for r in fixed]
                        + [f"{statistics.median(p):.3g} ({chosen[(c, f)]})", test(k, p)]
                        + [test(r, p) for r in fixed])
    t2 = table(["function", "against", "kestrelopt chosen: median"]
               + [f"kestrelopt {name}: median" for name in presets]
               + ["peer chosen: median", "p, chosen"] + [f"p, {name}" for name in presets], rows)
    return t1, t2, best_of


# --------------------------------------------------------------------------- section 5

def nondominated(F):
    import numpy as np
    F = np.asarray(F, dtype=float)
    keep = np.ones(len(F), dtype=bool)
    for i in range(len(F)):
        if keep[i]:
            dom = np.all(F[i] <= F, axis=1) & np.any(F[i] < F, axis=1)
            keep &= ~dom
    return F[keep]


def section_multi(cfg, log):
    import numpy as np
    import kestrelopt
    from kestrelopt import problems
    budget, seeds, N = cfg["budget_mo"], cfg["seeds_mo"], 100
    probs = {"zdt1": 30, "zdt2": 30, "zdt3": 30, "dtlz2": 12}

    def hv(F, ref):
        F = nondominated(F)
        F = F[np.all(F < np.asarray(ref), axis=1)]
        return kestrelopt.hypervolume(F.tolist(), list(ref)) if len(F) else 0.0

    def kes(name, seed):
        p = problems.PROBLEMS[name]
        front = kestrelopt.minimize_multi(p, p.bounds(probs[name]), n_particles=N, max_iter=budget // N,
                                          max_evals=budget, record_history=False, seed=seed)
        return hv(front.objectives, p.reference)

    def pymoo_nsga2(name, seed):
        from pymoo.algorithms.moo.nsga2 import NSGA2
        from pymoo.optimize import minimize as pm_minimize
        from pymoo.problems import get_problem
        p = problems.PROBLEMS[name]
        prob = get_problem(name, n_var=probs[name]) if name.startswith("zdt") else get_problem(name, n_var=probs[name], n_obj=3)
        res = pm_minimize(prob, NSGA2(pop_size=N), ("n_gen", budget // N), seed=seed, verbose=False)
        return hv(res.F, p.reference)

    def pygmo_algo(kind):
        def run(name, seed):
            import pygmo as pg
            p = problems.PROBLEMS[name]
            if name.startswith("zdt"):
                prob = pg.problem(pg.zdt(prob_id=int(name[3]), param=probs[name]))
            else:
                prob = pg.problem(pg.dtlz(prob_id=2, dim=probs[name], fdim=3))
            gen = budget // N - 1
            if kind == "nsga2":
                algo = pg.nsga2(gen=gen, seed=seed)
            else:
                algo = pg.moead(gen=gen, weight_generation="low discrepancy", seed=seed)
            pop = pg.algorithm(algo).evolve(pg.population(prob, size=N, seed=seed))
            return hv(pop.get_f(), p.reference)
        return run

    contenders = {"kestrelopt MOPSO": kes, "pymoo NSGA-II": pymoo_nsga2,
                  "pygmo nsga2": pygmo_algo("nsga2"), "pygmo moead": pygmo_algo("moead")}
    vals = {(c, p): [] for c in contenders for p in probs}
    for s in range(seeds):
        for p in probs:
            for c, run in contenders.items():
                vals[(c, p)].append(attempt(run, p, s))
        log(f"multi-objective: seed {s} done")
    rows = []
    for p in probs:
        row = [f"{p} (D={probs[p]}, ref {problems.PROBLEMS[p].reference})"]
        for c in contenders:
            v = vals[(c, p)]
            bad = [x for x in v if missing(x)]
            row.append(bad[0] if bad else f"{statistics.median(v):.4f} ({max(v):.4f})")
        tf = problems.PROBLEMS[p].true_front(2000)
        row.append(f"{hv(tf, problems.PROBLEMS[p].reference):.4f}")
        rows.append(row)
    t_quality = table(["problem"] + [f"{c}: median (best)" for c in contenders] + ["true front"], rows)

    # hypervolume computation time on random nondominated sets
    rng = np.random.default_rng(1)
    cases = [(2, 10000), (3, 1000), (4, 200), (5, 100)] if not cfg["quick"] else [(2, 2000), (3, 300), (4, 100)]

    def front(m, n):
        x = np.abs(rng.normal(size=(n, m)))
        return x / np.linalg.norm(x, axis=1, keepdims=True)  # points on the unit sphere: mutually nondominated

    sets = {c: front(*c) for c in cases}

    def t_kes(P, ref):
        pts = P.tolist()
        return timed(lambda: kestrelopt.hypervolume(pts, ref))

    def t_moocore(P, ref):
        import moocore
        return timed(lambda: moocore.hypervolume(P, ref=ref))

    def t_pygmo(P, ref):
        import pygmo as pg
        return timed(lambda: pg.hypervolume(P).compute(ref))

    hvc = {"kestrelopt.hypervolume": t_kes, "moocore.hypervolume": t_moocore, "pygmo hypervolume": t_pygmo}
    times = {(c, k): [] for c in hvc for k in cases}
    values = {}
    for r in range(cfg["rounds_hv"]):
        for k in cases:
            P = sets[k]
            ref = [1.1] * k[0]
            for c, run in hvc.items():
                out = attempt(run, P, ref)
                if missing(out):
                    times[(c, k)].append(out)
                else:
                    times[(c, k)].append(out[0] * 1e3)
                    values[(c, k)] = out[1]
    log("hypervolume timing done")
    rows = []
    for k in cases:
        row = [f"{k[0]} objectives, {k[1]:,} points"]
        kt = median_or_reason(times[("kestrelopt.hypervolume", k)])
        for c in hvc:
            t = median_or_reason(times[(c, k)])
            if missing(t) or c == "kestrelopt.hypervolume" or missing(kt):
                row.append(t)
            else:
                row.append(f"{fmt(t)} ({t / kt:.2g}x)")
        agree = [values.get((c, k)) for c in hvc if (c, k) in values]
        spread = (max(agree) - min(agree)) / max(agree) if len(agree) > 1 else float("nan")
        row.append(f"{spread:.1e}")
        rows.append(row)
    t_time = table(["set"] + [f"{c} (ms)" for c in hvc] + ["relative spread of the three values"], rows)
    return vals, t_quality, t_time


# --------------------------------------------------------------------------- plots

def plots(tp, py, qual_best, funcs, contenders, out_dir):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    names = []
    fig, axes = plt.subplots(1, 2, figsize=(11, 4))
    ax = axes[0]
    cs = ["kestrelopt", "pygmo pso", "pygmo pso_gen"]
    fs = ["rastrigin", "rosenbrock", "sphere"]
    width = 0.25
    for i, c in enumerate(cs):
        ys = [tp.get((c, f)) for f in fs]
        ys = [y if not missing(y) else 0 for y in ys]
        ax.bar([j + i * width for j in range(len(fs))], ys, width, label=c)
    ax.set_xticks([j + width for j in range(len(fs))], fs)
    ax.set_ylabel("ns per particle-dimension-iteration")
    ax.set_title("Native benchmarks, D=30, N=100, 1,000 iterations")
    ax.legend(fontsize=8)
    ax = axes[1]
    dims = [2, 10, 30]
    for c in ["kestrelopt", "pygmo pso", "pymoo PSO", "nevergrad PSO", "SciPy differential_evolution"]:
        ys = [py.get((c, d)) for d in dims]
        if any(missing(y) for y in ys):
            continue
        ax.plot(dims, ys, marker="o", label=c)
    ax.set_yscale("log")
    ax.set_xlabel("D")
    ax.set_ylabel("ns per evaluation")
    ax.set_title("Overhead with a plain Python objective")
    ax.legend(fontsize=8)
    fig.tight_layout()
    p = os.path.join(out_dir, "benchmarks_speed.png")
    fig.savefig(p, dpi=90)
    plt.close(fig)
    names.append(p)

    fig, axes = plt.subplots(2, (len(funcs) + 1) // 2, figsize=(13, 8))
    axes = axes.ravel()
    for ax, f in zip(axes, funcs):
        data, labels = [], []
        for c in contenders:
            v = qual_best.get((c, f))
            if v is None or missing(v):
                continue
            data.append([max(x, 1e-16) for x in v])
            labels.append(c.replace(" differential_evolution", " DE"))
        ax.boxplot(data)
        ax.set_xticks(range(1, len(labels) + 1), labels, rotation=30, fontsize=8)
        ax.set_yscale("log")
        ax.set_title(f"{f}, D=30", fontsize=9)
    axes[0].set_ylabel("final value (lower is better)")
    axes[len(axes) // 2].set_ylabel("final value (lower is better)")
    fig.tight_layout()
    p = os.path.join(out_dir, "benchmarks_quality.png")
    fig.savefig(p, dpi=90)
    plt.close(fig)
    names.append(p)
    return names


# --------------------------------------------------------------------------- main

def inside(args):
    warnings.filterwarnings("ignore")
    quick = args.quick
    cfg = dict(quick=quick,
               rounds_tp=3 if quick else 10,
               rounds_py=1 if quick else 3,
               evals_py=1000 if quick else 10000,
               rounds_np=2 if quick else 5,
               iters_np=100 if quick else 1000,
               budget_q=args.quality_budget or (10000 if quick else 100000),
               seeds_q=args.quality_seeds or (3 if quick else 10),
               select_q=args.selection_seeds or (2 if quick else 5),
               budget_mo=5000 if quick else 20000,
               seeds_mo=2 if quick else 5,
               rounds_hv=3 if quick else 5,
               skip=args.skip)
    start = time.perf_counter()

    def log(msg):
        print(f"[{time.perf_counter() - start:7.1f} s] {msg}", flush=True)

    import numpy as np
    import kestrelopt
    # the NumPy functions agree with the native benchmarks
    F = np_funcs()
    x = np.random.default_rng(3).uniform(-2, 2, (1, 30))
    for name, fn in F.items():
        native = kestrelopt.minimize(name, bounds=[(v, v) for v in x[0]], dim=30, max_iter=1,
                                     n_particles=1, record_history=False).best_value
        assert abs(native - fn(x)[0]) <= 1e-9 * max(1.0, abs(native)), (name, native, fn(x)[0])
    log("NumPy functions agree with the native benchmarks")

    secs = {}
    if args.quality_only:  # the two quality tables on the terminal; the page is left alone
        qvals, funcs, qcont = section_quality(cfg, log)
        # Every run's value, for rank tests of settings the tables leave out.
        with open(os.path.join(ROOT, "build", "quality-values.json"), "w") as out:
            json.dump([[list(key), value] for key, value in qvals.items()], out)
        print("\n\n".join(quality_tables(qvals, funcs, qcont)[:2]))
        return

    def section(fn, *a):  # a section that fails is reported on the page, the others still run
        try:
            return fn(*a)
        except Exception as exc:
            traceback.print_exc()
            return NOT + f"{type(exc).__name__}: {exc}".splitlines()[0][:200]

    out = section(section_throughput, cfg, log)
    tp, secs["tp"] = ({}, out) if missing(out) else out
    out = section(section_python_objective, cfg, log)
    py, secs["py"], py_own = ({}, out, {"list": float("nan"), "ndarray": float("nan")}) if missing(out) else out
    out = section(section_numpy_objective, cfg, log)
    secs["np"], np_own = (out, float("nan")) if missing(out) else out[1:]
    out = section(section_quality, cfg, log)
    best_of, funcs, qcont = {}, [], []
    if missing(out):
        secs["q1"] = secs["q2"] = out
    else:
        qvals, funcs, qcont = out
        secs["q1"], secs["q2"], best_of = quality_tables(qvals, funcs, qcont)
    out = section(section_multi, cfg, log)
    secs["mo"], secs["hv"] = (out, out) if missing(out) else out[1:]
    section(plots, tp, py, best_of, funcs, qcont, os.path.join(ROOT, "docs"))
    elapsed = time.perf_counter() - start
    log("done")
    write_page(args, cfg, secs, np_own, py_own, elapsed)


def write_page(args, cfg, secs, np_own, py_own, elapsed):
    model, cores, plat = machine()
    v = versions()
    cmd = "python3 bench/peers/compare.py" + "".join(
        f" {flag} {value}" for flag, value in (("--quality-budget", args.quality_budget),
                                               ("--quality-seeds", args.quality_seeds),
                                               ("--selection-seeds", args.selection_seeds)) if value)
    cmd += " --quick" if args.quick else ""
    which = "quick run (`--quick`)" if cfg["quick"] else "full run"
    when = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    vers = ", ".join(f"{k} {val}" for k, val in v.items())
    q = cfg
    text = f"""# Comparison with other libraries

These tables come from one {which} of `{cmd}` on {when}, which took
{elapsed / 60:.1f} minutes (the one-time setup of its environment excluded). Every contender
ran in the same process, interleaved round by round, one measurement at a time.

- Machine: {model}, {cores} logical cores (shared, nothing else heavy running), {plat}.
- Versions: {vers}. The peers come from PyPI into the script's own venv
  (`build/peers-venv`), kestrelopt from a wheel of this checkout; none is a dependency
  of kestrelopt.
- Settings of this run: {q['rounds_tp']} rounds of the throughput runs; {q['rounds_py']} rounds of
  {q['evals_py']:,}-evaluation runs with a Python objective; {q['rounds_np']} rounds of
  {q['iters_np']:,} iterations with a NumPy objective; solution quality with
  {q['budget_q']:,} evaluations, settings chosen on seeds 1000 to {999 + q['select_q']} and reported on
  seeds 0 to {q['seeds_q'] - 1}; multi-objective with
  {q['budget_mo']:,} evaluations and seeds 0 to {q['seeds_mo'] - 1}; {q['rounds_hv']} rounds of
  hypervolume timing. Times are medians over the rounds.
  {"The quick run uses fewer rounds, seeds and evaluations than the full run (10 seeds, 100,000 evaluations): its quality figures are not those of the full budget." if q['quick'] else ""}
  {"The quality section ran at a smaller size than the script's default (10 report seeds, 5 selection seeds, 100,000 evaluations), to fit the machine's time: IPOP-CMA-ES takes about 1 ms of its own per evaluation in 30-D." if not q['quick'] and (q['budget_q'], q['seeds_q'], q['select_q']) != (100000, 10, 5) else ""}

Run it again with `{cmd}` (add or remove `--quick`); the script lives in
`bench/peers/compare.py` and is not part of the tests.

How often each library reaches given targets on COCO's 24 bbob functions, as runtime
distributions per function group and dimension, is on
[the bbob suite of COCO](benchmarks-bbob.md) (made by `bench/bbob/run.py`) at 1,000 x D
evaluations, and on [a second page](benchmarks-bbob-full.md) at 10,000 x D.

## Throughput of native benchmark runs

Rastrigin, rosenbrock and sphere with D=30, N=100 particles and 1,000 iterations, seeds
0 onwards, time per run (population set-up and evaluation included) divided by
particles × dimensions × iterations. Matched settings: the inertia rule
`v = w·v + c1·r1·(p − x) + c2·r2·(g − x)` with w=0.729, c1=c2=1.49445 and a random
number per dimension (pygmo `variant=1`), the global topology (`neighb_type=1`), a
velocity limit of half the box's width (`max_vel=0.5`; kestrelopt `v_max_fraction=0.5`),
and pygmo's `memory=False`. Not matched: the box (pygmo's rastrigin uses ±5.12 as kestrelopt
does; its rosenbrock uses −5 to 10, as `get_bounds()` reports, kestrelopt ±2.048), and
what a particle that leaves the box does (kestrelopt clamps it; `pso` has no option for
it). pygmo has no native sphere problem; a Python one would measure the interpreter,
not the engine.

{secs['tp']}

![Throughput and per-evaluation overhead](benchmarks_speed.png)

## Overhead with a plain Python objective

The objective is `def f(x): return x[0] * x[0]`, so that the time per evaluation (the
whole run's time divided by the evaluations the library reports) is almost all the
library's own: building the candidate, calling into Python, reading the value back, and
the algorithm's work. On its own the objective takes {py_own['list']:.0f} ns on a list
(what kestrelopt passes) and {py_own['ndarray']:.0f} ns on a NumPy array (what the others
pass); that time is included in the table. kestrelopt: 50 particles, default
settings; pygmo `pso` on a Python problem (`fitness`), population 50; pymoo `PSO`
(`pop_size=50`) on an `ElementwiseProblem`; nevergrad's `PSO` optimizer with an
`Array` parametrization; SciPy's `differential_evolution` with `popsize=max(1, 50 // D)`,
`polish=False`, `tol=0`. Budget about {q['evals_py']:,} evaluations; the count each
library reports is shown.

{secs['py']}

## Overhead with a NumPy objective on the whole swarm

N=100, D=30, {q['iters_np']:,} iterations of a sphere computed on the whole (N, D) array
(`(X * X).sum(axis=1)`, {np_own * 1e6:.1f} µs per call on its own, removed). kestrelopt
`vectorized=True` with default settings; pyswarms `GlobalBestPSO` with w=0.729,
c1=c2=1.49445; pymoo `PSO(pop_size=100)` on a vectorized `Problem`. Matched between
kestrelopt and pyswarms: the rule and coefficients, the global topology, the box, and what
a particle that leaves it does (kestrelopt's default clamp against pyswarms'
`bh_strategy="nearest"`; pyswarms' own default, `"periodic"`, wraps around the box and is
shown too), and the recording of the run (pyswarms keeps its history of positions and
costs; kestrelopt's `record_history=True`, its default, keeps the swarm's trace; without
it kestrelopt is shown too). The ratio is against the first row.

{secs['np']}

## Solution quality at equal evaluation budgets

D=30, {q['budget_q']:,} evaluations. Rastrigin, rosenbrock, ackley and griewank over their
recommended boxes (±5.12, ±2.048, ±32.768, ±600), where their minimum sits at the centre
(or, for rosenbrock, near it); and two functions moved off the centre and rotated, as in
COCO's bbob suite: rastrigin and an ellipsoid with condition number 1e6
(`sum 10^(6 (i-1)/(D-1)) z_i^2`), both of `z = R (x - o)` with the optimum `o` uniform in
[-4, 4]^D and `R` a random rotation (fixed, the same for every library), over ±5.12 and
±5. The peers minimize NumPy versions of the functions (the native four checked at
start-up to agree with kestrelopt's); kestrelopt minimizes the shifted, rotated ones as
the same NumPy functions (`vectorized=True`).

- kestrelopt default: 30 particles, `velocity="inertia"`, `topology="global"`,
  `bounds_handling="clamp"`, `max_evals={q['budget_q']:,}`. Advised: the user guide's
  advice (velocity-and-topology page), the preset that led the bbob group of the function
  at 10-D: rastrigin `preset="separable"`; rosenbrock, ackley and the shifted, rotated
  rastrigin `preset="recommended"`; griewank (weakly structured, as bbob's
  griewank-rosenbrock) and the shifted, rotated ellipsoid (ill-conditioned)
  `preset="exploit"`.
  Recommended: `preset="recommended"` on every function.
- pygmo `pso`, population 30, `gen={q['budget_q']} // 30 − 1`, on a Python problem with
  `batch_fitness`: default settings (as `get_extra_info()` reports them: omega 0.7298,
  eta1 = eta2 = 2.05, `max_vel=0.5`, `variant=5`, `neighb_type=2` (lbest),
  `neighb_param=4`); tuned: `variant=6` (FIPS), `neighb_type=3`
  (von Neumann).
- pyswarms, 30 particles, `iters={q['budget_q']} // 30`, its default `bh_strategy`
  (`"periodic"`): default `GlobalBestPSO` with the options of pyswarms' README (c1=0.5,
  c2=0.3, w=0.9); tuned: `LocalBestPSO` with w=0.729, c1=c2=1.49445, k=2, p=2.
- nevergrad, one point per call, `budget` the evaluations, the box as the `Array`'s
  bounds: its `PSO` optimizer (the default of its `ConfPSO` family; the others cost as
  much, about 0.4 ms an evaluation, which more settings would multiply); the best value
  it evaluated.
- SciPy `differential_evolution`: `popsize=15` (450 members), `maxiter` to fit the
  budget, `polish=False`, `tol=0`, `vectorized=True` (with `updating="deferred"`);
  default strategy `best1bin`; tuned: `rand1bin`, `mutation=(0.5, 1)`, `recombination=0.9`.
- cma: IPOP-CMA-ES, `cma.fmin2` with `restarts=9`, `incpopsize=2`, x0 uniform in the
  box, sigma0 = 0.3 of the half-width, the box as cma's `bounds`, `maxfevals` the budget,
  the population evaluated in one NumPy call (`parallel_objective`); its own defaults
  otherwise, and no second setting.

The settings other than the defaults are alternatives fixed before the run, not a
search. Which setting of each library enters the rank test is chosen per function by
its median on separate selection seeds (a library with one setting is not run on them) (1000 to {999 + q['select_q']}); every figure of the
tables comes from the report seeds (0 to {q['seeds_q'] - 1}), which the choice never saw.

{secs['q1']}

Rank tests (Mann-Whitney U, SciPy, two-sided, {q['seeds_q']} runs each{"; with 3 runs a side no p-value falls below 0.1" if q['seeds_q'] < 4 else ""}) between each
peer's chosen setting and kestrelopt's, both its chosen setting and the recommended preset
as it comes. The test compares ranks only: two sets of runs that all reached the minimum,
with values that differ by rounding (about 1e-15), can still differ significantly.

{secs['q2']}

![Final values of the chosen settings of each library](benchmarks_quality.png)

In the plot, final values of 0 are drawn at 1e-16.

## Multi-objective: hypervolume at equal budgets

{q['budget_mo']:,} evaluations, population or swarm of 100 (kestrelopt `minimize_multi`
with default settings and `max_evals`; pymoo `NSGA2(pop_size=100)`; pygmo `nsga2` and
`moead` with `weight_generation="low discrepancy"`, `gen={q['budget_mo']} // 100 − 1`).
Hypervolume of the final nondominated points (those of the population for the genetic
algorithms, the archive for kestrelopt) against the reference point shown, computed for
all with `kestrelopt.hypervolume`. Larger is better; the last column gives the
hypervolume of a sample of the true front (`kestrelopt.problems`, about 2,000 points).

{secs['mo']}

## Hypervolume computation time

Mutually nondominated points on the unit sphere, reference 1.1 in every objective,
median time per call. The last column is the largest difference between the three
computed values divided by the largest.

{secs['hv']}
"""
    page = os.path.join(ROOT, "docs", "benchmarks.md")
    # The section compare_multi.py writes between its markers stays as it was.
    begin, end = "<!-- compare_multi.py: begin -->", "<!-- compare_multi.py: end -->"
    old = open(page).read() if os.path.exists(page) else ""
    if begin in old and end in old:
        text = text.rstrip("\n") + "\n\n" + old[old.index(begin):old.index(end) + len(end)] + "\n"
    with open(page, "w") as f:
        f.write(text)
    print("wrote docs/benchmarks.md")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer rounds, seeds and evaluations (under 3 minutes)")
    parser.add_argument("--quality-budget", type=int, help="evaluations per run of the quality section "
                        "(default 100,000; 10,000 with --quick)")
    parser.add_argument("--quality-seeds", type=int, help="report seeds of the quality section (default 10; 3)")
    parser.add_argument("--selection-seeds", type=int, help="seeds on which each library's setting is chosen "
                        "(default 5; 2)")
    parser.add_argument("--quality-only", action="store_true",
                        help="run the quality section only and print its tables (docs untouched)")
    parser.add_argument("--skip", action="append", default=[], metavar="LIBRARY",
                        help="leave the quality section's libraries whose name contains LIBRARY "
                        "out (repeatable; kestrelopt is always run)")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if not args.inside:
        peer_env.bootstrap(__file__, sys.argv[1:], VENV, PEERS)
    inside(args)


if __name__ == "__main__":
    main()
