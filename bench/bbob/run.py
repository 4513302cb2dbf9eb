"""kestrelopt and its peers on COCO's bbob suite, recorded by COCO and plotted by cocopp.

Like bench/peers/compare.py, the script makes its own environment: a venv in
build/bbob-venv into which it installs COCO (`coco-experiment`, `cocopp`), the peers
(pygmo, pyswarms, nevergrad, SciPy, cma) from PyPI and kestrelopt from a wheel of this
checkout, then runs again inside it. Each contender runs the 24 bbob functions in
dimensions 2, 5, 10 and 20, instances 1-15, with 10^4 x D evaluations per instance;
COCO's bbob observer records every run (build/bbob/exdata/<label>/), cocopp draws the
runtime ECDFs (build/bbob/ppdata/), and the script writes docs/benchmarks-bbob.md with
those plots (copied to docs/bbob/) and a table of the areas under the ECDFs:

    python3 bench/bbob/run.py                       # the full run (see the page for its length)
    python3 bench/bbob/run.py --quick               # CI-sized: 2 and 5-D, 5 functions, 3 instances
    python3 bench/bbob/run.py --contenders kestrelopt-default,cma-ipop --dims 2,5 --functions 1-5
    python3 bench/bbob/run.py --list                # the contenders and why any is skipped
    python3 bench/bbob/run.py --self-check          # checks the harness itself (no venv needed)

Every run starts from empty result folders, unless `--reuse` keeps them: a contender whose
records already cover every task is then read, not run again (to add a contender to the
tables of an earlier run). This is not a test and not part of CI.
"""

import argparse
import fnmatch
import glob
import importlib.util
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time
import traceback
import warnings

# One thread per worker process: the workers are the parallelism.
for _var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_var, "1")

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "peers"))
sys.path.insert(0, HERE)

import harness  # noqa: E402
import peer_env  # noqa: E402

ROOT = peer_env.ROOT
VENV = os.path.join(ROOT, "build", "bbob-venv")
OUT = os.path.join(ROOT, "build", "bbob")
PAGE = "benchmarks-bbob"  # docs/<page>.md, its plots in docs/<page's figures>/
FIGURES = {"benchmarks-bbob": "bbob"}  # the first page's plots keep their old folder


def page_paths(page):
    """The page's markdown file, its plots' folder, and that folder as the page links it."""
    figures = FIGURES.get(page, page + "-plots")
    return os.path.join(ROOT, "docs", page + ".md"), os.path.join(ROOT, "docs", figures), figures
# cocopp imports six without declaring it.
PACKAGES = [("coco-experiment", "cocoex"), "cocopp", "six", "cma", "pygmo", "pyswarms", "nevergrad",
            "scipy", "numpy", "matplotlib"]
MODULES = ["kestrelopt", "cocoex", "cocopp", "cma", "pygmo", "pyswarms", "nevergrad", "scipy", "numpy"]

FULL = dict(dims=[2, 5, 10, 20], functions=list(range(1, 25)), instances=list(range(1, 16)), budget=10**4)
QUICK = dict(dims=[2, 5], functions=[1, 7, 10, 15, 21], instances=[1, 2, 3], budget=10**3)

# The length of the full run on the 2-core machine (--jobs 2), estimated from timed runs:
# the CPU time per evaluation of each contender, COCO's own included, in the --quick run
# (kestrelopt 1.5 us, pygmo 2.3, pyswarms 3, SciPy 21, cma 45-70, each nevergrad optimizer
# 260-330; runs at 200 x D in 10 and 20-D cost about as much) times the 1.33e8
# evaluations a contender makes at most in the full run (24 functions x 15 instances x
# 10^4 x (2 + 5 + 10 + 20)): 78 CPU-hours, less what runs that reach the final target
# early leave unused. Replace it by the measured time once the full run has been made.
FULL_RUN_ESTIMATE = ("about 35 hours on the 2-core machine with `--jobs 2` (an estimate from timed short "
                     "runs, not yet measured; 40 at most), all but about 2 of them for the seven nevergrad "
                     "optimizers, which take about 0.3 ms of their own per evaluation (`--exclude "
                     "'nevergrad-*'` leaves them out)")


def int_list(text):
    """ "1-3,7" -> [1, 2, 3, 7]"""
    out = []
    for part in text.split(","):
        lo, _, hi = part.strip().partition("-")
        try:
            out.extend(range(int(lo), int(hi or lo) + 1))
        except ValueError:
            raise argparse.ArgumentTypeError(f"expected numbers and ranges such as 1-3,7, got {text!r}")
    return out


def spans(numbers):
    """[1, 2, 3, 7] -> "1-3, 7" """
    out, numbers = [], sorted(numbers)
    i = 0
    while i < len(numbers):
        j = i
        while j + 1 < len(numbers) and numbers[j + 1] == numbers[j] + 1:
            j += 1
        out.append(str(numbers[i]) if i == j else f"{numbers[i]}-{numbers[j]}")
        i = j + 1
    return ", ".join(out)


# --------------------------------------------------------------------------- one task

_REGISTRY = None


def contender(name):
    global _REGISTRY
    if _REGISTRY is None:  # once per worker process: the probes import every peer
        import contenders
        _REGISTRY = {c.name: c for c in contenders.registry()}
    return _REGISTRY[name]


def run_task(name, function, dim, instances, multiplier, out):
    """Runs one contender on one function in one dimension, every instance, recorded by
    COCO's observer in out/exdata/<label>/f<function>_d<dim>; returns (CPU seconds,
    evaluations, [(instance, evaluations COCO counted, runs)])."""
    import cocoex
    import contenders
    warnings.filterwarnings("ignore")
    c = contender(name)
    sub = f"{c.label}/f{function:02d}_d{dim:02d}"
    os.chdir(out)  # the observer writes under ./exdata
    shutil.rmtree(os.path.join("exdata", sub), ignore_errors=True)
    suite = cocoex.Suite("bbob", "", f"dimensions: {dim} function_indices: {function} "
                         f"instance_indices: {','.join(map(str, instances))}")
    observer = cocoex.Observer("bbob", f"result_folder: {sub} algorithm_name: {c.label}")
    start_time = time.process_time()  # CPU time: other processes on the machine do not count
    done, total = [], 0
    for problem in suite:
        problem.observe_with(observer)
        budget = harness.Budget(problem, multiplier * dim, solved=lambda p=problem: p.final_target_hit)
        lower, upper = list(problem.lower_bounds), list(problem.upper_bounds)
        instance = problem.id_instance
        seeds = (contenders.seed_for(name, function, dim, instance, r) for r in range(10**9))
        runs = harness.run_with_restarts(
            budget, lambda remaining, seed: c.start(budget, dim, lower, upper, remaining, seed), seeds)
        counted = problem.evaluations
        if counted > budget.budget:
            raise RuntimeError(f"{name}: COCO counted {counted} evaluations on {problem.id}, "
                               f"more than the budget {budget.budget}")
        done.append((instance, counted, runs))
        total += counted
        problem.free()
    observer = None  # closes the observer's files
    suite = None
    return time.process_time() - start_time, total, done


# --------------------------------------------------------------------------- areas

def area_tables(chosen, settings):
    """{name: {dim: {group: area or None}}} from the records under OUT/exdata."""
    out = {}
    for c in chosen:
        name = c.name
        records = harness.read_records(os.path.join(OUT, "exdata", c.label))
        out[name] = {}
        for dim in settings["dims"]:
            row = {}
            for group, functions, _ in harness.GROUPS:
                runtimes = []
                # Every instance recorded: COCO numbers them by its own list (instance
                # indices 6-10 of the suite are its instances 71-75).
                for (f, d, _), (_, rows) in sorted(records.items()):
                    if f in functions and d == dim:
                        runtimes.extend(harness.first_hits(rows))
                row[group] = harness.ecdf_area(runtimes, dim, settings["budget"]) if runtimes else None
            out[name][dim] = row
    return out


# --------------------------------------------------------------------------- cocopp

def postprocess(labels, log):
    """Runs cocopp on the contenders' folders; returns {(dim, suffix): png path} of the
    ECDF plots it drew, or a reason it drew none."""
    pp = os.path.join(OUT, "ppdata")
    shutil.rmtree(pp, ignore_errors=True)
    code = ("import sys, cocopp\n"
            "cocopp.genericsettings.figure_file_formats = ['svg', 'png']\n"
            "cocopp.main(['--no-rld-single-fcts', '-o', 'ppdata'] + sys.argv[1:])\n")
    with open(os.path.join(OUT, "cocopp.log"), "w") as logfile:
        rc = subprocess.call([sys.executable, "-c", code] + [os.path.join("exdata", n) for n in labels],
                             cwd=OUT, stdout=logfile, stderr=subprocess.STDOUT)
    if rc != 0:
        return f"cocopp failed (exit {rc}); see build/bbob/cocopp.log"
    plots = {}
    for path in sorted(glob.glob(os.path.join(pp, "**", "pprldmany_*D_*.png"), recursive=True),
                       key=os.path.getmtime):
        stem = os.path.basename(path)[len("pprldmany_"):-len(".png")]
        dim, _, suffix = stem.partition("D_")
        if dim.isdigit():
            plots[(int(dim), suffix)] = path
    log(f"cocopp drew {len(plots)} ECDF plots")
    return plots


# --------------------------------------------------------------------------- the page

def duration(seconds):
    if seconds < 120:
        return f"{seconds:.0f} s"
    if seconds < 7200:
        return f"{seconds / 60:.1f} minutes"
    return f"{seconds / 3600:.1f} hours"


def fmt_area(a):
    return "-" if a is None else f"{a:.3f}"


def write_page(args, settings, chosen, skipped, areas, plots, stats, elapsed, which, reused=()):
    model, cores, plat = peer_env.machine()
    vers = ", ".join(f"{k} {v}" for k, v in peer_env.versions(MODULES, missing="missing: ").items())
    when = time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())
    cpu = sum(s[0] for s in stats.values())
    evals = sum(s[1] for s in stats.values())
    page, figures, link = page_paths(args.page)
    os.makedirs(figures, exist_ok=True)
    for old in glob.glob(os.path.join(figures, "*.png")):
        os.remove(old)
    groups_present = [g for g in harness.GROUPS if any(f in settings["functions"] for f in g[1])]

    rows = [f"| `{c.name}` | {c.label} | {c.description} |" for c in chosen]
    rows += [f"| `{c.name}` | - | {c.description}. **Skipped**: {c.note} |" for c in skipped]
    contenders_table = "| contender | in the plots | settings |\n|---|---|---|\n" + "\n".join(rows)

    header = "| contender | " + " | ".join(f"{g} (f{spans(f_ & set(settings['functions']))})"
                                           for g, f_ in ((g, set(fs)) for g, fs, _ in groups_present)) + " |"
    sep = "|---|" + "---:|" * len(groups_present)
    area_sections = []
    for dim in settings["dims"]:
        lines = [header, sep]
        for c in chosen:
            row = areas.get(c.name, {}).get(dim, {})
            best = {g: max((areas[o.name][dim][g] for o in chosen if areas.get(o.name, {}).get(dim, {}).get(g)
                            is not None), default=None) for g, _, _ in groups_present}
            cells = []
            for g, _, _ in groups_present:
                a = row.get(g)
                cell = fmt_area(a)
                cells.append(f"**{cell}**" if a is not None and a == best[g] else cell)
            lines.append(f"| `{c.name}` | " + " | ".join(cells) + " |")
        area_sections.append(f"### {dim}-D\n\n" + "\n".join(lines) + "\n")

    figure_sections = []
    if isinstance(plots, str):
        figure_sections.append(f"No plots: {plots}.")
    else:
        for dim in settings["dims"]:
            parts = [f"### {dim}-D"]
            for group, functions, suffix in groups_present:
                src = plots.get((dim, suffix))
                if src is None:
                    continue
                name = f"ecdf_{dim:02d}D_{suffix}.png"
                shutil.copyfile(src, os.path.join(figures, name))
                fs = spans(set(functions) & set(settings["functions"]))
                parts.append(f"![Runtime ECDF, {group} functions (f{fs}), {dim}-D]({link}/{name})")
            figure_sections.append("\n\n".join(parts) + "\n")

    cmd = "python3 bench/bbob/run.py" + ("" if not sys.argv[1:] else " " + " ".join(
        a for a in sys.argv[1:] if a != "--inside"))
    s = settings
    width = math.log10(s["budget"])
    workers = f"{args.jobs} worker process" + ("es" if args.jobs > 1 else "")
    length = (f"The runs took {duration(elapsed)} of wall-clock time and {duration(cpu)} of CPU time in "
              f"the workers, for {evals:,} evaluations.")
    if reused:
        length += (" The records of " + ", ".join(f"`{n}`" for n in sorted(reused)) + " come from an "
                   "earlier run with the same settings (`--reuse`), whose time is not counted here.")
    if which != "full":
        length += f" The full run takes {FULL_RUN_ESTIMATE}."
    text = f"""# The bbob suite of COCO

These results come from one {which} run of `{cmd}` on {when}, with {workers}.
{length}

The [COCO platform](https://coco-platform.org)'s `bbob` suite has 24 noiseless functions
in five groups; each function comes in instances that shift and rotate it and move its
optimal value fopt. A contender's runtime on a (function, instance, target) triple is the
number of evaluations it needs to reach f - fopt <= target. The plots below, drawn by
cocopp, give for each number of evaluations (divided by the dimension D) the fraction of
the triples solved within it; higher and further left is better.

- Suite: `bbob` of `coco-experiment`; functions {spans(s['functions'])}; dimensions
  {', '.join(map(str, s['dims']))}; instances {spans(s['instances'])} (indices into the suite's list of
  instances: 1-5 are COCO's instances 1-5, 6-15 its instances 71-80); one run per instance.
- Budget: {s['budget']:,} x D evaluations per instance, the same for every
  contender, counted by COCO's problem object itself. Each contender calls the problem
  through a wrapper that refuses every evaluation past the budget and ends the run by
  raising an exception through the contender's code; a batch that would overshoot is cut
  at the budget. A run also ends once COCO reports the final target (f - fopt <= 1e-8)
  reached. A contender that returns early (SciPy's tolerance, a spent restart schedule)
  is started again with a new seed and the evaluations left, as COCO's example
  experiment does; a seed is fixed by the contender, function, dimension, instance and
  restart, so the run can be repeated.
- Targets: the standard 51, f - fopt = 10^2, 10^1.8, ..., 10^-8.
- Records: COCO's `bbob` observer, one result folder per contender
  (`build/bbob/exdata/<label>`, the label of the table below); plots by `cocopp` run offline on those folders.
- Machine: {model}, {cores} logical cores, {plat}.
- Versions: {vers}. The peers and COCO come from PyPI into the script's own venv
  (`build/bbob-venv`), kestrelopt from a wheel of this checkout; none is a dependency of
  kestrelopt.
{"- This is not the full run: its figures cover only the functions, dimensions, instances and budget above." if which != "full" else ""}

## Contenders

{contenders_table}

## Area under the runtime ECDF

For one contender, one dimension D and one group of functions, take every (function,
instance, target) triple of the group, with the 51 targets above, and the contender's
runtime r on it (infinite if the target was never reached). The area is the ECDF's mean
over the budgets b whose log10(b / D) is uniform in [0, {width:g}],
that is over log-spaced budgets from 1 x D to {s['budget']:,} x D evaluations:

    area = mean over triples of max(0, 1 - max(0, log10(r / D)) / log10({s['budget']:,}))   (0 if r > {s['budget']:,} x D)

A triple solved within D evaluations counts 1, one solved at the end of the budget 0, and
the area is 1.0 only for a contender that solves every triple at once. It is computed by
`bench/bbob/harness.py` from the observer's target-triggered records (`.dat` files), that
is from the runs as made: cocopp's plots extend the curves past the budget by simulated
restarts, which this area leaves out. The best area of each column is in bold.

{chr(10).join(area_sections)}

## Runtime ECDFs

Drawn by cocopp {peer_env.versions(['cocopp']).get('cocopp')} from the same records. The faint line, "best 2009", is
the reference cocopp ships: for each problem the best result of the 2009 BBOB workshop.
Past a contender's budget, cocopp continues its curve with simulated restarts.

{chr(10).join(figure_sections)}

## Running it

`python3 bench/bbob/run.py` runs everything: the full run takes {FULL_RUN_ESTIMATE}.
`--quick` runs the CI-sized subset (2 and 5-D, functions {spans(QUICK['functions'])}, instances
{spans(QUICK['instances'])}, 10^3 x D evaluations: a few minutes); `--dims`, `--functions`,
`--instances`, `--budget`, `--contenders` and `--exclude` pick a subset, `--jobs` the number of worker
processes (the default: one per core), `--list` shows the contenders and why any is
skipped, and `--self-check` checks the harness (the budget wrapper, the reading of COCO's
records and the area computation; with COCO installed also a few real runs). New
kestrelopt configurations are one entry each in `KESTRELOPT_CONFIGS` of
`bench/bbob/contenders.py`; one the installed kestrelopt does not support is listed as
skipped.
"""
    with open(page, "w") as f:
        f.write(text)
    print(f"wrote {os.path.relpath(page, ROOT)} and {len(glob.glob(os.path.join(figures, '*.png')))} plots "
          f"in {os.path.relpath(figures, ROOT)}")


# --------------------------------------------------------------------------- main

def inside(args):
    warnings.filterwarnings("ignore")
    import contenders
    start = time.perf_counter()

    def log(msg):
        print(f"[{time.perf_counter() - start:8.1f} s] {msg}", flush=True)

    base = QUICK if args.quick else FULL
    settings = dict(base)
    for key in ("dims", "functions", "instances", "budget"):
        if getattr(args, key) is not None:
            settings[key] = getattr(args, key)
    bad = [d for d in settings["dims"] if d not in (2, 3, 5, 10, 20, 40)]
    bad += [f for f in settings["functions"] if not 1 <= f <= 24]
    if bad:
        sys.exit(f"--dims must come from 2, 3, 5, 10, 20, 40 and --functions from 1-24; got {bad}")
    which = "full" if settings == FULL else ("quick (`--quick`)" if settings == QUICK else "partial")

    everyone = contenders.registry()
    for option, keep in (("contenders", True), ("exclude", False)):
        patterns = [w.strip() for w in (getattr(args, option) or "").split(",") if w.strip()]
        if not patterns:
            continue
        unmatched = [p for p in patterns if not any(fnmatch.fnmatchcase(c.name, p) for c in everyone)]
        if unmatched:
            sys.exit(f"--{option}: {unmatched} match no contender; known: {', '.join(c.name for c in everyone)}")
        everyone = [c for c in everyone if any(fnmatch.fnmatchcase(c.name, p) for p in patterns) == keep]
    chosen = [c for c in everyone if c.note is None]
    skipped = [c for c in everyone if c.note is not None]
    for c in skipped:
        log(f"skipping {c.name}: {c.note}")
    if args.list:
        for c in chosen + skipped:
            print(f"{c.name:32s} {c.note or ''}")
        return

    os.makedirs(OUT, exist_ok=True)
    reused = set()
    if args.reuse:
        # A contender whose records already hold every instance of every task is read, not run.
        for c in chosen:
            try:
                records = harness.read_records(os.path.join(OUT, "exdata", c.label))
            except (OSError, ValueError):  # an interrupted task leaves a partial record
                continue
            # COCO numbers instances by its own list, so count them per task.
            count = {}
            for f, d, _ in records:
                count[(f, d)] = count.get((f, d), 0) + 1
            if all(count.get((f, d)) == len(settings["instances"]) for f in settings["functions"]
                   for d in settings["dims"]):
                reused.add(c.name)
                log(f"reusing the records of {c.name}")
    else:
        shutil.rmtree(os.path.join(OUT, "exdata"), ignore_errors=True)
    tasks = [(c.name, f, d, settings["instances"], settings["budget"], OUT)
             for d in sorted(settings["dims"], reverse=True)  # the long tasks first
             for c in chosen if c.name not in reused for f in settings["functions"]]
    log(f"{len(tasks)} tasks: {len(chosen)} contenders x {len(settings['functions'])} functions x "
        f"{len(settings['dims'])} dimensions, instances {spans(settings['instances'])}, "
        f"budget {settings['budget']} x D, {args.jobs} jobs")
    stats, failed = {}, {}

    def finished(n, t, outcome):
        """Logs a task's end; a contender whose task failed leaves the tables with the reason."""
        if isinstance(outcome, BaseException):
            why = f"{type(outcome).__name__}: {outcome}".splitlines()[0][:200]
            failed.setdefault(t[0], f"failed on f{t[1]} {t[2]}-D ({why})")
            log(f"{n}/{len(tasks)} {t[0]} f{t[1]} {t[2]}-D FAILED: {why}")
        else:
            stats[t[:3]] = outcome
            log(f"{n}/{len(tasks)} {t[0]} f{t[1]} {t[2]}-D: {outcome[0]:.1f} s")

    if args.jobs == 1:
        for n, t in enumerate(tasks, 1):
            try:
                outcome = run_task(*t)
            except Exception as exc:  # one contender's failure must not end the run
                traceback.print_exc()
                outcome = exc
            finished(n, t, outcome)
    else:
        from concurrent.futures import ProcessPoolExecutor, as_completed
        with ProcessPoolExecutor(max_workers=args.jobs) as pool:
            futures = {pool.submit(run_task, *t): t for t in tasks}
            for n, fut in enumerate(as_completed(futures), 1):
                exc = fut.exception()
                finished(n, futures[fut], exc if exc is not None else fut.result())
    elapsed = time.perf_counter() - start
    log("runs done")
    for c in chosen:
        if c.name in failed:
            c.note = failed[c.name]
    skipped += [c for c in chosen if c.note is not None]
    chosen = [c for c in chosen if c.note is None]
    for c in chosen:
        for d in settings["dims"]:
            cpu = sum(v[0] for k, v in stats.items() if k[0] == c.name and k[2] == d)
            ev = sum(v[1] for k, v in stats.items() if k[0] == c.name and k[2] == d)
            log(f"  {c.name:32s} {d:2d}-D {cpu:8.1f} s {ev:11,d} evaluations "
                f"({cpu / max(ev, 1) * 1e6:.1f} us each)")

    names = [c.name for c in chosen]
    areas = area_tables(chosen, settings)
    for name in names:
        for d in settings["dims"]:
            log(f"  area {name:32s} {d:2d}-D " + " ".join(f"{g}={fmt_area(a)}" for g, a in areas[name][d].items()))
    plots = postprocess([c.label for c in chosen], log) if not args.no_cocopp else "cocopp not run (`--no-cocopp`)"
    if not args.no_page:
        write_page(args, settings, chosen, skipped, areas, plots, stats, elapsed, which, reused)
    log("done")


# --------------------------------------------------------------------------- self-check

def self_check():
    """Checks the budget wrapper, the reading of COCO's records and the area, and with
    COCO and kestrelopt importable a few real runs at a tiny budget; returns the exit code."""
    results = []

    def check(what, ok, detail=""):
        results.append(bool(ok))
        print(("ok    " if ok else "FAIL  ") + what + ("" if ok or not detail else f": {detail}"), flush=True)

    calls = []
    b = harness.Budget(lambda x: calls.append(x) or 1.0, 7)
    raised = 0
    for _ in range(10):
        try:
            b([0.0])
        except harness.StopRun:
            raised += 1
    check("a contender calling past the budget gets exactly the budget's evaluations",
          len(calls) == 7 and b.used == 7 and raised == 3 and b.stopped == "budget", (len(calls), raised))

    calls.clear()
    b = harness.Budget(lambda x: calls.append(x) or float(x), 5)
    try:
        b.batch([1, 2, 3])
        b.batch([4, 5, 6, 7])
        check("a batch past the budget is truncated", False, "no StopRun")
    except harness.StopRun:
        check("a batch past the budget is truncated", calls == [1, 2, 3, 4, 5], calls)

    with tempfile.TemporaryDirectory() as tmp:
        dim, per_dim = 5, 1000
        solved = [(i, 1, [(1, 0.0)]) for i in (1, 2, 3)]
        unsolved = [(i, per_dim * dim, [(1, 5e3), (per_dim * dim, 2e2)]) for i in (1, 2, 3)]
        for name, runs in (("all", solved), ("none", unsolved)):
            for f in (1, 8):
                harness.write_records(os.path.join(tmp, name, f"f{f}"), name, f, dim, runs)
        areas = {}
        for name in ("all", "none"):
            rec = harness.read_records(os.path.join(tmp, name))
            areas[name] = harness.ecdf_area([h for _, rows in rec.values() for h in harness.first_hits(rows)],
                                            dim, per_dim)
            check(f"records of '{name}' read back: 2 functions x 3 instances", len(rec) == 6, sorted(rec))
        check("area 1.0 for a contender solving every target at its first evaluation", areas["all"] == 1.0,
              areas["all"])
        check("area 0.0 for a contender solving no target", areas["none"] == 0.0, areas["none"])

    absent = [m for m in ("cocoex", "kestrelopt") if importlib.util.find_spec(m) is None]
    if absent:
        print(f"skip  the runs on COCO's problems: {' and '.join(absent)} not installed here "
              f"(run with build/bbob-venv/bin/python)")
    else:
        with tempfile.TemporaryDirectory() as tmp:
            budget_per_dim, dim = 50, 2
            cwd = os.getcwd()
            try:
                secs, total, done = run_task("kestrelopt-default", 15, dim, [1, 2], budget_per_dim, tmp)
                secs, total1, done1 = run_task("kestrelopt-default", 1, dim, [1], 10**4, tmp)
            finally:
                os.chdir(cwd)
            check("f15 2-D: COCO counts exactly the budget on every instance (kestrelopt overshoots it "
                  "by finishing its iteration when left alone)",
                  [e for _, e, _ in done] == [budget_per_dim * dim] * 2, done)
            rec = harness.read_records(os.path.join(tmp, "exdata", contender("kestrelopt-default").label))
            check("the observer's records agree with COCO's counts",
                  {(f, d, i): e for (f, d, i), (e, _) in rec.items()}
                  == {(15, 2, 1): 100, (15, 2, 2): 100, (1, 2, 1): done1[0][1]}, rec.keys())
            hits = harness.first_hits(rec[(1, 2, 1)][1])
            check("f1 2-D at 10^4 x D: the run stops at the final target, well inside the budget",
                  hits[-1] == done1[0][1] < 10**4 * dim, (hits[-1], done1))
    failed = results.count(False)
    print(f"self-check: {len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="2 and 5-D, 5 functions, 3 instances, 10^3 x D")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="worker processes (default: cores)")
    parser.add_argument("--dims", type=int_list, help="dimensions, such as 2,5")
    parser.add_argument("--functions", type=int_list, help="function numbers, such as 1-5,8")
    parser.add_argument("--instances", type=int_list, help="instance numbers, such as 1-3")
    parser.add_argument("--budget", type=int, help="evaluations per dimension per instance (default 10000)")
    parser.add_argument("--contenders", help="comma-separated names or patterns such as 'kestrelopt-*' (see --list)")
    parser.add_argument("--exclude", help="comma-separated names or patterns of contenders to leave out")
    parser.add_argument("--list", action="store_true", help="list the contenders and exit")
    parser.add_argument("--no-cocopp", action="store_true", help="skip cocopp's plots")
    parser.add_argument("--no-page", action="store_true", help="do not write the page")
    parser.add_argument("--page", default=PAGE, help=f"the page to write: docs/<page>.md (default {PAGE})")
    parser.add_argument("--reuse", action="store_true",
                        help="keep the records of earlier runs and read, not run, each contender "
                             "whose records cover every task")
    parser.add_argument("--self-check", action="store_true",
                        help="check the harness in this interpreter (no venv) and exit")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.jobs < 1:
        parser.error(f"--jobs must be at least 1, got {args.jobs}")
    if args.budget is not None and args.budget < 2:
        parser.error(f"--budget must be at least 2, got {args.budget}")
    if args.self_check:
        sys.exit(self_check())
    if not args.inside:
        peer_env.bootstrap(__file__, sys.argv[1:], VENV, PACKAGES)
    try:
        inside(args)
    except Exception:
        traceback.print_exc()
        sys.exit(1)


if __name__ == "__main__":
    main()
