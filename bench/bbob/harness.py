"""The parts of the BBOB benchmark that need neither COCO nor a peer library.

- `Budget` wraps a COCO problem for one contender on one instance: it counts every
  evaluation, never lets one happen past the budget, and ends the contender's run by
  raising `StopRun` (at the budget, or once the final target is reached).
- `run_with_restarts` starts a contender again, with the next seed and the evaluations
  left, when it returns early: the independent restarts COCO's own example experiment does.
- `read_records` reads the result folders COCO's bbob observer writes (the `.info` index
  files and the target-triggered `.dat` files), `first_hits` turns one run's record into
  its runtime for each of the standard 51 targets, and `ecdf_area` gives the area under
  the runtime ECDF that docs/benchmarks-bbob.md tabulates.

run.py imports this module; tests/python/test_bbob_harness.py loads it by path.
"""

import math
import os
import re

# The function groups of the bbob suite: (name, functions, the file suffix cocopp gives
# its ECDF plot of the group).
GROUPS = [
    ("separable", range(1, 6), "separ"),
    ("moderate", range(6, 10), "lcond"),
    ("ill-conditioned", range(10, 15), "hcond"),
    ("multimodal", range(15, 20), "multi"),
    ("weakly structured", range(20, 25), "mult2"),
    ("all", range(1, 25), "noiselessall"),
]

# The 51 standard targets f - fopt = 10^2, 10^1.8, ..., 10^-8, as cocopp uses them. The
# exponents are exact fifths, so every target is the double nearest to its power of ten.
TARGETS = tuple(10.0 ** (e / 5) for e in range(10, -41, -1))


class StopRun(Exception):
    """Raised through a contender's code to end its run; `Budget.stopped` tells why."""


class Budget:
    """One contender's access to one problem instance, at most `budget` evaluations.

    `problem(x)` is called once per call of the wrapper (or per row of `batch`) until
    `budget` evaluations are done; every later call raises `StopRun` without evaluating,
    so no contender can exceed the budget, whatever it does with the exception. Once
    `solved()` is true after an evaluation, the run is ended the same way: its remaining
    evaluations could not improve the record.

    pygmo deep-copies the problem object it is given; the copies must count against the
    same budget, so a copy is the wrapper itself.
    """

    def __init__(self, problem, budget, solved=None):
        if budget < 1:
            raise ValueError(f"budget must be at least 1, got {budget}")
        self.problem = problem
        self.budget = int(budget)
        self.solved = solved if solved is not None else (lambda: False)
        self.used = 0
        self.stopped = None  # "budget" or "target" once StopRun has been raised

    @property
    def remaining(self):
        return self.budget - self.used

    def __call__(self, x):
        if self.used >= self.budget:
            self.stopped = "budget"
            raise StopRun(f"budget of {self.budget} evaluations spent")
        if self.stopped == "target":
            raise StopRun("final target reached")
        self.used += 1
        value = self.problem(x)
        if self.solved():
            self.stopped = "target"
            raise StopRun("final target reached")
        return value

    def batch(self, rows):
        """The values of `rows` in order; a batch that would overshoot is truncated: the
        rows past the budget are not evaluated and the run ends there."""
        return [self(x) for x in rows]

    def __deepcopy__(self, memo):
        return self

    def __copy__(self):
        return self


def run_with_restarts(budget, start, seeds):
    """Calls `start(remaining_evaluations, seed)` with the next seed of `seeds` until the
    budget is spent or the target reached; returns the number of runs started.

    A run ends by returning or by raising through the `Budget`; any other exception is the
    contender's own failure and propagates. A run that evaluates nothing ends the loop,
    which would otherwise never end.
    """
    runs = 0
    for seed in seeds:
        if budget.remaining <= 0 or budget.stopped is not None:
            break
        before = budget.used
        runs += 1
        try:
            start(budget.remaining, seed)
        except Exception:
            if budget.stopped is None:
                raise
        if budget.used == before or budget.solved():
            break
    return runs


# --------------------------------------------------------------------------- records

_HEADER = re.compile(r"funcId\s*=\s*(\d+),\s*DIM\s*=\s*(\d+)")


def read_info(path):
    """The entries of one `.info` file: (function, dimension, .dat path, [(instance,
    evaluations)]), one per block of the file."""
    entries = []
    function = dim = None
    base = os.path.dirname(path)
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("%"):
                continue
            header = _HEADER.search(line)
            if header:
                function, dim = int(header.group(1)), int(header.group(2))
                continue
            if function is None:
                raise ValueError(f"{path}: a data line comes before any funcId/DIM header: {line!r}")
            parts = [p.strip() for p in line.split(",")]
            runs = []
            for part in parts[1:]:
                instance, _, rest = part.partition(":")
                runs.append((int(instance), int(rest.split("|")[0])))
            entries.append((function, dim, os.path.join(base, parts[0]), runs))
    return entries


def read_dat(path):
    """The blocks of a target-triggered `.dat` file, one per run in the order the runs
    were made: each a list of (evaluations, best f - fopt so far) rows."""
    blocks = []
    with open(path) as f:
        for line in f:
            if line.startswith("%"):
                blocks.append([])
            elif line.strip():
                if not blocks:
                    raise ValueError(f"{path}: data before the first header line")
                cols = line.split()
                blocks[-1].append((int(float(cols[0])), float(cols[2])))
    return blocks


def write_records(folder, algorithm, function, dim, runs):
    """Writes runs as the bbob observer would (one `.info` file, one `.dat` file) for the
    self-check and the tests: `runs` is [(instance, evaluations, rows)], rows as
    `read_dat` gives them."""
    os.makedirs(os.path.join(folder, f"data_f{function}"), exist_ok=True)
    dat = f"data_f{function}/bbobexp_f{function}_DIM{dim}.dat"
    with open(os.path.join(folder, dat), "w") as f:
        for _, _, rows in runs:
            f.write("% f evaluations | g evaluations | best noise-free fitness - Fopt (0) + sum g_i+ | "
                    "measured fitness | best measured fitness or single-digit g-values | x1 | x2...\n")
            for evaluations, gap in rows:
                f.write(f"{evaluations} 0 {gap:+.9e} {gap:+.9e} {gap:+.9e}\n")
    with open(os.path.join(folder, f"bbobexp_f{function}.info"), "w") as f:
        f.write(f"suite = 'bbob', funcId = {function}, DIM = {dim}, Precision = 1.000e-08, "
                f"algId = '{algorithm}'\n% \n")
        f.write(dat + "".join(f", {i}:{e}|{rows[-1][1]:.1e}" for i, e, rows in runs) + "\n")


def read_records(folder):
    """{(function, dimension, instance): (evaluations, [(evaluations, best f - fopt)])}
    for every run recorded under `folder` (searched recursively, as cocopp does)."""
    records = {}
    for d, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            if not name.endswith(".info"):
                continue
            for function, dim, dat, runs in read_info(os.path.join(d, name)):
                blocks = read_dat(dat)
                if len(blocks) != len(runs):
                    raise ValueError(f"{dat}: {len(blocks)} runs recorded, the .info file lists {len(runs)}")
                for (instance, evaluations), rows in zip(runs, blocks):
                    key = (function, dim, instance)
                    if key in records:
                        raise ValueError(f"{folder}: f{function} {dim}-D instance {instance} is recorded twice")
                    records[key] = (evaluations, rows)
    return records


# --------------------------------------------------------------------------- ECDF

def first_hits(rows, targets=TARGETS):
    """The evaluations at which a run's best f - fopt first reached each target (at most
    the target), or math.inf for a target it never reached; `rows` as `read_dat` gives."""
    hits = []
    for target in targets:
        hit = math.inf
        for evaluations, gap in rows:
            if gap <= target:
                hit = evaluations
                break
        hits.append(hit)
    return hits


def ecdf_area(runtimes, dim, max_evals_per_dim):
    """The area under the runtime ECDF of a set of (function, instance, target) problems,
    normalised to [0, 1].

    The ECDF at budget b is the fraction of the problems whose runtime (evaluations to
    reach the target; math.inf if never) is at most b. The area is its mean over
    log10(b / dim) uniform in [0, log10(max_evals_per_dim)], that is over log-spaced
    budgets from 1 x dim to max_evals_per_dim x dim evaluations: a problem solved within
    `dim` evaluations counts 1, one solved at b counts the share of the axis right of
    log10(b / dim), one not solved within the largest budget 0.
    """
    runtimes = list(runtimes)
    if not runtimes:
        raise ValueError("ecdf_area needs at least one runtime, got none")
    if max_evals_per_dim <= 1:
        raise ValueError(f"max_evals_per_dim must exceed 1, got {max_evals_per_dim}")
    width = math.log10(max_evals_per_dim)
    total = 0.0
    for r in runtimes:
        if r <= max_evals_per_dim * dim:
            total += (width - max(0.0, math.log10(r / dim))) / width
    return total / len(runtimes)
