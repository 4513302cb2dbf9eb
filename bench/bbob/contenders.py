"""The contenders of the BBOB benchmark: kestrelopt's named configurations and the peers.

A contender is started as `start(f, dim, lower, upper, remaining, seed)`: `f` is the
`harness.Budget` of one problem instance (call it on one point, or `f.batch(rows)` on
several), `lower` and `upper` the bounds COCO gives for the instance (-5 and 5: the region
of interest, not a constraint), `remaining` the evaluations left and `seed` the seed of
this run. It runs until it returns or the budget ends it by raising; the harness starts it
again with the next seed while evaluations remain.

To add a kestrelopt configuration, add an entry to `KESTRELOPT_CONFIGS`: a name, a short
label and the keyword arguments of `kestrelopt.minimize` it differs in (a new velocity
rule, topology, swarm size, restart option or preset by its option names; the harness
sets max_evals, max_iter, seed, record_history and array_input). A configuration that the installed
kestrelopt rejects (an unknown option, or an option value it does not have yet) is skipped
with the error as its note, so an entry can be added before the library supports it.
"""

import zlib

# name: (label, keyword arguments of kestrelopt.minimize, description). The label names
# the contender in cocopp's plots, which show 9 characters of it. The swarm has the
# default 30 particles unless the options say otherwise; the budget sets max_evals.
KESTRELOPT_CONFIGS = {
    "default": ("K-default", {}, "the defaults: `velocity=\"inertia\"`, `topology=\"global\"`, "
                "`bounds_handling=\"clamp\"`, w=0.729, c1=c2=1.49445, 30 particles"),
    "constriction-ring": ("K-cf-ring", dict(velocity="constriction", topology="ring", bounds_handling="clamp"),
                          "`velocity=\"constriction\"`, `topology=\"ring\"`, `bounds_handling=\"clamp\"`"),
    "fips-von_neumann": ("K-fips-vn", dict(velocity="fips", topology="von_neumann", bounds_handling="clamp"),
                         "`velocity=\"fips\"`, `topology=\"von_neumann\"`, `bounds_handling=\"clamp\"`"),
    "default-restarts": ("K-restart", dict(restarts=20, min_diameter=1e-6),
                         "the defaults and `restarts=20`, `min_diameter=1e-6` (a run whose swarm "
                         "has shrunk to 1e-6 of the box's width starts again with twice the particles)"),
    "spso2011-adaptive_random": ("K-spso-ar", dict(velocity="spso2011", topology="adaptive_random", bounds_handling="clamp"),
                                 "`velocity=\"spso2011\"`, `topology=\"adaptive_random\"`, "
                                 "`bounds_handling=\"clamp\"`"),
    # The presets, chosen by tune.py on instances 1-5; run.py reports them on others.
    "recommended": ("K-recomm", dict(preset="recommended"),
                    "`preset=\"recommended\"` (see `kestrelopt.presets()`)"),
    "robust_crossover": ("K-rcross", dict(preset="robust_crossover"),
                         "`preset=\"robust_crossover\"`"),
    "exploit": ("K-exploit", dict(preset="exploit"), "`preset=\"exploit\"`"),
    "separable": ("K-separ", dict(preset="separable"), "`preset=\"separable\"`"),
}

POP = 30  # the swarm or population size of the PSO peers, kestrelopt's default


class Contender:
    """A named way of running an optimizer on a `Budget`. `label` is its short name, in
    cocopp's plots and as its result folder; `note` is None when it can run, else why it
    is skipped."""

    def __init__(self, name, label, description, start, note=None):
        self.name = name
        self.label = label
        self.description = description
        self.start = start
        self.note = note


def seed_for(name, function, dim, instance, restart):
    """A seed fixed by the contender and the problem, so reruns repeat each run."""
    return zlib.crc32(f"{name}/f{function}/d{dim}/i{instance}/r{restart}".encode()) & 0x7FFFFFFF


# --------------------------------------------------------------------------- kestrelopt

def kestrelopt_start(options):
    def start(f, dim, lower, upper, remaining, seed):
        import kestrelopt
        # max_iter=None: the budget alone ends the run, whatever swarm size the options
        # (a preset's, a restart's) make.
        kestrelopt.minimize(f, bounds=list(zip(lower, upper)), max_evals=remaining,
                            max_iter=None, seed=seed, record_history=False,
                            array_input=True, **options)
    return start


def kestrelopt_note(options):
    """None when the installed kestrelopt accepts `options`, else its error."""
    try:
        import kestrelopt
        probe = dict(dict(seed=0, record_history=False), **options)
        kestrelopt.minimize(lambda x: 0.0, bounds=[(0.0, 1.0)] * 2, max_iter=1, **probe)
    except Exception as exc:
        return f"not supported by the installed kestrelopt ({type(exc).__name__}: {exc})"
    return None


# --------------------------------------------------------------------------- peers

def pygmo_start(algo_name, **settings):
    def start(f, dim, lower, upper, remaining, seed):
        import pygmo as pg

        class Problem:
            def fitness(self, x):
                return [f(x)]

            def get_bounds(self):
                return (list(lower), list(upper))

        ctor = getattr(pg, algo_name)
        gen = max(1, (remaining - POP) // POP)  # the first population costs POP evaluations
        pop = pg.population(pg.problem(Problem()), size=POP, seed=seed)
        pg.algorithm(ctor(gen=gen, seed=seed, **settings)).evolve(pop)
    return start


def pyswarms_start(f, dim, lower, upper, remaining, seed):
    import logging
    import numpy as np
    import pyswarms as ps
    logging.getLogger("pyswarms").setLevel(logging.ERROR)
    np.random.seed(seed)  # pyswarms draws from NumPy's global generator
    opt = ps.single.GlobalBestPSO(n_particles=POP, dimensions=dim,
                                  options={"c1": 0.5, "c2": 0.3, "w": 0.9},
                                  bounds=(np.asarray(lower, float), np.asarray(upper, float)),
                                  bh_strategy="nearest")
    opt.optimize(lambda X: np.asarray(f.batch(X)), iters=remaining // POP + 1, verbose=False)


def nevergrad_start(name):
    def start(f, dim, lower, upper, remaining, seed):
        import numpy as np
        import nevergrad as ng
        param = ng.p.Array(shape=(dim,), lower=np.asarray(lower, float), upper=np.asarray(upper, float))
        param.random_state.seed(seed)
        ng.optimizers.registry[name](parametrization=param, budget=remaining).minimize(f)
    return start


def nevergrad_names():
    """The optimizers of nevergrad's registry that are configurations of its ConfPSO family
    ("PSO" among them), or a note saying why there are none."""
    try:
        import nevergrad as ng
        family = ng.families.ConfPSO
        names = sorted(k for k, v in ng.optimizers.registry.items() if isinstance(v, family))
    except Exception as exc:
        return [], f"nevergrad unavailable ({type(exc).__name__}: {exc})"
    return names, None


def scipy_de_start(f, dim, lower, upper, remaining, seed):
    import inspect
    from scipy.optimize import differential_evolution
    # SciPy 1.15 renamed `seed` to `rng`; either gives a reproducible run.
    key = "rng" if "rng" in inspect.signature(differential_evolution).parameters else "seed"
    differential_evolution(f, list(zip(lower, upper)), maxiter=remaining // (15 * dim) + 1, **{key: seed})


def cma_start(f, dim, lower, upper, remaining, seed):
    import numpy as np
    import cma
    # COCO's customary start for CMA-ES: a uniform point in [-4, 4]^D and sigma0 = 2,
    # unbounded (the bbob functions are defined everywhere).
    x0 = np.random.default_rng(seed).uniform(-4, 4, dim)
    cma.fmin(f, x0, 2.0, {"maxfevals": remaining, "seed": seed, "verbose": -9, "verb_log": 0,
                          "verb_disp": 0}, restarts=9, incpopsize=2, bipop=False)


def module_note(module):
    try:
        __import__(module)
    except Exception as exc:
        return f"{module} unavailable ({type(exc).__name__}: {exc})"
    return None


# --------------------------------------------------------------------------- registry

def registry():
    """Every contender in the order of the tables, each with its note."""
    out = []
    for name, (label, options, description) in KESTRELOPT_CONFIGS.items():
        out.append(Contender("kestrelopt-" + name, label, "kestrelopt with " + description,
                             kestrelopt_start(options), kestrelopt_note(options)))
    pg_note = module_note("pygmo")
    for algo, short in (("pso", "pso"), ("pso_gen", "gen")):
        out.append(Contender(f"pygmo-{algo}", f"pg-{short}", f"pygmo `{algo}` with its defaults (variant 5, "
                             f"neighb_type 2 (lbest), omega 0.7298, eta1=eta2=2.05), population {POP}",
                             pygmo_start(algo), pg_note))
        out.append(Contender(f"pygmo-{algo}-fips-vn", f"pg-{short}-fv", f"pygmo `{algo}` with `variant=6` (FIPS) "
                             f"and `neighb_type=3` (von Neumann), population {POP}",
                             pygmo_start(algo, variant=6, neighb_type=3), pg_note))
    out.append(Contender("pyswarms-gbest", "pyswarms", f"pyswarms `GlobalBestPSO` with the options of its "
                         f"README (c1=0.5, c2=0.3, w=0.9), {POP} particles, `bh_strategy=\"nearest\"` (clamp)",
                         pyswarms_start, module_note("pyswarms")))
    names, why = nevergrad_names()
    if why:
        out.append(Contender("nevergrad", "ng", "nevergrad's PSO optimizers", None, why))
    for name in names:
        out.append(Contender(f"nevergrad-{name}", "ng-" + name.replace("RealSpacePSO", "RS"),
                             f"nevergrad `{name}` (ConfPSO family) with its defaults", nevergrad_start(name)))
    out.append(Contender("scipy-de", "scipy-DE", "SciPy `differential_evolution` with its defaults (`best1bin`, "
                         "popsize 15, tol 0.01, polish) and `maxiter` to fit the budget",
                         scipy_de_start, module_note("scipy")))
    out.append(Contender("cma-ipop", "IPOP-CMA", "IPOP-CMA-ES: `cma.fmin` with `restarts=9`, `incpopsize=2`, "
                         "`bipop=False`, x0 uniform in [-4, 4]^D, sigma0=2, no bounds",
                         cma_start, module_note("cma")))
    return out
