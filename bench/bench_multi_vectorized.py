"""Vectorized minimize_multi on ZDT1 (30 variables, 100 particles, 100 iterations, NumPy
objective): the whole run's time against the objective's own time, the median of several
runs. The figure to watch is the ratio total / objective (the aim: at most 1.5)."""

import os
import statistics
import time

# OpenBLAS's idle worker threads spin beside the run and slow both sides on a small
# machine; this objective never calls BLAS.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402

import kestrelopt as pso  # noqa: E402

N, D, ITERATIONS = 100, 30, 100
REPEATS = 15


def main():
    totals, insides = [], []
    for repeat in range(REPEATS):
        spent = [0.0]

        def zdt1(X):
            start = time.perf_counter()
            f1 = X[:, 0]
            g = 1.0 + 9.0 * X[:, 1:].sum(axis=1) / (D - 1)
            F = np.column_stack((f1, g * (1.0 - np.sqrt(f1 / g))))
            spent[0] += time.perf_counter() - start
            return F

        start = time.perf_counter()
        pso.minimize_multi(zdt1, [(0.0, 1.0)] * D, n_particles=N, max_iter=ITERATIONS, seed=repeat,
                           record_history=False, vectorized=True)
        totals.append(time.perf_counter() - start)
        insides.append(spent[0])
    # The floor: the same run shape with an objective that costs nothing (a fixed answer; the
    # archive then holds one member, so this leaves out most of the archive's work).
    fixed = np.column_stack((np.zeros(N), np.ones(N)))
    floors = []
    for repeat in range(REPEATS):
        start = time.perf_counter()
        pso.minimize_multi(lambda X: fixed, [(0.0, 1.0)] * D, n_particles=N, max_iter=ITERATIONS,
                           seed=repeat, record_history=False, vectorized=True)
        floors.append(time.perf_counter() - start)
    total, inside = statistics.median(totals), statistics.median(insides)
    calls = ITERATIONS + 1
    print(f"minimize_multi vectorized, ZDT1 N={N} D={D}, {ITERATIONS} iterations, NumPy {np.__version__}, "
          f"median of {REPEATS}")
    print(f"whole run:             {total * 1e3:8.2f} ms")
    print(f"objective itself:      {inside * 1e3:8.2f} ms ({inside / calls * 1e6:.1f} us/call)")
    print(f"outside the objective: {(total - inside) / calls * 1e6:8.1f} us/iteration")
    print(f"moves, matrix, reading: {statistics.median(floors) / calls * 1e6:7.1f} us/iteration "
          "(a free objective and a one-member archive)")
    print(f"ratio total/objective: {total / inside:8.2f}")


if __name__ == "__main__":
    main()
