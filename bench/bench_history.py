"""What recording the history costs: each run with record_history=True against the same run
with record_history=False, in alternating rounds, best of each (target: at most 1.15).

Native rastrigin, rosenbrock and sphere (D=30, N=100, 1,000 iterations), and the vectorized
NumPy sphere (N=100, D=30, 1,000 iterations), as users run them by default.
"""

import time

import numpy as np

import kestrelopt as pso

ROUNDS = 7
D, N, ITERATIONS = 30, 100, 1000


def numpy_sphere(X):
    return np.einsum("ij,ij->i", X, X)


RUNS = {
    "rastrigin": lambda record: pso.minimize("rastrigin", (-5.12, 5.12), dim=D, n_particles=N,
                                             max_iter=ITERATIONS, seed=1, record_history=record),
    "rosenbrock": lambda record: pso.minimize("rosenbrock", (-2.048, 2.048), dim=D, n_particles=N,
                                              max_iter=ITERATIONS, seed=1, record_history=record),
    "sphere": lambda record: pso.minimize("sphere", (-5.12, 5.12), dim=D, n_particles=N,
                                          max_iter=ITERATIONS, seed=1, record_history=record),
    "vectorized sphere": lambda record: pso.minimize(numpy_sphere, (-5.12, 5.12), dim=D,
                                                     n_particles=N, max_iter=ITERATIONS, seed=1,
                                                     vectorized=True, record_history=record),
}


def timed(run, record):
    start = time.perf_counter()
    result = run(record)
    elapsed = time.perf_counter() - start
    del result  # freeing the record is part of what a run costs a user
    return elapsed


def main():
    print(f"{'run':<20} {'history off':>12} {'history on':>12} {'ratio':>7}  (target <= 1.15)")
    for name, run in RUNS.items():
        off, on = [], []
        for _ in range(ROUNDS):
            off.append(timed(run, False))
            on.append(timed(run, True))
        print(f"{name:<20} {min(off) * 1e3:10.2f}ms {min(on) * 1e3:10.2f}ms {min(on) / min(off):7.3f}")


if __name__ == "__main__":
    main()
