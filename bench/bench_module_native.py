"""A native benchmark run through the module versus the same run of the engine from C++.

Both run rastrigin with the module's defaults (inertia, global, clamp), no history. The
C++ side is bench/bench_engine_native.cpp, built here with CMake (pass its path as the
first argument to skip the build). Prints the best times of interleaved repetitions and
their ratio (target: at most 1.05), and checks that both found the same best value.
"""

import os
import pathlib
import subprocess
import sys
import time

import kestrelopt as pso

N, D, ITERATIONS, SEED = 40, 30, 1500, 1
ROUNDS = 5
REPEATS_PER_ROUND = 3

ROOT = pathlib.Path(__file__).resolve().parent.parent


def engine_program():
    if len(sys.argv) > 1:
        return sys.argv[1]
    build = ROOT / "build" / "bench-module"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DKESTRELOPT_BUILD_BENCH=ON"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build), "--target", "bench_engine_native"], check=True,
                   stdout=subprocess.DEVNULL)
    return str(build / "bench" / "bench_engine_native")


def module_run():
    best, value = float("inf"), None
    for _ in range(REPEATS_PER_ROUND):
        start = time.perf_counter()
        r = pso.minimize("rastrigin", [(-5.12, 5.12)] * D, n_particles=N, max_iter=ITERATIONS,
                         seed=SEED, record_history=False)
        best = min(best, time.perf_counter() - start)
        value = r.best_value
    return best, value


def engine_run(program):
    out = subprocess.run([program, str(N), str(D), str(ITERATIONS), str(SEED), str(REPEATS_PER_ROUND)],
                         check=True, capture_output=True, text=True).stdout.split()
    return float(out[0]), float(out[1])


def main():
    program = engine_program()
    module_times, engine_times = [], []
    module_value = engine_value = None
    for _ in range(ROUNDS):
        t, module_value = module_run()
        module_times.append(t)
        t, engine_value = engine_run(program)
        engine_times.append(t)
    m, e = min(module_times), min(engine_times)
    evaluations = N * (ITERATIONS + 1)
    print(f"rastrigin N={N} D={D} iterations={ITERATIONS} ({evaluations} evaluations)")
    print(f"module: {m * 1e3:8.2f} ms ({m / evaluations * 1e9:6.1f} ns/evaluation)")
    print(f"engine: {e * 1e3:8.2f} ms ({e / evaluations * 1e9:6.1f} ns/evaluation)")
    print(f"ratio module/engine: {m / e:.3f} (target <= 1.05)")
    print(f"same best value: {module_value == engine_value} ({module_value!r})")


if __name__ == "__main__":
    os.environ.setdefault("PYTHONHASHSEED", "0")
    main()
