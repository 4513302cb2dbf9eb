"""Two native benchmark runs in two threads versus the same two runs one after the other.

Native runs release the interpreter lock while the engine computes, so on a machine with
two cores the threaded pair should take about half as long (target: at most 0.6 of the
sequential time). Rounds alternate the two ways of running, so both sample the same
moments of the machine; the best time of each is compared. Also runs minimize_grey's
native benchmark and a large hypervolume the same way.
"""

import threading
import time

import numpy as np

import kestrelopt as pso

ROUNDS = 9

rng = np.random.default_rng(0)
_points = rng.random((110, 7))
FRONT = (_points / np.linalg.norm(_points, axis=1)[:, None]).tolist()

JOBS = {
    "minimize rastrigin D=30 N=100 x1000": lambda seed: pso.minimize(
        "rastrigin", (-5.12, 5.12), dim=30, n_particles=100, max_iter=1000, seed=seed,
        record_history=False),
    "minimize_grey grey_sphere D=30 N=100 x1000": lambda seed: pso.minimize_grey(
        "grey_sphere", (-5.12, 5.12), dim=30, n_particles=100, max_iter=1000, seed=seed,
        record_history=False),
    "hypervolume 110 points, 7 objectives": lambda seed: pso.hypervolume(FRONT, [1.1] * 7),
}


def one_after_the_other(job):
    start = time.perf_counter()
    job(1)
    job(2)
    return time.perf_counter() - start


def side_by_side(job):
    threads = [threading.Thread(target=job, args=(seed,)) for seed in (1, 2)]
    start = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return time.perf_counter() - start


def main():
    print(f"{'job':<44} {'sequential':>11} {'threads':>9} {'ratio':>6}  (target <= 0.6)")
    for name, job in JOBS.items():
        sequential, threaded = [], []
        for _ in range(ROUNDS):
            sequential.append(one_after_the_other(job))
            threaded.append(side_by_side(job))
        s, t = min(sequential), min(threaded)
        print(f"{name:<44} {s * 1e3:9.1f}ms {t * 1e3:7.1f}ms {t / s:6.3f}")


if __name__ == "__main__":
    main()
