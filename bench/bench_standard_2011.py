"""Solution quality of the 2011 standard's rules and topology against the guide's picks.

velocity="spso2011" and "spso2011_uniform_radius" with topology="adaptive_random" (and
global) against the defaults (inertia, global) and FIPS on the von Neumann grid, at an
equal budget: 30-D, 30 particles, 100,000 evaluations, seeds 0 to 9, on the native
rastrigin and rosenbrock and on two problems written in NumPy (evaluated a swarm at a
time) whose axes are not the coordinate axes: a shifted rotated ellipsoid (condition 10^6)
and a shifted rotated rastrigin. Prints the median and the best final value of each:

    python bench/bench_standard_2011.py            # 10 seeds, a few minutes on one core
    python bench/bench_standard_2011.py --seeds 3  # a quicker look

Results are seeded, so the same build prints the same table on any machine.
"""

import argparse
import statistics

import numpy as np

import kestrelopt as pso

DIM = 30
BUDGET = 100_000
SETTINGS = [
    ("inertia", "global", "clamp"),
    ("fips", "von_neumann", "clamp"),
    ("fips", "von_neumann", "wrap"),
    ("inertia", "adaptive_random", "clamp"),
    ("spso2011", "global", "clamp"),
    ("spso2011", "adaptive_random", "clamp"),
    ("spso2011_uniform_radius", "global", "clamp"),
    ("spso2011_uniform_radius", "adaptive_random", "clamp"),
    ("spso2011_uniform_radius", "adaptive_random", "reflect"),
    ("spso2011_uniform_radius", "adaptive_random", "wrap"),
]


def rotated(seed=0):
    """A random rotation and a shift inside [-4, 4], the same on every call."""
    rng = np.random.default_rng(seed)
    q, r = np.linalg.qr(rng.standard_normal((DIM, DIM)))
    return q * np.sign(np.diag(r)), rng.uniform(-4.0, 4.0, DIM)


ROTATION, SHIFT = rotated()
WEIGHTS = 10.0 ** (6.0 * np.arange(DIM) / (DIM - 1))


def ellipsoid(X):
    Z = (X - SHIFT) @ ROTATION.T
    return (Z * Z) @ WEIGHTS


def rotated_rastrigin(X):
    Z = (X - SHIFT) @ ROTATION.T
    return (Z * Z - 10.0 * np.cos(2.0 * np.pi * Z) + 10.0).sum(axis=1)


PROBLEMS = [
    ("rastrigin", "rastrigin", 5.12, False),
    ("rosenbrock", "rosenbrock", 2.048, False),
    ("rot. ellipsoid", ellipsoid, 5.0, True),
    ("rot. rastrigin", rotated_rastrigin, 5.12, True),
]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seeds", type=int, default=10, help="runs per combination")
    args = parser.parse_args()

    print(f"{DIM}-D, {BUDGET:,} evaluations, 30 particles, seeds 0..{args.seeds - 1}: "
          "median (best) final value")
    header = f"{'velocity':<25}{'topology':<17}{'bounds':<9}"
    print(header + "".join(f"{name:>22}" for name, *_ in PROBLEMS))
    for velocity, topology, handling in SETTINGS:
        line = f"{velocity:<25}{topology:<17}{handling:<9}"
        for _, objective, bound, vectorized in PROBLEMS:
            values = [
                pso.minimize(objective, (-bound, bound), dim=DIM, n_particles=30,
                             max_iter=BUDGET, max_evals=BUDGET, velocity=velocity,
                             topology=topology, bounds_handling=handling, seed=seed,
                             vectorized=vectorized, record_history=False).best_value
                for seed in range(args.seeds)
            ]
            median, best = statistics.median(values), min(values)
            line += f"{f'{median:.3g} ({best:.3g})':>22}"
        print(line, flush=True)


if __name__ == "__main__":
    main()
