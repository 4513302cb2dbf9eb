"""Hypervolume for n = 100, 1,000 and 10,000 points in 2 and 3 objectives.

Two ratios per case, on the same random fronts (points on the unit sphere in the positive
orthant, reference 1.1 in every objective):

- plain / library: seconds per call of the plain recursion (wfg of the front, without the
  faster paths) over those of the core's hypervolume, both timed in C++ by the program
  bench_hypervolume_scaling, which also checks that both give the same bits;
- kestrelopt / moocore: seconds per call of kestrelopt.hypervolume from Python (conversion
  of the points included) over those of moocore.hypervolume on the same NumPy array.

moocore is a timing comparison only, never a dependency: the script creates a venv under
build/bench-hypervolume-venv (with the system's site packages, for NumPy), installs moocore
there from PyPI and runs itself again inside it.

Usage: PYTHONPATH=<dir of kestrelopt_native>:python python bench/bench_hypervolume_scaling.py
       [PATH_TO_bench_hypervolume_scaling]
(default: build-bench/bench/bench_hypervolume_scaling, or build/bench/...; build it with
 cmake -S . -B build-bench -G Ninja -DKESTRELOPT_BUILD_BENCH=ON && cmake --build build-bench).
"""

import os
import pathlib
import struct
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
VENV = ROOT / "build" / "bench-hypervolume-venv"
CASES = [(m, n) for m in (2, 3) for n in (100, 1_000, 10_000)]
MIN_SECONDS = 0.3


def in_own_venv():
    return pathlib.Path(sys.prefix).resolve() == VENV.resolve()


def enter_venv():
    python = VENV / "bin" / "python"
    if not python.exists():
        subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(VENV)],
                       check=True)
    subprocess.run([str(python), "-m", "pip", "install", "--quiet", "moocore"], check=True)
    os.execv(str(python), [str(python), __file__, *sys.argv[1:]])


def sphere_front(rng, n, m):
    points = 0.05 + rng.random((n, m))
    return points / (points * points).sum(axis=1, keepdims=True) ** 0.5


def seconds_per_call(call):
    calls = 0
    start = time.perf_counter()
    while True:
        call()
        calls += 1
        elapsed = time.perf_counter() - start
        if elapsed >= MIN_SECONDS:
            return elapsed / calls


def core_timings(program, fronts):
    """{index: (library seconds, plain seconds, same bits)} from the C++ program."""
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as file:
        file.write(f"{len(fronts)}\n")
        for points, reference in fronts:
            file.write(f"{points.shape[0]} {points.shape[1]}\n")
            file.write(" ".join(float(v).hex() for v in reference) + "\n")
            for p in points:
                file.write(" ".join(float(v).hex() for v in p) + "\n")
        path = file.name
    try:
        output = subprocess.run([str(program), path], capture_output=True, text=True,
                                check=True).stdout
    finally:
        pathlib.Path(path).unlink()
    timings = {}
    for line in output.splitlines():
        index, library, plain, same = line.split()
        timings[int(index)] = (float(library), float(plain), same == "1")
    return timings


def main():
    if not in_own_venv():
        enter_venv()
    import moocore
    import numpy as np

    import kestrelopt

    if len(sys.argv) > 1:
        program = pathlib.Path(sys.argv[1])
    else:
        candidates = [ROOT / d / "bench" / "bench_hypervolume_scaling" for d in ("build-bench", "build")]
        program = next((c for c in candidates if c.exists()), candidates[0])
    if not program.exists():
        sys.exit(f"{program} not found; build the benchmark programs first (see the docstring)")

    rng = np.random.default_rng(2026)
    fronts = [(sphere_front(rng, n, m), [1.1] * m) for m, n in CASES]
    core = core_timings(program, fronts)
    print(f"hypervolume of random sphere fronts, reference 1.1; moocore {moocore.__version__}")
    print(f"{'m':>2} {'n':>6} {'library ms':>11} {'plain ms':>11} {'plain/lib':>10} {'same bits':>9}"
          f" {'python ms':>10} {'moocore ms':>11} {'python/moocore':>15} {'rel. diff':>9}")
    for i, ((m, n), (points, reference)) in enumerate(zip(CASES, fronts)):
        library, plain, same = core[i]
        rows = points.tolist()
        ours = seconds_per_call(lambda: kestrelopt.hypervolume(rows, reference))
        theirs = seconds_per_call(lambda: moocore.hypervolume(points, ref=reference))
        a = kestrelopt.hypervolume(rows, reference)
        b = float(moocore.hypervolume(points, ref=reference))
        print(f"{m:>2} {n:>6} {library * 1e3:>11.3f} {plain * 1e3:>11.3f} {plain / library:>9.1f}x"
              f" {str(same):>9} {ours * 1e3:>10.3f} {theirs * 1e3:>11.3f} {ours / theirs:>14.2f}x"
              f" {abs(a - b) / b:>9.1e}")


if __name__ == "__main__":
    main()
