"""What constraint handling adds to a sequential minimize_multi run on ZDT1 (30 variables,
100 particles, 100 iterations) with one cheap constraint, beyond the constraint's own calls.

The constraint always holds (it returns -1.0), so the constrained run follows exactly the
unconstrained one's path and the difference is the handling alone. The constraint's own
time is that of calling it on as many candidates from a C-level loop. Medians of several
runs; the aim is an overhead of at most 10 %."""

import collections
import math
import statistics
import time

import kestrelopt as pso

N, D, ITERATIONS = 100, 30, 100
REPEATS = 9


def zdt1(x):
    f1 = x[0]
    g = 1.0 + 9.0 * sum(x[1:]) / (len(x) - 1)
    return [f1, g * (1.0 - math.sqrt(f1 / g))]


def always_holds(x):
    return -1.0


def timed(**options):
    start = time.perf_counter()
    front = pso.minimize_multi(zdt1, [(0.0, 1.0)] * D, n_particles=N, max_iter=ITERATIONS, seed=3,
                               record_history=False, **options)
    return time.perf_counter() - start, front


def main():
    plain, constrained = [], []
    for _ in range(REPEATS):
        plain.append(timed()[0])
        seconds, front = timed(constraints=[always_holds])
        constrained.append(seconds)
    evaluations = front.evaluations
    candidates = [[0.5] * D for _ in range(evaluations)]
    own = []
    for _ in range(REPEATS):
        start = time.perf_counter()
        collections.deque(map(always_holds, candidates), maxlen=0)
        own.append(time.perf_counter() - start)
    base, with_constraint, calls = (statistics.median(v) for v in (plain, constrained, own))
    added = with_constraint - base - calls
    print(f"minimize_multi sequential, ZDT1 N={N} D={D}, {ITERATIONS} iterations, "
          f"{evaluations} evaluations, median of {REPEATS}")
    print(f"unconstrained run:        {base * 1e3:8.2f} ms")
    print(f"with one constraint:      {with_constraint * 1e3:8.2f} ms")
    print(f"the constraint's calls:   {calls * 1e3:8.2f} ms")
    print(f"handling beyond them:     {added * 1e3:8.2f} ms ({added / base * 100:+.1f} % of the run, "
          f"{added / evaluations * 1e9:.0f} ns/evaluation)")


if __name__ == "__main__":
    main()
