"""Per-evaluation cost of array_input=True against the list path.

Both runs call the same objective, which ignores its argument, so what differs is what the
module does per evaluation: refill a list of floats, or refill (or, when the callable keeps
it, make) a read-only float64 array. Each figure is

    (time of minimize - time of a plain Python loop making the same calls) / evaluations,

at D = 2, 10, 30, the minimum over rounds in which the two paths alternate, so that a shared
machine's drift reaches both alike. A third column gives the array path when the objective
keeps every array, so that each evaluation needs a new one.
"""

import time

import kestrelopt as pso

N_PARTICLES = 30
MAX_ITER = 1000
ROUNDS = 21
DIMS = (2, 10, 30)


def ignore(x):
    return 0.0


class Keep:
    """Holds the last candidate until the next call, so the module cannot refill it."""

    def __init__(self):
        self.last = None

    def __call__(self, x):
        self.last = x
        return 0.0


def time_run(objective, d, array_input):
    start = time.perf_counter()
    r = pso.minimize(objective, [(-5.0, 5.0)] * d, n_particles=N_PARTICLES, max_iter=MAX_ITER,
                     seed=1, record_history=False, array_input=array_input)
    return time.perf_counter() - start, r.evaluations


def time_loop(objective, evaluations):
    x = [0.5]
    start = time.perf_counter()
    for _ in range(evaluations):
        objective(x)
    return time.perf_counter() - start


def main():
    print(f"per-evaluation overhead of minimize over a plain call loop, N={N_PARTICLES}, "
          f"{MAX_ITER} iterations, min of {ROUNDS} interleaved rounds")
    runs = {(d, path): [] for d in DIMS for path in ("list", "array", "array kept")}
    loops = {d: [] for d in DIMS}
    evaluations = {}
    for _ in range(ROUNDS):
        for d in DIMS:
            for path, objective, array_input in (("list", ignore, False),
                                                 ("array", ignore, True),
                                                 ("array kept", Keep(), True)):
                t, evaluations[d] = time_run(objective, d, array_input)
                runs[(d, path)].append(t)
            loops[d].append(time_loop(ignore, evaluations[d]))
    print(f"{'D':>3}  {'list':>10}  {'array':>10}  {'array-list':>10}  {'array kept':>10}")
    for d in DIMS:
        n = evaluations[d]
        loop = min(loops[d])
        ns = {path: (min(runs[(d, path)]) - loop) / n * 1e9
              for path in ("list", "array", "array kept")}
        print(f"{d:3d}  {ns['list']:7.1f} ns  {ns['array']:7.1f} ns  "
              f"{ns['array'] - ns['list']:7.1f} ns  {ns['array kept']:7.1f} ns")


if __name__ == "__main__":
    main()
