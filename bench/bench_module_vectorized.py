"""Vectorized minimize: time per iteration spent outside the objective (engine, swarm
matrix, reading the result) at N = 100, D = 30, beside the objective's own time per call."""

import time

import numpy as np

import kestrelopt as pso

N, D, ITERATIONS = 100, 30, 500
REPEATS = 7


def main():
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
                     record_history=False, vectorized=True)
        total = time.perf_counter() - start
        calls = ITERATIONS + 1
        best_outside = min(best_outside, (total - spent[0]) / calls)
        best_inside = min(best_inside, spent[0] / calls)
    print(f"vectorized N={N} D={D}, {ITERATIONS} iterations, NumPy {np.__version__}")
    print(f"outside the objective: {best_outside * 1e6:8.1f} us/iteration "
          f"({best_outside / N * 1e9:6.1f} ns/particle)")
    print(f"objective itself:      {best_inside * 1e6:8.1f} us/call")


if __name__ == "__main__":
    main()
