"""Solution quality of velocity rule x topology x bounds_handling at an equal budget.

Each combination minimizes the 30-D native rastrigin, rosenbrock and ackley benchmarks
over their recommended boxes with 100,000 evaluations (30 particles, the other options
at their defaults), once per seed, and prints the median and the best final value per
function, sorted by the median on rastrigin. The user guide's advice table
(docs/guide/velocity-and-topology.md) comes from this program's output:

    python bench/bench_settings.py            # 10 seeds, about a minute on one core
    python bench/bench_settings.py --seeds 3  # a quicker look

Results are seeded, so the same build prints the same table on any machine.
"""

import argparse
import itertools
import statistics

import kestrelopt as pso
from kestrelopt.parallel import multistart

FUNCTIONS = ["rastrigin", "rosenbrock", "ackley"]
VELOCITIES = ["inertia", "constriction", "fips"]
TOPOLOGIES = ["global", "ring", "von_neumann", "random"]
BOUNDS_HANDLING = ["clamp", "reflect", "wrap"]
BUDGET = 100_000


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", type=int, default=10, help="runs per combination")
    args = parser.parse_args()

    rows = []
    for velocity, topology, handling in itertools.product(VELOCITIES, TOPOLOGIES, BOUNDS_HANDLING):
        cells = []
        for name in FUNCTIONS:
            bound = pso.benchmark_info(name)[0]
            _, runs = multistart(name, (-bound, bound), seeds=args.seeds, dim=30,
                                 max_iter=BUDGET, max_evals=BUDGET, velocity=velocity,
                                 topology=topology, bounds_handling=handling,
                                 record_history=False)
            values = [r.best_value for r in runs]
            cells.append((statistics.median(values), min(values)))
        rows.append(((velocity, topology, handling), cells))

    rows.sort(key=lambda row: row[1][0][0])
    print(f"30-D, {BUDGET:,} evaluations, 30 particles, seeds 0..{args.seeds - 1}: "
          "median (best) final value")
    header = f"{'velocity':<13}{'topology':<13}{'bounds':<9}"
    print(header + "".join(f"{name:>24}" for name in FUNCTIONS))
    for (velocity, topology, handling), cells in rows:
        line = f"{velocity:<13}{topology:<13}{handling:<9}"
        print(line + "".join(f"{f'{median:.3g} ({best:.3g})':>24}" for median, best in cells))


if __name__ == "__main__":
    main()
