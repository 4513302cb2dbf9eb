"""Overhead of minimize per evaluation of a Python callable.

overhead = (time of minimize - time of a plain Python loop calling the same objective the
same number of times on a prebuilt list) / evaluations, for f(x) = sum(v * v for v in x)
at D = 2, 10, 30. The target is at most 150 ns + 15 ns per dimension. Each figure is the
minimum over several interleaved repetitions, measured in this one run.
"""

import time

import kestrelopt as pso

N_PARTICLES = 30
MAX_ITER = 300
REPEATS = 15


def objective(x):
    return sum(v * v for v in x)


def time_minimize(d):
    start = time.perf_counter()
    r = pso.minimize(objective, [(-5.0, 5.0)] * d, n_particles=N_PARTICLES, max_iter=MAX_ITER,
                     seed=1, record_history=False)
    return time.perf_counter() - start, r.evaluations


def time_native(d):
    """The same run on the native sphere: the engine's own share of the overhead."""
    start = time.perf_counter()
    r = pso.minimize("sphere", [(-5.0, 5.0)] * d, n_particles=N_PARTICLES, max_iter=MAX_ITER,
                     seed=1, record_history=False)
    return time.perf_counter() - start, r.evaluations


def time_loop(d, evaluations):
    x = [0.5 + 0.01 * i for i in range(d)]
    f = objective
    start = time.perf_counter()
    for _ in range(evaluations):
        f(x)
    return time.perf_counter() - start


def main():
    print(f"minimize overhead per evaluation, N={N_PARTICLES}, {MAX_ITER} iterations, "
          f"min of {REPEATS} runs")
    dims = (2, 10, 30)
    samples = {d: ([], [], []) for d in dims}
    evaluations = {}
    # Repetitions outermost, so that every dimension gets samples spread over the whole
    # run: a shared machine's speed drifts, and the minimum should be taken in its quiet
    # moments for all three alike.
    for _ in range(REPEATS):
        for d in dims:
            run_times, loop_times, native_times = samples[d]
            t, evaluations[d] = time_minimize(d)
            run_times.append(t)
            loop_times.append(time_loop(d, evaluations[d]))
            native_times.append(time_native(d)[0])
    for d in dims:
        run, loop, native = (min(times) for times in samples[d])
        n = evaluations[d]
        overhead_ns = (run - loop) / n * 1e9
        target_ns = 150 + 15 * d
        print(f"D={d:2d}: minimize {run / n * 1e9:7.1f} ns/eval, plain loop "
              f"{loop / n * 1e9:7.1f} ns/eval, overhead {overhead_ns:6.1f} ns "
              f"(target <= {target_ns} ns, ratio {overhead_ns / target_ns:.2f}); of which the "
              f"engine on its own (native sphere) {native / n * 1e9:6.1f} ns")


if __name__ == "__main__":
    main()
