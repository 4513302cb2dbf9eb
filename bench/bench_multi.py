"""Cost of minimize_multi around a cheap Python objective.

ratio = (time of minimize_multi on ZDT1, 30 variables, 100 particles, 100 iterations) /
(time of a plain Python loop calling the same objective as often, on a prebuilt list).
The target is at most 2.0. Each figure is the minimum over several interleaved
repetitions, measured in this one run.
"""

import math
import time

import kestrelopt as pso

DIM = 30
N_PARTICLES = 100
MAX_ITER = 100
REPEATS = 11
TARGET = 2.0


def zdt1(x):
    f1 = x[0]
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return [f1, g * (1.0 - math.sqrt(f1 / g))]


def time_multi(**options):
    calls = [0]

    def counted(x):
        calls[0] += 1
        return zdt1(x)

    objective = counted if options.pop("count", False) else zdt1
    start = time.perf_counter()
    front = pso.minimize_multi(objective, [(0.0, 1.0)] * DIM, n_particles=N_PARTICLES, max_iter=MAX_ITER,
                               seed=1, **options)
    return time.perf_counter() - start, front, calls[0]


def time_loop(evaluations):
    x = [0.5 + 0.01 * i for i in range(DIM)]
    f = zdt1
    start = time.perf_counter()
    for _ in range(evaluations):
        f(x)
    return time.perf_counter() - start


def main():
    evaluations = N_PARTICLES * (MAX_ITER + 1)
    _, _, counted = time_multi(count=True)
    assert counted == evaluations, counted
    print(f"minimize_multi on ZDT1: D={DIM}, {N_PARTICLES} particles, {MAX_ITER} iterations, "
          f"{evaluations} evaluations, min of {REPEATS} runs")
    cases = (("record_history=True ", {}), ("record_history=False", {"record_history": False}),
             ("grid_divisions=10   ", {"record_history": False, "grid_divisions": 10}))
    samples = {label: ([], []) for label, _ in cases}
    sizes = {}
    # Repetitions outermost, so that every case gets samples spread over the whole run: a
    # shared machine's speed drifts, and the minimum should be taken in its quiet moments.
    for _ in range(REPEATS):
        for label, options in cases:
            t, front, _ = time_multi(**dict(options))
            sizes[label] = len(front.positions)
            samples[label][0].append(t)
            samples[label][1].append(time_loop(evaluations))
    for label, _ in cases:
        run, loop = (min(times) for times in samples[label])
        ratio = run / loop
        print(f"{label}: minimize_multi {run * 1e3:7.2f} ms, plain loop {loop * 1e3:7.2f} ms, "
              f"ratio {ratio:.2f} (target <= {TARGET}), overhead {(run - loop) / evaluations * 1e9:6.0f} "
              f"ns/eval, front size {sizes[label]}")


if __name__ == "__main__":
    main()
