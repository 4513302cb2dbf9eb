"""Chooses kestrelopt's presets on the bbob suite: runs candidate configurations on the
tuning instances and prints their ECDF areas per dimension and function group.

The presets of `kestrelopt.presets()` were chosen with this script on instances 1-5 and
reported by bench/bbob/run.py on instances 6-15, which the choice never saw. It runs in
run.py's venv (build/bbob-venv, made by a first `python3 bench/bbob/run.py --list`):

    build/bbob-venv/bin/python bench/bbob/tune.py --dims 5,10,20 --instances 1-5 --budget 1000
    build/bbob-venv/bin/python bench/bbob/tune.py --candidates 'spso-ar-*' --budget 10000

Each candidate is a dict of minimize's options; "n_particles" may be "2011", the 2011
standard's 10 + floor(2 sqrt(D)). The records go to build/bbob-tune/exdata/<name>/, the
areas (the measure of docs/benchmarks-bbob.md) to stdout and build/bbob-tune/areas.json.
One worker process: the tuning is cheap next to the report run.
"""

import argparse
import fnmatch
import json
import math
import os
import sys
import time
import warnings

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import contenders  # noqa: E402
import harness  # noqa: E402
import run  # noqa: E402

OUT = os.path.join(run.ROOT, "build", "bbob-tune")

SPSO = dict(velocity="spso2011_uniform_radius")
RESTART = dict(restarts=1000, min_diameter=1e-9)

CANDIDATES = {
    # the rules and topologies at the default swarm, no restarts
    "inertia-global": {},
    "inertia-ar": dict(topology="adaptive_random"),
    "cf-ring": dict(velocity="constriction", topology="ring"),
    "fips-vn": dict(velocity="fips", topology="von_neumann"),
    "spso-ar": dict(SPSO, topology="adaptive_random"),
    "spso-ar-2011": dict(SPSO, topology="adaptive_random", n_particles="2011"),
    "spso-ring": dict(SPSO, topology="ring"),
    # with restarts from a growing swarm when it has shrunk
    "inertia-global-r": dict(RESTART),
    "cf-ring-r": dict(velocity="constriction", topology="ring", **RESTART),
    "fips-vn-r": dict(velocity="fips", topology="von_neumann", **RESTART),
    "spso-ar-r": dict(SPSO, topology="adaptive_random", **RESTART),
    "spso-ar-2011-r": dict(SPSO, topology="adaptive_random", n_particles="2011", **RESTART),
    "spso-ar-2011-r6": dict(SPSO, topology="adaptive_random", n_particles="2011", restarts=1000,
                            min_diameter=1e-6),
    "spso-ar-2011-rp": dict(SPSO, topology="adaptive_random", n_particles="2011", restarts=1000,
                            min_diameter=1e-9, patience=100, tol=1e-10),
    "spso-ar-2011-r-reflect": dict(SPSO, topology="adaptive_random", n_particles="2011",
                                   bounds_handling="reflect", **RESTART),
    "inertia-ar-2011-r": dict(topology="adaptive_random", n_particles="2011", **RESTART),
    "cf-ring-2011-r": dict(velocity="constriction", topology="ring", n_particles="2011", **RESTART),
    "inertia-global-10-r": dict(n_particles=10, **RESTART),
    "spso-ar-2011-rp50": dict(SPSO, topology="adaptive_random", n_particles="2011", restarts=1000,
                              min_diameter=1e-9, patience=50, tol=1e-10),
    "spso-ar-2011-r6p": dict(SPSO, topology="adaptive_random", n_particles="2011", restarts=1000,
                             min_diameter=1e-6, patience=100, tol=1e-10),
    "spso-global-2011-rp": dict(SPSO, topology="global", n_particles="2011", restarts=1000,
                                min_diameter=1e-9, patience=100, tol=1e-10),
    "spso-vn-2011-rp": dict(SPSO, topology="von_neumann", n_particles="2011", restarts=1000,
                            min_diameter=1e-9, patience=100, tol=1e-10),
    "spso-ring-2011-rp": dict(SPSO, topology="ring", n_particles="2011", restarts=1000,
                              min_diameter=1e-9, patience=100, tol=1e-10),
    # prototypes: runs that take turns between a rotation-invariant and an axis-wise swarm
    "cycle-ar-fips": dict(cycle=[dict(SPSO, topology="adaptive_random", n_particles="2011",
                                      min_diameter=1e-9, patience=100, tol=1e-10),
                                 dict(velocity="fips", topology="von_neumann", n_particles=30,
                                      min_diameter=1e-9, patience=100, tol=1e-10)]),
    "cycle-fips-ar": dict(cycle=[dict(velocity="fips", topology="von_neumann", n_particles=30,
                                      min_diameter=1e-9, patience=100, tol=1e-10),
                                 dict(SPSO, topology="adaptive_random", n_particles="2011",
                                      min_diameter=1e-9, patience=100, tol=1e-10)]),
    # the other topologies with the 2011 rule and swarm
    "spso-global-2011": dict(SPSO, topology="global", n_particles="2011"),
    "spso-vn-2011": dict(SPSO, topology="von_neumann", n_particles="2011"),
    "spso-ring-2011": dict(SPSO, topology="ring", n_particles="2011"),
    "cf-vn": dict(velocity="constriction", topology="von_neumann"),
    # the boundary modes
    "inertia-global-reflect": dict(bounds_handling="reflect"),
    "inertia-global-wrap": dict(bounds_handling="wrap"),
    "fips-vn-reflect": dict(velocity="fips", topology="von_neumann", bounds_handling="reflect"),
    "fips-vn-wrap": dict(velocity="fips", topology="von_neumann", bounds_handling="wrap"),
    "spso-ar-2011-reflect": dict(SPSO, topology="adaptive_random", n_particles="2011", bounds_handling="reflect"),
    "spso-ar-2011-wrap": dict(SPSO, topology="adaptive_random", n_particles="2011", bounds_handling="wrap"),
    "spso-ar-2011-reinit": dict(SPSO, topology="adaptive_random", n_particles="2011", bounds_handling="reinit"),
}


def swarm_size(options, dim):
    n = options.get("n_particles", 30)
    return 10 + int(math.floor(2 * math.sqrt(dim))) if n == "2011" else n


def cycle_start(options):
    """A prototype portfolio: plain runs that take turns through options["cycle"] (each
    stopping on its own rules), every whole turn with swarms growth times larger, until
    the budget is spent."""
    def start(f, dim, lower, upper, remaining, seed):
        import kestrelopt
        k = 0
        while remaining > 0:
            opts = dict(options["cycle"][k % len(options["cycle"])])
            n = swarm_size(opts, dim) * options.get("growth", 2) ** (k // len(options["cycle"]))
            opts["n_particles"] = n
            result = kestrelopt.minimize(f, bounds=list(zip(lower, upper)), max_evals=remaining,
                                         max_iter=remaining // n + 2, seed=seed * 1009 + k,
                                         record_history=False, array_input=True, **opts)
            remaining -= result.evaluations
            k += 1
    return start


def start_of(options):
    if "cycle" in options:
        return cycle_start(options)

    def start(f, dim, lower, upper, remaining, seed):
        import kestrelopt
        opts = dict(options)
        n = opts["n_particles"] = swarm_size(options, dim)
        kestrelopt.minimize(f, bounds=list(zip(lower, upper)), max_evals=remaining,
                            max_iter=remaining // n + 2, seed=seed, record_history=False,
                            array_input=True, **opts)
    return start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dims", type=run.int_list, default=[5, 10, 20])
    parser.add_argument("--functions", type=run.int_list, default=list(range(1, 25)))
    parser.add_argument("--instances", type=run.int_list, default=[1, 2, 3, 4, 5])
    parser.add_argument("--budget", type=int, default=1000, help="evaluations per dimension per instance")
    parser.add_argument("--candidates", default="*", help="comma-separated names or patterns")
    args = parser.parse_args()
    warnings.filterwarnings("ignore")
    patterns = [p.strip() for p in args.candidates.split(",")]
    names = [n for n in CANDIDATES if any(fnmatch.fnmatchcase(n, p) for p in patterns)]
    os.makedirs(OUT, exist_ok=True)
    # run.run_task finds its contender in run's registry by name.
    run._REGISTRY = {n: contenders.Contender(n, n, n, start_of(CANDIDATES[n])) for n in names}
    stored = os.path.join(OUT, "areas.json")
    for name in names:
        t0, cpu = time.perf_counter(), 0.0
        for dim in args.dims:
            for function in args.functions:
                cpu += run.run_task(name, function, dim, args.instances, args.budget, OUT)[0]
        records = harness.read_records(os.path.join(OUT, "exdata", name))
        key = f"{name} b{args.budget} i{run.spans(args.instances)}"
        entry = {"options": CANDIDATES[name], "cpu": cpu, "areas": {}}
        line = []
        for dim in args.dims:
            row = {}
            for group, functions, _ in harness.GROUPS:
                # every instance recorded: COCO numbers them by its own list (indices 6-10
                # are its instances 71-75), and each task rewrites its folder
                hits = [h for (f, d, _), (_, rows) in sorted(records.items())
                        if f in functions and f in args.functions and d == dim for h in harness.first_hits(rows)]
                row[group] = harness.ecdf_area(hits, dim, args.budget) if hits else None
            entry["areas"][dim] = row
            line.append(f"{dim}D " + " ".join(f"{a:.3f}" if a is not None else "-" for a in row.values()))
        print(f"{name:26s} " + " | ".join(line) + f"  ({cpu:.0f} s CPU, {time.perf_counter() - t0:.0f} s)",
              flush=True)
        results = json.load(open(stored)) if os.path.exists(stored) else {}  # read late: runs may share it
        results[key] = entry
        with open(stored, "w") as f:
            json.dump(results, f, indent=1)


if __name__ == "__main__":
    main()
