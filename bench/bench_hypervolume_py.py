"""hypervolume from Python against the core routine on the same fronts.

ratio = (seconds per call of kestrelopt.hypervolume(front, reference), conversion of the
arguments included) / (seconds per call of the core's hypervolume in C++, timed by the
program bench_hypervolume_native on the same fronts, read from a file). Fronts of 50 points
in 3 objectives; the target is a ratio of at most 1.1. The two sides take turns, one batch
each per round over several rounds, so both sample the same moments of a machine whose
speed drifts; each figure is the smallest batch mean. Both sides must give the same bits.

With --arrays, it times instead the same points given as a float64 NumPy array against
a list of lists, for n = 10, 100, 1000 points in 2 and 3 objectives, and prints the ratio
(array / lists; the target is at most 1.2: an array is read through its buffer, with no
object per value). No C++ program is needed for that.

Usage: python bench/bench_hypervolume_py.py [PATH_TO_bench_hypervolume_native]
       python bench/bench_hypervolume_py.py --arrays
(default: build-bench/bench/bench_hypervolume_native, or else build/bench/..., built with
 cmake -S . -B build-bench -G Ninja -DKESTRELOPT_BUILD_BENCH=ON && cmake --build build-bench).
"""

import math
import pathlib
import random
import struct
import subprocess
import sys
import tempfile
import time

import kestrelopt as pso

POINTS = 50
OBJECTIVES = 3
SEEDS = range(5)
BATCH_SECONDS = 0.2
ROUNDS = 7
TARGET = 1.1
ROOT = pathlib.Path(__file__).resolve().parent.parent


ARRAY_SIZES = (10, 100, 1000)
ARRAY_OBJECTIVES = (2, 3)
ARRAY_TARGET = 1.2


def sphere_front(seed, points_count=POINTS, objectives=OBJECTIVES):
    """Points on the unit sphere in the positive orthant: mutually non-dominated."""
    rng = random.Random(seed)
    points = []
    for _ in range(points_count):
        p = [0.05 + rng.random() for _ in range(objectives)]
        norm = math.sqrt(sum(v * v for v in p))
        points.append([v / norm for v in p])
    return points, [1.1] * objectives


def seconds_per_call(front, reference):
    """Mean seconds per call over one batch of at least BATCH_SECONDS."""
    hypervolume = pso.hypervolume
    calls = 0
    start = time.perf_counter()
    while True:
        hypervolume(front, reference)
        calls += 1
        elapsed = time.perf_counter() - start
        if elapsed >= BATCH_SECONDS:
            return elapsed / calls


def native_round(program, path):
    """One batch per front from the C++ program: {index: (seconds, result bits)}."""
    output = subprocess.run([str(program), path, "1"], capture_output=True, text=True,
                            check=True).stdout
    native = {}
    for line in output.splitlines():
        index, seconds, result_bits = line.split()
        native[int(index)] = (float(seconds), result_bits)
    return native


def bits(value):
    return struct.pack(">d", value).hex()


def arrays_against_lists():
    import numpy as np

    print(f"hypervolume of a float64 array against the same points as a list of lists, "
          f"smallest batch mean of {ROUNDS} interleaved rounds")
    worst = 0.0
    for objectives in ARRAY_OBJECTIVES:
        for count in ARRAY_SIZES:
            points, reference = sphere_front(count + objectives, count, objectives)
            array = np.array(points)
            lists = array_time = math.inf
            for _ in range(ROUNDS):
                lists = min(lists, seconds_per_call(points, reference))
                array_time = min(array_time, seconds_per_call(array, reference))
            same = bits(pso.hypervolume(array, reference)) == bits(pso.hypervolume(points, reference))
            ratio = array_time / lists
            worst = max(worst, ratio)
            print(f"d={objectives} n={count:5d}: lists {lists * 1e6:10.2f} us, array {array_time * 1e6:10.2f} us, "
                  f"ratio {ratio:.3f}, same bits: {same}")
    print(f"worst ratio {worst:.3f} (target <= {ARRAY_TARGET})")


def main():
    if sys.argv[1:] == ["--arrays"]:
        arrays_against_lists()
        return
    if len(sys.argv) > 1:
        program = pathlib.Path(sys.argv[1])
    else:
        program = next((candidate for candidate in (ROOT / "build-bench/bench/bench_hypervolume_native",
                                                    ROOT / "build/bench/bench_hypervolume_native")
                        if candidate.exists()), ROOT / "build-bench/bench/bench_hypervolume_native")
    if not program.exists():
        sys.exit(f"{program} not found; build the benchmark programs first (see the docstring)")
    fronts = [sphere_front(seed) for seed in SEEDS]
    with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False) as file:
        file.write(f"{len(fronts)}\n")
        for points, reference in fronts:
            file.write(f"{len(points)} {OBJECTIVES}\n")
            file.write(" ".join(v.hex() for v in reference) + "\n")
            for p in points:
                file.write(" ".join(v.hex() for v in p) + "\n")
        path = file.name
    core = [math.inf] * len(fronts)
    python = [math.inf] * len(fronts)
    core_bits = {}
    try:
        for _ in range(ROUNDS):
            for i, (seconds, result_bits) in native_round(program, path).items():
                core[i] = min(core[i], seconds)
                core_bits[i] = result_bits
            for i, (points, reference) in enumerate(fronts):
                python[i] = min(python[i], seconds_per_call(points, reference))
    finally:
        pathlib.Path(path).unlink()

    print(f"hypervolume of {POINTS} points in {OBJECTIVES} objectives, smallest batch mean of {ROUNDS} rounds")
    ratios = []
    for i, (points, reference) in enumerate(fronts):
        same = bits(pso.hypervolume(points, reference)) == core_bits[i]
        ratio = python[i] / core[i]
        ratios.append(ratio)
        print(f"front {i}: Python {python[i] * 1e6:9.2f} us, core {core[i] * 1e6:9.2f} us, ratio {ratio:.3f}, "
              f"same bits: {same}")
    print(f"worst ratio {max(ratios):.3f}, mean ratio {sum(ratios) / len(ratios):.3f} (target <= {TARGET})")


if __name__ == "__main__":
    main()
