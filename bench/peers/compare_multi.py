"""kestrelopt's multi-objective search against pymoo and pygmo at equal evaluations.

Problems: ZDT1-4 and ZDT6 (2 objectives), DTLZ1 and DTLZ2 (3), DTLZ2 with 5 and 8
objectives and WFG4 with 3 (multi_problems.py; each function is checked against pymoo's
before anything is measured). Contenders: kestrelopt's minimize_multi with its defaults,
with variant="smpso", with variant="smpso", archive="hypervolume", with variant="smpso",
archive="decomposition", and with the same and one particle per reference direction above 3
objectives, and both archives with variant="smpso_crossover"; pymoo's NSGA-II, NSGA-III,
MOEA/D, SMS-EMOA and AGE-MOEA; pygmo's
nsga2 and moead. Every contender gets the
same objective (the Python function of one point; the pygmo ones through a problem class
that calls it) and the same evaluation budget; the evaluations each one really made are
counted and printed beside its figures. Scores: the hypervolume of the final front (up to
3 objectives) against the problem's reference point, and IGD+ against a sample of the true
front; medians over the seeds, the winner in bold.

Like compare.py it runs in build/peers-venv with kestrelopt from a wheel of this checkout
(peer_env.py), and writes its section into docs/benchmarks.md between two markers (which
compare.py keeps), with the plot docs/benchmarks_multi_fronts.png:

    python3 bench/peers/compare_multi.py                # 11 seeds
    python3 bench/peers/compare_multi.py --seeds 3      # fewer seeds
    python3 bench/peers/compare_multi.py --seeds 1 --problems zdt4,dtlz1 --no-write

This is not a test and not part of CI.
"""

import argparse
import math
import os
import statistics
import sys
import time
import traceback
import warnings

import peer_env

ROOT = peer_env.ROOT
VENV = os.path.join(ROOT, "build", "peers-venv")
PEERS = ["pymoo", "pygmo", "numpy", "matplotlib", "numba"]  # numba: pymoo's AGE-MOEA needs it
PAGE = os.path.join(ROOT, "docs", "benchmarks.md")
BEGIN = "<!-- compare_multi.py: begin -->"
END = "<!-- compare_multi.py: end -->"
NOT = "not run: "
N = 100  # swarm and population size where the algorithm takes any


def kestrel(per_direction=False, **options):
    def run(case, seed):
        import kestrelopt
        # Above 3 objectives the front holds as many points as NSGA-III's population;
        # per_direction: as many particles as reference directions too.
        n = N
        size = {}
        if case.m > 3:
            size = {"archive_size": len(reference_directions(case.m))}
            n = size["archive_size"] if per_direction else N
        front = kestrelopt.minimize_multi(case.fn, case.box, n_particles=n, max_iter=case.budget // n - 1,
                                          record_history=False, seed=seed, **size, **options)
        return front.objectives, front.evaluations
    return run


def reference_directions(m):
    from pymoo.util.ref_dirs import get_reference_directions
    partitions = {2: 99, 3: 12, 5: 6, 8: 3}[m]
    return get_reference_directions("das-dennis", m, n_partitions=partitions)


def pymoo_problem(case):
    import numpy as np
    from pymoo.core.problem import ElementwiseProblem

    class Wrapped(ElementwiseProblem):
        def __init__(self):
            super().__init__(n_var=case.dim, n_obj=case.m, xl=np.array([b[0] for b in case.box]),
                             xu=np.array([b[1] for b in case.box]))

        def _evaluate(self, x, out, *args, **kwargs):
            out["F"] = case.fn(x.tolist())
    return Wrapped()


def pymoo_algo(kind):
    def run(case, seed):
        from pymoo.optimize import minimize
        if kind == "sms" and case.m > 3:
            raise RuntimeError("exact hypervolume selection at 5+ objectives takes too long")
        if kind == "nsga2":
            from pymoo.algorithms.moo.nsga2 import NSGA2
            algo = NSGA2(pop_size=N)
        elif kind == "nsga3":
            from pymoo.algorithms.moo.nsga3 import NSGA3
            dirs = reference_directions(case.m)
            algo = NSGA3(ref_dirs=dirs, pop_size=len(dirs))
        elif kind == "moead":
            from pymoo.algorithms.moo.moead import MOEAD
            algo = MOEAD(reference_directions(case.m), n_neighbors=15, prob_neighbor_mating=0.7)
        elif kind == "sms":
            from pymoo.algorithms.moo.sms import SMSEMOA
            algo = SMSEMOA(pop_size=N)
        else:
            from pymoo.algorithms.moo.age import AGEMOEA
            algo = AGEMOEA(pop_size=N)
        res = minimize(pymoo_problem(case), algo, ("n_eval", case.budget), seed=seed, verbose=False)
        return res.F, res.algorithm.evaluator.n_eval
    return run


def pygmo_algo(kind):
    def run(case, seed):
        import pygmo as pg
        count = [0]

        class Udp:
            def fitness(self, x):
                count[0] += 1
                return case.fn(list(x))

            def get_nobj(self):
                return case.m

            def get_bounds(self):
                return [b[0] for b in case.box], [b[1] for b in case.box]

        gen = case.budget // N - 1  # the first population and gen generations of N each
        algo = pg.nsga2(gen=gen, seed=seed) if kind == "nsga2" else \
            pg.moead(gen=gen, weight_generation="low discrepancy", seed=seed)
        pop = pg.algorithm(algo).evolve(pg.population(pg.problem(Udp()), size=N, seed=seed))
        return pop.get_f(), count[0]
    return run


CONTENDERS = {
    "kestrelopt MOPSO": kestrel(),
    "kestrelopt SMPSO": kestrel(variant="smpso"),
    "kestrelopt SMPSO+HV": kestrel(variant="smpso", archive="hypervolume"),
    "kestrelopt SMPSO+D": kestrel(variant="smpso", archive="decomposition"),
    "kestrelopt SMPSO+D/dir": kestrel(per_direction=True, variant="smpso", archive="decomposition"),
    "kestrelopt SMPSO-X+HV": kestrel(variant="smpso_crossover", archive="hypervolume"),
    "kestrelopt SMPSO-X+D": kestrel(variant="smpso_crossover", archive="decomposition"),
    "pymoo NSGA-II": pymoo_algo("nsga2"),
    "pymoo NSGA-III": pymoo_algo("nsga3"),
    "pymoo MOEA/D": pymoo_algo("moead"),
    "pymoo SMS-EMOA": pymoo_algo("sms"),
    "pymoo AGE-MOEA": pymoo_algo("age"),
    "pygmo nsga2": pygmo_algo("nsga2"),
    "pygmo moead": pygmo_algo("moead"),
}


def nondominated(F):
    import numpy as np
    F = np.asarray(F, dtype=float)
    keep = np.ones(len(F), dtype=bool)
    for i in range(len(F)):
        if keep[i]:
            keep &= ~(np.all(F[i] <= F, axis=1) & np.any(F[i] < F, axis=1))
    return F[keep]


def scores(case, F):
    import numpy as np
    import kestrelopt
    from kestrelopt.indicators import igd_plus
    F = nondominated(F)
    hv = float("nan")
    if case.m <= 3:
        inside = F[np.all(F < np.asarray(case.reference), axis=1)]
        hv = kestrelopt.hypervolume(inside.tolist(), case.reference) if len(inside) else 0.0
    return hv, float(igd_plus(F, case.front))


def check_problems(cases):
    import numpy as np
    from pymoo.problems import get_problem
    rng = np.random.default_rng(0)
    for case in cases:
        kw = {"n_var": case.dim}
        if not case.pymoo_name.startswith("zdt"):
            kw["n_obj"] = case.m
        theirs = get_problem(case.pymoo_name, **kw)
        lo, hi = np.array(case.box).T
        assert np.allclose(lo, theirs.xl) and np.allclose(hi, theirs.xu), case.name
        X = lo + (hi - lo) * rng.random((50, case.dim))
        ours = np.array([case.fn(list(x)) for x in X])
        assert np.allclose(ours, theirs.evaluate(X), rtol=1e-12, atol=1e-12), case.name


def table(header, rows):
    out = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    out += ["| " + " | ".join(r) + " |" for r in rows]
    return "\n".join(out)


def tables(cases, results, contenders):
    """Markdown tables of median hypervolume and IGD+ (winner in bold), and the evaluations."""
    hv_rows, igd_rows, eval_rows = [], [], []
    for case in cases:
        label = f"{case.name} (D={case.dim}, {case.budget:,} evals)"
        for kind, rows, better in (("hv", hv_rows, max), ("igd", igd_rows, min)):
            if kind == "hv" and case.m > 3:
                continue
            medians = {}
            for c in contenders:
                runs = results.get((c, case.name), [])
                if runs and not isinstance(runs[0], str):
                    medians[c] = statistics.median(r[0 if kind == "hv" else 1] for r in runs)
            best = better(medians.values()) if medians else None
            row = [label]
            for c in contenders:
                runs = results.get((c, case.name), [])
                if c not in medians:
                    row.append(runs[0] if runs else "")
                    continue
                cell = f"{medians[c]:.4g}" if kind == "igd" else f"{medians[c]:.4f}"
                row.append(f"**{cell}**" if medians[c] == best else cell)
            rows.append(row)
        row = [case.name]
        for c in contenders:
            runs = results.get((c, case.name), [])
            row.append(str(max(r[2] for r in runs)) if runs and not isinstance(runs[0], str) else "-")
        eval_rows.append(row)
    head = ["problem"] + list(contenders)
    return table(head, hv_rows), table(head, igd_rows), table(head, eval_rows)


def plot(cases, fronts, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    import numpy as np
    shown = ["kestrelopt MOPSO", "kestrelopt SMPSO+HV", "kestrelopt SMPSO-X+HV", "pymoo NSGA-II",
             "pymoo NSGA-III"]
    picks = [c for c in cases if c.name in ("zdt4", "zdt6", "dtlz1", "wfg4")]
    fig = plt.figure(figsize=(4.2 * len(picks), 4))
    for k, case in enumerate(picks):
        three = case.m == 3
        ax = fig.add_subplot(1, len(picks), k + 1, projection="3d" if three else None)
        true = np.asarray(case.front)
        if three:
            ax.scatter(*true.T, s=1, c="lightgrey")
        else:
            ax.plot(true[:, 0], true[:, 1], c="lightgrey", lw=3, label="true front")
        for c in shown:
            F = fronts.get((c, case.name))
            if F is None:
                continue
            F = nondominated(F)
            F = F[np.all(F < np.asarray(case.reference) * 2, axis=1)]
            if three:
                ax.scatter(*F.T, s=6, label=c)
            else:
                ax.scatter(F[:, 0], F[:, 1], s=6, label=c)
        ax.set_title(f"{case.name}, seed 0")
        if k == 0:
            ax.legend(fontsize=7)
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


def write_section(text):
    block = f"{BEGIN}\n{text}\n{END}"
    page = open(PAGE).read() if os.path.exists(PAGE) else ""
    if BEGIN in page and END in page:
        page = page[:page.index(BEGIN)] + block + page[page.index(END) + len(END):]
    else:
        page = page.rstrip("\n") + "\n\n" + block + "\n"
    with open(PAGE, "w") as f:
        f.write(page)


def inside(args):
    warnings.filterwarnings("ignore")
    import multi_problems
    cases = [c for c in multi_problems.cases() if not args.problems or c.name in args.problems.split(",")]
    contenders = {k: v for k, v in CONTENDERS.items()
                  if not args.contenders or any(s in k for s in args.contenders.split(","))}
    start = time.perf_counter()
    check_problems(cases)
    results, fronts = {}, {}
    for seed in range(args.seeds):
        for case in cases:
            for name, run in contenders.items():
                runs = results.setdefault((name, case.name), [])
                if runs and isinstance(runs[0], str):
                    continue  # a contender that failed once is reported, not retried
                try:
                    F, evaluations = run(case, seed)
                except Exception as exc:
                    if not str(exc).startswith("exact"):
                        traceback.print_exc()
                    runs.append(NOT + f"{exc}".splitlines()[0][:80])
                    continue
                hv, igd = scores(case, F)
                runs.append((hv, igd, evaluations))
                if seed == 0:
                    fronts[(name, case.name)] = F
                print(f"[{time.perf_counter() - start:7.1f} s] seed {seed} {case.name} {name}: "
                      f"hv {hv:.4f} igd+ {igd:.4g} ({evaluations} evaluations)", flush=True)
    hv_table, igd_table, eval_table = tables(cases, results, contenders)
    print(hv_table, igd_table, eval_table, sep="\n\n")
    if args.no_write:
        return
    plot(cases, fronts, os.path.join(ROOT, "docs", "benchmarks_multi_fronts.png"))
    versions = ", ".join(f"{k} {v}" for k, v in peer_env.versions(["kestrelopt", "pymoo", "pygmo"]).items())
    model, cores, _ = peer_env.machine()
    when = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    write_section(f"""## Multi-objective: kestrelopt's variants against pymoo and pygmo

Made by `python3 bench/peers/compare_multi.py --seeds {args.seeds}` on {when} ({model}, {cores}
logical cores, {(time.perf_counter() - start) / 60:.0f} minutes; {versions}): seeds 0 to
{args.seeds - 1}, medians, the best median of a row in bold. Every contender minimizes the
same Python function of one point (checked against pymoo's definitions) with the budget in
the row's label; populations and swarms hold {N} (NSGA-III and MOEA/D: one per Das-Dennis
reference direction, 100, 91, 210 and 120 for 2, 3, 5 and 8 objectives). kestrelopt runs
`minimize_multi` with `n_particles={N}` and its defaults (MOPSO), with `variant="smpso"`
(SMPSO), with `variant="smpso", archive="hypervolume"` (SMPSO+HV) and with
`variant="smpso", archive="decomposition"` (SMPSO+D, the same as SMPSO+HV with 2 and 3
objectives); with 5 and 8 objectives every kestrelopt run takes `archive_size` 210 and
120, the size of NSGA-III's front, so that the fronts compared by IGD+ have as many
points. SMPSO+D/dir is SMPSO+D with one particle per direction above 3 objectives
(`n_particles` 210 and 120), a setting found on DTLZ2 that the guide does not advise in
general (it lost on DTLZ4). SMPSO-X+HV and SMPSO-X+D are SMPSO+HV and SMPSO+D with
`variant="smpso_crossover"`: half the swarm is each iteration the child of two archive
members. SMS-EMOA is left out
above 3 objectives (its exact hypervolume selection takes too long there), and so is the
hypervolume. Reference points: 1.1 per objective (ZDT, DTLZ2), 0.6 (DTLZ1), (2.2, 4.4, 6.6)
(WFG4); IGD+ against 1,000 to 1,200 points sampled evenly on the true front.

Hypervolume (higher is better):

{hv_table}

IGD+ (lower is better):

{igd_table}

Evaluations made (the most over the seeds; pymoo stops at the first generation that
reaches the budget):

{eval_table}

![Final fronts of seed 0 on ZDT4, ZDT6, DTLZ1 and WFG4](benchmarks_multi_fronts.png)""")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--seeds", type=int, default=11)
    ap.add_argument("--problems", default="", help="comma-separated problem names (default: all)")
    ap.add_argument("--contenders", default="", help="comma-separated parts of contender names")
    ap.add_argument("--no-write", action="store_true", help="print the tables only")
    ap.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.inside:
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        inside(args)
    else:
        peer_env.bootstrap(__file__, [a for a in sys.argv[1:]], VENV, PEERS)


if __name__ == "__main__":
    main()
