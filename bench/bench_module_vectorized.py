"""Vectorized minimize: time per iteration spent outside the objective (engine, swarm
matrix, reading the result) at N = 100, D = 30, beside the objective's own time per call,
with the history off and on (targets: at most 14 and 16 us)."""

import time

import numpy as np

import kestrelopt as pso

N, D, ITERATIONS = 100, 30, 500
REPEATS = 7


def measure(record):
    best_outside, best_inside = float("inf"), float("inf")
    for _ in range(REPEATS):
        spent = [0.0]

        def objective(X):
            start = time.perf_counter()
            values = (X * X).sum(axis=1)
            spent[0] += time.perf_counter() - start
            return values

        start = time.perf_counter()
        pso.minimize(objective, [(-5.0, 5.0)] * D, n_particles=N, max_iter=ITERATIONS, seed=1,
                     record_history=record, vectorized=True)
        total = time.perf_counter() - start
        calls = ITERATIONS + 1
        best_outside = min(best_outside, (total - spent[0]) / calls)
        best_inside = min(best_inside, spent[0] / calls)
    return best_outside, best_inside


def main():
    print(f"vectorized N={N} D={D}, {ITERATIONS} iterations, NumPy {np.__version__}")
    for record in (False, True):
        outside, inside = measure(record)
        print(f"history {'on ' if record else 'off'}: outside the objective {outside * 1e6:6.1f} "
              f"us/iteration ({outside / N * 1e9:6.1f} ns/particle); objective itself "
              f"{inside * 1e6:5.1f} us/call")


if __name__ == "__main__":
    main()
