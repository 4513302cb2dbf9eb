"""What driving the loop yourself costs: an ask/tell loop over a Swarm against
minimize(vectorized=True) on the same problem (NumPy sphere, N=100, D=30, 1,000 rounds), in
alternating rounds, best of each (target: at most 1.3); and the time to pickle a Swarm of
that size, fresh, part-way and at the end, with and without history (target: under 1 ms).
"""

import pickle
import time

import numpy as np

import kestrelopt as pso

ROUNDS = 7
D, N, ITERATIONS = 30, 100, 1000
BOUNDS = (-5.12, 5.12)


def numpy_sphere(X):
    return np.einsum("ij,ij->i", X, X)


def sealed(record):
    return pso.minimize(numpy_sphere, BOUNDS, dim=D, n_particles=N, max_iter=ITERATIONS, seed=1,
                        vectorized=True, record_history=record)


def ask_tell(record):
    swarm = pso.Swarm(BOUNDS, dim=D, n_particles=N, max_iter=ITERATIONS, seed=1,
                      record_history=record)
    while swarm.stop_reason is None:
        swarm.tell(numpy_sphere(swarm.ask()))
    return swarm.result()


def timed(run, record):
    start = time.perf_counter()
    run(record)
    return time.perf_counter() - start


def pickle_time(swarm):
    best = float("inf")
    for _ in range(ROUNDS):
        start = time.perf_counter()
        blob = pickle.dumps(swarm, protocol=pickle.HIGHEST_PROTOCOL)
        best = min(best, time.perf_counter() - start)
    return best, len(blob)


def main():
    print(f"{'history':<8} {'minimize':>12} {'ask/tell':>12} {'ratio':>7}  (target <= 1.3)")
    for record in (False, True):
        a, b = [], []
        for _ in range(ROUNDS):
            a.append(timed(sealed, record))
            b.append(timed(ask_tell, record))
        print(f"{'on' if record else 'off':<8} {min(a) * 1e3:10.2f}ms {min(b) * 1e3:10.2f}ms "
              f"{min(b) / min(a):7.3f}")
    print()
    print(f"{'pickle a Swarm (N=100, D=30)':<40} {'time':>10} {'size':>12}  (target < 1 ms)")
    for record in (False, True):
        swarm = pso.Swarm(BOUNDS, dim=D, n_particles=N, max_iter=ITERATIONS, seed=1,
                          record_history=record)
        for rounds, label in ((1, "after the first round"), (11, "after 10 iterations"),
                              (ITERATIONS, "after 1,000 iterations")):
            while swarm.evaluations < rounds * N:
                swarm.tell(numpy_sphere(swarm.ask()))
            seconds, size = pickle_time(swarm)
            name = f"{label}, history {'on' if record else 'off'}"
            print(f"{name:<40} {seconds * 1e3:8.3f}ms {size:>10,} B")


if __name__ == "__main__":
    main()
